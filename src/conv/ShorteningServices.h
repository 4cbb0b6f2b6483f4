#pragma once

#include "conv/Endpoints.h"
#include "conv/ServiceCall.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <memory>

namespace linvera {

/// The entries of `lstShortURLType`. The first two are the designed short-link forms of the
/// account's service; the others are public services and self-hosted ones.
enum ShortUrlType {
    ShortUrlAltApi = 0,
    ShortUrlApi = 1,
    ShortUrlIsgd = 2,
    ShortUrlVgd = 3,
    ShortUrlYourls = 4,
    ShortUrlShlink = 5,
    ShortUrlTypeCount
};

/// What the self-hosted services need, as the application read it from the store.
struct ShortenerAccounts
{
    /// Base URL of the YOURLS installation ("https://sho.rt"), and its signature token.
    QString yourlsUrl;
    QString yourlsSignature;
    /// Base URL of the Shlink server, and its API key.
    QString shlinkUrl;
    QString shlinkApiKey;
};

/// A shortening answer: the short link, or the service's own words on why there is none.
struct ShortenOutcome
{
    QString shortUrl;
    QString message;
};

/// True for the entries served by `ShortenWithService` rather than by the designed API.
bool IsServiceType(int shortUrlType);

QString IsgdRequestUrl(const QString& apiBase, const QString& longUrl);
QString YourlsRequestUrl(const QString& base, const QString& signature, const QString& longUrl);
QString ShlinkRequestUrl(const QString& base);
QByteArray ShlinkRequestBody(const QString& longUrl);

/// The answers, read as JSON. A body that is not a JSON object (an HTML error page, nothing at all)
/// gives a message saying so.
ShortenOutcome ReadIsgdAnswer(const QByteArray& body);
ShortenOutcome ReadYourlsAnswer(const QByteArray& body);
ShortenOutcome ReadShlinkAnswer(const QByteArray& body);

/// The request that shortens through the service of a service entry; no URL when the entry's
/// service is not configured.
ServiceRequest ShortenServiceRequest(const QString& longUrl, int shortUrlType,
                                     const ShortenerAccounts& accounts, const Endpoints& endpoints);
/// What the service's answer (empty: none came) means. Secrets never appear in the message.
ShortenOutcome ReadShortenServiceAnswer(int shortUrlType, const ShortenerAccounts& accounts,
                                        const QByteArray& body);

/// Shortens through the service of a service entry; `done` gets the outcome from the event loop. The
/// request carries `limits`, its body cap brought down to a text answer's.
std::unique_ptr<ServiceCall> ShortenWithService(const QString& longUrl, int shortUrlType,
                                                const ShortenerAccounts& accounts, const Endpoints& endpoints,
                                                std::function<void(const ShortenOutcome&)> done,
                                                const HttpLimits& limits = {});

/// A short-link rule that the settings make for a self-hosted service: no rule file can name the
/// user's own host. `templ` is the info request with "($)" for the encoded short code, as in the rule
/// file; `headers` carry what the request needs beside it.
struct ServiceLinkRule
{
    int service = -1; ///< ShortUrlYourls or ShortUrlShlink; -1 when no rule matched
    QString templ;
    QString headers;
    /// The signature or key, kept out of every message.
    QString secret;
    bool matched() const { return service >= 0; }
};

/// The rules of the configured services: YOURLS when its base URL and signature are set, Shlink when
/// its base URL and API key are.
QList<ServiceLinkRule> ServiceLinkRules(const ShortenerAccounts& accounts);

/// The rule whose service hosts `url`: same host and port as the base URL (http and https alike), a
/// path of the base path and one non-empty segment, no query, fragment or user info.
ServiceLinkRule MatchServiceLink(const QString& url, const ShortenerAccounts& accounts);

/// An expansion answer: the long URL (and title when the service knows one), or the service's own
/// words on why there is none.
struct ServiceExpansion
{
    QString longUrl;
    QString pageTitle;
    QString message;
};

ServiceExpansion ReadYourlsExpandAnswer(const QByteArray& body);
ServiceExpansion ReadShlinkExpandAnswer(const QByteArray& body);

/// What the service's answer to the expansion of a link of `rule` means (empty: none came). The
/// secret never appears in the message.
ServiceExpansion ReadServiceExpandAnswer(const ServiceLinkRule& rule, const QByteArray& body);

/// Expands `url` through the service of its rule; `done` gets the expansion from the event loop. The
/// request carries `limits`, its body cap brought down to a text answer's.
std::unique_ptr<ServiceCall> ExpandServiceLink(const QString& url, const ServiceLinkRule& rule,
                                               std::function<void(const ServiceExpansion&)> done,
                                               const HttpLimits& limits = {});

} // namespace linvera
