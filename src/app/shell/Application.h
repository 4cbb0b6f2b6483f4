#pragma once

#include "automation/AutomationTarget.h"
#include "conv/Endpoints.h"
#include "platform/AppPaths.h"
#include "verdict/DestinationCheck.h"

#include <QObject>
#include <QStringList>

#include <functional>
#include <memory>

namespace linvera {

namespace platform {
class MessageBoxes;
}
namespace capture {
class CaptureController;
}
class ConversionEngine;
class LinveraAutomation;
class MailboxClient;
class MailboxPoller;
class NoticeDownload;
class frmMain;
class frmSettings;
class SettingsModel;
class ProcessRunner;
class ShellOpener;
class frmTwitter;
enum class CaptureCommand;

/// The desktop program: start-up in its fixed order, the wiring of the windows to the engine and the
/// services, and the orderly shutdown that saves the settings.
class Application : public QObject, public AutomationTarget
{
    Q_OBJECT

public:
    enum class Role {
        FirstInstance,  ///< start-up ran to its end: the main loop serves the program from here
        SecondInstance, ///< the command line went to the first instance: the process ends
        Ended,          ///< `Quit` or a close came while start-up waited: the process ends, no main loop
    };

    struct Options
    {
        platform::AppPaths paths = platform::AppPaths::fromEnvironment();
        /// Ends the process; the orderly shutdown and `Quit` both end here, once. It must also end any
        /// wait that runs at that moment (the default leaves every event loop).
        std::function<void(int)> exitProcess;
        /// The program to start when the mailbox server is not running.
        QString helperProgram;
        /// Writes the bus service files for this user at start-up.
        bool writeServiceFiles = true;
        /// Starts the programs that open files (the log, a preview picture); none: the system's.
        ProcessRunner* processRunner = nullptr;
    };

    Application(platform::MessageBoxes& boxes, Options options, QObject* parent = nullptr);
    ~Application() override;

    /// Runs start-up with the arguments after the program name. A second instance hands its command
    /// line to the first and returns `SecondInstance`; start-up that was told to end while it waited
    /// (a message box, a download, a conversion) stops there and returns `Ended`. In both cases the
    /// caller ends the process without entering the main loop.
    Role start(const QStringList& arguments);

    /// The process command line as one text, in the form the mailbox carries.
    static QString CommandLineText(const QStringList& arguments);

    frmMain* mainWindow() const { return m_main.get(); }
    frmSettings* settingsWindow() const { return m_settings.get(); }
    SettingsModel* settings() const { return m_model.get(); }
    ConversionEngine* engine() const { return m_engine.get(); }
    const QStringList& argList() const { return m_argList; }
    const platform::AppPaths& paths() const { return m_options.paths; }
    QString makerAccount() const { return m_makerAccount; }
    int captureBoxWidth() const { return m_captureBoxWidth; }
    int captureBoxHeight() const { return m_captureBoxHeight; }
    /// The picture to post and the picture the posting window shows, set by each capture.
    QString postPicturePath() const { return m_postPicturePath; }
    QString displayPicturePath() const { return m_displayPicturePath; }
    capture::CaptureController* captureController() const { return m_capture.get(); }

    /// The orderly shutdown: saves the settings and ends the process.
    void shutdown();
    /// True once the orderly shutdown or `Quit` has begun; nothing more starts then.
    bool isEnding() const { return m_ending != Ending::None; }
    /// True from start() until start-up's last step has run (it may wait on the command line's
    /// conversion and on the notice download) or start-up stopped because the program ends.
    bool isStarting() const { return m_starting; }

    // AutomationTarget
    void quitNow() override;
    int mainWindowState() const override;
    void setMainWindowState(int state) override;
    void startConv(const QString& beforeUrl) override;
    void startConv(const QString& beforeUrl, std::function<void()> whenRun) override;
    QString afterUrl() const override;
    QString afterInfo() const override;
    QString beforeInfo() const override;
    bool isProcessing() const override;

private:
    enum class Ending { None, Orderly, Quit };

    bool handOver(const QString& commandLine);
    // The start-up steps, in their order.
    bool claimSingleInstance();
    void connectMailbox();
    void handOverToFirstInstance(CaptureCommand captureCommand, const QString& commandLine);
    void prepareUserFilesAndStore();
    void readArguments(const QString& commandLine);
    void loadWindows();
    void registerAutomation();
    /// True when the rest of start-up waits for the conversion's answer (or start-up ended).
    bool convertCommandLineUrl(CaptureCommand captureCommand);
    void applyStoredSettings();
    void startPolling(CaptureCommand captureCommand);

    void buildWindows();
    /// Hands the engine and the capture the settings as the model holds them now.
    void giveSettings();
    /// A failed shell open's message, shown as the shell's other failures are.
    void showOpenProblem(const QString& message);
    /// Opens a file with its program, the temporary folder as the working folder; a failure's box
    /// follows the opener's answer.
    void openInShell(const QString& path, const ShellOpener& opener);
    void wireWindows();
    void wireCapture();
    void runCapture(CaptureCommand command);
    void prepareDataFiles();
    void writeMarkerFile() const;
    /// Start-up after the command line's conversion: the marker, the stored settings, the window, the
    /// notices and the polling.
    void finishStart(CaptureCommand captureCommand);
    /// Runs `then` once the notices are shown; from the event loop when the notice files are fetched.
    void showVersionAndNotices(std::function<void()> then);
    void showNotices(const std::function<void()>& then);
    void StartConv(std::function<void()> whenRun = {});
    ProcessRunner& processRunner() const;

    platform::MessageBoxes& m_boxes;
    bool m_watchesStore = false;
    Options m_options;
    Endpoints m_endpoints;
    std::unique_ptr<frmMain> m_main;
    std::unique_ptr<SettingsModel> m_model;
    std::unique_ptr<frmSettings> m_settings;
    std::unique_ptr<frmTwitter> m_twitter;
    // The lists every after URL is judged by; outlives the engine that reads them.
    verdict::DestinationCheck m_destinations;
    std::unique_ptr<ConversionEngine> m_engine;
    std::unique_ptr<MailboxClient> m_mailbox;
    std::unique_ptr<MailboxPoller> m_poller;
    std::unique_ptr<LinveraAutomation> m_automation;
    QStringList m_argList;
    QString m_makerAccount;
    int m_captureBoxWidth = 0;
    int m_captureBoxHeight = 0;
    Ending m_ending = Ending::None;
    bool m_starting = false;
    std::unique_ptr<NoticeDownload> m_noticeDownload;
    std::unique_ptr<NoticeDownload> m_noticeRefresh;
    QString m_postPicturePath;
    QString m_displayPicturePath;
    // Last, so the capture windows go before the windows they hide.
    std::unique_ptr<capture::CaptureController> m_capture;
};

} // namespace linvera
