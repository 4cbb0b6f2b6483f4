#include "MailboxFixture.h"
#include "mailbox/MailboxClient.h"
#include "mailbox/MailboxPoller.h"

#include <QDBusConnection>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <csignal>
#include <memory>

using namespace Qt::StringLiterals;
using linvera::MailboxClient;
using linvera::MailboxPoller;
using linvera::test::MailboxFixture;

class TestMailboxPoller : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void timerCadence();
    void commandLeftBeforeStartIsHandledAtFirstTick();
    void commandsFromWriterProcesses_data();
    void commandsFromWriterProcesses();
    void twoCommandsBetweenLooksOnlyLastIsHandled();
    void nothingHappensWithoutDirtyFlag();
    void reconnectsAfterServerIsKilled();
    void keepsPollingWhileServerCannotStart();
    void stuckServerDoesNotBlockEveryLook();

private:
    /// Waits, bounded, until `count` more looks have ended. `looks` must spy on the poller's
    /// timer: the poller's own slot, connected first, has run when the spy hears a timeout. A
    /// look that emitted a signal another spy waited for is over, and counted, once that wait
    /// returns.
    static bool waitForLooks(QSignalSpy& looks, qsizetype count);
    void startHelper();
    void writeCommand(const QString& text);
    QDBusConnection bus() const { return QDBusConnection::sessionBus(); }

    std::unique_ptr<QProcess> m_helper;
    std::unique_ptr<MailboxClient> m_client;
    std::unique_ptr<MailboxPoller> m_poller;
};

void TestMailboxPoller::init()
{
    QVERIFY2(bus().isConnected(), "the mailbox tests need a session bus");
    QVERIFY2(MailboxFixture::waitForOwner(bus(), false),
             "a mailbox server from an earlier test is still running");
    m_client = std::make_unique<MailboxClient>();
    m_poller = std::make_unique<MailboxPoller>(*m_client);
    m_poller->setHelperProgram(MailboxFixture::helperProgram());
}

void TestMailboxPoller::cleanup()
{
    m_poller.reset();
    m_client.reset();
    if (m_helper && m_helper->state() != QProcess::NotRunning) {
        m_helper->kill();
        m_helper->waitForFinished(10000);
    }
    m_helper.reset();
    // A server the poller started again is ours too.
    const qint64 pid = MailboxFixture::ownerPid(bus());
    if (pid > 0 &&
        MailboxFixture::executableOf(pid) == QFileInfo(MailboxFixture::helperProgram()).canonicalFilePath()) {
        MailboxFixture::killAndWait(pid);
    }
    QVERIFY(MailboxFixture::waitForOwner(bus(), false));
}

void TestMailboxPoller::startHelper()
{
    m_helper = std::make_unique<QProcess>();
    m_helper->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_helper->start(MailboxFixture::helperProgram(), {u"--first-client-ms"_s, u"60000"_s});
    QVERIFY2(m_helper->waitForStarted(10000), qPrintable(m_helper->errorString()));
    QVERIFY2(MailboxFixture::waitForOwner(bus(), true), "the server did not take its name");
    // The start-up connect of the main program: from here on it holds the server.
    QVERIFY2(m_client->tryConnect(), qPrintable(m_client->lastError()));
}

bool TestMailboxPoller::waitForLooks(QSignalSpy& looks, qsizetype count)
{
    const qsizetype target = looks.count() + count;
    while (looks.count() < target) {
        if (!looks.wait(5000)) {
            return false;
        }
    }
    return true;
}

void TestMailboxPoller::writeCommand(const QString& text)
{
    const auto run = MailboxFixture::runClient({u"set"_s, text, u"dirty"_s});
    QVERIFY2(run.finished && run.exitCode == 0, qPrintable(run.errorOutput));
}

void TestMailboxPoller::timerCadence()
{
    startHelper();
    const QTimer& timer = m_poller->timer();
    QCOMPARE(timer.objectName(), u"TimerHelper"_s);
    QVERIFY(!timer.isActive());
    m_poller->start();
    QVERIFY(timer.isActive());
    QCOMPARE(timer.interval(), 30);
    QTRY_COMPARE_WITH_TIMEOUT(timer.interval(), 200, 2000);
    QVERIFY(timer.isActive());
    QVERIFY(!timer.isSingleShot());
}

void TestMailboxPoller::commandLeftBeforeStartIsHandledAtFirstTick()
{
    startHelper();
    writeCommand(u"\"http://example.com/first\""_s);

    // Count the looks finished before the command arrives: the poller's own slot runs first on
    // each timeout, this counter after it.
    int looksBefore = -1;
    int looks = 0;
    connect(&m_poller->timer(), &QTimer::timeout, this, [&looks] { ++looks; });
    connect(m_poller.get(), &MailboxPoller::commandArrived, this, [&] { looksBefore = looks; });

    QSignalSpy spy(m_poller.get(), &MailboxPoller::commandArrived);
    QElapsedTimer sinceStart;
    sinceStart.start();
    m_poller->start();
    QVERIFY(spy.wait(5000));
    const qint64 elapsed = sinceStart.elapsed();
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toString(), u"http://example.com/first"_s);
    QCOMPARE(looksBefore, 0); // handled by the first look
    QVERIFY2(elapsed >= 25 && elapsed < 2000, qPrintable(QString::number(elapsed)));
    QCOMPARE(m_poller->argList(), (QStringList{u""_s, u"http://example.com/first"_s}));
    QCOMPARE(m_client->checkCmdDirty().value, 0);
}

void TestMailboxPoller::commandsFromWriterProcesses_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("beforeUrl");
    QTest::addColumn<int>("argCount");
    QTest::newRow("one quoted URL") << u"\"http://example.com/a?b=c d\""_s << u"http://example.com/a?b=c d"_s
                                    << 1;
    QTest::newRow("quoted URL and quoted title with spaces")
        << u"\"http://example.com/x\" \"日本語の ページ\""_s << u"http://example.com/x"_s << 2;
    QTest::newRow("unquoted title of two words: empty input")
        << u"\"http://example.com/x\" Two words"_s << QString() << 3;
    QTest::newRow("quote inside the title: empty input")
        << u"\"http://example.com/x\" \"27\" monitor\""_s << QString() << 3;
    QTest::newRow("empty command: empty input") << QString() << QString() << 0;
    QTest::newRow("more than ten words: empty input") << u"a b c d e f g h i j k l"_s << QString() << 10;
}

void TestMailboxPoller::commandsFromWriterProcesses()
{
    QFETCH(QString, command);
    QFETCH(QString, beforeUrl);
    QFETCH(int, argCount);

    startHelper();
    QSignalSpy spy(m_poller.get(), &MailboxPoller::commandArrived);
    QSignalSpy looks(&m_poller->timer(), &QTimer::timeout);
    m_poller->start();
    QVERIFY(waitForLooks(looks, 1));
    QCOMPARE(spy.count(), 0);

    writeCommand(command);
    QVERIFY(spy.wait(5000));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toString(), beforeUrl);
    QCOMPARE(m_poller->argList().size() - 1, argCount);

    // Taken once: the next look sees a lowered flag.
    QVERIFY(waitForLooks(looks, 1));
    QCOMPARE(spy.count(), 1);
}

void TestMailboxPoller::twoCommandsBetweenLooksOnlyLastIsHandled()
{
    startHelper();
    // Two writer processes before the first look.
    writeCommand(u"http://example.com/one"_s);
    writeCommand(u"http://example.com/two"_s);
    QSignalSpy spy(m_poller.get(), &MailboxPoller::commandArrived);
    QSignalSpy looks(&m_poller->timer(), &QTimer::timeout);
    m_poller->start();
    QVERIFY(spy.wait(5000));
    QVERIFY(waitForLooks(looks, 1));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toString(), u"http://example.com/two"_s);

    // Two writes between two steady looks: a second connection writes both without
    // returning to the event loop, so no look can fall between them.
    {
        const QDBusConnection writerBus =
            QDBusConnection::connectToBus(QDBusConnection::SessionBus, u"writer"_s);
        MailboxClient writer(writerBus);
        QVERIFY(writer.setCmdData(u"http://example.com/three"_s).ok);
        QVERIFY(writer.setCmdDirty().ok);
        QVERIFY(writer.setCmdData(u"http://example.com/four"_s).ok);
        QVERIFY(writer.setCmdDirty().ok);
    }
    QDBusConnection::disconnectFromBus(u"writer"_s);
    QVERIFY(spy.wait(5000));
    QVERIFY(waitForLooks(looks, 1));
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(1).at(0).toString(), u"http://example.com/four"_s);
}

void TestMailboxPoller::nothingHappensWithoutDirtyFlag()
{
    startHelper();
    const auto run = MailboxFixture::runClient({u"set"_s, u"http://example.com/not-announced"_s});
    QVERIFY2(run.finished && run.exitCode == 0, qPrintable(run.errorOutput));
    QSignalSpy spy(m_poller.get(), &MailboxPoller::commandArrived);
    QSignalSpy looks(&m_poller->timer(), &QTimer::timeout);
    m_poller->start();
    // The first look and a steady one reach the server and leave the text alone.
    QVERIFY(waitForLooks(looks, 2));
    QCOMPARE(spy.count(), 0);
    QVERIFY(m_client->isConnected());
    QCOMPARE(m_client->getCmdData().value, u"http://example.com/not-announced"_s);
}

void TestMailboxPoller::reconnectsAfterServerIsKilled()
{
    startHelper();
    const qint64 firstPid = m_helper->processId();
    m_poller->setRestartInterval(std::chrono::milliseconds(500));
    QSignalSpy spy(m_poller.get(), &MailboxPoller::commandArrived);
    QSignalSpy unreachable(m_poller.get(), &MailboxPoller::mailboxUnreachable);
    m_poller->start();
    writeCommand(u"http://example.com/before"_s);
    QVERIFY(spy.wait(5000));
    QCOMPARE(spy.at(0).at(0).toString(), u"http://example.com/before"_s);

    m_helper->kill();
    QVERIFY(m_helper->waitForFinished(10000));

    // The poller notices at its next look and starts the server program again (its looks need
    // the event loop, so no blocking wait here).
    QTRY_VERIFY_WITH_TIMEOUT(MailboxFixture::nameHasOwner(bus()), 15000);
    const qint64 secondPid = MailboxFixture::ownerPid(bus());
    QVERIFY(secondPid > 0);
    QVERIFY(secondPid != firstPid);
    QCOMPARE(MailboxFixture::executableOf(secondPid),
             QFileInfo(MailboxFixture::helperProgram()).canonicalFilePath());

    writeCommand(u"\"http://example.com/after\" \"title\""_s);
    QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 2, 5000);
    QCOMPARE(spy.at(1).at(0).toString(), u"http://example.com/after"_s);
    QVERIFY(m_client->isConnected());
    QVERIFY(unreachable.count() >= 1);
    QVERIFY(m_poller->timer().isActive());
}

void TestMailboxPoller::keepsPollingWhileServerCannotStart()
{
    // No server and a program that does not exist: looks fail quietly and go on.
    m_poller->setHelperProgram(u"/nonexistent/H-LinveraHelper"_s);
    QSignalSpy spy(m_poller.get(), &MailboxPoller::commandArrived);
    QSignalSpy unreachable(m_poller.get(), &MailboxPoller::mailboxUnreachable);
    m_poller->start();
    // Every look fails and says so; a second failing look shows that the looks go on.
    QVERIFY(unreachable.wait(5000));
    QVERIFY(unreachable.wait(5000));
    QCOMPARE(spy.count(), 0);
    QVERIFY(!m_client->isConnected());
    QVERIFY(m_poller->timer().isActive());
    QCOMPARE(m_poller->timer().interval(), 200);

    // A server that appears later is found by the next looks.
    startHelper();
    writeCommand(u"http://example.com/late"_s);
    QVERIFY(spy.wait(5000));
    QCOMPARE(spy.at(0).at(0).toString(), u"http://example.com/late"_s);
    QVERIFY(m_client->isConnected());
}

void TestMailboxPoller::stuckServerDoesNotBlockEveryLook()
{
    startHelper();
    MailboxClient client(QDBusConnection::sessionBus(), std::chrono::milliseconds(300));
    MailboxPoller poller(client);
    poller.setHelperProgram(MailboxFixture::helperProgram());
    poller.setStuckPause(std::chrono::milliseconds(1000));
    QSignalSpy unreachable(&poller, &MailboxPoller::mailboxUnreachable);
    QSignalSpy arrived(&poller, &MailboxPoller::commandArrived);
    QSignalSpy looks(&poller.timer(), &QTimer::timeout);
    poller.start();
    QVERIFY(waitForLooks(looks, 1));
    QCOMPARE(unreachable.count(), 0);
    QVERIFY(client.isConnected());

    // A stopped server owns its name but answers nothing: one look waits out the time-out,
    // then the looks pause instead of blocking the window at every tick.
    const auto pid = pid_t(m_helper->processId());
    ::kill(pid, SIGSTOP);
    QVERIFY(unreachable.wait(5000));
    // What must not happen is another call to the stopped server: each would wait out the
    // 300 ms time-out and report. Two ticks (400 ms) show the pause lasts beyond one look and
    // still leave a wide margin inside the 1 s pause on a busy machine.
    QVERIFY(waitForLooks(looks, 2));
    ::kill(pid, SIGCONT);
    QCOMPARE(unreachable.count(), 1);
    QVERIFY(!client.isConnected());

    writeCommand(u"http://example.com/after-pause"_s);
    QVERIFY(arrived.wait(5000));
    QCOMPARE(arrived.count(), 1);
    QCOMPARE(arrived.at(0).at(0).toString(), u"http://example.com/after-pause"_s);
    QVERIFY(client.isConnected());
    QCOMPARE(unreachable.count(), 1);
}

QTEST_GUILESS_MAIN(TestMailboxPoller)
#include "tst_mailboxpoller.moc"
