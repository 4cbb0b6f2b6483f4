// The private temporary folder against what another user could plant in the shared one.
#include "platform/AppPaths.h"

#include "HostileFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using linvera::platform::ChooseTempFolder;
using linvera::platform::JoinPath;
using linvera::platform::PrivateTempFolder;

class TestPrivateTemp : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void plantedNames_data();
    void plantedNames();
    void chosenFolder_data();
    void chosenFolder();
    void programNeverUsesSharedFolder_data();
    void programNeverUsesSharedFolder();
};

void TestPrivateTemp::plantedNames_data()
{
    QTest::addColumn<QString>("planted");
    QTest::addColumn<bool>("usesFixedName");
    QTest::newRow("nothing there") << u"none"_s << true;
    QTest::newRow("our own private folder") << u"private"_s << true;
    QTest::newRow("symbolic link to another folder") << u"link"_s << false;
    QTest::newRow("folder open to others") << u"open"_s << false;
    QTest::newRow("plain file") << u"file"_s << false;
}

void TestPrivateTemp::plantedNames()
{
    QFETCH(QString, planted);
    QFETCH(bool, usesFixedName);
    QTemporaryDir shared;
    QVERIFY(shared.isValid());
    const QString fixed = JoinPath(shared.path(), u"halvex-linvera-"_s + QString::number(getuid()));
    // Where a planted link points: a folder with a file the program must never write over.
    const QString victim = JoinPath(shared.path(), u"victim"_s);
    QVERIFY(QDir().mkpath(victim));
    const QString victimFile = JoinPath(victim, u"hvxlinvera.png"_s);
    {
        QFile file(victimFile);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("own file");
    }
    if (planted == u"private"_s) {
        QVERIFY(QDir().mkdir(fixed));
        QVERIFY(chmod(QFile::encodeName(fixed).constData(), 0700) == 0);
    } else if (planted == u"link"_s) {
        QVERIFY(QFile::link(victim, fixed));
    } else if (planted == u"open"_s) {
        QVERIFY(QDir().mkdir(fixed));
        QVERIFY(chmod(QFile::encodeName(fixed).constData(), 0777) == 0);
    } else if (planted == u"file"_s) {
        QFile file(fixed);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }

    const QString folder = PrivateTempFolder(shared.path());
    QVERIFY(!folder.isEmpty());
    QCOMPARE(folder == fixed, usesFixedName);
    QCOMPARE(QFileInfo(folder).absolutePath(), QFileInfo(shared.path()).absoluteFilePath());
    struct stat info = {};
    QVERIFY(lstat(QFile::encodeName(folder).constData(), &info) == 0);
    QVERIFY(S_ISDIR(info.st_mode));
    QCOMPARE(int(info.st_mode & 0777), 0700);
    QCOMPARE(info.st_uid, getuid());

    // The preview picture written there as the program writes it never reaches the planted target.
    QSaveFile picture(JoinPath(folder, u"hvxlinvera.png"_s));
    QVERIFY(picture.open(QIODevice::WriteOnly));
    picture.write("picture");
    QVERIFY(picture.commit());
    QFile own(victimFile);
    QVERIFY(own.open(QIODevice::ReadOnly));
    QCOMPARE(own.readAll(), QByteArray("own file"));
}

void TestPrivateTemp::chosenFolder_data()
{
    QTest::addColumn<QString>("runtime");
    QTest::addColumn<bool>("sharedWritable");
    QTest::addColumn<QString>("expectedParent");
    QTest::newRow("private runtime folder") << u"private"_s << true << u"runtime"_s;
    QTest::newRow("no runtime folder") << u"unset"_s << true << u"shared"_s;
    QTest::newRow("runtime folder open to others") << u"open"_s << true << u"shared"_s;
    QTest::newRow("runtime folder is a link to a private folder") << u"link"_s << true << u"shared"_s;
    QTest::newRow("relative runtime folder") << u"relative"_s << true << u"shared"_s;
    QTest::newRow("shared folder not writable") << u"unset"_s << false << u"cache"_s;
    QTest::newRow("runtime folder open, shared not writable") << u"open"_s << false << u"cache"_s;
}

void TestPrivateTemp::chosenFolder()
{
    QFETCH(QString, runtime);
    QFETCH(bool, sharedWritable);
    QFETCH(QString, expectedParent);
    QTemporaryDir base;
    QVERIFY(base.isValid());
    const QString shared = JoinPath(base.path(), u"shared"_s);
    const QString cache = JoinPath(base.path(), u"cache/halvex-linvera"_s);
    QString runtimeFolder = JoinPath(base.path(), u"runtime"_s);
    QVERIFY(QDir().mkpath(shared));
    QVERIFY(chmod(QFile::encodeName(shared).constData(), sharedWritable ? 01777 : 0555) == 0);
    if (runtime == u"private"_s || runtime == u"open"_s) {
        QVERIFY(QDir().mkpath(runtimeFolder));
        QVERIFY(chmod(QFile::encodeName(runtimeFolder).constData(), runtime == u"open"_s ? 0755 : 0700) == 0);
    } else if (runtime == u"link"_s) {
        const QString real = JoinPath(base.path(), u"real-runtime"_s);
        QVERIFY(QDir().mkpath(real));
        QVERIFY(chmod(QFile::encodeName(real).constData(), 0700) == 0);
        QVERIFY(QFile::link(real, runtimeFolder));
    } else if (runtime == u"relative"_s) {
        runtimeFolder = u"runtime"_s;
    } else {
        runtimeFolder.clear();
    }

    QString folder;
    {
        linvera::test::HonourFileModes modes;
        if (!modes.isActive())
            QSKIP("file modes cannot be enforced for this test");
        folder = ChooseTempFolder(runtimeFolder, shared, cache);
    }
    chmod(QFile::encodeName(shared).constData(), 0700);
    QVERIFY(!folder.isEmpty());
    QVERIFY(folder != shared);
    const QString parent = expectedParent == u"runtime"_s  ? JoinPath(base.path(), u"runtime"_s)
                           : expectedParent == u"shared"_s ? shared
                                                           : cache;
    QCOMPARE(QFileInfo(folder).absolutePath(), parent);
    struct stat info = {};
    QVERIFY(lstat(QFile::encodeName(folder).constData(), &info) == 0);
    QVERIFY(S_ISDIR(info.st_mode));
    QCOMPARE(int(info.st_mode & 0777), 0700);
    QCOMPARE(info.st_uid, getuid());
}

void TestPrivateTemp::programNeverUsesSharedFolder_data()
{
    QTest::addColumn<bool>("withRuntime");
    QTest::newRow("session runtime folder") << true;
    QTest::newRow("no runtime folder, shared folder not writable") << false;
}

void TestPrivateTemp::programNeverUsesSharedFolder()
{
    QFETCH(bool, withRuntime);
    QTemporaryDir base;
    QVERIFY(base.isValid());
    const QString shared = JoinPath(base.path(), u"shared"_s);
    const QString runtime = JoinPath(base.path(), u"runtime"_s);
    QVERIFY(QDir().mkpath(shared) && QDir().mkpath(runtime));
    QVERIFY(chmod(QFile::encodeName(shared).constData(), withRuntime ? 01777 : 0555) == 0);
    QVERIFY(chmod(QFile::encodeName(runtime).constData(), 0700) == 0);
    const QByteArray savedTmp = qgetenv("TMPDIR");
    const QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR");
    qputenv("TMPDIR", QFile::encodeName(shared));
    if (withRuntime)
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
    else
        qunsetenv("XDG_RUNTIME_DIR");
    QString folder;
    {
        linvera::test::HonourFileModes modes;
        if (modes.isActive())
            folder = linvera::platform::AppPaths::fromEnvironment().tempFolder;
    }
    qputenv("TMPDIR", savedTmp);
    qputenv("XDG_RUNTIME_DIR", savedRuntime);
    chmod(QFile::encodeName(shared).constData(), 0700);
    QVERIFY(!folder.isEmpty());
    QVERIFY2(!QFileInfo(folder).absoluteFilePath().startsWith(shared), qPrintable(folder));
    if (withRuntime)
        QCOMPARE(folder, JoinPath(runtime, u"halvex-linvera"_s));
    struct stat info = {};
    QVERIFY(lstat(QFile::encodeName(folder).constData(), &info) == 0);
    QCOMPARE(int(info.st_mode & 0777), 0700);
}

QTEST_GUILESS_MAIN(TestPrivateTemp)
#include "tst_privatetemp.moc"
