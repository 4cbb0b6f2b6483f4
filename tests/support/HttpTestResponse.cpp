#include "HttpTestResponse.h"

namespace linvera::test {

HttpTestResponse& HttpTestResponse::addHeader(const QByteArray& name, const QByteArray& value)
{
    headerLines.append(name + ": " + value);
    return *this;
}

bool HttpTestResponse::hasHeader(const QByteArray& name) const
{
    for (const QByteArray& line : headerLines) {
        const qsizetype colon = line.indexOf(':');
        if (colon >= 0 && line.left(colon).trimmed().compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

QByteArray HttpTestResponse::toBytes() const
{
    if (rawAnswer)
        return *rawAnswer;
    QByteArray bytes = version + ' ' + QByteArray::number(status) + ' ' + reason + "\r\n";
    for (const QByteArray& line : headerLines)
        bytes += line + "\r\n";
    if (autoContentLength && !hasHeader("Content-Length"))
        bytes += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    if (autoConnectionClose && !hasHeader("Connection"))
        bytes += "Connection: close\r\n";
    bytes += "\r\n";
    bytes += body;
    return bytes;
}

qsizetype HttpTestResponse::headSize() const
{
    if (rawAnswer) {
        const qsizetype end = rawAnswer->indexOf("\r\n\r\n");
        return end < 0 ? rawAnswer->size() : end + 4;
    }
    return toBytes().size() - body.size();
}

HttpTestResponse HttpTestResponse::ok(const QByteArray& body, const QByteArray& contentType)
{
    HttpTestResponse response;
    response.addHeader("Content-Type", contentType);
    response.body = body;
    return response;
}

HttpTestResponse HttpTestResponse::notFound()
{
    return withStatus(404, "Not Found", "<html><body>404 Not Found</body></html>");
}

HttpTestResponse HttpTestResponse::withStatus(int status, const QByteArray& reason, const QByteArray& body)
{
    HttpTestResponse response;
    response.status = status;
    response.reason = reason;
    if (!body.isEmpty())
        response.addHeader("Content-Type", body.startsWith('<') ? "text/html" : "text/plain");
    response.body = body;
    return response;
}

HttpTestResponse HttpTestResponse::raw(const QByteArray& bytes)
{
    HttpTestResponse response;
    response.rawAnswer = bytes;
    return response;
}

} // namespace linvera::test
