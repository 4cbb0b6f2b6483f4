#pragma once

#include "ConversionView.h"
#include "MessageBoxes.h"

#include <QImage>
#include <QString>

namespace linvera::bench {

/// The conversion boxes as plain fields: the cheapest view there is, so the figures are the engine's.
class BenchView : public ConversionView
{
public:
    QString beforeUrl() const override { return m_beforeUrl; }
    void setBeforeUrl(const QString& text) override { m_beforeUrl = text; }
    QString afterUrl() const override { return m_afterUrl; }
    void setAfterUrl(const QString& text) override { m_afterUrl = text; }
    void setBeforeInfo(const QString& text) override { m_beforeInfo = text; }
    void setBeforeInfoVisible(bool visible) override { m_beforeInfoVisible = visible; }
    void setAfterInfo(const QString& text) override { m_afterInfo = text; }
    void insertAfterInfo(const QString& text) override { m_afterInfo += text; }
    void setAfterInfoVisible(bool visible) override { m_afterInfoVisible = visible; }
    void setMessage(const QString& text) override { m_message = text; }
    void setCaption(const QString& text) override { m_caption = text; }
    void setThumbnail(const QImage& picture) override { m_thumbnail = picture; }
    void setThumbnailVisible(bool visible) override { m_thumbnailVisible = visible; }
    bool clipboardWanted() const override { return false; }
    void copyToClipboard(const QString& text) override { m_clipboard = text; }

    QString message() const { return m_message; }

private:
    QString m_beforeUrl;
    QString m_afterUrl;
    QString m_beforeInfo;
    QString m_afterInfo;
    QString m_message;
    QString m_caption;
    QString m_clipboard;
    QImage m_thumbnail;
    bool m_beforeInfoVisible = false;
    bool m_afterInfoVisible = true;
    bool m_thumbnailVisible = false;
};

/// Counts the boxes instead of showing them; a box during a measurement means the set-up is wrong.
class CountingMessageBoxes : public platform::MessageBoxes
{
public:
    Answer show(Icon, const QString&, const QString& text, Buttons) override
    {
        ++m_count;
        m_lastText = text;
        return Answer::Ok;
    }

    int count() const { return m_count; }
    QString lastText() const { return m_lastText; }
    void reset() { m_count = 0; }

private:
    int m_count = 0;
    QString m_lastText;
};

} // namespace linvera::bench
