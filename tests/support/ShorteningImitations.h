#pragma once

#include "HttpTestServer.h"

#include <QHash>
#include <QStringList>

#include <utility>

namespace linvera::test {

/// is.gd / v.gd as documented: GET /create.php?format=json&url=… answers {"shorturl": …}, or
/// {"errorcode": n, "errormessage": …} (1 bad URL, 3 rate limit).
class IsgdImitation : public HttpTestServer
{
    Q_OBJECT

public:
    explicit IsgdImitation(QObject* parent = nullptr);
    /// Every request from now on is refused with the rate-limit answer.
    bool rateLimited = false;
    /// Answers with an HTML error page instead of JSON.
    bool htmlError = false;
    /// When not null, the short URL every successful shortening answers, whatever it is.
    QString shortUrlAnswer;
};

/// YOURLS: GET /yourls-api.php?action=shorturl&format=json&url=…&signature=… answers
/// {"status": "success", "shorturl": …}; a wrong signature gets 403 {"message": "Please log in"};
/// a URL already stored "fail" with its existing "shorturl". action=expand&shorturl=<keyword or
/// link> answers {"keyword", "shorturl", "longurl", "title", …} written as PHP writes JSON ("\/",
/// "\uXXXX"), or 404 {"message": "Error: short URL not found"}.
class YourlsImitation : public HttpTestServer
{
    Q_OBJECT

public:
    explicit YourlsImitation(QString signature, QObject* parent = nullptr);
    QString signature;
    /// Long URLs already stored.
    QStringList known;
    /// Keywords that expand, with their long URL and title.
    QHash<QString, std::pair<QString, QString>> links;
    /// The signature-failure answer repeats the request, as a careless installation might.
    bool echoRequest = false;
    /// When not null, the short URL every successful shortening answers, whatever it is.
    QString shortUrlAnswer;
};

/// Shlink: POST /rest/v3/short-urls with X-Api-Key and {"longUrl": …} answers {"shortUrl": …};
/// problems come as problem details (401 invalid key, 400 invalid data). GET
/// /rest/v3/short-urls/<code> answers the short URL's details with "longUrl" and "title", or 404
/// "Short URL not found".
class ShlinkImitation : public HttpTestServer
{
    Q_OBJECT

public:
    explicit ShlinkImitation(QByteArray apiKey, QObject* parent = nullptr);
    QByteArray apiKey;
    /// A careless server: its invalid-key answer repeats the key it was sent.
    bool echoKey = false;
    /// When not null, the short URL every successful shortening answers, whatever it is.
    QString shortUrlAnswer;
    /// Short codes that expand, with their long URL and title.
    QHash<QString, std::pair<QString, QString>> links;
    /// When set, every expansion request is moved there with a 302.
    QByteArray movedTo;
};

} // namespace linvera::test
