// Start-up and shutdown of the desktop program in this process: the settings table, the first-run
// and notice messages, the data folder, the marker file, the command line, the mailbox's first
// look and the automation calls that end the program.
#include "LinveraProxy.h"
#include "NoticeHost.h"
#include "RecordingMessageBoxes.h"
#include "ShellSandbox.h"
#include "ShortenerService.h"
#include "ShorteningImitations.h"
#include "TestEnvironment.h"
#include "app/shell/Application.h"
#include "app/ui/MainLayout.h"
#include "app/ui/ProgramIcon.h"
#include "app/ui/Twips.h"
#include "app/ui/frmMain.h"
#include "app/ui/frmSettings.h"
#include "automation/LinveraAutomation.h"
#include "browser/BrowserRegistrations.h"
#include "conv/ConversionEngine.h"
#include "conv/Endpoints.h"
#include "mailbox/MailboxClient.h"
#include "mailbox/MailboxNames.h"
#include "notice/NoticeFeed.h"
#include "platform/AnsiCodec.h"
#include "platform/AppInfo.h"
#include "platform/ProcessRunner.h"
#include "platform/RegAccess.h"
#include "platform/RegistryStore.h"
#include "settings/SettingsModel.h"
#include "settings/SettingsTable.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include <memory>

using namespace Qt::StringLiterals;
using namespace linvera;
using namespace linvera::test;
using Icon = platform::MessageBoxes::Icon;
using platform::RegRoot;

namespace {

const QString kTitle = u"Kemo 　(Halvex URL短縮変換)"_s;
const QString kNewVersionText =
    u"★★★新機能のご案内（初回のみ表示されます）★★★\r\n\r\n\r\n"
    "FireFoxをお使いの方は ﾌｧｲﾙ→FireFox用ﾌﾟﾗｸﾞｲﾝのｲﾝｽﾄｰﾙ を実行してください。\r\n\r\n"
    "Ver.1に搭載されていたTwitter投稿機能は、Ver.2には搭載されておりません。"_s;
const QString kShortUrl = u"http://s.example/abc"_s;

/// Recorded message boxes with something that happens while each one is up (the user or an
/// automation client acting meanwhile).
class BoxesWithAction : public RecordingMessageBoxes
{
public:
    Answer show(Icon icon, const QString& title, const QString& text, Buttons buttons = Buttons::Ok) override
    {
        if (whileShown)
            whileShown(text);
        return RecordingMessageBoxes::show(icon, title, text, buttons);
    }

    std::function<void(const QString& text)> whileShown;
};

/// Records the programs a shell open would start, and starts none.
class RecordingRunner : public ProcessRunner
{
public:
    struct Start
    {
        QString program;
        QStringList arguments;
        QString workingFolder;
    };

    void run(const QString& program, const QStringList& arguments, const QString& workingFolder,
             std::chrono::milliseconds, Done done) override
    {
        starts.append({program, arguments, workingFolder});
        QTimer::singleShot(0, [done] { done({Result::Outcome::Finished, 0}); });
    }
    bool startDetached(const QString& program, const QStringList& arguments,
                       const QString& workingFolder) override
    {
        starts.append({program, arguments, workingFolder});
        return true;
    }
    QString findExecutable(const QString& program) override { return u"/usr/bin/"_s + program; }

    QList<Start> starts;
};

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeAll(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

const QStringList kDefaultFiles{u"notice.xml"_s, u"tinyurls.txt"_s, u"picturls.txt"_s};

void setSetting(const QString& name, const QString& value)
{
    SetRegString(RegRoot::LocalMachine, SettingsKey(), name, value);
}

QDBusConnection outsideConnection()
{
    return QDBusConnection::connectToBus(QDBusConnection::SessionBus, u"outside-client"_s);
}

/// Waits with events running (the server of the call is this process).
bool settle(const QDBusPendingCall& call)
{
    return QTest::qWaitFor([&call] { return call.isFinished(); }, 20000);
}

} // namespace

class TestApplicationStart : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void firstRunDefaults();
    void firstRunRegistersBrowserEntries_data();
    void firstRunRegistersBrowserEntries();
    void browserEntriesFollowStoredValues_data();
    void browserEntriesFollowStoredValues();
    void newVersionMessage_data();
    void newVersionMessage();
    void noticeScheduleWithSameVersion_data();
    void noticeScheduleWithSameVersion();
    void settingsRoundTrip_data();
    void settingsRoundTrip();
    void shutdownWritesInTableOrder();
    void positionCheck_data();
    void positionCheck();
    void unusableStoredNumber_data();
    void unusableStoredNumber();
    void argumentList_data();
    void argumentList();
    void urlArgumentConvertedBeforeSettings();
    void runningWindowReadsTheModelNotTheStore();
    void markerFile_data();
    void markerFile();
    void dataFolder_data();
    void dataFolder();
    void damagedStoreToldOnce();
    void noticeButton();
    void noticeWarning_data();
    void noticeWarning();
    void staleHelperClassKey_data();
    void staleHelperClassKey();
    void commandLeftBeforeStartHandledAtFirstTick();
    void closingWindowIsOrderlyShutdown();
    void quitSavesNothing();
    void endingWhileStartUpWaits_data();
    void endingWhileStartUpWaits();
    void endingWhileNoticesDownload_data();
    void endingWhileNoticesDownload();
    void windowsCarryProgramIcon();
    void shellOpensInTemporaryFolder_data();
    void shellOpensInTemporaryFolder();
    void windowStateThroughBus_data();
    void windowStateThroughBus();

private:
    /// A program with this test's paths, boxes, runner and exit; not started.
    Application& makeApp();
    Application& startApp(const QStringList& arguments = {});
    void endApp();
    void usePaths(const QString& programFolder);

    std::unique_ptr<QProcess> m_helper;
    std::unique_ptr<MailboxClient> m_mailbox;

    std::unique_ptr<ShellSandbox> m_sandbox;
    std::unique_ptr<NoticeHost> m_notice;
    std::unique_ptr<ShortenerService> m_shortener;
    /// The conversion of a command-line URL comes before the settings: the list is still on is.gd.
    std::unique_ptr<IsgdImitation> m_isgd;
    BoxesWithAction m_boxes;
    RecordingRunner m_runner;
    QList<int> m_exitCodes;
    platform::AppPaths m_paths;
    std::unique_ptr<Application> m_app;
};

void TestApplicationStart::initTestCase()
{
    QVERIFY2(QDBusConnection::sessionBus().isConnected(), "needs a session bus (run under dbus-run-session)");
    QVERIFY2(QFileInfo(BuiltProgram(u"H-LinveraHelper"_s)).isExecutable(), "H-LinveraHelper is not built");
    // One mailbox server for the whole run, held by this process as the main program holds it.
    m_helper = std::make_unique<QProcess>();
    m_helper->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_helper->start(BuiltProgram(u"H-LinveraHelper"_s), QStringList());
    QVERIFY2(m_helper->waitForStarted(10000), qPrintable(m_helper->errorString()));
    QVERIFY(WaitForNameOwner(QDBusConnection::sessionBus(), MailboxNames::service(), true));
    m_mailbox = std::make_unique<MailboxClient>();
    QVERIFY2(m_mailbox->tryConnect(), qPrintable(m_mailbox->lastError()));
}

void TestApplicationStart::cleanupTestCase()
{
    m_mailbox.reset();
    if (m_helper && m_helper->state() != QProcess::NotRunning) {
        m_helper->kill();
        m_helper->waitForFinished(10000);
    }
}

void TestApplicationStart::init()
{
    m_sandbox = std::make_unique<ShellSandbox>();
    QVERIFY(m_sandbox->isValid());
    m_notice = std::make_unique<NoticeHost>();
    m_shortener = std::make_unique<ShortenerService>();
    QVERIFY(m_notice->isListening());
    QVERIFY(m_shortener->isListening());
    m_shortener->setShortUrl(kShortUrl);
    m_isgd = std::make_unique<IsgdImitation>();
    QVERIFY(m_isgd->isListening());
    PointEndpoints({{u"MakerNoticeHost"_s, m_notice->noticeHost()},
                    {u"ShortenerApiHost"_s, m_shortener->hostAndPort()},
                    {u"ShortenerAltApiHost"_s, m_shortener->hostAndPort()},
                    {u"IsgdApiBase"_s, u"http://"_s + m_isgd->hostAndPort()}});
    // No new-version box unless a test asks for one.
    setSetting(u"Version"_s, u"2_1_0"_s);
    // The designed service, which the shortener imitates (a fresh store uses is.gd).
    setSetting(u"ShortURLType"_s, u"0"_s);

    const QString program = m_sandbox->root() + u"/program"_s;
    QVERIFY(QDir().mkpath(program));
    for (const QString& name : kDefaultFiles)
        QVERIFY(QFile::copy(platform::JoinPath(programDir(), name), platform::JoinPath(program, name)));
    usePaths(program);

    m_boxes.clear();
    m_boxes.whileShown = nullptr;
    m_runner.starts.clear();
    m_exitCodes.clear();
    QVERIFY(m_mailbox->clearCmdDirty().ok);
    QGuiApplication::clipboard()->clear();
}

void TestApplicationStart::cleanup()
{
    endApp();
    m_boxes.whileShown = nullptr;
    m_shortener.reset();
    m_isgd.reset();
    m_notice.reset();
    m_sandbox.reset();
}

void TestApplicationStart::usePaths(const QString& programFolder)
{
    m_paths.programFolder = programFolder;
    m_paths.homeFolder = m_sandbox->home();
    // Two missing levels above the data folder.
    m_paths.dataFolder = m_sandbox->home() + u"/Documents/deep/halvex-linvera"_s;
    m_paths.desktopFolder = m_sandbox->home() + u"/Desktop"_s;
    m_paths.tempFolder = m_sandbox->tempFolder();
    m_paths.logFilePath = m_paths.dataFile(u"log.txt"_s);
    m_paths.noticeFilePath = m_paths.dataFile(u"notice.xml"_s);
}

Application& TestApplicationStart::makeApp()
{
    Application::Options options;
    options.paths = m_paths;
    options.exitProcess = [this](int code) { m_exitCodes.append(code); };
    options.helperProgram = BuiltProgram(u"H-LinveraHelper"_s);
    options.writeServiceFiles = false;
    options.processRunner = &m_runner;
    m_app = std::make_unique<Application>(m_boxes, options);
    return *m_app;
}

Application& TestApplicationStart::startApp(const QStringList& arguments)
{
    makeApp();
    const Application::Role role = m_app->start(arguments);
    if (role != Application::Role::FirstInstance)
        qWarning("start-up did not run as the first instance");
    // A command-line URL is converted first; start-up goes on once it has been answered.
    if (!QTest::qWaitFor([this] { return !m_app->isProcessing(); }, 30000))
        qWarning("the command-line conversion was not answered");
    // Then the notice download, when there is one.
    if (!QTest::qWaitFor([this] { return !m_app->isStarting(); }, 30000))
        qWarning("start-up did not reach its end");
    return *m_app;
}

void TestApplicationStart::endApp()
{
    m_app.reset();
    // The process keeps its bus connection: give the name back for the next start.
    QDBusConnection::sessionBus().interface()->unregisterService(
        QString::fromLatin1(LinveraAutomation::kServiceName));
}

// ---- first run

void TestApplicationStart::firstRunDefaults()
{
    DeleteRegValue(RegRoot::LocalMachine, SettingsKey(), u"Version"_s);
    DeleteRegValue(RegRoot::LocalMachine, SettingsKey(), u"ShortURLType"_s);
    QList<qsizetype> requestsAtShow;
    m_boxes.whileShown = [&](const QString&) { requestsAtShow.append(m_notice->requestCount()); };
    Application& app = startApp();
    const frmMain* main = app.mainWindow();
    const frmSettings* settings = app.settingsWindow();

    QCOMPARE(main->chkClipboard()->checkState(), Qt::Checked);
    const QRectF outer = main->outerGeometryTwips();
    QCOMPARE(outer.topLeft(), QPointF(0, 0));
    QCOMPARE(outer.width(), kMainClientSize.width + kMainFrameAllowance.width);
    QCOMPARE(outer.height(), kMainClientSize.height + kMainFrameAllowance.height);
    QCOMPARE(settings->lstImageType()->currentIndex(), 0);
    QCOMPARE(settings->lstShortURLType()->currentIndex(), int(ShortUrlIsgd));
    QCOMPARE(settings->chkMenuExt()->checkState(), Qt::Checked);
    QCOMPARE(settings->chkToolBarIcon()->checkState(), Qt::Checked);
    QCOMPARE(settings->txtLogin()->text(), QString());
    QCOMPARE(settings->txtPass()->text(), QString());
    QCOMPARE(settings->chkLoginSave()->checkState(), Qt::Checked);
    QCOMPARE(settings->chkPassSave()->checkState(), Qt::Checked);
    QVERIFY(main->isVisible());
    QCOMPARE(main->windowTitle(), kTitle);

    QCOMPARE(m_boxes.shown().size(), 1);
    const RecordingMessageBoxes::Shown box = m_boxes.shown().constFirst();
    QCOMPARE(box.icon, Icon::Information);
    QCOMPARE(box.title, kTitle);
    QCOMPARE(box.text, kNewVersionText);
    QCOMPARE(box.buttons, platform::MessageBoxes::Buttons::Ok);
    // The notice files are fetched after the box was dismissed.
    QCOMPARE(requestsAtShow, QList<qsizetype>{0});
    QCOMPARE(m_notice->namesRequested(), (QList<QByteArray>{"", "tinyurls.txt", "picturls.txt"}));
    QCOMPARE(m_notice->versionsRequested(), QStringList{u"2_1_0"_s});
    QCOMPARE(main->btnNotice()->text(), *NoticeHost::sampleNotice().noticeMessage);
    QCOMPARE(StoredSetting(u"Version"_s), u"2_1_0"_s);
    QVERIFY(m_exitCodes.isEmpty());

    // The second run knows the version: no message.
    endApp();
    m_boxes.clear();
    startApp();
    QVERIFY2(m_boxes.shown().isEmpty(), qPrintable(m_boxes.texts().join(u" | "_s)));
}

void TestApplicationStart::firstRunRegistersBrowserEntries_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expected");

    const BrowserRegistrations here; // the running program's folder, as the program's own calls use
    const QString menu = BrowserRegistrations::menuExtKey();
    const QString button = BrowserRegistrations::toolbarButtonKey();
    QTest::newRow("menu entry page") << menu << QString() << here.programFile(u"menuext.html"_s);
    QTest::newRow("menu entry contexts") << menu << u"Contexts"_s << u"63"_s;
    QTest::newRow("menu entry flags") << menu << u"Flags"_s << u"0"_s;
    QTest::newRow("menu entry program") << menu << u"Exe"_s << here.programFile(u"H-Linvera"_s);
    QTest::newRow("button default value") << button << QString() << BrowserRegistrations::caption();
    QTest::newRow("button text") << button << u"ButtonText"_s << BrowserRegistrations::caption();
    QTest::newRow("button visible") << button << u"Default Visible"_s << u"Yes"_s;
    QTest::newRow("button script") << button << u"Script"_s << here.programFile(u"toolbar.html"_s);
    QTest::newRow("button program") << button << u"Exe"_s << here.programFile(u"H-Linvera"_s);
    QTest::newRow("button class") << button << u"CLSID"_s << u"{1FBA04EE-3024-11D2-8F1F-0000F87ABD16}"_s;
}

void TestApplicationStart::firstRunRegistersBrowserEntries()
{
    QFETCH(QString, key);
    QFETCH(QString, name);
    QFETCH(QString, expected);

    QVERIFY(!m_sandbox->store().keyExists(RegRoot::CurrentUser, key));
    startApp();
    QString value;
    QVERIFY2(GetRegValue(RegRoot::CurrentUser, key, name, value), "value missing");
    QCOMPARE(value, expected);
}

void TestApplicationStart::browserEntriesFollowStoredValues_data()
{
    QTest::addColumn<QString>("menuExt");
    QTest::addColumn<QString>("toolbarIcon");
    QTest::addColumn<bool>("registeredBefore");
    QTest::addColumn<bool>("menuAfter");
    QTest::addColumn<bool>("buttonAfter");

    QTest::newRow("both absent: both registered") << QString() << QString() << false << true << true;
    QTest::newRow("blank values: both registered") << u" "_s << u" "_s << false << true << true;
    QTest::newRow("menu 0, button 1") << u"0"_s << u"1"_s << false << false << true;
    QTest::newRow("menu 1, button 0") << u"1"_s << u"0"_s << false << true << false;
    // 0 is the designed state: nothing is raised, so entries of an earlier run stay.
    QTest::newRow("both 0: earlier entries untouched") << u"0"_s << u"0"_s << true << true << true;
    QTest::newRow("both 0: nothing registered") << u"0"_s << u"0"_s << false << false << false;
    QTest::newRow("unusable text: designed state kept") << u"yes"_s << u"9"_s << false << false << false;
}

void TestApplicationStart::browserEntriesFollowStoredValues()
{
    QFETCH(QString, menuExt);
    QFETCH(QString, toolbarIcon);
    QFETCH(bool, registeredBefore);
    QFETCH(bool, menuAfter);
    QFETCH(bool, buttonAfter);

    if (!menuExt.isNull())
        setSetting(u"MenuExt"_s, menuExt);
    if (!toolbarIcon.isNull())
        setSetting(u"ToolbarIcon"_s, toolbarIcon);
    if (registeredBefore) {
        AddMenuExtension();
        AddToolbarButton();
    }
    Application& app = startApp();
    QCOMPARE(app.settingsWindow()->chkMenuExt()->isChecked(),
             menuExt.trimmed().isEmpty() || menuExt == u"1"_s);
    QCOMPARE(m_sandbox->store().keyExists(RegRoot::CurrentUser, BrowserRegistrations::menuExtKey()),
             menuAfter);
    QCOMPARE(m_sandbox->store().keyExists(RegRoot::CurrentUser, BrowserRegistrations::toolbarButtonKey()),
             buttonAfter);
}

void TestApplicationStart::newVersionMessage_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<bool>("shown");

    QTest::newRow("no version stored") << QString() << true;
    QTest::newRow("blank version") << u"  "_s << true;
    QTest::newRow("older version") << u"2_0_9"_s << true;
    QTest::newRow("dotted form is another text") << u"2.1.0"_s << true;
    QTest::newRow("same version") << u"2_1_0"_s << false;
    QTest::newRow("same version with blanks around") << u" 2_1_0\r\n"_s << false;
}

void TestApplicationStart::newVersionMessage()
{
    QFETCH(QString, stored);
    QFETCH(bool, shown);

    if (stored.isNull())
        DeleteRegValue(RegRoot::LocalMachine, SettingsKey(), u"Version"_s);
    else
        setSetting(u"Version"_s, stored);
    startApp();
    QCOMPARE(m_boxes.texts(), shown ? QStringList{kNewVersionText} : QStringList());
    QCOMPARE(StoredSetting(u"Version"_s), u"2_1_0"_s);
    // After the message the notice files are always fetched.
    if (shown)
        QCOMPARE(m_notice->versionsRequested(), QStringList{u"2_1_0"_s});
}

void TestApplicationStart::noticeScheduleWithSameVersion_data()
{
    QTest::addColumn<int>("daysAgo"); // -1: never checked
    QTest::addColumn<bool>("fetched");

    QTest::newRow("never checked: the date is recorded, no fetch") << -1 << false;
    QTest::newRow("checked today") << 0 << false;
    QTest::newRow("checked 7 days ago") << 7 << false;
    QTest::newRow("checked 8 days ago") << 8 << true;
    QTest::newRow("checked 30 days ago") << 30 << true;
}

void TestApplicationStart::noticeScheduleWithSameVersion()
{
    QFETCH(int, daysAgo);
    QFETCH(bool, fetched);

    if (daysAgo >= 0)
        setSetting(u"lastnotify"_s, NoticeDateText(QDate::currentDate().addDays(-daysAgo)));
    startApp();
    QVERIFY(m_boxes.shown().isEmpty());
    QCOMPARE(m_notice->versionsRequested(), fetched ? QStringList{u"2_1_0"_s} : QStringList());
    QVERIFY(!StoredSetting(u"lastnotify"_s).isEmpty());
}

// ---- settings

void TestApplicationStart::settingsRoundTrip_data()
{
    QTest::addColumn<bool>("loginSave");
    QTest::addColumn<QString>("login");
    QTest::addColumn<bool>("passSave");
    QTest::addColumn<QString>("pass");
    QTest::addColumn<QString>("storedLogin");
    QTest::addColumn<QString>("storedPass");
    QTest::addColumn<QString>("readLogin");
    QTest::addColumn<QString>("readPass");

    QTest::newRow("login and password kept")
        << true << u"user"_s << true << u"secret"_s << u"user"_s << u"secret"_s << u"user"_s << u"secret"_s;
    QTest::newRow("save boxes checked, fields empty: one space each")
        << true << QString() << true << QString() << u" "_s << u" "_s << QString() << QString();
    QTest::newRow("save boxes unchecked: one space each")
        << false << u"user"_s << false << u"secret"_s << u" "_s << u" "_s << QString() << QString();
    QTest::newRow("only the login saved")
        << true << u"user"_s << false << u"secret"_s << u"user"_s << u" "_s << u"user"_s << QString();
    QTest::newRow("texts with blanks are taken raw")
        << true << u"a b"_s << true << u" pw "_s << u"a b"_s << u" pw "_s << u"a b"_s << u" pw "_s;
}

void TestApplicationStart::settingsRoundTrip()
{
    QFETCH(bool, loginSave);
    QFETCH(QString, login);
    QFETCH(bool, passSave);
    QFETCH(QString, pass);
    QFETCH(QString, storedLogin);
    QFETCH(QString, storedPass);
    QFETCH(QString, readLogin);
    QFETCH(QString, readPass);

    Application& first = startApp();
    frmMain* main = first.mainWindow();
    frmSettings* settings = first.settingsWindow();
    const TwipScale scale = TwipScale::of(main);
    main->move(20, 10);
    main->setOuterSizeTwips(11400, 4800);
    main->chkClipboard()->setChecked(false);
    settings->lstImageType()->setCurrentIndex(1);
    settings->lstShortURLType()->setCurrentIndex(1);
    settings->chkMenuExt()->setChecked(false);
    settings->chkLoginSave()->setChecked(loginSave);
    settings->txtLogin()->setText(login);
    settings->chkPassSave()->setChecked(passSave);
    settings->txtPass()->setText(pass);
    const QRectF saved = main->outerGeometryTwips();
    QCOMPARE(saved.topLeft(), QPointF(scale.toTwipsX(20), scale.toTwipsY(10)));

    first.shutdown();
    QCOMPARE(m_exitCodes, QList<int>{0});
    QCOMPARE(StoredSetting(u"FormX"_s), QString::number(scale.toTwipsX(20)));
    QCOMPARE(StoredSetting(u"FormY"_s), QString::number(scale.toTwipsY(10)));
    QCOMPARE(StoredSetting(u"FormW"_s), QString::number(saved.width()));
    QCOMPARE(StoredSetting(u"FormH"_s), QString::number(saved.height()));
    QCOMPARE(StoredSetting(u"Clipboard"_s), u"0"_s);
    QCOMPARE(StoredSetting(u"ImageType"_s), u"1"_s);
    QCOMPARE(StoredSetting(u"ShortURLType"_s), u"1"_s);
    QCOMPARE(StoredSetting(u"MenuExt"_s), u"0"_s);
    QCOMPARE(StoredSetting(u"ToolbarIcon"_s), u"1"_s);
    QCOMPARE(StoredSetting(u"TwitterChkLogin"_s), loginSave ? u"1"_s : u"0"_s);
    QCOMPARE(StoredSetting(u"TwitterChkPass"_s), passSave ? u"1"_s : u"0"_s);
    QCOMPARE(StoredSetting(u"TwitterLogin"_s), storedLogin);
    QCOMPARE(StoredSetting(u"TwitterPass"_s), storedPass);
    QCOMPARE(StoredSetting(u"_Dummy"_s), u" "_s);
    endApp();

    Application& second = startApp();
    main = second.mainWindow();
    settings = second.settingsWindow();
    QCOMPARE(main->outerGeometryTwips(), saved);
    QCOMPARE(main->chkClipboard()->isChecked(), false);
    QCOMPARE(settings->lstImageType()->currentIndex(), 1);
    QCOMPARE(settings->lstShortURLType()->currentIndex(), 1);
    QCOMPARE(settings->chkMenuExt()->isChecked(), false);
    QCOMPARE(settings->chkToolBarIcon()->isChecked(), true);
    QCOMPARE(settings->chkLoginSave()->isChecked(), loginSave);
    QCOMPARE(settings->chkPassSave()->isChecked(), passSave);
    QCOMPARE(settings->txtLogin()->text(), readLogin);
    QCOMPARE(settings->txtPass()->text(), readPass);
    QCOMPARE(m_exitCodes, QList<int>{0});
}

void TestApplicationStart::shutdownWritesInTableOrder()
{
    DeleteRegValue(RegRoot::LocalMachine, SettingsKey(), u"ShortURLType"_s);
    Application& app = startApp();
    app.shutdown();
    app.shutdown(); // a second request while ending changes nothing
    QCOMPARE(m_exitCodes, QList<int>{0});
    const QStringList expected{
        u"Version"_s,         u"lastnotify"_s,   u"_Dummy"_s,      u"FormX"_s,           u"FormY"_s,
        u"FormW"_s,           u"FormH"_s,        u"Clipboard"_s,   u"ImageType"_s,       u"ShortURLType"_s,
        u"FollowRedirects"_s, u"MenuExt"_s,      u"ToolbarIcon"_s, u"TwitterChkLogin"_s, u"TwitterChkPass"_s,
        u"TwitterLogin"_s,    u"TwitterPass"_s,  u"YourlsUrl"_s,   u"YourlsSignature"_s, u"ShlinkUrl"_s,
        u"ShlinkApiKey"_s,    u"StripTrackers"_s};
    QCOMPARE(ValueNames(RegRoot::LocalMachine, SettingsKey()), expected);
    for (const QString& name : expected) {
        quint32 type = 0;
        QByteArray data;
        QCOMPARE(m_sandbox->store().queryValue(RegRoot::LocalMachine, SettingsKey(), name, type, data), 0);
        QVERIFY2(type == platform::RegistryStore::RegSz, qPrintable(name));
    }
}

void TestApplicationStart::positionCheck_data()
{
    QTest::addColumn<QString>("formX");
    QTest::addColumn<QString>("formY");
    QTest::addColumn<double>("left");
    QTest::addColumn<double>("top");

    const QScreen* screen = QGuiApplication::primaryScreen();
    QVERIFY(screen);
    const TwipScale scale = TwipScale::fromDpi(screen->logicalDotsPerInchX(), screen->logicalDotsPerInchY());
    const double width = scale.toTwipsX(screen->geometry().width());
    const double height = scale.toTwipsY(screen->geometry().height());
    const double px = scale.x;
    const double py = scale.y;
    const auto text = [](double v) { return QString::number(v); };

    QTest::newRow("inside the screen") << text(100 * px) << text(50 * py) << 100 * px << 50 * py;
    QTest::newRow("FormX negative") << text(-20 * px) << text(50 * py) << 0.0 << 50 * py;
    QTest::newRow("FormX -1 twip") << u"-1"_s << text(50 * py) << 0.0 << 50 * py;
    QTest::newRow("FormX beyond the screen width") << text(width + px) << text(50 * py) << 0.0 << 50 * py;
    QTest::newRow("FormX equal to the screen width") << text(width) << text(50 * py) << width << 50 * py;
    QTest::newRow("FormY negative") << text(100 * px) << text(-10 * py) << 100 * px << 0.0;
    QTest::newRow("FormY beyond the screen height") << text(100 * px) << text(height + py) << 100 * px << 0.0;
    QTest::newRow("FormY equal to the screen height") << text(100 * px) << text(height) << 100 * px << height;
    QTest::newRow("both negative (closed while minimised)") << u"-48000"_s << u"-48000"_s << 0.0 << 0.0;
    QTest::newRow("both blank") << u" "_s << u"\r\n"_s << 0.0 << 0.0;
}

void TestApplicationStart::positionCheck()
{
    QFETCH(QString, formX);
    QFETCH(QString, formY);
    QFETCH(double, left);
    QFETCH(double, top);

    setSetting(u"FormX"_s, formX);
    setSetting(u"FormY"_s, formY);
    Application& app = startApp();
    QCOMPARE(app.mainWindow()->outerGeometryTwips().topLeft(), QPointF(left, top));
}

void TestApplicationStart::unusableStoredNumber_data()
{
    QTest::addColumn<QString>("clipboard");
    QTest::addColumn<bool>("checked");

    QTest::newRow("absent: default 1") << QString() << true;
    QTest::newRow("blank: default 1") << u" \r\n"_s << true;
    QTest::newRow("0 unchecks") << u"0"_s << false;
    QTest::newRow("1 checks") << u"1"_s << true;
    QTest::newRow("non-numeric text skipped") << u"abc"_s << true;
    QTest::newRow("number with letters skipped") << u"0x"_s << true;
    QTest::newRow("beyond 16 bits skipped") << u"65536"_s << true;
    QTest::newRow("beyond 32 bits skipped") << u"4294967296"_s << true;
    QTest::newRow("value the box refuses skipped") << u"7"_s << true;
    QTest::newRow("negative value the box refuses") << u"-1"_s << true;
    QTest::newRow("0.4 rounds to 0") << u"0.4"_s << false;
    QTest::newRow("0.5 rounds half to even: 0") << u"0.5"_s << false;
}

void TestApplicationStart::unusableStoredNumber()
{
    QFETCH(QString, clipboard);
    QFETCH(bool, checked);

    if (!clipboard.isNull())
        setSetting(u"Clipboard"_s, clipboard);
    // The settings after "Clipboard" still apply.
    setSetting(u"FormX"_s, u"1500"_s);
    setSetting(u"ImageType"_s, u"1"_s);
    setSetting(u"TwitterLogin"_s, u"someone"_s);
    setSetting(u"TwitterChkPass"_s, u"0"_s);
    Application& app = startApp();
    QCOMPARE(app.mainWindow()->chkClipboard()->isChecked(), checked);
    QCOMPARE(app.mainWindow()->outerGeometryTwips().left(), 1500.0);
    QCOMPARE(app.settingsWindow()->lstImageType()->currentIndex(), 1);
    QCOMPARE(app.settingsWindow()->txtLogin()->text(), u"someone"_s);
    QCOMPARE(app.settingsWindow()->chkPassSave()->isChecked(), false);
}

// ---- command line

void TestApplicationStart::argumentList_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("argList");
    QTest::addColumn<QString>("converted"); // null: nothing converted, no log line

    QTest::newRow("no arguments") << QStringList() << QStringList{QString()} << QString();
    QTest::newRow("-Embedding: one empty argument")
        << QStringList{u"-Embedding"_s} << QStringList{QString(), QString()} << QString();
    QTest::newRow("-embedding is not the start flag")
        << QStringList{u"-embedding"_s} << QStringList{QString(), u"-embedding"_s} << u"-embedding"_s;
    QTest::newRow("URL") << QStringList{u"http://a.example/long"_s}
                         << QStringList{QString(), u"http://a.example/long"_s} << u"http://a.example/long"_s;
    QTest::newRow("URL with a space stays one argument")
        << QStringList{u"http://a.example/x y"_s} << QStringList{QString(), u"http://a.example/x y"_s}
        << u"http://a.example/x y"_s;
    QTest::newRow("URL and title") << QStringList{u"http://a.example/p"_s, u"ページ 題名"_s}
                                   << QStringList{QString(), u"http://a.example/p"_s, u"ページ 題名"_s}
                                   << u"http://a.example/p"_s;
    QTest::newRow("-Embedding as argument 2 stays")
        << QStringList{u"http://a.example/p"_s, u"-Embedding"_s}
        << QStringList{QString(), u"http://a.example/p"_s, u"-Embedding"_s} << u"http://a.example/p"_s;
    QTest::newRow("empty argument") << QStringList{QString()} << QStringList{QString(), QString()}
                                    << QString();
    const QStringList eleven{u"a1"_s, u"a2"_s, u"a3"_s, u"a4"_s,  u"a5"_s, u"a6"_s,
                             u"a7"_s, u"a8"_s, u"a9"_s, u"a10"_s, u"a11"_s};
    QTest::newRow("eleven arguments: ten taken")
        << eleven << (QStringList{QString()} + eleven.mid(0, 10)) << u"a1"_s;
}

void TestApplicationStart::argumentList()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, argList);
    QFETCH(QString, converted);

    Application& app = startApp(arguments);
    QCOMPARE(app.argList(), argList);
    QCOMPARE(app.mainWindow()->txtBeforeUrl()->text(), converted.isNull() ? QString() : converted);
    // Converted before the settings apply: through is.gd, where the list starts.
    QVERIFY(m_shortener->calls().isEmpty());
    if (converted.isNull()) {
        QCOMPARE(m_isgd->requestCount(), 0);
        QVERIFY2(!QFile::exists(m_paths.logFilePath), "an empty input wrote a log line");
        QCOMPARE(app.mainWindow()->lblMsg()->text(), QString());
    } else {
        QCOMPARE(m_isgd->requestCount(), 1);
        QCOMPARE(m_isgd->lastRequest().queryValue(u"url"_s), converted);
        // Like the real service, the imitation refuses what is not a web address.
        const QString shortUrl = converted.startsWith(u"http"_s) ? u"https://is.gd/1"_s : QString();
        QCOMPARE(app.mainWindow()->afterUrl(), shortUrl);
        const QByteArray log = readAll(m_paths.logFilePath);
        QVERIFY2(log.endsWith(platform::AnsiCodec::encode(
                     QString(u", "_s + converted + u", "_s + shortUrl + u"\r\n"_s))),
                 log.constData());
    }
}

void TestApplicationStart::runningWindowReadsTheModelNotTheStore()
{
    ShortenerService primary;
    primary.setShortUrl(u"http://s.example/primary"_s);
    SetRegString(RegRoot::LocalMachine, QString::fromLatin1(Endpoints::kRegistryKey), u"ShortenerApiHost"_s,
                 primary.hostAndPort());
    setSetting(u"ShortURLType"_s, u"1"_s);
    Application& app = startApp();

    // A stored value written while the program runs changes nothing until the next start ...
    setSetting(u"ShortURLType"_s, u"2"_s);
    app.startConv(u"http://a.example/long"_s);
    QTRY_VERIFY_WITH_TIMEOUT(!app.isProcessing(), 30000);
    QCOMPARE(primary.calls().size(), 1);
    QCOMPARE(m_isgd->requestCount(), 0);
    // ... while the dialog's choice reaches the next conversion at once, and the store only at shutdown.
    app.settingsWindow()->lstShortURLType()->setCurrentIndex(ShortUrlIsgd);
    QCOMPARE(app.settings()->snapshot().shortUrlType, int(ShortUrlIsgd));
    setSetting(u"ShortURLType"_s, u"1"_s);
    app.startConv(u"http://a.example/other"_s);
    QTRY_VERIFY_WITH_TIMEOUT(!app.isProcessing(), 30000);
    QCOMPARE(m_isgd->requestCount(), 1);
    QCOMPARE(primary.calls().size(), 1);
    QString stored;
    GetRegValue(RegRoot::LocalMachine, SettingsKey(), u"ShortURLType"_s, stored);
    QCOMPARE(stored, u"1"_s);

    // The proxy belongs to the user's Internet settings: another program's change reaches the model.
    platform::RegistryStore other(platform::RegistryStore::shared().filePath());
    const QString internet = u"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings"_s;
    const auto mode = platform::RegistryStore::CreateMode::CreateMissingKeys;
    QCOMPARE(other.setValue(RegRoot::CurrentUser, internet, u"ProxyServer"_s, platform::RegistryStore::RegSz,
                            QByteArrayLiteral("127.0.0.1:9") + '\0', mode),
             0);
    QCOMPARE(other.setValue(RegRoot::CurrentUser, internet, u"ProxyEnable"_s,
                            platform::RegistryStore::RegDword, QByteArray("\x01\x00\x00\x00", 4), mode),
             0);
    QTRY_VERIFY_WITH_TIMEOUT(app.settings()->proxy().enabled, 5000);
    QCOMPARE(app.settings()->proxy().server, u"127.0.0.1:9"_s);
    // The engine's next run starts with it as well.
    QVERIFY(app.engine()->settings().proxy.enabled);
    QCOMPARE(app.engine()->settings().proxy.server, u"127.0.0.1:9"_s);
}

void TestApplicationStart::urlArgumentConvertedBeforeSettings()
{
    // The stored form 1 (the primary API host) applies only after the command-line URL is converted.
    ShortenerService primary;
    primary.setShortUrl(u"http://s.example/primary"_s);
    SetRegString(RegRoot::LocalMachine, QString::fromLatin1(Endpoints::kRegistryKey), u"ShortenerApiHost"_s,
                 primary.hostAndPort());
    setSetting(u"ShortURLType"_s, u"1"_s);
    setSetting(u"Clipboard"_s, u"0"_s);

    Application& app = startApp({u"http://a.example/long"_s});
    QCOMPARE(m_isgd->requestCount(), 1); // is.gd: where the list starts, before the stored choice
    QCOMPARE(m_shortener->calls().size(), 0);
    QCOMPARE(primary.calls().size(), 0);
    QCOMPARE(app.mainWindow()->afterUrl(), u"https://is.gd/1"_s);
    // The clipboard box was still in its designed checked state.
    QCOMPARE(QGuiApplication::clipboard()->text(), u"https://is.gd/1"_s);
    QCOMPARE(app.settingsWindow()->lstShortURLType()->currentIndex(), 1);
    QCOMPARE(app.mainWindow()->chkClipboard()->isChecked(), false);

    // Later conversions follow the applied setting.
    app.startConv(u"http://a.example/later"_s);
    QTRY_VERIFY_WITH_TIMEOUT(!app.isProcessing(), 30000);
    QCOMPARE(primary.calls().size(), 1);
    QCOMPARE(app.afterUrl(), u"http://s.example/primary"_s);
}

// ---- files

void TestApplicationStart::markerFile_data()
{
    QTest::addColumn<QString>("programName");
    QTest::addColumn<QByteArray>("before");

    QTest::newRow("no marker yet") << u"program2"_s << QByteArray();
    QTest::newRow("longer old marker is cut") << u"program2"_s << QByteArray(4000, 'x');
    QTest::newRow("folder name in Japanese") << u"プログラム"_s << QByteArray("old\r\n");
}

void TestApplicationStart::markerFile()
{
    QFETCH(QString, programName);
    QFETCH(QByteArray, before);

    const QString program = m_sandbox->root() + u'/' + programName;
    QVERIFY(QDir().mkpath(program));
    usePaths(program);
    const QString marker = m_sandbox->home() + u"/.h-linvera"_s;
    if (!before.isNull())
        QVERIFY(writeAll(marker, before));
    startApp();
    QCOMPARE(readAll(marker), platform::AnsiCodec::encode(QString(program + u"\r\n"_s)));
}

void TestApplicationStart::damagedStoreToldOnce()
{
    // Replaced by garbage while this process holds the store open: its log lies beside the garbage.
    const QString store = m_sandbox->registryFile();
    QVERIFY(writeAll(store + u".new"_s, QByteArray("garbage ").repeated(1000)));
    QVERIFY(QFile::remove(store) && QFile::rename(store + u".new"_s, store));
    const QByteArray garbage = readAll(store);

    // A URL on the command line: the conversion reads the store too. A local rule previews it: the
    // default settings would shorten through is.gd, off this machine.
    QVERIFY(QDir().mkpath(m_sandbox->dataFolder()));
    QVERIFY(writeAll(m_sandbox->dataFolder() + u"/tinyurls.txt"_s,
                     QByteArray("long.example/\thttp://target.example/fixed\t\r\n")));
    Application& app = startApp({u"http://long.example/x"_s});
    QVERIFY(app.mainWindow()->isVisible());
    QCOMPARE(app.mainWindow()->chkClipboard()->checkState(), Qt::Checked);
    QCOMPARE(app.settingsWindow()->lstShortURLType()->currentIndex(), int(ShortUrlIsgd));
    const QString message = u"設定ファイルが壊れているため読み込めません。既定の設定で動作します。\n"_s +
                            m_sandbox->store().filePath();
    QTRY_COMPARE(m_boxes.texts().filter(u"設定ファイル"_s), QStringList{message});
    // The writes of the shutdown tell nothing more, and never touch the garbage.
    endApp();
    QCoreApplication::processEvents();
    QCOMPARE(m_boxes.texts().filter(u"設定ファイル"_s), QStringList{message});
    QCOMPARE(readAll(store), garbage);
}

void TestApplicationStart::dataFolder_data()
{
    QTest::addColumn<bool>("defaults");
    QTest::addColumn<QByteArray>("userRules"); // a tinyurls.txt already in the data folder

    QTest::newRow("fresh: folder with parents, defaults copied") << true << QByteArray();
    QTest::newRow("user rule file kept")
        << true << QByteArray("own.example/\thttp://target.example/fixed\t\r\n");
    QTest::newRow("no defaults: start-up goes on") << false << QByteArray();
}

void TestApplicationStart::dataFolder()
{
    QFETCH(bool, defaults);
    QFETCH(QByteArray, userRules);

    const QString program = m_sandbox->root() + u"/empty-program"_s;
    QVERIFY(QDir().mkpath(program));
    if (defaults) {
        for (const QString& name : kDefaultFiles)
            QVERIFY(QFile::copy(platform::JoinPath(programDir(), name), platform::JoinPath(program, name)));
    }
    usePaths(program);
    QVERIFY(!QFileInfo::exists(QFileInfo(m_paths.dataFolder).path()));
    if (!userRules.isNull())
        QVERIFY(writeAll(m_paths.dataFile(u"tinyurls.txt"_s), userRules));

    Application& app = startApp();
    QVERIFY(QFileInfo(m_paths.dataFolder).isDir());
    for (const QString& name : kDefaultFiles) {
        const QString target = m_paths.dataFile(name);
        if (name == u"tinyurls.txt"_s && !userRules.isNull())
            QCOMPARE(readAll(target), userRules);
        else if (defaults)
            QCOMPARE(readAll(target), readAll(platform::JoinPath(program, name)));
        else
            QVERIFY2(!QFile::exists(target), qPrintable(name));
    }
    QVERIFY(app.mainWindow()->isVisible());
    QVERIFY(m_boxes.shown().isEmpty());
    // The loaded rules are the data folder's: the user's own rule answers without any fetch.
    if (!userRules.isNull()) {
        app.startConv(u"http://own.example/abc"_s);
        QTRY_VERIFY_WITH_TIMEOUT(!app.isProcessing(), 30000);
        QCOMPARE(app.afterUrl(), u"http://target.example/fixed"_s);
        QCOMPARE(m_shortener->calls().size(), 0);
    }
}

void TestApplicationStart::noticeButton()
{
    NoticeHost::Notice notice;
    notice.noticeMessage = u"テストのお知らせ"_s;
    notice.noticeUrl = u"http://notice.example/news?id=1&x=2"_s;
    notice.warningMessage = QString();
    notice.account = u"someone"_s;
    QVERIFY(
        writeAll(platform::JoinPath(m_paths.programFolder, u"notice.xml"_s), NoticeHost::noticeXml(notice)));

    Application& app = startApp();
    QCOMPARE(app.mainWindow()->btnNotice()->text(), u"テストのお知らせ"_s);
    QCOMPARE(app.mainWindow()->btnNotice()->toolTip(), u"http://notice.example/news?id=1&x=2"_s);
    QCOMPARE(app.mainWindow()->noticeUrl(), u"http://notice.example/news?id=1&x=2"_s);
    QCOMPARE(app.makerAccount(), u"someone"_s);
    QVERIFY(m_boxes.shown().isEmpty());
    QCOMPARE(m_notice->requestCount(), 0);
}

void TestApplicationStart::noticeWarning_data()
{
    QTest::addColumn<bool>("firstRun");
    QTest::addColumn<QString>("warning");
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<QList<int>>("icons");

    QTest::newRow("no warning") << false << QString() << QStringList() << QList<int>();
    QTest::newRow("warning shown") << false << u"サーバー停止のお知らせ"_s
                                   << QStringList{u"サーバー停止のお知らせ"_s}
                                   << QList<int>{int(Icon::Exclamation)};
    QTest::newRow("first run: new-version box, then the fetched warning")
        << true << u"重要"_s << QStringList{kNewVersionText, u"重要"_s}
        << QList<int>{int(Icon::Information), int(Icon::Exclamation)};
}

void TestApplicationStart::noticeWarning()
{
    QFETCH(bool, firstRun);
    QFETCH(QString, warning);
    QFETCH(QStringList, texts);
    QFETCH(QList<int>, icons);

    NoticeHost::Notice notice = NoticeHost::sampleNotice();
    notice.warningMessage = warning;
    notice.warningUrl = u"http://warning.example/"_s;
    if (firstRun) {
        // The program folder's copy has no warning; the fetched one has.
        DeleteRegValue(RegRoot::LocalMachine, SettingsKey(), u"Version"_s);
        m_notice->setNotice(NoticeHost::noticeXml(notice));
    } else {
        QVERIFY(writeAll(platform::JoinPath(m_paths.programFolder, u"notice.xml"_s),
                         NoticeHost::noticeXml(notice)));
    }
    startApp();
    QCOMPARE(m_boxes.texts(), texts);
    QList<int> shownIcons;
    for (const auto& box : m_boxes.shown()) {
        shownIcons.append(int(box.icon));
        QCOMPARE(box.title, kTitle);
    }
    QCOMPARE(shownIcons, icons);
}

void TestApplicationStart::staleHelperClassKey_data()
{
    QTest::addColumn<bool>("withSubkey");
    QTest::addColumn<bool>("remains");

    QTest::newRow("key alone is removed") << false << false;
    QTest::newRow("key with a subkey stays") << true << true;
}

void TestApplicationStart::staleHelperClassKey()
{
    QFETCH(bool, withSubkey);
    QFETCH(bool, remains);

    const QString key = u"HVXLinveraHelper.HVXLinveraHelperClass"_s;
    SetRegString(RegRoot::ClassesRoot, key, QString(), u"HVX-DataShare"_s);
    if (withSubkey)
        CreateRegKey(RegRoot::ClassesRoot, key + u"\\CLSID"_s);
    startApp();
    QCOMPARE(m_sandbox->store().keyExists(RegRoot::ClassesRoot, key), remains);
}

// ---- mailbox and automation

void TestApplicationStart::commandLeftBeforeStartHandledAtFirstTick()
{
    QVERIFY(m_mailbox->setCmdData(u"\"http://a.example/q\" \"題名 あり\""_s).ok);
    QVERIFY(m_mailbox->setCmdDirty().ok);
    Application& app = startApp();
    QTRY_COMPARE_WITH_TIMEOUT(app.mainWindow()->txtBeforeUrl()->text(), u"http://a.example/q"_s, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(app.afterUrl(), kShortUrl, 10000);
    QCOMPARE(m_shortener->calls().size(), 1);
    QCOMPARE(m_mailbox->checkCmdDirty().value, 0);
}

void TestApplicationStart::closingWindowIsOrderlyShutdown()
{
    Application& app = startApp();
    app.mainWindow()->move(30, 40);
    const QRectF outer = app.mainWindow()->outerGeometryTwips();
    QVERIFY(StoredSetting(u"FormX"_s).isEmpty());
    QVERIFY(app.mainWindow()->close());
    QCOMPARE(m_exitCodes, QList<int>{0});
    QCOMPARE(StoredSetting(u"FormX"_s), QString::number(outer.left()));
    QCOMPARE(StoredSetting(u"FormY"_s), QString::number(outer.top()));
    QCOMPARE(StoredSetting(u"_Dummy"_s), u" "_s);
}

void TestApplicationStart::quitSavesNothing()
{
    // The last orderly shutdown leaves one position.
    Application& first = startApp();
    first.mainWindow()->move(10, 5);
    const QPointF orderly = first.mainWindow()->outerGeometryTwips().topLeft();
    first.shutdown();
    endApp();

    Application& second = startApp();
    QCOMPARE(second.mainWindow()->outerGeometryTwips().topLeft(), orderly);
    second.mainWindow()->move(70, 60);
    second.mainWindow()->chkClipboard()->setChecked(false);
    {
        QDBusConnection outside = outsideConnection();
        LinveraProxy proxy(QString::fromLatin1(LinveraAutomation::kServiceName),
                           QString::fromLatin1(LinveraAutomation::kObjectPath), outside);
        QDBusPendingReply<> reply = proxy.Quit();
        QVERIFY(settle(reply));
        QVERIFY2(!reply.isError(), qPrintable(reply.error().message()));
    }
    QDBusConnection::disconnectFromBus(u"outside-client"_s);
    QTRY_COMPARE_WITH_TIMEOUT(m_exitCodes, (QList<int>{0, 0}), 5000);
    QCOMPARE(StoredSetting(u"FormX"_s), QString::number(orderly.x()));
    QCOMPARE(StoredSetting(u"Clipboard"_s), u"1"_s);
    endApp();

    Application& third = startApp();
    QCOMPARE(third.mainWindow()->outerGeometryTwips().topLeft(), orderly);
    QCOMPARE(third.mainWindow()->chkClipboard()->isChecked(), true);
}

void TestApplicationStart::endingWhileNoticesDownload_data()
{
    QTest::addColumn<bool>("quit"); // Quit through automation, else the main window closed

    QTest::newRow("Quit") << true;
    QTest::newRow("window closed") << false;
}

// The notice download no longer holds start-up inside a call: ending the program while it runs drops
// it, and what would have followed its answer (the warning box, the notice, the polling) never comes.
void TestApplicationStart::endingWhileNoticesDownload()
{
    QFETCH(bool, quit);

    NoticeHost::Notice notice = NoticeHost::sampleNotice();
    notice.warningMessage = u"警告"_s;
    m_notice->setNotice(NoticeHost::noticeXml(notice));
    test::HttpTestDelivery slow;
    slow.mode = test::HttpTestDelivery::Mode::Split;
    slow.chunkSize = 16;
    slow.delayMs = 100;
    m_notice->setDelivery(slow);
    DeleteRegValue(RegRoot::LocalMachine, SettingsKey(), u"Version"_s);
    QVERIFY(m_mailbox->setCmdData(u"http://a.example/waiting"_s).ok);
    QVERIFY(m_mailbox->setCmdDirty().ok);

    QCOMPARE(makeApp().start({}), Application::Role::FirstInstance);
    QVERIFY(m_app->isStarting());
    QTRY_COMPARE_WITH_TIMEOUT(m_notice->requestCount(), qsizetype(1), 5000);
    const QByteArray noticeBefore = readAll(m_paths.noticeFilePath);
    if (quit)
        m_app->quitNow();
    else
        m_app->mainWindow()->close();

    QCOMPARE(m_exitCodes, QList<int>{0});
    QVERIFY(!m_app->isStarting());
    // Long enough for the whole slow answer and five polling ticks.
    QTest::qWait(3000);
    QCOMPARE(m_boxes.texts(), QStringList{kNewVersionText});
    QCOMPARE(m_notice->requestCount(), qsizetype(1));
    QCOMPARE(readAll(m_paths.noticeFilePath), noticeBefore);
    QCOMPARE(m_app->mainWindow()->btnNotice()->text(), QString());
    QCOMPARE(m_mailbox->checkCmdDirty().value, -1);
    QCOMPARE(m_exitCodes, QList<int>{0});
}

void TestApplicationStart::endingWhileStartUpWaits_data()
{
    QTest::addColumn<bool>("firstRun"); // the new-version box, else a warning box
    QTest::addColumn<bool>("quit");     // an automation client calls Quit while the box is up
    QTest::addColumn<bool>("close");    // the user closes the main window while the box is up
    QTest::addColumn<bool>("saved");    // the orderly shutdown wrote the settings

    QTest::newRow("Quit during the new-version box") << true << true << false << false;
    QTest::newRow("window closed during the new-version box") << true << false << true << true;
    QTest::newRow("Quit, then the window closed: nothing saved") << true << true << true << false;
    QTest::newRow("Quit during the warning box") << false << true << false << false;
}

void TestApplicationStart::endingWhileStartUpWaits()
{
    QFETCH(bool, firstRun);
    QFETCH(bool, quit);
    QFETCH(bool, close);
    QFETCH(bool, saved);

    NoticeHost::Notice notice = NoticeHost::sampleNotice();
    notice.warningMessage = u"警告"_s;
    QVERIFY(
        writeAll(platform::JoinPath(m_paths.programFolder, u"notice.xml"_s), NoticeHost::noticeXml(notice)));
    if (firstRun)
        DeleteRegValue(RegRoot::LocalMachine, SettingsKey(), u"Version"_s);
    // A command waiting in the mailbox: the polling would take it at its first tick.
    QVERIFY(m_mailbox->setCmdData(u"http://a.example/waiting"_s).ok);
    QVERIFY(m_mailbox->setCmdDirty().ok);
    m_boxes.whileShown = [&](const QString&) {
        if (quit)
            m_app->quitNow();
        if (close)
            m_app->mainWindow()->close();
    };

    QCOMPARE(makeApp().start({}), Application::Role::Ended);

    // The process ended once, and start-up went no further than the box.
    QCOMPARE(m_exitCodes, QList<int>{0});
    QVERIFY(m_app->isEnding());
    QCOMPARE(m_boxes.shown().size(), 1);
    QCOMPARE(m_notice->requestCount(), 0);
    QCOMPARE(m_app->mainWindow()->btnNotice()->text(), QString());
    QCOMPARE(StoredSetting(u"_Dummy"_s), saved ? u" "_s : QString());
    QCOMPARE(StoredSetting(u"Clipboard"_s), saved ? u"1"_s : QString());
    // No polling: five ticks later the command still waits.
    QTest::qWait(1000);
    QCOMPARE(m_mailbox->checkCmdDirty().value, -1);
    QCOMPARE(m_shortener->calls().size(), 0);
    // Neither a later close nor a later Quit ends or saves anything again.
    m_app->quitNow();
    m_app->shutdown();
    QCOMPARE(m_exitCodes, QList<int>{0});
    QCOMPARE(StoredSetting(u"_Dummy"_s), saved ? u" "_s : QString());
}

void TestApplicationStart::windowsCarryProgramIcon()
{
    Application& app = startApp();
    const QIcon icon = app.mainWindow()->windowIcon();
    QVERIFY(!icon.isNull());
    QCOMPARE(icon.availableSizes().size(), BuiltInIconSizes().size());
    for (const int side : BuiltInIconSizes())
        QCOMPARE(icon.pixmap(side, side).size(), QSize(side, side));
    // Between two built-in sizes the larger is made smaller; a disabled form is the style's own.
    QCOMPARE(icon.pixmap(40, 40).size(), QSize(40, 40));
    QVERIFY(icon.pixmap(32, QIcon::Disabled).toImage() != icon.pixmap(32).toImage());
    // The settings dialog takes the main window's icon; every other window, message boxes
    // included, has the program's.
    QCOMPARE(app.settingsWindow()->windowIcon().cacheKey(), icon.cacheKey());
    QCOMPARE(QGuiApplication::windowIcon().cacheKey(), icon.cacheKey());
    QWidget other;
    QCOMPARE(other.windowIcon().cacheKey(), icon.cacheKey());
    // The program's picture: a blue tile with transparent rounded corners.
    const QImage picture = icon.pixmap(64, 64).toImage().convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(picture.size(), QSize(64, 64));
    QCOMPARE(qAlpha(picture.pixel(0, 0)), 0);
    const QColor middle = picture.pixelColor(8, 52);
    QVERIFY2(middle.blue() > 150 && middle.red() < 100, qPrintable(middle.name()));
}

void TestApplicationStart::shellOpensInTemporaryFolder_data()
{
    QTest::addColumn<bool>("log");     // the log button, else a click on the preview picture
    QTest::addColumn<bool>("present"); // the file exists
    QTest::addColumn<QStringList>("messages");

    QTest::newRow("log opened") << true << true << QStringList();
    QTest::newRow("missing log: not found, nothing started")
        << true << false << QStringList{u"ファイルが見つかりません。"_s};
    QTest::newRow("preview picture opened") << false << true << QStringList();
}

void TestApplicationStart::shellOpensInTemporaryFolder()
{
    QFETCH(bool, log);
    QFETCH(bool, present);
    QFETCH(QStringList, messages);

    const QString file =
        log ? m_paths.logFilePath : platform::JoinPath(m_paths.tempFolder, u"hvxlinvera.png"_s);
    Application& app = startApp();
    if (present)
        QVERIFY(writeAll(file, "x\r\n"));
    QVERIFY(m_runner.starts.isEmpty());
    if (log)
        app.settingsWindow()->btnShowLog()->click();
    else
        Q_EMIT app.mainWindow()->thumbnailClicked(file);

    // The box follows the opener's answer.
    QTRY_COMPARE_WITH_TIMEOUT(m_boxes.texts(), messages, 5000);
    if (!present) {
        QVERIFY(m_runner.starts.isEmpty());
        return;
    }
    QCOMPARE(m_runner.starts.size(), 1);
    const RecordingRunner::Start start = m_runner.starts.constFirst();
    QCOMPARE(start.program, u"xdg-open"_s);
    QCOMPARE(start.arguments, QStringList{file});
    QCOMPARE(start.workingFolder, m_paths.tempFolder);
    QVERIFY(m_paths.tempFolder != m_paths.dataFolder);
}

void TestApplicationStart::windowStateThroughBus_data()
{
    QTest::addColumn<int>("before");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("error");
    QTest::addColumn<int>("after");

    const QString overflow = QString::fromLatin1(LinveraAutomation::kOverflowError);
    const QString invalid = QString::fromLatin1(LinveraAutomation::kInvalidValueError);
    QTest::newRow("1 minimises") << 0 << 1 << QString() << 1;
    QTest::newRow("2 maximises") << 0 << 2 << QString() << 2;
    QTest::newRow("0 restores") << 2 << 0 << QString() << 0;
    QTest::newRow("3 refused, state stays") << 2 << 3 << invalid << 2;
    QTest::newRow("-1 refused") << 1 << -1 << invalid << 1;
    QTest::newRow("32767 refused") << 0 << 32767 << invalid << 0;
    QTest::newRow("32768 overflows") << 2 << 32768 << overflow << 2;
    QTest::newRow("70000 overflows") << 1 << 70000 << overflow << 1;
    QTest::newRow("-32769 overflows") << 0 << -32769 << overflow << 0;
}

void TestApplicationStart::windowStateThroughBus()
{
    QFETCH(int, before);
    QFETCH(int, status);
    QFETCH(QString, error);
    QFETCH(int, after);

    Application& app = startApp();
    QDBusConnection outside = outsideConnection();
    {
        LinveraProxy proxy(QString::fromLatin1(LinveraAutomation::kServiceName),
                           QString::fromLatin1(LinveraAutomation::kObjectPath), outside);
        QDBusPendingReply<> first = proxy.setMainWindowState(before);
        QVERIFY(settle(first));
        QVERIFY(!first.isError());
        QDBusPendingReply<> reply = proxy.setMainWindowState(status);
        QVERIFY(settle(reply));
        QCOMPARE(reply.isError() ? reply.error().name() : QString(), error);
        QDBusPendingReply<int> state = proxy.getMainWindowState();
        QVERIFY(settle(state));
        QVERIFY(!state.isError());
        QCOMPARE(state.value(), after);
        QCOMPARE(app.mainWindowState(), after);
    }
    QDBusConnection::disconnectFromBus(u"outside-client"_s);
}

QTEST_MAIN(TestApplicationStart)
#include "tst_applicationstart.moc"
