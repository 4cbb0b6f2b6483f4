#include "capture/frmWindowCapture.h"

#include "capture/CaptureNames.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QWindow>

namespace linvera::capture {

namespace {

// The longest caption the window's title may give, in bytes of the ANSI code page.
constexpr int TitleBytes = 999;

} // namespace

frmWindowCapture::frmWindowCapture(platform::WindowSystem& windows, QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint)
    , m_windows(windows)
{
    setObjectName(QStringLiteral("frmWindowCapture"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral(u"画面キャプチャ"));
    setCursor(Qt::CrossCursor);
    m_label1 = new QLabel(
        QStringLiteral(u"左の＋マークをドラッグし、任意のウィンドウ上でドロップしてください"), this);
    m_label1->setObjectName(QStringLiteral("Label1"));
    m_label1->setWordWrap(true);
    // Presses on the label belong to the dialog: the whole dialog is the drag handle.
    m_label1->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_label1->setGeometry(CrossOrigin.x() + CrossSize + 8, 2, 240, CrossSize + 8);
    setFixedSize(m_label1->geometry().right() + 8, CrossSize + 12);
}

frmWindowCapture::~frmWindowCapture()
{
    clearFrame();
}

void frmWindowCapture::paintEvent(QPaintEvent*)
{
    // The ＋ mark the label speaks of, in the place of the system's crosshair cursor picture.
    QPainter painter(this);
    const QRect box(CrossOrigin, QSize(CrossSize, CrossSize));
    const int cx = box.center().x();
    const int cy = box.center().y();
    painter.setPen(QPen(Qt::white, 3));
    painter.drawLine(cx, box.top() + 2, cx, box.bottom() - 2);
    painter.drawLine(box.left() + 2, cy, box.right() - 2, cy);
    painter.setPen(QPen(Qt::black, 1));
    painter.drawLine(cx, box.top() + 2, cx, box.bottom() - 2);
    painter.drawLine(box.left() + 2, cy, box.right() - 2, cy);
}

void frmWindowCapture::mousePressEvent(QMouseEvent*)
{
    grabMouse(Qt::CrossCursor);
    m_captured = 0;
    Q_EMIT dragStarted();
}

void frmWindowCapture::mouseMoveEvent(QMouseEvent* event)
{
    if (QWidget::mouseGrabber() != this)
        return;
    const double ratio = windowHandle() != nullptr ? windowHandle()->devicePixelRatio() : 1.0;
    const QPointF global = event->globalPosition();
    const QPoint device(RoundHalfEven(global.x() * ratio), RoundHalfEven(global.y() * ratio));
    m_captured = m_windows.topLevelAt(device);
    if (m_captured == m_framed)
        return;
    if (m_captured == 0) {
        clearFrame();
        return;
    }
    m_windows.showFrame(m_captured);
    m_framed = m_captured;
}

void frmWindowCapture::mouseReleaseEvent(QMouseEvent*)
{
    const bool grabbed = QWidget::mouseGrabber() == this;
    releaseMouse();
    if (!grabbed)
        return;
    const platform::WindowSystem::WindowId window = m_captured;
    m_captured = 0;
    if (window == 0) {
        clearFrame();
        Q_EMIT droppedOnNothing();
        return;
    }
    setWindowTitle(TruncateToAnsiBytes(m_windows.title(window), TitleBytes));
    const QRect outer = m_windows.outerRect(window);
    clearFrame();
    Q_EMIT windowDropped(outer);
}

void frmWindowCapture::clearFrame()
{
    if (m_framed == 0)
        return;
    m_windows.hideFrame();
    m_windows.sync();
    m_framed = 0;
}

} // namespace linvera::capture
