// A block list as a stranger could publish it, then a few hosts looked up in it and judged. The input
// is the list, a NUL, then hosts one a line.
#include "FuzzSupport.h"
#include "verdict/HostList.h"
#include "verdict/Verdict.h"

using namespace Qt::StringLiterals;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QList<QByteArray> parts = linvera::fuzz::splitAtNul(data, size, 2);
    QStringList lookups = {u"ads.example"_s, u"x.ads.example"_s};
    if (parts.size() == 2)
        lookups = QString::fromUtf8(parts[1]).split(u'\n').mid(0, 8);

    linvera::verdict::HostSet set;
    const linvera::verdict::HostListRead read = set.loadBytes(parts[0]);
    FUZZ_CHECK(read.added == set.size(), QString::fromUtf8(parts[0]));
    FUZZ_CHECK(read.skippedLines <= parts[0].count('\n') + parts[0].count('\r') + 1,
               QString::fromUtf8(parts[0]));

    // Every listed host matches itself and its subdomains.
    const QStringList hosts = set.hosts();
    for (const QString& host : hosts.mid(0, 16)) {
        FUZZ_CHECK(set.matchOf(host) == host, host);
        if (host.size() < 250)
            FUZZ_CHECK(!set.matchOf(QString(u"a."_s + host)).isEmpty(), host);
    }

    const linvera::verdict::ImitatedSites sites;
    for (const QString& host : lookups) {
        const QString entry = set.matchOf(host);
        FUZZ_CHECK(entry.isEmpty() || hosts.contains(entry), host);
        const auto verdict =
            linvera::verdict::JudgeDestination(u"https://"_s + host + u"/"_s, {&set, &sites});
        FUZZ_CHECK(verdict.judged, host);
        FUZZ_CHECK(verdict.reasons.isEmpty() == (verdict.level == linvera::verdict::VerdictLevel::Ok), host);
        FUZZ_CHECK(!linvera::verdict::VerdictLine(verdict).contains(u'\n') || host.contains(u'\n'), host);
    }
    return 0;
}
