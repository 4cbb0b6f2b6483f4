#pragma once

#include "PlainView.h"

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

    QStringList messages;
    int clipboardWrites = 0;
};

} // namespace linvera::test
