#include "TextDrop.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QWidget>

using namespace Qt::StringLiterals;

namespace linvera {

std::optional<QString> DroppedText(const QMimeData* data)
{
    if (!data)
        return std::nullopt;
    const QStringList formats = data->formats();
    for (const QString& format : formats) {
        // Only a real text format counts: QMimeData::hasText() would also say yes to a bare file list.
        if (format == u"text/plain"_s || format.startsWith(u"text/plain;"_s))
            return data->text();
    }
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
        if (DroppedText(drag->mimeData())) {
            drag->setDropAction(Qt::CopyAction);
            drag->accept();
        } else {
            drag->ignore();
        }
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
        drop->setDropAction(Qt::CopyAction);
        drop->accept();
        Q_EMIT textDropped(*text);
        return true;
    }
    default:
        return QObject::eventFilter(watched, event);
    }
}

} // namespace linvera
