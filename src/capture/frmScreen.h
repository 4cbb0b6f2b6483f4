#pragma once

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QWidget>

namespace linvera::capture {

/// The selection overlay: a frameless window over the whole virtual desktop showing a frozen
/// picture of it, on which the user drags a rectangle. The outline is painted over the picture and
/// never becomes part of it.
class frmScreen : public QWidget
{
    Q_OBJECT

public:
    /// snapshot: the virtual desktop in device pixels (its device pixel ratio set); desktop: the
    /// virtual desktop in logical coordinates.
    frmScreen(const QImage& snapshot, const QRect& desktop, QWidget* parent = nullptr);

    bool isDragging() const { return m_dragging; }

Q_SIGNALS:
    /// A release ended a drag with a rectangle of some width and height; normalised, right and
    /// bottom exclusive, device pixels of the desktop.
    void rectangleChosen(int left, int top, int right, int bottom);
    /// Escape: the overlay is closing without a capture.
    void cancelled();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QPoint devicePoint(const QPointF& local) const;
    QRect outlineRect() const;

    QImage m_snapshot;
    QRect m_desktop;
    bool m_dragging = false;
    bool m_moved = false;
    QPoint m_start;
    QPoint m_current;
};

} // namespace linvera::capture
