// Every test makes its own home, XDG folders and registry store: run by hand in a user's session, a
// test leaves the user's store and files as they were, and the check refuses folders outside its own.
#include "TestEnvironment.h"
#include "TestFiles.h"
#include "TestSandbox.h"
#include "platform/RegistryStore.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace linvera::test;
using linvera::platform::RegistryStore;
using linvera::platform::RegRoot;

namespace {

const QString kInternetSettings = u"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings"_s;
const QString kParamKey = u"SOFTWARE\\HALVEX\\linvera\\param"_s;

struct Run
{
    int exitCode = -1;
    bool crashed = false;
    QString output;
};

Run runProgram(const QString& program, const QStringList& args, const QProcessEnvironment& env, int timeoutMs)
{
    Run run;
    QProcess process;
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, args);
    if (!process.waitForStarted(10000)) {
        run.output = process.errorString();
        return run;
    }
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(5000);
        run.output = u"timed out: "_s;
    }
    run.crashed = process.exitStatus() == QProcess::CrashExit;
    run.exitCode = run.crashed ? -2 : process.exitCode();
    run.output += QString::fromLocal8Bit(process.readAll());
    return run;
}

/// Every folder and file under `folder`, each file with its digest: a write, a new file, a new
/// folder or a removal all change it.
QStringList snapshot(const QString& folder)
{
    QStringList entries;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    const QDir base(folder);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString name = base.relativeFilePath(path);
        if (it.fileInfo().isDir())
            entries.append(name + u'/');
        else
            entries.append(name + u' ' + QString::fromLatin1(fileDigest(path).toHex()));
    }
    entries.sort();
    return entries;
}

bool inside(const QString& path, const QString& root)
{
    const QString canonicalRoot = QFileInfo(root).canonicalFilePath();
    QString probe = QFileInfo(path).absoluteFilePath();
    // The path itself may not exist yet: its nearest existing folder decides.
    while (!QFileInfo::exists(probe) && probe != u"/"_s)
        probe = QFileInfo(probe).path();
    const QString canonical = QFileInfo(probe).canonicalFilePath();
    return !canonicalRoot.isEmpty() &&
           (canonical == canonicalRoot || canonical.startsWith(canonicalRoot + u'/'));
}

} // namespace

class TestSandbox : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void thisTestRunsInItsOwnFolders();
    void everyFolderInside_data();
    void everyFolderInside();
    void programsStartedInherit();
    void testsLeaveTheUsersFilesAlone_data();
    void testsLeaveTheUsersFilesAlone();
    void checkRefusesFoldersOutside_data();
    void checkRefusesFoldersOutside();
};

void TestSandbox::thisTestRunsInItsOwnFolders()
{
    const QString root = sandboxRoot();
    QVERIFY(!root.isEmpty());
    // A new folder of its own, in the temporary folder the test was started with.
    QVERIFY2(QFileInfo(root).fileName().startsWith(u"linvera-test-"_s), qPrintable(root));
    QCOMPARE(QFileInfo(root).permissions() & (QFile::ReadGroup | QFile::ReadOther), QFile::Permissions());
    QCOMPARE(QDir::homePath(), root + u"/home"_s);
    QCOMPARE(RegistryStore::shared().filePath(), root + u"/home/.config/halvex-linvera/registry.sqlite3"_s);
    QCOMPARE(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation),
             root + u"/home/Documents"_s);
    QCOMPARE(QDir::tempPath(), root + u"/tmp"_s);
    // The processes the test starts get the same folders.
    const QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString& name : {u"HOME"_s, u"XDG_CONFIG_HOME"_s, u"XDG_DATA_HOME"_s, u"XDG_CACHE_HOME"_s,
                                u"XDG_STATE_HOME"_s, u"TMPDIR"_s})
        QVERIFY2(env.value(name).startsWith(root + u'/'), qPrintable(name + u'=' + env.value(name)));
    QVERIFY(!env.contains(u"XDG_DOCUMENTS_DIR"_s));
}

void TestSandbox::everyFolderInside_data()
{
    QTest::addColumn<QString>("what");
    QTest::newRow("home") << u"home"_s;
    QTest::newRow("configuration") << u"config"_s;
    QTest::newRow("data") << u"data"_s;
    QTest::newRow("cache") << u"cache"_s;
    QTest::newRow("runtime") << u"runtime"_s;
    QTest::newRow("documents") << u"documents"_s;
    QTest::newRow("desktop") << u"desktop"_s;
    QTest::newRow("temporary folder") << u"temp"_s;
    QTest::newRow("a new temporary folder") << u"newtemp"_s;
    QTest::newRow("registry store") << u"store"_s;
    QTest::newRow("a program's default store") << u"defaultstore"_s;
}

void TestSandbox::everyFolderInside()
{
    QFETCH(QString, what);
    QTemporaryDir made;
    const QHash<QString, QString> found{
        {u"home"_s, QDir::homePath()},
        {u"config"_s, QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)},
        {u"data"_s, QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)},
        {u"cache"_s, QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation)},
        {u"runtime"_s, QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation)},
        {u"documents"_s, QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)},
        {u"desktop"_s, QStandardPaths::writableLocation(QStandardPaths::DesktopLocation)},
        {u"temp"_s, QDir::tempPath()},
        {u"newtemp"_s, made.path()},
        {u"store"_s, RegistryStore::shared().filePath()},
        {u"defaultstore"_s, RegistryStore::defaultFilePath()},
    };
    const QString path = found.value(what);
    QVERIFY(!path.isEmpty());
    QVERIFY2(inside(path, sandboxRoot()), qPrintable(path + u" is outside "_s + sandboxRoot()));
}

void TestSandbox::programsStartedInherit()
{
    QProcess shell;
    shell.start(u"sh"_s,
                {u"-c"_s, u"printf '%s\\n' \"$HOME\" \"$XDG_CONFIG_HOME\" \"$XDG_DATA_HOME\" "
                          u"\"$XDG_STATE_HOME\" \"$XDG_CACHE_HOME\" \"$XDG_RUNTIME_DIR\" \"$TMPDIR\""_s});
    QVERIFY(shell.waitForFinished(10000));
    const QStringList seen =
        QString::fromLocal8Bit(shell.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    QStringList expected;
    for (const auto& [name, folder] : SandboxVariables(sandboxRoot()))
        expected.append(folder);
    QCOMPARE(seen, expected);
}

void TestSandbox::testsLeaveTheUsersFilesAlone_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("function");

    // Cases that write the registry store, the documents folder or the configuration folder.
    QTest::newRow("headless front end") << u"tst_headless"_s << u"usage"_s;
    QTest::newRow("registry access") << u"tst_regaccess"_s << u"setRegString"_s;
    QTest::newRow("registry tool") << u"tst_regtool"_s << u"toolReadsWhatProgramWrote"_s;
    QTest::newRow("settings table") << u"tst_settingstable"_s << u"proxySetting"_s;
    QTest::newRow("notice feed") << u"tst_noticefeed"_s << u"fetchUsesUserDataFolder"_s;
    QTest::newRow("shell opening") << u"tst_shellopen"_s << u"shellOpenFileChain"_s;
    QTest::newRow("browser manifests")
        << u"tst_browserregistrations"_s << u"freeFunctionsUseTheUsersFolders"_s;
}

void TestSandbox::testsLeaveTheUsersFilesAlone()
{
    QFETCH(QString, program);
    QFETCH(QString, function);

    // A user's home as a session has it: a store with a proxy set, and edited rules.
    QTemporaryDir user;
    QTemporaryDir tmp;
    QVERIFY(user.isValid() && tmp.isValid());
    const QString home = user.filePath(u"home"_s);
    {
        RegistryStore store(home + u"/.config/halvex-linvera/registry.sqlite3"_s);
        const auto create = RegistryStore::CreateMode::CreateMissingKeys;
        QCOMPARE(store.setValue(RegRoot::CurrentUser, kInternetSettings, u"ProxyEnable"_s,
                                RegistryStore::RegDword, QByteArray("\x01\0\0\0", 4), create),
                 qint32(RegistryStore::Success));
        QCOMPARE(store.setValue(RegRoot::CurrentUser, kInternetSettings, u"ProxyServer"_s,
                                RegistryStore::RegSz, QByteArray("proxy.user.example:8080\0", 24), create),
                 qint32(RegistryStore::Success));
        QCOMPARE(store.setValue(RegRoot::LocalMachine, kParamKey, u"ShortURLType"_s, RegistryStore::RegSz,
                                QByteArray("1\0", 2), create),
                 qint32(RegistryStore::Success));
    }
    QVERIFY(writeFile(home + u"/Documents/halvex-linvera/tinyurls.txt"_s, "mine.example/\tLocation:\t\r\n"));
    QVERIFY(QDir().mkpath(home + u"/.cache"_s));
    QVERIFY(QDir().mkpath(home + u"/.local/share"_s));
    const QStringList before = snapshot(home);
    QVERIFY(before.contains(
        u".config/halvex-linvera/registry.sqlite3 "_s +
        QString::fromLatin1(fileDigest(home + u"/.config/halvex-linvera/registry.sqlite3"_s).toHex())));

    // Run by hand from that session: no ctest, the user's folders in the environment.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"HOME"_s, home);
    env.insert(u"XDG_CONFIG_HOME"_s, home + u"/.config"_s);
    env.insert(u"XDG_DATA_HOME"_s, home + u"/.local/share"_s);
    env.insert(u"XDG_CACHE_HOME"_s, home + u"/.cache"_s);
    env.insert(u"XDG_STATE_HOME"_s, home + u"/.local/state"_s);
    env.insert(u"XDG_DOCUMENTS_DIR"_s, home + u"/Documents"_s);
    env.insert(u"TMPDIR"_s, tmp.path());
    const Run run = runProgram(programDir() + u'/' + program, {function}, env, 120000);
    QVERIFY2(run.exitCode == 0, qPrintable(run.output));

    QCOMPARE(snapshot(home), before);
    // The test's own folder went with it.
    QCOMPARE(QDir(tmp.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList());
}

void TestSandbox::checkRefusesFoldersOutside_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("refused"); // empty: accepted

    const QString elsewhere = QDir::cleanPath(QDir::tempPath() + u"/../elsewhere"_s);
    QTest::newRow("own folders") << QStringList{u"--make"_s} << QString();
    QTest::newRow("store inside") << QStringList{u"--make"_s, u"--store=@root@/tmp/mine.sqlite3"_s}
                                  << QString();
    QTest::newRow("no sandbox made") << QStringList{} << u"this process made no sandbox folder"_s;
    QTest::newRow("HOME elsewhere") << QStringList{u"--make"_s, u"HOME="_s + elsewhere} << u"HOME ("_s;
    QTest::newRow("HOME climbing out")
        << QStringList{u"--make"_s, u"HOME=@root@/home/../.."_s} << u"HOME ("_s;
    // The link's target is missing: the check follows it all the same.
    QTest::newRow("store through a dangling link")
        << QStringList{u"--make"_s, u"--link=@root@/tmp/gone:"_s + elsewhere + u"/gone"_s,
                       u"--store=@root@/tmp/gone/registry.sqlite3"_s}
        << u"the registry store ("_s;
    QTest::newRow("HOME through a link out of the sandbox")
        << QStringList{u"--make"_s, u"--link=@root@/tmp/out:"_s + elsewhere, u"HOME=@root@/tmp/out/home"_s}
        << u"HOME ("_s;
    QTest::newRow("store through a link out of the sandbox")
        << QStringList{u"--make"_s, u"--link=@root@/tmp/out:"_s + elsewhere,
                       u"--store=@root@/tmp/out/registry.sqlite3"_s}
        << u"the registry store ("_s;
    QTest::newRow("XDG_CONFIG_HOME elsewhere")
        << QStringList{u"--make"_s, u"XDG_CONFIG_HOME="_s + elsewhere} << u"XDG_CONFIG_HOME ("_s;
    QTest::newRow("XDG_DATA_HOME elsewhere")
        << QStringList{u"--make"_s, u"XDG_DATA_HOME="_s + elsewhere} << u"XDG_DATA_HOME ("_s;
    QTest::newRow("XDG_CACHE_HOME elsewhere")
        << QStringList{u"--make"_s, u"XDG_CACHE_HOME="_s + elsewhere} << u"XDG_CACHE_HOME ("_s;
    QTest::newRow("TMPDIR elsewhere") << QStringList{u"--make"_s, u"TMPDIR="_s + elsewhere} << u"TMPDIR ("_s;
    QTest::newRow("TMPDIR is the sandbox's parent")
        << QStringList{u"--make"_s, u"TMPDIR=@root@/.."_s} << u"TMPDIR ("_s;
    QTest::newRow("store elsewhere") << QStringList{u"--make"_s,
                                                    u"--store="_s + elsewhere + u"/registry.sqlite3"_s}
                                     << u"the registry store ("_s;
    QTest::newRow("store beside the sandbox")
        << QStringList{u"--make"_s, u"--store=@root@/../registry.sqlite3"_s} << u"the registry store ("_s;
}

void TestSandbox::checkRefusesFoldersOutside()
{
    QFETCH(QStringList, args);
    QFETCH(QString, refused);

    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    QVERIFY(QDir().mkpath(QDir::tempPath() + u"/../elsewhere"_s));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"TMPDIR"_s, tmp.path());
    const Run run = runProgram(programDir() + u"/sandbox_probe"_s, args, env, 30000);
    if (refused.isEmpty()) {
        QVERIFY2(run.exitCode == 0, qPrintable(run.output));
        QVERIFY2(run.output.contains(u"inside the sandbox"_s), qPrintable(run.output));
    } else {
        QVERIFY2(run.crashed, qPrintable(run.output));
        QVERIFY2(run.output.contains(u"linvera test sandbox: "_s + refused), qPrintable(run.output));
        QVERIFY2(run.output.contains(u"refusing to run against the user's registry store"_s) ||
                     run.output.contains(u"register the test with linvera_add_test"_s),
                 qPrintable(run.output));
        QVERIFY(!run.output.contains(u"inside the sandbox"_s));
    }
}

QTEST_GUILESS_MAIN(TestSandbox)
#include "tst_sandbox.moc"
