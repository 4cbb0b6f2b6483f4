// The tests' buses start nothing an installed package offers. A decoy service file for each bus name
// of the programs lies where the package would put one (a data folder of XDG_DATA_DIRS); asking a bus
// to start the name must not run it. A standard session bus, asked the same, does: the decoys are
// what an installed package looks like to the bus.
#include "TestBus.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace linvera::test;

namespace {

const QStringList kProgramNames{u"HVXLinvera.Linvera"_s, u"HVXLinveraHelper.HVXLinveraHelperClass"_s};
const QString kServiceUnknown = u"org.freedesktop.DBus.Error.ServiceUnknown"_s;

/// An installed package, imitated: a data folder whose dbus-1/services names each bus name, with a
/// program that only leaves a mark.
class InstalledDecoys
{
public:
    bool plant()
    {
        if (!m_dir.isValid() || !QDir().mkpath(marksFolder()))
            return false;
        for (const QString& name : kProgramNames) {
            const QString folder = dataFolder() + u"/dbus-1/services"_s;
            QFile file(folder + u'/' + name + u".service"_s);
            const QByteArray text = "[D-BUS Service]\nName=" + name.toUtf8() + "\nExec=\"" +
                                    QStandardPaths::findExecutable(u"touch"_s).toUtf8() + "\" \"" +
                                    marksFolder().toUtf8() + '/' + name.toUtf8() + "\"\n";
            if (!QDir().mkpath(folder) || !file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
                return false;
        }
        return true;
    }
    QString dataFolder() const { return m_dir.filePath(u"share"_s); }
    QString marksFolder() const { return m_dir.filePath(u"marks"_s); }
    QStringList marks() const { return QDir(marksFolder()).entryList(QDir::Files, QDir::Name); }

private:
    QTemporaryDir m_dir;
};

QDBusMessage startServiceCall(const QString& name)
{
    QDBusMessage call = QDBusMessage::createMethodCall(u"org.freedesktop.DBus"_s, u"/org/freedesktop/DBus"_s,
                                                       u"org.freedesktop.DBus"_s, u"StartServiceByName"_s);
    call << name << 0u;
    return call;
}

/// StartServiceByName, waited for with events running; the error name, or empty when it started.
QString startService(const QDBusConnection& bus, const QString& name)
{
    QDBusPendingCall pending = bus.asyncCall(startServiceCall(name), 20000);
    if (!QTest::qWaitFor([&pending] { return pending.isFinished(); }, 25000))
        return u"no answer"_s;
    const QDBusMessage reply = pending.reply();
    return reply.type() == QDBusMessage::ErrorMessage ? reply.errorName() : QString();
}

/// A bus of the system's standard session configuration, for the control row only.
bool startStandardBus(QProcess& daemon, const QProcessEnvironment& environment, QString& address)
{
    daemon.setProcessEnvironment(environment);
    daemon.start(u"dbus-daemon"_s, {u"--session"_s, u"--nofork"_s, u"--print-address=1"_s});
    if (!daemon.waitForStarted(10000))
        return false;
    const QDeadlineTimer deadline(10000);
    QByteArray line;
    while (!line.contains('\n') && !deadline.hasExpired() && daemon.waitForReadyRead(1000))
        line += daemon.readAllStandardOutput();
    address = QString::fromUtf8(line.trimmed());
    return !address.isEmpty();
}

void stopProcess(QProcess& process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

} // namespace

class TestTestBus : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void installedServicesAreNotStarted_data();
    void installedServicesAreNotStarted();
};

void TestTestBus::installedServicesAreNotStarted_data()
{
    QTest::addColumn<QString>("bus");
    QTest::addColumn<bool>("started"); // the decoys ran
    // Under ctest the decoys of the test run lead XDG_DATA_DIRS of this test and of its bus.
    QTest::newRow("the bus the test runs on") << u"session"_s << false;
    QTest::newRow("a bus of the tests' configuration") << u"test"_s << false;
    QTest::newRow("a bus of the tests' configuration with the build's services") << u"build"_s << false;
    QTest::newRow("a standard session bus starts them (control)") << u"standard"_s << true;
}

void TestTestBus::installedServicesAreNotStarted()
{
    QFETCH(QString, bus);
    QFETCH(bool, started);
    InstalledDecoys decoys;
    QVERIFY(decoys.plant());
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir().mkpath(dir.filePath(u"services"_s)));
    QVERIFY(QDir().mkpath(dir.filePath(u"data"_s)));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"XDG_DATA_DIRS"_s, decoys.dataFolder() + u":/usr/local/share:/usr/share"_s);
    // The control bus would otherwise look here first; the decoys must be what it finds.
    environment.insert(u"XDG_DATA_HOME"_s, decoys.dataFolder());

    TestBus testBus;
    QProcess standardBus;
    QString address;
    const QString connectionName = u"tst_testbus"_s;
    if (bus == u"test"_s) {
        QVERIFY2(testBus.start(dir.filePath(u"services"_s), environment), qPrintable(testBus.errorText()));
        address = testBus.address();
    } else if (bus == u"build"_s) {
        QVERIFY2(testBus.start(TestBus::buildServiceFolder(), environment), qPrintable(testBus.errorText()));
        address = testBus.address();
    } else if (bus == u"standard"_s) {
        QVERIFY(startStandardBus(standardBus, environment, address));
    }
    const auto stopBuses = qScopeGuard([&] {
        QDBusConnection::disconnectFromBus(connectionName);
        testBus.stop();
        stopProcess(standardBus);
    });
    const QDBusConnection connection = address.isEmpty()
                                           ? QDBusConnection::sessionBus()
                                           : QDBusConnection::connectToBus(address, connectionName);
    QVERIFY2(connection.isConnected(), "needs a session bus (run under the tests' dbus-run-session)");

    if (started) {
        // The bus answers only once it gives up on a service that never takes its name: the marks
        // are the answer here.
        for (const QString& name : kProgramNames)
            connection.asyncCall(startServiceCall(name));
        QTRY_COMPARE_WITH_TIMEOUT(decoys.marks(), kProgramNames, 20000);
        return;
    }
    for (const QString& name : kProgramNames) {
        // The build's own mailbox server is started for real by the build's bus: that is not asked here.
        if (bus == u"build"_s && name != u"HVXLinvera.Linvera"_s)
            continue;
        const QString error = startService(connection, name);
        QVERIFY2(error == kServiceUnknown, qPrintable(name + u": "_s + error));
    }
    QCOMPARE(decoys.marks(), QStringList());
}

QTEST_GUILESS_MAIN(TestTestBus)
#include "tst_testbus.moc"
