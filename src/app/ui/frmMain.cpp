#include "app/ui/frmMain.h"

#include "app/ui/AboutDialog.h"
#include "app/ui/PictureLabel.h"
#include "app/ui/TextDrop.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QTextCursor>
#include <QTimer>

#include <algorithm>
#include <cmath>

using namespace Qt::StringLiterals;

namespace linvera {

namespace {

QString crLfToLines(const QString& text)
{
    QString lines = text;
    lines.replace(u"\r\n"_s, u"\n"_s);
    lines.replace(u'\r', u'\n');
    return lines;
}

template <typename W> W* named(QWidget* parent, const QString& name)
{
    auto* widget = new W(parent);
    widget->setObjectName(name);
    return widget;
}

QPushButton* pictureButton(QWidget* parent, const QString& name, const QString& tip)
{
    auto* button = named<QPushButton>(parent, name);
    button->setToolTip(tip);
    return button;
}

// Side of the client area (in pixels) that gives at least `outer` twips with the frame allowance.
int clientPixels(double outer, double allowance, double twipsPerPixel)
{
    int pixels = static_cast<int>(std::lround((outer - allowance) / twipsPerPixel));
    if (pixels * twipsPerPixel + allowance < kMainMinimumOuterSide)
        pixels = static_cast<int>(std::ceil((kMainMinimumOuterSide - allowance) / twipsPerPixel));
    return std::max(pixels, 0);
}

} // namespace

frmMain::frmMain(QWidget* parent)
    : QMainWindow(parent)
{
    setObjectName(u"frmMain"_s);
    m_client = named<QWidget>(this, u"clientArea"_s);
    setCentralWidget(m_client);
    buildControls();
    m_menus = MainMenus::build(menuBar());
    connectCommands();

    // The window and the four boxes share one drop handling; whatever the boxes would do is replaced.
    m_drops = new TextDropFilter(this);
    m_drops->watch(this);
    m_drops->watch(m_txtBeforeUrl);
    m_drops->watch(m_txtBeforeDecode);
    m_drops->watch(m_txtAfterUrl);
    m_drops->watch(m_txtAfterDecode);
    m_drops->watch(m_txtAfterDecode->viewport());
    connect(m_drops, &TextDropFilter::textDropped, this, &frmMain::onTextDropped);

    updateMinimumSize();
    setOuterSizeTwips(kMainClientSize.width + kMainFrameAllowance.width,
                      kMainClientSize.height + kMainFrameAllowance.height);
    applyGeometry();
    m_client->installEventFilter(this);
}

frmMain::~frmMain() = default;

void frmMain::buildControls()
{
    const QColor menuColour = QApplication::palette("QMenuBar").color(QPalette::Window);

    m_Label1 = named<QLabel>(m_client, u"Label1"_s);
    m_Label1->setText(u"変換前"_s);

    m_txtBeforeUrl = named<QLineEdit>(m_client, u"txtBeforeUrl"_s);
    m_txtBeforeUrl->setToolTip(u"URLのﾄﾞﾗｯｸﾞ＆ﾄﾞﾛｯﾌﾟ、IE右ｸﾘｯｸﾒﾆｭｰ、IEﾂｰﾙﾊﾞｰｱｲｺﾝ等で指定可能です"_s);

    m_txtBeforeDecode = named<QLineEdit>(m_client, u"txtBeforeDecode"_s);
    QPalette beforePalette = m_txtBeforeDecode->palette();
    beforePalette.setColor(QPalette::Base, menuColour);
    m_txtBeforeDecode->setPalette(beforePalette);

    m_Label2 = named<QLabel>(m_client, u"Label2"_s);
    m_Label2->setText(u"変換後"_s);

    m_txtAfterUrl = named<QLineEdit>(m_client, u"txtAfterUrl"_s);

    m_txtAfterDecode = named<QPlainTextEdit>(m_client, u"txtAfterDecode"_s);
    m_txtAfterDecode->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QPalette afterPalette = m_txtAfterDecode->palette();
    afterPalette.setColor(QPalette::Base, menuColour);
    m_txtAfterDecode->setPalette(afterPalette);

    // Drawn over the result box; it has nothing to show until a preview picture arrives.
    m_imgPictThumb = named<PictureLabel>(m_client, u"imgPictThumb"_s);
    m_imgPictThumb->setScaledContents(true);
    m_imgPictThumb->setToolTip(u"ｸﾘｯｸでﾎﾟｯﾌﾟｱｯﾌﾟ表示"_s);
    m_imgPictThumb->hide();

    m_picPictThumb = named<QLabel>(m_client, u"picPictThumb"_s);
    m_picPictThumb->hide();

    m_btnStartConv = named<QPushButton>(m_client, u"btnStartConv"_s);
    m_btnStartConv->setText(u"変換"_s);
    m_btnStartConv->setToolTip(u"URL変換を開始（URL短縮化 or URLプレビューは自動判別されます）"_s);

    m_chkClipboard = named<QCheckBox>(m_client, u"chkClipboard"_s);
    m_chkClipboard->setText(u"ｸﾘｯﾌﾟﾎﾞｰﾄﾞ"_s);
    m_chkClipboard->setToolTip(u"変換後URLをｸﾘｯﾌﾟﾎﾞｰﾄﾞに自動保存"_s);
    m_chkClipboard->setChecked(true);
    // The layout keeps the box a fixed distance from the right edge; a wider desktop font would push
    // the end of its caption out of the window, so the caption's font shrinks until it fits there.
    const int room = TwipScale::of(this).toPixelsX(kMainClientSize.width - m_geometry.chkClipboard.left) - 2;
    QFont captionFont = m_chkClipboard->font();
    while (m_chkClipboard->sizeHint().width() > room && captionFont.pointSizeF() > 6.5) {
        captionFont.setPointSizeF(captionFont.pointSizeF() - 0.5);
        m_chkClipboard->setFont(captionFont);
    }

    m_btnTwitpic = pictureButton(m_client, u"btnTwitpic"_s, u"画面ｷｬﾌﾟﾁｬ（ﾗﾊﾞｰﾊﾞﾝﾄﾞで範囲選択）"_s);
    m_btnTwitpicWindow = pictureButton(m_client, u"btnTwitpicWindow"_s, u"画面ｷｬﾌﾟﾁｬ（ｳｨﾝﾄﾞｳを選択）"_s);

    m_btnNotice = named<QPushButton>(m_client, u"btnNotice"_s);

    m_lblMsg = named<QLabel>(m_client, u"lblMsg"_s);

    // The posting feature is not part of this version: its commands exist but are never shown.
    m_btnTwitpicFromFile =
        pictureButton(m_client, u"btnTwitpicFromFile"_s, u"画像ﾌｧｲﾙを選択してTwitter に投稿する"_s);
    m_btnTwitpicFromFile->hide();
    m_btnTwitter = pictureButton(m_client, u"btnTwitter"_s, u"Twitter に投稿する"_s);
    m_btnTwitter->hide();

    // The icon theme is read from disk at its first use: done from the event loop, where start-up
    // waits anyway, before the window's first paint.
    QTimer::singleShot(0, this, &frmMain::loadButtonIcons);
}

void frmMain::loadButtonIcons()
{
    const QStyle* st = style();
    m_btnTwitpic->setIcon(QIcon::fromTheme(u"camera-photo"_s, st->standardIcon(QStyle::SP_DesktopIcon)));
    m_btnTwitpicWindow->setIcon(
        QIcon::fromTheme(u"window-new"_s, st->standardIcon(QStyle::SP_TitleBarNormalButton)));
    m_btnTwitpicFromFile->setIcon(
        QIcon::fromTheme(u"document-open"_s, st->standardIcon(QStyle::SP_DialogOpenButton)));
    m_btnTwitter->setIcon(QIcon::fromTheme(u"mail-send"_s, st->standardIcon(QStyle::SP_ArrowRight)));
}

void frmMain::connectCommands()
{
    connect(m_btnStartConv, &QPushButton::clicked, this, &frmMain::conversionRequested);
    connect(m_chkClipboard, &QCheckBox::stateChanged, this, &frmMain::onClipboardBoxChanged);
    connect(m_btnNotice, &QPushButton::clicked, this, [this] { Q_EMIT noticeClicked(m_noticeUrl); });
    connect(m_imgPictThumb, &PictureLabel::clicked, this,
            [this] { Q_EMIT thumbnailClicked(m_previewPath ? m_previewPath() : QString()); });
    connect(m_btnTwitpic, &QPushButton::clicked, this, &frmMain::regionCaptureRequested);
    connect(m_btnTwitpicWindow, &QPushButton::clicked, this, &frmMain::windowCaptureRequested);
    connect(m_btnTwitpicFromFile, &QPushButton::clicked, this, &frmMain::pictureFromFileRequested);
    connect(m_btnTwitter, &QPushButton::clicked, this, &frmMain::postingWindowRequested);

    const MainMenus& m = m_menus;
    connect(m.mnuSettings, &QAction::triggered, this, &frmMain::settingsRequested);
    connect(m.mnuFirefox, &QAction::triggered, this, [this] {
        Q_EMIT openInBrowserRequested(makerUrl(Endpoints::MakerSiteHost, u"/linvera/firefox/"_s), false);
    });
    connect(m.mnuQuit, &QAction::triggered, this, &QWidget::close);
    connect(m.mnuRanking, &QAction::triggered, this, [this] {
        Q_EMIT openInBrowserRequested(makerUrl(Endpoints::MakerSiteHost, u"/youtube/ranking.php"_s), false);
    });
    connect(m.mnuLive, &QAction::triggered, this, [this] {
        Q_EMIT openInBrowserRequested(makerUrl(Endpoints::MakerLiveHost, u"/youtube/preview.php"_s), false);
    });
    connect(m.mnuUpdate, &QAction::triggered, this, [this] {
        Q_EMIT openInBrowserRequested(makerUrl(Endpoints::MakerSiteHost, u"/service/servlet/update"_s), true);
        Q_EMIT noticeFetchRequested();
    });
    connect(m.mnuSupport, &QAction::triggered, this, [this] {
        Q_EMIT openInBrowserRequested(makerUrl(Endpoints::MakerSiteHost, u"/service/servlet/support"_s),
                                      true);
    });
    connect(m.mnuFollow, &QAction::triggered, this, &frmMain::followRequested);
    connect(m.mnuAbout, &QAction::triggered, this, &frmMain::showAbout);
}

QString frmMain::makerUrl(Endpoints::Name host, const QString& path) const
{
    return u"http://"_s + m_endpoints.value(host) + path;
}

void frmMain::setNotice(const QString& message, const QString& url)
{
    m_btnNotice->setText(message);
    m_btnNotice->setToolTip(url);
    m_noticeUrl = url;
}

void frmMain::showAbout()
{
    if (!m_about) {
        m_about = new AboutDialog(this);
        m_about->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_about->show();
    m_about->raise();
    m_about->activateWindow();
}

// ---- layout

QSizeF frmMain::outerSizeTwips() const
{
    const TwipScale scale = TwipScale::of(this);
    return {scale.toTwipsX(m_client->width()) + kMainFrameAllowance.width,
            scale.toTwipsY(m_client->height()) + kMainFrameAllowance.height};
}

QRectF frmMain::outerGeometryTwips() const
{
    const TwipScale scale = TwipScale::of(this);
    return {QPointF(scale.toTwipsX(x()), scale.toTwipsY(y())), outerSizeTwips()};
}

void frmMain::setOuterSizeTwips(double width, double height)
{
    const TwipScale scale = TwipScale::of(this);
    const int clientWidth = clientPixels(width, kMainFrameAllowance.width, scale.x);
    const int clientHeight = clientPixels(height, kMainFrameAllowance.height, scale.y);
    // Before the window was laid out the client area has no size yet; then the menu bar's hint counts.
    int extraWidth = 0;
    int extraHeight = menuBar()->sizeHint().height();
    if (isVisible()) {
        extraWidth = this->width() - m_client->width();
        extraHeight = this->height() - m_client->height();
    }
    resize(clientWidth + extraWidth, clientHeight + extraHeight);
}

void frmMain::setOuterPositionTwips(double left, double top)
{
    const TwipScale scale = TwipScale::of(this);
    move(scale.toPixelsX(left), scale.toPixelsY(top));
}

void frmMain::updateMinimumSize()
{
    const TwipScale scale = TwipScale::of(this);
    m_client->setMinimumSize(
        static_cast<int>(std::ceil((kMainMinimumOuterSide - kMainFrameAllowance.width) / scale.x)),
        static_cast<int>(std::ceil((kMainMinimumOuterSide - kMainFrameAllowance.height) / scale.y)));
}

void frmMain::Resizing()
{
    const TwipScale scale = TwipScale::of(this);
    const QSizeF outer = outerSizeTwips();
    std::optional<TwipSize> shownPicture;
    if (!m_imgPictThumb->isHidden())
        shownPicture =
            TwipSize{scale.toTwipsX(m_pictureSize.width()), scale.toTwipsY(m_pictureSize.height())};
    const MainLayoutPass pass = ResizeLayout(m_geometry, outer.width(), outer.height(), shownPicture);

    if ((pass.width != outer.width() || pass.height != outer.height()) && !m_snapping) {
        m_snapping = true;
        setOuterSizeTwips(pass.width, pass.height);
        m_snapping = false;
        const QSizeF now = outerSizeTwips();
        // The resize laid the window out already; a window manager that answers later raises another pass.
        if (now.width() >= kMainMinimumOuterSide && now.height() >= kMainMinimumOuterSide)
            return;
    }
    m_geometry = pass.geometry;
    applyGeometry();
}

void frmMain::FitThumbnail()
{
    const TwipScale scale = TwipScale::of(this);
    const TwipRect& box = m_geometry.txtAfterDecode;
    const auto fit = linvera::FitThumbnail(scale.toTwipsX(m_pictureSize.width()),
                                           scale.toTwipsY(m_pictureSize.height()), box.width, box.height);
    if (!fit)
        return;
    m_geometry.imgPictThumb = {box.left, box.top, fit->width, fit->height};
    placeControl(m_imgPictThumb, m_geometry.imgPictThumb);
}

void frmMain::placeControl(QWidget* control, const TwipRect& rect, bool growToText) const
{
    QRect pixels = TwipScale::of(this).toPixels(rect);
    if (growToText) {
        // Captions keep their designed place but are never cut off by a font larger than the designer's.
        const QSize hint = control->sizeHint();
        pixels.setWidth(std::max(pixels.width(), hint.width()));
        pixels.setHeight(std::max(pixels.height(), hint.height()));
    }
    control->setGeometry(pixels);
}

void frmMain::applyGeometry()
{
    const MainGeometry& g = m_geometry;
    placeControl(m_Label1, g.Label1, true);
    placeControl(m_txtBeforeUrl, g.txtBeforeUrl);
    placeControl(m_txtBeforeDecode, g.txtBeforeDecode);
    placeControl(m_Label2, g.Label2, true);
    placeControl(m_txtAfterUrl, g.txtAfterUrl);
    placeControl(m_txtAfterDecode, g.txtAfterDecode);
    placeControl(m_imgPictThumb, g.imgPictThumb);
    placeControl(m_btnStartConv, g.btnStartConv);
    placeControl(m_chkClipboard, g.chkClipboard, true);
    placeControl(m_btnTwitpic, g.btnTwitpic);
    placeControl(m_btnTwitpicWindow, g.btnTwitpicWindow);
    placeControl(m_btnNotice, g.btnNotice);
    placeControl(m_lblMsg, g.lblMsg, true);
    placeControl(m_btnTwitpicFromFile, g.btnTwitpicFromFile);
    placeControl(m_btnTwitter, g.btnTwitter);
    m_imgPictThumb->raise();
}

bool frmMain::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_client && event->type() == QEvent::Resize)
        Resizing();
    return QMainWindow::eventFilter(watched, event);
}

void frmMain::closeEvent(QCloseEvent* event)
{
    Q_EMIT quitRequested();
    event->accept();
}

// ---- commands

void frmMain::onTextDropped(const QString& text)
{
    m_txtBeforeUrl->setText(text);
    Q_EMIT conversionRequested();
}

void frmMain::onClipboardBoxChanged(int state)
{
    if (state == Qt::Checked && !afterUrl().isEmpty())
        copyToClipboard(afterUrl());
}

// ---- ConversionView

QString frmMain::beforeUrl() const
{
    return m_txtBeforeUrl->text();
}

void frmMain::setBeforeUrl(const QString& text)
{
    m_txtBeforeUrl->setText(text);
}

QString frmMain::afterUrl() const
{
    return m_txtAfterUrl->text();
}

void frmMain::setAfterUrl(const QString& text)
{
    m_txtAfterUrl->setText(text);
}

void frmMain::setBeforeInfo(const QString& text)
{
    m_txtBeforeDecode->setText(text);
}

void frmMain::setBeforeInfoVisible(bool visible)
{
    m_txtBeforeDecode->setVisible(visible);
}

void frmMain::setAfterInfo(const QString& text)
{
    // Replacing the text puts the caret at its start, where the next insert goes.
    m_txtAfterDecode->setPlainText(crLfToLines(text));
}

void frmMain::insertAfterInfo(const QString& text)
{
    QTextCursor caret = m_txtAfterDecode->textCursor();
    caret.insertText(crLfToLines(text));
    m_txtAfterDecode->setTextCursor(caret);
}

void frmMain::appendAfterInfoLine(const QString& line)
{
    QTextCursor end(m_txtAfterDecode->document());
    end.movePosition(QTextCursor::End);
    if (!m_txtAfterDecode->document()->isEmpty())
        end.insertText(u"\n"_s);
    end.insertText(crLfToLines(line));
}

void frmMain::setAfterInfoVisible(bool visible)
{
    m_txtAfterDecode->setVisible(visible);
}

void frmMain::setMessage(const QString& text)
{
    m_lblMsg->setText(text);
    placeControl(m_lblMsg, m_geometry.lblMsg, true);
}

void frmMain::setCaption(const QString& text)
{
    setWindowTitle(text);
}

bool frmMain::setThumbnail(const QString& picturePath)
{
    const QImage picture = picturePath.isEmpty() ? QImage() : QImage(picturePath);
    setThumbnail(picture);
    return picturePath.isEmpty() || !picture.isNull();
}

void frmMain::setThumbnail(const QImage& picture)
{
    if (picture.isNull()) {
        m_picPictThumb->clear();
        m_imgPictThumb->clear();
        m_pictureSize = QSize();
        return;
    }
    const QPixmap pixmap = QPixmap::fromImage(picture);
    m_picPictThumb->setPixmap(pixmap);
    m_picPictThumb->resize(picture.size());
    m_imgPictThumb->setPixmap(pixmap);
    m_pictureSize = picture.size();
    FitThumbnail();
}

void frmMain::setThumbnailVisible(bool visible)
{
    m_imgPictThumb->setVisible(visible);
    if (visible)
        m_imgPictThumb->raise();
}

bool frmMain::clipboardWanted() const
{
    // A grayed box is not a checked one.
    return m_chkClipboard->checkState() == Qt::Checked;
}

void frmMain::copyToClipboard(const QString& text)
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(text);
}

} // namespace linvera
