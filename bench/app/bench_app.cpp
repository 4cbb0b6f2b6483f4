// Prints, as medians of repeated runs on a private session bus:
//  - the time from starting H-Linvera (offscreen, a fresh home, the version already stored, every
//    service host a closed loopback port) to its first look at the mailbox, seen as the log line of
//    the command left there before the start; beside it the time a minimal Qt Widgets program takes
//    to show its window and fire a 30 ms timer, the same with the main window's captions, and the
//    ratio of the start-up to the window with captions;
//  - the hand-off: from starting a second `H-Linvera URL` to the log line of that URL in the first;
//  - resident memory (VmRSS) of H-Linvera, H-LinveraHelper and the minimal window when idle;
//  - CPU used by an idle H-Linvera (and its mailbox server) over 10 s.
// Each figure is printed beside its goal.
#include "BenchStats.h"
#include "ProcessFigures.h"
#include "conv/Endpoints.h"
#include "mailbox/MailboxClient.h"
#include "mailbox/MailboxNames.h"
#include "platform/RegAccess.h"
#include "platform/RegistryStore.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QProcess>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>

#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace linvera;
using linvera::bench::closedPort;
using linvera::bench::median;
using linvera::bench::residentMb;

namespace {

constexpr double kStartRatioGoal = 1.2;
constexpr double kHandOffGoalMs = 400;
constexpr double kMainMemoryGoalMb = 80;
constexpr double kHelperMemoryGoalMb = 15;
constexpr double kIdleCpuGoalPercent = 1.0;
constexpr int kIdleCpuSeconds = 10;
constexpr int kWaitMs = 30000;

QString spread(const QList<double>& values)
{
    if (values.isEmpty())
        return u"no runs"_s;
    const auto [low, high] = std::minmax_element(values.begin(), values.end());
    return u"min %1, max %2, %3 runs"_s.arg(*low, 0, 'f', 1).arg(*high, 0, 'f', 1).arg(values.size());
}

QString verdict(bool met)
{
    return met ? u"met"_s : u"MISSED"_s;
}

void print(const QString& line)
{
    std::puts(qUtf8Printable(line));
    std::fflush(stdout);
}

/// utime + stime of a process in clock ticks, from /proc.
std::optional<qint64> cpuTicks(qint64 pid)
{
    QFile stat(u"/proc/%1/stat"_s.arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray text = stat.readAll();
    // Fields after "(name)": state is field 3, utime 14 and stime 15.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return std::nullopt;
    return fields[11].toLongLong() + fields[12].toLongLong();
}

/// Polls until the condition holds or the time is up; returns the elapsed time or nothing.
template <typename Condition> std::optional<double> waitUntil(const QElapsedTimer& clock, Condition condition)
{
    const QDeadlineTimer deadline(kWaitMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return std::nullopt;
        QThread::usleep(500);
    }
    return double(clock.nsecsElapsed()) / 1e6;
}

/// True once the process has ended (gone, or a zombie nobody reaped yet).
bool processGone(qint64 pid)
{
    QFile stat(u"/proc/%1/stat"_s.arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray text = stat.readAll();
    const qsizetype close = text.lastIndexOf(')');
    return close < 0 || text.size() < close + 3 || text.at(close + 2) == 'Z' || text.at(close + 2) == 'X';
}

bool ended(QProcess& process, int ms)
{
    return process.state() == QProcess::NotRunning || process.waitForFinished(ms);
}

void stop(QProcess& process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.kill();
    process.waitForFinished(5000);
}

/// One fresh home for H-Linvera: its folders and its registry store with the version already stored
/// and every service host a loopback port nobody listens on.
class Home
{
public:
    Home()
    {
        m_valid = m_dir.isValid();
        for (const QString& folder : {config(), data(), cache(), temp(), runtime()})
            m_valid = m_valid && QDir().mkpath(folder);
        if (!m_valid)
            return;
        QFile::setPermissions(runtime(),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        platform::RegistryStore store(config() + u"/halvex-linvera/registry.sqlite3"_s);
        platform::RegistryStore::SharedOverride use(store);
        const QString nowhere = u"127.0.0.1:"_s + QString::number(closedPort());
        // Hosts are named as hosts, service bases as addresses.
        for (int i = 0; i < Endpoints::Count; ++i) {
            const auto name = Endpoints::Name(i);
            const bool address = Endpoints::defaultValue(name).startsWith(u"http"_s);
            SetRegString(platform::RegRoot::LocalMachine, QString::fromLatin1(Endpoints::kRegistryKey),
                         Endpoints::registryName(name), address ? u"http://"_s + nowhere : nowhere);
        }
        m_valid = SetRegString(platform::RegRoot::LocalMachine, u"SOFTWARE\\HALVEX\\linvera\\param"_s,
                               u"Version"_s, u"2_1_0"_s);
    }

    bool isValid() const { return m_valid; }
    QString path() const { return m_dir.path(); }
    QString config() const { return path() + u"/.config"_s; }
    QString data() const { return path() + u"/.local/share"_s; }
    QString cache() const { return path() + u"/.cache"_s; }
    QString temp() const { return path() + u"/tmp"_s; }
    QString runtime() const { return path() + u"/run"_s; }
    QString logFile() const { return path() + u"/Documents/halvex-linvera/log.txt"_s; }

    QProcessEnvironment environment(const QString& busAddress) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"HOME"_s, path());
        env.insert(u"XDG_CONFIG_HOME"_s, config());
        env.insert(u"XDG_DATA_HOME"_s, data());
        env.insert(u"XDG_CACHE_HOME"_s, cache());
        env.insert(u"TMPDIR"_s, temp());
        env.insert(u"XDG_RUNTIME_DIR"_s, runtime());
        env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
        env.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, busAddress);
        return env;
    }

private:
    QTemporaryDir m_dir;
    bool m_valid = false;
};

bool logHas(const QString& logFile, const QByteArray& text)
{
    QFile file(logFile);
    return file.open(QIODevice::ReadOnly) && file.readAll().contains(text);
}

class Bench
{
public:
    ~Bench()
    {
        m_daemon.terminate();
        if (!m_daemon.waitForFinished(5000))
            stop(m_daemon);
    }
    bool startBus();
    void run(int runs, int handOffs);

private:
    QString program(const QString& name) const
    {
        return QCoreApplication::applicationDirPath() + u'/' + name;
    }
    bool startHelper(QProcess& helper, std::unique_ptr<MailboxClient>& holder);
    std::optional<double> minimalWindowStart(bool stay, QProcess* keep, const QString& look = {});

    QProcess m_daemon;
    QTemporaryDir m_daemonHome;
    QString m_address;
};

bool Bench::startBus()
{
    // A bus of our own: nothing of the user's session is touched, and the tests' bus configuration
    // activates no installed service (a standard session bus would, from XDG_DATA_DIRS).
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"HOME"_s, m_daemonHome.path());
    env.insert(u"XDG_DATA_HOME"_s, m_daemonHome.path() + u"/share"_s);
    m_daemon.setProcessEnvironment(env);
    m_daemon.start(u"dbus-daemon"_s, {u"--config-file="_s + QStringLiteral(LINVERA_TEST_BUS_CONFIG),
                                      u"--nofork"_s, u"--print-address=1"_s});
    if (!m_daemon.waitForStarted(10000))
        return false;
    QByteArray line;
    const QDeadlineTimer deadline(10000);
    while (!line.contains('\n') && !deadline.hasExpired() && m_daemon.waitForReadyRead(1000))
        line += m_daemon.readAllStandardOutput();
    m_address = QString::fromUtf8(line.trimmed());
    if (m_address.isEmpty())
        return false;
    qputenv("DBUS_SESSION_BUS_ADDRESS", m_address.toUtf8());
    return QDBusConnection::sessionBus().isConnected();
}

bool Bench::startHelper(QProcess& helper, std::unique_ptr<MailboxClient>& holder)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, m_address);
    helper.setProcessEnvironment(env);
    helper.start(program(u"H-LinveraHelper"_s), {});
    if (!helper.waitForStarted(10000))
        return false;
    holder = std::make_unique<MailboxClient>();
    const QDeadlineTimer deadline(10000);
    while (!holder->nameHasOwner() && !deadline.hasExpired())
        QThread::msleep(5);
    return holder->tryConnect();
}

std::optional<double> Bench::minimalWindowStart(bool stay, QProcess* keep, const QString& look)
{
    QProcess local;
    QProcess& process = keep ? *keep : local;
    Home home;
    process.setProcessEnvironment(home.environment(m_address));
    QElapsedTimer clock;
    clock.start();
    QStringList arguments;
    if (stay)
        arguments << u"--stay"_s;
    if (!look.isEmpty())
        arguments << look;
    process.start(program(u"bench_minimal_window"_s), arguments);
    if (!process.waitForStarted(10000))
        return std::nullopt;
    QByteArray out;
    const QDeadlineTimer deadline(kWaitMs);
    while (!out.contains("shown") && !deadline.hasExpired() && process.waitForReadyRead(kWaitMs))
        out += process.readAllStandardOutput();
    const double ms = double(clock.nsecsElapsed()) / 1e6;
    if (!out.contains("shown"))
        return std::nullopt;
    if (!stay)
        ended(process, 10000);
    return ms;
}

void Bench::run(int runs, int handOffs)
{
    QList<double> startTimes;
    QList<double> logTimes;
    QList<double> minimalTimes;
    QList<double> textTimes;
    QList<double> captionTimes;
    QList<double> handOffTimes;
    QList<double> secondExitTimes;
    double mainMemory = -1;
    double helperMemory = -1;
    double minimalMemory = -1;
    double idleCpu = -1;
    double helperIdleCpu = -1;

    for (int i = 0; i < runs + 1; ++i) { // the first run of each only warms the caches
        Home home;
        if (!home.isValid()) {
            print(u"cannot prepare a home folder"_s);
            return;
        }
        QProcess helper;
        std::unique_ptr<MailboxClient> holder;
        if (!startHelper(helper, holder)) {
            print(u"the mailbox server did not start"_s);
            return;
        }
        const QByteArray url = "http://bench.example/start/" + QByteArray::number(i);
        holder->setCmdData(QString::fromLatin1(url));
        holder->setCmdDirty();

        QProcess main;
        main.setProcessEnvironment(home.environment(m_address));
        main.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QElapsedTimer clock;
        clock.start();
        main.start(program(u"H-Linvera"_s), {});
        // The first look takes the flag down; the conversion it starts then writes the log line.
        std::optional<double> tickMs;
        const std::optional<double> logMs = waitUntil(clock, [&] {
            if (!tickMs) {
                const auto flag = holder->checkCmdDirty();
                if (flag.ok && flag.value == 0)
                    tickMs = double(clock.nsecsElapsed()) / 1e6;
            }
            return tickMs && logHas(home.logFile(), url);
        });
        if (!logMs) {
            print(u"H-Linvera did not handle the waiting command in time"_s);
            stop(main);
            stop(helper);
            return;
        }
        if (i > 0) {
            startTimes.append(*tickMs);
            logTimes.append(*logMs);
        }

        const std::optional<double> minimal = minimalWindowStart(false, nullptr);
        if (!minimal) {
            print(u"the minimal window did not show"_s);
            stop(main);
            stop(helper);
            return;
        }
        if (i > 0)
            minimalTimes.append(*minimal);
        const std::optional<double> withText = minimalWindowStart(false, nullptr, u"--text"_s);
        if (withText && i > 0)
            textTimes.append(*withText);
        const std::optional<double> withCaptions = minimalWindowStart(false, nullptr, u"--captions"_s);
        if (withCaptions && i > 0)
            captionTimes.append(*withCaptions);

        if (i == runs) {
            // The last first instance stays for the hand-off, memory and idle figures.
            for (int h = 0; h < handOffs + 1; ++h) {
                // A start at any moment of the 200 ms polling period, not in step with it.
                QThread::msleep(50 + QRandomGenerator::global()->bounded(200));
                const QByteArray handed = "http://bench.example/hand/" + QByteArray::number(h);
                QProcess second;
                second.setProcessEnvironment(home.environment(m_address));
                QElapsedTimer handClock;
                handClock.start();
                second.start(program(u"H-Linvera"_s), {QString::fromLatin1(handed)});
                const qint64 secondPid = second.processId();
                std::optional<double> exitMs;
                const std::optional<double> handMs = waitUntil(handClock, [&] {
                    if (!exitMs && processGone(secondPid))
                        exitMs = double(handClock.nsecsElapsed()) / 1e6;
                    return logHas(home.logFile(), handed);
                });
                if (!handMs || !ended(second, kWaitMs)) {
                    print(u"the hand-off did not reach the first instance in time"_s);
                    stop(second);
                    break;
                }
                if (!exitMs)
                    exitMs = double(handClock.nsecsElapsed()) / 1e6;
                if (h > 0) {
                    handOffTimes.append(*handMs);
                    secondExitTimes.append(*exitMs);
                }
            }

            QThread::sleep(2);
            mainMemory = residentMb(main.processId());
            helperMemory = residentMb(helper.processId());
            const auto mainBefore = cpuTicks(main.processId());
            const auto helperBefore = cpuTicks(helper.processId());
            QThread::sleep(kIdleCpuSeconds);
            const auto mainAfter = cpuTicks(main.processId());
            const auto helperAfter = cpuTicks(helper.processId());
            const double ticksPerSecond = double(sysconf(_SC_CLK_TCK));
            if (mainBefore && mainAfter)
                idleCpu = double(*mainAfter - *mainBefore) / ticksPerSecond / kIdleCpuSeconds * 100.0;
            if (helperBefore && helperAfter)
                helperIdleCpu =
                    double(*helperAfter - *helperBefore) / ticksPerSecond / kIdleCpuSeconds * 100.0;
        }
        stop(main);
        holder.reset();
        stop(helper);
    }

    QProcess minimal;
    if (minimalWindowStart(true, &minimal)) {
        QThread::sleep(2);
        minimalMemory = residentMb(minimal.processId());
    }
    stop(minimal);

    const double start = median(startTimes);
    const double base = median(minimalTimes);
    const double captions = median(captionTimes);
    const double ratio = captions > 0 ? start / captions : 0;
    print(
        u"H-Linvera start to its first mailbox look (flag taken):  median %1 ms (%2)"_s.arg(start, 0, 'f', 1)
            .arg(spread(startTimes)));
    print(u"  to the log line of the command that waited there:   median %1 ms (%2)"_s
              .arg(median(logTimes), 0, 'f', 1)
              .arg(spread(logTimes)));
    print(u"minimal Qt Widgets window shown + 30 ms timer:         median %1 ms (%2)"_s.arg(base, 0, 'f', 1)
              .arg(spread(minimalTimes)));
    print(u"  with a line of Japanese text (fonts loaded):         median %1 ms (%2); ratio %3"_s
              .arg(median(textTimes), 0, 'f', 1)
              .arg(spread(textTimes))
              .arg(median(textTimes) > 0 ? start / median(textTimes) : 0, 0, 'f', 2));
    print(u"plain Qt Widgets window with the main window's captions: median %1 ms (%2)"_s
              .arg(captions, 0, 'f', 1)
              .arg(spread(captionTimes)));
    print(u"start-up ratio to the captions window: %1 (goal <= %2): %3"_s.arg(ratio, 0, 'f', 2)
              .arg(kStartRatioGoal)
              .arg(verdict(ratio > 0 && ratio <= kStartRatioGoal)));
    const double handOff = median(handOffTimes);
    print(u"hand-off, second start to the conversion in the first: median %1 ms (%2) (goal <= %3 ms): %4"_s
              .arg(handOff, 0, 'f', 1)
              .arg(spread(handOffTimes))
              .arg(kHandOffGoalMs)
              .arg(verdict(!handOffTimes.isEmpty() && handOff <= kHandOffGoalMs)));
    print(
        u"  the second instance had ended after: median %1 ms (%2)"_s.arg(median(secondExitTimes), 0, 'f', 1)
            .arg(spread(secondExitTimes)));
    print(u"idle resident memory: H-Linvera %1 MB (goal <= %2 MB): %3"_s.arg(mainMemory, 0, 'f', 1)
              .arg(kMainMemoryGoalMb)
              .arg(verdict(mainMemory > 0 && mainMemory <= kMainMemoryGoalMb)));
    print(u"idle resident memory: H-LinveraHelper %1 MB (goal <= %2 MB): %3"_s.arg(helperMemory, 0, 'f', 1)
              .arg(kHelperMemoryGoalMb)
              .arg(verdict(helperMemory > 0 && helperMemory <= kHelperMemoryGoalMb)));
    print(u"idle resident memory: minimal window %1 MB (for comparison)"_s.arg(minimalMemory, 0, 'f', 1));
    print(u"idle CPU over %1 s: H-Linvera %2 % (goal < %3 %): %4; H-LinveraHelper %5 %"_s.arg(kIdleCpuSeconds)
              .arg(idleCpu, 0, 'f', 2)
              .arg(kIdleCpuGoalPercent)
              .arg(verdict(idleCpu >= 0 && idleCpu < kIdleCpuGoalPercent))
              .arg(helperIdleCpu, 0, 'f', 2));
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(u"Start-up, hand-off, memory and idle CPU of H-Linvera."_s);
    parser.addHelpOption();
    const QCommandLineOption runsOption(u"runs"_s, u"Start-up runs (default 15)."_s, u"n"_s, u"15"_s);
    const QCommandLineOption handOffsOption(u"handoffs"_s, u"Hand-off runs (default 15)."_s, u"n"_s, u"15"_s);
    parser.addOption(runsOption);
    parser.addOption(handOffsOption);
    parser.process(app);
    const int runs = std::max(1, parser.value(runsOption).toInt());
    const int handOffs = std::max(1, parser.value(handOffsOption).toInt());

    print(u"bench_app (%1 build)"_s.arg(QString::fromLatin1(LINVERA_BENCH_BUILD_TYPE)));
    Bench bench;
    if (!bench.startBus()) {
        print(u"cannot start a private session bus"_s);
        return 1;
    }
    bench.run(runs, handOffs);
    return 0;
}
