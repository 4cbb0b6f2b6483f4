#pragma once

#include <QString>

namespace linvera {

/// What the conversion engine reads and writes on screen: the four boxes, the message line, the
/// caption, the thumbnail and the clipboard. The main window, the headless front end and the tests
/// each implement it; the engine never sees a widget.
class ConversionView
{
public:
    virtual ~ConversionView() = default;

    /// `txtBeforeUrl`
    virtual QString beforeUrl() const = 0;
    virtual void setBeforeUrl(const QString& text) = 0;
    /// `txtAfterUrl`
    virtual QString afterUrl() const = 0;
    virtual void setAfterUrl(const QString& text) = 0;
    /// `txtBeforeDecode`: hiding it keeps its text.
    virtual void setBeforeInfo(const QString& text) = 0;
    virtual void setBeforeInfoVisible(bool visible) = 0;
    /// `txtAfterDecode`: replace the whole text, or insert at the caret (which then follows the insert).
    virtual void setAfterInfo(const QString& text) = 0;
    virtual void insertAfterInfo(const QString& text) = 0;
    virtual void setAfterInfoVisible(bool visible) = 0;
    /// Adds a line at the end of `txtAfterDecode`, after whatever the conversion put there; the caret
    /// stays where it was.
    virtual void appendAfterInfoLine(const QString& line) = 0;
    /// `lblMsg`
    virtual void setMessage(const QString& text) = 0;
    /// The main window's caption.
    virtual void setCaption(const QString& text) = 0;
    /// `imgPictThumb`: shows the picture file at `picturePath`; false when it is no picture the view
    /// can show. An empty path clears it. The engine never decodes a picture: only a view that shows
    /// one does.
    virtual bool setThumbnail(const QString& picturePath) = 0;
    virtual void setThumbnailVisible(bool visible) = 0;
    /// `chkClipboard` checked.
    virtual bool clipboardWanted() const = 0;
    /// Clears the clipboard, then puts the text on it.
    virtual void copyToClipboard(const QString& text) = 0;
};

} // namespace linvera
