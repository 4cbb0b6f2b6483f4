#include "AnsiCodec.h"
#include "DefaultBrowser.h"
#include "ProcessRunner.h"
#include "RegAccess.h"
#include "RegistryStore.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;
using linvera::DefaultBrowser;
using linvera::ProcessRunner;
using linvera::platform::RegistryStore;
using linvera::platform::RegRoot;

namespace {

const QString kCommandKey = u"http\\shell\\open\\command"_s;

/// Finds programs as the system does but starts nothing; records what would be started.
class RecordingRunner final : public ProcessRunner
{
public:
    struct Start
    {
        QString program;
        QStringList arguments;
    };

    Result run(const QString&, const QStringList&, const QString&, std::chrono::milliseconds) override
    {
        return {};
    }
    bool startDetached(const QString& program, const QStringList& arguments, const QString&) override
    {
        starts.append({program, arguments});
        return true;
    }
    QString findExecutable(const QString& program) override
    {
        return ProcessRunner::system().findExecutable(program);
    }

    QList<Start> starts;
};

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
    void nothingToStartIsSilent();

    void realBrowserReceivesUrl_data();
    void realBrowserReceivesUrl();
    void realXdgOpenReceivesUrl_data();
    void realXdgOpenReceivesUrl();

private:
    QString installFake(const QString& relativePath);
    QStringList waitForArguments(const QString& programPath);
    void registerCommand(const QString& command);

    std::unique_ptr<QTemporaryDir> m_storeDir;
    std::unique_ptr<QTemporaryDir> m_bin;
    std::unique_ptr<RegistryStore> m_store;
    std::unique_ptr<RegistryStore::SharedOverride> m_override;
    QByteArray m_savedPath;
};

void TestDefaultBrowser::init()
{
    linvera::platform::AnsiCodec::select(linvera::platform::AnsiCodec::CodePage::Utf8);
    m_storeDir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_storeDir->isValid());
    m_store = std::make_unique<RegistryStore>(m_storeDir->filePath(u"registry.sqlite3"_s));
    m_override = std::make_unique<RegistryStore::SharedOverride>(*m_store);

    // The fake programs' folder must itself be free of the characters that end a command's
    // program part, or every row would be cut there.
    static const QRegularExpression cutting(u"[-% \"]"_s);
    QString base = QDir::tempPath();
    if (base.contains(cutting))
        base = u"/tmp"_s;
    if (base.contains(cutting))
        QSKIP("no temporary folder without '-', '%', space or quote in its path");
    m_bin = std::make_unique<QTemporaryDir>(base + u"/browserXXXXXX"_s);
    QVERIFY(m_bin->isValid());
    m_savedPath = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(m_bin->path()));
}

void TestDefaultBrowser::cleanup()
{
    if (!m_savedPath.isNull())
        qputenv("PATH", m_savedPath);
    m_savedPath.clear();
    m_override.reset();
    m_store.reset();
    m_bin.reset();
    m_storeDir.reset();
}

QString TestDefaultBrowser::installFake(const QString& relativePath)
{
    const QString path = m_bin->filePath(relativePath);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile script(path);
    if (!script.open(QIODevice::WriteOnly))
        return {};
    // Records its arguments NUL-separated, then marks that it is done; built-ins only.
    script.write("#!/bin/sh\nprintf '%s\\0' \"$@\" > \"$0.argv\"\n: > \"$0.done\"\n");
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
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
    QTest::newRow("dash inside the path cuts it")
        << u"\"/opt/google-chrome/chrome\" %1"_s << u"/opt/google"_s;
    QTest::newRow("percent inside the path cuts it") << u"/opt/a%20b/web %1"_s << u"/opt/a"_s;
    QTest::newRow("quotes inside are dropped") << u"/opt/\"we\"b"_s << u"/opt/web"_s;
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
    QTest::newRow("program found by name") << u"web %1"_s << u"web"_s << QStringList();
    QTest::newRow("dash in the path") << u"\"@/net-browser\" %1"_s << QString() << QStringList();
    QTest::newRow("percent in the path") << u"@/net%41browser %1"_s << QString() << QStringList();
    QTest::newRow("program missing") << u"\"@/absent\" \"%1\""_s << QString() << QStringList();
    QTest::newRow("only %1") << u"\"%1\""_s << QString() << QStringList();
}

void TestDefaultBrowser::launchForRegisteredCommand()
{
    QFETCH(QString, command);
    QFETCH(QString, program);
    QFETCH(QStringList, leadingArguments);

    for (const QString& fake :
         {u"web"_s, u"net-browser"_s, u"net%41browser"_s, u"My Browser/web"_s, u"Two  Spaces/web"_s})
        QVERIFY(!installFake(fake).isEmpty());
    registerCommand(command.replace(u'@', m_bin->path()));
    program.replace(u'@', m_bin->path());

    RecordingRunner runner;
    DefaultBrowser browser(runner);
    const QString url = u"http://www.halvex.example/linvera/firefox/"_s;
    const bool started = browser.open(url);
    QCOMPARE(started, !program.isEmpty());
    if (program.isEmpty()) {
        QVERIFY(runner.starts.isEmpty());
        return;
    }
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

void TestDefaultBrowser::nothingToStartIsSilent()
{
    // No browser registered and no xdg-open on PATH: nothing starts and nothing is raised.
    DefaultBrowser browser;
    QVERIFY(!browser.open(u"http://h.example/"_s));
    linvera::OpenInBrowser(u"http://h.example/"_s);
    linvera::OpenInBrowserTagged(u"http://h.example/"_s);
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

QTEST_GUILESS_MAIN(TestDefaultBrowser)
#include "tst_defaultbrowser.moc"
