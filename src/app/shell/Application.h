#pragma once

#include "AppPaths.h"
#include "AutomationTarget.h"
#include "Endpoints.h"

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
class frmMain;
class frmSettings;
class frmTwitter;
enum class CaptureCommand;

/// The desktop program: start-up in its fixed order, the wiring of the windows to the engine and the
/// services, and the orderly shutdown that saves the settings.
class Application : public QObject, public AutomationTarget
{
    Q_OBJECT

public:
    enum class Role { FirstInstance, SecondInstance };

    struct Options
    {
        platform::AppPaths paths = platform::AppPaths::fromEnvironment();
        /// Ends the process; the orderly shutdown and `Quit` both end here.
        std::function<void(int)> exitProcess;
        /// The program to start when the mailbox server is not running.
        QString helperProgram;
        /// Writes the bus service files for this user at start-up.
        bool writeServiceFiles = true;
    };

    Application(platform::MessageBoxes& boxes, Options options, QObject* parent = nullptr);
    ~Application() override;

    /// Runs start-up with the arguments after the program name. A second instance hands its command
    /// line to the first and returns `SecondInstance`: the caller ends the process then.
    Role start(const QStringList& arguments);

    /// The process command line as one text, in the form the mailbox carries.
    static QString CommandLineText(const QStringList& arguments);

    frmMain* mainWindow() const { return m_main.get(); }
    frmSettings* settingsWindow() const { return m_settings.get(); }
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

    // AutomationTarget
    void quitNow() override;
    int mainWindowState() const override;
    void setMainWindowState(int state) override;
    void startConv(const QString& beforeUrl) override;
    QString afterUrl() const override;
    QString afterInfo() const override;
    QString beforeInfo() const override;
    bool isProcessing() const override;

private:
    bool handOver(const QString& commandLine);
    void buildWindows();
    void wireWindows();
    void wireCapture();
    void runCapture(CaptureCommand command);
    void prepareDataFiles();
    void writeMarkerFile() const;
    void showVersionAndNotices();
    void StartConv();

    platform::MessageBoxes& m_boxes;
    Options m_options;
    Endpoints m_endpoints;
    std::unique_ptr<frmMain> m_main;
    std::unique_ptr<frmSettings> m_settings;
    std::unique_ptr<frmTwitter> m_twitter;
    std::unique_ptr<ConversionEngine> m_engine;
    std::unique_ptr<MailboxClient> m_mailbox;
    std::unique_ptr<MailboxPoller> m_poller;
    std::unique_ptr<LinveraAutomation> m_automation;
    QStringList m_argList;
    QString m_makerAccount;
    int m_captureBoxWidth = 0;
    int m_captureBoxHeight = 0;
    bool m_shuttingDown = false;
    QString m_postPicturePath;
    QString m_displayPicturePath;
    // Last, so the capture windows go before the windows they hide.
    std::unique_ptr<capture::CaptureController> m_capture;
};

} // namespace linvera
