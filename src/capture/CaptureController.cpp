#include "capture/CaptureController.h"

#include "capture/frmScreen.h"
#include "capture/frmWindowCapture.h"
#include "platform/AppInfo.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <algorithm>

namespace linvera::capture {

namespace {

const QString SavedMessage = QStringLiteral(u"ｷｬﾌﾟﾁｬ画像をﾃﾞｽｸﾄｯﾌﾟに保存しました。");
// The window command on a desktop whose portal answers without letting the user choose.
const QString WholeScreenMessage =
    QStringLiteral(u"ｳｨﾝﾄﾞｳを選べないﾃﾞｽｸﾄｯﾌﾟのため、画面全体をﾃﾞｽｸﾄｯﾌﾟに保存しました。");
const QString NotReadText = QStringLiteral(u"画面を取り込めませんでした。");
// Windows shown again get this long to come back before the overlay goes over them.
constexpr int WindowsBackMaxMs = 1000;
constexpr int WindowsBackPollMs = 20;

} // namespace

CaptureController::CaptureController(std::unique_ptr<platform::WindowSystem> windows, QObject* parent)
    : QObject(parent)
    , m_windows(std::move(windows))
    , m_clock([] { return QDateTime::currentDateTime(); })
{
    setScreenReader(CreateScreenReader(
        platform::DetectDisplaySession(QProcessEnvironment::systemEnvironment()), *m_windows));
}

CaptureController::~CaptureController()
{
    // The windows reach back into this controller's window system.
    delete m_overlay.data();
    delete m_dialog.data();
}

frmScreen* CaptureController::overlay() const
{
    return m_overlay;
}

frmWindowCapture* CaptureController::windowDialog() const
{
    return m_dialog;
}

void CaptureController::setScreenReader(std::unique_ptr<ScreenReader> reader)
{
    m_reader = std::move(reader);
    m_reading = Reading::Nothing;
    connect(m_reader.get(), &ScreenReader::answered, this, &CaptureController::screenRead);
}

void CaptureController::setScreenGrabber(std::function<DesktopPicture()> grabber)
{
    if (auto* grab = qobject_cast<GrabScreenReader*>(m_reader.get()))
        grab->setGrabber(std::move(grabber));
}

bool CaptureController::available() const
{
    return m_reader->available();
}

bool CaptureController::refuseWithoutX11()
{
    if (available())
        return false;
    Q_EMIT problem(QStringLiteral(u"画面キャプチャには X11 のセッションが必要です。\n"
                                  u"X11 のセッションでログインしてからお使いください。"));
    return true;
}

void CaptureController::hideWindows()
{
    if (!m_windowsToHide)
        return;
    for (QWidget* w : m_windowsToHide()) {
        if (w != nullptr && w->isVisible() && !m_hidden.contains(w)) {
            m_hidden.append(w);
            w->hide();
        }
    }
}

void CaptureController::showWindowsAgain()
{
    for (const QPointer<QWidget>& w : std::as_const(m_hidden)) {
        if (w)
            w->show();
    }
    m_shownAgain = m_hidden;
    m_hidden.clear();
}

void CaptureController::captureRegion()
{
    if (m_regionPending || m_windowPending || m_reader->busy())
        return;
    if (m_overlay) {
        m_overlay->raise();
        m_overlay->activateWindow();
        return;
    }
    if (refuseWithoutX11())
        return;
    m_regionPending = true;
    hideWindows();
    QCoreApplication::processEvents();
    QTimer::singleShot(RegionHideWaitMs, this, &CaptureController::regionAfterWait);
}

void CaptureController::regionAfterWait()
{
    QCoreApplication::processEvents();
    m_reading = Reading::Region;
    m_reader->read(false);
}

void CaptureController::screenRead(ScreenReader::Outcome outcome, const DesktopPicture& picture)
{
    const Reading reading = std::exchange(m_reading, Reading::Nothing);
    switch (reading) {
    case Reading::Nothing:
        return;
    case Reading::Region:
        showWindowsAgain();
        QCoreApplication::processEvents();
        if (!reportFailure(outcome)) {
            m_regionPending = false;
            Q_EMIT finished();
            return;
        }
        regionRead(picture);
        return;
    case Reading::DroppedWindow:
        showWindowsAgain();
        if (m_dialog)
            m_dialog->close();
        if (!reportFailure(outcome)) {
            Q_EMIT finished();
            return;
        }
        save(picture, m_droppedOuter.x(), m_droppedOuter.y(), m_droppedOuter.x() + m_droppedOuter.width(),
             m_droppedOuter.y() + m_droppedOuter.height(), SavedMessage);
        return;
    case Reading::ChosenWindow:
        showWindowsAgain();
        m_windowPending = false;
        if (!reportFailure(outcome)) {
            Q_EMIT finished();
            return;
        }
        // All of what the desktop handed over, inside a border of one pixel beyond it.
        save(picture, picture.origin.x() - 1, picture.origin.y() - 1,
             picture.origin.x() + picture.image.width() + 1, picture.origin.y() + picture.image.height() + 1,
             picture.wholeScreen ? WholeScreenMessage : SavedMessage);
        return;
    }
}

bool CaptureController::reportFailure(ScreenReader::Outcome outcome)
{
    QString text;
    switch (outcome) {
    case ScreenReader::Outcome::Read:
        return true;
    case ScreenReader::Outcome::Cancelled:
        // The user closed the desktop's dialog: nothing to tell.
        return false;
    case ScreenReader::Outcome::NoPortal:
        text =
            NotReadText + QStringLiteral(u"\nデスクトップのスクリーンショット ポータル"
                                         u" (org.freedesktop.portal.Screenshot) が見つかりません。\n"
                                         u"パッケージ xdg-desktop-portal と、デスクトップに合うバックエンド"
                                         u" (GNOME は xdg-desktop-portal-gnome、KDE Plasma は"
                                         u" xdg-desktop-portal-kde、sway などは xdg-desktop-portal-wlr)"
                                         u" をインストールしてください。");
        break;
    case ScreenReader::Outcome::Refused:
        text = NotReadText + QStringLiteral(u"\nデスクトップが画面の取り込みを許可しませんでした。");
        break;
    case ScreenReader::Outcome::NoAnswer:
        text = NotReadText + QStringLiteral(u"\nデスクトップのスクリーンショット ポータルが 30 秒以内に"
                                            u"応答しませんでした。");
        break;
    case ScreenReader::Outcome::Unreadable:
        text = NotReadText +
               QStringLiteral(u"\nスクリーンショット ポータルが渡した画像を読み込めませんでした。");
        break;
    case ScreenReader::Outcome::Failed:
        text = NotReadText;
        break;
    }
    Q_EMIT problem(text);
    return false;
}

void CaptureController::regionRead(const DesktopPicture& picture)
{
    m_snapshot = picture;
    // After the portal's answer the windows shown again can come back after the overlay and, where
    // the compositor raises them (sway with XWayland), take its pointer: the overlay waits for them,
    // bounded. The X11 path goes on at once, as it always did.
    showOverlay(m_reader->choosesWindows() ? 0 : WindowsBackMaxMs);
}

void CaptureController::showOverlay(int waitedMs)
{
    bool back = true;
    for (const QPointer<QWidget>& w : std::as_const(m_shownAgain)) {
        if (w && w->isVisible() && (w->windowHandle() == nullptr || !w->windowHandle()->isExposed()))
            back = false;
    }
    if (!back && waitedMs < WindowsBackMaxMs) {
        QTimer::singleShot(WindowsBackPollMs, this,
                           [this, waitedMs] { showOverlay(waitedMs + WindowsBackPollMs); });
        return;
    }
    m_shownAgain.clear();
    m_regionPending = false;
    const double ratio = m_snapshot.image.devicePixelRatio();
    const QRect desktop(QPoint(qRound(m_snapshot.origin.x() / ratio), qRound(m_snapshot.origin.y() / ratio)),
                        m_snapshot.image.deviceIndependentSize().toSize());
    m_overlay = new frmScreen(m_snapshot.image, desktop);
    connect(m_overlay, &frmScreen::rectangleChosen, this, &CaptureController::regionChosen);
    connect(m_overlay, &frmScreen::cancelled, this, [this] {
        m_snapshot = {};
        m_overlay = nullptr;
        Q_EMIT finished();
    });
    // A Wayland client cannot place a window: covering the output is asked of the compositor.
    if (QGuiApplication::platformName().startsWith(QStringLiteral("wayland")))
        m_overlay->showFullScreen();
    else
        m_overlay->show();
    m_overlay->raise();
    m_overlay->activateWindow();
    // Without a window manager to give it the focus, Escape must still reach the overlay.
    m_overlay->grabKeyboard();
    Q_EMIT overlayShown();
}

void CaptureController::regionChosen(int left, int top, int right, int bottom)
{
    const DesktopPicture snapshot = std::exchange(m_snapshot, {});
    m_overlay->releaseKeyboard();
    // Deleted later by itself: the next command must not find it still here.
    std::exchange(m_overlay, nullptr)->close();
    save(snapshot, left, top, right, bottom, SavedMessage);
}

void CaptureController::captureWindow()
{
    if (m_dialog) {
        m_dialog->raise();
        m_dialog->activateWindow();
        return;
    }
    if (m_regionPending || m_windowPending || m_reader->busy() || m_overlay)
        return;
    if (refuseWithoutX11())
        return;
    if (m_reader->choosesWindows()) {
        windowChosenByDesktop();
        return;
    }
    m_dialog = new frmWindowCapture(*m_windows);
    if (m_windowsToHide && !m_windowsToHide().isEmpty() && m_windowsToHide().first() != nullptr)
        m_dialog->setWindowIcon(m_windowsToHide().first()->windowIcon());
    connect(m_dialog, &frmWindowCapture::dragStarted, this, [this] {
        m_sinceHide.start();
        hideWindows();
        QCoreApplication::processEvents();
    });
    connect(m_dialog, &frmWindowCapture::droppedOnNothing, this, &CaptureController::showWindowsAgain);
    connect(m_dialog, &frmWindowCapture::windowDropped, this, &CaptureController::windowDropped);
    m_dialog->show();
    m_dialog->raise();
    m_dialog->activateWindow();
}

void CaptureController::windowChosenByDesktop()
{
    // No program sees the other windows: the desktop's own dialog chooses, or it hands over the
    // whole screen. This program's windows leave the screen first, as for a drag.
    m_windowPending = true;
    hideWindows();
    QCoreApplication::processEvents();
    QTimer::singleShot(WindowHideWaitMs, this, [this] {
        QCoreApplication::processEvents();
        m_reading = Reading::ChosenWindow;
        m_reader->read(true);
    });
}

void CaptureController::windowDropped(const QRect& outer)
{
    // The windows under the frame repaint themselves, and the hidden windows must have left the
    // screen, before it is read.
    const qint64 hideLeft = WindowHideWaitMs - (m_sinceHide.isValid() ? m_sinceHide.elapsed() : 0);
    QTimer::singleShot(int(std::max<qint64>(RepaintWaitMs, hideLeft)), this, [this, outer] {
        QCoreApplication::processEvents();
        m_droppedOuter = outer;
        m_reading = Reading::DroppedWindow;
        m_reader->read(false);
    });
}

void CaptureController::save(const DesktopPicture& picture, int left, int top, int right, int bottom,
                             const QString& savedMessage)
{
    if (picture.image.isNull()) {
        Q_EMIT problem(NotReadText);
        Q_EMIT finished();
        return;
    }
    const CaptureTarget& target = m_target;
    const SaveResult result =
        SaveCaptureRect(picture.image, picture.origin, left, top, right, bottom, target, m_clock(), m_locale);
    switch (result.status) {
    case SaveResult::Status::Saved:
        Q_EMIT pictureSaved(result.postPath, result.displayPath);
        Q_EMIT statusMessage(savedMessage);
        break;
    case SaveResult::Status::NothingInside:
        Q_EMIT problem(QStringLiteral(u"選択した範囲が小さすぎるため、保存しませんでした。"));
        break;
    case SaveResult::Status::WriteFailed:
        Q_EMIT problem(QStringLiteral(u"キャプチャ画像を保存できませんでした。\n") + result.failedPath);
        break;
    }
    Q_EMIT finished();
}

} // namespace linvera::capture
