// The shortening service's answers as a stranger's host could send them: the shorten answer, the
// info answer and a rule's own answer pattern (the input is the answer, a NUL, then the pattern),
// and the request URL built from a hostile short link and template.
#include "FuzzSupport.h"
#include "conv/Endpoints.h"
#include "conv/RuleRegex.h"
#include "conv/ShortenerClient.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QList<QByteArray> parts = linvera::fuzz::splitAtNul(data, size, 3);
    const QString answer = QString::fromUtf8(parts[0]);

    const QString shortUrl = linvera::ShortUrlFromAnswer(answer);
    FUZZ_CHECK(shortUrl.isEmpty() || answer.contains(shortUrl), answer);

    const linvera::Expansion own = linvera::ExpansionFromAnswer(answer, true, linvera::RuleRegex());
    FUZZ_CHECK(own.longUrl.isEmpty() || answer.contains(own.longUrl), answer);
    FUZZ_CHECK(own.pageTitle.isEmpty() || answer.contains(own.pageTitle), answer);
    linvera::UnescapeUnicode(own.pageTitle);

    if (parts.size() >= 2) {
        const linvera::RuleRegex pattern(QString::fromUtf8(parts[1]));
        const linvera::Expansion other = linvera::ExpansionFromAnswer(answer, false, pattern);
        FUZZ_CHECK(!other.longUrl.contains(u'\\'), answer);
        FUZZ_CHECK(other.fetchedUrl.isEmpty() && other.pageTitle.isEmpty(), answer);
        const linvera::Endpoints endpoints;
        const QString templ = parts.size() == 3 ? QString::fromUtf8(parts[2]) : QString();
        linvera::ExpandRequestUrl(answer, templ, endpoints);
        const QString request = linvera::ShortenRequestUrl(answer, 0, endpoints);
        FUZZ_CHECK(!request.contains(u' ') && !request.contains(u'\n'), answer);
        linvera::ExtractStoreItemId(answer);
    }
    return 0;
}
