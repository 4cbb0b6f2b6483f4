// The capture buttons of the main window, wired to the capture commands.
#include "app/shell/Application.h"
#include "app/shell/CaptureCommands.h"
#include "app/ui/frmMain.h"
#include "app/ui/frmSettings.h"
#include "app/ui/frmTwitter.h"
#include "automation/LinveraAutomation.h"
#include "capture/CaptureController.h"
#include "platform/AppInfo.h"
#include "platform/MessageBoxes.h"
#include "platform/WindowSystem.h"
#include "settings/SettingsModel.h"

#include <QComboBox>
#include <QTimer>

namespace linvera {

void Application::wireCapture()
{
    m_capture = std::make_unique<capture::CaptureController>(platform::CreateWindowSystem());
    // The controller reports; the shell shows the box, and the controller goes on once it is closed.
    connect(m_capture.get(), &capture::CaptureController::problem, this, [this](const QString& text) {
        m_boxes.show(platform::MessageBoxes::Icon::Exclamation, AppTitle(), text);
    });
    frmMain* main = m_main.get();
    frmTwitter* twitter = m_twitter.get();
    m_capture->setWindowsToHide([main, twitter] { return QList<QWidget*>{main, twitter}; });
    giveSettings();
    connect(m_capture.get(), &capture::CaptureController::pictureSaved, this,
            [this, twitter](const QString& postPath, const QString& displayPath) {
                m_postPicturePath = postPath;
                m_displayPicturePath = displayPath;
                // The posting window posts and shows the last capture.
                twitter->setPostPicturePath(postPath);
                twitter->setDisplayPicturePath(displayPath);
            });
    connect(m_capture.get(), &capture::CaptureController::statusMessage, main, &frmMain::setMessage);
    connect(main, &frmMain::regionCaptureRequested, m_capture.get(),
            &capture::CaptureController::captureRegion);
    connect(main, &frmMain::windowCaptureRequested, m_capture.get(),
            &capture::CaptureController::captureWindow);
    // Beside the automation interface, which stays exactly as declared.
    if (m_automation)
        new CaptureBusAdaptor(m_automation.get(), [this](CaptureCommand command) { runCapture(command); });
}

void Application::runCapture(CaptureCommand command)
{
    // After the current event: start-up and bus calls finish before the capture hides the windows.
    QTimer::singleShot(0, m_capture.get(), [capture = m_capture.get(), command] {
        if (command == CaptureCommand::Region)
            capture->captureRegion();
        else if (command == CaptureCommand::Window)
            capture->captureWindow();
    });
}

} // namespace linvera
