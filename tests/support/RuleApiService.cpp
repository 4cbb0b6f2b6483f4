#include "RuleApiService.h"

#include "JsonText.h"

namespace linvera::test {

RuleApiService::RuleApiService(QObject* parent)
    : HttpTestServer(parent)
{}

QString RuleApiService::urlTemplate() const
{
    if (!m_queryKey.isEmpty())
        return url(QStringLiteral("/expand?")).toString() + m_queryKey + QStringLiteral("=($)");
    return url(QString::fromLatin1(m_pathPrefix)).toString() + QStringLiteral("($)");
}

QString RuleApiService::responsePattern() const
{
    return u'"' + QString::fromLatin1(m_fieldName) + QStringLiteral("\": \"(.*?)\"");
}

std::optional<QString> RuleApiService::codeOf(const HttpTestRequest& request) const
{
    if (!m_queryKey.isEmpty()) {
        if (request.path() != "/expand" || !request.hasQueryItem(m_queryKey))
            return std::nullopt;
        return request.queryValue(m_queryKey);
    }
    const QByteArray path = request.path();
    if (!path.startsWith(m_pathPrefix))
        return std::nullopt;
    return QString::fromUtf8(QByteArray::fromPercentEncoding(path.mid(m_pathPrefix.size())));
}

QStringList RuleApiService::codes() const
{
    QStringList result;
    for (const HttpTestRequest& request : requests()) {
        if (const std::optional<QString> code = codeOf(request))
            result.append(*code);
    }
    return result;
}

QByteArray RuleApiService::answerFor(const QString& longUrl) const
{
    return "{\"status\": \"ok\", " + jsonQuote(QString::fromLatin1(m_fieldName)) + ": " +
           jsonQuote(longUrl, true) + "}";
}

HttpTestResponse RuleApiService::respond(const HttpTestRequest& request)
{
    const std::optional<QString> code = codeOf(request);
    if (!code || !m_longUrls.contains(*code))
        return HttpTestResponse::withStatus(404, "Not Found", "{\"status\": \"not found\"}");
    return HttpTestResponse::ok(answerFor(m_longUrls.value(*code)), "application/json");
}

} // namespace linvera::test
