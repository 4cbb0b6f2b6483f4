#pragma once

#include "platform/WindowSystem.h"

#include <QRect>
#include <QWidget>

class QLabel;

namespace linvera::capture {

/// The small window-capture dialog: the user presses on it, drags the crosshair over any window
/// (the window under the pointer is framed) and releases there.
class frmWindowCapture : public QWidget
{
    Q_OBJECT

public:
    explicit frmWindowCapture(platform::WindowSystem& windows, QWidget* parent = nullptr);
    ~frmWindowCapture() override;

    QLabel* label1() const { return m_label1; }
    /// The window under the dragged pointer; 0 when none or no drag.
    platform::WindowSystem::WindowId capturedWindow() const { return m_captured; }
    /// The window that carries the frame now; 0 when none.
    platform::WindowSystem::WindowId framedWindow() const { return m_framed; }

    /// Where the crosshair picture is drawn, and its size.
    static constexpr QPoint CrossOrigin{2, 2};
    static constexpr int CrossSize = 32;

Q_SIGNALS:
    /// The mouse went down on the dialog: the caller hides its windows.
    void dragStarted();
    /// The pointer was released over a window: its outer rectangle in device pixels. The frame is
    /// already gone from the screen.
    void windowDropped(const QRect& outer);
    /// The pointer was released before it found any window: nothing to capture.
    void droppedOnNothing();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void clearFrame();

    platform::WindowSystem& m_windows;
    QLabel* m_label1 = nullptr;
    platform::WindowSystem::WindowId m_captured = 0;
    platform::WindowSystem::WindowId m_framed = 0;
};

} // namespace linvera::capture
