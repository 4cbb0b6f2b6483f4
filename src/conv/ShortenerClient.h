#pragma once

#include "conv/Endpoints.h"
#include "conv/ServiceCall.h"

#include <QString>

#include <functional>
#include <memory>

namespace linvera {

class RuleRegex;

/// The account's fixed API key.
QString ShortenerApiKey();

/// Shortens a long URL through the shortening service. `shortUrlType` is the settings' short-link
/// form: 0 asks the alternative API host, anything else (also -1, no selection) the primary one.
/// `done` gets the short link from the event loop, or an empty text when the answer holds none. The
/// request carries `limits`, its body cap brought down to a text answer's.
std::unique_ptr<ServiceCall> ShortenUrl(const QString& longUrl, int shortUrlType, const Endpoints& endpoints,
                                        std::function<void(const QString& shortUrl)> done,
                                        const HttpLimits& limits = {});

/// An answer of the shortening service as text.
QString ServiceAnswerText(const QByteArray& body);

/// Whether the API host `shortUrlType` asks is still the shipped placeholder, which cannot answer.
bool ShortenerHostUnset(int shortUrlType, const Endpoints& endpoints);
/// One line for the information area: that host must be set, and where.
QString ShortenerHostUnsetMessage(int shortUrlType);

/// The short link in the shortening API's answer when it is a web address, else an empty text.
QString ShortUrlFromAnswer(const QString& answer);

/// Builds the shorten request URL.
QString ShortenRequestUrl(const QString& longUrl, int shortUrlType, const Endpoints& endpoints);

struct Expansion
{
    QString longUrl;
    QString fetchedUrl;
    /// Still holding the service's "\u" escapes.
    QString pageTitle;
};

/// Expands a short link: links of the service's own domains through its info API, others through the
/// rule's API template ("($)" = the encoded short code) and answer pattern (compiled when the rules
/// were loaded). `done` gets the expansion from the event loop. The request carries `limits`, its body
/// cap brought down to a text answer's.
std::unique_ptr<ServiceCall> ExpandShortLink(const QString& shortLink, const QString& templ,
                                             const RuleRegex& pattern, const Endpoints& endpoints,
                                             std::function<void(const Expansion&)> done,
                                             const HttpLimits& limits = {});

/// Whether `shortLink` belongs to the service's own domains (expanded through its info API).
bool IsOwnShortLink(const QString& shortLink, const Endpoints& endpoints);

/// Reads an expansion answer: the service's info API for its own domains, else the rule's pattern.
Expansion ExpansionFromAnswer(const QString& answer, bool ownDomain, const RuleRegex& pattern);

/// A rule's API request: the template with every "($)" replaced by the encoded short code (the text
/// after the link's last "/").
QString RuleRequestUrl(const QString& shortLink, const QString& templ);

/// The request URL that `ExpandShortLink` fetches.
QString ExpandRequestUrl(const QString& shortLink, const QString& templ, const Endpoints& endpoints);

/// The store's item number of a product URL, or an empty text.
QString ExtractStoreItemId(const QString& url);

/// Replaces "\uXXXX" and "%uXXXX" escapes by their characters.
QString UnescapeUnicode(const QString& text);

} // namespace linvera
