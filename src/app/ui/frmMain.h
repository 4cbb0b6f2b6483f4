#pragma once

#include "app/ui/MainLayout.h"
#include "app/ui/MainMenus.h"
#include "conv/ConversionView.h"
#include "conv/Endpoints.h"

#include <QMainWindow>
#include <QPointer>

#include <functional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace linvera {

class AboutDialog;
class PictureLabel;
class TextDropFilter;

/// The main window: the four URL boxes, the convert button, the clipboard box, the preview thumbnail,
/// the message line, the notice button, the capture buttons and the two menus. It shows what the
/// conversion engine writes (ConversionView) and reports every command as a signal; start-up wires them.
class frmMain : public QMainWindow, public ConversionView
{
    Q_OBJECT

public:
    explicit frmMain(QWidget* parent = nullptr);
    ~frmMain() override;

    /// Hosts of the menu commands' pages.
    void setEndpoints(const Endpoints& endpoints) { m_endpoints = endpoints; }
    /// Where `thumbnailClicked` finds the preview picture's file.
    void setPreviewPicturePathSource(std::function<QString()> source) { m_previewPath = std::move(source); }
    /// The notice button's caption and tip, and the page it opens (`NoticeUrl`).
    void setNotice(const QString& message, const QString& url);
    QString noticeUrl() const { return m_noticeUrl; }

    /// Runs the layout rule for the current size. The resize of the client area calls it.
    void Resizing();
    /// Sizes the thumbnail to the result box, keeping the picture's proportions.
    void FitThumbnail();
    /// The control geometry of the last layout pass, in twips.
    const MainGeometry& layoutGeometry() const { return m_geometry; }

    /// The outer geometry the settings store: the position of the frame and the size the layout rule
    /// counts (client area plus kMainFrameAllowance), in twips.
    QRectF outerGeometryTwips() const;
    void setOuterSizeTwips(double width, double height);
    void setOuterPositionTwips(double left, double top);

    /// Shows the about dialog, not modal.
    void showAbout();

    // The controls, for the parts of the program that read or set them directly.
    QLineEdit* txtBeforeUrl() const { return m_txtBeforeUrl; }
    QLineEdit* txtBeforeDecode() const { return m_txtBeforeDecode; }
    QLineEdit* txtAfterUrl() const { return m_txtAfterUrl; }
    QPlainTextEdit* txtAfterDecode() const { return m_txtAfterDecode; }
    PictureLabel* imgPictThumb() const { return m_imgPictThumb; }
    QLabel* picPictThumb() const { return m_picPictThumb; }
    QPushButton* btnStartConv() const { return m_btnStartConv; }
    QCheckBox* chkClipboard() const { return m_chkClipboard; }
    QPushButton* btnNotice() const { return m_btnNotice; }
    QLabel* lblMsg() const { return m_lblMsg; }
    const MainMenus& menus() const { return m_menus; }

    // ConversionView
    QString beforeUrl() const override;
    void setBeforeUrl(const QString& text) override;
    QString afterUrl() const override;
    void setAfterUrl(const QString& text) override;
    void setBeforeInfo(const QString& text) override;
    void setBeforeInfoVisible(bool visible) override;
    void setAfterInfo(const QString& text) override;
    void insertAfterInfo(const QString& text) override;
    void setAfterInfoVisible(bool visible) override;
    void appendAfterInfoLine(const QString& line) override;
    void setMessage(const QString& text) override;
    void setCaption(const QString& text) override;
    bool setThumbnail(const QString& picturePath) override;
    /// Shows a picture already decoded; a null one clears the thumbnail.
    void setThumbnail(const QImage& picture);
    void setThumbnailVisible(bool visible) override;
    bool clipboardWanted() const override;
    void copyToClipboard(const QString& text) override;

Q_SIGNALS:
    /// `StartConv` is due: the convert button, or text dropped into `txtBeforeUrl`.
    void conversionRequested();
    /// A page to open in the browser; `tagged` asks for the tagged form of the launch.
    void openInBrowserRequested(const QString& url, bool tagged);
    /// The notice button, with `NoticeUrl` unchanged (possibly empty).
    void noticeClicked(const QString& url);
    /// The thumbnail was clicked: open the preview picture's file.
    void thumbnailClicked(const QString& path);
    /// After the update page was opened: refresh the notice files.
    void noticeFetchRequested();
    void settingsRequested();
    void regionCaptureRequested();
    void windowCaptureRequested();
    /// The commands of the posting feature (their controls are hidden in this version).
    void pictureFromFileRequested();
    void postingWindowRequested();
    void followRequested();
    /// Any request to close the main window: the program's shutdown.
    void quitRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void loadButtonIcons();
    void connectCommands();
    void applyGeometry();
    void placeControl(QWidget* control, const TwipRect& rect, bool growToText = false) const;
    void updateMinimumSize();
    QSizeF outerSizeTwips() const;
    void onTextDropped(const QString& text);
    void onClipboardBoxChanged(int state);
    QString makerUrl(Endpoints::Name host, const QString& path) const;

    Endpoints m_endpoints;
    std::function<QString()> m_previewPath;
    QString m_noticeUrl;
    MainGeometry m_geometry = MainGeometry::designed();
    MainMenus m_menus;
    TextDropFilter* m_drops = nullptr;
    QPointer<AboutDialog> m_about;
    /// Pixel size of the full picture in `picPictThumb`; empty when there is none.
    QSize m_pictureSize;
    bool m_snapping = false;

    QWidget* m_client = nullptr;
    QLabel* m_Label1 = nullptr;
    QLineEdit* m_txtBeforeUrl = nullptr;
    QLineEdit* m_txtBeforeDecode = nullptr;
    QLabel* m_Label2 = nullptr;
    QLineEdit* m_txtAfterUrl = nullptr;
    QPlainTextEdit* m_txtAfterDecode = nullptr;
    PictureLabel* m_imgPictThumb = nullptr;
    QLabel* m_picPictThumb = nullptr;
    QPushButton* m_btnStartConv = nullptr;
    QCheckBox* m_chkClipboard = nullptr;
    QPushButton* m_btnTwitpic = nullptr;
    QPushButton* m_btnTwitpicWindow = nullptr;
    QPushButton* m_btnNotice = nullptr;
    QLabel* m_lblMsg = nullptr;
    QPushButton* m_btnTwitpicFromFile = nullptr;
    QPushButton* m_btnTwitter = nullptr;
};

} // namespace linvera
