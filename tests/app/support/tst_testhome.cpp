// The home of a test program: every folder a program finds through its environment, the temporary
// folder and the registry store lie inside it while it lives, and the environment is as before
// once it is gone.
#include "RegistryStore.h"
#include "TestHome.h"
#include "TestSandbox.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

using namespace Qt::StringLiterals;
using namespace linvera;
using namespace linvera::test;

namespace {

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

std::optional<QByteArray> variable(const char* name)
{
    return qEnvironmentVariableIsSet(name) ? std::optional<QByteArray>(qgetenv(name)) : std::nullopt;
}

} // namespace

class TestTestHome : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void foldersInside_data();
    void foldersInside();
    void storeInside();
    void programsStartedInherit();
    void environmentRestored_data();
    void environmentRestored();
};

void TestTestHome::foldersInside_data()
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
}

void TestTestHome::foldersInside()
{
    QFETCH(QString, what);

    const TestHome home;
    QVERIFY(home.isValid());
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
    };
    const QString path = found.value(what);
    QVERIFY(!path.isEmpty());
    QVERIFY2(inside(path, home.root()), qPrintable(path + u" is outside "_s + home.root()));
}

void TestTestHome::storeInside()
{
    // The program's own home is the outer one.
    platform::RegistryStore* outer = &platform::RegistryStore::shared();
    {
        TestHome home;
        QVERIFY(home.isValid());
        QCOMPARE(&platform::RegistryStore::shared(), &home.store());
        QVERIFY2(inside(home.store().filePath(), home.root()), qPrintable(home.store().filePath()));
        // The default store a program of the home opens is inside it too.
        QVERIFY(inside(platform::RegistryStore::defaultFilePath(), home.root()));
    }
    QCOMPARE(&platform::RegistryStore::shared(), outer);
}

void TestTestHome::programsStartedInherit()
{
    const TestHome home;
    QVERIFY(home.isValid());
    QProcess shell;
    shell.start(u"sh"_s, {u"-c"_s, u"printf '%s\\n' \"$HOME\" \"$XDG_CONFIG_HOME\" \"$XDG_DATA_HOME\" "
                                   u"\"$XDG_CACHE_HOME\" \"$XDG_RUNTIME_DIR\" \"$TMPDIR\""_s});
    QVERIFY(shell.waitForFinished(10000));
    const QStringList seen =
        QString::fromLocal8Bit(shell.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    QStringList expected;
    for (const auto& [name, folder] : TestHome::variables(home.root()))
        expected.append(folder);
    QCOMPARE(seen, expected);
}

void TestTestHome::environmentRestored_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<bool>("setBefore");

    for (const auto& [name, folder] : TestHome::variables(u"/x"_s)) {
        QTest::addRow("%s set before", name.constData()) << name << true;
        QTest::addRow("%s unset before", name.constData()) << name << false;
    }
}

void TestTestHome::environmentRestored()
{
    QFETCH(QByteArray, name);
    QFETCH(bool, setBefore);

    const std::optional<QByteArray> original = variable(name.constData());
    // An earlier value inside the test's own sandbox: the sandbox check refuses any folder outside it.
    const QByteArray earlier = QFile::encodeName(linvera::test::sandboxRoot() + u"/earlier/value"_s);
    QVERIFY(QDir().mkpath(QFile::decodeName(earlier)));
    if (setBefore)
        qputenv(name.constData(), earlier);
    else
        qunsetenv(name.constData());
    {
        const TestHome home;
        QVERIFY(home.isValid());
        QVERIFY(variable(name.constData()).has_value());
        QVERIFY(inside(qEnvironmentVariable(name.constData()), home.root()));
    }
    QCOMPARE(variable(name.constData()), setBefore ? std::optional<QByteArray>(earlier) : std::nullopt);
    if (original)
        qputenv(name.constData(), *original);
    else
        qunsetenv(name.constData());
}

LINVERA_APP_TEST_GUILESS_MAIN(TestTestHome)
#include "tst_testhome.moc"
