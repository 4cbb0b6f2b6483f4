#include "ShortenerService.h"

#include "JsonText.h"

#include <QCryptographicHash>

namespace linvera::test {

namespace {

HttpTestResponse jsonResponse(const QByteArray& body)
{
    return HttpTestResponse::ok(body, "application/json");
}

} // namespace

ShortenerService::ShortenerService(QObject* parent)
    : HttpTestServer(parent)
{}

void ShortenerService::setShortUrl(const QString& shortUrl)
{
    m_shortUrlFunction = [shortUrl](const QString&) { return shortUrl; };
}

void ShortenerService::setShortUrlFunction(std::function<QString(const QString&)> function)
{
    m_shortUrlFunction = std::move(function);
}

QString ShortenerService::defaultShortUrl(const QString& longUrl) const
{
    const QByteArray digest = QCryptographicHash::hash(longUrl.toUtf8(), QCryptographicHash::Sha1).toHex();
    return QStringLiteral("http://") + m_shortDomain + u'/' + QString::fromLatin1(digest.left(6));
}

void ShortenerService::setInfo(const Info& info)
{
    m_infoFunction = [info](const QString&) { return std::optional<Info>(info); };
}

void ShortenerService::setInfoFunction(std::function<std::optional<Info>(const QString&)> function)
{
    m_infoFunction = std::move(function);
}

QList<ShortenerService::Call> ShortenerService::calls() const
{
    QList<Call> result;
    for (const HttpTestRequest& request : requests()) {
        const QByteArray path = request.path();
        if (path != "/shorten" && path != "/info")
            continue;
        Call call;
        call.operation = path.mid(1);
        call.params = request.queryItems();
        call.version = request.queryValue(QStringLiteral("version"));
        call.login = request.queryValue(QStringLiteral("login"));
        call.apiKey = request.queryValue(QStringLiteral("apiKey"));
        call.longUrl = request.queryValue(QStringLiteral("longUrl"));
        call.shortUrl = request.queryValue(QStringLiteral("shortUrl"));
        result.append(call);
    }
    return result;
}

QString ShortenerService::codeOf(const QString& shortUrl)
{
    return shortUrl.mid(shortUrl.lastIndexOf(u'/') + 1);
}

QByteArray ShortenerService::shortenAnswer(const QString& longUrl, const QString& shortUrl)
{
    const QString code = codeOf(shortUrl);
    return "{\"errorCode\": 0, \"errorMessage\": \"\", \"results\": {" + jsonQuote(longUrl) +
           ": {\"hash\": " + jsonQuote(code) +
           ", \"shortKeywordUrl\": \"\", \"shortUrl\": " + jsonQuote(shortUrl) +
           ", \"userHash\": " + jsonQuote(code) + "}}, \"statusCode\": \"OK\"}";
}

QByteArray ShortenerService::infoAnswer(const QString& shortUrl, const Info& info)
{
    QByteArray fields = "\"hash\": " + jsonQuote(codeOf(shortUrl)) + ", \"htmlMetaDescription\": \"\"";
    if (info.htmlTitle)
        fields += ", \"htmlTitle\": " + jsonQuote(*info.htmlTitle);
    if (info.longUrl)
        fields += ", \"longUrl\": " + jsonQuote(*info.longUrl);
    if (info.urlFetched)
        fields += ", \"urlFetched\": " + jsonQuote(*info.urlFetched);
    return "{\"errorCode\": 0, \"errorMessage\": \"\", \"results\": {" + jsonQuote(codeOf(shortUrl)) + ": {" +
           fields + "}}, \"statusCode\": \"OK\"}";
}

QByteArray ShortenerService::unknownLinkAnswer(const QString& shortUrl)
{
    return "{\"errorCode\": 0, \"errorMessage\": \"\", \"results\": {" + jsonQuote(codeOf(shortUrl)) +
           ": {\"error\": \"NOT_FOUND\"}}, \"statusCode\": \"OK\"}";
}

QByteArray ShortenerService::apiErrorAnswer()
{
    return QByteArrayLiteral("{\"errorCode\": 500, \"errorMessage\": \"INVALID_URI\", \"results\": {}, "
                             "\"statusCode\": \"INVALID_URI\"}");
}

HttpTestResponse ShortenerService::respond(const HttpTestRequest& request)
{
    const QByteArray path = request.path();
    if (path != "/shorten" && path != "/info")
        return HttpTestServer::respond(request);
    if (m_failure == Failure::HttpError)
        return HttpTestResponse::withStatus(500, "Internal Server Error", "Internal Server Error");
    if (m_failure == Failure::ApiError)
        return jsonResponse(apiErrorAnswer());
    if (path == "/shorten") {
        const QString longUrl = request.queryValue(QStringLiteral("longUrl"));
        const QString shortUrl = m_shortUrlFunction ? m_shortUrlFunction(longUrl) : defaultShortUrl(longUrl);
        return jsonResponse(shortenAnswer(longUrl, shortUrl));
    }
    const QString shortUrl = request.queryValue(QStringLiteral("shortUrl"));
    const std::optional<Info> info = m_infoFunction ? m_infoFunction(shortUrl) : std::nullopt;
    return jsonResponse(info ? infoAnswer(shortUrl, *info) : unknownLinkAnswer(shortUrl));
}

} // namespace linvera::test
