#include "capture/frmScreen.h"

#include "capture/CaptureNames.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

namespace linvera::capture {

frmScreen::frmScreen(const QImage& snapshot, const QRect& desktop, QWidget* parent)
    // Bypassing the window manager is what lets one window lie over every screen and every panel.
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                          Qt::X11BypassWindowManagerHint)
    , m_snapshot(snapshot)
    , m_desktop(desktop)
{
    setObjectName(QStringLiteral("frmScreen"));
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setCursor(Qt::CrossCursor);
    setMouseTracking(false);
    setGeometry(desktop);
}

QPoint frmScreen::devicePoint(const QPointF& local) const
{
    const double ratio = m_snapshot.devicePixelRatio();
    return QPoint(RoundHalfEven((m_desktop.x() + local.x()) * ratio),
                  RoundHalfEven((m_desktop.y() + local.y()) * ratio));
}

QRect frmScreen::outlineRect() const
{
    // Back to logical coordinates of this window for painting.
    const double ratio = m_snapshot.devicePixelRatio();
    const QRectF device = QRectF(QPointF(m_start), QPointF(m_current)).normalized();
    const QRectF local(device.x() / ratio - m_desktop.x(), device.y() / ratio - m_desktop.y(),
                       device.width() / ratio, device.height() / ratio);
    return local.toRect();
}

void frmScreen::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.drawImage(rect(), m_snapshot);
    if (m_dragging && m_moved) {
        // The difference with white inverts what lies below, as an inverting pen would.
        painter.setCompositionMode(QPainter::CompositionMode_Difference);
        painter.setPen(QPen(Qt::white, 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(outlineRect());
    }
}

void frmScreen::mousePressEvent(QMouseEvent* event)
{
    m_dragging = true;
    m_moved = false;
    m_start = devicePoint(event->position());
    m_current = m_start;
    update();
}

void frmScreen::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_dragging)
        return;
    m_current = devicePoint(event->position());
    m_moved = true;
    update();
}

void frmScreen::mouseReleaseEvent(QMouseEvent*)
{
    if (!m_dragging)
        return;
    m_dragging = false;
    update();
    // The rectangle is the one of the last move: a release without a move, or with no width or no
    // height, keeps the overlay open for another drag.
    if (!m_moved || m_start.x() == m_current.x() || m_start.y() == m_current.y())
        return;
    Q_EMIT rectangleChosen(std::min(m_start.x(), m_current.x()), std::min(m_start.y(), m_current.y()),
                           std::max(m_start.x(), m_current.x()), std::max(m_start.y(), m_current.y()));
}

void frmScreen::keyPressEvent(QKeyEvent* event)
{
    if (event->key() != Qt::Key_Escape) {
        QWidget::keyPressEvent(event);
        return;
    }
    m_dragging = false;
    releaseKeyboard();
    Q_EMIT cancelled();
    close();
}

} // namespace linvera::capture
