// The private temporary folder against what another user could plant in the shared one.
#include "AppPaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using linvera::platform::JoinPath;
using linvera::platform::PrivateTempFolder;

class TestPrivateTemp : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void plantedNames_data();
    void plantedNames();
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

QTEST_GUILESS_MAIN(TestPrivateTemp)
#include "tst_privatetemp.moc"
