#pragma once

#include "ConversionView.h"
#include "MessageBoxes.h"

#include <QStringList>

namespace linvera {

/// The conversion boxes of the headless front end: plain fields, printed when a run is complete.
class ConsoleView : public ConversionView
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
    void setAfterInfoVisible(bool) override {}
    void setMessage(const QString& text) override { m_message = text; }
    void setCaption(const QString&) override {}
    void setThumbnail(const QImage& picture) override { m_thumbnail = picture; }
    void setThumbnailVisible(bool) override {}
    bool clipboardWanted() const override { return false; }
    void copyToClipboard(const QString&) override {}

    QString message() const { return m_message; }
    /// The after URL, then the before info when shown, then the non-empty lines of the after info.
    QStringList resultLines() const;

private:
    QString m_beforeUrl;
    QString m_afterUrl;
    QString m_beforeInfo;
    QString m_afterInfo;
    QString m_message;
    QImage m_thumbnail;
    bool m_beforeInfoVisible = false;
};

/// Message boxes of the headless front end: written to standard error, answered with the default.
class ConsoleMessageBoxes : public platform::MessageBoxes
{
public:
    Answer show(Icon icon, const QString& title, const QString& text, Buttons buttons) override;
};

} // namespace linvera
