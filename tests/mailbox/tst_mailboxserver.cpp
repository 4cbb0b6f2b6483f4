#include "MailboxFixture.h"
#include "TestBus.h"
#include "mailbox/ClientTracker.h"
#include "mailbox/MailboxClient.h"
#include "mailbox/MailboxNames.h"

#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <algorithm>
#include <array>
#include <csignal>
#include <memory>
#include <vector>

using namespace Qt::StringLiterals;
using linvera::ClientTracker;
using linvera::MailboxClient;
using linvera::test::MailboxFixture;

using ProcessList = QList<QStringList>;

class TestMailboxServer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void protocolAcrossProcesses_data();
    void protocolAcrossProcesses();
    void textsComeBackUnchanged_data();
    void textsComeBackUnchanged();
    void inProcessAndOtherProcess();
    void refusesTextsTheBusCannotCarry_data();
    void refusesTextsTheBusCannotCarry();
    void secondServerExitsWithoutTakingTheName();
    void writerLeavingKeepsServerForOtherClient();
    void endsWhenNoClientArrives();
    void lifetimeNeverEndsEarly_data();
    void lifetimeNeverEndsEarly();
    void badArguments_data();
    void badArguments();
    void connectMailboxStartsServer();
    void connectMailboxWithoutProgram();
    void callsToStoppedServerTimeOut();
    void busActivatesServerFromServiceFile();

private:
    enum class Hold { Yes, No };
    /// Starts a server. With Hold::Yes this process becomes its client at once, as the main
    /// program is, so the server outlives short client processes however slowly they start.
    void startHelper(Hold hold = Hold::Yes, const QStringList& arguments = {});
    QDBusConnection bus() const { return QDBusConnection::sessionBus(); }

    std::unique_ptr<QProcess> m_helper;
    QList<qint64> m_detachedHelpers; // started by code under test, ended by the test
};

void TestMailboxServer::init()
{
    QVERIFY2(bus().isConnected(), "the mailbox tests need a session bus");
    QVERIFY2(MailboxFixture::waitForOwner(bus(), false),
             "a mailbox server from an earlier test is still running");
}

void TestMailboxServer::cleanup()
{
    if (m_helper) {
        if (m_helper->state() != QProcess::NotRunning) {
            m_helper->kill();
            m_helper->waitForFinished(10000);
        }
        m_helper.reset();
    }
    for (const qint64 pid : std::as_const(m_detachedHelpers)) {
        MailboxFixture::killAndWait(pid);
    }
    m_detachedHelpers.clear();
    QVERIFY(MailboxFixture::waitForOwner(bus(), false));
}

void TestMailboxServer::startHelper(Hold hold, const QStringList& arguments)
{
    m_helper = std::make_unique<QProcess>();
    m_helper->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_helper->start(MailboxFixture::helperProgram(), arguments);
    QVERIFY2(m_helper->waitForStarted(10000), qPrintable(m_helper->errorString()));
    QVERIFY2(MailboxFixture::waitForOwner(bus(), true), "the server did not take its name");
    QCOMPARE(MailboxFixture::ownerPid(bus()), m_helper->processId());
    if (hold == Hold::Yes) {
        MailboxClient holder;
        QVERIFY2(holder.tryConnect(), qPrintable(holder.lastError()));
    }
}

void TestMailboxServer::protocolAcrossProcesses_data()
{
    QTest::addColumn<ProcessList>("writers");
    QTest::addColumn<QStringList>("reader");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("fresh server: flag 0, text empty")
        << ProcessList{} << QStringList{u"check"_s, u"get"_s} << QStringList{u"0"_s, u""_s};
    QTest::newRow("set and dirty, read by another process")
        << ProcessList{{u"set"_s, u"http://example.com/"_s, u"dirty"_s}}
        << QStringList{u"check"_s, u"get"_s, u"clear"_s, u"check"_s, u"get"_s}
        << QStringList{u"-1"_s, u"http://example.com/"_s, u"0"_s, u"http://example.com/"_s};
    QTest::newRow("dirty twice, clear once: flag 0") << ProcessList{{u"dirty"_s, u"dirty"_s}, {u"clear"_s}}
                                                     << QStringList{u"check"_s} << QStringList{u"0"_s};
    QTest::newRow("set alone does not raise the flag")
        << ProcessList{{u"set"_s, u"x"_s}} << QStringList{u"check"_s, u"get"_s}
        << QStringList{u"0"_s, u"x"_s};
    QTest::newRow("get does not clear the flag")
        << ProcessList{{u"set"_s, u"x"_s, u"dirty"_s}} << QStringList{u"get"_s, u"get"_s, u"check"_s}
        << QStringList{u"x"_s, u"x"_s, u"-1"_s};
    QTest::newRow("clear keeps the text") << ProcessList{{u"set"_s, u"x"_s, u"dirty"_s}, {u"clear"_s}}
                                          << QStringList{u"check"_s, u"get"_s} << QStringList{u"0"_s, u"x"_s};
    QTest::newRow("last writer wins")
        << ProcessList{{u"set"_s, u"first"_s, u"dirty"_s}, {u"set"_s, u"second"_s, u"dirty"_s}}
        << QStringList{u"check"_s, u"get"_s} << QStringList{u"-1"_s, u"second"_s};
    QTest::newRow("later empty text replaces earlier one")
        << ProcessList{{u"set"_s, u"first"_s}, {u"set"_s, u""_s}} << QStringList{u"get"_s}
        << QStringList{u""_s};
}

void TestMailboxServer::protocolAcrossProcesses()
{
    QFETCH(ProcessList, writers);
    QFETCH(QStringList, reader);
    QFETCH(QStringList, expected);

    startHelper();
    for (const QStringList& writer : std::as_const(writers)) {
        const auto run = MailboxFixture::runClient(writer);
        QVERIFY2(run.finished && run.exitCode == 0, qPrintable(run.errorOutput));
    }
    const auto run = MailboxFixture::runClient(reader);
    QVERIFY2(run.finished && run.exitCode == 0, qPrintable(run.errorOutput));
    QCOMPARE(run.results, expected);
}

void TestMailboxServer::textsComeBackUnchanged_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("spaces") << u"  a  b  "_s;
    QTest::newRow("double quotes") << u"\"http://example.com/\" \"a \"title\"\""_s;
    QTest::newRow("tabs") << u"\ta\t\tb\t"_s;
    QTest::newRow("line breaks") << u"a\r\nb\n"_s;
    QTest::newRow("Japanese") << u"\"http://例え.jp/パス?q=日本語\" \"ページ　タイトル\""_s;
    QTest::newRow("half-width kana") << u"ｸﾘｯﾌﾟﾎﾞｰﾄﾞ"_s;
    QTest::newRow("outside the BMP") << u"😀 𠮷"_s;
    QTest::newRow("backslashes") << u"C:\\Program Files\\H-Linvera\\"_s;
    QTest::newRow("long text") << QString(70000, u'x');
}

void TestMailboxServer::textsComeBackUnchanged()
{
    QFETCH(QString, text);
    startHelper();
    const auto writer = MailboxFixture::runClient({u"set"_s, text, u"dirty"_s});
    QVERIFY2(writer.finished && writer.exitCode == 0, qPrintable(writer.errorOutput));
    const auto reader = MailboxFixture::runClient({u"get"_s});
    QVERIFY2(reader.finished && reader.exitCode == 0, qPrintable(reader.errorOutput));
    QCOMPARE(reader.results, QStringList{text});

    // and through the in-process client
    MailboxClient client;
    const auto got = client.getCmdData();
    QVERIFY2(got.ok, qPrintable(got.error));
    QCOMPARE(got.value, text);
}

void TestMailboxServer::inProcessAndOtherProcess()
{
    startHelper();
    MailboxClient client;
    QVERIFY(client.setCmdData(u"\"http://example.com/in\" \"題名\""_s).ok);
    QVERIFY(client.setCmdDirty().ok);

    const auto reader = MailboxFixture::runClient({u"check"_s, u"clear"_s, u"get"_s});
    QVERIFY2(reader.finished && reader.exitCode == 0, qPrintable(reader.errorOutput));
    QCOMPARE(reader.results, (QStringList{u"-1"_s, u"\"http://example.com/in\" \"題名\""_s}));

    const auto check = client.checkCmdDirty();
    QVERIFY(check.ok);
    QCOMPARE(check.value, 0);
    QVERIFY(client.isConnected());
    QVERIFY(client.lastError().isEmpty());

    const auto writer = MailboxFixture::runClient({u"set"_s, u"from outside"_s, u"dirty"_s});
    QVERIFY2(writer.finished && writer.exitCode == 0, qPrintable(writer.errorOutput));
    QCOMPARE(client.checkCmdDirty().value, -1);
    QCOMPARE(client.getCmdData().value, u"from outside"_s);
}

void TestMailboxServer::refusesTextsTheBusCannotCarry_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("NUL inside") << (u"http://a/"_s + QChar(u'\0') + u"tail"_s);
    QTest::newRow("lone high surrogate") << (u"a"_s + QChar(0xD800));
    QTest::newRow("lone low surrogate") << (QChar(0xDC00) + u"b"_s);
}

void TestMailboxServer::refusesTextsTheBusCannotCarry()
{
    QFETCH(QString, text);
    startHelper();
    MailboxClient client;
    QVERIFY(client.setCmdData(u"kept"_s).ok);
    const auto refused = client.setCmdData(text);
    QVERIFY(!refused.ok);
    QVERIFY(!refused.error.isEmpty());
    QVERIFY2(client.isConnected(), "a refused text says nothing about the connection");
    QCOMPARE(client.getCmdData().value, u"kept"_s);
}

void TestMailboxServer::secondServerExitsWithoutTakingTheName()
{
    startHelper();
    const auto writer = MailboxFixture::runClient({u"set"_s, u"keep me"_s, u"dirty"_s});
    QVERIFY2(writer.finished && writer.exitCode == 0, qPrintable(writer.errorOutput));

    QProcess second;
    second.start(MailboxFixture::helperProgram(), {});
    QVERIFY(second.waitForFinished(10000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(second.readAllStandardError(), QByteArray());

    QCOMPARE(MailboxFixture::ownerPid(bus()), m_helper->processId());
    QCOMPARE(m_helper->state(), QProcess::Running);
    const auto reader = MailboxFixture::runClient({u"check"_s, u"get"_s});
    QVERIFY2(reader.finished && reader.exitCode == 0, qPrintable(reader.errorOutput));
    QCOMPARE(reader.results, (QStringList{u"-1"_s, u"keep me"_s}));
}

void TestMailboxServer::writerLeavingKeepsServerForOtherClient()
{
    // A short linger makes a wrong exit visible quickly.
    const int lingerMs = 300;
    startHelper(Hold::No, {u"--linger-ms"_s, QString::number(lingerMs), u"--first-client-ms"_s, u"60000"_s});

    // The reader (like the main program) calls first, and calls again after the writer has left,
    // when this test tells it to.
    QProcess reader;
    reader.start(MailboxFixture::clientProgram(), {u"check"_s, u"line"_s, u"get"_s, u"check"_s});
    QVERIFY(reader.waitForStarted(10000));
    QVERIFY2(reader.waitForReadyRead(20000), "the reader's first call got no answer");
    QCOMPARE(MailboxFixture::readResults(reader), QStringList{u"0"_s});

    const auto writer = MailboxFixture::runClient({u"set"_s, u"handed over"_s, u"dirty"_s});
    QVERIFY2(writer.finished && writer.exitCode == 0, qPrintable(writer.errorOutput));
    // A server that forgot the reader would end one linger time after it saw the writer leave,
    // which is within moments of the writer's end; nothing signals that it rightly stays, so
    // watch it for the linger time and as much again.
    QVERIFY2(!m_helper->waitForFinished(2 * lingerMs), "the server ended while the reader still held it");
    QCOMPARE(m_helper->state(), QProcess::Running);

    reader.write("go\n");
    reader.closeWriteChannel();
    QVERIFY(reader.waitForFinished(20000));
    QCOMPARE(reader.exitCode(), 0);
    QCOMPARE(MailboxFixture::readResults(reader), (QStringList{u"handed over"_s, u"-1"_s}));

    // Now every client has gone: the server ends after its linger time, not before.
    QElapsedTimer sinceLastClient;
    sinceLastClient.start();
    QVERIFY(m_helper->waitForFinished(10000));
    QVERIFY2(sinceLastClient.elapsed() >= 200, qPrintable(QString::number(sinceLastClient.elapsed())));
    QCOMPARE(m_helper->exitStatus(), QProcess::NormalExit);
    QCOMPARE(m_helper->exitCode(), 0);
    QVERIFY(!MailboxFixture::nameHasOwner(bus()));
}

void TestMailboxServer::endsWhenNoClientArrives()
{
    // The name is held for a short while only: follow the bus's announcements of its owner
    // instead of asking, which a busy machine could let pass between two questions.
    QDBusServiceWatcher watcher(linvera::MailboxNames::service(), bus(),
                                QDBusServiceWatcher::WatchForOwnerChange);
    QSignalSpy owners(&watcher, &QDBusServiceWatcher::serviceOwnerChanged);
    // A round trip after the watch was set up: the bus has taken it before the server starts.
    QVERIFY(!MailboxFixture::nameHasOwner(bus()));

    const int waitMs = 400;
    QElapsedTimer sinceStart;
    sinceStart.start(); // before the program starts, so its wait never looks longer than it was
    m_helper = std::make_unique<QProcess>();
    m_helper->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_helper->start(MailboxFixture::helperProgram(), {u"--first-client-ms"_s, QString::number(waitMs)});
    QVERIFY2(m_helper->waitForFinished(10000), "the server did not end without clients");
    const qint64 elapsed = sinceStart.elapsed();
    QVERIFY2(elapsed >= waitMs, qPrintable(u"ended after %1 ms"_s.arg(elapsed)));
    QCOMPARE(m_helper->exitStatus(), QProcess::NormalExit);
    QCOMPARE(m_helper->exitCode(), 0);

    // It served meanwhile: it took the name, and the same connection gave it back. Other
    // announcements on the shared bus (an earlier test's server leaving late) are not ours.
    const auto servedAndLeft = [&owners] {
        for (qsizetype i = 0; i < owners.size(); ++i) {
            const QString server = owners.at(i).at(2).toString();
            if (!owners.at(i).at(1).toString().isEmpty() || !server.startsWith(u':'))
                continue;
            for (qsizetype j = i + 1; j < owners.size(); ++j) {
                if (owners.at(j).at(1).toString() == server && owners.at(j).at(2).toString().isEmpty())
                    return true;
            }
        }
        return false;
    };
    QTRY_VERIFY_WITH_TIMEOUT(servedAndLeft(), 5000);
    QVERIFY(!MailboxFixture::nameHasOwner(bus()));
}

void TestMailboxServer::lifetimeNeverEndsEarly_data()
{
    QTest::addColumn<bool>("afterLastClient");
    QTest::addColumn<int>("promisedMs");
    QTest::newRow("no first client, 300 ms") << false << 300;
    QTest::newRow("no first client, 600 ms") << false << 600;
    QTest::newRow("last client left, 300 ms") << true << 300;
    QTest::newRow("last client left, 600 ms") << true << 600;
}

void TestMailboxServer::lifetimeNeverEndsEarly()
{
    QFETCH(bool, afterLastClient);
    QFETCH(int, promisedMs);
    const std::chrono::milliseconds never = std::chrono::minutes(10);

    // Several trackers whose waits end a few milliseconds apart: a timer that moves its end to a
    // rounder instant ends early for some of them, whatever the moment the test runs at.
    constexpr int Trackers = 8;
    constexpr int StepMs = 7;
    std::vector<std::unique_ptr<ClientTracker>> trackers;
    std::array<QElapsedTimer, Trackers> clocks;
    std::array<qint64, Trackers> endedAfter{};
    std::array<int, Trackers> ends{};
    auto promisedFor = [promisedMs](size_t i) { return promisedMs + int(i) * StepMs; };

    for (size_t i = 0; i < Trackers; ++i) {
        const std::chrono::milliseconds promised(promisedFor(i));
        // Started before the tracker arms its wait, so a wait never looks shorter than it was.
        clocks[i].start();
        trackers.push_back(afterLastClient ? std::make_unique<ClientTracker>(bus(), promised, never)
                                           : std::make_unique<ClientTracker>(bus(), never, promised));
        connect(trackers[i].get(), &ClientTracker::noClientsLeft, this, [&, i] {
            endedAfter[i] = clocks[i].elapsed();
            ++ends[i];
        });
    }
    if (afterLastClient) {
        // Each tracker's one client is a connection of its own that then leaves the bus.
        auto clientName = [](size_t i) { return u"tracker-client-%1"_s.arg(i); };
        for (size_t i = 0; i < Trackers; ++i) {
            const QDBusConnection client =
                QDBusConnection::connectToBus(QDBusConnection::SessionBus, clientName(i));
            QVERIFY(client.isConnected());
            trackers[i]->noteCaller(client.baseService());
            QCOMPARE(trackers[i]->clientCount(), 1);
        }
        for (size_t i = 0; i < Trackers; ++i) {
            clocks[i].start(); // before the departure can be seen
            QDBusConnection::disconnectFromBus(clientName(i));
        }
    }

    QTRY_VERIFY_WITH_TIMEOUT(std::all_of(ends.cbegin(), ends.cend(), [](int n) { return n > 0; }),
                             promisedFor(Trackers - 1) + 10000);
    QStringList early;
    for (size_t i = 0; i < Trackers; ++i) {
        QCOMPARE(ends[i], 1);
        if (endedAfter[i] < promisedFor(i)) {
            early << u"%1 ms after %2"_s.arg(endedAfter[i]).arg(promisedFor(i));
        }
    }
    QVERIFY2(early.isEmpty(), qPrintable(u"ended early: "_s + early.join(u", "_s)));
}

void TestMailboxServer::badArguments_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("busAddress");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");
    QTest::newRow("linger not a number")
        << QStringList{u"--linger-ms"_s, u"soon"_s} << QString() << 2 << u"--linger-ms"_s;
    QTest::newRow("negative wait") << QStringList{u"--first-client-ms"_s, u"-5"_s} << QString() << 2
                                   << u"--first-client-ms"_s;
    QTest::newRow("unknown option") << QStringList{u"--frobnicate"_s} << QString() << 2 << u"frobnicate"_s;
    QTest::newRow("stray argument") << QStringList{u"extra"_s} << QString() << 2 << u"extra"_s;
    QTest::newRow("no session bus") << QStringList{} << u"unix:path=/nonexistent/kemo-bus"_s << 1
                                    << u"session bus"_s;
}

void TestMailboxServer::badArguments()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, busAddress);
    QFETCH(int, exitCode);
    QFETCH(QString, message);

    QProcess helper;
    if (!busAddress.isEmpty()) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, busAddress);
        helper.setProcessEnvironment(env);
    }
    helper.start(MailboxFixture::helperProgram(), arguments);
    QVERIFY(helper.waitForFinished(10000));
    QCOMPARE(helper.exitCode(), exitCode);
    const QString errors = QString::fromUtf8(helper.readAllStandardError());
    QVERIFY2(errors.contains(message), qPrintable(errors));
    QVERIFY(!MailboxFixture::nameHasOwner(bus()));
}

void TestMailboxServer::connectMailboxStartsServer()
{
    MailboxClient client;
    QVERIFY(!client.tryConnect());
    QVERIFY(!client.isConnected());
    QVERIFY(!client.lastError().isEmpty());

    // A generous wait: the sanitizer build starts slowly. The design's 250 ms is the default.
    QVERIFY2(client.connectMailbox(MailboxFixture::helperProgram(), std::chrono::seconds(10)),
             qPrintable(client.lastError()));
    QVERIFY(client.isConnected());
    const qint64 pid = MailboxFixture::ownerPid(bus());
    QVERIFY(pid > 0);
    m_detachedHelpers << pid;
    QCOMPARE(MailboxFixture::executableOf(pid),
             QFileInfo(MailboxFixture::helperProgram()).canonicalFilePath());

    // A second connect finds the running server and starts nothing.
    MailboxClient other;
    QVERIFY(other.connectMailbox(MailboxFixture::helperProgram()));
    QCOMPARE(MailboxFixture::ownerPid(bus()), pid);
    QCOMPARE(client.checkCmdDirty().value, 0);
}

void TestMailboxServer::connectMailboxWithoutProgram()
{
    MailboxClient client;
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!client.connectMailbox(u"/nonexistent/H-LinveraHelper"_s));
    QVERIFY(timer.elapsed() < 5000);
    QVERIFY(!client.isConnected());
    QVERIFY2(client.lastError().contains(u"/nonexistent/H-LinveraHelper"_s), qPrintable(client.lastError()));
    const auto check = client.checkCmdDirty();
    QVERIFY(!check.ok);
    QVERIFY(!check.error.isEmpty());
}

void TestMailboxServer::callsToStoppedServerTimeOut()
{
    startHelper();
    MailboxClient client(QDBusConnection::sessionBus(), std::chrono::milliseconds(300));
    QVERIFY(client.setCmdData(u"before"_s).ok);

    ::kill(pid_t(m_helper->processId()), SIGSTOP);
    QElapsedTimer timer;
    timer.start();
    const auto check = client.checkCmdDirty();
    const qint64 elapsed = timer.elapsed();
    ::kill(pid_t(m_helper->processId()), SIGCONT);

    QVERIFY(!check.ok);
    QVERIFY(!client.isConnected());
    QVERIFY2(elapsed < 3000, qPrintable(QString::number(elapsed)));
    QVERIFY2(client.lastError().contains(u"NoReply"_s) || client.lastError().contains(u"Timeout"_s),
             qPrintable(client.lastError()));

    // The server answers again once it runs: the same handle reconnects by name.
    const auto text = client.getCmdData();
    QVERIFY2(text.ok, qPrintable(text.error));
    QCOMPARE(text.value, u"before"_s);
    QVERIFY(client.isConnected());
}

void TestMailboxServer::busActivatesServerFromServiceFile()
{
    // A bus that activates from the build tree's service files, as a session does from the installed ones.
    linvera::test::TestBus privateBus;
    QVERIFY2(privateBus.start(linvera::test::TestBus::buildServiceFolder()),
             qPrintable(privateBus.errorText()));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, privateBus.address());

    const auto writer = MailboxFixture::runClient({u"set"_s, u"activated"_s, u"dirty"_s}, env);
    QVERIFY2(writer.finished && writer.exitCode == 0, qPrintable(writer.errorOutput));
    const auto reader = MailboxFixture::runClient({u"check"_s, u"get"_s}, env);
    QVERIFY2(reader.finished && reader.exitCode == 0, qPrintable(reader.errorOutput));
    QCOMPARE(reader.results, (QStringList{u"-1"_s, u"activated"_s}));

    qint64 pid = 0;
    {
        const QDBusConnection privateConnection =
            QDBusConnection::connectToBus(privateBus.address(), u"mailbox-test-private"_s);
        QVERIFY(privateConnection.isConnected());
        pid = MailboxFixture::ownerPid(privateConnection);
    }
    QDBusConnection::disconnectFromBus(u"mailbox-test-private"_s);
    QVERIFY(pid > 0);
    QCOMPARE(MailboxFixture::executableOf(pid),
             QFileInfo(MailboxFixture::helperProgram()).canonicalFilePath());
    QVERIFY2(!MailboxFixture::nameHasOwner(bus()), "the activated server must live on the private bus only");

    // When its bus goes away the server must not stay behind.
    privateBus.stop();
    QTRY_VERIFY_WITH_TIMEOUT(MailboxFixture::processEnded(pid), 10000);
}

QTEST_GUILESS_MAIN(TestMailboxServer)
#include "tst_mailboxserver.moc"
