#pragma once

#include "BenchStats.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QList>
#include <QMouseEvent>
#include <QString>
#include <QWidget>

#include <functional>

// What both capture benchmarks do around the capture: wait with the events running, drag on the
// overlay, print one figure line.
namespace linvera::bench {

/// Runs the events until done() holds; false after timeoutMs.
inline bool waitFor(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

/// A left-button press, move or release at a point of the target, delivered at once.
inline void sendMouse(QWidget* target, QEvent::Type type, QPoint at)
{
    const QPointF local(at);
    QMouseEvent event(type, local, target->mapToGlobal(local), Qt::LeftButton,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &event);
}

/// "median … ms (min …, max …, N runs)".
inline QString figuresLine(const QList<double>& values)
{
    return QStringLiteral("median %1 ms (min %2, max %3, %4 runs)")
        .arg(median(values), 0, 'f', 1)
        .arg(minimum(values), 0, 'f', 1)
        .arg(maximum(values), 0, 'f', 1)
        .arg(values.size());
}

} // namespace linvera::bench
