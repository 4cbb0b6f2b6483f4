#pragma once

#include "app/ui/ThumbnailFit.h"
#include "conv/Endpoints.h"

#include <QDialog>

#include <functional>
#include <memory>

class QCheckBox;
class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace linvera {

namespace platform {
class MessageBoxes;
}

class MicroblogClient;
class PictureLabel;
class SettingsModel;
class ReplyTextFeed;
class TextDropFilter;
class frmMain;
class frmSettings;

/// The posting window: status text, the picture to post and the profile-picture choices. It is
/// created once, loaded hidden, and a close only hides it so its contents survive.
class frmTwitter : public QDialog
{
    Q_OBJECT

public:
    /// The designed size of `imgCapture`, the box a picture to post is fitted into.
    static constexpr TwipSize kCaptureBoxSize{4800, 3600};

    explicit frmTwitter(QWidget* parent = nullptr);
    ~frmTwitter() override;

    /// What the window reads from elsewhere: the login, password and proxy of the settings (as the
    /// model's snapshot holds them when a request starts), the settings window to show when the
    /// login is missing, the URLs of the main window, the message boxes and the hosts.
    void setSettingsModel(const SettingsModel* model);
    void setSettingsWindow(frmSettings* settings) { m_settings = settings; }
    void setMainWindow(frmMain* main) { m_main = main; }
    void setMessageBoxes(platform::MessageBoxes& boxes);
    void setEndpoints(const Endpoints& endpoints);
    /// The picture file chooser of the picture-from-file command; none is the file dialog.
    void setFileChooser(std::function<QString()> chooser) { m_chooseFile = std::move(chooser); }
    MicroblogClient& client() { return *m_client; }

    /// The picture file to post and the one to show.
    QString postPicturePath() const { return m_postPicturePath; }
    void setPostPicturePath(const QString& path) { m_postPicturePath = path; }
    QString displayPicturePath() const { return m_displayPicturePath; }
    void setDisplayPicturePath(const QString& path) { m_displayPicturePath = path; }
    /// The outcome of the last status update (true until one fails).
    bool statusPostOK() const { return m_statusPostOK; }
    /// True from a post's start until its outcome is shown; a press of `btnSend` meanwhile is ignored.
    bool isPosting() const { return m_posting; }

    /// Shows the window in picture mode with the picture at `displayPicturePath()`.
    void CaptureImageResize();
    /// The follow request; `then` runs once it has ended, whatever the answer.
    void Twitter_Create_Friendship(const QString& account, const QString& twlogin, const QString& twpass,
                                   std::function<void()> then = {});

    /// The main window's commands that lead here: a picture file chosen in a dialog, the window
    /// with the status prefilled from the last conversion, and following the maker's account.
    void btnTwitpicFromFile_Click();
    void btnTwitter_Click(int lConvMode);
    void mnuFollow_Click(const QString& makerAccount);

    void btnSend_Click();
    void btnClear_Click();

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

Q_SIGNALS:
    /// A page to show in the browser: the home page, or the followed account's page (tagged).
    void openInBrowserRequested(const QString& url, bool tagged);
    /// The picture to post was clicked: open it with its program.
    void pictureOpenRequested(const QString& path);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QString login() const;
    QString password() const;
    /// False (after the message and the settings window) when the login or password is blank.
    bool credentialsGiven();
    bool pictureMode() const;
    void updateCount();
    void updateStatusColour();
    void insertUrl(const QString& url);
    void onReplyComplete(const QString& reply);
    void finishPost(const QString& message);

    platform::MessageBoxes* m_boxes = nullptr;
    std::unique_ptr<platform::MessageBoxes> m_ownBoxes;
    MicroblogClient* m_client = nullptr;
    frmSettings* m_settings = nullptr;
    frmMain* m_main = nullptr;
    TextDropFilter* m_drops = nullptr;
    Endpoints m_endpoints;
    std::function<QString()> m_chooseFile;
    const SettingsModel* m_model = nullptr;
    QString m_postPicturePath;
    QString m_displayPicturePath;
    bool m_statusPostOK = true;
    bool m_posting = false;

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
    ReplyTextFeed* m_replyFeed = nullptr;
};

} // namespace linvera
