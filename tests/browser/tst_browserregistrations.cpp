#include "PrivateHome.h"
#include "TempRegistry.h"
#include "TestFiles.h"
#include "browser/BrowserRegistrations.h"
#include "browser/NativeMessagingManifests.h"
#include "platform/AnsiCodec.h"
#include "platform/RegAccess.h"
#include "platform/RegistryStore.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <algorithm>
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
using linvera::test::writeFile;

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
    void manifestsOnlyForPresentBrowsers_data();
    void manifestsOnlyForPresentBrowsers();
    void manifestNamingAnotherHostIsRewritten();
    void manifestAlreadyInPlaceIsNotRewritten();
    void extensionIdsMatchTheExtension();
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
    bool makeBrowserFolders(const QStringList& which = {});
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
    QVERIFY(makeBrowserFolders());
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
    const auto chromium = [this](const QString& browser) {
        const QString folder = m_dir->filePath(u"config/"_s + browser);
        return NativeMessagingManifests::Target{Family::Chromium, folder + u"/NativeMessagingHosts"_s,
                                                folder};
    };
    return {
        chromium(u"chromium"_s),
        chromium(u"google-chrome"_s),
        {Family::Firefox, m_dir->filePath(u"mozilla/native-messaging-hosts"_s),
         m_dir->filePath(u"mozilla"_s)},
    };
}

bool TestBrowserRegistrations::makeBrowserFolders(const QStringList& which)
{
    // Every browser by default; else those whose folder name ends as given.
    for (const auto& target : targets()) {
        const bool wanted =
            which.isEmpty() || std::any_of(which.begin(), which.end(), [&](const QString& name) {
                return target.browserFolder.endsWith(u'/' + name);
            });
        if (wanted && !QDir().mkpath(target.browserFolder))
            return false;
    }
    return true;
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

void TestBrowserRegistrations::manifestsOnlyForPresentBrowsers_data()
{
    QTest::addColumn<QStringList>("present");

    QTest::newRow("none") << QStringList{};
    QTest::newRow("Chromium only") << QStringList{u"chromium"_s};
    QTest::newRow("Google Chrome and Firefox") << QStringList{u"google-chrome"_s, u"mozilla"_s};
    QTest::newRow("Firefox only") << QStringList{u"mozilla"_s};
}

void TestBrowserRegistrations::manifestsOnlyForPresentBrowsers()
{
    QFETCH(QStringList, present);

    // A fresh set of folders holding only the browsers of this row.
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    if (!present.isEmpty())
        QVERIFY(makeBrowserFolders(present));
    const NativeMessagingManifests manifests(u"/opt/kemo"_s, targets());

    registrations().addToolbarButton();
    for (const auto& target : targets()) {
        const bool has = present.contains(QFileInfo(target.browserFolder).fileName());
        QCOMPARE(NativeMessagingManifests::isOurs(manifests.manifestPath(target)), has);
        // No folder is made for a browser the user does not have.
        QCOMPARE(QFileInfo::exists(target.browserFolder), has);
    }
    registrations().removeToolbarButton();
    for (const auto& target : targets())
        QVERIFY(!QFile::exists(manifests.manifestPath(target)));
}

void TestBrowserRegistrations::manifestNamingAnotherHostIsRewritten()
{
    // A manifest left by an earlier install in another folder.
    const NativeMessagingManifests old(u"/usr/local/lib/halvex-linvera"_s, targets());
    QVERIFY(old.install());
    const NativeMessagingManifests current(u"/opt/kemo"_s, targets());
    for (const auto& target : targets())
        QCOMPARE(QJsonDocument::fromJson(readAll(current.manifestPath(target))).object().value(u"path"_s),
                 u"/usr/local/lib/halvex-linvera/linvera-native-host"_s);

    registrations().addMenuExtension();
    for (const auto& target : targets())
        QCOMPARE(readAll(current.manifestPath(target)), current.manifest(target.family));
}

void TestBrowserRegistrations::manifestAlreadyInPlaceIsNotRewritten()
{
    const NativeMessagingManifests manifests(u"/opt/kemo"_s, targets());
    QVERIFY(manifests.install());
    const QString path = manifests.manifestPath(targets().at(0));
    struct stat before
    {};
    QCOMPARE(::stat(QFile::encodeName(path).constData(), &before), 0);

    // Every start applies the stored check boxes again: the same file stays, not a new copy.
    registrations().addMenuExtension();
    registrations().addToolbarButton();
    struct stat after
    {};
    QCOMPARE(::stat(QFile::encodeName(path).constData(), &after), 0);
    QCOMPARE(after.st_ino, before.st_ino);
    QCOMPARE(readAll(path), manifests.manifest(NativeMessagingManifests::Family::Chromium));
}

void TestBrowserRegistrations::extensionIdsMatchTheExtension()
{
    const auto manifestOf = [](const QString& variant) {
        return QJsonDocument::fromJson(
                   readAll(QStringLiteral(LINVERA_EXTENSION_SOURCE) + u'/' + variant + u"/manifest.json"_s))
            .object();
    };
    const QJsonObject chromium = manifestOf(u"chromium"_s);
    QVERIFY(!chromium.isEmpty());
    // A Chromium extension id: the first 128 bits of SHA-256 over the public key, one letter a-p
    // for each hex digit.
    const QByteArray key = QByteArray::fromBase64(chromium.value(u"key"_s).toString().toLatin1(),
                                                  QByteArray::AbortOnBase64DecodingErrors);
    QVERIFY(key.size() > 200);
    const QByteArray digest = QCryptographicHash::hash(key, QCryptographicHash::Sha256).toHex().left(32);
    QString id;
    for (const char digit : digest)
        id += QChar(u'a' + QByteArray(1, digit).toInt(nullptr, 16));
    QCOMPARE(NativeMessagingManifests::chromiumExtensionId(), id);
    QCOMPARE(NativeMessagingManifests::chromiumOrigin(), u"chrome-extension://"_s + id + u'/');

    const QJsonObject firefox = manifestOf(u"firefox"_s);
    QCOMPARE(firefox.value(u"browser_specific_settings"_s)[u"gecko"_s][u"id"_s].toString(),
             NativeMessagingManifests::firefoxExtensionId());
    // Both show the same caption as the registrations.
    for (const QJsonObject& manifest : {chromium, firefox}) {
        QCOMPARE(manifest.value(u"action"_s)[u"default_title"_s].toString(), kCaption);
        QVERIFY(manifest.value(u"permissions"_s).toArray().contains(u"nativeMessaging"_s));
    }
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
    for (const auto& target : targets()) {
        QVERIFY(QFileInfo(target.browserFolder).isDir());
        QVERIFY(!QFileInfo::exists(target.folder));
    }
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
    const QStringList chromiumFamily{u"chromium"_s, u"google-chrome"_s, u"BraveSoftware/Brave-Browser"_s,
                                     u"vivaldi"_s, u"microsoft-edge"_s};
    QCOMPARE(targets.size(), chromiumFamily.size() + 1);
    for (qsizetype i = 0; i < chromiumFamily.size(); ++i) {
        const QString browser = home.configHome() + u'/' + chromiumFamily.at(i);
        QCOMPARE(targets.at(i).browserFolder, browser);
        QCOMPARE(targets.at(i).folder, browser + u"/NativeMessagingHosts"_s);
        QCOMPARE(targets.at(i).family, NativeMessagingManifests::Family::Chromium);
    }
    QCOMPARE(targets.last().browserFolder, home.path() + u"/.mozilla"_s);
    QCOMPARE(targets.last().folder, home.path() + u"/.mozilla/native-messaging-hosts"_s);
    QCOMPARE(targets.last().family, NativeMessagingManifests::Family::Firefox);
}

void TestBrowserRegistrations::freeFunctionsUseTheUsersFolders()
{
    // Writes into the user's browser folders: a home of its own stands in for the user's.
    PrivateHome home;
    QVERIFY(home.isValid());
    home.apply();

    const QString program = QCoreApplication::applicationDirPath();
    // The user has Vivaldi and Firefox, nothing else.
    QVERIFY(QDir().mkpath(home.configHome() + u"/vivaldi"_s));
    QVERIFY(QDir().mkpath(home.path() + u"/.mozilla"_s));
    const NativeMessagingManifests manifests;
    QCOMPARE(manifests.hostPath(), program + u"/linvera-native-host"_s);

    linvera::AddMenuExtension();
    linvera::AddToolbarButton();
    QString exe;
    QVERIFY(linvera::GetRegValue(RegRoot::CurrentUser, kMenuExtKey, u"Exe"_s, exe));
    QCOMPARE(exe, program + u"/H-Linvera"_s);
    QVERIFY(linvera::GetRegValue(RegRoot::CurrentUser, kToolbarKey, u"Script"_s, exe));
    QCOMPARE(exe, program + u"/toolbar.html"_s);
    int written = 0;
    for (const auto& target : NativeMessagingManifests::userTargets()) {
        QVERIFY(target.folder.startsWith(home.path() + u'/'));
        const bool present =
            target.browserFolder.endsWith(u"/vivaldi"_s) || target.browserFolder.endsWith(u"/.mozilla"_s);
        QCOMPARE(NativeMessagingManifests::isOurs(manifests.manifestPath(target)), present);
        QCOMPARE(QFileInfo::exists(target.browserFolder), present);
        written += present ? 1 : 0;
    }
    QCOMPARE(written, 2);

    linvera::RemoveMenuExtension();
    linvera::RemoveToolbarButton();
    QVERIFY(!store().keyExists(RegRoot::CurrentUser, kMenuExtKey));
    QVERIFY(!store().keyExists(RegRoot::CurrentUser, kToolbarKey));
    for (const auto& target : NativeMessagingManifests::userTargets())
        QVERIFY(!QFile::exists(manifests.manifestPath(target)));
}

QTEST_GUILESS_MAIN(TestBrowserRegistrations)
#include "tst_browserregistrations.moc"
