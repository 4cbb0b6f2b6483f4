// SplitUrl, TextBetween and TrimSpaces over hostile text.
#include "FuzzSupport.h"
#include "conv/UrlParts.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QList<QByteArray> parts = linvera::fuzz::splitAtNul(data, size, 3);
    const QString url = QString::fromUtf8(parts[0]);

    const linvera::UrlParts split = linvera::SplitUrl(url);
    FUZZ_CHECK(!split.path.isEmpty(), url);
    FUZZ_CHECK(split.port >= 0, url);
    FUZZ_CHECK(split.scheme.size() + split.host.size() + split.query.size() <= url.size(), url);

    const QString trimmed = linvera::TrimSpaces(url);
    FUZZ_CHECK(!trimmed.startsWith(u' ') && !trimmed.endsWith(u' ') && url.contains(trimmed), url);

    if (parts.size() == 3) {
        const QString start = QString::fromUtf8(parts[1]);
        const QString end = QString::fromUtf8(parts[2]);
        const QString between = linvera::TextBetween(url, start, end);
        FUZZ_CHECK(between.isEmpty() || (url.contains(start) && url.contains(between)), url);
        if (!between.isEmpty()) {
            const qsizetype at = url.indexOf(start) + start.size();
            FUZZ_CHECK(url.mid(at, between.size()) == between, url);
            FUZZ_CHECK(url.indexOf(end, at) == at + between.size(), url);
        }
    }
    return 0;
}
