#include "TempRegistry.h"
#include "platform/RegAccess.h"
#include "platform/RegistryStore.h"
#include "settings/SettingsModel.h"

#include <QSignalSpy>
#include <QTest>

#include <map>
#include <memory>

using namespace Qt::StringLiterals;
using namespace linvera;

Q_DECLARE_METATYPE(linvera::SettingKey)

namespace {

const QString kInternetSettings = u"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings"_s;

void store(const QString& name, const QString& value)
{
    QVERIFY(SetRegString(platform::RegRoot::LocalMachine, SettingsKey(), name, value));
}

QString stored(const QString& name)
{
    QString value;
    GetRegValue(platform::RegRoot::LocalMachine, SettingsKey(), name, value);
    return value;
}

/// What a blank value means for each Number setting, and the range it accepts; kNone for the window
/// edges, which have no default and take any number.
constexpr qint32 kNone = -99999;
struct Expected
{
    qint32 fallback;
    qint32 minimum;
    qint32 maximum;
};
const std::map<QString, Expected> kNumbers{
    {u"Clipboard"_s, {1, 0, 2}},         {u"FormX"_s, {kNone, kNone, kNone}},
    {u"FormY"_s, {kNone, kNone, kNone}}, {u"FormW"_s, {kNone, kNone, kNone}},
    {u"FormH"_s, {kNone, kNone, kNone}}, {u"ImageType"_s, {0, -1, 1}},
    {u"ShortURLType"_s, {2, -1, 5}},     {u"FollowRedirects"_s, {0, 0, 2}},
    {u"MenuExt"_s, {1, 0, 2}},           {u"ToolbarIcon"_s, {1, 0, 2}},
    {u"TwitterChkLogin"_s, {1, 0, 2}},   {u"TwitterChkPass"_s, {1, 0, 2}},
    {u"StripTrackers"_s, {1, 0, 2}},
};
const QStringList kTexts{u"TwitterLogin"_s,    u"TwitterPass"_s, u"YourlsUrl"_s,
                         u"YourlsSignature"_s, u"ShlinkUrl"_s,   u"ShlinkApiKey"_s};

} // namespace

class TestSettingsModel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void everyKeyHasItsRow();
    void numberSettings_data();
    void numberSettings();
    void textSettings_data();
    void textSettings();
    void snapshot_data();
    void snapshot();
    void editsReachTheStoreOnlyOnSave();
    void changedOncePerChange();
    void loginRuleOnSave_data();
    void loginRuleOnSave();
    void saveOrder();
    void anotherProgramChangesTheProxy();
    void otherWritesLeaveTheProxyAlone();

private:
    std::unique_ptr<test::TempRegistry> m_registry;
};

void TestSettingsModel::init()
{
    m_registry = std::make_unique<test::TempRegistry>();
    QVERIFY(m_registry->isValid());
}

void TestSettingsModel::cleanup()
{
    m_registry.reset();
}

void TestSettingsModel::everyKeyHasItsRow()
{
    // Every key reaches a row of its own name, and the test below covers every row.
    QCOMPARE(int(SettingsTable().size()), SettingKeyCount);
    for (int i = 0; i < SettingKeyCount; ++i) {
        const SettingKey key = SettingKey(i);
        const Setting& row = SettingRow(key);
        QCOMPARE(int(row.key), i);
        QCOMPARE(FindSetting(row.name), &row);
        QCOMPARE(SettingName(key), row.name.toString());
        const bool covered = row.type == SettingType::Number ? kNumbers.contains(SettingName(key))
                                                             : kTexts.contains(SettingName(key));
        QVERIFY2(covered, qPrintable(SettingName(key)));
    }
}

void TestSettingsModel::numberSettings_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("stored"); // "<absent>" writes nothing
    QTest::addColumn<int>("expected");   // kNone for "unusable"

    for (const Setting& row : SettingsTable()) {
        if (row.type != SettingType::Number)
            continue;
        const QString name = row.name.toString();
        const Expected e = kNumbers.at(name);
        const auto add = [&](const char* what, const QString& value, qint32 expected) {
            QTest::addRow("%s %s", qPrintable(name), what) << int(row.key) << value << int(expected);
        };
        add("absent", u"<absent>"_s, e.fallback);
        add("blank", u"  "_s, e.fallback);
        add("not a number", u"abc"_s, kNone);
        if (e.minimum == kNone) {
            add("large", u"2000000000"_s, 2000000000);
            add("negative", u"-45"_s, -45);
            add("beyond 32 bits", u"3000000000"_s, kNone);
            continue;
        }
        add("minimum", QString::number(e.minimum), e.minimum);
        add("maximum", QString::number(e.maximum), e.maximum);
        add("below minimum", QString::number(e.minimum - 1), kNone);
        add("above maximum", QString::number(e.maximum + 1), kNone);
        add("maximum as a decimal", QString::number(e.maximum) + u".4"_s, e.maximum);
    }
}

void TestSettingsModel::numberSettings()
{
    QFETCH(int, key);
    QFETCH(QString, stored);
    QFETCH(int, expected);
    if (stored != u"<absent>"_s)
        store(SettingName(SettingKey(key)), stored);
    SettingsModel model;
    model.load();
    QCOMPARE(model.number(SettingKey(key)).value_or(kNone), expected);
    QCOMPARE(model.stored(SettingKey(key)), stored == u"<absent>"_s ? QString() : stored);
}

void TestSettingsModel::textSettings_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("expected");
    for (const Setting& row : SettingsTable()) {
        if (row.type != SettingType::Text)
            continue;
        const QString name = row.name.toString();
        QVERIFY(kTexts.contains(name));
        QTest::addRow("%s absent", qPrintable(name)) << int(row.key) << QString() << QString();
        QTest::addRow("%s one space", qPrintable(name)) << int(row.key) << u" "_s << QString();
        QTest::addRow("%s kept with its spaces", qPrintable(name))
            << int(row.key) << u" ａｂ c "_s << u" ａｂ c "_s;
    }
}

void TestSettingsModel::textSettings()
{
    QFETCH(int, key);
    QFETCH(QString, stored);
    QFETCH(QString, expected);
    if (!stored.isNull())
        store(SettingName(SettingKey(key)), stored);
    SettingsModel model;
    model.load();
    QCOMPARE(model.text(SettingKey(key)), expected);
    QCOMPARE(model.isBlank(SettingKey(key)), expected.isEmpty());
}

void TestSettingsModel::snapshot_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<int>("shortUrlType");
    QTest::addColumn<bool>("follows");
    QTest::addColumn<bool>("png");
    QTest::addColumn<int>("clipboard");

    QTest::newRow("nothing stored") << QString() << QString() << 2 << false << true << 1;
    QTest::newRow("short link form 4") << u"ShortURLType"_s << u"4"_s << 4 << false << true << 1;
    QTest::newRow("short link form beyond the list")
        << u"ShortURLType"_s << u"6"_s << 2 << false << true << 1;
    QTest::newRow("short link form none") << u"ShortURLType"_s << u"-1"_s << -1 << false << true << 1;
    QTest::newRow("chain checked") << u"FollowRedirects"_s << u"1"_s << 2 << true << true << 1;
    QTest::newRow("chain grayed") << u"FollowRedirects"_s << u"2"_s << 2 << false << true << 1;
    QTest::newRow("JPEG") << u"ImageType"_s << u"1"_s << 2 << false << false << 1;
    QTest::newRow("no format chosen is JPEG") << u"ImageType"_s << u"-1"_s << 2 << false << false << 1;
    QTest::newRow("clipboard unusable takes the default")
        << u"Clipboard"_s << u"7"_s << 2 << false << true << 1;
    QTest::newRow("clipboard off") << u"Clipboard"_s << u"0"_s << 2 << false << true << 0;
}

void TestSettingsModel::snapshot()
{
    QFETCH(QString, name);
    QFETCH(QString, stored);
    QFETCH(int, shortUrlType);
    QFETCH(bool, follows);
    QFETCH(bool, png);
    QFETCH(int, clipboard);
    if (!name.isNull())
        store(name, stored);
    SettingsModel model;
    model.load();
    const SettingsSnapshot snapshot = model.snapshot();
    QCOMPARE(snapshot.shortUrlType, shortUrlType);
    QCOMPARE(snapshot.followRedirects, follows);
    QCOMPARE(snapshot.capturesPng(), png);
    QCOMPARE(snapshot.clipboard, clipboard);
    // A front end without the dialog reads the same values.
    QCOMPARE(StoredSettings().shortUrlType, shortUrlType);
    QCOMPARE(StoredSettings().followRedirects, follows);
}

void TestSettingsModel::editsReachTheStoreOnlyOnSave()
{
    store(u"ShortURLType"_s, u"1"_s);
    SettingsModel model;
    model.load();
    model.setNumber(SettingKey::ShortURLType, 4);
    model.setAccounts({u" https://s.example/ "_s, u"sig"_s, QString(), QString()});
    // The running program reads the edit at once ...
    QCOMPARE(model.snapshot().shortUrlType, 4);
    QCOMPARE(model.snapshot().accounts.yourlsUrl, u"https://s.example/"_s);
    // ... and the store still holds the old values until shutdown saves.
    QCOMPARE(stored(u"ShortURLType"_s), u"1"_s);
    QCOMPARE(stored(u"YourlsUrl"_s), QString());
    model.save();
    QCOMPARE(stored(u"ShortURLType"_s), u"4"_s);
    QCOMPARE(stored(u"YourlsUrl"_s), u" https://s.example/ "_s);
    QCOMPARE(stored(u"YourlsSignature"_s), u"sig"_s);
}

void TestSettingsModel::changedOncePerChange()
{
    SettingsModel model;
    model.load();
    QSignalSpy spy(&model, &SettingsModel::changed);
    model.setNumber(SettingKey::FollowRedirects, 1);
    model.setNumber(SettingKey::FollowRedirects, 1);
    model.setText(SettingKey::TwitterLogin, u"name"_s);
    model.setText(SettingKey::TwitterLogin, u"name"_s);
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(0).at(0).value<SettingKey>(), SettingKey::FollowRedirects);
    QCOMPARE(spy.at(1).at(0).value<SettingKey>(), SettingKey::TwitterLogin);
}

void TestSettingsModel::loginRuleOnSave_data()
{
    QTest::addColumn<int>("keep");
    QTest::addColumn<QString>("login");
    QTest::addColumn<QString>("expected");
    QTest::newRow("kept") << 1 << u"someone"_s << u"someone"_s;
    QTest::newRow("kept but empty") << 1 << QString() << u" "_s;
    QTest::newRow("not kept") << 0 << u"someone"_s << u" "_s;
    QTest::newRow("grayed is not kept") << 2 << u"someone"_s << u" "_s;
}

void TestSettingsModel::loginRuleOnSave()
{
    QFETCH(int, keep);
    QFETCH(QString, login);
    QFETCH(QString, expected);
    SettingsModel model;
    model.load();
    model.setNumber(SettingKey::TwitterChkLogin, keep);
    model.setText(SettingKey::TwitterLogin, login);
    model.setNumber(SettingKey::TwitterChkPass, keep);
    model.setText(SettingKey::TwitterPass, login);
    model.save();
    QCOMPARE(stored(u"TwitterLogin"_s), expected);
    QCOMPARE(stored(u"TwitterPass"_s), expected);
}

void TestSettingsModel::saveOrder()
{
    SettingsModel model;
    model.load();
    model.setWindowEdges(QRectF(-30.5, 45, 6000, 4000));
    model.save();
    QList<platform::RegistryStore::Value> values;
    QCOMPARE(m_registry->store().enumValues(platform::RegRoot::LocalMachine, SettingsKey(), values), 0);
    QStringList names;
    for (const auto& value : values)
        names.append(value.name);
    const QStringList expected{
        u"_Dummy"_s,          u"FormX"_s,        u"FormY"_s,        u"FormW"_s,
        u"FormH"_s,           u"Clipboard"_s,    u"ImageType"_s,    u"ShortURLType"_s,
        u"FollowRedirects"_s, u"MenuExt"_s,      u"ToolbarIcon"_s,  u"TwitterChkLogin"_s,
        u"TwitterChkPass"_s,  u"TwitterLogin"_s, u"TwitterPass"_s,  u"YourlsUrl"_s,
        u"YourlsSignature"_s, u"ShlinkUrl"_s,    u"ShlinkApiKey"_s, u"StripTrackers"_s};
    QCOMPARE(names, expected);
    QCOMPARE(stored(u"FormX"_s), u"-30.5"_s);
    QCOMPARE(stored(u"FormW"_s), u"6000"_s);
}

void TestSettingsModel::anotherProgramChangesTheProxy()
{
    SettingsModel model;
    model.loadHostsAndProxy();
    model.watchStore();
    QCOMPARE(model.proxy().enabled, false);
    QSignalSpy spy(&model, &SettingsModel::proxyChanged);

    // Another program: its own connection to the same file.
    platform::RegistryStore other(m_registry->storeFile());
    const auto mode = platform::RegistryStore::CreateMode::CreateMissingKeys;
    const QByteArray server = QByteArrayLiteral("127.0.0.1:3128");
    QCOMPARE(other.setValue(platform::RegRoot::CurrentUser, kInternetSettings, u"ProxyServer"_s,
                            platform::RegistryStore::RegSz, server + '\0', mode),
             0);
    QCOMPARE(other.setValue(platform::RegRoot::CurrentUser, kInternetSettings, u"ProxyEnable"_s,
                            platform::RegistryStore::RegDword, QByteArray("\x01\x00\x00\x00", 4), mode),
             0);

    QTRY_VERIFY_WITH_TIMEOUT(model.proxy().enabled, 5000);
    QCOMPARE(model.proxy().server, u"127.0.0.1:3128"_s);
    QVERIFY(spy.count() >= 1);
}

void TestSettingsModel::otherWritesLeaveTheProxyAlone()
{
    SettingsModel model;
    model.loadHostsAndProxy();
    model.watchStore();
    QSignalSpy spy(&model, &SettingsModel::proxyChanged);
    platform::RegistryStore other(m_registry->storeFile());
    QCOMPARE(other.setValue(platform::RegRoot::LocalMachine, SettingsKey(), u"Clipboard"_s,
                            platform::RegistryStore::RegSz, QByteArray("0", 2),
                            platform::RegistryStore::CreateMode::CreateMissingKeys),
             0);
    // Long enough for the watcher's pause and the read after it.
    QTest::qWait(300);
    QCOMPARE(spy.count(), 0);
    QCOMPARE(model.proxy().enabled, false);
}

QTEST_GUILESS_MAIN(TestSettingsModel)
#include "tst_settingsmodel.moc"
