// A tracker rules file as a stranger could publish it, then a few addresses stripped by it. The input
// is the JSON, a NUL, then addresses one a line.
#include "FuzzSupport.h"
#include "verdict/TrackerRules.h"

using namespace Qt::StringLiterals;

namespace {

// Whether `part` is `whole` with characters left out, the rest in their order.
bool isSubsequence(const QString& part, const QString& whole)
{
    qsizetype j = 0;
    for (qsizetype i = 0; i < whole.size() && j < part.size(); ++i) {
        if (whole[i] == part[j])
            ++j;
    }
    return j == part.size();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QList<QByteArray> parts = linvera::fuzz::splitAtNul(data, size, 2);
    QStringList urls = {u"https://e.example/?utm_source=a&b=1#f"_s,
                        u"https://out.example/go?to=https%3A%2F%2Fz.example%2F"_s};
    if (parts.size() == 2)
        urls = QString::fromUtf8(parts[1]).split(u'\n').mid(0, 4);

    linvera::verdict::TrackerRules rules;
    const linvera::verdict::TrackerRulesRead read = rules.loadJson(parts[0]);
    FUZZ_CHECK(read.providers == rules.size(), QString::fromUtf8(parts[0]));
    const QString message = linvera::verdict::TrackerRulesMessage(read);
    FUZZ_CHECK(read.problem == linvera::verdict::TrackerRulesRead::Problem::None || !message.isEmpty(),
               QString::fromUtf8(parts[0]));

    for (const QString& url : urls) {
        const linvera::verdict::StrippedUrl stripped = rules.strip(url);
        if (!stripped.unwrapped) {
            // Nothing is added or moved; nothing changes when nothing was removed.
            FUZZ_CHECK(isSubsequence(stripped.url, url), url);
            FUZZ_CHECK(stripped.removed > 0 || stripped.url == url, url);
        }
        FUZZ_CHECK(stripped.removed >= 0, url);
    }
    return 0;
}
