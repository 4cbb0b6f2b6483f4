// The headless converter as a whole process against a hostile machine: links planted in the shared
// temporary folder, a damaged or read-only store, a full disk, an unwritable data folder and a huge
// rule file.
#include "platform/RegAccess.h"
#include "verdict/Verdict.h"

#include "HostileFiles.h"
#include "HttpTestServer.h"
#include "PictureHost.h"
#include "ShortenerService.h"
#include "TempRegistry.h"
#include "TestEnvironment.h"
#include "TestFiles.h"
#include "TestPictures.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace linvera;
using namespace linvera::test;

namespace {

const QString kEndpointsKey = u"SOFTWARE\\HALVEX\\linvera\\endpoints"_s;
const QByteArray kVictimBytes = "the user's own file";

struct Result
{
    int exitCode = -1;
    QString out;
    QString err;
};

int count(const QString& text, const QString& part)
{
    return int(text.count(part));
}

} // namespace

class TestHostilePrograms : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void plantedLinksInSharedTemp_data();
    void plantedLinksInSharedTemp();
    void damagedStore_data();
    void damagedStore();
    void registryToolOnBadStore_data();
    void registryToolOnBadStore();
    void fullDiskForLog_data();
    void fullDiskForLog();
    void forgedLogRecord_data();
    void forgedLogRecord();
    void storeHeldByAnotherProgram();
    void unwritableDataFolder();
    void hugeRuleFile();

private:
    Result run(const QStringList& urls, std::function<void()> inChild = {});
    Result runProgram(const QString& program, const QStringList& arguments,
                      std::function<void()> inChild = {});
    QString dataFolder() const { return m_home->path() + u"/Documents/halvex-linvera"_s; }
    void writeRules(const QByteArray& shortLinkRules, const QByteArray& pictureRules = {});

    std::unique_ptr<TempRegistry> m_registry;
    std::unique_ptr<QTemporaryDir> m_home;
    QProcessEnvironment m_env;
};

void TestHostilePrograms::init()
{
    m_registry = std::make_unique<TempRegistry>();
    m_home = std::make_unique<QTemporaryDir>();
    QVERIFY(m_registry->isValid() && m_home->isValid());
    // Nothing may leave the machine: every service at a port nobody listens on.
    const QString closed = u"127.0.0.1:"_s + QString::number(HttpTestServer::closedPort());
    for (const QString& name : {u"ShortenerApiHost"_s, u"ShortenerAltApiHost"_s, u"MakerNoticeHost"_s})
        SetRegString(platform::RegRoot::LocalMachine, kEndpointsKey, name, closed);
    m_env = QProcessEnvironment::systemEnvironment();
    m_env.insert(u"HOME"_s, m_home->path());
    m_env.insert(u"XDG_CONFIG_HOME"_s, m_registry->configHome());
    m_env.insert(u"XDG_CACHE_HOME"_s, m_home->path() + u"/.cache"_s);
    m_env.insert(u"LC_ALL"_s, u"C.UTF-8"_s);
    m_env.remove(u"XDG_DOCUMENTS_DIR"_s);
    m_env.remove(u"XDG_RUNTIME_DIR"_s);
    m_env.insert(u"TMPDIR"_s, m_home->path() + u"/tmp"_s);
    QVERIFY(QDir().mkpath(m_home->path() + u"/tmp"_s));
}

void TestHostilePrograms::cleanup()
{
    ::chmod(QFile::encodeName(dataFolder()).constData(), 0700);
    ::chmod(QFile::encodeName(QFileInfo(dataFolder()).path()).constData(), 0700);
    m_home.reset();
    m_registry.reset();
}

void TestHostilePrograms::writeRules(const QByteArray& shortLinkRules, const QByteArray& pictureRules)
{
    QVERIFY(writeFile(dataFolder() + u"/tinyurls.txt"_s, shortLinkRules));
    QVERIFY(writeFile(dataFolder() + u"/picturls.txt"_s, pictureRules));
}

Result TestHostilePrograms::run(const QStringList& urls, std::function<void()> inChild)
{
    return runProgram(u"linvera"_s, urls, inChild);
}

Result TestHostilePrograms::runProgram(const QString& program, const QStringList& urls,
                                       std::function<void()> inChild)
{
    Result result;
    QProcess process;
    process.setProcessEnvironment(m_env);
    if (inChild)
        process.setChildProcessModifier(inChild);
    QSignalSpy finished(&process, &QProcess::finished);
    process.start(programDir() + u'/' + program, urls);
    if (!process.waitForStarted(10000))
        return result;
    // The picture server lives in this thread: serve it while the program runs.
    if (!finished.wait(60000)) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    // The designed lines; the verdict after them is tested on its own.
    result.out = verdict::WithoutReviewLines(QString::fromUtf8(process.readAllStandardOutput()));
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

void TestHostilePrograms::plantedLinksInSharedTemp_data()
{
    QTest::addColumn<bool>("runtimeFolder");
    QTest::addColumn<bool>("privateNameTaken");
    QTest::newRow("session runtime folder") << true << false;
    QTest::newRow("shared folder only") << false << false;
    QTest::newRow("shared folder, private folder's name planted as a link") << false << true;
}

void TestHostilePrograms::plantedLinksInSharedTemp()
{
    QFETCH(bool, runtimeFolder);
    QFETCH(bool, privateNameTaken);
    const QString shared = m_home->path() + u"/tmp"_s;
    QVERIFY(::chmod(QFile::encodeName(shared).constData(), 01777) == 0);
    const QString victimFolder = m_home->path() + u"/victim"_s;
    const QString victim = victimFolder + u"/hvxlinvera.png"_s;
    QVERIFY(writeFile(victim, kVictimBytes));
    // Another user's links at every name the program once used in the shared folder.
    for (const QString& name :
         {u"hvxlinvera.png"_s, u"hvxlinvera.jpg"_s, u"hvxlinvera.gif"_s, u"hvxlinvera.bmp"_s})
        QVERIFY(QFile::link(victim, shared + u'/' + name));
    if (privateNameTaken)
        QVERIFY(QFile::link(victimFolder, shared + u"/halvex-linvera-"_s + QString::number(getuid())));
    const QString runtime = m_home->path() + u"/runtime"_s;
    if (runtimeFolder) {
        QVERIFY(QDir().mkpath(runtime));
        QVERIFY(::chmod(QFile::encodeName(runtime).constData(), 0700) == 0);
        m_env.insert(u"XDG_RUNTIME_DIR"_s, runtime);
    }

    PictureHost pictures;
    const QByteArray picture = TestPictures::make(TestPictures::Format::Png, QSize(30, 30));
    pictures.setFile("/i/k.png", picture, "image/png");
    writeRules({}, "^http://pics\\.example/(\\w+)\\.png$\thttp://" + pictures.hostAndPort().toLatin1() +
                       "/i/(1).png\r\n");
    const Result r = run({u"http://pics.example/k.png"_s});
    QCOMPARE(r.exitCode, 0);
    QVERIFY2(r.err.contains(u"画像を表示しました。"_s), qPrintable(r.err));

    // Nothing reached the planted links' target, and the picture lies in a folder of ours alone.
    QCOMPARE(readFile(victim), kVictimBytes);
    QCOMPARE(QDir(victimFolder).entryList(QDir::Files | QDir::Hidden), QStringList{u"hvxlinvera.png"_s});
    QStringList written;
    for (QDirIterator it(m_home->path(), {u"hvxlinvera.png"_s}, QDir::Files | QDir::Hidden | QDir::NoSymLinks,
                         QDirIterator::Subdirectories);
         it.hasNext();)
        written.append(it.next());
    written.removeAll(victim);
    QCOMPARE(written.size(), 1);
    QCOMPARE(readFile(written.first()), picture);
    const QString folder = QFileInfo(written.first()).absolutePath();
    if (runtimeFolder)
        QCOMPARE(folder, runtime + u"/halvex-linvera"_s);
    else
        QCOMPARE(QFileInfo(folder).absolutePath(), shared);
    struct stat info = {};
    QVERIFY(::lstat(QFile::encodeName(folder).constData(), &info) == 0);
    QVERIFY(S_ISDIR(info.st_mode));
    QCOMPARE(int(info.st_mode & 0777), 0700);
}

void TestHostilePrograms::damagedStore_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QString>("message");
    QTest::newRow("store replaced by garbage, its log left beside it")
        << u"garbage"_s << u"設定ファイルが壊れているため読み込めません。既定の設定で動作します。"_s;
    QTest::newRow("store in a read-only folder") << u"readonly"_s << QString();
}

void TestHostilePrograms::damagedStore()
{
    QFETCH(QString, damage);
    QFETCH(QString, message);
    writeRules("^http://yt\\.example/(\\w+)$\thttp://video.example/(1)\t\r\n");
    ShortenerService shortener;
    QVERIFY(shortener.isListening());
    shortener.setShortUrl(u"http://s.example/ok"_s);
    // A store of the program's own, which names the shortening service: the shortening works only
    // when the program could read it.
    const QString config = m_home->path() + u"/config"_s;
    const QString store = config + u"/halvex-linvera/registry.sqlite3"_s;
    auto writer = std::make_unique<platform::RegistryStore>(store);
    for (const QString& name : {u"ShortenerApiHost"_s, u"ShortenerAltApiHost"_s}) {
        QCOMPARE(writer->setValue(platform::RegRoot::LocalMachine, kEndpointsKey, name,
                                  platform::RegistryStore::RegSz, shortener.hostAndPort().toLatin1() + '\0',
                                  platform::RegistryStore::CreateMode::CreateMissingKeys),
                 qint32(platform::RegistryStore::Success));
    }
    // The designed service, which the shortener imitates; without the value it would be is.gd.
    QCOMPARE(writer->setValue(platform::RegRoot::LocalMachine, u"SOFTWARE\\HALVEX\\linvera\\param"_s,
                              u"ShortURLType"_s, platform::RegistryStore::RegSz, QByteArray("0\0", 2),
                              platform::RegistryStore::CreateMode::CreateMissingKeys),
             qint32(platform::RegistryStore::Success));
    m_env.insert(u"XDG_CONFIG_HOME"_s, config);
    const QString folder = QFileInfo(store).absolutePath();
    std::function<void()> inChild;
    if (damage == u"garbage") {
        // The writer stays open, so its log lies beside the garbage.
        QVERIFY(writeFile(store + u".new"_s, QByteArray("garbage ").repeated(1000)));
        QVERIFY(::rename(QFile::encodeName(store + u".new"_s).constData(),
                         QFile::encodeName(store).constData()) == 0);
        QVERIFY(QFile::exists(store + u"-wal"_s));
    } else {
        writer.reset(); // folds its log into the file and removes it
        QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0500) == 0);
        inChild = [] { dropFileModeOverrideForGood(); };
    }
    const QByteArray before = fileDigest(store);
    // An unreadable store means the default settings, which shorten through the real is.gd: that case
    // gets a local rule's address in the middle instead of a long one.
    const QString middle = message.isEmpty() ? u"http://long.example/b"_s : u"http://yt.example/b"_s;
    const Result r = run({u"http://yt.example/a"_s, middle, u"http://yt.example/c"_s}, inChild);
    ::chmod(QFile::encodeName(folder).constData(), 0700);
    // Local rules work either way; the shortening only with the stored service.
    const QStringList out = r.out.split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(out.value(0), u"http://video.example/a"_s);
    QCOMPARE(out.contains(u"http://s.example/ok"_s), message.isEmpty());
    QCOMPARE(out.last(), u"http://video.example/c"_s);
    QCOMPARE(r.exitCode, 0); // every address converted: by the stored service or by the rules
    // One message however many reads failed, and none for a store that could be read.
    QCOMPARE(count(r.err, u"設定ファイル"_s), message.isEmpty() ? 0 : 1);
    if (!message.isEmpty())
        QCOMPARE(count(r.err, message), 1);
    QCOMPARE(fileDigest(store), before);
}

void TestHostilePrograms::registryToolOnBadStore_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<int>("queryExit");
    QTest::newRow("read-only folder") << u"readonly"_s << 0;
    QTest::newRow("read-only file and folder") << u"readonlyfile"_s << 0;
    QTest::newRow("garbage") << u"garbage"_s << 1;
}

void TestHostilePrograms::registryToolOnBadStore()
{
    QFETCH(QString, damage);
    QFETCH(int, queryExit);
    const QString config = m_home->path() + u"/config"_s;
    const QString store = config + u"/halvex-linvera/registry.sqlite3"_s;
    const QString folder = QFileInfo(store).absolutePath();
    m_env.insert(u"XDG_CONFIG_HOME"_s, config);
    const QStringList key{u"HKLM\\SOFTWARE\\HALVEX\\linvera\\param"_s, u"/v"_s, u"Version"_s};
    Result r =
        runProgram(u"linvera-reg"_s, QStringList{u"add"_s} + key + QStringList{u"/d"_s, u"2_1_0"_s, u"/f"_s});
    QCOMPARE(r.exitCode, 0);
    if (damage == u"garbage") {
        QVERIFY(writeFile(store + u".new"_s, QByteArray("garbage ").repeated(1000)));
        QVERIFY(::rename(QFile::encodeName(store + u".new"_s).constData(),
                         QFile::encodeName(store).constData()) == 0);
    } else {
        if (damage == u"readonlyfile")
            QVERIFY(::chmod(QFile::encodeName(store).constData(), 0400) == 0);
        QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0500) == 0);
    }
    const QByteArray before = fileDigest(store);
    const auto drop = [] { dropFileModeOverrideForGood(); };
    r = runProgram(u"linvera-reg"_s, QStringList{u"query"_s} + key, drop);
    QCOMPARE(r.exitCode, queryExit);
    QCOMPARE(r.out.contains(u"2_1_0"_s), queryExit == 0);
    // A change is refused with a reason, and the file stays as it was.
    r = runProgram(u"linvera-reg"_s, QStringList{u"add"_s} + key + QStringList{u"/d"_s, u"3"_s, u"/f"_s},
                   drop);
    ::chmod(QFile::encodeName(folder).constData(), 0700);
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(!r.err.isEmpty() || !r.out.isEmpty(), "no reason given");
    QCOMPARE(fileDigest(store), before);
}

void TestHostilePrograms::fullDiskForLog_data()
{
    QTest::addColumn<int>("room");     // bytes the log may still grow by
    QTest::addColumn<int>("newLines"); // whole lines of this run that fit
    // A line of this run is about 50 bytes and a date; two never fit in 90.
    QTest::newRow("no room") << 10 << 0;
    QTest::newRow("room for one line") << 90 << 1;
}

void TestHostilePrograms::fullDiskForLog()
{
    QFETCH(int, room);
    QFETCH(int, newLines);
    writeRules("^http://yt\\.example/(\\w+)$\thttp://video.example/(1)\t\r\n");
    const QByteArray old =
        QByteArray("2026/12/07, http://yt.example/z, http://video.example/z\r\n").repeated(20);
    QVERIFY(writeFile(dataFolder() + u"/log.txt"_s, old));
    const rlim_t limit = rlim_t(old.size() + room);
    const Result r = run({u"http://yt.example/a"_s, u"http://yt.example/b"_s, u"http://yt.example/c"_s},
                         [limit] { limitFileSizeForGood(limit); });
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out.split(u'\n', Qt::SkipEmptyParts).size(), 3);
    QCOMPARE(count(r.err, u"ログファイルに書き込めません。"_s), 1);
    // The lines that fit are kept whole, in order; nothing of the others.
    const QByteArray log = readFile(dataFolder() + u"/log.txt"_s);
    QVERIFY(log.startsWith(old));
    const QList<QByteArray> added = log.mid(old.size()).split('\n');
    QCOMPARE(added.size() - 1, newLines);
    QVERIFY(log.endsWith('\n'));
    if (newLines == 1)
        QVERIFY(added.first().endsWith(", http://yt.example/a, http://video.example/a\r"));
}

void TestHostilePrograms::forgedLogRecord_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("written");
    const QString forged = u"1 Jan 2020, http://forged.example/, http://forged.example/evil"_s;
    QTest::newRow("CR LF") << u"http://a.example/ok\r\n"_s + forged
                           << u"http://a.example/ok%0D%0A"_s + forged;
    QTest::newRow("LF") << u"http://a.example/ok\n"_s + forged << u"http://a.example/ok%0A"_s + forged;
}

void TestHostilePrograms::forgedLogRecord()
{
    QFETCH(QString, url);
    QFETCH(QString, written);
    // A rule that answers at once, so that no service is asked.
    writeRules("a.example/\thttp://after.example/\t\r\n");
    const Result r = run({u"--"_s, url});
    QCOMPARE(r.exitCode, 0);
    const QByteArray log = readFile(dataFolder() + u"/log.txt"_s);
    // One record, the input in it whole.
    QCOMPARE(log.count('\n'), 1);
    QVERIFY2(log.endsWith(QByteArray(", " + written.toUtf8() + ", http://after.example/\r\n")),
             log.constData());
}

void TestHostilePrograms::storeHeldByAnotherProgram()
{
    writeRules("^http://yt\\.example/(\\w+)$\thttp://video.example/(1)\t\r\n");
    const QString config = m_home->path() + u"/config"_s;
    const QString store = config + u"/halvex-linvera/registry.sqlite3"_s;
    {
        platform::RegistryStore writer(store);
        QCOMPARE(writer.createKey(platform::RegRoot::LocalMachine, kEndpointsKey),
                 qint32(platform::RegistryStore::Success));
    }
    m_env.insert(u"XDG_CONFIG_HOME"_s, config);
    // Another program's lock over the whole file: every read of the store waits, then gives up.
    const int fd = ::open(QFile::encodeName(store).constData(), O_RDWR | O_CLOEXEC);
    QVERIFY(fd >= 0);
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    QVERIFY(::fcntl(fd, F_SETLK, &lock) == 0);
    QElapsedTimer clock;
    clock.start();
    const Result r = run({u"http://yt.example/a"_s});
    const qint64 elapsed = clock.elapsed();
    ::close(fd);
    // One wait of the store's time-out (5 s), not one for every setting read.
    QVERIFY2(elapsed < 15000, qPrintable(u"linvera took %1 ms"_s.arg(elapsed)));
    QCOMPARE(r.out.split(u'\n', Qt::SkipEmptyParts).value(0), u"http://video.example/a"_s);
    QCOMPARE(
        count(r.err,
              u"設定ファイルをほかのプログラムが使用中のため読み書きできません。既定の設定で動作します。"_s),
        1);
    QCOMPARE(count(r.err, u"設定ファイル"_s), 1);
}

void TestHostilePrograms::unwritableDataFolder()
{
    // The documents folder exists but cannot be written: the data folder cannot be made.
    const QString documents = QFileInfo(dataFolder()).path();
    QVERIFY(QDir().mkpath(documents));
    QVERIFY(::chmod(QFile::encodeName(documents).constData(), 0500) == 0);
    const Result r =
        run({u"http://yt.example/a"_s, u"http://yt.example/b"_s}, [] { dropFileModeOverrideForGood(); });
    ::chmod(QFile::encodeName(documents).constData(), 0700);
    QCOMPARE(count(r.err, u"データフォルダに書き込めません。"_s), 1);
    QCOMPARE(count(r.err, u"ログファイルに書き込めません。"_s), 1);
    QVERIFY2(r.exitCode == 0 || r.exitCode == 1, qPrintable(r.err));
    QVERIFY(!QFileInfo::exists(dataFolder()));
}

void TestHostilePrograms::hugeRuleFile()
{
    QVERIFY(QDir().mkpath(dataFolder()));
    QVERIFY(makeSparseFile(dataFolder() + u"/tinyurls.txt"_s, qint64(100) * 1024 * 1024,
                           "^http://yt\\.example/(\\w+)$\thttp://video.example/(1)\t\r\n"));
    QVERIFY(writeFile(dataFolder() + u"/picturls.txt"_s, QByteArray()));
    const QByteArray before = fileDigest(dataFolder() + u"/tinyurls.txt"_s);
    const Result r = run({u"http://yt.example/a"_s});
    QVERIFY2(r.exitCode == 0 || r.exitCode == 1, qPrintable(r.err));
    QCOMPARE(count(r.err, u"tinyurls読み込みエラー(ファイルが大きすぎます。上限は8MBです)"_s), 1);
    QCOMPARE(count(r.err, u"tinyurls読み込みエラー"_s), 1);
    QCOMPARE(fileDigest(dataFolder() + u"/tinyurls.txt"_s), before);
}

QTEST_GUILESS_MAIN(TestHostilePrograms)
#include "tst_hostileprograms.moc"
