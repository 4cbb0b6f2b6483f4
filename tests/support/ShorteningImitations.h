#pragma once

#include "HttpTestServer.h"

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
};

/// YOURLS: GET /yourls-api.php?action=shorturl&format=json&url=…&signature=… answers
/// {"status": "success", "shorturl": …}; a wrong signature gets 403 {"message": "Please log in"};
/// a URL already stored "fail" with its existing "shorturl".
class YourlsImitation : public HttpTestServer
{
    Q_OBJECT

public:
    explicit YourlsImitation(QString signature, QObject* parent = nullptr);
    QString signature;
    /// Long URLs already stored.
    QStringList known;
};

/// Shlink: POST /rest/v3/short-urls with X-Api-Key and {"longUrl": …} answers {"shortUrl": …};
/// problems come as problem details (401 invalid key, 400 invalid data).
class ShlinkImitation : public HttpTestServer
{
    Q_OBJECT

public:
    explicit ShlinkImitation(QByteArray apiKey, QObject* parent = nullptr);
    QByteArray apiKey;
    /// A careless server: its invalid-key answer repeats the key it was sent.
    bool echoKey = false;
};

} // namespace linvera::test
