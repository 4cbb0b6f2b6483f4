#include "conv/ShorteningServices.h"

#include "codec/PercentCoding.h"
#include "conv/HttpClient.h"
#include "conv/ShortenerClient.h"
#include "conv/UrlParts.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace linvera {
namespace {

const QString kNoAnswer = u"サービスから答えがありませんでした。"_s;
const QString kNotJson = u"サービスの答えを読めませんでした(JSONではありません)。"_s;
const QString kNotConfigured = u"短縮サービスのURLが設定されていません。"_s;
const QString kNotWebAddress = u"サービスの答えはWebアドレス(http/https)ではありませんでした。"_s;

/// Only a web address stands as a short link: anything else ("javascript:", a bare word) is a failure.
void keepOnlyWebAddress(ShortenOutcome& outcome)
{
    if (!outcome.shortUrl.isEmpty() && !IsWebAddress(outcome.shortUrl)) {
        outcome.shortUrl.clear();
        outcome.message = kNotWebAddress;
    }
}

QString withoutTrailingSlash(QString base)
{
    base = base.trimmed();
    while (base.endsWith(u'/'))
        base.chop(1);
    return base;
}

/// The answer as a JSON object, or a message why it is none.
bool readObject(const QByteArray& body, QJsonObject& object, ShortenOutcome& outcome)
{
    if (body.isEmpty()) {
        outcome.message = kNoAnswer;
        return false;
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        outcome.message = kNotJson;
        return false;
    }
    object = document.object();
    return true;
}

QString text(const QJsonObject& object, const QString& key)
{
    const QJsonValue value = object.value(key);
    if (value.isString())
        return value.toString();
    if (value.isDouble())
        return QString::number(value.toDouble());
    return {};
}

QString hideSecret(QString message, const QString& secret)
{
    if (!secret.isEmpty())
        message.replace(secret, u"***"_s);
    return message;
}

/// The port a URL names, with a scheme's own default counted as none: a link may be written http
/// while the base URL says https.
int explicitPort(const QUrl& url)
{
    const int port = url.port();
    if ((url.scheme() == u"http"_s && port == 80) || (url.scheme() == u"https"_s && port == 443))
        return -1;
    return port;
}

bool isWeb(const QUrl& url)
{
    return url.scheme() == u"http"_s || url.scheme() == u"https"_s;
}

bool servesLink(const QString& base, const QString& link)
{
    const QUrl baseUrl(withoutTrailingSlash(base), QUrl::StrictMode);
    const QUrl linkUrl(link.trimmed(), QUrl::StrictMode);
    if (!baseUrl.isValid() || !linkUrl.isValid() || !isWeb(baseUrl) || !isWeb(linkUrl) ||
        baseUrl.host().isEmpty())
        return false;
    // The host compares as QUrl wrote it, lower case; only the configured host ever sees the secret.
    if (linkUrl.host() != baseUrl.host() || explicitPort(linkUrl) != explicitPort(baseUrl))
        return false;
    if (!linkUrl.userInfo().isEmpty() || linkUrl.hasQuery() || linkUrl.hasFragment())
        return false;
    const QString prefix = baseUrl.path(QUrl::FullyEncoded) + u'/';
    const QString path = linkUrl.path(QUrl::FullyEncoded);
    if (!path.startsWith(prefix))
        return false;
    const QString code = path.mid(prefix.size());
    return !code.isEmpty() && !code.contains(u'/');
}

bool hasLineBreak(const QString& text)
{
    return text.contains(u'\r') || text.contains(u'\n');
}

/// A message from an error answer, or the one saying the answer could not be read.
QString firstText(const QJsonObject& object, std::initializer_list<QString> keys)
{
    for (const QString& key : keys) {
        const QString value = text(object, key);
        if (!value.isEmpty())
            return value;
    }
    return kNotJson;
}

// The JSON answers of YOURLS and Shlink: the link under urlKey, or the reason under the first of
// messageKeys the answer has.
ShortenOutcome readShortenAnswer(const QByteArray& body, const QString& urlKey,
                                 std::initializer_list<QString> messageKeys)
{
    ShortenOutcome outcome;
    QJsonObject object;
    if (!readObject(body, object, outcome))
        return outcome;
    outcome.shortUrl = text(object, urlKey);
    if (outcome.shortUrl.isEmpty())
        outcome.message = firstText(object, messageKeys);
    keepOnlyWebAddress(outcome);
    return outcome;
}

ServiceExpansion readExpandAnswer(const QByteArray& body, const QString& urlKey,
                                  std::initializer_list<QString> messageKeys)
{
    ShortenOutcome outcome;
    QJsonObject object;
    if (!readObject(body, object, outcome))
        return {QString(), QString(), outcome.message};
    const QString longUrl = text(object, urlKey);
    if (longUrl.isEmpty())
        return {QString(), QString(), firstText(object, messageKeys)};
    return {longUrl, text(object, u"title"_s), QString()};
}

} // namespace

bool IsServiceType(int shortUrlType)
{
    return shortUrlType >= ShortUrlIsgd && shortUrlType < ShortUrlTypeCount;
}

QString IsgdRequestUrl(const QString& apiBase, const QString& longUrl)
{
    return withoutTrailingSlash(apiBase) + u"/create.php?format=json&url="_s + PercentEncode(longUrl);
}

QString YourlsRequestUrl(const QString& base, const QString& signature, const QString& longUrl)
{
    return withoutTrailingSlash(base) + u"/yourls-api.php?action=shorturl&format=json&url="_s +
           PercentEncode(longUrl) + u"&signature="_s + PercentEncode(signature);
}

QString ShlinkRequestUrl(const QString& base)
{
    return withoutTrailingSlash(base) + u"/rest/v3/short-urls"_s;
}

QByteArray ShlinkRequestBody(const QString& longUrl)
{
    return QJsonDocument(QJsonObject{{u"longUrl"_s, longUrl}}).toJson(QJsonDocument::Compact);
}

ShortenOutcome ReadIsgdAnswer(const QByteArray& body)
{
    ShortenOutcome outcome;
    QJsonObject object;
    if (!readObject(body, object, outcome))
        return outcome;
    outcome.shortUrl = text(object, u"shorturl"_s);
    if (outcome.shortUrl.isEmpty()) {
        const QString code = text(object, u"errorcode"_s);
        outcome.message = text(object, u"errormessage"_s);
        if (!code.isEmpty())
            outcome.message = u"("_s + code + u") "_s + outcome.message;
        if (outcome.message.isEmpty())
            outcome.message = kNotJson;
    }
    keepOnlyWebAddress(outcome);
    return outcome;
}

ShortenOutcome ReadYourlsAnswer(const QByteArray& body)
{
    // A URL the installation already knows comes back as "fail" with its existing short link.
    return readShortenAnswer(body, u"shorturl"_s, {u"message"_s});
}

ShortenOutcome ReadShlinkAnswer(const QByteArray& body)
{
    // Errors come as problem details: a title, and usually a detail.
    return readShortenAnswer(body, u"shortUrl"_s, {u"detail"_s, u"title"_s});
}

ServiceRequest ShortenServiceRequest(const QString& longUrl, int shortUrlType,
                                     const ShortenerAccounts& accounts, const Endpoints& endpoints)
{
    switch (shortUrlType) {
    case ShortUrlIsgd:
    case ShortUrlVgd: {
        const QString base =
            endpoints.value(shortUrlType == ShortUrlIsgd ? Endpoints::IsgdApiBase : Endpoints::VgdApiBase);
        return {IsgdRequestUrl(base, longUrl), QString(), std::nullopt, QString()};
    }
    case ShortUrlYourls:
        if (accounts.yourlsUrl.trimmed().isEmpty())
            return {};
        return {YourlsRequestUrl(accounts.yourlsUrl, accounts.yourlsSignature, longUrl), QString(),
                std::nullopt, QString()};
    case ShortUrlShlink:
        // A key with a line break would write headers of its own: nothing is sent.
        if (accounts.shlinkUrl.trimmed().isEmpty() || hasLineBreak(accounts.shlinkApiKey))
            return {};
        return {ShlinkRequestUrl(accounts.shlinkUrl),
                u"Content-Type: application/json\r\nAccept: application/json\r\nX-Api-Key: "_s +
                    accounts.shlinkApiKey,
                ShlinkRequestBody(longUrl), QString()};
    default:
        return {};
    }
}

ShortenOutcome ReadShortenServiceAnswer(int shortUrlType, const ShortenerAccounts& accounts,
                                        const QByteArray& body)
{
    switch (shortUrlType) {
    case ShortUrlIsgd:
    case ShortUrlVgd:
        return ReadIsgdAnswer(body);
    case ShortUrlYourls: {
        if (accounts.yourlsUrl.trimmed().isEmpty())
            return {QString(), kNotConfigured};
        ShortenOutcome outcome = ReadYourlsAnswer(body);
        outcome.message = hideSecret(outcome.message, accounts.yourlsSignature);
        return outcome;
    }
    case ShortUrlShlink: {
        if (accounts.shlinkUrl.trimmed().isEmpty())
            return {QString(), kNotConfigured};
        ShortenOutcome outcome = ReadShlinkAnswer(body);
        outcome.message = hideSecret(outcome.message, accounts.shlinkApiKey);
        return outcome;
    }
    default:
        return {};
    }
}

std::unique_ptr<ServiceCall> ShortenWithService(const QString& longUrl, int shortUrlType,
                                                const ShortenerAccounts& accounts, const Endpoints& endpoints,
                                                std::function<void(const ShortenOutcome&)> done,
                                                const HttpLimits& limits)
{
    auto call = std::make_unique<ServiceCall>();
    ServiceRequest request = ShortenServiceRequest(longUrl, shortUrlType, accounts, endpoints);
    request.limits = ServiceTextLimits(limits);
    call->start(request, [shortUrlType, accounts, done = std::move(done)](const QByteArray& body) {
        done(ReadShortenServiceAnswer(shortUrlType, accounts, body));
    });
    return call;
}

QList<ServiceLinkRule> ServiceLinkRules(const ShortenerAccounts& accounts)
{
    QList<ServiceLinkRule> rules;
    const QString yourls = withoutTrailingSlash(accounts.yourlsUrl);
    const QString signature = accounts.yourlsSignature.trimmed();
    if (!yourls.isEmpty() && !signature.isEmpty()) {
        rules.append({ShortUrlYourls,
                      yourls + u"/yourls-api.php?action=expand&shorturl=($)&format=json&signature="_s +
                          PercentEncode(signature),
                      QString(), signature});
    }
    const QString shlink = withoutTrailingSlash(accounts.shlinkUrl);
    const QString key = accounts.shlinkApiKey.trimmed();
    // A key with a line break would write a header of its own; such a key is not configured.
    if (!shlink.isEmpty() && !key.isEmpty() && !hasLineBreak(key)) {
        rules.append({ShortUrlShlink, shlink + u"/rest/v3/short-urls/($)"_s,
                      u"Accept: application/json\r\nX-Api-Key: "_s + key, key});
    }
    return rules;
}

ServiceLinkRule MatchServiceLink(const QString& url, const ShortenerAccounts& accounts)
{
    const QList<ServiceLinkRule> rules = ServiceLinkRules(accounts);
    for (const ServiceLinkRule& rule : rules) {
        const QString& base = rule.service == ShortUrlYourls ? accounts.yourlsUrl : accounts.shlinkUrl;
        if (servesLink(base, url))
            return rule;
    }
    return {};
}

ServiceExpansion ReadYourlsExpandAnswer(const QByteArray& body)
{
    return readExpandAnswer(body, u"longurl"_s, {u"message"_s, u"simple"_s});
}

ServiceExpansion ReadShlinkExpandAnswer(const QByteArray& body)
{
    return readExpandAnswer(body, u"longUrl"_s, {u"detail"_s, u"title"_s});
}

ServiceExpansion ReadServiceExpandAnswer(const ServiceLinkRule& rule, const QByteArray& body)
{
    if (!rule.matched())
        return {};
    ServiceExpansion expansion =
        rule.service == ShortUrlYourls ? ReadYourlsExpandAnswer(body) : ReadShlinkExpandAnswer(body);
    // The signature also travels percent-encoded; a server that echoes its request must not show it.
    expansion.message = hideSecret(hideSecret(expansion.message, rule.secret), PercentEncode(rule.secret));
    return expansion;
}

std::unique_ptr<ServiceCall> ExpandServiceLink(const QString& url, const ServiceLinkRule& rule,
                                               std::function<void(const ServiceExpansion&)> done,
                                               const HttpLimits& limits)
{
    auto call = std::make_unique<ServiceCall>();
    const ServiceRequest request{rule.matched() ? RuleRequestUrl(url.trimmed(), rule.templ) : QString(),
                                 rule.headers, std::nullopt, QString(), ServiceTextLimits(limits)};
    call->start(request, [rule, done = std::move(done)](const QByteArray& body) {
        done(ReadServiceExpandAnswer(rule, body));
    });
    return call;
}

} // namespace linvera
