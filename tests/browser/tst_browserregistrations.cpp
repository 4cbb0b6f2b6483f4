#include "AnsiCodec.h"
#include "BrowserRegistrations.h"
#include "NativeMessagingManifests.h"
#include "PrivateHome.h"
#include "RegAccess.h"
#include "RegistryStore.h"
#include "TempRegistry.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <memory>

#include <sys/stat.h>

using namespace Qt::StringLiterals;
using linvera::BrowserRegistrations;
using linvera::NativeMessagingManifests;
using linvera::platform::AnsiCodec;
using linvera::platform::RegistryStore;
using linvera::platform::RegRoot;
using linvera::test::PrivateHome;
using linvera::test::TempRegistry;

Q_DECLARE_METATYPE(AnsiCodec::CodePage)

namespace {

const QString kMenuExtKey = u"Software\\Microsoft\\Internet Explorer\\MenuExt\\KemoでURLを短縮化＆ﾌﾟﾚﾋﾞｭｰ"_s;
const QString kToolbarKey =
    u"Software\\Microsoft\\Internet Explorer\\Extensions\\{5D3A8E21-7C4B-4F10-9B6E-2A71C0D84F3B}"_s;
const QString kCaption = u"KemoでURLを短縮化＆ﾌﾟﾚﾋﾞｭｰ"_s;

/// A value as the registry store should hold it: name, type and text (REG_SZ) or number (REG_DWORD).
struct Expected
{
    QString name;
    quint32 type;
    QString text;
    quint32 number = 0;
};

QByteArray dataOf(const Expected& value)
{
    if (value.type == RegistryStore::RegDword) {
        QByteArray bytes(4, '\0');
        qToLittleEndian(value.number, bytes.data());
        return bytes;
    }
    return AnsiCodec::encode(value.text) + '\0';
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArrayLiteral("<missing>");
    return file.readAll();
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

} // namespace

class TestBrowserRegistrations : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void addMenuExtension_data();
    void addMenuExtension();
    void addToolbarButton_data();
    void addToolbarButton();
    void addTwiceKeepsOneSet();
    void removeMenuExtension();
    void removeToolbarButton();
    void removeWhatIsMissingChangesNothing();
    void removeKeyWithSubkeyKeepsIt();

    void manifestsFollowTheEntries();
    void manifestContent_data();
    void manifestContent();
    void foreignManifestIsLeftAlone_data();
    void foreignManifestIsLeftAlone();
    void manifestFolderMadeWhenMissing();
    void manifestInPlaceIsNotWrittenAgain_data();
    void manifestInPlaceIsNotWrittenAgain();

    void userTargetsFollowTheEnvironment();
    void freeFunctionsUseTheUsersFolders();

private:
    void addFolderAndCodecColumns();
    void compareValues(const QString& key, const QList<Expected>& expected);
    QList<NativeMessagingManifests::Target> targets() const;
    BrowserRegistrations registrations(const QString& programFolder = u"/opt/kemo"_s) const;

    RegistryStore& store() { return m_registry->store(); }

    std::unique_ptr<TempRegistry> m_registry;
    std::unique_ptr<QTemporaryDir> m_dir; // the browsers' manifest folders
};

void TestBrowserRegistrations::init()
{
    AnsiCodec::select(AnsiCodec::CodePage::Utf8);
    m_registry = std::make_unique<TempRegistry>();
    QVERIFY(m_registry->isValid());
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestBrowserRegistrations::cleanup()
{
    m_dir.reset();
    m_registry.reset();
    AnsiCodec::select(AnsiCodec::CodePage::Utf8);
}

QList<NativeMessagingManifests::Target> TestBrowserRegistrations::targets() const
{
    using Family = NativeMessagingManifests::Family;
    return {
        {Family::Chromium, m_dir->filePath(u"config/chromium/NativeMessagingHosts"_s)},
        {Family::Chromium, m_dir->filePath(u"config/google-chrome/NativeMessagingHosts"_s)},
        {Family::Firefox, m_dir->filePath(u"mozilla/native-messaging-hosts"_s)},
    };
}

BrowserRegistrations TestBrowserRegistrations::registrations(const QString& programFolder) const
{
    return BrowserRegistrations(programFolder, NativeMessagingManifests(programFolder, targets()));
}

void TestBrowserRegistrations::compareValues(const QString& key, const QList<Expected>& expected)
{
    QList<RegistryStore::Value> values;
    QCOMPARE(store().enumValues(RegRoot::CurrentUser, key, values), qint32(RegistryStore::Success));
    QStringList names;
    for (const RegistryStore::Value& value : values)
        names.append(value.name);
    QStringList expectedNames;
    for (const Expected& value : expected)
        expectedNames.append(value.name);
    QCOMPARE(names, expectedNames);
    for (qsizetype i = 0; i < expected.size(); ++i) {
        QCOMPARE(values.at(i).type, expected.at(i).type);
        QCOMPARE(values.at(i).data, dataOf(expected.at(i)));
    }
}

void TestBrowserRegistrations::addFolderAndCodecColumns()
{
    QTest::addColumn<AnsiCodec::CodePage>("codePage");
    QTest::addColumn<QString>("programFolder");
    QTest::addColumn<QString>("joined");

    const std::pair<const char*, AnsiCodec::CodePage> codePages[] = {
        {"UTF-8", AnsiCodec::CodePage::Utf8},
        {"windows-31j", AnsiCodec::CodePage::Windows31J},
    };
    for (const auto& [codeName, codePage] : codePages) {
        QTest::addRow("%s, install folder", codeName) << codePage << u"/opt/kemo"_s << u"/opt/kemo/"_s;
        QTest::addRow("%s, folder with trailing slash", codeName)
            << codePage << u"/opt/kemo/"_s << u"/opt/kemo/"_s;
        QTest::addRow("%s, root folder", codeName) << codePage << u"/"_s << u"/"_s;
        QTest::addRow("%s, folder with spaces and Japanese", codeName)
            << codePage << u"/home/user/ビルド dir"_s << u"/home/user/ビルド dir/"_s;
    }
}

void TestBrowserRegistrations::addMenuExtension_data()
{
    addFolderAndCodecColumns();
}

void TestBrowserRegistrations::addMenuExtension()
{
    QFETCH(AnsiCodec::CodePage, codePage);
    QFETCH(QString, programFolder);
    QFETCH(QString, joined);

    AnsiCodec::select(codePage);
    QVERIFY(!store().keyExists(RegRoot::CurrentUser, u"Software"_s));
    registrations(programFolder).addMenuExtension();

    QStringList subKeys;
    QCOMPARE(store().enumSubKeys(RegRoot::CurrentUser, u"Software\\Microsoft\\Internet Explorer\\MenuExt"_s,
                                 subKeys),
             qint32(RegistryStore::Success));
    QCOMPARE(subKeys, QStringList{kCaption});
    compareValues(kMenuExtKey, {
                                   {QString(), RegistryStore::RegSz, joined + u"menuext.html"_s},
                                   {u"Contexts"_s, RegistryStore::RegDword, QString(), 63},
                                   {u"Flags"_s, RegistryStore::RegDword, QString(), 0},
                                   {u"Exe"_s, RegistryStore::RegSz, joined + u"H-Linvera"_s},
                               });
    QVERIFY(!store().keyExists(RegRoot::CurrentUser, kToolbarKey));
}

void TestBrowserRegistrations::addToolbarButton_data()
{
    addFolderAndCodecColumns();
}

void TestBrowserRegistrations::addToolbarButton()
{
    QFETCH(AnsiCodec::CodePage, codePage);
    QFETCH(QString, programFolder);
    QFETCH(QString, joined);

    AnsiCodec::select(codePage);
    registrations(programFolder).addToolbarButton();

    compareValues(kToolbarKey,
                  {
                      {QString(), RegistryStore::RegSz, kCaption},
                      {u"ButtonText"_s, RegistryStore::RegSz, kCaption},
                      {u"Default Visible"_s, RegistryStore::RegSz, u"Yes"_s},
                      {u"HotIcon"_s, RegistryStore::RegSz, joined + u"linvera-ie.ico"_s},
                      {u"Icon"_s, RegistryStore::RegSz, joined + u"linvera-ie.ico"_s},
                      {u"Script"_s, RegistryStore::RegSz, joined + u"toolbar.html"_s},
                      {u"Exe"_s, RegistryStore::RegSz, joined + u"H-Linvera"_s},
                      {u"CLSID"_s, RegistryStore::RegSz, u"{1FBA04EE-3024-11D2-8F1F-0000F87ABD16}"_s},
                  });
    QVERIFY(!store().keyExists(RegRoot::CurrentUser, kMenuExtKey));
}

void TestBrowserRegistrations::addTwiceKeepsOneSet()
{
    registrations().addMenuExtension();
    registrations(u"/usr/lib/halvex-linvera"_s).addMenuExtension();
    compareValues(kMenuExtKey,
                  {
                      {QString(), RegistryStore::RegSz, u"/usr/lib/halvex-linvera/menuext.html"_s},
                      {u"Contexts"_s, RegistryStore::RegDword, QString(), 63},
                      {u"Flags"_s, RegistryStore::RegDword, QString(), 0},
                      {u"Exe"_s, RegistryStore::RegSz, u"/usr/lib/halvex-linvera/H-Linvera"_s},
                  });
}

void TestBrowserRegistrations::removeMenuExtension()
{
    registrations().addMenuExtension();
    registrations().addToolbarButton();
    registrations().removeMenuExtension();
    QVERIFY(!store().keyExists(RegRoot::CurrentUser, kMenuExtKey));
    QVERIFY(store().keyExists(RegRoot::CurrentUser, u"Software\\Microsoft\\Internet Explorer\\MenuExt"_s));
    // The other entry stays as it was.
    QList<RegistryStore::Value> values;
    QCOMPARE(store().enumValues(RegRoot::CurrentUser, kToolbarKey, values), qint32(RegistryStore::Success));
    QCOMPARE(values.size(), 8);
}

void TestBrowserRegistrations::removeToolbarButton()
{
    registrations().addToolbarButton();
    registrations().removeToolbarButton();
    QVERIFY(!store().keyExists(RegRoot::CurrentUser, kToolbarKey));
    quint32 type = 0;
    QByteArray data;
    QCOMPARE(store().queryValue(RegRoot::CurrentUser, kToolbarKey, u"CLSID"_s, type, data),
             qint32(RegistryStore::FileNotFound));
    QVERIFY(store().keyExists(RegRoot::CurrentUser, u"Software\\Microsoft\\Internet Explorer\\Extensions"_s));
}

void TestBrowserRegistrations::removeWhatIsMissingChangesNothing()
{
    QVERIFY(linvera::SetRegString(RegRoot::CurrentUser, u"Software\\Other"_s, u"Keep"_s, u"me"_s));
    registrations().removeMenuExtension();
    registrations().removeToolbarButton();
    QStringList subKeys;
    QCOMPARE(store().enumSubKeys(RegRoot::CurrentUser, u"Software"_s, subKeys),
             qint32(RegistryStore::Success));
    QCOMPARE(subKeys, QStringList{u"Other"_s});
    QString kept;
    QVERIFY(linvera::GetRegValue(RegRoot::CurrentUser, u"Software\\Other"_s, u"Keep"_s, kept));
    QCOMPARE(kept, u"me"_s);
    for (const auto& target : targets())
        QVERIFY(!QFileInfo::exists(target.folder));
}

void TestBrowserRegistrations::removeKeyWithSubkeyKeepsIt()
{
    registrations().addMenuExtension();
    linvera::CreateRegKey(RegRoot::CurrentUser, kMenuExtKey + u"\\Child"_s);
    registrations().removeMenuExtension();
    // A key that still has subkeys is not deleted; the two numbers are gone all the same.
    compareValues(kMenuExtKey, {
                                   {QString(), RegistryStore::RegSz, u"/opt/kemo/menuext.html"_s},
                                   {u"Exe"_s, RegistryStore::RegSz, u"/opt/kemo/H-Linvera"_s},
                               });
}

void TestBrowserRegistrations::manifestsFollowTheEntries()
{
    const NativeMessagingManifests manifests(u"/opt/kemo"_s, targets());
    const auto allPresent = [&] {
        for (const auto& target : targets()) {
            if (!QFile::exists(manifests.manifestPath(target)))
                return false;
        }
        return true;
    };
    const auto nonePresent = [&] {
        for (const auto& target : targets()) {
            if (QFile::exists(manifests.manifestPath(target)))
                return false;
        }
        return true;
    };

    QVERIFY(nonePresent());
    registrations().addMenuExtension();
    QVERIFY(allPresent());
    registrations().addToolbarButton();
    QVERIFY(allPresent());
    registrations().removeMenuExtension();
    QVERIFY(allPresent()); // the toolbar button still uses the host
    registrations().removeToolbarButton();
    QVERIFY(nonePresent());
    registrations().addToolbarButton();
    QVERIFY(allPresent());
    registrations().removeToolbarButton();
    QVERIFY(nonePresent());
    // The folders stay; they belong to the browsers.
    for (const auto& target : targets())
        QVERIFY(QFileInfo(target.folder).isDir());
}

void TestBrowserRegistrations::manifestContent_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("allowedKey");
    QTest::addColumn<QString>("allowed");

    QTest::newRow("Chromium") << 0 << u"allowed_origins"_s << NativeMessagingManifests::chromiumOrigin();
    QTest::newRow("Google Chrome") << 1 << u"allowed_origins"_s << NativeMessagingManifests::chromiumOrigin();
    QTest::newRow("Firefox") << 2 << u"allowed_extensions"_s
                             << NativeMessagingManifests::firefoxExtensionId();
}

void TestBrowserRegistrations::manifestContent()
{
    QFETCH(int, index);
    QFETCH(QString, allowedKey);
    QFETCH(QString, allowed);

    const QString folder = m_dir->filePath(u"Program Files/ビルド"_s);
    registrations(folder + u'/').addMenuExtension();
    const NativeMessagingManifests manifests(folder, targets());
    const auto target = targets().at(index);
    const QString path = manifests.manifestPath(target);
    QCOMPARE(path, target.folder + u"/com.halvex.linvera.json"_s);

    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(readAll(path), &error);
    QCOMPARE(error.error, QJsonParseError::NoError);
    const QJsonObject object = document.object();
    QCOMPARE(object.value(u"name"_s).toString(), u"com.halvex.linvera"_s);
    QCOMPARE(object.value(u"path"_s).toString(), folder + u"/linvera-native-host"_s);
    QCOMPARE(object.value(u"type"_s).toString(), u"stdio"_s);
    QVERIFY(!object.value(u"description"_s).toString().isEmpty());
    QCOMPARE(object.value(allowedKey).toArray(), QJsonArray{allowed});
    QCOMPARE(object.size(), 5);
    QVERIFY(NativeMessagingManifests::isOurs(path));
    // Written through a temporary file that was renamed: nothing else is left in the folder.
    QCOMPARE(QDir(target.folder).entryList(QDir::Files | QDir::Hidden),
             QStringList{u"com.halvex.linvera.json"_s});
}

void TestBrowserRegistrations::foreignManifestIsLeftAlone_data()
{
    QTest::addColumn<QByteArray>("content");

    QTest::newRow("another host's manifest") << QByteArrayLiteral(
        "{\"name\": \"com.halvex.other\", \"path\": \"/opt/other/linvera-native-host\"}");
    QTest::newRow("our name, another program")
        << QByteArrayLiteral("{\"name\": \"com.halvex.linvera\", \"path\": \"/usr/bin/evil\"}");
    QTest::newRow("not JSON") << QByteArrayLiteral("this is not a manifest");
    QTest::newRow("empty file") << QByteArray();
}

void TestBrowserRegistrations::foreignManifestIsLeftAlone()
{
    QFETCH(QByteArray, content);

    const NativeMessagingManifests manifests(u"/opt/kemo"_s, targets());
    const auto firefox = targets().at(2);
    QVERIFY(QDir().mkpath(firefox.folder));
    const QString path = manifests.manifestPath(firefox);
    QVERIFY(writeFile(path, content));
    const QString neighbour = QDir(firefox.folder).filePath(u"org.other.host.json"_s);
    QVERIFY(writeFile(neighbour, QByteArrayLiteral("{}")));

    registrations().addMenuExtension();
    QCOMPARE(readAll(path), content);
    QVERIFY(NativeMessagingManifests::isOurs(manifests.manifestPath(targets().at(0))));
    registrations().removeMenuExtension();
    QCOMPARE(readAll(path), content);
    QCOMPARE(readAll(neighbour), QByteArrayLiteral("{}"));
    QVERIFY(!QFile::exists(manifests.manifestPath(targets().at(0))));
}

void TestBrowserRegistrations::manifestInPlaceIsNotWrittenAgain_data()
{
    QTest::addColumn<QString>("earlierFolder"); // the program folder of the first install
    QTest::addColumn<bool>("replaced");
    QTest::newRow("same program: left as it is") << u"/opt/kemo"_s << false;
    QTest::newRow("program moved: written anew") << u"/opt/old-kemo"_s << true;
}

void TestBrowserRegistrations::manifestInPlaceIsNotWrittenAgain()
{
    QFETCH(QString, earlierFolder);
    QFETCH(bool, replaced);
    const auto inode = [](const QString& path) {
        struct stat st = {};
        return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : ino_t(0);
    };
    const NativeMessagingManifests earlier(earlierFolder, targets());
    QVERIFY(earlier.install());
    const NativeMessagingManifests now(u"/opt/kemo"_s, targets());
    const QString path = now.manifestPath(targets().at(2));
    const ino_t before = inode(path);
    QVERIFY(before != 0);
    QVERIFY(now.install());
    // A file written anew through a temporary file is a new inode.
    QCOMPARE(inode(path) != before, replaced);
    QJsonParseError error;
    const QJsonObject object = QJsonDocument::fromJson(readAll(path), &error).object();
    QCOMPARE(object.value(u"path"_s).toString(), u"/opt/kemo/linvera-native-host"_s);
}

void TestBrowserRegistrations::manifestFolderMadeWhenMissing()
{
    const NativeMessagingManifests manifests(u"/opt/kemo"_s, targets());
    for (const auto& target : targets())
        QVERIFY(!QFileInfo::exists(target.folder));
    QVERIFY(manifests.install());
    QVERIFY(manifests.install());
    for (const auto& target : targets())
        QVERIFY(NativeMessagingManifests::isOurs(manifests.manifestPath(target)));
    QVERIFY(manifests.remove());
    QVERIFY(manifests.remove());
}

void TestBrowserRegistrations::userTargetsFollowTheEnvironment()
{
    PrivateHome home;
    QVERIFY(home.isValid());
    home.apply();
    const QList<NativeMessagingManifests::Target> targets = NativeMessagingManifests::userTargets();
    QCOMPARE(targets.size(), 3);
    QCOMPARE(targets.at(0).folder, home.configHome() + u"/chromium/NativeMessagingHosts"_s);
    QCOMPARE(targets.at(0).family, NativeMessagingManifests::Family::Chromium);
    QCOMPARE(targets.at(1).folder, home.configHome() + u"/google-chrome/NativeMessagingHosts"_s);
    QCOMPARE(targets.at(1).family, NativeMessagingManifests::Family::Chromium);
    QCOMPARE(targets.at(2).folder, home.path() + u"/.mozilla/native-messaging-hosts"_s);
    QCOMPARE(targets.at(2).family, NativeMessagingManifests::Family::Firefox);
}

void TestBrowserRegistrations::freeFunctionsUseTheUsersFolders()
{
    // Writes into the user's browser folders: a home of its own stands in for the user's.
    PrivateHome home;
    QVERIFY(home.isValid());
    home.apply();

    const QString program = QCoreApplication::applicationDirPath();
    const NativeMessagingManifests manifests;
    QCOMPARE(manifests.hostPath(), program + u"/linvera-native-host"_s);

    linvera::AddMenuExtension();
    linvera::AddToolbarButton();
    QString exe;
    QVERIFY(linvera::GetRegValue(RegRoot::CurrentUser, kMenuExtKey, u"Exe"_s, exe));
    QCOMPARE(exe, program + u"/H-Linvera"_s);
    QVERIFY(linvera::GetRegValue(RegRoot::CurrentUser, kToolbarKey, u"Script"_s, exe));
    QCOMPARE(exe, program + u"/toolbar.html"_s);
    for (const auto& target : NativeMessagingManifests::userTargets()) {
        QVERIFY(target.folder.startsWith(home.path() + u'/'));
        QVERIFY(NativeMessagingManifests::isOurs(manifests.manifestPath(target)));
    }

    linvera::RemoveMenuExtension();
    linvera::RemoveToolbarButton();
    QVERIFY(!store().keyExists(RegRoot::CurrentUser, kMenuExtKey));
    QVERIFY(!store().keyExists(RegRoot::CurrentUser, kToolbarKey));
    for (const auto& target : NativeMessagingManifests::userTargets())
        QVERIFY(!QFile::exists(manifests.manifestPath(target)));
}

QTEST_GUILESS_MAIN(TestBrowserRegistrations)
#include "tst_browserregistrations.moc"
