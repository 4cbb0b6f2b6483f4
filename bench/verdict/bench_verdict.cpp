// Prints the load time of a generated 100,000-line hosts-form block list (from the file, as the program
// reads it), the time of one lookup after loading (hits through a parent domain and misses), and the
// time per address of the whole verdict and of tracker stripping with the shipped rules. Times are the
// converting thread's processor time, which other load on the machine disturbs less than the wall clock.
// `--lines N` sets the list's length. The whole program's throughput with the review and without it
// (`linvera --no-review`) is part 5 of bench_conv.
#include "BenchStats.h"
#include "verdict/HostList.h"
#include "verdict/TrackerRules.h"
#include "verdict/Verdict.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

using namespace Qt::StringLiterals;
using namespace linvera::verdict;
using namespace linvera::bench;

namespace {

constexpr int kLoads = 7;
constexpr int kLookupRounds = 7;
constexpr int kLookupsPerRound = 200000;
constexpr double kLoadGoalMs = 100.0;
constexpr double kLookupGoalNs = 1000.0;
constexpr int kAddresses = 2000;

// Names like those of public lists: a few labels, some sharing a parent domain.
QByteArray generatedList(int lines)
{
    QByteArray list = "# generated block list\n127.0.0.1 localhost\n"_ba;
    list.reserve(qsizetype(lines) * 40);
    for (int i = 0; i < lines; ++i) {
        list += (i % 3 == 0 ? "0.0.0.0 " : i % 3 == 1 ? "127.0.0.1 " : "");
        list += "ads" + QByteArray::number(i) + ".tracker" + QByteArray::number(i % 997) + ".example";
        list += (i % 10 == 0 ? "\r\n" : "\n");
    }
    return list;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOption({u"lines"_s, u"Lines of the generated list."_s, u"N"_s, u"100000"_s});
    parser.addHelpOption();
    parser.process(app);
    const int lines = parser.value(u"lines"_s).toInt();

    std::printf("bench_verdict (%s build)\n", LINVERA_BENCH_BUILD_TYPE);
    QTemporaryDir folder;
    const QString path = folder.filePath(u"blocklist.txt"_s);
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(generatedList(lines)) < 0) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
    }

    QList<double> loadMs;
    HostSet set;
    for (int i = 0; i < kLoads; ++i) {
        HostSet fresh;
        const double start = threadSeconds();
        const HostListRead read = fresh.loadFile(path);
        loadMs.append((threadSeconds() - start) * 1000.0);
        if (read.added != lines) {
            std::fprintf(stderr, "loaded %lld hosts of %d\n", qlonglong(read.added), lines);
            return 1;
        }
        set = std::move(fresh);
    }
    std::printf("block list of %d lines: load %.1f ms median (min %.1f, max %.1f; goal <= %.0f ms)\n", lines,
                median(loadMs), minimum(loadMs), maximum(loadMs), kLoadGoalMs);

    // Hosts as the verdict asks: half are subdomains of listed hosts, half are listed nowhere.
    QStringList hosts;
    for (int i = 0; i < 1024; ++i) {
        const int listed = i * 7 % lines;
        if (i % 2)
            hosts.append(u"www.ads"_s + QString::number(listed) + u".tracker"_s +
                         QString::number(listed % 997) + u".example"_s);
        else
            hosts.append(u"cdn"_s + QString::number(i) + u".static.news.example"_s);
    }
    QList<double> lookupNs;
    qsizetype hits = 0;
    for (int round = 0; round < kLookupRounds; ++round) {
        hits = 0;
        const double start = threadSeconds();
        for (int i = 0; i < kLookupsPerRound; ++i)
            hits += set.matches(hosts[i & 1023]);
        lookupNs.append((threadSeconds() - start) * 1e9 / kLookupsPerRound);
    }
    std::printf(
        "lookup after loading: %.0f ns median (min %.0f, max %.0f; goal <= %.0f ns), %lld of %d hit\n",
        median(lookupNs), minimum(lookupNs), maximum(lookupNs), kLookupGoalNs, qlonglong(hits),
        kLookupsPerRound);

    TrackerRules rules;
    rules.loadFile(QStringLiteral(LINVERA_SHIPPED_TRACKERS));
    const ImitatedSites sites;
    const QStringList addresses = {
        u"https://www.example.com/news/2026/12/08/article.html?id=12345&utm_source=feed&utm_medium=rss"_s,
        u"https://p\u0430ypal-login.example/signin?session=abc"_s,
        u"http://日本語.jp/ページ?q=%E6%97%A5"_s,
        u"https://www.google.com/url?q=https%3A%2F%2Fnews.example%2F%3Fid%3D7&ved=1"_s,
    };
    double start = threadSeconds();
    int flagged = 0;
    for (int i = 0; i < kAddresses; ++i)
        flagged +=
            JudgeDestination(addresses[i % addresses.size()], {&set, &sites}).level == VerdictLevel::Warn;
    const double verdictUs = (threadSeconds() - start) * 1e6 / kAddresses;
    start = threadSeconds();
    int removed = 0;
    for (int i = 0; i < kAddresses; ++i)
        removed += rules.strip(addresses[i % addresses.size()]).removed;
    const double stripUs = (threadSeconds() - start) * 1e6 / kAddresses;
    std::printf("per address: verdict %.1f us (%d warned), stripping %.1f us with %lld shipped providers "
                "(%d parameters removed)\n",
                verdictUs, flagged, stripUs, qlonglong(rules.size()), removed);
    std::printf("the whole program with and without the review: bench_conv --only 5\n");
    return 0;
}
