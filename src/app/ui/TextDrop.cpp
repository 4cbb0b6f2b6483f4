#include "app/ui/TextDrop.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QWidget>

using namespace Qt::StringLiterals;

namespace linvera {

namespace {

// A copy when the source allows it: the dropped text stays where it came from.
void acceptCopy(QDropEvent* event)
{
    if (event->possibleActions() & Qt::CopyAction) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->acceptProposedAction();
    }
}

} // namespace

std::optional<QString> DroppedText(const QMimeData* data)
{
    if (!data)
        return std::nullopt;
    // The two text formats QMimeData::text() reads; a bare file list is not text.
    if (data->hasFormat(u"text/plain"_s) || data->hasFormat(u"text/plain;charset=utf-8"_s))
        return data->text();
    return std::nullopt;
}

TextDropFilter::TextDropFilter(QObject* parent)
    : QObject(parent)
{}

void TextDropFilter::watch(QWidget* target)
{
    target->setAcceptDrops(true);
    target->installEventFilter(this);
}

bool TextDropFilter::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto* drag = static_cast<QDragMoveEvent*>(event);
        if (DroppedText(drag->mimeData()))
            acceptCopy(drag);
        else
            drag->ignore();
        return true;
    }
    case QEvent::DragLeave:
        return true;
    case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        const auto text = DroppedText(drop->mimeData());
        if (!text) {
            drop->ignore();
            return true;
        }
        acceptCopy(drop);
        Q_EMIT textDropped(*text);
        return true;
    }
    default:
        return QObject::eventFilter(watched, event);
    }
}

} // namespace linvera
