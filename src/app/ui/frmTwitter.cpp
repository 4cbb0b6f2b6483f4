#include "app/ui/frmTwitter.h"

#include "app/ui/PictureFile.h"
#include "app/ui/PictureLabel.h"
#include "app/ui/ReplyTextFeed.h"
#include "app/ui/TextDrop.h"
#include "app/ui/Twips.h"
#include "app/ui/WidgetMessageBoxes.h"
#include "app/ui/frmMain.h"
#include "app/ui/frmSettings.h"
#include "microblog/MicroblogClient.h"
#include "microblog/MicroblogOutcome.h"
#include "microblog/MicroblogReplies.h"
#include "platform/AppInfo.h"
#include "settings/SettingsModel.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace linvera {

namespace {

using Icon = platform::MessageBoxes::Icon;

const QString kPosting = u"投稿中..."_s;
const QString kFailed = u"投稿に失敗しました。"_s;
const QString kDone = u"投稿を完了しました: "_s;
const QString kNoCredentials = u"各種設定フォーム内に、Twitterのﾛｸﾞｲﾝ名とﾊﾟｽﾜｰﾄﾞを設定してください。"_s;

template <typename W> W* named(QWidget* parent, const QString& name)
{
    auto* widget = new W(parent);
    widget->setObjectName(name);
    return widget;
}

QPushButton* button(QWidget* parent, const QString& name, const QString& caption, const QString& tip = {})
{
    auto* b = named<QPushButton>(parent, name);
    b->setText(caption);
    b->setToolTip(tip);
    b->setAutoDefault(false);
    return b;
}

QCheckBox* checkBox(QWidget* parent, const QString& name, const QString& caption, const QString& tip)
{
    auto* box = named<QCheckBox>(parent, name);
    box->setText(caption);
    box->setToolTip(tip);
    return box;
}

QLabel* label(QWidget* parent, const QString& name, const QString& caption = {})
{
    auto* l = named<QLabel>(parent, name);
    l->setText(caption);
    return l;
}

} // namespace

frmTwitter::frmTwitter(QWidget* parent)
    : QDialog(parent)
{
    setObjectName(u"frmTwitter"_s);
    setWindowTitle(u"Twitter ツール"_s);
    if (parent)
        setWindowIcon(parent->windowIcon());

    auto* framePosts = named<QGroupBox>(this, u"framePosts"_s);
    m_lblComment1 = label(framePosts, u"lblComment1"_s, u"つぶやき (自由に編集できます)"_s);
    m_txtStatus = named<QPlainTextEdit>(framePosts, u"txtStatus"_s);
    m_lblCount = label(framePosts, u"lblCount"_s);
    m_btnManualURLInsertBefore =
        button(framePosts, u"btnManualURLInsertBefore"_s, u"変換前URLを挿入"_s, u"変換前URLを挿入する"_s);
    m_btnManualURLInsertAfter =
        button(framePosts, u"btnManualURLInsertAfter"_s, u"変換後URLを挿入"_s, u"変換後URLを挿入する"_s);
    auto* insertRow = new QHBoxLayout;
    insertRow->addWidget(m_btnManualURLInsertBefore);
    insertRow->addWidget(m_btnManualURLInsertAfter);
    insertRow->addStretch(1);
    insertRow->addWidget(m_lblCount);
    auto* postsLayout = new QVBoxLayout(framePosts);
    postsLayout->addWidget(m_lblComment1);
    postsLayout->addWidget(m_txtStatus, 1);
    postsLayout->addLayout(insertRow);

    auto* frameButtons = named<QGroupBox>(this, u"frameButtons"_s);
    m_btnSend = button(frameButtons, u"btnSend"_s, u"投稿する"_s, u"Twitterに投稿する"_s);
    m_btnClear = button(frameButtons, u"btnClear"_s, u"ｸﾘｱ"_s, u"つぶやき欄と投稿画像をクリア"_s);
    m_btnShowMyPage =
        button(frameButtons, u"btnShowMyPage"_s, u"ﾎｰﾑ"_s, u"WebﾌﾞﾗｳｻﾞでTwitterﾎｰﾑを表示する"_s);
    m_OKButton = button(frameButtons, u"OKButton"_s, u"閉じる"_s);
    auto* buttonsLayout = new QHBoxLayout(frameButtons);
    buttonsLayout->addWidget(m_btnSend);
    buttonsLayout->addWidget(m_btnClear);
    buttonsLayout->addWidget(m_btnShowMyPage);
    buttonsLayout->addStretch(1);
    buttonsLayout->addWidget(m_OKButton);

    // Text mode until a picture is shown: the picture, its caption and the profile choices are hidden.
    m_lblCapture = label(this, u"lblCapture"_s, u"以下の画像が投稿されます"_s);
    m_lblCapture->hide();
    auto* captureArea = named<QWidget>(this, u"captureArea"_s);
    const TwipScale scale = TwipScale::of(this);
    const QSize box(scale.toPixelsX(kCaptureBoxSize.width), scale.toPixelsY(kCaptureBoxSize.height));
    captureArea->setFixedSize(box);
    m_imgCapture = named<PictureLabel>(captureArea, u"imgCapture"_s);
    m_imgCapture->setScaledContents(true);
    m_imgCapture->setToolTip(u"ｸﾘｯｸでﾎﾟｯﾌﾟｱｯﾌﾟ表示"_s);
    m_imgCapture->setGeometry(QRect(QPoint(0, 0), box));
    m_imgCapture->hide();
    m_picCapture = named<QLabel>(this, u"picCapture"_s);
    m_picCapture->hide();

    m_frameChecks = named<QGroupBox>(this, u"frameChecks"_s);
    m_chkProfile_icon_image = checkBox(m_frameChecks, u"chkProfile_icon_image"_s, u"ｱｲｺﾝ画像化"_s,
                                       u"Twitterのｱｲｺﾝ画像として投稿する"_s);
    m_chkProfile_back_image = checkBox(m_frameChecks, u"chkProfile_back_image"_s, u"背景画像化"_s,
                                       u"Twitterの背景画像として投稿する"_s);
    m_chkProfile_backtile_image = checkBox(m_frameChecks, u"chkProfile_backtile_image"_s, u"背景ﾀｲﾙ画像化"_s,
                                           u"Twitterの背景ﾀｲﾙ画像として投稿する"_s);
    auto* checksLayout = new QHBoxLayout(m_frameChecks);
    checksLayout->addWidget(m_chkProfile_icon_image);
    checksLayout->addWidget(m_chkProfile_back_image);
    checksLayout->addWidget(m_chkProfile_backtile_image);
    m_frameChecks->hide();

    m_lblMsg = label(this, u"lblMsg"_s);

    m_txtRequest = named<QPlainTextEdit>(this, u"txtRequest"_s);
    m_txtResponse = named<QPlainTextEdit>(this, u"txtResponse"_s);
    for (QPlainTextEdit* exchange : {m_txtRequest, m_txtResponse}) {
        exchange->setReadOnly(true);
        exchange->setMaximumHeight(scale.toPixelsY(900));
    }
    m_replyFeed = new ReplyTextFeed(m_txtResponse, this);
    auto* exchangeRow = new QHBoxLayout;
    exchangeRow->addWidget(m_txtRequest);
    exchangeRow->addWidget(m_txtResponse);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(framePosts, 1);
    layout->addWidget(frameButtons);
    layout->addWidget(m_lblCapture);
    layout->addWidget(captureArea, 0, Qt::AlignHCenter);
    layout->addWidget(m_frameChecks);
    layout->addWidget(m_lblMsg);
    layout->addLayout(exchangeRow);

    connect(m_OKButton, &QPushButton::clicked, this, &QWidget::hide);
    connect(m_btnSend, &QPushButton::clicked, this, &frmTwitter::btnSend_Click);
    connect(m_btnClear, &QPushButton::clicked, this, &frmTwitter::btnClear_Click);
    connect(m_txtStatus, &QPlainTextEdit::textChanged, this, &frmTwitter::updateCount);
    for (QCheckBox* profile : {m_chkProfile_icon_image, m_chkProfile_back_image, m_chkProfile_backtile_image})
        connect(profile, &QCheckBox::toggled, this, &frmTwitter::updateStatusColour);
    connect(m_btnManualURLInsertBefore, &QPushButton::clicked, this, [this] {
        if (m_main)
            insertUrl(m_main->txtBeforeUrl()->text());
    });
    connect(m_btnManualURLInsertAfter, &QPushButton::clicked, this, [this] {
        if (m_main)
            insertUrl(m_main->txtAfterUrl()->text());
    });
    connect(m_btnShowMyPage, &QPushButton::clicked, this, [this] {
        if (!login().isEmpty())
            Q_EMIT openInBrowserRequested(
                u"http://"_s + m_endpoints.value(Endpoints::MicroblogHost) + u'/' + login(), false);
    });
    connect(m_imgCapture, &PictureLabel::clicked, this,
            [this] { Q_EMIT pictureOpenRequested(m_postPicturePath); });
    m_drops = new TextDropFilter(this);
    // Dropped text goes in at the caret, not where the mouse is: the box's own drop handling is replaced.
    m_drops->watch(m_txtStatus);
    m_drops->watch(m_txtStatus->viewport());
    connect(m_drops, &TextDropFilter::textDropped, this,
            [this](const QString& text) { m_txtStatus->textCursor().insertText(text); });

    m_ownBoxes = std::make_unique<WidgetMessageBoxes>(this);
    m_boxes = m_ownBoxes.get();

    m_client = new MicroblogClient(this);
    // The client reports; the window shows, before it goes on.
    connect(m_client, &MicroblogClient::reported, this,
            [this](const MicroblogOutcome& outcome) { ShowOutcome(outcome, *m_boxes, AppTitle()); });
    connect(m_client, &MicroblogClient::requestSent, m_txtRequest, &QPlainTextEdit::setPlainText);
    connect(m_client, &MicroblogClient::responsePart, m_replyFeed, &ReplyTextFeed::add);
    // The whole reply is in the box before it is judged.
    connect(m_client, &MicroblogClient::replyComplete, m_replyFeed, &ReplyTextFeed::flush);
    connect(m_client, &MicroblogClient::replyComplete, this, &frmTwitter::onReplyComplete);
    connect(m_client, &MicroblogClient::replyFailed, this, [this] {
        m_replyFeed->flush();
        finishPost(kFailed);
    });
}

frmTwitter::~frmTwitter() = default;

void frmTwitter::setMessageBoxes(platform::MessageBoxes& boxes)
{
    m_boxes = &boxes;
}

void frmTwitter::setEndpoints(const Endpoints& endpoints)
{
    m_endpoints = endpoints;
    m_client->setEndpoints(endpoints);
}

void frmTwitter::setSettingsModel(const SettingsModel* model)
{
    m_model = model;
    // Read as each request starts, so a proxy changed meanwhile applies to the next one.
    m_client->setProxySource([this] { return m_model ? m_model->proxy() : ProxySetting{}; });
}

QString frmTwitter::login() const
{
    return m_model ? m_model->snapshot().twitterLogin : QString();
}

QString frmTwitter::password() const
{
    return m_model ? m_model->snapshot().twitterPass : QString();
}

bool frmTwitter::credentialsGiven()
{
    if (!login().trimmed().isEmpty() && !password().trimmed().isEmpty())
        return true;
    m_boxes->show(Icon::Exclamation, AppTitle(), kNoCredentials);
    if (m_settings)
        m_settings->show();
    return false;
}

bool frmTwitter::pictureMode() const
{
    return !m_imgCapture->isHidden();
}

void frmTwitter::updateCount()
{
    // UTF-16 units, as the service counted them; past the limit the count goes negative.
    const qsizetype limit = pictureMode() ? 130 : 140;
    m_lblCount->setText(QString::number(limit - m_txtStatus->toPlainText().size()));
}

void frmTwitter::updateStatusColour()
{
    // A profile update does not send the status text: its box looks inactive meanwhile.
    const bool profile = m_chkProfile_icon_image->isChecked() || m_chkProfile_back_image->isChecked() ||
                         m_chkProfile_backtile_image->isChecked();
    QPalette palette = m_txtStatus->palette();
    palette.setColor(QPalette::Base, profile ? QWidget::palette().color(QPalette::Window)
                                             : QWidget::palette().color(QPalette::Base));
    m_txtStatus->setPalette(palette);
}

void frmTwitter::insertUrl(const QString& url)
{
    if (url.isEmpty())
        return;
    QTextCursor cursor = m_txtStatus->textCursor();
    cursor.setPosition(qMin(141, m_txtStatus->document()->characterCount() - 1));
    cursor.insertText(u" "_s + url);
    m_txtStatus->setTextCursor(cursor);
}

void frmTwitter::btnSend_Click()
{
    // One post at a time: a second press would clear the reply box and start a request whose
    // outcome could be taken for the first one's.
    if (m_posting)
        return;
    if (!credentialsGiven())
        return;
    const QString user = login();
    const QString pass = password();
    m_replyFeed->clear();
    m_lblMsg->setText(kPosting);
    const QString status = m_txtStatus->toPlainText();
    bool sent = false;
    if (m_chkProfile_back_image->isChecked()) {
        sent = m_client->SendProfileImage(ProfileImageKind::Back, user, pass, m_postPicturePath);
    } else if (m_chkProfile_backtile_image->isChecked()) {
        sent = m_client->SendProfileImage(ProfileImageKind::BackTile, user, pass, m_postPicturePath);
    } else if (m_chkProfile_icon_image->isChecked()) {
        sent = m_client->SendProfileImage(ProfileImageKind::Icon, user, pass, m_postPicturePath);
    } else if (pictureMode()) {
        sent = m_client->SendPictureUpload(status, user, pass, m_postPicturePath);
    } else {
        m_posting = true;
        m_client->PostStatusUpdate(status, user, pass, [this](const MicroblogOutcome& outcome) {
            // No answer at all (host not found, time-out) is no post either.
            m_statusPostOK = outcome.answered();
            if (m_statusPostOK) {
                btnClear_Click();
                finishPost(u"投稿が完了しました。"_s);
            } else {
                finishPost(kFailed);
            }
        });
        return;
    }
    // A started upload keeps "posting" until its reply is judged.
    m_posting = sent;
    m_lblMsg->setText(sent ? kPosting : kFailed);
}

void frmTwitter::finishPost(const QString& message)
{
    m_posting = false;
    m_lblMsg->setText(message);
}

void frmTwitter::btnClear_Click()
{
    m_imgCapture->hide();
    m_imgCapture->clear();
    m_txtStatus->clear();
    m_postPicturePath.clear();
    m_lblMsg->clear();
    m_lblCapture->hide();
    m_frameChecks->hide();
    m_chkProfile_icon_image->setChecked(false);
    m_chkProfile_back_image->setChecked(false);
    m_chkProfile_backtile_image->setChecked(false);
}

void frmTwitter::onReplyComplete(const QString& reply)
{
    const SocketVerdict verdict = JudgeSocketReply(reply);
    switch (verdict.kind) {
    case SocketVerdict::PictureUrl: {
        const QString status = verdict.value + u" - "_s + m_txtStatus->toPlainText();
        m_txtStatus->setPlainText(status);
        // The outcome is reported by the status post itself; the window clears once it has ended.
        m_client->PostStatusUpdate(status, login(), password(),
                                   [this, url = verdict.value](const MicroblogOutcome& outcome) {
                                       m_statusPostOK = outcome.answered();
                                       btnClear_Click();
                                       finishPost(kDone + url);
                                   });
        break;
    }
    case SocketVerdict::ScreenName:
        btnClear_Click();
        finishPost(kDone + verdict.value);
        break;
    case SocketVerdict::ServiceError:
        m_boxes->show(Icon::Exclamation, AppTitle(), u"エラーが発生しました:"_s + verdict.value);
        finishPost(kFailed);
        break;
    case SocketVerdict::Unknown:
        m_boxes->show(Icon::Exclamation, AppTitle(), u"原因不明のエラーが発生しました。"_s);
        finishPost(kFailed);
        break;
    }
}

void frmTwitter::CaptureImageResize()
{
    show();
    m_imgCapture->show();
    m_frameChecks->show();
    const LoadedPicture picture = LoadPictureFromUrl(m_displayPicturePath);
    const QPixmap pixmap = QPixmap::fromImage(picture.image);
    m_picCapture->setPixmap(pixmap);
    m_imgCapture->setPixmap(pixmap);
    m_lblCapture->show();
    const int w = picture.image.width();
    const int h = picture.image.height();
    if (w > 0 && h > 0) {
        // Fit into the designed box, keeping the proportions: a wide picture fills the width,
        // a tall one the height.
        const double boxW = kCaptureBoxSize.width;
        const double boxH = kCaptureBoxSize.height;
        const TwipSize size =
            boxH / boxW >= double(h) / w ? TwipSize{boxW, boxW * h / w} : TwipSize{boxH * w / h, boxH};
        const TwipScale scale = TwipScale::of(this);
        m_imgCapture->resize(scale.toPixelsX(size.width), scale.toPixelsY(size.height));
    }
    m_lblMsg->setText(u"ｷｬﾌﾟﾁｬ画像をﾃﾞｽｸﾄｯﾌﾟに保存しました。"_s);
}

void frmTwitter::Twitter_Create_Friendship(const QString& account, const QString& twlogin,
                                           const QString& twpass, std::function<void()> then)
{
    m_client->Twitter_Create_Friendship(account, twlogin, twpass,
                                        [then = std::move(then)](const MicroblogOutcome&) {
                                            if (then)
                                                then();
                                        });
}

void frmTwitter::btnTwitpicFromFile_Click()
{
    const QString file = m_chooseFile
                             ? m_chooseFile()
                             : QFileDialog::getOpenFileName(parentWidget(), u"ファイルを開く"_s, QString(),
                                                            u"画像ファイル (*.jpg *.png *.gif)"_s, nullptr,
                                                            QFileDialog::DontUseNativeDialog);
    if (file.isEmpty())
        return;
    m_postPicturePath = file;
    m_displayPicturePath = file;
    CaptureImageResize();
}

void frmTwitter::btnTwitter_Click(int lConvMode)
{
    show();
    m_imgCapture->hide();
    m_lblCapture->hide();
    m_frameChecks->hide();
    m_lblMsg->clear();
    if (!m_main || !m_txtStatus->toPlainText().isEmpty())
        return;
    const QString after = m_main->txtAfterUrl()->text();
    const QString before = m_main->txtBeforeUrl()->text();
    if (lConvMode == 0 && !after.isEmpty())
        m_txtStatus->setPlainText(after);
    else if (lConvMode == 1 && !before.isEmpty())
        m_txtStatus->setPlainText(before);
}

void frmTwitter::mnuFollow_Click(const QString& makerAccount)
{
    if (login().trimmed().isEmpty() || password().trimmed().isEmpty()) {
        m_boxes->show(Icon::Exclamation, AppTitle(), kNoCredentials);
        if (m_settings)
            m_settings->show();
    }
    if (makerAccount.isEmpty() || login().trimmed().isEmpty() || password().trimmed().isEmpty())
        return;
    // The account's page opens once the follow request has ended, as after the designed wait.
    const QString page = u"http://"_s + m_endpoints.value(Endpoints::MicroblogHost) + u'/' + makerAccount;
    Twitter_Create_Friendship(makerAccount, login(), password(),
                              [this, page] { Q_EMIT openInBrowserRequested(page, true); });
}

TwipSize frmTwitter::imgCaptureSizeTwips() const
{
    const TwipScale scale = TwipScale::of(this);
    return {scale.toTwipsX(m_imgCapture->width()), scale.toTwipsY(m_imgCapture->height())};
}

void frmTwitter::closeEvent(QCloseEvent* event)
{
    // The window keeps its status text and picture between uses: a close only hides it.
    event->ignore();
    hide();
}

} // namespace linvera
