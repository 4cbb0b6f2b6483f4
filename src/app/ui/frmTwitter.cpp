#include "frmTwitter.h"

#include "PictureLabel.h"
#include "Twips.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace linvera {

namespace {

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
