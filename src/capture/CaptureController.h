#pragma once

#include "capture/CaptureSaver.h"
#include "capture/ScreenReader.h"
#include "platform/MessageBoxes.h"
#include "platform/WindowSystem.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QImage>
#include <QList>
#include <QLocale>
#include <QObject>
#include <QPointer>
#include <QRect>

#include <functional>
#include <memory>

class QWidget;

namespace linvera::capture {

class frmScreen;
class frmWindowCapture;

/// The two capture commands: the screen region (hide the windows, freeze the screen, let the user
/// drag a rectangle on the overlay) and the window capture (the crosshair dialog). The application
/// hands over the windows to hide and the settings; the controller reports saved pictures and the
/// message for the main window's message line.
class CaptureController : public QObject
{
    Q_OBJECT

public:
    /// Waits that let hidden windows leave the screen before it is read.
    static constexpr int RegionHideWaitMs = 750;
    static constexpr int WindowHideWaitMs = 500;
    /// After the frame is taken away, the windows below get this long to repaint.
    static constexpr int RepaintWaitMs = 150;

    explicit CaptureController(std::unique_ptr<platform::WindowSystem> windows, QObject* parent = nullptr);
    ~CaptureController() override;

    /// The windows hidden during a capture (the main window first, then the posting window).
    void setWindowsToHide(std::function<QList<QWidget*>()> windows) { m_windowsToHide = std::move(windows); }
    /// Folders and format of every later save.
    void setTarget(const CaptureTarget& target) { m_target = target; }
    void setClock(std::function<QDateTime()> clock) { m_clock = std::move(clock); }
    /// The locale whose date and time forms name the files (the system's unless set).
    void setLocale(const QLocale& locale) { m_locale = locale; }
    /// Replaces the screen grab of the X11 reader (tests make it fail).
    void setScreenGrabber(std::function<DesktopPicture()> grabber);
    /// Replaces the reader the session chose (tests use a portal on a bus of their own).
    void setScreenReader(std::unique_ptr<ScreenReader> reader);
    ScreenReader& screenReader() const { return *m_reader; }

    /// False where capture cannot work (no display session).
    bool available() const;
    frmScreen* overlay() const;
    frmWindowCapture* windowDialog() const;
    platform::WindowSystem& windowSystem() const { return *m_windows; }

    /// Grabs the whole virtual desktop through Qt.
    static DesktopPicture GrabDesktop() { return GrabScreenReader::GrabDesktop(); }

public Q_SLOTS:
    void captureRegion();
    void captureWindow();

Q_SIGNALS:
    /// The overlay is on the screen and waits for the drag.
    void overlayShown();
    /// A picture was saved: the dated file and its preview copy.
    void pictureSaved(const QString& postPath, const QString& displayPath);
    /// A text for the main window's message line.
    void statusMessage(const QString& text);
    /// Something the user must be told with a box (the capture failed or saved nothing); the shell
    /// shows it before the controller goes on.
    void problem(const QString& text);
    /// A capture command ended, saved or not.
    void finished();

private:
    // What the screen is being read for.
    enum class Reading { Nothing, Region, DroppedWindow, ChosenWindow };

    void hideWindows();
    void showWindowsAgain();
    void regionAfterWait();
    void screenRead(ScreenReader::Outcome outcome, const DesktopPicture& picture);
    void regionRead(const DesktopPicture& picture);
    void showOverlay(int waitedMs);
    void regionChosen(int left, int top, int right, int bottom);
    void windowDropped(const QRect& outer);
    void windowChosenByDesktop();
    bool reportFailure(ScreenReader::Outcome outcome);
    void save(const DesktopPicture& picture, int left, int top, int right, int bottom,
              const QString& savedMessage);
    bool refuseWithoutX11();

    std::unique_ptr<platform::WindowSystem> m_windows;
    std::function<QList<QWidget*>()> m_windowsToHide;
    CaptureTarget m_target;
    std::function<QDateTime()> m_clock;
    std::unique_ptr<ScreenReader> m_reader;
    Reading m_reading = Reading::Nothing;
    QRect m_droppedOuter;
    QLocale m_locale = QLocale::system();
    QList<QPointer<QWidget>> m_hidden;
    QList<QPointer<QWidget>> m_shownAgain;
    DesktopPicture m_snapshot;
    QPointer<frmScreen> m_overlay;
    QPointer<frmWindowCapture> m_dialog;
    bool m_regionPending = false;
    bool m_windowPending = false;
    QElapsedTimer m_sinceHide;
};

} // namespace linvera::capture
