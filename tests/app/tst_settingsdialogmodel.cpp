// The settings dialog edits the settings model: every control's change reaches the model at once,
// and nothing reaches the store before the model saves.
#include "RecordingMessageBoxes.h"
#include "TempRegistry.h"
#include "app/ui/ControlValues.h"
#include "app/ui/frmSettings.h"
#include "platform/RegAccess.h"
#include "settings/SettingsModel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace linvera;
using namespace Qt::StringLiterals;

namespace {

QString stored(const QString& name)
{
    QString value;
    GetRegValue(platform::RegRoot::LocalMachine, SettingsKey(), name, value);
    return value;
}

} // namespace

class TestSettingsDialogModel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void modelTakesTheDesignedControls();
    void controlEdits_data();
    void controlEdits();
    void serviceFieldsEditTheChosenAccount();
    void switchingServiceKeepsBothAccounts();
    void storeUntouchedUntilSave();

private:
    std::unique_ptr<test::TempRegistry> m_registry;
};

void TestSettingsDialogModel::init()
{
    m_registry = std::make_unique<test::TempRegistry>();
    QVERIFY(m_registry->isValid());
}

void TestSettingsDialogModel::cleanup()
{
    m_registry.reset();
}

void TestSettingsDialogModel::modelTakesTheDesignedControls()
{
    // A model that read other values takes what the dialog shows when the two meet.
    SettingsModel model;
    model.setNumber(SettingKey::ShortURLType, 0);
    model.setNumber(SettingKey::FollowRedirects, 1);
    RecordingMessageBoxes boxes;
    frmSettings dialog(boxes);
    dialog.setModel(&model);
    QCOMPARE(model.snapshot().shortUrlType, dialog.lstShortURLType()->currentIndex());
    QCOMPARE(model.snapshot().followRedirects, false);
    QCOMPARE(model.number(SettingKey::MenuExt), CheckValue(*dialog.chkMenuExt()));
}

void TestSettingsDialogModel::controlEdits_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("key");
    QTest::newRow("capture format JPEG") << u"lstImageType"_s << 1 << int(SettingKey::ImageType);
    QTest::newRow("capture format none") << u"lstImageType"_s << -1 << int(SettingKey::ImageType);
    QTest::newRow("short link form 0") << u"lstShortURLType"_s << 0 << int(SettingKey::ShortURLType);
    QTest::newRow("short link form Shlink") << u"lstShortURLType"_s << 5 << int(SettingKey::ShortURLType);
    QTest::newRow("chain checked") << u"chkFollowRedirects"_s << 1 << int(SettingKey::FollowRedirects);
    QTest::newRow("chain grayed") << u"chkFollowRedirects"_s << 2 << int(SettingKey::FollowRedirects);
    QTest::newRow("menu entry checked") << u"chkMenuExt"_s << 1 << int(SettingKey::MenuExt);
    QTest::newRow("toolbar button checked") << u"chkToolBarIcon"_s << 1 << int(SettingKey::ToolbarIcon);
    QTest::newRow("keep login") << u"chkLoginSave"_s << 1 << int(SettingKey::TwitterChkLogin);
    QTest::newRow("keep password") << u"chkPassSave"_s << 1 << int(SettingKey::TwitterChkPass);
}

void TestSettingsDialogModel::controlEdits()
{
    QFETCH(QString, control);
    QFETCH(int, value);
    QFETCH(int, key);
    SettingsModel model;
    RecordingMessageBoxes boxes;
    frmSettings dialog(boxes);
    dialog.setModel(&model);
    QSignalSpy spy(&model, &SettingsModel::changed);
    if (auto* list = dialog.findChild<QComboBox*>(control))
        QVERIFY(SetListIndex(*list, value));
    else if (auto* box = dialog.findChild<QCheckBox*>(control))
        QVERIFY(SetCheckValue(*box, value));
    else
        QFAIL("no such control");
    QCOMPARE(model.number(SettingKey(key)), value);
    QVERIFY(spy.count() >= 1);
    QCOMPARE(spy.last().at(0).value<SettingKey>(), SettingKey(key));
}

void TestSettingsDialogModel::serviceFieldsEditTheChosenAccount()
{
    SettingsModel model;
    RecordingMessageBoxes boxes;
    frmSettings dialog(boxes);
    dialog.setModel(&model);
    dialog.lstShortURLType()->setCurrentIndex(ShortUrlShlink);
    QTest::keyClicks(dialog.txtServiceUrl(), u"https://s.example "_s);
    QTest::keyClicks(dialog.txtServiceKey(), u"key-1"_s);
    const ShortenerAccounts accounts = model.snapshot().accounts;
    QCOMPARE(accounts.shlinkUrl, u"https://s.example"_s);
    QCOMPARE(accounts.shlinkApiKey, u"key-1"_s);
    QCOMPARE(accounts.yourlsUrl, QString());
    QCOMPARE(accounts.yourlsSignature, QString());
    QTest::keyClicks(dialog.txtLogin(), u"someone"_s);
    QCOMPARE(model.snapshot().twitterLogin, u"someone"_s);
}

void TestSettingsDialogModel::switchingServiceKeepsBothAccounts()
{
    SettingsModel model;
    RecordingMessageBoxes boxes;
    frmSettings dialog(boxes);
    dialog.setModel(&model);
    dialog.setAccounts({u"https://y.example"_s, u"sig"_s, u"https://s.example"_s, u"key"_s});
    QSignalSpy spy(&model, &SettingsModel::changed);
    dialog.lstShortURLType()->setCurrentIndex(ShortUrlYourls);
    dialog.lstShortURLType()->setCurrentIndex(ShortUrlShlink);
    const ShortenerAccounts accounts = model.snapshot().accounts;
    QCOMPARE(accounts.yourlsUrl, u"https://y.example"_s);
    QCOMPARE(accounts.yourlsSignature, u"sig"_s);
    QCOMPARE(accounts.shlinkUrl, u"https://s.example"_s);
    QCOMPARE(accounts.shlinkApiKey, u"key"_s);
    // Switching shows other fields; the accounts themselves never changed on the way.
    for (const QList<QVariant>& emitted : spy)
        QCOMPARE(emitted.at(0).value<SettingKey>(), SettingKey::ShortURLType);
}

void TestSettingsDialogModel::storeUntouchedUntilSave()
{
    SettingsModel model;
    model.load();
    RecordingMessageBoxes boxes;
    frmSettings dialog(boxes);
    dialog.setModel(&model);
    dialog.lstShortURLType()->setCurrentIndex(ShortUrlVgd);
    dialog.chkFollowRedirects()->setChecked(true);
    dialog.chkLoginSave()->setChecked(true);
    QTest::keyClicks(dialog.txtLogin(), u"someone"_s);
    QCOMPARE(stored(u"ShortURLType"_s), QString());
    QCOMPARE(stored(u"FollowRedirects"_s), QString());
    QCOMPARE(stored(u"TwitterLogin"_s), QString());
    model.save();
    QCOMPARE(stored(u"ShortURLType"_s), QString::number(ShortUrlVgd));
    QCOMPARE(stored(u"FollowRedirects"_s), u"1"_s);
    QCOMPARE(stored(u"TwitterChkLogin"_s), u"1"_s);
    QCOMPARE(stored(u"TwitterLogin"_s), u"someone"_s);
}

QTEST_MAIN(TestSettingsDialogModel)
#include "tst_settingsdialogmodel.moc"
