#include "app/ui/frmSettings.h"

#include "app/ui/ControlValues.h"
#include "platform/AppInfo.h"
#include "platform/MessageBoxes.h"
#include "settings/SettingsModel.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
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

QGroupBox* frame(QWidget* parent, const QString& name, const QString& caption)
{
    auto* box = named<QGroupBox>(parent, name);
    box->setTitle(caption);
    return box;
}

} // namespace

QString ShortUrlTypeItem(const QString& domain)
{
    return u"http://"_s + domain + u"/****"_s;
}

frmSettings::frmSettings(platform::MessageBoxes& boxes, QWidget* parent)
    : QDialog(parent)
    , m_boxes(boxes)
{
    setObjectName(u"frmSettings"_s);
    setWindowTitle(u"各種設定"_s);
    if (parent)
        setWindowIcon(parent->windowIcon());

    QGroupBox* imageFrame = frame(this, u"frameImageType"_s, u"画面キャプチャの出力形式"_s);
    m_lstImageType = named<QComboBox>(imageFrame, u"lstImageType"_s);
    m_lstImageType->addItems({u"PNG"_s, u"JPEG"_s});
    (new QVBoxLayout(imageFrame))->addWidget(m_lstImageType);

    QGroupBox* shortFrame = frame(this, u"frameShortURLType"_s, u"短縮URLの形式"_s);
    m_lstShortURLType = named<QComboBox>(shortFrame, u"lstShortURLType"_s);
    m_lstShortURLType->addItems({QString(), QString(), u"is.gd（登録不要）"_s, u"v.gd（登録不要）"_s,
                                 u"YOURLS（自分のサーバー）"_s, u"Shlink（自分のサーバー）"_s});
    m_lstShortURLType->setCurrentIndex(ShortUrlIsgd); // what a store without the setting means
    // The self-hosted services need their address and secret; the others need nothing.
    m_serviceFields = named<QWidget>(shortFrame, u"frameService"_s);
    auto* urlLabel = named<QLabel>(m_serviceFields, u"lblServiceUrl"_s);
    urlLabel->setText(u"サーバーのURL"_s);
    m_txtServiceUrl = named<QLineEdit>(m_serviceFields, u"txtServiceUrl"_s);
    m_txtServiceUrl->setPlaceholderText(u"https://"_s);
    m_lblServiceKey = named<QLabel>(m_serviceFields, u"lblServiceKey"_s);
    m_txtServiceKey = named<QLineEdit>(m_serviceFields, u"txtServiceKey"_s);
    m_txtServiceKey->setEchoMode(QLineEdit::Password);
    auto* serviceLayout = new QGridLayout(m_serviceFields);
    serviceLayout->setContentsMargins(0, 0, 0, 0);
    serviceLayout->addWidget(urlLabel, 0, 0);
    serviceLayout->addWidget(m_txtServiceUrl, 0, 1);
    serviceLayout->addWidget(m_lblServiceKey, 1, 0);
    serviceLayout->addWidget(m_txtServiceKey, 1, 1);
    auto* shortLayout = new QVBoxLayout(shortFrame);
    shortLayout->addWidget(m_lstShortURLType);
    shortLayout->addWidget(m_serviceFields);
    m_serviceFields->setVisible(false);
    setEndpoints(Endpoints());

    QGroupBox* logFrame = frame(this, u"frameLog"_s, u"URL変換ﾛｸﾞの設定"_s);
    m_btnDeleteLog = named<QPushButton>(logFrame, u"btnDeleteLog"_s);
    m_btnDeleteLog->setText(u"ログ削除"_s);
    m_btnShowLog = named<QPushButton>(logFrame, u"btnShowLog"_s);
    m_btnShowLog->setText(u"ログ表示"_s);
    auto* logLayout = new QHBoxLayout(logFrame);
    logLayout->addWidget(m_btnDeleteLog);
    logLayout->addWidget(m_btnShowLog);

    QGroupBox* loginFrame = frame(this, u"frameLogin"_s, u"Twitter ログイン設定"_s);
    m_txtLogin = named<QLineEdit>(loginFrame, u"txtLogin"_s);
    m_txtPass = named<QLineEdit>(loginFrame, u"txtPass"_s);
    m_txtPass->setEchoMode(QLineEdit::Password);
    m_txtPass->setStyleSheet(u"lineedit-password-character: 42;"_s); // masked with "*"
    m_chkLoginSave = named<QCheckBox>(loginFrame, u"chkLoginSave"_s);
    m_chkLoginSave->setText(u"ﾚｼﾞｽﾄﾘに保存"_s);
    m_chkPassSave = named<QCheckBox>(loginFrame, u"chkPassSave"_s);
    m_chkPassSave->setText(u"ﾚｼﾞｽﾄﾘに保存"_s);
    auto* loginLabel = named<QLabel>(loginFrame, u"lblLogin"_s);
    loginLabel->setText(u"ログイン名"_s);
    auto* passLabel = named<QLabel>(loginFrame, u"lblPass"_s);
    passLabel->setText(u"パスワード"_s);
    auto* loginLayout = new QGridLayout(loginFrame);
    loginLayout->addWidget(loginLabel, 0, 0);
    loginLayout->addWidget(m_txtLogin, 0, 1);
    loginLayout->addWidget(m_chkLoginSave, 0, 2);
    loginLayout->addWidget(passLabel, 1, 0);
    loginLayout->addWidget(m_txtPass, 1, 1);
    loginLayout->addWidget(m_chkPassSave, 1, 2);

    QGroupBox* pluginFrame = frame(this, u"framePlugin"_s, u"ｲﾝﾀｰﾈｯﾄｴｸｽﾌﾟﾛｰﾗｰ用ﾌﾟﾗｸﾞｲﾝ設定"_s);
    m_chkToolBarIcon = named<QCheckBox>(pluginFrame, u"chkToolBarIcon"_s);
    m_chkToolBarIcon->setText(u"ｲﾝﾀｰﾈｯﾄｴｸｽﾌﾟﾛｰﾗｰにﾂｰﾙﾊﾞｰｱｲｺﾝを登録"_s);
    m_chkMenuExt = named<QCheckBox>(pluginFrame, u"chkMenuExt"_s);
    m_chkMenuExt->setText(u"ｲﾝﾀｰﾈｯﾄｴｸｽﾌﾟﾛｰﾗｰの右ｸﾘｯｸﾒﾆｭｰに登録"_s);
    auto* restartNote = named<QLabel>(pluginFrame, u"lblRestart"_s);
    restartNote->setText(u"※設定変更時はｲﾝﾀｰﾈｯﾄｴｸｽﾌﾟﾛｰﾗｰを再起動してください"_s);
    auto* pluginLayout = new QVBoxLayout(pluginFrame);
    pluginLayout->addWidget(m_chkToolBarIcon);
    pluginLayout->addWidget(m_chkMenuExt);
    pluginLayout->addWidget(restartNote);

    m_chkFollowRedirects = named<QCheckBox>(this, u"chkFollowRedirects"_s);
    m_chkFollowRedirects->setText(u"リダイレクトを最後までたどる"_s);
    m_chkStripTrackers = named<QCheckBox>(this, u"chkStripTrackers"_s);
    m_chkStripTrackers->setText(u"追跡用パラメータを取り除く"_s);
    m_chkStripTrackers->setChecked(true);

    m_OKButton = named<QPushButton>(this, u"OKButton"_s);
    m_OKButton->setText(u"閉じる"_s);
    m_OKButton->setAutoDefault(false);

    auto* upper = new QHBoxLayout;
    upper->addWidget(imageFrame);
    upper->addWidget(shortFrame);
    upper->addWidget(logFrame);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(upper);
    layout->addWidget(loginFrame);
    layout->addWidget(pluginFrame);
    layout->addWidget(m_chkFollowRedirects);
    layout->addWidget(m_chkStripTrackers);
    layout->addWidget(m_OKButton, 0, Qt::AlignRight);

    connect(m_OKButton, &QPushButton::clicked, this, &QWidget::hide);
    connect(m_chkMenuExt, &QCheckBox::stateChanged, this,
            [this](int state) { Q_EMIT menuExtToggled(state == Qt::Checked); });
    connect(m_chkToolBarIcon, &QCheckBox::stateChanged, this,
            [this](int state) { Q_EMIT toolbarIconToggled(state == Qt::Checked); });
    connect(m_btnShowLog, &QPushButton::clicked, this, [this] { Q_EMIT showLogRequested(m_logFilePath); });
    connect(m_btnDeleteLog, &QPushButton::clicked, this, &frmSettings::deleteLog);
    connect(m_lstShortURLType, &QComboBox::currentIndexChanged, this, &frmSettings::showServiceFields);

    // Each control hands its value to the model as it changes.
    using enum SettingKey;
    const auto list = [this](QComboBox* box, SettingKey key) {
        connect(box, &QComboBox::currentIndexChanged, this, [this, key](int index) {
            if (m_model)
                m_model->setNumber(key, index);
        });
    };
    const auto check = [this](QCheckBox* box, SettingKey key) {
        connect(box, &QCheckBox::stateChanged, this, [this, box, key] {
            if (m_model)
                m_model->setNumber(key, CheckValue(*box));
        });
    };
    const auto text = [this](QLineEdit* field, SettingKey key) {
        connect(field, &QLineEdit::textChanged, this, [this, key](const QString& value) {
            if (m_model)
                m_model->setText(key, value);
        });
    };
    list(m_lstImageType, ImageType);
    list(m_lstShortURLType, ShortURLType);
    check(m_chkFollowRedirects, FollowRedirects);
    check(m_chkStripTrackers, StripTrackers);
    check(m_chkMenuExt, MenuExt);
    check(m_chkToolBarIcon, ToolbarIcon);
    check(m_chkLoginSave, TwitterChkLogin);
    check(m_chkPassSave, TwitterChkPass);
    text(m_txtLogin, TwitterLogin);
    text(m_txtPass, TwitterPass);
    connect(m_txtServiceUrl, &QLineEdit::textChanged, this, &frmSettings::updateAccounts);
    connect(m_txtServiceKey, &QLineEdit::textChanged, this, &frmSettings::updateAccounts);
}

void frmSettings::setModel(SettingsModel* model)
{
    m_model = model;
    updateModel();
}

void frmSettings::updateModel()
{
    if (!m_model)
        return;
    using enum SettingKey;
    m_model->setNumber(ImageType, m_lstImageType->currentIndex());
    m_model->setNumber(ShortURLType, m_lstShortURLType->currentIndex());
    m_model->setNumber(FollowRedirects, CheckValue(*m_chkFollowRedirects));
    m_model->setNumber(StripTrackers, CheckValue(*m_chkStripTrackers));
    m_model->setNumber(MenuExt, CheckValue(*m_chkMenuExt));
    m_model->setNumber(ToolbarIcon, CheckValue(*m_chkToolBarIcon));
    m_model->setNumber(TwitterChkLogin, CheckValue(*m_chkLoginSave));
    m_model->setNumber(TwitterChkPass, CheckValue(*m_chkPassSave));
    m_model->setText(TwitterLogin, m_txtLogin->text());
    m_model->setText(TwitterPass, m_txtPass->text());
    m_model->setAccounts(accounts());
}

void frmSettings::updateAccounts()
{
    // While the fields switch service they hold one service's address and the other's secret.
    if (m_model && !m_showingService)
        m_model->setAccounts(accounts());
}

ShortenerAccounts frmSettings::accounts() const
{
    ShortenerAccounts accounts = m_accounts;
    if (m_shownService == ShortUrlYourls) {
        accounts.yourlsUrl = m_txtServiceUrl->text().trimmed();
        accounts.yourlsSignature = m_txtServiceKey->text().trimmed();
    } else if (m_shownService == ShortUrlShlink) {
        accounts.shlinkUrl = m_txtServiceUrl->text().trimmed();
        accounts.shlinkApiKey = m_txtServiceKey->text().trimmed();
    }
    return accounts;
}

void frmSettings::setAccounts(const ShortenerAccounts& accounts)
{
    m_accounts = accounts;
    m_shownService = -1;
    showServiceFields();
}

void frmSettings::showServiceFields()
{
    m_accounts = accounts();
    m_shownService = m_lstShortURLType->currentIndex();
    m_showingService = true;
    const bool yourls = m_shownService == ShortUrlYourls;
    const bool shlink = m_shownService == ShortUrlShlink;
    m_serviceFields->setVisible(yourls || shlink);
    m_lblServiceKey->setText(yourls ? u"署名トークン"_s : u"APIキー"_s);
    m_txtServiceUrl->setText(yourls ? m_accounts.yourlsUrl : shlink ? m_accounts.shlinkUrl : QString());
    m_txtServiceKey->setText(yourls   ? m_accounts.yourlsSignature
                             : shlink ? m_accounts.shlinkApiKey
                                      : QString());
    m_showingService = false;
    updateAccounts();
}

void frmSettings::setEndpoints(const Endpoints& endpoints)
{
    m_lstShortURLType->setItemText(0, ShortUrlTypeItem(endpoints.value(Endpoints::ShortenerAltDomain)));
    m_lstShortURLType->setItemText(1, ShortUrlTypeItem(endpoints.value(Endpoints::ShortenerDomain)));
}

void frmSettings::closeEvent(QCloseEvent* event)
{
    // The dialog holds the live settings: a close only hides it.
    event->ignore();
    hide();
}

void frmSettings::deleteLog()
{
    if (m_logFilePath.isEmpty() || !QFileInfo(m_logFilePath).isFile())
        return;
    const auto answer = m_boxes.show(platform::MessageBoxes::Icon::Exclamation, AppTitle(),
                                     m_logFilePath + u" を削除しますよろしいですか？"_s,
                                     platform::MessageBoxes::Buttons::YesNo);
    if (answer == platform::MessageBoxes::Answer::Yes)
        QFile::remove(m_logFilePath); // a log held open elsewhere just stays
}

} // namespace linvera
