#include "app/ui/PictureLabel.h"

#include <QMouseEvent>

namespace linvera {

PictureLabel::PictureLabel(QWidget* parent)
    : QLabel(parent)
{}

void PictureLabel::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        event->accept();
        Q_EMIT clicked();
        return;
    }
    QLabel::mouseReleaseEvent(event);
}

} // namespace linvera
