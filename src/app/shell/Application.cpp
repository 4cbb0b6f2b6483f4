#include "app/shell/Application.h"

#include "LinveraProxy.h"
#include "app/shell/CaptureCommands.h"
#include "app/shell/ServiceFiles.h"
#include "app/shell/WindowSettings.h"
#include "app/ui/ProgramIcon.h"
#include "app/ui/Twips.h"
#include "app/ui/frmMain.h"
#include "app/ui/frmSettings.h"
#include "app/ui/frmTwitter.h"
#include "automation/LinveraAutomation.h"
#include "browser/BrowserRegistrations.h"
#include "browser/DefaultBrowser.h"
#include "capture/CaptureController.h"
#include "conv/ConversionEngine.h"
#include "mailbox/CommandLine.h"
#include "mailbox/MailboxClient.h"
#include "mailbox/MailboxPoller.h"
#include "notice/NoticeFeed.h"
#include "platform/AnsiCodec.h"
#include "platform/AppInfo.h"
#include "platform/MessageBoxes.h"
#include "platform/ProcessRunner.h"
#include "platform/RegAccess.h"
#include "platform/ShellOpen.h"
#include "settings/SettingsModel.h"
#include "settings/SettingsTable.h"
#include "settings/StoreProblems.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>
#include <QTimer>

#include <memory>
#include <optional>

using namespace Qt::StringLiterals;

namespace linvera {
namespace {

const QString kNewVersionMessage =
    u"★★★新機能のご案内（初回のみ表示されます）★★★\r\n\r\n\r\n"
    "FireFoxをお使いの方は ﾌｧｲﾙ→FireFox用ﾌﾟﾗｸﾞｲﾝのｲﾝｽﾄｰﾙ を実行してください。\r\n\r\n"
    "Ver.1に搭載されていたTwitter投稿機能は、Ver.2には搭載されておりません。"_s;

/// Quotes an argument that the mailbox's splitting would otherwise cut or lose.
QString quotedArgument(const QString& argument)
{
    if (argument.isEmpty() || argument.contains(u' ') || argument.contains(u'\t'))
        return u'"' + QString(argument).remove(u'"') + u'"';
    return argument;
}

} // namespace

Application::Application(platform::MessageBoxes& boxes, Options options, QObject* parent)
    : QObject(parent)
    , m_boxes(boxes)
    , m_options(std::move(options))
{
    if (!m_options.exitProcess)
        m_options.exitProcess = [](int code) { QCoreApplication::exit(code); };
    if (m_options.helperProgram.isEmpty())
        m_options.helperProgram = m_options.paths.programFile(u"H-LinveraHelper"_s);
}

Application::~Application()
{
    if (m_watchesStore)
        WatchSettingsStore({});
}

QString Application::CommandLineText(const QStringList& arguments)
{
    QStringList parts;
    for (const QString& argument : arguments)
        parts.append(quotedArgument(argument));
    return parts.join(u' ');
}

Application::Role Application::start(const QStringList& arguments)
{
    // A capture switch is a command of its own, handed on apart from the rest of the command line.
    const CaptureCommand captureCommand = CaptureCommandOf(arguments);
    const QString commandLine = CommandLineText(WithoutCaptureSwitches(arguments));

    const bool first = claimSingleInstance();
    connectMailbox();
    if (!first) {
        handOverToFirstInstance(captureCommand, commandLine);
        return Role::SecondInstance;
    }
    m_starting = true;
    prepareUserFilesAndStore();
    readArguments(commandLine);
    loadWindows();
    registerAutomation();
    prepareDataFiles();
    wireWindows();

    // From here on an automation client may call `Quit` meanwhile (or the window be closed): start-up
    // then stops and ends the process. A URL given on the command line is converted first; the rest
    // of start-up follows its answer, from the event loop when it waits on a service. The notice
    // download is waited for the same way.
    if (convertCommandLineUrl(captureCommand))
        return isEnding() ? Role::Ended : Role::FirstInstance;
    finishStart(captureCommand);
    return isEnding() ? Role::Ended : Role::FirstInstance;
}

bool Application::claimSingleInstance()
{
    // Owning the bus name is atomic, so two starts at once cannot both win.
    QDBusConnection bus = QDBusConnection::sessionBus();
    bool first = true;
    if (bus.isConnected()) {
        const auto reply = bus.interface()->registerService(
            QString::fromLatin1(LinveraAutomation::kServiceName), QDBusConnectionInterface::DontQueueService,
            QDBusConnectionInterface::DontAllowReplacement);
        first = reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered;
    }
    if (first)
        DeleteRegKey(platform::RegRoot::ClassesRoot, u"HVXLinveraHelper.HVXLinveraHelperClass"_s);
    return first;
}

void Application::connectMailbox()
{
    m_mailbox = std::make_unique<MailboxClient>();
    if (m_mailbox->hasBus())
        m_mailbox->connectMailbox(m_options.helperProgram);
}

void Application::handOverToFirstInstance(CaptureCommand captureCommand, const QString& commandLine)
{
    if (captureCommand != CaptureCommand::None) {
        QDBusConnection bus = QDBusConnection::sessionBus();
        SendCaptureCommand(captureCommand, bus);
    }
    if (!commandLine.trimmed().isEmpty())
        handOver(commandLine);
}

void Application::prepareUserFilesAndStore()
{
    if (m_options.writeServiceFiles)
        WriteUserServiceFiles(m_options.paths.programFolder);
    // A damaged or read-only store: the settings fall back to their defaults and the user is told
    // once, after the step that noticed it (a box in the middle of a store call could re-enter it).
    m_watchesStore = true;
    WatchSettingsStore([this](const QString& message) {
        QTimer::singleShot(0, this, [this, message] {
            m_boxes.show(platform::MessageBoxes::Icon::Exclamation, AppTitle(), message);
        });
    });
}

void Application::readArguments(const QString& commandLine)
{
    // The bus starts us with "-Embedding".
    m_argList = SplitArgs(commandLine, 10);
    if (m_argList.size() > 1 && m_argList[1] == u"-Embedding"_s)
        m_argList[1].clear();
}

void Application::loadWindows()
{
    // The windows, loaded hidden first. Every window carries the program's icon; the settings dialog
    // takes the main window's.
    buildWindows();
    QGuiApplication::setWindowIcon(ProgramIcon());
    m_main->setWindowIcon(QGuiApplication::windowIcon());
    m_settings->setWindowIcon(m_main->windowIcon());
    m_main->setWindowTitle(AppTitle());
    m_main->lblMsg()->clear();
    const TwipSize captureBox = m_twitter->imgCaptureSizeTwips();
    m_captureBoxWidth = int(captureBox.width);
    m_captureBoxHeight = int(captureBox.height);
}

void Application::registerAutomation()
{
    // Calls that arrive before this point find no object and get an error, never a half-built window.
    if (!QDBusConnection::sessionBus().isConnected())
        return;
    m_automation = std::make_unique<LinveraAutomation>([this]() -> AutomationTarget& { return *this; });
    m_automation->registerObject();
}

bool Application::convertCommandLineUrl(CaptureCommand captureCommand)
{
    // Before the stored settings apply: the URL converts with the dialog's designed values.
    if (m_argList.size() <= 1)
        return false;
    m_main->setBeforeUrl(m_argList[1]);
    // Whether the answer came while this still ran; later, the answer finishes start-up itself.
    const auto answered = std::make_shared<std::optional<bool>>();
    StartConv([this, answered, captureCommand] {
        if (!answered->has_value()) {
            *answered = true;
            return;
        }
        if (!isEnding())
            finishStart(captureCommand);
    });
    if (isEnding())
        return true;
    if (!answered->has_value()) {
        *answered = false;
        return true;
    }
    return false;
}

void Application::finishStart(CaptureCommand captureCommand)
{
    writeMarkerFile();
    applyStoredSettings();
    if (isEnding())
        return;
    m_main->show();
    showVersionAndNotices([this, captureCommand] { startPolling(captureCommand); });
}

void Application::applyStoredSettings()
{
    const QScreen* screen = m_main->screen();
    const QRect available = screen ? screen->geometry() : QRect(0, 0, 1024, 768);
    const TwipScale scale = TwipScale::of(m_main.get());
    m_model->load();
    ApplySettings(*m_main, *m_settings, *m_model, scale.toTwipsX(available.width()),
                  available.height() * scale.y);
}

void Application::startPolling(CaptureCommand captureCommand)
{
    m_starting = false;
    m_poller->start();
    if (captureCommand != CaptureCommand::None)
        runCapture(captureCommand);
}

bool Application::handOver(const QString& commandLine)
{
    if (m_mailbox->setCmdData(commandLine).ok && m_mailbox->setCmdDirty().ok)
        return true;
    // The mailbox is out of reach: give the URL straight to the running window instead of losing it.
    const QStringList args = SplitArgs(commandLine, 10);
    const QString url = args.size() == 2 || args.size() == 3 ? args[1] : QString();
    LinveraProxy running(QString::fromLatin1(LinveraAutomation::kServiceName),
                         QString::fromLatin1(LinveraAutomation::kObjectPath), QDBusConnection::sessionBus());
    running.setTimeout(30000);
    QDBusPendingReply<QDBusVariant> reply = running.StartConv(url);
    reply.waitForFinished();
    return !reply.isError();
}

void Application::buildWindows()
{
    m_main = std::make_unique<frmMain>();
    m_model = std::make_unique<SettingsModel>();
    m_settings = std::make_unique<frmSettings>(m_boxes);
    m_settings->setModel(m_model.get());
    m_twitter = std::make_unique<frmTwitter>();
    m_engine = std::make_unique<ConversionEngine>(*m_main, m_boxes);
    connect(m_model.get(), &SettingsModel::changed, this, &Application::giveSettings);
    connect(m_model.get(), &SettingsModel::proxyChanged, this, &Application::giveSettings);
    connect(m_model.get(), &SettingsModel::loaded, this, &Application::giveSettings);
    giveSettings();
    connect(m_engine.get(), &ConversionEngine::messageBoxRequested, this,
            [this](platform::MessageBoxes::Icon icon, const QString& title, const QString& text) {
                m_boxes.show(icon, title, text);
            });
    m_poller = std::make_unique<MailboxPoller>(*m_mailbox);
    m_poller->setHelperProgram(m_options.helperProgram);
}

void Application::giveSettings()
{
    const SettingsSnapshot snapshot = m_model->snapshot();
    EngineSettings settings;
    settings.shortUrlType = snapshot.shortUrlType;
    settings.accounts = snapshot.accounts;
    settings.proxy = snapshot.proxy;
    settings.followChain = snapshot.followRedirects;
    settings.stripTrackers = snapshot.stripTrackers;
    m_engine->setSettings(settings);
    // Index 0 is PNG; any other, none selected included, is JPEG.
    if (m_capture)
        m_capture->setTarget(
            {m_options.paths.desktopFolder, m_options.paths.tempFolder,
             snapshot.capturesPng() ? capture::PictureFormat::Png : capture::PictureFormat::Jpeg});
}

void Application::prepareDataFiles()
{
    const platform::AppPaths& paths = m_options.paths;
    if (!paths.prepareDataFolder())
        m_boxes.show(platform::MessageBoxes::Icon::Exclamation, AppTitle(),
                     u"データフォルダに書き込めません。\n"_s + paths.dataFolder);
    m_model->loadHostsAndProxy();
    m_model->watchStore();
    m_endpoints = m_model->endpoints();
    m_engine->setEndpoints(m_endpoints);
    m_engine->setLogFilePath(paths.logFilePath);
    m_engine->setTempFolder(paths.tempFolder);
    m_engine->loadRules(paths.dataFile(u"tinyurls.txt"_s), paths.dataFile(u"picturls.txt"_s));
    // The block list, the imitated sites and the tracker rules: what is wrong with them is told once.
    for (const QString& problem : m_destinations.load(paths.dataFolder))
        m_boxes.show(platform::MessageBoxes::Icon::Exclamation, AppTitle(), problem);
    m_engine->setDestinationCheck(&m_destinations);
    m_main->setEndpoints(m_endpoints);
    m_settings->setEndpoints(m_endpoints);
    m_settings->setLogFilePath(paths.logFilePath);
}

void Application::wireWindows()
{
    frmMain* main = m_main.get();
    ConversionEngine* engine = m_engine.get();
    frmSettings* settings = m_settings.get();
    const SettingsModel* model = m_model.get();
    main->setPreviewPicturePathSource([engine] { return engine->previewPicturePath(); });

    connect(main, &frmMain::conversionRequested, this, [this] { StartConv(); });
    connect(main, &frmMain::openInBrowserRequested, this, [](const QString& url, bool tagged) {
        if (tagged)
            OpenInBrowserTagged(url);
        else
            OpenInBrowser(url);
    });
    connect(main, &frmMain::noticeClicked, this, [](const QString& url) { OpenInBrowser(url); });
    connect(main, &frmMain::noticeFetchRequested, this, [this] {
        // One download at a time: a click while it runs fetches the same files anyway.
        if (!m_noticeRefresh || !m_noticeRefresh->isRunning())
            m_noticeRefresh = FetchNoticeFiles(m_endpoints, m_options.paths.dataFolder);
    });
    connect(main, &frmMain::thumbnailClicked, this,
            [this](const QString& path) { openInShell(path, ShellOpener(processRunner())); });
    connect(main, &frmMain::settingsRequested, this, [settings] {
        settings->show();
        settings->raise();
    });
    connect(main, &frmMain::quitRequested, this, &Application::shutdown);
    wireCapture();

    connect(settings, &frmSettings::menuExtToggled, this,
            [](bool on) { on ? AddMenuExtension() : RemoveMenuExtension(); });
    connect(settings, &frmSettings::toolbarIconToggled, this,
            [](bool on) { on ? AddToolbarButton() : RemoveToolbarButton(); });
    // The log opens with the temporary folder as its working folder, like every shell open here.
    connect(settings, &frmSettings::showLogRequested, this,
            [this](const QString& path) { openInShell(path, ShellOpener(processRunner())); });

    // The posting window and the hidden commands that lead to it.
    frmTwitter* twitter = m_twitter.get();
    twitter->setMessageBoxes(m_boxes);
    twitter->setSettingsModel(model);
    twitter->setSettingsWindow(settings);
    twitter->setMainWindow(main);
    twitter->setEndpoints(m_endpoints);
    connect(main, &frmMain::pictureFromFileRequested, twitter, &frmTwitter::btnTwitpicFromFile_Click);
    connect(main, &frmMain::postingWindowRequested, this,
            [this] { m_twitter->btnTwitter_Click(m_engine->lConvMode()); });
    connect(main, &frmMain::followRequested, this, [this] { m_twitter->mnuFollow_Click(m_makerAccount); });
    connect(twitter, &frmTwitter::openInBrowserRequested, this,
            [](const QString& url, bool tagged) { tagged ? OpenInBrowserTagged(url) : OpenInBrowser(url); });
    connect(twitter, &frmTwitter::pictureOpenRequested, this,
            [this](const QString& path) { openInShell(path, ShellOpener()); });

    // Queued: a command that arrives while a conversion waits starts the next one at once.
    connect(
        m_poller.get(), &MailboxPoller::commandArrived, this,
        [this](const QString& beforeUrl) {
            m_main->setBeforeUrl(beforeUrl);
            StartConv();
        },
        Qt::QueuedConnection);
}

void Application::writeMarkerFile() const
{
    QSaveFile marker(platform::JoinPath(m_options.paths.homeFolder, u".h-linvera"_s));
    if (!marker.open(QIODevice::WriteOnly))
        return;
    marker.write(platform::AnsiCodec::encode(QString(m_options.paths.programFolder + u"\r\n"_s)));
    marker.commit();
}

void Application::showVersionAndNotices(std::function<void()> then)
{
    const QString stored = ReadSetting(u"Version"_s);
    WriteSetting(u"Version"_s, AppVersionText());
    // The box waits with events running: the program may have been told to end meanwhile.
    bool fetch = false;
    if (StripBlanks(stored) != AppVersionText()) {
        m_boxes.show(platform::MessageBoxes::Icon::Information, AppTitle(), kNewVersionMessage);
        if (isEnding())
            return;
        fetch = true;
    } else if (IsNoticeDue(7)) {
        fetch = true;
    }
    if (!fetch) {
        showNotices(then);
        return;
    }
    // Ending the program drops the download, and the rest of start-up with it.
    m_noticeDownload =
        FetchNoticeFiles(m_endpoints, m_options.paths.dataFolder, [this, then = std::move(then)] {
            // Deleted later: this runs inside the download's own answer.
            m_noticeDownload.release()->deleteLater();
            showNotices(then);
        });
}

void Application::showNotices(const std::function<void()>& then)
{
    const NoticeTexts notice = ReadNoticeFeed(m_options.paths.noticeFilePath);
    if (!notice.warningMessage.isEmpty()) {
        m_boxes.show(platform::MessageBoxes::Icon::Exclamation, AppTitle(), notice.warningMessage);
        if (isEnding())
            return;
    }
    m_main->setNotice(notice.noticeMessage, notice.noticeUrl);
    m_makerAccount = notice.account;
    then();
}

void Application::StartConv(std::function<void()> whenRun)
{
    // A command that arrives while the program ends starts nothing.
    if (isEnding()) {
        if (whenRun)
            whenRun();
        return;
    }
    m_engine->StartConv(std::move(whenRun));
}

void Application::openInShell(const QString& path, const ShellOpener& opener)
{
    // The answer comes from the event loop, and may find the program gone.
    OpenWithShell(path, m_options.paths.tempFolder, opener,
                  [self = QPointer<Application>(this)](const QString& message) {
                      if (self)
                          self->showOpenProblem(message);
                  });
}

void Application::showOpenProblem(const QString& message)
{
    if (!message.isEmpty())
        m_boxes.show(platform::MessageBoxes::Icon::Exclamation, AppTitle(), message,
                     platform::MessageBoxes::Buttons::Ok);
}

ProcessRunner& Application::processRunner() const
{
    return m_options.processRunner ? *m_options.processRunner : ProcessRunner::system();
}

void Application::shutdown()
{
    // Once: a close that follows `Quit` saves nothing, and a second close saves nothing again.
    if (isEnding())
        return;
    m_ending = Ending::Orderly;
    m_starting = false;
    m_noticeDownload.reset();
    SaveSettings(*m_main, *m_model);
    m_options.exitProcess(0);
}

void Application::quitNow()
{
    if (isEnding())
        return;
    m_ending = Ending::Quit;
    m_starting = false;
    m_noticeDownload.reset();
    m_options.exitProcess(0);
}

int Application::mainWindowState() const
{
    const Qt::WindowStates state = m_main->windowState();
    if (state & Qt::WindowMinimized)
        return 1;
    if (state & Qt::WindowMaximized)
        return 2;
    return 0;
}

void Application::setMainWindowState(int state)
{
    switch (state) {
    case 1:
        m_main->showMinimized();
        break;
    case 2:
        m_main->showMaximized();
        break;
    default:
        m_main->showNormal();
        break;
    }
}

void Application::startConv(const QString& beforeUrl)
{
    m_main->setBeforeUrl(beforeUrl);
    StartConv();
}

void Application::startConv(const QString& beforeUrl, std::function<void()> whenRun)
{
    m_main->setBeforeUrl(beforeUrl);
    StartConv(std::move(whenRun));
}

QString Application::afterUrl() const
{
    return m_main->afterUrl();
}

QString Application::afterInfo() const
{
    // The box shows CR LF as one line break; callers get the text as the engine wrote it.
    return m_main->txtAfterDecode()->toPlainText().replace(u'\n', u"\r\n"_s);
}

QString Application::beforeInfo() const
{
    return m_main->txtBeforeDecode()->text();
}

bool Application::isProcessing() const
{
    return m_engine->isProcessing();
}

} // namespace linvera
