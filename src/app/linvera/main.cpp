// linvera: converts each URL given on its command line exactly as the window's convert button would,
// and prints the after URL with its information lines.
#include "AppPaths.h"
#include "ConsoleView.h"
#include "ConversionEngine.h"
#include "SettingsTable.h"

#include <QCoreApplication>
#include <QDate>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <cstdio>

using namespace Qt::StringLiterals;
using namespace linvera;

namespace {

// The probe and the picture download end on their own time-outs; this only guards against a stall.
constexpr int kResultWaitMs = 90000;

void printLine(FILE* stream, const QString& text)
{
    std::fprintf(stream, "%s\n", text.toLocal8Bit().constData());
}

bool convert(ConversionEngine& engine, ConsoleView& view, const QString& url, bool follow)
{
    view.setBeforeUrl(url);
    QEventLoop loop;
    const auto done =
        QObject::connect(&engine, &ConversionEngine::conversionFinished, &loop, &QEventLoop::quit);
    if (follow)
        engine.StartFollow();
    else
        engine.StartConv();
    if (engine.isWaiting()) {
        QTimer::singleShot(kResultWaitMs, &loop, &QEventLoop::quit);
        loop.exec();
    }
    QObject::disconnect(done);
    if (!view.message.isEmpty())
        printLine(stderr, view.message);
    const QStringList lines = view.resultLines();
    for (const QString& line : lines)
        printLine(stdout, line);
    std::fflush(stdout);
    return !view.afterUrl().isEmpty();
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(u"linvera"_s);
    QStringList urls = QCoreApplication::arguments().mid(1);
    // "--follow" probes every URL and prints the whole redirect chain, whatever the rules say.
    const bool follow = !urls.isEmpty() && urls.first() == u"--follow"_s;
    if (follow)
        urls.removeFirst();
    if (urls.isEmpty() || urls.first() == u"--help"_s || urls.first() == u"-h"_s) {
        printLine(stderr, u"使い方: linvera URL [URL...]\n       linvera --follow URL [URL...]"_s);
        return urls.isEmpty() ? 2 : 0;
    }

    const platform::AppPaths paths = platform::AppPaths::fromEnvironment();
    paths.prepareDataFolder();

    ConsoleView view;
    ConsoleMessageBoxes boxes;
    ConversionEngine engine(view, boxes);
    engine.setEndpoints(ReadEndpoints());
    engine.setProxySource(&ReadProxySetting);
    engine.setShortUrlTypeSource(&StoredShortUrlType);
    engine.setFollowChainSource(&StoredFollowRedirects);
    engine.setShortenerAccountsSource(&ReadShortenerAccounts);
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
    engine.setTempFolder(paths.tempFolder);
    engine.loadRules(paths.dataFile(u"tinyurls.txt"_s), paths.dataFile(u"picturls.txt"_s));

    bool allConverted = true;
    for (qsizetype i = 0; i < urls.size(); ++i) {
        if (i > 0)
            printLine(stdout, QString());
        allConverted = convert(engine, view, urls[i], follow) && allConverted;
    }
    return allConverted ? 0 : 1;
}
