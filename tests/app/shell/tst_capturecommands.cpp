// The capture switches of the command line and their hand-over to the running instance through
// HVXLinvera.Capture, served beside the automation interface on the same object.
#include "app/shell/CaptureCommands.h"
#include "automation/AutomationTarget.h"
#include "automation/LinveraAutomation.h"

#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusReply>
#include <QTest>

#include <atomic>
#include <thread>

using namespace Qt::StringLiterals;
using namespace linvera;

namespace {

// Answers the automation calls with nothing; only its presence on the object matters here.
class IdleTarget : public AutomationTarget
{
public:
    void quitNow() override {}
    int mainWindowState() const override { return 0; }
    void setMainWindowState(int) override {}
    void startConv(const QString&) override {}
    QString afterUrl() const override { return {}; }
    QString afterInfo() const override { return {}; }
    QString beforeInfo() const override { return {}; }
    bool isProcessing() const override { return false; }
};

// Sends from a connection and thread of its own, as a second start would: the serving side needs
// this thread's event loop to answer.
bool SendFromOutside(CaptureCommand command)
{
    std::atomic<int> result{-1};
    std::thread sender([&] {
        const QString name = u"second-start"_s;
        {
            QDBusConnection outside = QDBusConnection::connectToBus(QDBusConnection::SessionBus, name);
            result = SendCaptureCommand(command, outside) ? 1 : 0;
        }
        QDBusConnection::disconnectFromBus(name);
    });
    // The call itself ends within its own time-out; this loop only keeps the events running meanwhile.
    while (result.load() == -1)
        QTest::qWait(10);
    sender.join();
    return result.load() == 1;
}

} // namespace

Q_DECLARE_METATYPE(linvera::CaptureCommand)

class TestCaptureCommands : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void commandOf_data();
    void commandOf();
    void handOverReachesTheRunningInstance_data();
    void handOverReachesTheRunningInstance();
    void handOverWithoutAnInstanceFails();
    void automationInterfaceUnchanged();
    void cleanupTestCase();

private:
    void serve();

    IdleTarget m_target;
    std::unique_ptr<LinveraAutomation> m_automation;
    QList<CaptureCommand> m_received;
};

void TestCaptureCommands::initTestCase()
{
    QVERIFY2(QDBusConnection::sessionBus().isConnected(), "needs a session bus (run under dbus-run-session)");
}

void TestCaptureCommands::commandOf_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<CaptureCommand>("command");
    QTest::addColumn<QStringList>("rest");
    QTest::newRow("no arguments") << QStringList() << CaptureCommand::None << QStringList();
    QTest::newRow("a URL only") << QStringList{u"http://s.example/a"_s} << CaptureCommand::None
                                << QStringList{u"http://s.example/a"_s};
    QTest::newRow("region") << QStringList{u"--capture-region"_s} << CaptureCommand::Region << QStringList();
    QTest::newRow("window") << QStringList{u"--capture-window"_s} << CaptureCommand::Window << QStringList();
    QTest::newRow("first switch counts") << QStringList{u"--capture-window"_s, u"--capture-region"_s}
                                         << CaptureCommand::Window << QStringList();
    QTest::newRow("URL kept beside a switch")
        << QStringList{u"http://s.example/a"_s, u"--capture-region"_s} << CaptureCommand::Region
        << QStringList{u"http://s.example/a"_s};
    QTest::newRow("switch in another case is a URL")
        << QStringList{u"--Capture-Region"_s} << CaptureCommand::None << QStringList{u"--Capture-Region"_s};
    QTest::newRow("switch with a value is not a switch")
        << QStringList{u"--capture-region=1"_s} << CaptureCommand::None
        << QStringList{u"--capture-region=1"_s};
}

void TestCaptureCommands::commandOf()
{
    QFETCH(QStringList, arguments);
    QFETCH(CaptureCommand, command);
    QFETCH(QStringList, rest);
    QCOMPARE(CaptureCommandOf(arguments), command);
    QCOMPARE(WithoutCaptureSwitches(arguments), rest);
}

void TestCaptureCommands::serve()
{
    if (m_automation)
        return;
    m_automation = std::make_unique<LinveraAutomation>([this]() -> AutomationTarget& { return m_target; });
    new CaptureBusAdaptor(m_automation.get(), [this](CaptureCommand command) { m_received.append(command); });
    QVERIFY(m_automation->registerObject());
    QVERIFY(
        QDBusConnection::sessionBus().registerService(QString::fromLatin1(LinveraAutomation::kServiceName)));
}

void TestCaptureCommands::handOverReachesTheRunningInstance_data()
{
    QTest::addColumn<CaptureCommand>("command");
    QTest::newRow("region") << CaptureCommand::Region;
    QTest::newRow("window") << CaptureCommand::Window;
}

void TestCaptureCommands::handOverReachesTheRunningInstance()
{
    QFETCH(CaptureCommand, command);
    serve();
    m_received.clear();
    QVERIFY(SendFromOutside(command));
    QTRY_COMPARE(m_received, QList<CaptureCommand>{command});
}

void TestCaptureCommands::handOverWithoutAnInstanceFails()
{
    QDBusConnection::sessionBus().unregisterService(QString::fromLatin1(LinveraAutomation::kServiceName));
    m_automation.reset();
    QVERIFY(!SendFromOutside(CaptureCommand::Region));
    QVERIFY(!SendCaptureCommand(CaptureCommand::None, QDBusConnection::sessionBus()));
}

void TestCaptureCommands::automationInterfaceUnchanged()
{
    serve();
    QDBusInterface introspectable(QString::fromLatin1(LinveraAutomation::kServiceName),
                                  QString::fromLatin1(LinveraAutomation::kObjectPath),
                                  u"org.freedesktop.DBus.Introspectable"_s);
    const QDBusReply<QString> xml = introspectable.call(u"Introspect"_s);
    QVERIFY2(xml.isValid(), qPrintable(xml.error().message()));
    QVERIFY(xml.value().contains(u"<interface name=\"HVXLinvera.Capture\">"_s));
    QVERIFY(xml.value().contains(u"<interface name=\"HVXLinvera.Linvera\">"_s));
    // The automation interface holds its eight methods and nothing of the capture.
    const qsizetype linvera = xml.value().indexOf(u"<interface name=\"HVXLinvera.Linvera\">"_s);
    const QString automation =
        xml.value().mid(linvera, xml.value().indexOf(u"</interface>"_s, linvera) - linvera);
    QCOMPARE(automation.count(u"<method "_s), 8);
    QVERIFY(!automation.contains(u"Region"_s));
}

void TestCaptureCommands::cleanupTestCase()
{
    QDBusConnection::sessionBus().unregisterService(QString::fromLatin1(LinveraAutomation::kServiceName));
    m_automation.reset();
}

QTEST_GUILESS_MAIN(TestCaptureCommands)
#include "tst_capturecommands.moc"
