// Prints, in one run: conversions per second through StartConv for a local expression rule behind
// 999 others (without and with the log), the time to load a 10,000-line tinyurls.txt, the redirect
// probe in process beside curl's whole run against the same loopback host, and the headless program
// `linvera URL` as a whole process beside curl, and `linvera` converting 3,000 URLs in one run against
// 1,000 and 10,000 rules with the log on, with the destination review and without it (`--no-review`).
// Conversion rates are given by the wall clock and per CPU-second of the converting thread (or process); the
// goals are judged on the latter, which other load on the machine disturbs less. `--only N` runs one part
// (for a profiler); `--linvera PATH` runs another build of the headless program (an older one, for a
// before-and-after figure).
#include "BenchStats.h"
#include "BenchView.h"
#include "LoopbackRedirectHost.h"
#include "conv/ConversionEngine.h"
#include "conv/RedirectProbe.h"
#include "conv/ServiceRules.h"
#include "verdict/Verdict.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <optional>
#include <vector>

#include <sys/resource.h>

using namespace Qt::StringLiterals;
using namespace linvera;
using namespace linvera::bench;

namespace {

constexpr int kRuleCount = 1000;
constexpr int kConversionRounds = 7;
constexpr int kConversionsPerRound = 5000;
constexpr int kWarmUpConversions = 500;
constexpr double kConversionGoal = 10000.0; // per second

constexpr int kLoadLines = 10000;
constexpr int kLoads = 9;

constexpr int kProbeWarmUps = 5;
constexpr int kProbes = 50;
constexpr int kProcessWarmUps = 2;
constexpr int kProcessRuns = 30;
constexpr int kProbeWaitMs = 10000;
constexpr int kProcessWaitMs = 30000;
constexpr double kLinveraGoalRatio = 2.0; // at most this many times curl's whole run

// linvera converting many URLs in one run, the matching rule last.
constexpr int kProcessUrls = 3000;
constexpr int kRulesProcessRuns = 7;
struct RuleListGoal
{
    int rules;
    double perSecond;
};
constexpr RuleListGoal kRuleListGoals[] = {{1000, 60000.0}, {10000, 33000.0}};

const QByteArray kRedirectTarget = "http://target.example/x";
const QString kProbePath = u"/bench"_s;

// The rule the measured conversions hit, after all the others.
const QString kLastRule = u"^https?://go\\.bench\\.example/(\\w+)$\thttp://www.bench.example/watch?v=(1)\t"_s;
const QString kInputPrefix = u"https://go.bench.example/"_s;
const QString kResultPrefix = u"http://www.bench.example/watch?v="_s;

double elapsedMs(const QElapsedTimer& timer)
{
    return double(timer.nsecsElapsed()) / 1e6;
}

// User plus system time of all waited-for child processes so far.
double childrenCpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return (double(usage.ru_utime.tv_sec) + double(usage.ru_stime.tv_sec)) * 1e3 +
           (double(usage.ru_utime.tv_usec) + double(usage.ru_stime.tv_usec)) / 1e3;
}

QByteArray local(const QString& text)
{
    return text.toLocal8Bit();
}

// Short-link rules as real lists hold them: plain host rules for the probe, expression rules with a
// template, and service API rules with an answer pattern. None of them matches a go.bench.example URL.
QStringList realisticRules(int count)
{
    QStringList rules;
    rules.reserve(count);
    for (int i = 0; i < count; ++i) {
        const QString n = QString::number(i).rightJustified(3, u'0');
        switch (i % 3) {
        case 0:
            rules.append(u"svc"_s + n + u".example/\tLocation:\t"_s);
            break;
        case 1:
            rules.append(u"^https?://svc"_s + n + u"\\.example/(\\w+)$\thttp://www.long"_s + n +
                         u".example/item/(1)\t"_s);
            break;
        default:
            rules.append(u"sh"_s + n + u".example/\thttp://api.sh"_s + n + u".example/expand?url=($)\t"_s +
                         u"<long_url>(.*?)</long_url>"_s);
            break;
        }
    }
    return rules;
}

QString crlfText(const QStringList& lines)
{
    return lines.join(u"\r\n"_s) + u"\r\n"_s;
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

// Distinct word codes, so no conversion repeats an earlier input.
QString code(int n)
{
    return u"c"_s + QString::number(n, 36) + u"x"_s + QString::number(n * 7919 % 100003);
}

struct Figure
{
    QString label;
    QString value;
    QString goal;
    QString verdict; // PASS, MISS or empty for a figure without a goal
};

QList<Figure> g_table;
QString g_linvera; // the headless program to run

void addFigure(const QString& label, const QString& value, const QString& goal = QString(),
               std::optional<bool> pass = std::nullopt)
{
    g_table.append({label, value, goal, pass ? (*pass ? u"PASS"_s : u"MISS"_s) : QString()});
}

QString fixed(double value, int decimals)
{
    return QString::number(value, 'f', decimals);
}

// ---------------------------------------------------------------------------------------------
// Conversions per second

struct Throughput
{
    double medianPerSecond = 0;
    double medianPerCpuSecond = 0;
    QList<double> rounds;
    QList<double> cpuRounds;
    bool correct = true;
    QString problem;
};

Throughput measureConversions(ConversionEngine& engine, BenchView& view, int& nextCode)
{
    int finished = 0;
    const auto counter =
        QObject::connect(&engine, &ConversionEngine::conversionFinished, &engine,
                         [&finished](int mode) { finished += mode == ConversionEngine::Preview; });
    Throughput result;
    const auto convertOne = [&](const QString& input, const QString& expected) {
        view.setBeforeUrl(input);
        engine.StartConv();
        if (result.correct &&
            (engine.lConvMode() != ConversionEngine::Preview || view.afterUrl() != expected)) {
            result.correct = false;
            result.problem = u"input "_s + input + u" gave mode "_s + QString::number(engine.lConvMode()) +
                             u" and \""_s + view.afterUrl() + u"\""_s;
        }
    };

    for (int i = 0; i < kWarmUpConversions; ++i) {
        const QString c = code(nextCode++);
        convertOne(kInputPrefix + c, kResultPrefix + c);
    }
    for (int round = 0; round < kConversionRounds; ++round) {
        QStringList inputs;
        QStringList expected;
        inputs.reserve(kConversionsPerRound);
        expected.reserve(kConversionsPerRound);
        for (int i = 0; i < kConversionsPerRound; ++i) {
            const QString c = code(nextCode++);
            inputs.append(kInputPrefix + c);
            expected.append(kResultPrefix + c);
        }
        finished = 0;
        QElapsedTimer timer;
        const double cpuStart = threadSeconds();
        timer.start();
        for (int i = 0; i < kConversionsPerRound; ++i)
            convertOne(inputs[i], expected[i]);
        const double seconds = double(timer.nsecsElapsed()) / 1e9;
        const double cpuSeconds = threadSeconds() - cpuStart;
        result.rounds.append(kConversionsPerRound / seconds);
        result.cpuRounds.append(kConversionsPerRound / cpuSeconds);
        if (finished != kConversionsPerRound && result.correct) {
            result.correct = false;
            result.problem = QString::number(finished) + u" of "_s + QString::number(kConversionsPerRound) +
                             u" conversions reported mode 1 as finished"_s;
        }
    }
    QObject::disconnect(counter);
    result.medianPerSecond = median(result.rounds);
    result.medianPerCpuSecond = median(result.cpuRounds);
    return result;
}

qsizetype countLogLines(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    return file.readAll().count("\r\n");
}

void benchConversions(const QString& scratch)
{
    std::printf("\n[1] StartConv, mode 1: %d rules loaded, the matching expression rule last\n", kRuleCount);
    BenchView view;
    CountingMessageBoxes boxes;
    ConversionEngine engine(view, boxes);
    engine.setTempFolder(scratch);

    QStringList rules = realisticRules(kRuleCount - 1);
    rules.append(kLastRule);
    engine.shortLinkRules().loadFromText(crlfText(rules), boxes);
    std::printf("    rules loaded: %lld, message boxes while loading: %d\n",
                static_cast<long long>(engine.shortLinkRules().size()), boxes.count());

    int nextCode = 0;
    const auto report = [](const char* name, const Throughput& t) {
        std::printf("    %-10s wall clock: median %6.0f /s (rounds of %d: min %.0f, max %.0f)\n", name,
                    t.medianPerSecond, kConversionsPerRound, minimum(t.rounds), maximum(t.rounds));
        std::printf("    %-10s thread CPU: median %6.0f /s (min %.0f, max %.0f)%s%s\n", "",
                    t.medianPerCpuSecond, minimum(t.cpuRounds), maximum(t.cpuRounds),
                    t.correct ? "" : "  WRONG RESULT: ", t.correct ? "" : local(t.problem).constData());
    };

    engine.setLogFilePath(QString());
    const Throughput noLog = measureConversions(engine, view, nextCode);
    report("no log:", noLog);

    const QString logPath = QDir(scratch).filePath(u"log.txt"_s);
    engine.setLogFilePath(logPath);
    const int loggedBefore = nextCode;
    const Throughput withLog = measureConversions(engine, view, nextCode);
    report("with log:", withLog);
    const qsizetype logLines = countLogLines(logPath);
    const qsizetype expectedLines = nextCode - loggedBefore;
    std::printf("    log lines written: %lld of %lld expected (%lld bytes)\n",
                static_cast<long long>(logLines), static_cast<long long>(expectedLines),
                static_cast<long long>(QFileInfo(logPath).size()));
    if (boxes.count() > 0)
        std::printf("    message boxes during the runs: %d (last: %s)\n", boxes.count(),
                    local(boxes.lastText()).constData());

    // Judged per CPU-second of the converting thread; the wall clock also counts the time other
    // processes on the machine held the core.
    const QString goal = u">= "_s + fixed(kConversionGoal, 0) + u" /s"_s;
    addFigure(u"[1a] StartConv mode 1, no log (wall clock)"_s, fixed(noLog.medianPerSecond, 0) + u" /s"_s);
    addFigure(u"[1a] StartConv mode 1, no log (thread CPU)"_s, fixed(noLog.medianPerCpuSecond, 0) + u" /s"_s,
              goal, noLog.correct && noLog.medianPerCpuSecond >= kConversionGoal);
    addFigure(u"[1b] StartConv mode 1, log on (wall clock)"_s, fixed(withLog.medianPerSecond, 0) + u" /s"_s);
    addFigure(u"[1b] StartConv mode 1, log on (thread CPU)"_s,
              fixed(withLog.medianPerCpuSecond, 0) + u" /s"_s, goal,
              withLog.correct && logLines == expectedLines && withLog.medianPerCpuSecond >= kConversionGoal);
}

// ---------------------------------------------------------------------------------------------
// Loading the rule file

void benchRuleLoading(const QString& scratch)
{
    std::printf("\n[2] LoadShortLinkRules: a %d-line tinyurls.txt (CR LF, plain and expression rules)\n",
                kLoadLines);
    const QString path = QDir(scratch).filePath(u"tinyurls.txt"_s);
    QStringList lines = realisticRules(kLoadLines - 1);
    lines.append(kLastRule);
    if (!writeFile(path, crlfText(lines).toLatin1())) {
        std::printf("    cannot write %s\n", local(path).constData());
        addFigure(u"[2]  Load 10,000-line tinyurls.txt"_s, u"failed"_s);
        return;
    }
    CountingMessageBoxes boxes;
    QList<double> times;
    QList<double> cpuTimes;
    qsizetype loaded = 0;
    for (int i = 0; i < kLoads; ++i) {
        ShortLinkRules rules;
        QElapsedTimer timer;
        const double cpuStart = threadSeconds();
        timer.start();
        rules.LoadShortLinkRules(path, boxes);
        times.append(elapsedMs(timer));
        cpuTimes.append((threadSeconds() - cpuStart) * 1e3);
        loaded = rules.size();
    }
    std::printf("    file %lld bytes, rules loaded %lld, message boxes %d\n",
                static_cast<long long>(QFileInfo(path).size()), static_cast<long long>(loaded),
                boxes.count());
    std::printf("    %d loads: median %.2f ms (min %.2f, max %.2f)\n", kLoads, median(times), minimum(times),
                maximum(times));
    std::printf("    thread CPU: median %.2f ms (min %.2f, max %.2f)\n", median(cpuTimes), minimum(cpuTimes),
                maximum(cpuTimes));
    const bool complete = loaded == kLoadLines && boxes.count() == 0;
    addFigure(u"[2]  Load 10,000-line tinyurls.txt"_s,
              fixed(median(times), 2) + (complete ? u" ms"_s : u" ms, rules lost"_s));
    addFigure(u"[2]  Load 10,000-line tinyurls.txt (thread CPU)"_s, fixed(median(cpuTimes), 2) + u" ms"_s);
}

// ---------------------------------------------------------------------------------------------
// The redirect probe, curl and the headless program

struct ProbeFigures
{
    QList<double> probeMs;
    QList<double> startConvMs;
    int failures = 0;
    QString problem;
};

// Runs `start`, then waits (bounded) until a handler sets `done`; true when it did.
template <typename Start> bool waitFor(QEventLoop& loop, bool& done, Start start)
{
    done = false;
    start();
    if (done)
        return true;
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
    guard.start(kProbeWaitMs);
    loop.exec();
    return done;
}

ProbeFigures measureProbe(quint16 port)
{
    ProbeFigures figures;
    QEventLoop loop;
    bool done = false;
    QString location;

    RedirectProbe probe;
    QObject::connect(&probe, &RedirectProbe::answered, &loop, [&](const QString& header) {
        location = ProbeLocation(header);
        done = true;
        loop.quit();
    });
    QObject::connect(&probe, &RedirectProbe::failed, &loop, [&](const QString& description) {
        location.clear();
        figures.problem = description;
        done = true;
        loop.quit();
    });
    for (int i = 0; i < kProbeWarmUps + kProbes; ++i) {
        location.clear();
        QElapsedTimer timer;
        timer.start();
        const bool came =
            waitFor(loop, done, [&] { probe.StartRedirectProbe(u"127.0.0.1"_s, kProbePath, port); });
        const double ms = elapsedMs(timer);
        if (!came || location != QString::fromLatin1(kRedirectTarget)) {
            ++figures.failures;
            if (figures.problem.isEmpty())
                figures.problem = came ? u"location \""_s + location + u"\""_s : u"no answer in time"_s;
            continue;
        }
        if (i >= kProbeWarmUps)
            figures.probeMs.append(ms);
    }

    // The same through the whole engine: StartConv on a "Location:" rule up to conversionFinished.
    BenchView view;
    CountingMessageBoxes boxes;
    ConversionEngine engine(view, boxes);
    engine.shortLinkRules().loadFromText(u"127.0.0.1:"_s + QString::number(port) + u"/\tLocation:\t\r\n"_s,
                                         boxes);
    QObject::connect(&engine, &ConversionEngine::conversionFinished, &loop, [&](int) {
        done = true;
        loop.quit();
    });
    const QString url = u"http://127.0.0.1:"_s + QString::number(port) + kProbePath;
    for (int i = 0; i < kProbeWarmUps + kProbes; ++i) {
        QElapsedTimer timer;
        timer.start();
        const bool came = waitFor(loop, done, [&] {
            view.setBeforeUrl(url);
            engine.StartConv();
        });
        const double ms = elapsedMs(timer);
        if (!came || engine.lConvMode() != ConversionEngine::HeaderProbe ||
            view.afterUrl() != QString::fromLatin1(kRedirectTarget)) {
            ++figures.failures;
            if (figures.problem.isEmpty())
                figures.problem = u"StartConv gave \""_s + view.afterUrl() + u"\""_s;
            continue;
        }
        if (i >= kProbeWarmUps)
            figures.startConvMs.append(ms);
    }
    return figures;
}

struct ProcessRun
{
    bool ok = false;
    double ms = 0;
    double cpuMs = 0;
    QString output;
    QString error;
};

ProcessRun runProcess(const QString& program, const QStringList& arguments,
                      const QProcessEnvironment& environment)
{
    ProcessRun run;
    QProcess process;
    process.setProcessEnvironment(environment);
    const double cpuBefore = childrenCpuMs();
    QElapsedTimer timer;
    timer.start();
    process.start(program, arguments);
    if (!process.waitForStarted(kProcessWaitMs)) {
        run.error = process.errorString();
        return run;
    }
    if (!process.waitForFinished(kProcessWaitMs)) {
        run.error = u"no end within "_s + QString::number(kProcessWaitMs) + u" ms"_s;
        process.kill();
        process.waitForFinished(kProcessWaitMs);
        return run;
    }
    run.ms = elapsedMs(timer);
    run.cpuMs = childrenCpuMs() - cpuBefore;
    run.output = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.error = QString::fromLocal8Bit(process.readAllStandardError()).trimmed();
    run.ok = process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    return run;
}

struct ProcessSeries
{
    QList<double> ms;
    QList<double> cpuMs;
    int failures = 0;
    QString problem;

    void add(const ProcessRun& run, const QString& result, bool measured)
    {
        if (!run.ok || result != QString::fromLatin1(kRedirectTarget)) {
            ++failures;
            if (problem.isEmpty())
                problem = u"result \""_s + result + u"\", stderr \""_s + run.error + u"\""_s;
            return;
        }
        if (measured) {
            ms.append(run.ms);
            cpuMs.append(run.cpuMs);
        }
    }
};

// HOME and the config folder of the headless program: a rule for the loopback host, no picture rules.
bool prepareLinveraHome(const QString& scratch, quint16 port, QProcessEnvironment& environment)
{
    const QString home = QDir(scratch).filePath(u"home"_s);
    const QString config = QDir(scratch).filePath(u"config"_s);
    const QString data = QDir(home).filePath(u"Documents/halvex-linvera"_s);
    if (!QDir().mkpath(data) || !QDir().mkpath(config))
        return false;
    const QByteArray rule = "127.0.0.1:" + QByteArray::number(port) + "/\tLocation:\t\r\n";
    if (!writeFile(QDir(data).filePath(u"tinyurls.txt"_s), rule) ||
        !writeFile(QDir(data).filePath(u"picturls.txt"_s), QByteArray()))
        return false;
    environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"HOME"_s, home);
    environment.insert(u"XDG_CONFIG_HOME"_s, config);
    return true;
}

void benchProbeAndProcesses(const QString& scratch, bool probeOnly)
{
    LoopbackRedirectHost host(kRedirectTarget);
    const quint16 port = host.startListening();
    std::printf("\n[3] Mode-4 redirect probe against a loopback host (its own thread), port %u\n",
                unsigned(port));
    if (port == 0) {
        std::printf("    the loopback host could not listen\n");
        addFigure(u"[3]  Redirect probe"_s, u"no host"_s, QString(), false);
        return;
    }

    const ProbeFigures probe = measureProbe(port);
    std::printf("    StartRedirectProbe -> answered: %d probes, median %.3f ms (min %.3f, max %.3f)\n",
                kProbes, median(probe.probeMs), minimum(probe.probeMs), maximum(probe.probeMs));
    std::printf("    StartConv -> conversionFinished (mode 4): median %.3f ms (min %.3f, max %.3f)\n",
                median(probe.startConvMs), minimum(probe.startConvMs), maximum(probe.startConvMs));
    if (probe.failures)
        std::printf("    failures: %d (%s)\n", probe.failures, local(probe.problem).constData());
    addFigure(u"[3a] Probe in process (StartRedirectProbe)"_s, fixed(median(probe.probeMs), 3) + u" ms"_s);
    addFigure(u"[3b] StartConv mode 4 in process"_s, fixed(median(probe.startConvMs), 3) + u" ms"_s);
    if (probeOnly)
        return;

    const QString curl = QStandardPaths::findExecutable(u"curl"_s);
    const QString linvera = g_linvera;
    const bool haveLinvera = QFileInfo(linvera).isExecutable();
    QProcessEnvironment environment;
    const bool homeReady = prepareLinveraHome(scratch, port, environment);
    if (curl.isEmpty())
        std::printf("    curl not found: the whole-process comparisons are skipped\n");
    if (!haveLinvera)
        std::printf("    %s not found: build the linvera target\n", local(linvera).constData());
    if (!homeReady)
        std::printf("    cannot prepare the scratch HOME for linvera\n");

    const QString url = u"http://127.0.0.1:"_s + QString::number(port) + kProbePath;
    const QStringList curlArguments{u"-s"_s, u"-o"_s, u"/dev/null"_s, u"-w"_s, u"%{redirect_url}"_s, url};
    ProcessSeries curlSeries;
    ProcessSeries linveraSeries;
    const bool runLinvera = haveLinvera && homeReady;
    // Interleaved, so that other load on the machine touches both series alike.
    for (int i = 0; i < kProcessWarmUps + kProcessRuns && !curl.isEmpty(); ++i) {
        const bool measured = i >= kProcessWarmUps;
        const ProcessRun c = runProcess(curl, curlArguments, environment);
        curlSeries.add(c, c.output, measured);
        if (runLinvera) {
            const ProcessRun l = runProcess(linvera, {url}, environment);
            linveraSeries.add(l, l.output.section(u'\n', 0, 0), measured);
        }
    }
    if (curl.isEmpty())
        return;

    const double curlMs = median(curlSeries.ms);
    const double probeMs = median(probe.probeMs);
    std::printf("    curl -s -o /dev/null -w '%%{redirect_url}' %s (whole process): %d runs, median %.3f ms "
                "(min %.3f, max %.3f)\n",
                local(url).constData(), kProcessRuns, curlMs, minimum(curlSeries.ms), maximum(curlSeries.ms));
    if (curlSeries.failures)
        std::printf("    curl failures: %d (%s)\n", curlSeries.failures,
                    local(curlSeries.problem).constData());
    std::printf("    curl CPU time (user + system) per run: median %.3f ms\n", median(curlSeries.cpuMs));
    addFigure(u"[3c] curl whole process"_s, fixed(curlMs, 3) + u" ms"_s);
    const bool probeFine = probe.failures == 0 && curlSeries.failures == 0 && !probe.probeMs.isEmpty() &&
                           !curlSeries.ms.isEmpty();
    addFigure(u"[3]  probe / curl"_s, fixed(curlMs > 0 ? probeMs / curlMs : 0, 3), u"<= 1"_s,
              probeFine && probeMs <= curlMs);

    std::printf("\n[4] linvera URL as a whole process (mode 4 against the same host)\n");
    if (!runLinvera) {
        addFigure(u"[4]  linvera / curl"_s, u"not run"_s, u"<= 2"_s, false);
        return;
    }
    const double linveraMs = median(linveraSeries.ms);
    std::printf("    %s %s: %d runs, median %.3f ms (min %.3f, max %.3f)\n", local(linvera).constData(),
                local(url).constData(), kProcessRuns, linveraMs, minimum(linveraSeries.ms),
                maximum(linveraSeries.ms));
    if (linveraSeries.failures)
        std::printf("    linvera failures: %d (%s)\n", linveraSeries.failures,
                    local(linveraSeries.problem).constData());
    std::printf("    linvera CPU time (user + system) per run: median %.3f ms\n",
                median(linveraSeries.cpuMs));
    std::printf("    curl median of the same interleaved runs: %.3f ms (CPU %.3f ms)\n", curlMs,
                median(curlSeries.cpuMs));
    std::printf("    loopback host answered %d requests in all\n", host.answered());
    addFigure(u"[4a] linvera URL whole process"_s, fixed(linveraMs, 3) + u" ms"_s);
    const double curlCpu = median(curlSeries.cpuMs);
    addFigure(u"[4]  linvera / curl, CPU time"_s,
              fixed(curlCpu > 0 ? median(linveraSeries.cpuMs) / curlCpu : 0, 3));
    const bool linveraFine = linveraSeries.failures == 0 && !linveraSeries.ms.isEmpty() && curlMs > 0;
    addFigure(u"[4]  linvera / curl"_s, fixed(curlMs > 0 ? linveraMs / curlMs : 0, 3),
              u"<= "_s + fixed(kLinveraGoalRatio, 0), linveraFine && linveraMs <= kLinveraGoalRatio * curlMs);
}

// ---------------------------------------------------------------------------------------------
// linvera converting many URLs in one run

// HOME with a tinyurls.txt of `ruleCount` rules, the matching one last, and no picture rules.
bool prepareRulesHome(const QString& folder, int ruleCount, QProcessEnvironment& environment)
{
    const QString home = QDir(folder).filePath(u"home"_s);
    const QString config = QDir(folder).filePath(u"config"_s);
    const QString data = QDir(home).filePath(u"Documents/halvex-linvera"_s);
    if (!QDir().mkpath(data) || !QDir().mkpath(config))
        return false;
    QStringList rules = realisticRules(ruleCount - 1);
    rules.append(kLastRule);
    if (!writeFile(QDir(data).filePath(u"tinyurls.txt"_s), crlfText(rules).toLatin1()) ||
        !writeFile(QDir(data).filePath(u"picturls.txt"_s), QByteArray()))
        return false;
    environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"HOME"_s, home);
    environment.insert(u"XDG_CONFIG_HOME"_s, config);
    return true;
}

// Whether the program can leave the review out; an older build for a before-and-after figure cannot.
bool knowsNoReview(const QString& program)
{
    QProcess process;
    process.start(program, {u"--help"_s});
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished(1000);
        return false;
    }
    return process.readAll().contains("--no-review");
}

void benchRuleLists(const QString& scratch)
{
    std::printf("\n[5] linvera URL x %d in one run (log on), the matching expression rule last;\n"
                "    each run once with the destination review and tracker removal and once with\n"
                "    --no-review, alternating\n",
                kProcessUrls);
    if (!QFileInfo(g_linvera).isExecutable()) {
        std::printf("    %s not found: build the linvera target\n", local(g_linvera).constData());
        addFigure(u"[5]  linvera, many URLs"_s, u"not run"_s, QString(), false);
        return;
    }
    std::printf("    program: %s\n", local(g_linvera).constData());
    int nextCode = 100000; // apart from the codes of part 1
    for (const RuleListGoal& goal : kRuleListGoals) {
        const QString folder = QDir(scratch).filePath(u"rules"_s + QString::number(goal.rules));
        QProcessEnvironment environment;
        if (!prepareRulesHome(folder, goal.rules, environment)) {
            std::printf("    cannot prepare %s\n", local(folder).constData());
            continue;
        }
        const QString logPath = QDir(folder).filePath(u"home/Documents/halvex-linvera/log.txt"_s);
        struct Way
        {
            const char* name;
            bool reviewed;
            ProcessSeries series;
            QList<double> cpuRates;
            QList<double> wallRates;
        };
        // An older program runs once per round as it is, with or without review lines.
        const bool twoWays = knowsNoReview(g_linvera);
        std::vector<Way> ways = {{twoWays ? "reviewed" : "as built", true, {}, {}, {}}};
        if (twoWays)
            ways.push_back({"--no-review", false, {}, {}, {}});
        QString problem;
        for (int run = 0; run < 1 + kRulesProcessRuns; ++run) {
            for (Way& way : ways) {
                QStringList arguments;
                QStringList expected;
                if (!way.reviewed)
                    arguments.append(u"--no-review"_s);
                for (int i = 0; i < kProcessUrls; ++i) {
                    const QString c = code(nextCode++);
                    arguments.append(kInputPrefix + c);
                    expected.append(kResultPrefix + c);
                }
                QFile::remove(logPath);
                const ProcessRun result = runProcess(g_linvera, arguments, environment);
                // One after URL per input, an empty line between them; the log gets one line each.
                // Reviewed, each result has its verdict line after it; without, nothing else.
                const QStringList all = result.output.split(u'\n', Qt::SkipEmptyParts);
                const QStringList lines = verdict::WithoutReviewLines(all);
                const qsizetype reviewLines = all.size() - lines.size();
                const qsizetype logLines = countLogLines(logPath);
                // A build from before the review prints none.
                const bool reviewLinesRight =
                    reviewLines == (way.reviewed ? kProcessUrls : 0) || (!twoWays && reviewLines == 0);
                if (!result.ok || lines != expected || logLines != kProcessUrls || !reviewLinesRight) {
                    if (problem.isEmpty())
                        problem =
                            QString::fromLatin1(way.name) + u": exit "_s +
                            (result.ok ? u"fine"_s : u"failed"_s) + u", "_s + QString::number(lines.size()) +
                            u" result lines, "_s + QString::number(reviewLines) + u" review lines, "_s +
                            QString::number(logLines) + u" log lines, first \""_s + lines.value(0) + u"\""_s;
                    continue;
                }
                if (run == 0) // warm-up: the file cache
                    continue;
                way.wallRates.append(kProcessUrls / (result.ms / 1e3));
                way.cpuRates.append(kProcessUrls / (result.cpuMs / 1e3));
                way.series.ms.append(result.ms);
                way.series.cpuMs.append(result.cpuMs);
            }
        }
        const QString label = u"[5]  linvera, "_s + QString::number(goal.rules) + u" rules, "_s +
                              QString::number(kProcessUrls) + u" URLs"_s;
        for (const Way& way : ways) {
            std::printf(
                "    %5d rules, %s: %d runs, whole run median %.1f ms (min %.1f, max %.1f), CPU median "
                "%.1f ms\n",
                goal.rules, way.name, int(way.series.ms.size()), median(way.series.ms),
                minimum(way.series.ms), maximum(way.series.ms), median(way.series.cpuMs));
            std::printf("    %5s        wall clock: median %7.0f URLs/s; process CPU: median %7.0f URLs/s\n",
                        "", median(way.wallRates), median(way.cpuRates));
        }
        if (!problem.isEmpty())
            std::printf("    WRONG RESULT: %s\n", local(problem).constData());
        const bool fine =
            problem.isEmpty() && !ways.front().cpuRates.isEmpty() && !ways.back().cpuRates.isEmpty();
        const double reviewed = median(ways.front().cpuRates);
        addFigure(label + u" (wall clock)"_s, fixed(median(ways.front().wallRates), 0) + u" /s"_s);
        addFigure(label + u" (process CPU)"_s, fixed(reviewed, 0) + u" /s"_s,
                  u">= "_s + fixed(goal.perSecond, 0) + u" /s"_s, fine && reviewed >= goal.perSecond);
        if (!twoWays)
            continue;
        const double plain = median(ways.back().cpuRates);
        addFigure(label + u", --no-review (CPU)"_s, fixed(plain, 0) + u" /s"_s);
        // The review may cost a tenth of the throughput at most.
        const double ratio = plain > 0 ? reviewed / plain : 0;
        addFigure(u"[5]  "_s + QString::number(goal.rules) + u" rules: reviewed / --no-review"_s,
                  fixed(ratio, 2), u">= 0.90"_s, fine && ratio >= 0.9);
    }
}

void printTable()
{
    std::printf("\n%-46s %16s %16s  %s\n", "Measurement (medians)", "Figure", "Goal", "Result");
    std::printf("%s\n", QByteArray(46 + 1 + 16 + 1 + 16 + 2 + 6, '-').constData());
    for (const Figure& f : std::as_const(g_table))
        std::printf("%-46s %16s %16s  %s\n", local(f.label).constData(), local(f.value).constData(),
                    local(f.goal.isEmpty() ? u"-"_s : f.goal).constData(), local(f.verdict).constData());
}

} // namespace

int main(int argc, char* argv[])
{
    // Neither this process nor the headless program may touch the user's registry store or rule files.
    QTemporaryDir scratchDir;
    if (!scratchDir.isValid()) {
        std::fprintf(stderr, "bench_conv: cannot make a scratch folder\n");
        return 1;
    }
    const QString scratch = scratchDir.path();
    QDir().mkpath(scratch + u"/config"_s);
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(scratch + u"/config"_s));

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(u"bench_conv"_s);
    QCommandLineParser parser;
    parser.setApplicationDescription(u"Conversion engine figures."_s);
    parser.addHelpOption();
    const QCommandLineOption only(u"only"_s, u"Run only part <n> (1 to 5; 3 alone skips the processes)."_s,
                                  u"n"_s);
    parser.addOption(only);
    const QCommandLineOption linvera(u"linvera"_s,
                                     u"The headless program to run (default: the one beside)."_s, u"path"_s);
    parser.addOption(linvera);
    parser.process(app);
    const int part = parser.isSet(only) ? parser.value(only).toInt() : 0;
    g_linvera = parser.isSet(linvera) ? QFileInfo(parser.value(linvera)).absoluteFilePath()
                                      : QDir(QCoreApplication::applicationDirPath()).filePath(u"linvera"_s);

    std::printf("bench_conv (%s build), scratch folder %s\n", LINVERA_BENCH_BUILD_TYPE,
                local(scratch).constData());
    if (QByteArrayView(LINVERA_BENCH_BUILD_TYPE) != QByteArrayView("Release"))
        std::printf("note: figures are meant for a Release build\n");

    if (part == 0 || part == 1)
        benchConversions(scratch);
    if (part == 0 || part == 2)
        benchRuleLoading(scratch);
    if (part == 0 || part == 3 || part == 4)
        benchProbeAndProcesses(scratch, part == 3);
    if (part == 0 || part == 5)
        benchRuleLists(scratch);
    printTable();
    return 0;
}
