#pragma once

#include "conv/PlainView.h"

#include <QImage>
#include <QStringList>

namespace linvera::test {

/// A plain view that also keeps every message-line change and counts the clipboard writes.
class RecordingView : public PlainView
{
public:
    void setMessage(const QString& text) override
    {
        PlainView::setMessage(text);
        messages.append(text);
    }
    void copyToClipboard(const QString& text) override
    {
        PlainView::copyToClipboard(text);
        ++clipboardWrites;
    }

    /// Decodes the picture, as a window that shows it does.
    bool setThumbnail(const QString& picturePath) override
    {
        PlainView::setThumbnail(picturePath);
        thumbnail = picturePath.isEmpty() ? QImage() : QImage(picturePath);
        return picturePath.isEmpty() || !thumbnail.isNull();
    }

    QStringList messages;
    int clipboardWrites = 0;
    QImage thumbnail;
};

} // namespace linvera::test
