// linvera: converts each URL given on its command line exactly as the window's convert button would,
// and prints the after URL with its information lines.
#include "app/linvera/ConsoleView.h"
#include "conv/ConversionEngine.h"
#include "conv/HttpClient.h"
#include "platform/AppInfo.h"
#include "platform/AppPaths.h"
#include "platform/ProgramOptions.h"
#include "platform/QtTranslation.h"
#include "settings/SettingsModel.h"
#include "settings/StoreProblems.h"

#include <QCoreApplication>
#include <QDate>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScopeGuard>
#include <QTimer>

#include <cstdio>
#include <optional>

using namespace Qt::StringLiterals;
using namespace linvera;

namespace {

// The probe and the picture download end on their own time-outs; this only guards against a stall.
constexpr int kResultWaitMs = 90000;

void printLine(FILE* stream, const QString& text)
{
    std::fprintf(stream, "%s\n", text.toLocal8Bit().constData());
}

const QString kUsage =
    u"使い方: linvera [--json] [--follow] [--no-review] [--] URL [URL...]\n"
    u"Usage: linvera [--json] [--follow] [--no-review] [--] URL [URL...]\n"
    u"\n"
    u"Converts each URL as H-Linvera's convert button would and prints the after URL, then the\n"
    u"information lines; a blank line separates the URLs. Messages go to standard error.\n"
    u"\n"
    u"      --json     one JSON object per URL and line: input, mode, afterUrl, info, message, ok, error,\n"
    u"                 verdict, trackersRemoved\n"
    u"      --follow   probe every URL and print its whole redirect chain, whatever the rules say\n"
    u"      --no-review  neither check the destination nor remove tracking parameters: the output is\n"
    u"                 the designed lines alone (verdict null, trackersRemoved 0)\n"
    u"  -h, --help     show this help and exit\n"
    u"      --version  show the version and exit\n"
    u"  --             end of options: what follows are URLs even when they start with \"-\"\n"
    u"\n"
    u"Exit status: 0 every URL converted, 1 some URL gave no result, 2 wrong command line.\n"
    u"\n"
    u"LINVERA_EXTRA_CA_FILE names a PEM file of certificate authorities trusted beside the system's.\n"_s;

QString modeName(int mode)
{
    switch (mode) {
    case ConversionEngine::Shorten:
        return u"shorten"_s;
    case ConversionEngine::Preview:
        return u"preview"_s;
    case ConversionEngine::Picture:
        return u"picture"_s;
    case ConversionEngine::LiveLink:
        return u"live"_s;
    case ConversionEngine::HeaderProbe:
        return u"probe"_s;
    }
    return QString::number(mode);
}

void printText(const ConsoleView& view)
{
    if (!view.finishedMessage().isEmpty())
        printLine(stderr, view.finishedMessage());
    const QStringList lines = view.resultLines();
    for (const QString& line : lines)
        printLine(stdout, line);
}

struct Outcome
{
    std::optional<int> mode; ///< empty when nothing was converted (an empty input)
    bool ok = false;
};

void printJson(const ConsoleView& view, const QString& input, const Outcome& outcome, const QString& error,
               const verdict::DestinationCheck::Review& review)
{
    QStringList info = view.resultLines();
    info.removeFirst();
    // The verdict has its own member; what tracker removal did is counted in another.
    info = verdict::WithoutReviewLines(info);
    const verdict::Verdict& verdict = review.verdict;
    QJsonObject object{
        {u"input"_s, input},
        {u"mode"_s, outcome.mode ? QJsonValue(modeName(*outcome.mode)) : QJsonValue()},
        {u"afterUrl"_s, view.afterUrl()},
        {u"info"_s, QJsonArray::fromStringList(info)},
        {u"message"_s, view.finishedMessage()},
        {u"ok"_s, outcome.ok},
        {u"error"_s, error},
        {u"verdict"_s, verdict.judged ? QJsonValue(verdict::VerdictJson(verdict)) : QJsonValue()},
        {u"trackersRemoved"_s, review.stripped.removed},
    };
    std::fprintf(stdout, "%s\n", QJsonDocument(object).toJson(QJsonDocument::Compact).constData());
}

/// Converts the URLs one after the other on the event loop, printing each result in input order.
/// Conversions that end at once follow each other without a trip through the loop.
class Batch : public QObject
{
public:
    Batch(ConversionEngine& engine, ConsoleView& view, ConsoleMessageBoxes& boxes, QStringList urls,
          bool json, bool follow)
        : m_engine(engine)
        , m_view(view)
        , m_boxes(boxes)
        , m_urls(std::move(urls))
        , m_json(json)
        , m_follow(follow)
    {
        m_limit.setSingleShot(true);
        m_limit.setInterval(kResultWaitMs);
        connect(&m_limit, &QTimer::timeout, this, [this] { settle(true); });
        connect(&m_engine, &ConversionEngine::conversionFinished, this, [this](int mode) {
            m_mode = mode;
            settle(false);
        });
    }

    /// Starts from the event loop; the loop ends with the exit status once every URL is printed.
    void start() { QMetaObject::invokeMethod(this, &Batch::next, Qt::QueuedConnection); }

private:
    void next()
    {
        while (m_index < m_urls.size()) {
            begin();
            if (!settled()) {
                // Waits for the answer; settle() goes on. What is printed and logged so far is there
                // to read meanwhile (results that need no wait go out together, not a write each).
                m_engine.flushLog();
                std::fflush(stderr);
                std::fflush(stdout);
                m_waiting = true;
                m_limit.start();
                return;
            }
            report();
        }
        m_engine.flushLog();
        QCoreApplication::exit(m_allConverted ? 0 : 1);
    }

    void begin()
    {
        // Nothing of the previous URL may show through when this one yields nothing.
        m_view.setAfterUrl(QString());
        m_view.setAfterInfo(QString());
        m_view.setBeforeInfo(QString());
        m_view.setBeforeInfoVisible(false);
        m_view.message.clear();
        m_view.setBeforeUrl(m_urls[m_index]);
        m_mode.reset();
        m_run = false;
        const quint64 serial = ++m_serial;
        const auto whenRun = [this, serial] {
            if (serial != m_serial)
                return;
            m_run = true;
            settle(false);
        };
        if (m_follow)
            m_engine.StartFollow(whenRun);
        else
            m_engine.StartConv(whenRun);
    }

    bool settled() const { return m_run && (m_mode || !m_engine.isWaiting()); }

    void settle(bool ranOut)
    {
        if (!m_waiting || (!ranOut && !settled()))
            return;
        m_waiting = false;
        m_limit.stop();
        report();
        QMetaObject::invokeMethod(this, &Batch::next, Qt::QueuedConnection);
    }

    void report()
    {
        const Outcome outcome{m_mode, !m_view.afterUrl().isEmpty()};
        const QString error = m_boxes.takeErrors();
        if (m_json) {
            printJson(m_view, m_urls[m_index], outcome, error, m_engine.lastReview());
        } else {
            if (m_index > 0)
                printLine(stdout, QString());
            printText(m_view);
        }
        m_allConverted = outcome.ok && m_allConverted;
        ++m_index;
    }

    ConversionEngine& m_engine;
    ConsoleView& m_view;
    ConsoleMessageBoxes& m_boxes;
    const QStringList m_urls;
    const bool m_json;
    const bool m_follow;
    qsizetype m_index = 0;
    quint64 m_serial = 0;
    std::optional<int> m_mode;
    bool m_run = false;
    bool m_waiting = false;
    bool m_allConverted = true;
    QTimer m_limit;
};

} // namespace

int main(int argc, char* argv[])
{
    // Messages are written where the results are, before a wait and at the end; a write for each
    // message would cost more than the conversion.
    std::setvbuf(stderr, nullptr, _IOFBF, BUFSIZ);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(u"linvera"_s);
    platform::InstallQtTranslation();
    platform::ProgramOptions::Grammar grammar;
    grammar.flags = {u"--json"_s, u"--follow"_s, u"--no-review"_s};
    platform::ProgramOptions options =
        platform::ProgramOptions::parse(QCoreApplication::arguments().mid(1), grammar);
    if (options.action == platform::ProgramOptions::Action::Run && options.arguments.isEmpty()) {
        options.action = platform::ProgramOptions::Action::UsageError;
        options.error = u"no URL given"_s;
    }
    if (const auto status = platform::AnswerProgramOptions(options, u"linvera"_s, kUsage))
        return *status;
    const QStringList& urls = options.arguments;
    const bool json = options.has(u"--json");
    const bool follow = options.has(u"--follow");
    const bool reviewed = !options.has(u"--no-review");

    if (const QString authorities = qEnvironmentVariable(kExtraAuthoritiesVariable); !authorities.isEmpty()) {
        QString problem;
        if (!TrustExtraAuthorities(authorities, &problem))
            printLine(stderr, u"linvera: %1: %2: %3"_s.arg(QString::fromLatin1(kExtraAuthoritiesVariable),
                                                           authorities, problem));
    }

    ConsoleView view;
    ConsoleMessageBoxes boxes;
    // A damaged or unwritable store is told once; the settings fall back to their defaults.
    WatchSettingsStore([&boxes](const QString& message) {
        boxes.show(platform::MessageBoxes::Icon::Exclamation, AppTitle(), message,
                   platform::MessageBoxes::Buttons::Ok);
    });
    const auto unwatch = qScopeGuard([] { WatchSettingsStore({}); });

    const platform::AppPaths paths = platform::AppPaths::fromEnvironment();
    if (!paths.prepareDataFolder())
        boxes.show(platform::MessageBoxes::Icon::Exclamation, AppTitle(),
                   u"データフォルダに書き込めません。\n"_s + paths.dataFolder,
                   platform::MessageBoxes::Buttons::Ok);
    ConversionEngine engine(view, boxes);
    QObject::connect(&engine, &ConversionEngine::messageBoxRequested,
                     [&boxes](platform::MessageBoxes::Icon icon, const QString& title, const QString& text) {
                         boxes.show(icon, title, text, platform::MessageBoxes::Buttons::Ok);
                     });
    // One run converts with the settings it started with; asking the store again for every URL of
    // a long list costs more than the conversion itself.
    const SettingsSnapshot settings = StoredSettings();
    engine.setEndpoints(settings.endpoints);
    engine.setSettings({settings.shortUrlType, settings.accounts, settings.proxy, settings.followRedirects,
                        settings.stripTrackers});
    // Thousands of URLs in one run: asking the C library for today's date re-reads the time zone file
    // at every call, so the date is read again at most once a second.
    engine.setClock([clock = QElapsedTimer(), today = QDate()]() mutable {
        if (!clock.isValid() || clock.elapsed() >= 1000) {
            today = QDate::currentDate();
            clock.start();
        }
        return today;
    });
    engine.setLogFilePath(paths.logFilePath);
    engine.setLogBatched(true);
    engine.setTempFolder(paths.tempFolder);
    engine.loadRules(paths.dataFile(u"tinyurls.txt"_s), paths.dataFile(u"picturls.txt"_s));
    std::optional<verdict::DestinationCheck> destinations;
    if (reviewed) {
        destinations.emplace();
        for (const QString& problem : destinations->load(paths.dataFolder))
            boxes.show(platform::MessageBoxes::Icon::Exclamation, AppTitle(), problem,
                       platform::MessageBoxes::Buttons::Ok);
        engine.setDestinationCheck(&*destinations);
    }

    // What start-up reported belongs to no URL.
    boxes.takeErrors();
    Batch batch(engine, view, boxes, urls, json, follow);
    batch.start();
    return QCoreApplication::exec();
}
