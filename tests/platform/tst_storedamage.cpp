// The registry store on a read-only folder and damaged while in use.
#include "platform/RegistryStore.h"

#include "HostileFiles.h"
#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace Qt::StringLiterals;
using linvera::platform::RegistryStore;
using linvera::platform::RegRoot;
using namespace linvera::test;

namespace {

const QString kKey = u"SOFTWARE\\HALVEX\\linvera\\param"_s;

qint32 write(RegistryStore& store, const QString& name, const QByteArray& data)
{
    return store.setValue(RegRoot::LocalMachine, kKey, name, RegistryStore::RegSz, data,
                          RegistryStore::CreateMode::CreateMissingKeys);
}

qint32 read(RegistryStore& store, const QString& name, QByteArray& data)
{
    quint32 type = 0;
    data.clear();
    return store.queryValue(RegRoot::LocalMachine, kKey, name, type, data);
}

} // namespace

class TestStoreDamage : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void readOnlyStore_data();
    void readOnlyStore();
    void damagedWhileRunning_data();
    void damagedWhileRunning();
    void fullDisk_data();
    void fullDisk();

private:
    QString storePath() const { return m_dir->filePath(u"config/halvex-linvera/registry.sqlite3"_s); }
    QString storeFolder() const { return QFileInfo(storePath()).absolutePath(); }
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestStoreDamage::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestStoreDamage::cleanup()
{
    ::chmod(QFile::encodeName(storeFolder()).constData(), 0700);
    ::chmod(QFile::encodeName(storePath()).constData(), 0600);
    m_dir.reset();
}

void TestStoreDamage::readOnlyStore_data()
{
    QTest::addColumn<bool>("folderReadOnly");
    QTest::addColumn<bool>("fileReadOnly");
    QTest::addColumn<bool>("logLeftBehind");
    QTest::addColumn<bool>("writable");
    QTest::newRow("read-only folder") << true << false << false << false;
    // The files themselves can still be written, the log and its index are there already.
    QTest::newRow("read-only folder, log of a running writer beside the file")
        << true << false << true << true;
    QTest::newRow("read-only file") << false << true << false << false;
    QTest::newRow("read-only file, log beside it") << false << true << true << false;
    QTest::newRow("read-only file in a read-only folder") << true << true << false << false;
}

void TestStoreDamage::readOnlyStore()
{
    QFETCH(bool, folderReadOnly);
    QFETCH(bool, fileReadOnly);
    QFETCH(bool, logLeftBehind);
    QFETCH(bool, writable);
    auto writer = std::make_unique<RegistryStore>(storePath());
    QCOMPARE(write(*writer, u"lstImageType"_s, "1"), qint32(RegistryStore::Success));
    QCOMPARE(write(*writer, u"Version"_s, "2_1_0"), qint32(RegistryStore::Success));
    if (!logLeftBehind)
        writer.reset(); // the last one out folds the log into the file
    if (folderReadOnly)
        QVERIFY(::chmod(QFile::encodeName(storeFolder()).constData(), 0500) == 0);
    if (fileReadOnly)
        QVERIFY(::chmod(QFile::encodeName(storePath()).constData(), 0400) == 0);
    const QByteArray before = fileDigest(storePath());

    HonourFileModes modes;
    if (!modes.isActive())
        QSKIP("file modes cannot be enforced for this test");
    RegistryStore store(storePath(), 200);
    QList<qint32> problems;
    store.setProblemHandler([&problems](qint32 status) { problems.append(status); });
    QByteArray data;
    for (int round = 0; round < 3; ++round) {
        QCOMPARE(read(store, u"lstImageType"_s, data), qint32(RegistryStore::Success));
        QCOMPARE(data, QByteArray(writable && round > 0 ? "0" : "1"));
        // A write is refused, and refusing it changes nothing that could be read before.
        const qint32 written = write(store, u"lstImageType"_s, "0");
        QCOMPARE(written, qint32(writable ? RegistryStore::Success : RegistryStore::AccessDenied));
        QCOMPARE(read(store, u"Version"_s, data), qint32(RegistryStore::Success));
        QCOMPARE(data, QByteArray("2_1_0"));
    }
    if (!writable)
        QCOMPARE(fileDigest(storePath()), before);
    // Told once, however many writes were refused.
    QCOMPARE(problems, writable ? QList<qint32>{} : QList<qint32>{RegistryStore::AccessDenied});
}

void TestStoreDamage::damagedWhileRunning_data()
{
    QTest::addColumn<QString>("damage");
    QTest::newRow("replaced by another file") << u"replaced"_s;
    QTest::newRow("overwritten in place") << u"overwritten"_s;
    QTest::newRow("first page overwritten") << u"header"_s;
}

void TestStoreDamage::damagedWhileRunning()
{
    QFETCH(QString, damage);
    RegistryStore store(storePath(), 200);
    QCOMPARE(write(store, u"lstImageType"_s, "1"), qint32(RegistryStore::Success));
    QByteArray data;
    QCOMPARE(read(store, u"lstImageType"_s, data), qint32(RegistryStore::Success));

    const QByteArray garbage = QByteArray("not a store at all ").repeated(400);
    if (damage == u"replaced") {
        QVERIFY(writeFile(storePath() + u".new"_s, garbage));
        QVERIFY(QFile::rename(storePath() + u".new"_s, storePath()) ||
                (QFile::remove(storePath()) && QFile::rename(storePath() + u".new"_s, storePath())));
    } else {
        QFile file(storePath());
        QVERIFY(file.open(damage == u"header" ? QIODevice::ReadWrite
                                              : QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(damage == u"header" ? garbage.left(100) : garbage);
    }
    const QByteArray damaged = fileDigest(storePath());
    const bool logBefore = QFile::exists(storePath() + u"-wal"_s);
    QList<qint32> problems;
    store.setProblemHandler([&problems](qint32 status) { problems.append(status); });
    for (int round = 0; round < 3; ++round) {
        QCOMPARE(read(store, u"lstImageType"_s, data), qint32(RegistryStore::RegistryCorrupt));
        QVERIFY(data.isEmpty());
        QCOMPARE(write(store, u"lstImageType"_s, "2"), qint32(RegistryStore::RegistryCorrupt));
    }
    // The damaged file is never written over, and the log with the last changes stays beside it.
    QCOMPARE(fileDigest(storePath()), damaged);
    if (damage != u"replaced")
        QCOMPARE(QFile::exists(storePath() + u"-wal"_s), logBefore);
    QCOMPARE(problems, QList<qint32>{RegistryStore::RegistryCorrupt});
}

void TestStoreDamage::fullDisk_data()
{
    QTest::addColumn<int>("room");
    QTest::newRow("no room") << 0;
    QTest::newRow("room for part of the change") << 3000;
}

void TestStoreDamage::fullDisk()
{
    QFETCH(int, room);
    RegistryStore store(storePath(), 200);
    QCOMPARE(write(store, u"lstImageType"_s, "1"), qint32(RegistryStore::Success));
    QCOMPARE(write(store, u"Version"_s, "2_1_0"), qint32(RegistryStore::Success));
    QList<qint32> problems;
    store.setProblemHandler([&problems](qint32 status) { problems.append(status); });
    const qint64 used = qMax(QFileInfo(storePath()).size(), QFileInfo(storePath() + u"-wal"_s).size());
    QByteArray data;
    {
        FileSizeLimit full(rlim_t(used + room));
        QVERIFY(full.isActive());
        for (int round = 0; round < 3; ++round) {
            const qint32 status = write(store, u"big"_s + QString::number(round), QByteArray(64 * 1024, 'x'));
            QVERIFY2(status == RegistryStore::DiskFull, qPrintable(RegistryStore::statusText(status)));
            // What was written before stays readable, also while the disk is full.
            QCOMPARE(read(store, u"lstImageType"_s, data), qint32(RegistryStore::Success));
            QCOMPARE(data, QByteArray("1"));
        }
    }
    QCOMPARE(problems, QList<qint32>{RegistryStore::DiskFull});
    // With room again the store works and is whole.
    QCOMPARE(write(store, u"big"_s, QByteArray(64 * 1024, 'x')), qint32(RegistryStore::Success));
    QCOMPARE(read(store, u"Version"_s, data), qint32(RegistryStore::Success));
    QCOMPARE(data, QByteArray("2_1_0"));
    QString details;
    QCOMPARE(store.checkIntegrity(&details), qint32(RegistryStore::Success));
}

QTEST_GUILESS_MAIN(TestStoreDamage)
#include "tst_storedamage.moc"
