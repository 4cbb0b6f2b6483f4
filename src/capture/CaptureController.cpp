#include "CaptureController.h"

#include "AppInfo.h"
#include "frmScreen.h"
#include "frmWindowCapture.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include <algorithm>

namespace linvera::capture {

namespace {

const QString SavedMessage = QStringLiteral(u"ｷｬﾌﾟﾁｬ画像をﾃﾞｽｸﾄｯﾌﾟに保存しました。");

} // namespace

CaptureController::CaptureController(platform::MessageBoxes& boxes,
                                     std::unique_ptr<platform::WindowSystem> windows, QObject* parent)
    : QObject(parent)
    , m_boxes(boxes)
    , m_windows(std::move(windows))
    , m_clock([] { return QDateTime::currentDateTime(); })
    , m_grab(&CaptureController::GrabDesktop)
{}

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

DesktopPicture CaptureController::GrabDesktop()
{
    QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr)
        return {};
    const QRect desktop = screen->virtualGeometry();
    const QRect own = screen->geometry();
    // Window 0 is the root window; the rectangle is given relative to this screen.
    const QPixmap pixmap = screen->grabWindow(0, desktop.x() - own.x(), desktop.y() - own.y(),
                                              desktop.width(), desktop.height());
    DesktopPicture picture;
    picture.image = pixmap.toImage();
    const double ratio = screen->devicePixelRatio();
    picture.image.setDevicePixelRatio(ratio);
    picture.origin = QPoint(qRound(desktop.x() * ratio), qRound(desktop.y() * ratio));
    return picture;
}

bool CaptureController::available() const
{
    return m_windows->available() && QGuiApplication::platformName() == QStringLiteral("xcb");
}

bool CaptureController::refuseWithoutX11()
{
    if (available())
        return false;
    m_boxes.show(platform::MessageBoxes::Icon::Exclamation, AppTitle(),
                 QStringLiteral(u"画面キャプチャには X11 のセッションが必要です。\n"
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
    m_hidden.clear();
}

void CaptureController::captureRegion()
{
    if (m_regionPending)
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
    m_snapshot = m_grab();
    showWindowsAgain();
    QCoreApplication::processEvents();
    m_regionPending = false;
    if (m_snapshot.image.isNull()) {
        m_boxes.show(platform::MessageBoxes::Icon::Exclamation, AppTitle(),
                     QStringLiteral(u"画面を取り込めませんでした。"));
        Q_EMIT finished();
        return;
    }
    const double ratio = m_snapshot.image.devicePixelRatio();
    const QRect desktop(QPoint(qRound(m_snapshot.origin.x() / ratio), qRound(m_snapshot.origin.y() / ratio)),
                        m_snapshot.image.deviceIndependentSize().toSize());
    m_overlay = new frmScreen(m_snapshot.image, desktop);
    connect(m_overlay, &frmScreen::rectangleChosen, this, &CaptureController::regionChosen);
    connect(m_overlay, &frmScreen::cancelled, this, [this] {
        m_snapshot = {};
        Q_EMIT finished();
    });
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
    m_overlay->close();
    save(snapshot, left, top, right, bottom);
}

void CaptureController::captureWindow()
{
    if (m_dialog) {
        m_dialog->raise();
        m_dialog->activateWindow();
        return;
    }
    if (refuseWithoutX11())
        return;
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

void CaptureController::windowDropped(const QRect& outer)
{
    // The windows under the frame repaint themselves, and the hidden windows must have left the
    // screen, before it is read.
    const qint64 hideLeft = WindowHideWaitMs - (m_sinceHide.isValid() ? m_sinceHide.elapsed() : 0);
    QTimer::singleShot(int(std::max<qint64>(RepaintWaitMs, hideLeft)), this, [this, outer] {
        QCoreApplication::processEvents();
        const DesktopPicture picture = m_grab();
        showWindowsAgain();
        if (m_dialog)
            m_dialog->close();
        save(picture, outer.x(), outer.y(), outer.x() + outer.width(), outer.y() + outer.height());
    });
}

void CaptureController::save(const DesktopPicture& picture, int left, int top, int right, int bottom)
{
    if (picture.image.isNull()) {
        m_boxes.show(platform::MessageBoxes::Icon::Exclamation, AppTitle(),
                     QStringLiteral(u"画面を取り込めませんでした。"));
        Q_EMIT finished();
        return;
    }
    const CaptureTarget target = m_target ? m_target() : CaptureTarget{};
    const SaveResult result =
        SaveCaptureRect(picture.image, picture.origin, left, top, right, bottom, target, m_clock(), m_locale);
    switch (result.status) {
    case SaveResult::Status::Saved:
        Q_EMIT pictureSaved(result.postPath, result.displayPath);
        Q_EMIT statusMessage(SavedMessage);
        break;
    case SaveResult::Status::NothingInside:
        m_boxes.show(platform::MessageBoxes::Icon::Exclamation, AppTitle(),
                     QStringLiteral(u"選択した範囲が小さすぎるため、保存しませんでした。"));
        break;
    case SaveResult::Status::WriteFailed:
        m_boxes.show(platform::MessageBoxes::Icon::Exclamation, AppTitle(),
                     QStringLiteral(u"キャプチャ画像を保存できませんでした。\n") + result.failedPath);
        break;
    }
    Q_EMIT finished();
}

} // namespace linvera::capture
