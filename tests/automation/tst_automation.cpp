// The automation interface as an outside client sees it, over a real session bus.
#include "LinveraProxy.h"
#include "automation/AutomationTarget.h"
#include "automation/LinveraAutomation.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusReply>
#include <QDeadlineTimer>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace linvera;

namespace {

class FakeWindow : public AutomationTarget
{
public:
    void quitNow() override { ++quits; }
    int mainWindowState() const override { return state; }
    void setMainWindowState(int s) override { state = s; }
    void startConv(const QString& beforeUrl) override
    {
        started.append(beforeUrl);
        after = u"converted:"_s + beforeUrl;
    }
    QString afterUrl() const override { return after; }
    QString afterInfo() const override { return u"情報\r\n"_s; }
    QString beforeInfo() const override { return u"before"_s; }
    bool isProcessing() const override { return processing; }

    int quits = 0;
    int state = 0;
    QStringList started;
    QString after;
    bool processing = false;
};

// The server lives in this process too: keep its events running while the reply travels.
bool settle(const QDBusPendingCall& call)
{
    QDeadlineTimer deadline(10000);
    while (!call.isFinished() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return call.isFinished();
}

} // namespace

class TestAutomation : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void windowState_data();
    void windowState();
    void startConvAndResults();
    void quitAnswersThenEnds();

private:
    FakeWindow m_window;
    std::unique_ptr<LinveraAutomation> m_automation;
    std::unique_ptr<LinveraProxy> m_proxy;
};

void TestAutomation::initTestCase()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    QVERIFY2(bus.isConnected(), "needs a session bus (run under dbus-run-session)");
    m_automation = std::make_unique<LinveraAutomation>([this]() -> AutomationTarget& { return m_window; });
    QVERIFY(m_automation->registerObject());
    QVERIFY(bus.registerService(QString::fromLatin1(LinveraAutomation::kServiceName)));
    // A second connection plays the outside client, so calls really cross the bus.
    QDBusConnection client = QDBusConnection::connectToBus(QDBusConnection::SessionBus, u"client"_s);
    m_proxy = std::make_unique<LinveraProxy>(QString::fromLatin1(LinveraAutomation::kServiceName),
                                             QString::fromLatin1(LinveraAutomation::kObjectPath), client);
    QVERIFY(m_proxy->isValid());
}

void TestAutomation::windowState_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("error");
    QTest::addColumn<int>("stateAfter");
    QTest::newRow("minimised") << 1 << QString() << 1;
    QTest::newRow("maximised") << 2 << QString() << 2;
    QTest::newRow("normal") << 0 << QString() << 0;
    QTest::newRow("invalid value") << 3 << u"HVXLinvera.Error.InvalidPropertyValue"_s << 2;
    QTest::newRow("negative") << -1 << u"HVXLinvera.Error.InvalidPropertyValue"_s << 2;
    QTest::newRow("overflow") << 70000 << u"HVXLinvera.Error.Overflow"_s << 2;
    QTest::newRow("overflow below") << -40000 << u"HVXLinvera.Error.Overflow"_s << 2;
}

void TestAutomation::windowState()
{
    QFETCH(int, status);
    QFETCH(QString, error);
    QFETCH(int, stateAfter);
    m_window.state = 2;
    if (error.isEmpty())
        m_window.state = status == 2 ? 0 : 2;
    QDBusPendingReply<> set = m_proxy->setMainWindowState(status);
    QVERIFY(settle(set));
    QCOMPARE(set.isError(), !error.isEmpty());
    QCOMPARE(set.error().name(), error);
    if (!error.isEmpty())
        QVERIFY(!set.error().message().isEmpty());
    QDBusPendingReply<int> get = m_proxy->getMainWindowState();
    QVERIFY(settle(get));
    QCOMPARE(get.value(), error.isEmpty() ? status : stateAfter);
}

void TestAutomation::startConvAndResults()
{
    QDBusPendingReply<QDBusVariant> before = m_proxy->GetAfterUrl();
    QVERIFY(settle(before));
    QCOMPARE(before.value().variant().toString(), QString());

    QDBusPendingReply<QDBusVariant> conv = m_proxy->StartConv(u"http://例え.example/ \"q\""_s);
    QVERIFY(settle(conv));
    QVERIFY(!conv.isError());
    QCOMPARE(conv.value().variant().toString(), QString());
    QCOMPARE(m_window.started, QStringList{u"http://例え.example/ \"q\""_s});

    QDBusPendingReply<QDBusVariant> after = m_proxy->GetAfterUrl();
    QVERIFY(settle(after));
    QCOMPARE(after.value().variant().toString(), u"converted:http://例え.example/ \"q\""_s);
    QDBusPendingReply<QDBusVariant> info = m_proxy->GetAfterInfo();
    QVERIFY(settle(info));
    QCOMPARE(info.value().variant().toString(), u"情報\r\n"_s);
    QDBusPendingReply<QDBusVariant> beforeInfo = m_proxy->GetBeforeInfo();
    QVERIFY(settle(beforeInfo));
    QCOMPARE(beforeInfo.value().variant().toString(), u"before"_s);

    for (bool processing : {true, false}) {
        m_window.processing = processing;
        QDBusPendingReply<QDBusVariant> busy = m_proxy->isProcessing();
        QVERIFY(settle(busy));
        QCOMPARE(busy.value().variant().metaType(), QMetaType::fromType<bool>());
        QCOMPARE(busy.value().variant().toBool(), processing);
    }
}

void TestAutomation::quitAnswersThenEnds()
{
    QDBusPendingReply<> quit = m_proxy->Quit();
    QVERIFY(settle(quit));
    QVERIFY2(!quit.isError(), qPrintable(quit.error().message()));
    QTRY_COMPARE(m_window.quits, 1);
}

QTEST_GUILESS_MAIN(TestAutomation)
#include "tst_automation.moc"
