#include "conv/ShortenerClient.h"

#include "codec/PercentCoding.h"
#include "conv/HttpClient.h"
#include "conv/RuleRegex.h"
#include "conv/UrlParts.h"
#include "platform/AnsiCodec.h"

using namespace Qt::StringLiterals;

namespace linvera {
namespace {

Endpoints::Name apiHost(int shortUrlType)
{
    return shortUrlType == 0 ? Endpoints::ShortenerAltApiHost : Endpoints::ShortenerApiHost;
}

} // namespace

bool IsOwnShortLink(const QString& shortLink, const Endpoints& endpoints)
{
    const QString lower = shortLink.toLower();
    return lower.contains(endpoints.value(Endpoints::ShortenerDomain)) ||
           lower.contains(endpoints.value(Endpoints::ShortenerAltDomain));
}

QString ServiceAnswerText(const QByteArray& body)
{
    return platform::AnsiCodec::decode(body);
}

QString ShortenerApiKey()
{
    return u"R_5c1e0f7a9b2d4e6f8a0c1b3d5e7f9a2b"_s;
}

QString ShortenRequestUrl(const QString& longUrl, int shortUrlType, const Endpoints& endpoints)
{
    const QString host = endpoints.value(apiHost(shortUrlType));
    return u"http://"_s + host + u"/shorten?version=2.0.1&login=clipurlx&apiKey="_s + ShortenerApiKey() +
           u"&longUrl="_s + PercentEncode(longUrl);
}

bool ShortenerHostUnset(int shortUrlType, const Endpoints& endpoints)
{
    const Endpoints::Name name = apiHost(shortUrlType);
    return endpoints.value(name) == Endpoints::defaultValue(name);
}

QString ShortenerHostUnsetMessage(int shortUrlType)
{
    return u"この短縮サービスはアドレスが未設定です。各種設定で is.gd などを選ぶか、"
           u"linvera-reg で HKLM\\SOFTWARE\\HALVEX\\linvera\\endpoints の "_s +
           Endpoints::registryName(apiHost(shortUrlType)) + u" に API のホストを設定してください。"_s;
}

std::unique_ptr<ServiceCall> ShortenUrl(const QString& longUrl, int shortUrlType, const Endpoints& endpoints,
                                        std::function<void(const QString& shortUrl)> done,
                                        const HttpLimits& limits)
{
    auto call = std::make_unique<ServiceCall>();
    call->start({ShortenRequestUrl(longUrl, shortUrlType, endpoints), QString(), std::nullopt, QString(),
                 ServiceTextLimits(limits)},
                [done = std::move(done)](const QByteArray& body) {
                    done(ShortUrlFromAnswer(ServiceAnswerText(body)));
                });
    return call;
}

QString ShortUrlFromAnswer(const QString& answer)
{
    static const RuleRegex shortUrl(u"\"shortUrl\": \"(.*?)\""_s);
    // Only a web address is a short link; "javascript:" or any other text is no result.
    const QString found = shortUrl.firstGroup(answer);
    return IsWebAddress(found) ? found : QString();
}

QString ExpandRequestUrl(const QString& shortLink, const QString& templ, const Endpoints& endpoints)
{
    if (IsOwnShortLink(shortLink, endpoints)) {
        return u"http://"_s + endpoints.value(Endpoints::ShortenerAltApiHost) +
               u"/info?version=2.0.1&login=clipurlx&apiKey="_s + ShortenerApiKey() + u"&shortUrl="_s +
               PercentEncode(shortLink);
    }
    return RuleRequestUrl(shortLink, templ);
}

QString RuleRequestUrl(const QString& shortLink, const QString& templ)
{
    const qsizetype slash = shortLink.lastIndexOf(u'/');
    const QString code = slash >= 0 ? shortLink.mid(slash + 1) : shortLink;
    return QString(templ).replace(u"($)"_s, PercentEncode(code));
}

std::unique_ptr<ServiceCall> ExpandShortLink(const QString& shortLink, const QString& templ,
                                             const RuleRegex& pattern, const Endpoints& endpoints,
                                             std::function<void(const Expansion&)> done,
                                             const HttpLimits& limits)
{
    auto call = std::make_unique<ServiceCall>();
    call->start({ExpandRequestUrl(shortLink, templ, endpoints), QString(), std::nullopt, QString(),
                 ServiceTextLimits(limits)},
                [ownDomain = IsOwnShortLink(shortLink, endpoints), pattern,
                 done = std::move(done)](const QByteArray& body) {
                    done(ExpansionFromAnswer(ServiceAnswerText(body), ownDomain, pattern));
                });
    return call;
}

Expansion ExpansionFromAnswer(const QString& answer, bool ownDomain, const RuleRegex& pattern)
{
    Expansion result;
    if (ownDomain) {
        static const RuleRegex longUrl(u"\"longUrl\": \"(.*?)\""_s);
        static const RuleRegex urlFetched(u"\"urlFetched\": \"(.*?)\""_s);
        static const RuleRegex htmlTitle(u"\"htmlTitle\": \"(.*?)\""_s);
        result.longUrl = longUrl.firstGroup(answer);
        result.fetchedUrl = urlFetched.firstGroup(answer);
        result.pageTitle = htmlTitle.firstGroup(answer);
        return result;
    }
    result.longUrl = pattern.firstGroup(answer).remove(u'\\');
    return result;
}

QString ExtractStoreItemId(const QString& url)
{
    static const RuleRegex patterns[] = {
        RuleRegex(u"\\/dp\\/(.*?)\\/"_s),
        RuleRegex(u"product\\/(.*?)\\/"_s),
        RuleRegex(u"\\/ASIN\\/(.*?)\\/"_s),
    };
    for (const RuleRegex& pattern : patterns) {
        QStringList groups;
        if (pattern.match(url, &groups))
            return groups.value(0);
    }
    return {};
}

QString UnescapeUnicode(const QString& text)
{
    const qsizetype n = text.size();
    if (n < 6)
        return text;
    QString out;
    out.reserve(n);
    qsizetype i = 0;
    while (i < n) {
        // Positions counted from 1 in the rule "i < length - 4": here index i + 1 < n - 4.
        if (i + 1 < n - 4 && (text[i] == u'\\' || text[i] == u'%') && text[i + 1] == u'u') {
            int value = 0;
            bool hex = true;
            for (qsizetype k = 2; k < 6; ++k) {
                const int digit = HexDigitValue(text[i + k].unicode());
                hex = hex && digit >= 0;
                value = value * 16 + (digit < 0 ? 0 : digit);
            }
            if (hex) {
                out += QChar(char16_t(value));
                i += 6;
                continue;
            }
        }
        out += text[i];
        ++i;
    }
    return out;
}

} // namespace linvera
