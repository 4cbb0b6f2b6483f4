#pragma once

#include "conv/ConversionView.h"

#include <QString>

namespace linvera {

/// The conversion boxes as plain fields, for front ends without windows (the headless converter, the
/// benchmarks, the tests). Its clipboard is a field too.
class PlainView : public ConversionView
{
public:
    QString beforeUrl() const override { return m_beforeUrl; }
    void setBeforeUrl(const QString& text) override { m_beforeUrl = text; }
    QString afterUrl() const override { return m_afterUrl; }
    void setAfterUrl(const QString& text) override { m_afterUrl = text; }
    void setBeforeInfo(const QString& text) override { beforeInfo = text; }
    void setBeforeInfoVisible(bool visible) override { beforeInfoVisible = visible; }
    void setAfterInfo(const QString& text) override { afterInfo = text; }
    void insertAfterInfo(const QString& text) override { afterInfo += text; }
    void setAfterInfoVisible(bool visible) override { afterInfoVisible = visible; }
    void appendAfterInfoLine(const QString& line) override
    {
        if (!afterInfo.isEmpty() && !afterInfo.endsWith(u'\n'))
            afterInfo += QStringLiteral("\r\n");
        afterInfo += line + QStringLiteral("\r\n");
    }
    void setMessage(const QString& text) override { message = text; }
    void setCaption(const QString& text) override { caption = text; }
    /// Shows nothing, so decodes nothing: the file was already found to be a picture.
    bool setThumbnail(const QString& picturePath) override
    {
        thumbnailPath = picturePath;
        return true;
    }
    void setThumbnailVisible(bool visible) override { thumbnailVisible = visible; }
    bool clipboardWanted() const override { return clipboardChecked; }
    void copyToClipboard(const QString& text) override { clipboard = text; }

    QString beforeInfo;
    bool beforeInfoVisible = false;
    QString afterInfo;
    bool afterInfoVisible = true;
    QString message;
    QString caption;
    QString thumbnailPath;
    bool thumbnailVisible = false;
    bool clipboardChecked = false;
    QString clipboard;

private:
    QString m_beforeUrl;
    QString m_afterUrl;
};

} // namespace linvera
