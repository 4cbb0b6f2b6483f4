// A soak of the running H-Linvera: on a private session bus and in a private home, with loopback
// peers for every service, it drives conversions of every kind through the automation interface
// with faults mixed in, and second starts that hand URLs over through the mailbox. Then it prints
// whether the program is alive, its resident memory after the first conversions and at the end, its
// open descriptors at the start and at the end, the log's line count, and the handed-over URLs lost.
// Exits 1 when a check failed, 2 when the soak could not run.
#include "SoakDriver.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

void print(const QString& line)
{
    std::puts(qUtf8Printable(line));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(u"A soak of the running H-Linvera through its automation interface."_s);
    parser.addHelpOption();
    const QCommandLineOption conversions(u"conversions"_s, u"Conversions to drive (default 10000)."_s, u"n"_s,
                                         u"10000"_s);
    const QCommandLineOption secondStarts(
        u"second-starts"_s, u"Second starts handing over a URL (default 1000)."_s, u"n"_s, u"1000"_s);
    const QCommandLineOption baseline(
        u"memory-baseline"_s,
        u"Conversions before the first memory reading (default: 1000, or a fifth of "
        u"fewer conversions)."_s,
        u"n"_s, u"0"_s);
    const QCommandLineOption seed(u"seed"_s, u"Seed of the mix of conversions and faults."_s, u"n"_s,
                                  u"20261207"_s);
    const QCommandLineOption probeErrors(
        u"probe-socket-errors"_s, u"Also probes ending in a socket error; each leaves a message box open."_s);
    parser.addOptions({conversions, secondStarts, baseline, seed, probeErrors});
    parser.process(app);

    linvera::soak::SoakOptions options;
    options.conversions = qMax(1, parser.value(conversions).toInt());
    options.secondStarts = qMax(0, parser.value(secondStarts).toInt());
    options.memoryBaselineAt = qMax(0, parser.value(baseline).toInt());
    options.seed = parser.value(seed).toUInt();
    options.probeSocketErrors = parser.isSet(probeErrors);
    options.programFolder = QCoreApplication::applicationDirPath();
    options.print = print;

    print(u"bench_soak (%1 build): %2 conversions, %3 second starts"_s
              .arg(QString::fromLatin1(LINVERA_BENCH_BUILD_TYPE))
              .arg(options.conversions)
              .arg(options.secondStarts));
    const linvera::soak::SoakResult result = linvera::soak::runSoak(options);
    for (const QString& line : linvera::soak::describe(result, options))
        print(line);
    if (!result.setupError.isEmpty())
        return 2;
    return result.passed() ? 0 : 1;
}
