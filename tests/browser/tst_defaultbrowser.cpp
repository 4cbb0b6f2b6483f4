#include "PrivateHome.h"
#include "TempRegistry.h"
#include "browser/DefaultBrowser.h"
#include "platform/AnsiCodec.h"
#include "platform/ProcessRunner.h"
#include "platform/RegAccess.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

using namespace Qt::StringLiterals;
using linvera::DefaultBrowser;
using linvera::ProcessRunner;
using linvera::platform::RegRoot;
using linvera::test::PrivateHome;
using linvera::test::TempRegistry;

namespace {

const QString kCommandKey = u"http\\shell\\open\\command"_s;

/// Finds programs as the system does but starts nothing; records what would be started. The
/// programs named in `failing` fail to start.
class RecordingRunner final : public ProcessRunner
{
public:
    struct Start
    {
        QString program;
        QStringList arguments;
    };

    void run(const QString&, const QStringList&, const QString&, std::chrono::milliseconds,
             Done done) override
    {
        QTimer::singleShot(0, [done] { done({}); });
    }
    bool startDetached(const QString& program, const QStringList& arguments, const QString&) override
    {
        starts.append({program, arguments});
        return !failing.contains(program);
    }
    QString findExecutable(const QString& program) override
    {
        return ProcessRunner::system().findExecutable(program);
    }

    QList<Start> starts;
    QStringList failing;
};

QString readText(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return u"<missing>"_s;
    return QString::fromUtf8(file.readAll());
}

QStringList hostileUrls()
{
    return {
        u"http://a.example/?q=\"quoted words\"&x='single'"_s,
        u"http://a.example/path with spaces/ and trailing "_s,
        u"http://a.example/;rm -rf ~;echo"_s,
        u"http://a.example/$(touch PWNED)/`touch PWNED`"_s,
        u"http://a.example/%1%22%20\"%1\""_s,
        u"http://a.example/a\\b|c&d>e<f*?"_s,
        u"http://a.example/日本語ﾌﾟﾚﾋﾞｭｰ"_s,
        u"http://a.example/new\nline\ttab"_s,
        QString(),
    };
}

} // namespace

class TestDefaultBrowser : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void browserCommandPath_data();
    void browserCommandPath();
    void browserTag();

    void launchForRegisteredCommand_data();
    void launchForRegisteredCommand();
    void launchWithoutRegisteredCommand_data();
    void launchWithoutRegisteredCommand();
    void hostileUrlIsOneArgument_data();
    void hostileUrlIsOneArgument();
    void urlLookingLikeAnOptionStartsNothing_data();
    void urlLookingLikeAnOptionStartsNothing();
    void taggedUrl();
    void browserThatDoesNotStartLeavesUrlToXdgOpen_data();
    void browserThatDoesNotStartLeavesUrlToXdgOpen();
    void nothingToStartIsSilent_data();
    void nothingToStartIsSilent();

    void realBrowserReceivesUrl_data();
    void realBrowserReceivesUrl();
    void realRegisteredBrowserStarts_data();
    void realRegisteredBrowserStarts();
    void realXdgOpenReceivesUrl_data();
    void realXdgOpenReceivesUrl();
    void realXdgOpenTakesOverFromBrowser_data();
    void realXdgOpenTakesOverFromBrowser();

private:
    QString installFake(const QString& relativePath);
    QString installUnstartable(const QString& relativePath, bool executable);
    QStringList waitForArguments(const QString& programPath);
    void registerCommand(const QString& command);
    void installFakeBrowsers();

    std::unique_ptr<TempRegistry> m_registry;
    std::unique_ptr<PrivateHome> m_home;
    std::unique_ptr<QTemporaryDir> m_bin;
    QByteArray m_savedPath;
};

void TestDefaultBrowser::init()
{
    linvera::platform::AnsiCodec::select(linvera::platform::AnsiCodec::CodePage::Utf8);
    m_registry = std::make_unique<TempRegistry>();
    QVERIFY(m_registry->isValid());
    // Every program started from here (the fakes below) gets folders of its own.
    m_home = std::make_unique<PrivateHome>();
    QVERIFY(m_home->isValid());
    m_home->apply();

    // Spaces and quotes in the fake programs' folder would part the unquoted commands below.
    static const QRegularExpression parting(u"[ \"]"_s);
    QString base = QDir::tempPath();
    if (base.contains(parting))
        base = u"/tmp"_s;
    if (base.contains(parting))
        QSKIP("no temporary folder without space or quote in its path");
    m_bin = std::make_unique<QTemporaryDir>(base + u"/browserXXXXXX"_s);
    QVERIFY(m_bin->isValid());
    // Only the fakes can be found: neither the real browser nor the real xdg-open ever starts.
    m_savedPath = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(m_bin->path()));
}

void TestDefaultBrowser::cleanup()
{
    if (!m_savedPath.isNull())
        qputenv("PATH", m_savedPath);
    m_savedPath.clear();
    m_bin.reset();
    m_home.reset();
    m_registry.reset();
}

QString TestDefaultBrowser::installFake(const QString& relativePath)
{
    const QString path = m_bin->filePath(relativePath);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile script(path);
    if (!script.open(QIODevice::WriteOnly))
        return {};
    // Records its arguments NUL-separated and its home folder, then marks that it is done;
    // built-ins only.
    script.write("#!/bin/sh\nprintf '%s\\0' \"$@\" > \"$0.argv\"\nprintf '%s' \"$HOME\" > \"$0.home\"\n"
                 ": > \"$0.done\"\n");
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

QString TestDefaultBrowser::installUnstartable(const QString& relativePath, bool executable)
{
    const QString path = m_bin->filePath(relativePath);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile script(path);
    if (!script.open(QIODevice::WriteOnly))
        return {};
    // Its interpreter does not exist, so the start fails even though the file is executable.
    script.write("#!/nonexistent/interpreter\n");
    script.close();
    script.setPermissions(executable ? QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                     : QFile::ReadOwner | QFile::WriteOwner);
    return path;
}

void TestDefaultBrowser::installFakeBrowsers()
{
    for (const QString& fake :
         {u"web"_s, u"net-browser"_s, u"net%41browser"_s, u"google-chrome-stable"_s, u"My Browser/web"_s,
          u"Two  Spaces/web"_s, u"Web-Browser 2/web-x"_s, u"50%off/web"_s})
        QVERIFY(!installFake(fake).isEmpty());
}

QStringList TestDefaultBrowser::waitForArguments(const QString& programPath)
{
    const QString done = programPath + u".done"_s;
    if (!QTest::qWaitFor([&] { return QFile::exists(done); }, 10000))
        return {u"<not started>"_s};
    QFile file(programPath + u".argv"_s);
    if (!file.open(QIODevice::ReadOnly))
        return {u"<no arguments file>"_s};
    QByteArray bytes = file.readAll();
    QStringList arguments;
    if (bytes.isEmpty())
        return arguments;
    bytes.chop(1);
    for (const QByteArray& argument : bytes.split('\0'))
        arguments.append(QString::fromUtf8(argument));
    return arguments;
}

void TestDefaultBrowser::registerCommand(const QString& command)
{
    QVERIFY(linvera::SetRegString(RegRoot::ClassesRoot, kCommandKey, QString(), command));
}

void TestDefaultBrowser::browserCommandPath_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("path");

    const QString p = u"C:\\Program Files\\Web\\web.exe"_s;
    QTest::newRow("quoted path, option, quoted %1") << u"\""_s + p + u"\" -osint -url \"%1\""_s << p + u' ';
    QTest::newRow("quoted path, quoted %1") << u"\""_s + p + u"\" \"%1\""_s << p + u' ';
    QTest::newRow("unquoted path, %1") << p + u" %1"_s << p + u' ';
    QTest::newRow("quoted path alone") << u"\""_s + p + u'"' << p;
    QTest::newRow("Linux path, option") << u"/usr/bin/firefox --new-window %u"_s << u"/usr/bin/firefox "_s;

    // "-" and "%" end the program part only where an option or the URL's place begins.
    QTest::newRow("dash inside a quoted path")
        << u"\"/opt/google-chrome/chrome\" %1"_s << u"/opt/google-chrome/chrome "_s;
    QTest::newRow("dashes inside an unquoted path")
        << u"/usr/bin/google-chrome-stable %U"_s << u"/usr/bin/google-chrome-stable "_s;
    QTest::newRow("percent inside the path") << u"/opt/a%20b/web %1"_s << u"/opt/a%20b/web "_s;
    QTest::newRow("quoted path with a space, a dash and a percent")
        << u"\"/opt/My Web-Browser/50%/web\" --new-window \"%1\""_s << u"/opt/My Web-Browser/50%/web "_s;
    QTest::newRow("unquoted path with a space and a dash")
        << u"/opt/Web-Browser 2/web-x %1"_s << u"/opt/Web-Browser 2/web-x "_s;
    QTest::newRow("word with a dash, then an option") << u"web new-window -x %1"_s << u"web new-window "_s;
    QTest::newRow("option in quotes") << u"\"/opt/web\" \"--flag\" %1"_s << u"/opt/web "_s;
    QTest::newRow("quotes inside are dropped") << u"/opt/\"we\"b"_s << u"/opt/web"_s;
    QTest::newRow("quoted part of a word keeps its space")
        << u"/opt/\"My Browser\"/web %1"_s << u"/opt/My Browser/web "_s;
    QTest::newRow("unclosed quote runs to the end") << u"\"/opt/web %1"_s << u"/opt/web %1"_s;
    QTest::newRow("leading and doubled spaces kept") << u"  web  a  %1"_s << u"  web  a  "_s;
    QTest::newRow("only an option") << u"--new-window %1"_s << QString();
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("only %1") << u"\"%1\""_s << QString();
}

void TestDefaultBrowser::browserCommandPath()
{
    QFETCH(QString, command);
    QFETCH(QString, path);
    QCOMPARE(DefaultBrowser::BrowserCommandPath(command), path);
}

void TestDefaultBrowser::browserTag()
{
    QCOMPARE(DefaultBrowser::BrowserTag(), u"?app=linvera&ver=2_1_0&lang=japanese"_s);
}

void TestDefaultBrowser::launchForRegisteredCommand_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("leadingArguments");

    const QString xdgOpen = u"xdg-open"_s;
    QTest::newRow("quoted path, option, quoted %1")
        << u"\"@/web\" -new-window \"%1\""_s << u"@/web"_s << QStringList();
    QTest::newRow("quoted path, quoted %1") << u"\"@/web\" \"%1\""_s << u"@/web"_s << QStringList();
    QTest::newRow("unquoted path, %1") << u"@/web %1"_s << u"@/web"_s << QStringList();
    QTest::newRow("quoted path alone") << u"\"@/web\""_s << u"@/web"_s << QStringList();
    QTest::newRow("leading spaces") << u"   \"@/web\" %1"_s << u"@/web"_s << QStringList();
    QTest::newRow("unquoted path with a space")
        << u"@/My Browser/web %1"_s << u"@/My Browser/web"_s << QStringList();
    QTest::newRow("quoted path with two spaces")
        << u"\"@/Two  Spaces/web\" \"%1\""_s << u"@/Two  Spaces/web"_s << QStringList();
    QTest::newRow("first words already a program")
        << u"@/web private window %1"_s << u"@/web"_s << QStringList{u"private"_s, u"window"_s};
    QTest::newRow("leading argument with a dash")
        << u"@/web private-window %1"_s << u"@/web"_s << QStringList{u"private-window"_s};
    QTest::newRow("quoted leading argument") << u"@/web \"a b\" %1"_s << u"@/web"_s << QStringList{u"a b"_s};
    QTest::newRow("program found by name") << u"web %1"_s << u"web"_s << QStringList();

    // Program paths holding "-" or "%" are taken whole.
    QTest::newRow("dash in the quoted path")
        << u"\"@/net-browser\" %1"_s << u"@/net-browser"_s << QStringList();
    QTest::newRow("dash in the unquoted path")
        << u"@/google-chrome-stable %U"_s << u"@/google-chrome-stable"_s << QStringList();
    QTest::newRow("dash in a name found on PATH")
        << u"google-chrome-stable %U"_s << u"google-chrome-stable"_s << QStringList();
    QTest::newRow("percent in the path") << u"@/net%41browser %1"_s << u"@/net%41browser"_s << QStringList();
    QTest::newRow("percent in a folder name") << u"@/50%off/web %1"_s << u"@/50%off/web"_s << QStringList();
    QTest::newRow("quoted path with space and dashes, options")
        << u"\"@/Web-Browser 2/web-x\" -new-window \"%1\""_s << u"@/Web-Browser 2/web-x"_s << QStringList();
    QTest::newRow("unquoted path with space and dashes")
        << u"@/Web-Browser 2/web-x %1"_s << u"@/Web-Browser 2/web-x"_s << QStringList();

    // A program that is not there leaves the URL to xdg-open.
    QTest::newRow("program missing") << u"\"@/absent\" \"%1\""_s << xdgOpen << QStringList();
    QTest::newRow("program with a dash missing") << u"@/absent-browser %u"_s << xdgOpen << QStringList();
    QTest::newRow("quoted path is not parted at its spaces")
        << u"\"@/My Browser/web extra\" %1"_s << xdgOpen << QStringList();
    QTest::newRow("unclosed quote") << u"\"@/web %1"_s << xdgOpen << QStringList();
    QTest::newRow("only %1") << u"\"%1\""_s << xdgOpen << QStringList();
    QTest::newRow("only an option") << u"--new-window %1"_s << xdgOpen << QStringList();
}

void TestDefaultBrowser::launchForRegisteredCommand()
{
    QFETCH(QString, command);
    QFETCH(QString, program);
    QFETCH(QStringList, leadingArguments);

    installFakeBrowsers();
    registerCommand(command.replace(u'@', m_bin->path()));
    program.replace(u'@', m_bin->path());

    RecordingRunner runner;
    DefaultBrowser browser(runner);
    const QString url = u"http://www.halvex.example/linvera/firefox/"_s;
    const std::optional<DefaultBrowser::Launch> launch = browser.launchFor(url);
    QVERIFY(launch);
    QCOMPARE(launch->program, program);
    QCOMPARE(launch->arguments, leadingArguments + QStringList{url});

    QVERIFY(browser.open(url));
    QCOMPARE(runner.starts.size(), 1);
    QCOMPARE(runner.starts.at(0).program, program);
    QCOMPARE(runner.starts.at(0).arguments, leadingArguments + QStringList{url});
}

void TestDefaultBrowser::launchWithoutRegisteredCommand_data()
{
    QTest::addColumn<bool>("present");
    QTest::addColumn<QString>("command");

    QTest::newRow("no key") << false << QString();
    QTest::newRow("empty command") << true << QString();
    QTest::newRow("only spaces") << true << u"   "_s;
}

void TestDefaultBrowser::launchWithoutRegisteredCommand()
{
    QFETCH(bool, present);
    QFETCH(QString, command);

    if (present)
        registerCommand(command);
    RecordingRunner runner;
    DefaultBrowser browser(runner);
    const std::optional<DefaultBrowser::Launch> launch = browser.launchFor(u"http://h.example/"_s);
    QVERIFY(launch);
    QCOMPARE(launch->program, u"xdg-open"_s);
    QCOMPARE(launch->arguments, QStringList{u"http://h.example/"_s});
}

void TestDefaultBrowser::hostileUrlIsOneArgument_data()
{
    QTest::addColumn<bool>("registered");
    QTest::addColumn<QString>("url");

    int row = 0;
    for (const QString& url : hostileUrls()) {
        ++row;
        QTest::addRow("registered browser, URL %d", row) << true << url;
        QTest::addRow("xdg-open, URL %d", row) << false << url;
    }
}

void TestDefaultBrowser::hostileUrlIsOneArgument()
{
    QFETCH(bool, registered);
    QFETCH(QString, url);

    const QString web = installFake(u"web"_s);
    if (registered)
        registerCommand(u"\""_s + web + u"\" \"%1\""_s);
    RecordingRunner runner;
    DefaultBrowser browser(runner);
    QVERIFY(browser.open(url));
    QCOMPARE(runner.starts.size(), 1);
    QCOMPARE(runner.starts.at(0).program, registered ? web : u"xdg-open"_s);
    QCOMPARE(runner.starts.at(0).arguments, QStringList{url});
}

void TestDefaultBrowser::urlLookingLikeAnOptionStartsNothing_data()
{
    QTest::addColumn<bool>("registered");
    QTest::addColumn<QString>("url");

    for (const QString& url : {u"--gpu-launcher=touch PWNED"_s, u"-new-instance"_s, u"-"_s}) {
        QTest::addRow("registered browser, %s", qPrintable(url)) << true << url;
        QTest::addRow("xdg-open, %s", qPrintable(url)) << false << url;
    }
}

void TestDefaultBrowser::urlLookingLikeAnOptionStartsNothing()
{
    QFETCH(bool, registered);
    QFETCH(QString, url);

    if (registered)
        registerCommand(u"\""_s + installFake(u"web"_s) + u"\" \"%1\""_s);
    RecordingRunner runner;
    DefaultBrowser browser(runner);
    QVERIFY(!browser.open(url));
    QVERIFY(!browser.openTagged(url));
    QVERIFY(runner.starts.isEmpty());
}

void TestDefaultBrowser::taggedUrl()
{
    const QString web = installFake(u"web"_s);
    registerCommand(u"\""_s + web + u"\" -osint -url \"%1\""_s);
    RecordingRunner runner;
    DefaultBrowser browser(runner);
    const QString update = u"http://www.halvex.example/service/servlet/update"_s;
    QVERIFY(browser.openTagged(update));
    QCOMPARE(runner.starts.size(), 1);
    QCOMPARE(runner.starts.at(0).program, web);
    QCOMPARE(runner.starts.at(0).arguments,
             QStringList{
                 u"http://www.halvex.example/service/servlet/update?app=linvera&ver=2_1_0&lang=japanese"_s});
}

void TestDefaultBrowser::browserThatDoesNotStartLeavesUrlToXdgOpen_data()
{
    QTest::addColumn<bool>("registered");
    QTest::addColumn<bool>("browserStarts");
    QTest::addColumn<bool>("xdgOpenStarts");
    QTest::addColumn<QStringList>("programs"); // "web" for the browser, in the order tried
    QTest::addColumn<bool>("opened");

    const QStringList browserOnly{u"web"_s};
    const QStringList browserThenXdgOpen{u"web"_s, u"xdg-open"_s};
    const QStringList xdgOpenOnly{u"xdg-open"_s};
    QTest::newRow("browser starts") << true << true << true << browserOnly << true;
    QTest::newRow("browser fails, xdg-open starts") << true << false << true << browserThenXdgOpen << true;
    QTest::newRow("browser and xdg-open fail") << true << false << false << browserThenXdgOpen << false;
    QTest::newRow("no browser, xdg-open starts") << false << true << true << xdgOpenOnly << true;
    QTest::newRow("no browser, xdg-open fails, tried once") << false << true << false << xdgOpenOnly << false;
}

void TestDefaultBrowser::browserThatDoesNotStartLeavesUrlToXdgOpen()
{
    QFETCH(bool, registered);
    QFETCH(bool, browserStarts);
    QFETCH(bool, xdgOpenStarts);
    QFETCH(QStringList, programs);
    QFETCH(bool, opened);

    const QString web = installFake(u"web"_s);
    if (registered)
        registerCommand(u"\""_s + web + u"\" --new-window \"%1\""_s);
    RecordingRunner runner;
    if (!browserStarts)
        runner.failing.append(web);
    if (!xdgOpenStarts)
        runner.failing.append(u"xdg-open"_s);
    DefaultBrowser browser(runner);
    const QString url = u"http://h.example/a b?c=\"d\""_s;
    QCOMPARE(browser.open(url), opened);
    QCOMPARE(runner.starts.size(), programs.size());
    for (qsizetype i = 0; i < programs.size(); ++i) {
        QCOMPARE(runner.starts.at(i).program, programs.at(i) == u"web"_s ? web : programs.at(i));
        QCOMPARE(runner.starts.at(i).arguments, QStringList{url});
    }
}

void TestDefaultBrowser::nothingToStartIsSilent_data()
{
    QTest::addColumn<QString>("command");

    QTest::newRow("no browser registered") << QString();
    QTest::newRow("registered browser missing") << u"\"@/absent-browser\" \"%1\""_s;
    QTest::newRow("registered browser not startable") << u"\"@/broken-browser\" \"%1\""_s;
}

void TestDefaultBrowser::nothingToStartIsSilent()
{
    QFETCH(QString, command);

    // No xdg-open on PATH either: nothing starts and nothing is raised.
    const QString broken = installUnstartable(u"broken-browser"_s, true);
    if (!command.isEmpty())
        registerCommand(command.replace(u'@', m_bin->path()));
    DefaultBrowser browser;
    QVERIFY(!browser.open(u"http://h.example/"_s));
    linvera::OpenInBrowser(u"http://h.example/"_s);
    linvera::OpenInBrowserTagged(u"http://h.example/"_s);
    QVERIFY(!QFile::exists(broken + u".done"_s));
}

void TestDefaultBrowser::realBrowserReceivesUrl_data()
{
    QTest::addColumn<QString>("url");
    int row = 0;
    for (const QString& url : hostileUrls())
        QTest::addRow("URL %d", ++row) << url;
}

void TestDefaultBrowser::realBrowserReceivesUrl()
{
    QFETCH(QString, url);

    const QString web = installFake(u"My Browser/web"_s);
    registerCommand(web + u" %1"_s);
    linvera::OpenInBrowser(url);
    QCOMPARE(waitForArguments(web), QStringList{url});
    QVERIFY(!QFile::exists(m_bin->filePath(u"PWNED"_s)));
    QVERIFY(!QFile::exists(QDir::current().filePath(u"PWNED"_s)));
}

void TestDefaultBrowser::realRegisteredBrowserStarts_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("leadingArguments");

    QTest::newRow("quoted path with a dash")
        << u"\"@/net-browser\" \"%1\""_s << u"net-browser"_s << QStringList();
    QTest::newRow("unquoted path with dashes")
        << u"@/google-chrome-stable %U"_s << u"google-chrome-stable"_s << QStringList();
    QTest::newRow("name with dashes on PATH")
        << u"google-chrome-stable --new-window %U"_s << u"google-chrome-stable"_s << QStringList();
    QTest::newRow("percent in the path") << u"@/net%41browser %1"_s << u"net%41browser"_s << QStringList();
    QTest::newRow("quoted path with a space, options")
        << u"\"@/My Browser/web\" -new-window \"%1\""_s << u"My Browser/web"_s << QStringList();
    QTest::newRow("quoted path with space and dashes")
        << u"\"@/Web-Browser 2/web-x\" --single-argument %1"_s << u"Web-Browser 2/web-x"_s << QStringList();
    QTest::newRow("unquoted path with space and percent, leading argument")
        << u"@/50%off/web private-window %1"_s << u"50%off/web"_s << QStringList{u"private-window"_s};
}

void TestDefaultBrowser::realRegisteredBrowserStarts()
{
    QFETCH(QString, command);
    QFETCH(QString, program);
    QFETCH(QStringList, leadingArguments);

    installFakeBrowsers();
    const QString xdgOpen = installFake(u"xdg-open"_s);
    registerCommand(command.replace(u'@', m_bin->path()));
    const QString url = u"http://h.example/p?q=日本語&x=%41"_s;
    linvera::OpenInBrowser(url);
    const QString browser = m_bin->filePath(program);
    QCOMPARE(waitForArguments(browser), leadingArguments + QStringList{url});
    QCOMPARE(readText(browser + u".home"_s), m_home->path());
    // The fallback runs only after a failed start, within the same call: it has not run.
    QVERIFY(!QFile::exists(xdgOpen + u".done"_s));
}

void TestDefaultBrowser::realXdgOpenReceivesUrl_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("tagged");
    QTest::addColumn<QString>("expected");

    int row = 0;
    for (const QString& url : hostileUrls()) {
        ++row;
        QTest::addRow("URL %d", row) << url << false << url;
    }
    QTest::newRow("tagged")
        << u"http://h.example/service/servlet/support"_s << true
        << u"http://h.example/service/servlet/support?app=linvera&ver=2_1_0&lang=japanese"_s;
}

void TestDefaultBrowser::realXdgOpenReceivesUrl()
{
    QFETCH(QString, url);
    QFETCH(bool, tagged);
    QFETCH(QString, expected);

    const QString xdgOpen = installFake(u"xdg-open"_s);
    if (tagged)
        linvera::OpenInBrowserTagged(url);
    else
        linvera::OpenInBrowser(url);
    QCOMPARE(waitForArguments(xdgOpen), QStringList{expected});
    QVERIFY(!QFile::exists(m_bin->filePath(u"PWNED"_s)));
}

void TestDefaultBrowser::realXdgOpenTakesOverFromBrowser_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("tagged");

    QTest::newRow("quoted program missing") << u"\"@/absent-browser\" \"%1\""_s << false;
    QTest::newRow("unquoted program missing") << u"@/absent/web-x --new-window %u"_s << false;
    QTest::newRow("program missing from PATH") << u"absent-browser %u"_s << false;
    QTest::newRow("program not executable") << u"\"@/plain-file\" %1"_s << false;
    QTest::newRow("program not startable") << u"\"@/broken-browser\" %1"_s << false;
    QTest::newRow("program not startable, tagged") << u"@/broken-browser %1"_s << true;
    QTest::newRow("no program named") << u"\"%1\""_s << false;
}

void TestDefaultBrowser::realXdgOpenTakesOverFromBrowser()
{
    QFETCH(QString, command);
    QFETCH(bool, tagged);

    QVERIFY(!installUnstartable(u"plain-file"_s, false).isEmpty());
    QVERIFY(!installUnstartable(u"broken-browser"_s, true).isEmpty());
    const QString xdgOpen = installFake(u"xdg-open"_s);
    registerCommand(command.replace(u'@', m_bin->path()));
    const QString url = u"http://h.example/service/servlet/update"_s;
    if (tagged)
        linvera::OpenInBrowserTagged(url);
    else
        linvera::OpenInBrowser(url);
    QCOMPARE(waitForArguments(xdgOpen),
             QStringList{tagged ? url + u"?app=linvera&ver=2_1_0&lang=japanese"_s : url});
    QCOMPARE(readText(xdgOpen + u".home"_s), m_home->path());
}

QTEST_GUILESS_MAIN(TestDefaultBrowser)
#include "tst_defaultbrowser.moc"
