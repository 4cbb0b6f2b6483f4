#include "ShorteningImitations.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace linvera::test {
namespace {

HttpTestResponse json(int status, const QJsonObject& object, const QByteArray& type = "application/json")
{
    HttpTestResponse response = HttpTestResponse::withStatus(
        status, status == 200 ? "OK" : "Error", QJsonDocument(object).toJson(QJsonDocument::Compact));
    response.addHeader("Content-Type", type);
    return response;
}

/// JSON as PHP's json_encode writes it by default: "/" as "\/", every non-ASCII character as
/// "\uXXXX".
HttpTestResponse phpJson(int status, const QJsonObject& object)
{
    const QString compact = QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
    QByteArray body;
    for (const QChar c : compact) {
        if (c == u'/')
            body += "\\/";
        else if (c.unicode() > 0x7f)
            body += "\\u" + QByteArray::number(c.unicode(), 16).rightJustified(4, '0');
        else
            body += char(c.unicode());
    }
    HttpTestResponse response = HttpTestResponse::withStatus(status, status == 200 ? "OK" : "Error", body);
    response.addHeader("Content-Type", "application/json; charset=utf-8");
    return response;
}

bool isWebUrl(const QString& text)
{
    const QUrl url(text);
    return url.isValid() && (url.scheme() == u"http"_s || url.scheme() == u"https"_s) &&
           !url.host().isEmpty();
}

} // namespace

IsgdImitation::IsgdImitation(QObject* parent)
    : HttpTestServer(parent)
{
    setHandler([this](const HttpTestRequest& request) {
        if (htmlError)
            return HttpTestResponse::withStatus(502, "Bad Gateway", "<html><body>Bad Gateway</body></html>");
        if (request.method != "GET" || request.path() != "/create.php" ||
            request.queryValue(u"format"_s) != u"json"_s)
            return HttpTestResponse::notFound();
        if (rateLimited)
            return json(200, {{u"errorcode"_s, 3},
                              {u"errormessage"_s,
                               u"Rate limit exceeded - please wait 1 minute before accessing again."_s}});
        const QString url = request.queryValue(u"url"_s);
        if (!isWebUrl(url))
            return json(
                200, {{u"errorcode"_s, 1}, {u"errormessage"_s, u"Please specify a valid URL to shorten."_s}});
        return json(200, {{u"shorturl"_s, shortUrlAnswer.isNull()
                                              ? QString(u"https://is.gd/"_s + QString::number(requestCount()))
                                              : shortUrlAnswer}});
    });
}

YourlsImitation::YourlsImitation(QString signature_, QObject* parent)
    : HttpTestServer(parent)
    , signature(std::move(signature_))
{
    setHandler([this](const HttpTestRequest& request) {
        if (request.path() != "/yourls-api.php")
            return HttpTestResponse::notFound();
        if (request.queryValue(u"signature"_s) != signature)
            return json(403,
                        {{u"message"_s, echoRequest ? QString(u"Please log in ("_s +
                                                              QString::fromLatin1(request.target) + u")"_s)
                                                    : u"Please log in"_s},
                         {u"errorCode"_s, 403}});
        if (request.queryValue(u"action"_s) == u"expand"_s && request.queryValue(u"format"_s) == u"json"_s) {
            // Either the keyword or the whole short link, as YOURLS takes both.
            QString keyword = request.queryValue(u"shorturl"_s);
            keyword = keyword.mid(keyword.lastIndexOf(u'/') + 1);
            const auto link = links.constFind(keyword);
            if (link == links.constEnd())
                return phpJson(404, {{u"statusCode"_s, 404},
                                     {u"code"_s, u"error:url"_s},
                                     {u"simple"_s, u"Error: short URL not found"_s},
                                     {u"message"_s, u"Error: short URL not found"_s},
                                     {u"errorCode"_s, u"404"_s}});
            return phpJson(200, {{u"keyword"_s, keyword},
                                 {u"shorturl"_s, QString(u"http://sho.rt/"_s + keyword)},
                                 {u"longurl"_s, link->first},
                                 {u"title"_s, link->second},
                                 {u"message"_s, u"success"_s},
                                 {u"statusCode"_s, 200}});
        }
        if (request.queryValue(u"action"_s) != u"shorturl"_s || request.queryValue(u"format"_s) != u"json"_s)
            return json(
                400, {{u"message"_s, u"Unknown or missing \"action\" parameter"_s}, {u"errorCode"_s, 400}});
        const QString url = request.queryValue(u"url"_s);
        if (!isWebUrl(url))
            return json(400, {{u"status"_s, u"fail"_s},
                              {u"code"_s, u"error:nourl"_s},
                              {u"message"_s, u"Missing or malformed URL"_s},
                              {u"statusCode"_s, 400}});
        const QString shortUrl = shortUrlAnswer.isNull()
                                     ? u"http://sho.rt/"_s + QString::number(qHash(url) % 1000)
                                     : shortUrlAnswer;
        if (known.contains(url))
            return json(400, {{u"status"_s, u"fail"_s},
                              {u"code"_s, u"error:url"_s},
                              {u"message"_s, QString(url + u" already exists in database"_s)},
                              {u"shorturl"_s, shortUrl},
                              {u"statusCode"_s, 400}});
        known.append(url);
        return json(200, {{u"status"_s, u"success"_s},
                          {u"message"_s, QString(url + u" added to database"_s)},
                          {u"shorturl"_s, shortUrl},
                          {u"statusCode"_s, 200}});
    });
}

ShlinkImitation::ShlinkImitation(QByteArray apiKey_, QObject* parent)
    : HttpTestServer(parent)
    , apiKey(std::move(apiKey_))
{
    setHandler([this](const HttpTestRequest& request) {
        const QByteArray problem = "application/problem+json";
        const QByteArray expandPrefix = "/rest/v3/short-urls/";
        if (request.method == "GET" && request.path().startsWith(expandPrefix)) {
            if (!movedTo.isEmpty()) {
                HttpTestResponse moved = HttpTestResponse::withStatus(302, "Found");
                moved.addHeader("Location", movedTo);
                return moved;
            }
            if (request.header("X-Api-Key") != apiKey)
                return json(401,
                            {{u"type"_s, u"https://shlink.io/api/error/invalid-api-key"_s},
                             {u"title"_s, u"Invalid API key"_s},
                             {u"detail"_s, u"Provided API key does not exist or is invalid."_s},
                             {u"status"_s, 401}},
                            problem);
            const QString code = QString::fromUtf8(request.path().mid(expandPrefix.size()));
            const auto link = links.constFind(code);
            if (link == links.constEnd())
                return json(404,
                            {{u"type"_s, u"https://shlink.io/api/error/short-url-not-found"_s},
                             {u"title"_s, u"Short URL not found"_s},
                             {u"detail"_s, QString(u"No URL found with short code \"%1\""_s.arg(code))},
                             {u"status"_s, 404},
                             {u"shortCode"_s, code}},
                            problem);
            return json(200,
                        {{u"shortCode"_s, code},
                         {u"shortUrl"_s, QString(u"https://s.test/"_s + code)},
                         {u"longUrl"_s, link->first},
                         {u"title"_s, link->second.isEmpty() ? QJsonValue() : QJsonValue(link->second)}});
        }
        if (request.method != "POST" || request.path() != "/rest/v3/short-urls")
            return json(404, {{u"title"_s, u"Not found"_s}, {u"status"_s, 404}}, problem);
        if (request.header("X-Api-Key") != apiKey && echoKey)
            return json(
                401,
                {{u"title"_s, u"Invalid API key"_s},
                 {u"detail"_s, QString(u"API key "_s + QString::fromLatin1(request.header("X-Api-Key")) +
                                       u" is not valid"_s)},
                 {u"status"_s, 401}},
                problem);
        if (request.header("X-Api-Key") != apiKey)
            return json(401,
                        {{u"type"_s, u"https://shlink.io/api/error/invalid-api-key"_s},
                         {u"title"_s, u"Invalid API key"_s},
                         {u"detail"_s, u"Provided API key does not exist or is invalid."_s},
                         {u"status"_s, 401}},
                        problem);
        const QJsonObject body = QJsonDocument::fromJson(request.body).object();
        const QString longUrl = body.value(u"longUrl"_s).toString();
        if (!request.header("Content-Type").startsWith("application/json") || !isWebUrl(longUrl))
            return json(400,
                        {{u"type"_s, u"https://shlink.io/api/error/invalid-data"_s},
                         {u"title"_s, u"Invalid data"_s},
                         {u"detail"_s, u"Provided data is not valid"_s},
                         {u"status"_s, 400}},
                        problem);
        return json(200,
                    {{u"shortCode"_s, u"12C18"_s},
                     {u"shortUrl"_s, shortUrlAnswer.isNull() ? u"https://s.test/12C18"_s : shortUrlAnswer},
                     {u"longUrl"_s, longUrl}});
    });
}

} // namespace linvera::test
