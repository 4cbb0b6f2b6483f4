#include "TempRegistry.h"
#include "platform/RegAccess.h"
#include "settings/SettingsTable.h"

#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;
using namespace linvera;

namespace {

void store(const QString& name, const QString& value)
{
    QVERIFY(SetRegString(platform::RegRoot::LocalMachine, SettingsKey(), name, value));
}

} // namespace

class TestSettingsTable : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void numberSettings_data();
    void numberSettings();
    void shortUrlTypeAsTheWindowShowsIt_data();
    void shortUrlTypeAsTheWindowShowsIt();
    void followRedirectsOnlyWhenChecked_data();
    void followRedirectsOnlyWhenChecked();
    void textSettingsBlankReadsEmpty_data();
    void textSettingsBlankReadsEmpty();
    void endpointOverrides();
    void proxySetting_data();
    void proxySetting();

private:
    std::unique_ptr<test::TempRegistry> m_registry;
};

void TestSettingsTable::init()
{
    m_registry = std::make_unique<test::TempRegistry>();
    QVERIFY(m_registry->isValid());
}

void TestSettingsTable::cleanup()
{
    m_registry.reset();
}

void TestSettingsTable::numberSettings_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("stored"); // "<absent>" writes nothing
    QTest::addColumn<int>("expected");   // -99 for "unusable"

    QTest::newRow("check box absent takes default") << u"Clipboard"_s << u"<absent>"_s << 1;
    QTest::newRow("check box blank takes default") << u"Clipboard"_s << u" "_s << 1;
    QTest::newRow("check box 0") << u"MenuExt"_s << u"0"_s << 0;
    QTest::newRow("check box 2 (grayed)") << u"ToolbarIcon"_s << u"2"_s << 2;
    QTest::newRow("check box 3 unusable") << u"TwitterChkPass"_s << u"3"_s << -99;
    QTest::newRow("chain box absent is off") << u"FollowRedirects"_s << u"<absent>"_s << 0;
    QTest::newRow("chain box 1") << u"FollowRedirects"_s << u"1"_s << 1;
    QTest::newRow("chain box 3 unusable") << u"FollowRedirects"_s << u"3"_s << -99;
    QTest::newRow("check box -1 unusable") << u"TwitterChkLogin"_s << u"-1"_s << -99;
    QTest::newRow("check box 1.5 rounds to even 2") << u"Clipboard"_s << u"1.5"_s << 2;
    QTest::newRow("check box 0.5 rounds to even 0") << u"Clipboard"_s << u"0.5"_s << 0;
    QTest::newRow("check box text unusable") << u"Clipboard"_s << u"yes"_s << -99;
    QTest::newRow("list -1 selects none") << u"ImageType"_s << u"-1"_s << -1;
    QTest::newRow("list 2 beyond the list") << u"ImageType"_s << u"2"_s << -99;
    QTest::newRow("edge keeps large numbers") << u"FormX"_s << u"70000"_s << 70000;
    QTest::newRow("edge negative") << u"FormY"_s << u"-20"_s << -20;
    QTest::newRow("edge blank has no default") << u"FormW"_s << u""_s << -99;
    QTest::newRow("edge infinity unusable") << u"FormH"_s << u"1e400"_s << -99;
}

void TestSettingsTable::numberSettings()
{
    QFETCH(QString, name);
    QFETCH(QString, stored);
    QFETCH(int, expected);
    if (stored != u"<absent>"_s)
        store(name, stored);
    const Setting* row = FindSetting(name);
    QVERIFY(row);
    QCOMPARE(row->type, SettingType::Number);
    const std::optional<qint32> value = ReadNumberSetting(*row);
    QCOMPARE(value.value_or(-99), expected);
}

void TestSettingsTable::shortUrlTypeAsTheWindowShowsIt_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<int>("expected");
    // The list has six entries: absent or an index beyond it selects is.gd, decimals round.
    QTest::newRow("absent") << QString() << 2;
    QTest::newRow("0") << u"0"_s << 0;
    QTest::newRow("1") << u"1"_s << 1;
    QTest::newRow("2 is.gd") << u"2"_s << 2;
    QTest::newRow("5 Shlink, the last entry") << u"5"_s << 5;
    QTest::newRow("6 is beyond the list") << u"6"_s << 2;
    QTest::newRow("0.6 rounds to 1") << u"0.6"_s << 1;
    QTest::newRow("1.5 rounds to even 2") << u"1.5"_s << 2;
    QTest::newRow("5.5 rounds to even 6, beyond") << u"5.5"_s << 2;
    QTest::newRow("0.5 rounds to even 0") << u"0.5"_s << 0;
    QTest::newRow("-1 selects none") << u"-1"_s << -1;
    QTest::newRow("spaces around") << u" 1 "_s << 1;
    QTest::newRow("not a number") << u"x"_s << 2;
}

void TestSettingsTable::shortUrlTypeAsTheWindowShowsIt()
{
    QFETCH(QString, stored);
    QFETCH(int, expected);
    if (!stored.isNull())
        store(u"ShortURLType"_s, stored);
    QCOMPARE(StoredShortUrlType(), expected);
}

void TestSettingsTable::followRedirectsOnlyWhenChecked_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<bool>("expected");
    QTest::newRow("absent") << QString() << false;
    QTest::newRow("0") << u"0"_s << false;
    QTest::newRow("1") << u"1"_s << true;
    QTest::newRow("0.6 rounds to 1") << u"0.6"_s << true;
    QTest::newRow("2 (grayed)") << u"2"_s << false;
    QTest::newRow("3 unusable") << u"3"_s << false;
    QTest::newRow("not a number") << u"yes"_s << false;
}

void TestSettingsTable::followRedirectsOnlyWhenChecked()
{
    QFETCH(QString, stored);
    QFETCH(bool, expected);
    if (!stored.isNull())
        store(u"FollowRedirects"_s, stored);
    QCOMPARE(StoredFollowRedirects(), expected);
}

void TestSettingsTable::textSettingsBlankReadsEmpty_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("expected");
    QTest::newRow("one space stands for nothing") << u" "_s << QString();
    QTest::newRow("text kept as stored") << u" ユーザー "_s << u" ユーザー "_s;
    QTest::newRow("absent") << QString() << QString();
}

void TestSettingsTable::textSettingsBlankReadsEmpty()
{
    QFETCH(QString, stored);
    QFETCH(QString, expected);
    if (!stored.isNull())
        store(u"TwitterLogin"_s, stored);
    QCOMPARE(ReadTextSetting(*FindSetting(u"TwitterLogin")), expected);
}

void TestSettingsTable::endpointOverrides()
{
    const QString key = QString::fromLatin1(Endpoints::kRegistryKey);
    QVERIFY(SetRegString(platform::RegRoot::LocalMachine, key, u"ShortenerApiHost"_s, u" 127.0.0.1:8080 "_s));
    QVERIFY(SetRegString(platform::RegRoot::LocalMachine, key, u"LiveHost"_s, u"   "_s));
    const Endpoints endpoints = ReadEndpoints();
    QCOMPARE(endpoints.value(Endpoints::ShortenerApiHost), u"127.0.0.1:8080"_s);
    QCOMPARE(endpoints.value(Endpoints::LiveHost), Endpoints::defaultValue(Endpoints::LiveHost));
    QCOMPARE(endpoints.value(Endpoints::StoreHost), Endpoints::defaultValue(Endpoints::StoreHost));
}

void TestSettingsTable::proxySetting_data()
{
    QTest::addColumn<int>("enable"); // -1 writes nothing
    QTest::addColumn<QString>("server");
    QTest::addColumn<bool>("enabled");
    QTest::newRow("none stored") << -1 << QString() << false;
    QTest::newRow("enabled") << 1 << u"proxy.example:8080"_s << true;
    QTest::newRow("disabled keeps the server") << 0 << u"proxy.example:8080"_s << false;
    QTest::newRow("2 is not enabled") << 2 << u"proxy.example:8080"_s << false;
}

void TestSettingsTable::proxySetting()
{
    QFETCH(int, enable);
    QFETCH(QString, server);
    QFETCH(bool, enabled);
    const QString key = u"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings"_s;
    if (enable >= 0)
        QVERIFY(SetRegNumber(platform::RegRoot::CurrentUser, key, u"ProxyEnable"_s, enable));
    if (!server.isNull())
        QVERIFY(SetRegString(platform::RegRoot::CurrentUser, key, u"ProxyServer"_s, server));
    const ProxySetting proxy = ReadProxySetting();
    QCOMPARE(proxy.enabled, enabled);
    QCOMPARE(proxy.server, server.isNull() ? QString() : server);
}

QTEST_GUILESS_MAIN(TestSettingsTable)
#include "tst_settingstable.moc"
