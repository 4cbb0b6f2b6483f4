#pragma once

#include "HttpTestServer.h"

#include <functional>
#include <optional>

namespace linvera::test {

/// Stand-in for the shortening service's API (version 2.0.1): "/shorten" and "/info" answering
/// JSON in the textual shape of the real service (": " after each key, non-ASCII as \uXXXX).
class ShortenerService : public HttpTestServer
{
    Q_OBJECT

public:
    /// One API call with its query decoded form-style ("+" is a space, UTF-8 percent triplets).
    struct Call
    {
        QByteArray operation; ///< "shorten" or "info"
        QString version;
        QString login;
        QString apiKey;
        QString longUrl;                           ///< null when the request had no longUrl
        QString shortUrl;                          ///< null when the request had no shortUrl
        QList<std::pair<QString, QString>> params; ///< every query item in order
    };

    /// What "/info" tells about a short link; an absent field is left out of the answer.
    struct Info
    {
        std::optional<QString> longUrl;
        std::optional<QString> urlFetched;
        std::optional<QString> htmlTitle;
    };

    enum class Failure {
        None,
        HttpError, ///< HTTP 500 with a plain-text body
        ApiError,  ///< HTTP 200 with {"errorCode": 500, …} and no results
    };

    explicit ShortenerService(QObject* parent = nullptr);

    /// Domain of the short links made by default ("s.example" until set).
    void setShortDomain(const QString& domain) { m_shortDomain = domain; }
    QString shortDomain() const { return m_shortDomain; }
    /// Every "/shorten" answers this short URL; an empty text gives "shortUrl": "".
    void setShortUrl(const QString& shortUrl);
    /// The short URL as a function of the decoded long URL (replaces setShortUrl).
    void setShortUrlFunction(std::function<QString(const QString& longUrl)> function);
    /// The default short URL for a long URL: "http://<short domain>/" + a code made from it.
    QString defaultShortUrl(const QString& longUrl) const;

    /// "/info" answers this for every short link.
    void setInfo(const Info& info);
    /// "/info" answer per decoded short link; nullopt answers that the link is unknown.
    void setInfoFunction(std::function<std::optional<Info>(const QString& shortUrl)> function);

    void setFailure(Failure failure) { m_failure = failure; }

    /// The API calls received so far, in order (requests for other paths are left out).
    QList<Call> calls() const;

    static QByteArray shortenAnswer(const QString& longUrl, const QString& shortUrl);
    static QByteArray infoAnswer(const QString& shortUrl, const Info& info);
    static QByteArray unknownLinkAnswer(const QString& shortUrl);
    static QByteArray apiErrorAnswer();

protected:
    HttpTestResponse respond(const HttpTestRequest& request) override;

private:
    static QString codeOf(const QString& shortUrl);

    QString m_shortDomain = QStringLiteral("s.example");
    std::function<QString(const QString&)> m_shortUrlFunction;
    std::function<std::optional<Info>(const QString&)> m_infoFunction;
    Failure m_failure = Failure::None;
};

} // namespace linvera::test
