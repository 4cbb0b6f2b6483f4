#pragma once

#include "ThumbnailFit.h"

#include <QDialog>

class QCheckBox;
class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace linvera {

class PictureLabel;

/// The posting window: status text, the picture to post and the profile-picture choices. It is
/// created once, loaded hidden, and a close only hides it so its contents survive.
class frmTwitter : public QDialog
{
    Q_OBJECT

public:
    /// The designed size of `imgCapture`, the box a picture to post is fitted into.
    static constexpr TwipSize kCaptureBoxSize{4800, 3600};

    explicit frmTwitter(QWidget* parent = nullptr);

    /// The current width and height of `imgCapture` in twips.
    TwipSize imgCaptureSizeTwips() const;

    QPlainTextEdit* txtStatus() const { return m_txtStatus; }
    QLabel* lblComment1() const { return m_lblComment1; }
    QLabel* lblCount() const { return m_lblCount; }
    QPushButton* btnSend() const { return m_btnSend; }
    QPushButton* btnClear() const { return m_btnClear; }
    QPushButton* btnShowMyPage() const { return m_btnShowMyPage; }
    QPushButton* btnManualURLInsertBefore() const { return m_btnManualURLInsertBefore; }
    QPushButton* btnManualURLInsertAfter() const { return m_btnManualURLInsertAfter; }
    QPushButton* OKButton() const { return m_OKButton; }
    QGroupBox* frameChecks() const { return m_frameChecks; }
    QCheckBox* chkProfile_icon_image() const { return m_chkProfile_icon_image; }
    QCheckBox* chkProfile_back_image() const { return m_chkProfile_back_image; }
    QCheckBox* chkProfile_backtile_image() const { return m_chkProfile_backtile_image; }
    QLabel* lblCapture() const { return m_lblCapture; }
    PictureLabel* imgCapture() const { return m_imgCapture; }
    QLabel* picCapture() const { return m_picCapture; }
    QLabel* lblMsg() const { return m_lblMsg; }
    QPlainTextEdit* txtRequest() const { return m_txtRequest; }
    QPlainTextEdit* txtResponse() const { return m_txtResponse; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QPlainTextEdit* m_txtStatus = nullptr;
    QLabel* m_lblComment1 = nullptr;
    QLabel* m_lblCount = nullptr;
    QPushButton* m_btnSend = nullptr;
    QPushButton* m_btnClear = nullptr;
    QPushButton* m_btnShowMyPage = nullptr;
    QPushButton* m_btnManualURLInsertBefore = nullptr;
    QPushButton* m_btnManualURLInsertAfter = nullptr;
    QPushButton* m_OKButton = nullptr;
    QGroupBox* m_frameChecks = nullptr;
    QCheckBox* m_chkProfile_icon_image = nullptr;
    QCheckBox* m_chkProfile_back_image = nullptr;
    QCheckBox* m_chkProfile_backtile_image = nullptr;
    QLabel* m_lblCapture = nullptr;
    PictureLabel* m_imgCapture = nullptr;
    QLabel* m_picCapture = nullptr;
    QLabel* m_lblMsg = nullptr;
    QPlainTextEdit* m_txtRequest = nullptr;
    QPlainTextEdit* m_txtResponse = nullptr;
};

} // namespace linvera
