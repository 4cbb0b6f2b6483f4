#include "TempRegistry.h"
#include "TestEnvironment.h"
#include "TestFiles.h"
#include "platform/RegistryStore.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <sqlite3.h>

#include <chrono>
#include <memory>
#include <sys/stat.h>
#include <thread>

using namespace Qt::StringLiterals;
using linvera::platform::RegistryStore;
using linvera::platform::RegRoot;
using linvera::test::DumpRegistry;
using linvera::test::fileDigest;
using linvera::test::fileMode;
using linvera::test::writeFile;

Q_DECLARE_METATYPE(RegRoot)

namespace {

const QString kConcurrentKey = QStringLiteral("Software\\HALVEX\\concurrent");

QString writerProgram()
{
    return linvera::test::programDir() + u"/registry_writer";
}

// The looping writer's value for one generation (see registry_writer.cpp).
QByteArray loopPayload(quint32 generation)
{
    const QByteArray unit = QByteArray::number(generation).rightJustified(10, '0') + ';';
    return unit.repeated(3000);
}

} // namespace

class TestRegistryStore : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void keyPaths_data();
    void keyPaths();
    void badPathsCreateNothing_data();
    void badPathsCreateNothing();
    void rootsAreApart_data();
    void rootsAreApart();
    void valueNames_data();
    void valueNames();
    void valueDataIsKeptExactly_data();
    void valueDataIsKeptExactly();
    void rewritingKeepsFirstSpelling();
    void rewritingChangesTypeOrData_data();
    void rewritingChangesTypeOrData();
    void setValueNeedsKeyUnlessAsked_data();
    void setValueNeedsKeyUnlessAsked();
    void deleteKey_data();
    void deleteKey();
    void deleteValue_data();
    void deleteValue();
    void deleteTree_data();
    void deleteTree();
    void enumerationOrder();
    void persistsAcrossInstances();
    void defaultPathFollowsXdg();
    void sharedOverride();
    void permissions_data();
    void permissions();
    void brokenFile_data();
    void brokenFile();
    void reopensWhenFileBecomesUsable_data();
    void reopensWhenFileBecomesUsable();
    void deletedFileIsCreatedAgain_data();
    void deletedFileIsCreatedAgain();
    void waitsForOtherWriter_data();
    void waitsForOtherWriter();
    void concurrentWriters_data();
    void concurrentWriters();
    void killedWriterLeavesCompleteValue_data();
    void killedWriterLeavesCompleteValue();

private:
    QString storePath() const { return m_dir->filePath(QStringLiteral("reg/registry.sqlite3")); }
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestRegistryStore::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestRegistryStore::keyPaths_data()
{
    QTest::addColumn<QString>("created");
    QTest::addColumn<QString>("opened");
    QTest::addColumn<qint32>("status");
    const qint32 ok = RegistryStore::Success;
    const qint32 missing = RegistryStore::FileNotFound;
    QTest::newRow("same spelling") << u"Software\\A"_s << u"Software\\A"_s << ok;
    QTest::newRow("leading backslash") << u"\\Software\\A"_s << u"Software\\A"_s << ok;
    QTest::newRow("trailing backslash") << u"Software\\A\\"_s << u"\\Software\\A\\"_s << ok;
    QTest::newRow("ASCII case") << u"Software\\HALVEX"_s << u"SOFTWARE\\halvex"_s << ok;
    QTest::newRow("full-width letters") << u"ＡＢＣ"_s << u"ａｂｃ"_s << ok;
    QTest::newRow("Greek final sigma") << u"ΟΔΟΣ"_s << u"οδος"_s << ok;
    QTest::newRow("Cyrillic") << u"Ключ"_s << u"КЛЮЧ"_s << ok;
    QTest::newRow("Japanese") << u"設定\\表示"_s << u"設定\\表示"_s << ok;
    QTest::newRow("katakana is not hiragana") << u"カナ"_s << u"かな"_s << missing;
    QTest::newRow("half-width kana is not full-width") << u"ｶﾅ"_s << u"カナ"_s << missing;
    QTest::newRow("parent of a created key") << u"Software\\A\\B"_s << u"Software\\A"_s << ok;
    QTest::newRow("child of a created key") << u"Software\\A"_s << u"Software\\A\\B"_s << missing;
    QTest::newRow("sibling") << u"Software\\A"_s << u"Software\\B"_s << missing;
    QTest::newRow("trailing space is part of the name") << u"Software\\A"_s << u"Software\\A "_s << missing;
    QTest::newRow("root itself") << u"Software"_s << QString() << ok;
    QTest::newRow("root as backslash") << u"Software"_s << u"\\"_s << ok;
    QTest::newRow("empty name inside") << u"a\\b"_s << u"a\\\\b"_s << qint32(RegistryStore::BadPathname);
    QTest::newRow("two leading backslashes") << u"a"_s << u"\\\\a"_s << qint32(RegistryStore::BadPathname);
    QTest::newRow("name of 255 units") << QString(255, u'k') << QString(255, u'K') << ok;
    QTest::newRow("name of 256 units")
        << u"a"_s << QString(256, u'k') << qint32(RegistryStore::InvalidParameter);
}

void TestRegistryStore::keyPaths()
{
    QFETCH(QString, created);
    QFETCH(QString, opened);
    QFETCH(qint32, status);
    RegistryStore store(storePath());
    QCOMPARE(store.createKey(RegRoot::CurrentUser, created), qint32(RegistryStore::Success));
    QCOMPARE(store.openKey(RegRoot::CurrentUser, opened), status);
}

void TestRegistryStore::badPathsCreateNothing_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<qint32>("status");
    QTest::newRow("empty name inside") << u"Software\\\\A"_s << qint32(RegistryStore::BadPathname);
    QTest::newRow("three backslashes") << u"\\\\\\"_s << qint32(RegistryStore::BadPathname);
    QTest::newRow("name too long") << (u"Software\\"_s + QString(256, u'x'))
                                   << qint32(RegistryStore::InvalidParameter);
}

void TestRegistryStore::badPathsCreateNothing()
{
    QFETCH(QString, path);
    QFETCH(qint32, status);
    RegistryStore store(storePath());
    const QStringList before = DumpRegistry(store);
    QCOMPARE(store.createKey(RegRoot::CurrentUser, path), status);
    QCOMPARE(store.setValue(RegRoot::CurrentUser, path, u"v"_s, RegistryStore::RegSz, "x",
                            RegistryStore::CreateMode::CreateMissingKeys),
             status);
    QCOMPARE(DumpRegistry(store), before);
}

void TestRegistryStore::rootsAreApart_data()
{
    QTest::addColumn<RegRoot>("written");
    QTest::addColumn<RegRoot>("read");
    QTest::addColumn<qint32>("status");
    const auto ok = qint32(RegistryStore::Success);
    const auto missing = qint32(RegistryStore::FileNotFound);
    QTest::newRow("HKCU read in HKCU") << RegRoot::CurrentUser << RegRoot::CurrentUser << ok;
    QTest::newRow("HKCU read in HKLM") << RegRoot::CurrentUser << RegRoot::LocalMachine << missing;
    QTest::newRow("HKCU read in HKCR") << RegRoot::CurrentUser << RegRoot::ClassesRoot << missing;
    QTest::newRow("HKLM read in HKCU") << RegRoot::LocalMachine << RegRoot::CurrentUser << missing;
    QTest::newRow("HKCR read in HKCR") << RegRoot::ClassesRoot << RegRoot::ClassesRoot << ok;
    QTest::newRow("HKCR read in HKLM") << RegRoot::ClassesRoot << RegRoot::LocalMachine << missing;
}

void TestRegistryStore::rootsAreApart()
{
    QFETCH(RegRoot, written);
    QFETCH(RegRoot, read);
    QFETCH(qint32, status);
    RegistryStore store(storePath());
    QCOMPARE(store.setValue(written, u"Software\\Same"_s, u"v"_s, RegistryStore::RegSz, "x",
                            RegistryStore::CreateMode::CreateMissingKeys),
             qint32(RegistryStore::Success));
    quint32 type = 0;
    QByteArray data;
    QCOMPARE(store.queryValue(read, u"Software\\Same"_s, u"v"_s, type, data), status);
    QCOMPARE(store.openKey(read, u"Software"_s), status);
    QStringList subkeys;
    QCOMPARE(store.enumSubKeys(read, QString(), subkeys), qint32(RegistryStore::Success));
    QCOMPARE(subkeys.size(), status == RegistryStore::Success ? 1 : 0);
}

void TestRegistryStore::valueNames_data()
{
    QTest::addColumn<QString>("written");
    QTest::addColumn<QString>("read");
    QTest::addColumn<bool>("found");
    QTest::newRow("same spelling") << u"ProxyEnable"_s << u"ProxyEnable"_s << true;
    QTest::newRow("ASCII case") << u"ProxyEnable"_s << u"PROXYENABLE"_s << true;
    QTest::newRow("default value") << QString() << u""_s << true;
    QTest::newRow("default is not named") << QString() << u"(Default)"_s << false;
    QTest::newRow("named is not default") << u"a"_s << QString() << false;
    QTest::newRow("full-width letters") << u"ＶＡＬ"_s << u"ｖａｌ"_s << true;
    QTest::newRow("Japanese") << u"最終通知"_s << u"最終通知"_s << true;
    QTest::newRow("backslash is part of a value name") << u"a\\b"_s << u"A\\B"_s << true;
    QTest::newRow("trailing space differs") << u"a"_s << u"a "_s << false;
    QTest::newRow("16383 units") << QString(16383, u'n') << QString(16383, u'N') << true;
}

void TestRegistryStore::valueNames()
{
    QFETCH(QString, written);
    QFETCH(QString, read);
    QFETCH(bool, found);
    RegistryStore store(storePath());
    QCOMPARE(store.createKey(RegRoot::LocalMachine, u"SOFTWARE\\HALVEX"_s), qint32(RegistryStore::Success));
    QCOMPARE(
        store.setValue(RegRoot::LocalMachine, u"SOFTWARE\\HALVEX"_s, written, RegistryStore::RegSz, "data"),
        qint32(RegistryStore::Success));
    quint32 type = 0;
    QByteArray data;
    QCOMPARE(store.queryValue(RegRoot::LocalMachine, u"software\\halvex"_s, read, type, data),
             qint32(found ? RegistryStore::Success : RegistryStore::FileNotFound));
    QCOMPARE(data, found ? QByteArray("data") : QByteArray());
}

void TestRegistryStore::valueDataIsKeptExactly_data()
{
    QTest::addColumn<quint32>("type");
    QTest::addColumn<QByteArray>("data");
    QByteArray allBytes;
    for (int i = 0; i < 256; ++i)
        allBytes.append(char(i));
    QTest::newRow("REG_SZ with NUL inside") << quint32(RegistryStore::RegSz) << QByteArray("abc\0def\0", 8);
    QTest::newRow("REG_SZ without NUL") << quint32(RegistryStore::RegSz) << QByteArray("abc");
    QTest::newRow("REG_DWORD") << quint32(RegistryStore::RegDword) << QByteArray("\x05\x01\x00\x00", 4);
    QTest::newRow("empty data") << quint32(RegistryStore::RegBinary) << QByteArray();
    QTest::newRow("every byte value") << quint32(RegistryStore::RegBinary) << allBytes;
    QTest::newRow("shift_jis bytes") << quint32(RegistryStore::RegSz) << QByteArray("\x90\xdd\x92\xe8\0", 5);
    QTest::newRow("200 KiB") << quint32(RegistryStore::RegBinary) << QByteArray(200 * 1024, '\x7f');
    QTest::newRow("type 0xFFFFFFFF") << quint32(0xFFFFFFFFu) << QByteArray("z");
    QTest::newRow("REG_NONE") << quint32(RegistryStore::RegNone) << QByteArray("\0", 1);
}

void TestRegistryStore::valueDataIsKeptExactly()
{
    QFETCH(quint32, type);
    QFETCH(QByteArray, data);
    {
        RegistryStore store(storePath());
        QCOMPARE(store.setValue(RegRoot::CurrentUser, u"k"_s, u"v"_s, type, data,
                                RegistryStore::CreateMode::CreateMissingKeys),
                 qint32(RegistryStore::Success));
    }
    RegistryStore store(storePath());
    quint32 readType = 1234;
    QByteArray readData("stale");
    QCOMPARE(store.queryValue(RegRoot::CurrentUser, u"k"_s, u"v"_s, readType, readData),
             qint32(RegistryStore::Success));
    QCOMPARE(readType, type);
    QCOMPARE(readData, data);
}

void TestRegistryStore::rewritingKeepsFirstSpelling()
{
    RegistryStore store(storePath());
    QCOMPARE(store.setValue(RegRoot::CurrentUser, u"Key"_s, u"WindowLeft"_s, RegistryStore::RegSz, "1",
                            RegistryStore::CreateMode::CreateMissingKeys),
             qint32(RegistryStore::Success));
    QCOMPARE(store.setValue(RegRoot::CurrentUser, u"KEY"_s, u"windowleft"_s, RegistryStore::RegDword,
                            QByteArray("\x02\0\0\0", 4)),
             qint32(RegistryStore::Success));
    QCOMPARE(store.createKey(RegRoot::CurrentUser, u"key\\Sub"_s), qint32(RegistryStore::Success));
    QList<RegistryStore::Value> values;
    QCOMPARE(store.enumValues(RegRoot::CurrentUser, u"key"_s, values), qint32(RegistryStore::Success));
    QCOMPARE(values.size(), 1);
    QCOMPARE(values.at(0).name, u"WindowLeft"_s);
    QCOMPARE(values.at(0).type, quint32(RegistryStore::RegDword));
    QCOMPARE(values.at(0).data, QByteArray("\x02\0\0\0", 4));
    QStringList subkeys;
    QCOMPARE(store.enumSubKeys(RegRoot::CurrentUser, QString(), subkeys), qint32(RegistryStore::Success));
    QCOMPARE(subkeys, QStringList{u"Key"_s});
}

void TestRegistryStore::rewritingChangesTypeOrData_data()
{
    QTest::addColumn<quint32>("oldType");
    QTest::addColumn<QByteArray>("oldData");
    QTest::addColumn<QString>("name"); // spelling of the value name in the second write
    QTest::addColumn<quint32>("newType");
    QTest::addColumn<QByteArray>("newData");
    QTest::addColumn<bool>("written"); // whether the second write needs a write transaction
    const auto sz = quint32(RegistryStore::RegSz);
    const auto binary = quint32(RegistryStore::RegBinary);
    const auto dword = quint32(RegistryStore::RegDword);
    const QByteArray text("abc\0", 4);
    const QByteArray one("\x01\0\0\0", 4);
    const QByteArray nul("\0", 1);

    // The same bytes under another type are a change.
    QTest::newRow("type: REG_SZ to REG_BINARY") << sz << text << u"v"_s << binary << text << true;
    QTest::newRow("type: REG_BINARY to REG_SZ") << binary << text << u"v"_s << sz << text << true;
    QTest::newRow("type: REG_SZ to REG_EXPAND_SZ")
        << sz << text << u"v"_s << quint32(RegistryStore::RegExpandSz) << text << true;
    QTest::newRow("type: REG_DWORD to REG_DWORD_BIG_ENDIAN")
        << dword << one << u"v"_s << quint32(RegistryStore::RegDwordBigEndian) << one << true;
    QTest::newRow("type: REG_DWORD to REG_BINARY") << dword << one << u"v"_s << binary << one << true;
    QTest::newRow("type: empty data, REG_BINARY to REG_NONE")
        << binary << QByteArray() << u"v"_s << quint32(RegistryStore::RegNone) << QByteArray() << true;
    QTest::newRow("type: REG_NONE to 0xFFFFFFFF")
        << quint32(RegistryStore::RegNone) << nul << u"v"_s << quint32(0xFFFFFFFFu) << nul << true;
    QTest::newRow("type: same low 16 bits") << sz << text << u"v"_s << quint32(0x10001u) << text << true;
    QTest::newRow("type: other spelling of the name") << sz << text << u"V"_s << binary << text << true;

    QTest::newRow("data: one byte differs")
        << sz << QByteArray("abc") << u"v"_s << sz << QByteArray("abd") << true;
    QTest::newRow("data: a NUL more") << sz << QByteArray("abc") << u"v"_s << sz << text << true;
    QTest::newRow("data: empty to one NUL") << binary << QByteArray() << u"v"_s << binary << nul << true;
    QTest::newRow("data: one NUL to empty") << binary << nul << u"v"_s << binary << QByteArray() << true;

    // What is already stored is not written again (the program rewrites its settings on every start).
    QTest::newRow("same: REG_SZ") << sz << text << u"v"_s << sz << text << false;
    QTest::newRow("same: REG_DWORD") << dword << one << u"v"_s << dword << one << false;
    QTest::newRow("same: empty and null data")
        << binary << QByteArray() << u"v"_s << binary << QByteArray("") << false;
    QTest::newRow("same: other spelling of the name") << sz << text << u"V"_s << sz << text << false;
}

void TestRegistryStore::rewritingChangesTypeOrData()
{
    QFETCH(quint32, oldType);
    QFETCH(QByteArray, oldData);
    QFETCH(QString, name);
    QFETCH(quint32, newType);
    QFETCH(QByteArray, newData);
    QFETCH(bool, written);
    const auto create = RegistryStore::CreateMode::CreateMissingKeys;
    RegistryStore store(storePath(), 0); // no waiting: a write blocked by another writer says Busy
    QCOMPARE(store.setValue(RegRoot::LocalMachine, u"SOFTWARE\\HALVEX"_s, u"v"_s, oldType, oldData, create),
             qint32(RegistryStore::Success));

    // Another process holds the write lock. What is stored already needs no write; a change does.
    sqlite3* other = nullptr;
    QCOMPARE(sqlite3_open(QFile::encodeName(storePath()).constData(), &other), SQLITE_OK);
    const auto closeOther = qScopeGuard([other] { sqlite3_close(other); });
    QCOMPARE(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    QCOMPARE(store.setValue(RegRoot::LocalMachine, u"software\\halvex"_s, name, newType, newData, create),
             qint32(written ? RegistryStore::Busy : RegistryStore::Success));
    QCOMPARE(sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr), SQLITE_OK);
    if (written) {
        QCOMPARE(store.setValue(RegRoot::LocalMachine, u"software\\halvex"_s, name, newType, newData, create),
                 qint32(RegistryStore::Success));
    }

    RegistryStore fresh(storePath()); // reads the file, as another process would
    for (RegistryStore* reader : {&store, &fresh}) {
        QList<RegistryStore::Value> values;
        QCOMPARE(reader->enumValues(RegRoot::LocalMachine, u"SOFTWARE\\HALVEX"_s, values),
                 qint32(RegistryStore::Success));
        QCOMPARE(values.size(), 1);
        QCOMPARE(values.at(0).name, u"v"_s);
        QCOMPARE(values.at(0).type, newType);
        QCOMPARE(values.at(0).data, newData);
    }
}

void TestRegistryStore::setValueNeedsKeyUnlessAsked_data()
{
    QTest::addColumn<bool>("create");
    QTest::addColumn<qint32>("status");
    QTest::newRow("missing key is an error") << false << qint32(RegistryStore::FileNotFound);
    QTest::newRow("missing keys are created") << true << qint32(RegistryStore::Success);
}

void TestRegistryStore::setValueNeedsKeyUnlessAsked()
{
    QFETCH(bool, create);
    QFETCH(qint32, status);
    RegistryStore store(storePath());
    const auto mode =
        create ? RegistryStore::CreateMode::CreateMissingKeys : RegistryStore::CreateMode::RequireKey;
    QCOMPARE(store.setValue(RegRoot::LocalMachine, u"SOFTWARE\\HALVEX\\linvera\\param"_s, u"_Dummy"_s,
                            RegistryStore::RegSz, " ", mode),
             status);
    QCOMPARE(store.openKey(RegRoot::LocalMachine, u"SOFTWARE\\HALVEX\\linvera\\param"_s), status);
    QCOMPARE(store.openKey(RegRoot::LocalMachine, u"SOFTWARE"_s), status);
}

namespace {
// Software\A (value x), Software\A\B (value y), Software\C under HKCU; HKLM\Software\A.
void buildTree(RegistryStore& store)
{
    const auto create = RegistryStore::CreateMode::CreateMissingKeys;
    QCOMPARE(
        store.setValue(RegRoot::CurrentUser, u"Software\\A"_s, u"x"_s, RegistryStore::RegSz, "1", create),
        qint32(RegistryStore::Success));
    QCOMPARE(
        store.setValue(RegRoot::CurrentUser, u"Software\\A"_s, QString(), RegistryStore::RegSz, "d", create),
        qint32(RegistryStore::Success));
    QCOMPARE(
        store.setValue(RegRoot::CurrentUser, u"Software\\A\\B"_s, u"y"_s, RegistryStore::RegSz, "2", create),
        qint32(RegistryStore::Success));
    QCOMPARE(store.createKey(RegRoot::CurrentUser, u"Software\\C"_s), qint32(RegistryStore::Success));
    QCOMPARE(
        store.setValue(RegRoot::LocalMachine, u"Software\\A"_s, u"x"_s, RegistryStore::RegSz, "3", create),
        qint32(RegistryStore::Success));
}
} // namespace

void TestRegistryStore::deleteKey_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<qint32>("status");
    QTest::addColumn<QStringList>("gone"); // lines of the dump that the delete removes
    QTest::newRow("key with a subkey")
        << u"Software\\A"_s << qint32(RegistryStore::AccessDenied) << QStringList();
    QTest::newRow("leaf with a value")
        << u"Software\\A\\B"_s << qint32(RegistryStore::Success)
        << QStringList{u"HKEY_CURRENT_USER\\Software\\A\\B"_s, u"  y = 1:32"_s};
    QTest::newRow("leaf in other case")
        << u"SOFTWARE\\a\\b"_s << qint32(RegistryStore::Success)
        << QStringList{u"HKEY_CURRENT_USER\\Software\\A\\B"_s, u"  y = 1:32"_s};
    QTest::newRow("empty leaf") << u"Software\\C"_s << qint32(RegistryStore::Success)
                                << QStringList{u"HKEY_CURRENT_USER\\Software\\C"_s};
    QTest::newRow("missing key") << u"Software\\Z"_s << qint32(RegistryStore::FileNotFound) << QStringList();
    QTest::newRow("below a missing key")
        << u"Software\\Z\\Y"_s << qint32(RegistryStore::FileNotFound) << QStringList();
    QTest::newRow("root key") << QString() << qint32(RegistryStore::AccessDenied) << QStringList();
    QTest::newRow("bad path") << u"Software\\\\C"_s << qint32(RegistryStore::BadPathname) << QStringList();
}

void TestRegistryStore::deleteKey()
{
    QFETCH(QString, path);
    QFETCH(qint32, status);
    QFETCH(QStringList, gone);
    RegistryStore store(storePath());
    buildTree(store);
    QStringList expected = DumpRegistry(store);
    for (const QString& line : gone)
        QVERIFY2(expected.removeOne(line), qPrintable(line));
    QCOMPARE(store.deleteKey(RegRoot::CurrentUser, path), status);
    QCOMPARE(DumpRegistry(store), expected);
    if (status == RegistryStore::Success) {
        // A key made again under the same name starts without the old values.
        QCOMPARE(store.createKey(RegRoot::CurrentUser, path), qint32(RegistryStore::Success));
        QList<RegistryStore::Value> values;
        QCOMPARE(store.enumValues(RegRoot::CurrentUser, path, values), qint32(RegistryStore::Success));
        QVERIFY(values.isEmpty());
    }
}

void TestRegistryStore::deleteValue_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("name");
    QTest::addColumn<qint32>("status");
    QTest::addColumn<QString>("gone");
    QTest::newRow("named value") << u"Software\\A"_s << u"X"_s << qint32(RegistryStore::Success)
                                 << u"  x = 1:31"_s;
    QTest::newRow("default value") << u"Software\\A"_s << QString() << qint32(RegistryStore::Success)
                                   << u"   = 1:64"_s;
    QTest::newRow("missing value") << u"Software\\A"_s << u"nope"_s << qint32(RegistryStore::FileNotFound)
                                   << QString();
    QTest::newRow("missing default value")
        << u"Software\\C"_s << QString() << qint32(RegistryStore::FileNotFound) << QString();
    QTest::newRow("missing key") << u"Software\\Z"_s << u"x"_s << qint32(RegistryStore::FileNotFound)
                                 << QString();
}

void TestRegistryStore::deleteValue()
{
    QFETCH(QString, path);
    QFETCH(QString, name);
    QFETCH(qint32, status);
    QFETCH(QString, gone);
    RegistryStore store(storePath());
    buildTree(store);
    QStringList expected = DumpRegistry(store);
    if (!gone.isEmpty())
        QVERIFY(expected.removeOne(gone));
    QCOMPARE(store.deleteValue(RegRoot::CurrentUser, path, name), status);
    QCOMPARE(DumpRegistry(store), expected);
}

void TestRegistryStore::deleteTree_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<qint32>("status");
    QTest::addColumn<int>("linesLeft");
    // The full dump of buildTree has 13 lines.
    QTest::newRow("key with subkey and values") << u"software\\a"_s << qint32(RegistryStore::Success) << 8;
    QTest::newRow("whole Software") << u"Software"_s << qint32(RegistryStore::Success) << 6;
    QTest::newRow("missing") << u"Software\\Z"_s << qint32(RegistryStore::FileNotFound) << 13;
    QTest::newRow("root") << u"\\"_s << qint32(RegistryStore::AccessDenied) << 13;
}

void TestRegistryStore::deleteTree()
{
    QFETCH(QString, path);
    QFETCH(qint32, status);
    QFETCH(int, linesLeft);
    RegistryStore store(storePath());
    buildTree(store);
    QCOMPARE(DumpRegistry(store).size(), 13);
    QCOMPARE(store.deleteTree(RegRoot::CurrentUser, path), status);
    const QStringList left = DumpRegistry(store);
    QCOMPARE(left.size(), linesLeft);
    // The same path under HKLM is never touched.
    QVERIFY(left.contains(u"HKEY_LOCAL_MACHINE\\Software\\A"_s));
}

void TestRegistryStore::enumerationOrder()
{
    RegistryStore store(storePath());
    for (const QString& name : {u"b"_s, u"C"_s, u"a"_s, u"日本"_s})
        QCOMPARE(store.createKey(RegRoot::CurrentUser, u"K\\"_s + name), qint32(RegistryStore::Success));
    for (const QString& name : {u"zeta"_s, u"Alpha"_s, QString()})
        QCOMPARE(store.setValue(RegRoot::CurrentUser, u"K"_s, name, RegistryStore::RegSz, "v"),
                 qint32(RegistryStore::Success));
    QStringList subkeys;
    QCOMPARE(store.enumSubKeys(RegRoot::CurrentUser, u"k"_s, subkeys), qint32(RegistryStore::Success));
    QCOMPARE(subkeys, (QStringList{u"a"_s, u"b"_s, u"C"_s, u"日本"_s}));
    QList<RegistryStore::Value> values;
    QCOMPARE(store.enumValues(RegRoot::CurrentUser, u"k"_s, values), qint32(RegistryStore::Success));
    QCOMPARE(values.size(), 3);
    QCOMPARE(values.at(0).name, u"zeta"_s);
    QCOMPARE(values.at(1).name, u"Alpha"_s);
    QCOMPARE(values.at(2).name, QString());
    QCOMPARE(store.enumSubKeys(RegRoot::CurrentUser, u"missing"_s, subkeys),
             qint32(RegistryStore::FileNotFound));
    QVERIFY(subkeys.isEmpty());
}

void TestRegistryStore::persistsAcrossInstances()
{
    {
        RegistryStore store(storePath());
        buildTree(store);
    }
    RegistryStore first(storePath());
    RegistryStore second(storePath());
    QCOMPARE(DumpRegistry(first).size(), 13);
    QCOMPARE(second.deleteValue(RegRoot::CurrentUser, u"Software\\A"_s, u"x"_s),
             qint32(RegistryStore::Success));
    // One instance sees what another wrote.
    QCOMPARE(DumpRegistry(first), DumpRegistry(second));
    QCOMPARE(DumpRegistry(first).size(), 12);
    QString details;
    QCOMPARE(first.checkIntegrity(&details), qint32(RegistryStore::Success));
    QCOMPARE(details, u"ok"_s);
}

void TestRegistryStore::defaultPathFollowsXdg()
{
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    const QString config = m_dir->filePath(QStringLiteral("xdg-config"));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config));
    const QString path = RegistryStore::defaultFilePath();
    qputenv("XDG_CONFIG_HOME", saved);
    QCOMPARE(path, config + u"/halvex-linvera/registry.sqlite3");
}

void TestRegistryStore::sharedOverride()
{
    RegistryStore mine(storePath());
    RegistryStore* before = &RegistryStore::shared();
    {
        RegistryStore::SharedOverride scope(mine);
        QCOMPARE(&RegistryStore::shared(), &mine);
        QCOMPARE(RegistryStore::shared().createKey(RegRoot::CurrentUser, u"Via\\Shared"_s),
                 qint32(RegistryStore::Success));
    }
    QCOMPARE(&RegistryStore::shared(), before);
    QCOMPARE(mine.openKey(RegRoot::CurrentUser, u"via\\shared"_s), qint32(RegistryStore::Success));
    RegistryStore::setShared(&mine);
    QCOMPARE(&RegistryStore::shared(), &mine);
    RegistryStore::setShared(nullptr);
    QCOMPARE(&RegistryStore::shared(), before);
}

void TestRegistryStore::permissions_data()
{
    QTest::addColumn<int>("mask");
    // What is in the store's place before the first write, mode 0644.
    QTest::addColumn<QString>("existing");
    QTest::newRow("umask 022") << 022 << QString();
    QTest::newRow("umask 000") << 000 << QString();
    QTest::newRow("umask 077") << 077 << QString();
    QTest::newRow("an empty file") << 022 << u"empty"_s;
    QTest::newRow("a link to an empty file") << 022 << u"link"_s;
    QTest::newRow("a store of ours") << 022 << u"store"_s;
}

void TestRegistryStore::permissions()
{
    QFETCH(int, mask);
    QFETCH(QString, existing);
    const mode_t saved = ::umask(mode_t(mask));
    const QString folder = m_dir->filePath(QStringLiteral("config/halvex-linvera"));
    const QString path = folder + u"/registry.sqlite3";
    if (!existing.isEmpty()) {
        // The folder was there already too, private as the store makes it.
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0700) == 0);
        const QString target = existing == u"link"_s ? m_dir->filePath(u"elsewhere"_s) : path;
        if (existing == u"store"_s) {
            RegistryStore first(path);
            QCOMPARE(first.createKey(RegRoot::LocalMachine, u"SOFTWARE"_s), qint32(RegistryStore::Success));
        } else {
            QVERIFY(writeFile(target, QByteArray()));
        }
        if (target != path)
            QVERIFY(QFile::link(target, path));
        for (const QString& suffix : {QString(), u"-wal"_s, u"-shm"_s}) {
            if (QFile::exists(target + suffix))
                QVERIFY(::chmod(QFile::encodeName(target + suffix).constData(), 0644) == 0);
        }
    }
    {
        RegistryStore store(path);
        QCOMPARE(store.setValue(RegRoot::LocalMachine, u"SOFTWARE"_s, u"v"_s, RegistryStore::RegSz, "x",
                                RegistryStore::CreateMode::CreateMissingKeys),
                 qint32(RegistryStore::Success));
        ::umask(saved);
        QCOMPARE(fileMode(folder), 0700);
        QCOMPARE(fileMode(path), 0600);
        // The write-ahead log and its index hold the same data: same mode.
        for (const QString& suffix : {u"-wal"_s, u"-shm"_s, u"-lock"_s}) {
            if (QFile::exists(path + suffix))
                QCOMPARE(fileMode(path + suffix), 0600);
        }
    }
    ::umask(saved);
}

void TestRegistryStore::brokenFile_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<qint32>("status");
    const auto corrupt = qint32(RegistryStore::RegistryCorrupt);
    const auto ioFailed = qint32(RegistryStore::RegistryIoFailed);
    QTest::newRow("random bytes") << u"random"_s << corrupt;
    QTest::newRow("short text file") << u"text"_s << corrupt;
    QTest::newRow("database header then garbage") << u"header"_s << corrupt;
    QTest::newRow("another program's database") << u"foreign"_s << corrupt;
    QTest::newRow("folder in place of the file") << u"folder"_s << ioFailed;
    QTest::newRow("file in place of the folder") << u"parentfile"_s << ioFailed;
}

void TestRegistryStore::brokenFile()
{
    QFETCH(QString, kind);
    QFETCH(qint32, status);
    QString path = storePath();
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    if (kind == u"random") {
        QByteArray bytes(8192, '\0');
        for (char& b : bytes)
            b = char(QRandomGenerator::global()->bounded(256));
        bytes[0] = 'X'; // never the database magic by chance
        QVERIFY(writeFile(path, bytes));
    } else if (kind == u"text") {
        QVERIFY(writeFile(path, "not a registry\n"));
    } else if (kind == u"header") {
        QByteArray bytes = QByteArray("SQLite format 3", 16) + QByteArray(4080, '\xA5');
        QVERIFY(writeFile(path, bytes));
    } else if (kind == u"foreign") {
        sqlite3* db = nullptr;
        QCOMPARE(sqlite3_open(QFile::encodeName(path).constData(), &db), SQLITE_OK);
        QCOMPARE(sqlite3_exec(db, "CREATE TABLE notes(t TEXT); INSERT INTO notes VALUES('mine')", nullptr,
                              nullptr, nullptr),
                 SQLITE_OK);
        sqlite3_close(db);
    } else if (kind == u"folder") {
        QVERIFY(QDir().mkpath(path));
    } else if (kind == u"parentfile") {
        QVERIFY(writeFile(m_dir->filePath(QStringLiteral("blocker")), "a file"));
        path = m_dir->filePath(QStringLiteral("blocker/registry.sqlite3"));
    }
    const QByteArray before = fileDigest(path);

    RegistryStore store(path);
    quint32 type = 0;
    QByteArray data;
    QStringList names;
    QList<RegistryStore::Value> values;
    const auto create = RegistryStore::CreateMode::CreateMissingKeys;
    // Twice: a failed open is tried again on the next call, and fails the same way.
    for (int round = 0; round < 2; ++round) {
        QCOMPARE(store.createKey(RegRoot::CurrentUser, u"a"_s), status);
        QCOMPARE(store.openKey(RegRoot::CurrentUser, u"a"_s), status);
        QCOMPARE(store.setValue(RegRoot::CurrentUser, u"a"_s, u"v"_s, RegistryStore::RegSz, "x", create),
                 status);
        QCOMPARE(store.queryValue(RegRoot::CurrentUser, u"a"_s, u"v"_s, type, data), status);
        QCOMPARE(store.deleteValue(RegRoot::CurrentUser, u"a"_s, u"v"_s), status);
        QCOMPARE(store.deleteKey(RegRoot::CurrentUser, u"a"_s), status);
        QCOMPARE(store.deleteTree(RegRoot::CurrentUser, u"a"_s), status);
        QCOMPARE(store.enumSubKeys(RegRoot::CurrentUser, QString(), names), status);
        QCOMPARE(store.enumValues(RegRoot::CurrentUser, QString(), values), status);
        QCOMPARE(store.checkIntegrity(), status);
    }
    QVERIFY(data.isEmpty());
    QCOMPARE(fileDigest(path), before);
    if (kind == u"folder")
        QVERIFY(QFileInfo(path).isDir());
}

void TestRegistryStore::reopensWhenFileBecomesUsable_data()
{
    QTest::addColumn<bool>("folder");
    QTest::newRow("garbage file removed") << false;
    QTest::newRow("folder in the way removed") << true;
}

void TestRegistryStore::reopensWhenFileBecomesUsable()
{
    QFETCH(bool, folder);
    QVERIFY(QDir().mkpath(QFileInfo(storePath()).absolutePath()));
    if (folder)
        QVERIFY(QDir().mkpath(storePath()));
    else
        QVERIFY(writeFile(storePath(), "garbage garbage garbage"));
    RegistryStore store(storePath());
    QVERIFY(store.createKey(RegRoot::CurrentUser, u"k"_s) != RegistryStore::Success);
    if (folder)
        QVERIFY(QDir().rmdir(storePath()));
    else
        QVERIFY(QFile::remove(storePath()));
    QCOMPARE(store.setValue(RegRoot::CurrentUser, u"k"_s, u"v"_s, RegistryStore::RegSz, "x",
                            RegistryStore::CreateMode::CreateMissingKeys),
             qint32(RegistryStore::Success));
    quint32 type = 0;
    QByteArray data;
    QCOMPARE(store.queryValue(RegRoot::CurrentUser, u"k"_s, u"v"_s, type, data),
             qint32(RegistryStore::Success));
    QCOMPARE(data, QByteArray("x"));
}

void TestRegistryStore::deletedFileIsCreatedAgain_data()
{
    QTest::addColumn<bool>("logLeftBehind");
    QTest::newRow("all store files removed") << false;
    QTest::newRow("only the database removed, its log left behind") << true;
}

void TestRegistryStore::deletedFileIsCreatedAgain()
{
    QFETCH(bool, logLeftBehind);
    RegistryStore store(storePath());
    QCOMPARE(store.setValue(RegRoot::CurrentUser, u"k"_s, u"v"_s, RegistryStore::RegSz, "old",
                            RegistryStore::CreateMode::CreateMissingKeys),
             qint32(RegistryStore::Success));
    // The user removes the store while the program runs: later writes must land in a file on disk,
    // not in the removed one.
    QVERIFY(QFile::exists(storePath() + u"-wal"_s));
    const QStringList removed =
        logLeftBehind ? QStringList{QString()} : QStringList{QString(), u"-wal"_s, u"-shm"_s};
    for (const QString& suffix : removed)
        QVERIFY(QFile::remove(storePath() + suffix));
    quint32 type = 0;
    QByteArray data;
    QCOMPARE(store.queryValue(RegRoot::CurrentUser, u"k"_s, u"v"_s, type, data),
             qint32(RegistryStore::FileNotFound));
    QCOMPARE(store.setValue(RegRoot::CurrentUser, u"k"_s, u"v"_s, RegistryStore::RegSz, "new",
                            RegistryStore::CreateMode::CreateMissingKeys),
             qint32(RegistryStore::Success));
    RegistryStore other(storePath());
    QCOMPARE(other.queryValue(RegRoot::CurrentUser, u"k"_s, u"v"_s, type, data),
             qint32(RegistryStore::Success));
    QCOMPARE(data, QByteArray("new"));
    QCOMPARE(fileMode(storePath()), 0600);
    QString details;
    QCOMPARE(other.checkIntegrity(&details), qint32(RegistryStore::Success));
    QCOMPARE(details, u"ok"_s);
}

void TestRegistryStore::waitsForOtherWriter_data()
{
    QTest::addColumn<int>("timeoutMs");
    QTest::addColumn<int>("holdMs");
    QTest::addColumn<qint32>("status");
    const auto ok = qint32(RegistryStore::Success);
    const auto busy = qint32(RegistryStore::Busy);
    QTest::newRow("held 300 ms, time-out 2000 ms: the write waits") << 2000 << 300 << ok;
    QTest::newRow("held past the time-out of 250 ms: reported busy") << 250 << 1000 << busy;
    QTest::newRow("time-out 0: reported busy at once") << 0 << 300 << busy;
    QTest::newRow("negative time-out: reported busy at once") << -1 << 300 << busy;
}

void TestRegistryStore::waitsForOtherWriter()
{
    QFETCH(int, timeoutMs);
    QFETCH(int, holdMs);
    QFETCH(qint32, status);
    RegistryStore store(storePath(), timeoutMs);
    QCOMPARE(store.createKey(RegRoot::CurrentUser, u"k"_s), qint32(RegistryStore::Success));

    sqlite3* other = nullptr;
    QCOMPARE(sqlite3_open(QFile::encodeName(storePath()).constData(), &other), SQLITE_OK);
    QCOMPARE(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    std::thread holder([other, holdMs] {
        std::this_thread::sleep_for(std::chrono::milliseconds(holdMs));
        sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
    });
    QElapsedTimer timer;
    timer.start();
    const qint32 result = store.setValue(RegRoot::CurrentUser, u"k"_s, u"v"_s, RegistryStore::RegSz, "x");
    const qint64 waited = timer.elapsed();
    holder.join();
    sqlite3_close(other);
    QCOMPARE(result, status);
    QVERIFY2(waited >= qMin(holdMs, timeoutMs) - 50, qPrintable(QString::number(waited)));
    if (status == RegistryStore::Busy) // given up before the other writer let go
        QVERIFY2(waited < holdMs, qPrintable(QString::number(waited)));
    quint32 type = 0;
    QByteArray data;
    QCOMPARE(store.queryValue(RegRoot::CurrentUser, u"k"_s, u"v"_s, type, data),
             qint32(status == RegistryStore::Success ? RegistryStore::Success : RegistryStore::FileNotFound));
}

void TestRegistryStore::concurrentWriters_data()
{
    QTest::addColumn<bool>("fresh");
    QTest::newRow("two writers set up a new file") << true;
    QTest::newRow("two writers on an existing store") << false;
}

void TestRegistryStore::concurrentWriters()
{
    QFETCH(bool, fresh);
    constexpr int kWrites = 300;
    RegistryStore store(storePath());
    if (!fresh)
        QCOMPARE(store.createKey(RegRoot::CurrentUser, kConcurrentKey), qint32(RegistryStore::Success));

    QProcess first;
    QProcess second;
    first.start(writerProgram(), {storePath(), u"burst"_s, u"w1"_s, QString::number(kWrites)});
    second.start(writerProgram(), {storePath(), u"burst"_s, u"w2"_s, QString::number(kWrites)});
    QVERIFY2(first.waitForStarted(10000), qPrintable(first.errorString()));
    QVERIFY2(second.waitForStarted(10000), qPrintable(second.errorString()));

    // Reading while they write: never an error, only "not there yet".
    QElapsedTimer timer;
    timer.start();
    int reads = 0;
    while ((first.state() != QProcess::NotRunning || second.state() != QProcess::NotRunning) &&
           timer.elapsed() < 180000) {
        quint32 type = 0;
        QByteArray data;
        const qint32 status = store.queryValue(RegRoot::CurrentUser, kConcurrentKey, u"last"_s, type, data);
        QVERIFY2(status == RegistryStore::Success || status == RegistryStore::FileNotFound,
                 qPrintable(QString::number(status)));
        ++reads;
        first.waitForFinished(20);
        second.waitForFinished(20);
    }
    QCOMPARE(first.state(), QProcess::NotRunning);
    QCOMPARE(second.state(), QProcess::NotRunning);
    QVERIFY(reads > 0);
    for (QProcess* writer : {&first, &second}) {
        QCOMPARE(writer->exitStatus(), QProcess::NormalExit);
        QCOMPARE(QString::fromUtf8(writer->readAllStandardError()), QString());
        QCOMPARE(writer->exitCode(), 0);
        QCOMPARE(writer->readAllStandardOutput(), QByteArray("done 300\n"));
    }

    QList<RegistryStore::Value> values;
    QCOMPARE(store.enumValues(RegRoot::CurrentUser, kConcurrentKey, values), qint32(RegistryStore::Success));
    QCOMPARE(values.size(), 2 * kWrites + 1);
    QSet<QString> seen;
    for (const auto& value : values) {
        if (value.name == u"last") {
            QVERIFY(value.data == QByteArray("w1-299", 7) || value.data == QByteArray("w2-299", 7));
            continue;
        }
        QCOMPARE(value.data, value.name.toUtf8() + '\0');
        seen.insert(value.name);
    }
    for (int i = 0; i < kWrites; ++i) {
        QVERIFY(seen.contains(u"w1-"_s + QString::number(i)));
        QVERIFY(seen.contains(u"w2-"_s + QString::number(i)));
    }
    QCOMPARE(store.checkIntegrity(), qint32(RegistryStore::Success));
}

void TestRegistryStore::killedWriterLeavesCompleteValue_data()
{
    QTest::addColumn<int>("delayMs");
    QTest::newRow("kill at once") << 0;
    QTest::newRow("kill after 13 ms") << 13;
    QTest::newRow("kill after 71 ms") << 71;
    QTest::newRow("kill after 240 ms") << 240;
    QTest::newRow("kill after 600 ms") << 600;
}

void TestRegistryStore::killedWriterLeavesCompleteValue()
{
    QFETCH(int, delayMs);
    quint32 lastGeneration = 0;
    for (int round = 0; round < 3; ++round) {
        QProcess writer;
        writer.start(writerProgram(), {storePath(), u"loop"_s});
        QVERIFY2(writer.waitForStarted(10000), qPrintable(writer.errorString()));
        QVERIFY(writer.waitForReadyRead(30000));
        QCOMPARE(writer.readLine(), QByteArray("ready\n"));
        QTest::qSleep(delayMs + int(QRandomGenerator::global()->bounded(10)));
        writer.kill();
        QVERIFY(writer.waitForFinished(10000));
        QCOMPARE(writer.exitStatus(), QProcess::CrashExit);

        RegistryStore store(storePath());
        QString details;
        QCOMPARE(store.checkIntegrity(&details), qint32(RegistryStore::Success));
        QCOMPARE(details, u"ok"_s);
        quint32 type = 0;
        QByteArray data;
        QCOMPARE(store.queryValue(RegRoot::LocalMachine, kConcurrentKey + u"\\gen", u"payload"_s, type, data),
                 qint32(RegistryStore::Success));
        QCOMPARE(type, quint32(RegistryStore::RegBinary));
        bool ok = false;
        const quint32 generation = data.left(10).toUInt(&ok);
        QVERIFY(ok);
        QCOMPARE(data, loopPayload(generation)); // one whole generation, never a mix
        // Each run goes on from the stored generation and commits at least one before "ready":
        // what was committed survives the kill.
        QVERIFY2(generation > lastGeneration, qPrintable(QString::number(generation)));
        lastGeneration = generation;
    }
}

QTEST_GUILESS_MAIN(TestRegistryStore)
#include "tst_registrystore.moc"
