// The native-messaging host: its framing, the command it builds, and the whole program handing a page
// to the command mailbox on a private session bus.
#include "browser/BrowserRegistrations.h"
#include "browser/NativeMessage.h"
#include "mailbox/CommandLine.h"
#include "mailbox/MailboxClient.h"
#include "mailbox/MailboxNames.h"

#include "PrivateHome.h"
#include "TestEnvironment.h"

#include <QBuffer>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <cstring>

#include <signal.h>

using namespace Qt::StringLiterals;
using namespace linvera;

namespace {

QByteArray lengthPrefix(quint32 length)
{
    QByteArray header(4, Qt::Uninitialized);
    std::memcpy(header.data(), &length, 4);
    return header;
}

QByteArray framed(const QByteArray& body)
{
    return lengthPrefix(quint32(body.size())) + body;
}

/// A JSON object naming a URL, padded to exactly `size` bytes.
QByteArray objectOfSize(qsizetype size)
{
    const QByteArray head = "{\"url\":\"http://big.example/\",\"pad\":\"";
    const QByteArray tail = "\"}";
    return head + QByteArray(size - head.size() - tail.size(), 'x') + tail;
}

/// The process that owns a bus name; 0 when none does.
qint64 nameOwnerPid(const QString& name)
{
    QDBusMessage call =
        QDBusMessage::createMethodCall(u"org.freedesktop.DBus"_s, u"/org/freedesktop/DBus"_s,
                                       u"org.freedesktop.DBus"_s, u"GetConnectionUnixProcessID"_s);
    call << name;
    const QDBusMessage answer = QDBusConnection::sessionBus().call(call, QDBus::Block, 5000);
    if (answer.type() != QDBusMessage::ReplyMessage || answer.arguments().isEmpty())
        return 0;
    return answer.arguments().constFirst().toLongLong();
}

/// Runs linvera-reg in the private home; true when it succeeded.
bool reg(const test::PrivateHome& home, const QStringList& arguments)
{
    QProcess tool;
    tool.setProcessEnvironment(home.environment());
    tool.start(test::programDir() + u"/linvera-reg"_s, arguments);
    return tool.waitForFinished(30000) && tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0;
}

/// Ends a program the host started, by its bus name: asked first, then killed. True once it is gone.
bool endOwner(const QString& name)
{
    const qint64 pid = nameOwnerPid(name);
    if (pid == 0)
        return true;
    if (name == u"HVXLinvera.Linvera"_s) {
        QDBusConnection::sessionBus().call(
            QDBusMessage::createMethodCall(name, u"/Linvera"_s, name, u"Quit"_s), QDBus::Block, 5000);
    }
    if (QTest::qWaitFor([&] { return nameOwnerPid(name) == 0; }, 10000))
        return true;
    ::kill(pid_t(pid), SIGKILL);
    return QTest::qWaitFor([&] { return nameOwnerPid(name) == 0; }, 10000);
}

} // namespace

Q_DECLARE_METATYPE(NativeMessage::Status)

class TestNativeHost : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void readsFrames_data();
    void readsFrames();
    void readsMessagesInTurn();
    void skipsOversizedMessages();
    void answersStayWithinLimit_data();
    void answersStayWithinLimit();
    void buildsCommand_data();
    void buildsCommand();
    void answersRegistrations_data();
    void answersRegistrations();
    void browserSeesEndOfOutputWhileWindowRuns();
    void handsPageToMailbox();
};

void TestNativeHost::readsFrames_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<NativeMessage::Status>("status");
    QTest::addColumn<QString>("url");
    QTest::newRow("one message") << framed(R"({"url":"http://a.example/あ","title":"T"})")
                                 << NativeMessage::Status::Message << u"http://a.example/あ"_s;
    QTest::newRow("nothing") << QByteArray() << NativeMessage::Status::EndOfInput << QString();
    QTest::newRow("header cut off") << QByteArray("\x05\x00", 2) << NativeMessage::Status::Broken
                                    << QString();
    QTest::newRow("zero length") << lengthPrefix(0) << NativeMessage::Status::Broken << QString();
    QTest::newRow("exactly the limit") << framed(objectOfSize(NativeMessage::kMaxLength))
                                       << NativeMessage::Status::Message << u"http://big.example/"_s;
    QTest::newRow("one byte over the limit") << framed(objectOfSize(NativeMessage::kMaxLength + 1))
                                             << NativeMessage::Status::TooLarge << QString();
    QTest::newRow("far over the limit") << framed(objectOfSize(5 * NativeMessage::kMaxLength))
                                        << NativeMessage::Status::TooLarge << QString();
    QTest::newRow("oversized length, body cut off")
        << lengthPrefix(NativeMessage::kMaxLength + 1) + QByteArray("{}") << NativeMessage::Status::Broken
        << QString();
    QTest::newRow("largest length, no body")
        << lengthPrefix(0xffffffffu) << NativeMessage::Status::Broken << QString();
    QTest::newRow("body cut off") << lengthPrefix(40) + QByteArray(R"({"url":"x"})")
                                  << NativeMessage::Status::Broken << QString();
    QTest::newRow("not JSON") << framed("url=x") << NativeMessage::Status::Broken << QString();
    QTest::newRow("JSON but not an object")
        << framed(R"(["url"])") << NativeMessage::Status::Broken << QString();
}

void TestNativeHost::readsFrames()
{
    QFETCH(QByteArray, input);
    QBuffer buffer(&input);
    QVERIFY(buffer.open(QIODevice::ReadOnly));
    QJsonObject message;
    QTEST(NativeMessage::read(buffer, message), "status");
    QTEST(message.value(u"url"_s).toString(), "url");
}

void TestNativeHost::readsMessagesInTurn()
{
    QByteArray input =
        NativeMessage::frame({{u"url"_s, u"one"_s}}) + NativeMessage::frame({{u"url"_s, u"two"_s}});
    QBuffer buffer(&input);
    QVERIFY(buffer.open(QIODevice::ReadOnly));
    QJsonObject message;
    QCOMPARE(NativeMessage::read(buffer, message), NativeMessage::Status::Message);
    QCOMPARE(message.value(u"url"_s).toString(), u"one"_s);
    QCOMPARE(NativeMessage::read(buffer, message), NativeMessage::Status::Message);
    QCOMPARE(message.value(u"url"_s).toString(), u"two"_s);
    QCOMPARE(NativeMessage::read(buffer, message), NativeMessage::Status::EndOfInput);
}

void TestNativeHost::skipsOversizedMessages()
{
    // The oversized message is passed over whole: the one after it reads as usual.
    QByteArray input = framed(objectOfSize(NativeMessage::kMaxLength + 100)) +
                       NativeMessage::frame({{u"url"_s, u"after"_s}});
    QBuffer buffer(&input);
    QVERIFY(buffer.open(QIODevice::ReadOnly));
    QJsonObject message;
    QCOMPARE(NativeMessage::read(buffer, message), NativeMessage::Status::TooLarge);
    QVERIFY(message.isEmpty());
    QCOMPARE(NativeMessage::read(buffer, message), NativeMessage::Status::Message);
    QCOMPARE(message.value(u"url"_s).toString(), u"after"_s);
    QCOMPARE(NativeMessage::read(buffer, message), NativeMessage::Status::EndOfInput);
}

void TestNativeHost::answersStayWithinLimit_data()
{
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("sent");

    QTest::newRow("ok") << true << QString() << QString();
    QTest::newRow("short error") << false << u"mailbox unreachable"_s << u"mailbox unreachable"_s;
    const QString atLimit(NativeMessage::kMaxErrorLength, u'あ');
    QTest::newRow("error at the cut") << false << atLimit << atLimit;
    QTest::newRow("error one over the cut") << false << atLimit + u'い' << atLimit;
    const QString beforeCut(NativeMessage::kMaxErrorLength - 1, u'あ');
    QTest::newRow("cut through a character outside the basic plane")
        << false << beforeCut + u"😀"_s << beforeCut;
    QTest::newRow("error of several megabytes") << false << QString(3 * NativeMessage::kMaxLength, u'"')
                                                << QString(NativeMessage::kMaxErrorLength, u'"');
}

void TestNativeHost::answersStayWithinLimit()
{
    QFETCH(bool, ok);
    QFETCH(QString, error);
    QFETCH(QString, sent);

    QByteArray framedAnswer = NativeMessage::answer(ok, error);
    QVERIFY(framedAnswer.size() <= qsizetype(NativeMessage::kMaxLength) + 4);
    QBuffer buffer(&framedAnswer);
    QVERIFY(buffer.open(QIODevice::ReadOnly));
    QJsonObject answer;
    QCOMPARE(NativeMessage::read(buffer, answer), NativeMessage::Status::Message);
    QCOMPARE(answer.value(u"ok"_s).toBool(), ok);
    QCOMPARE(answer.contains(u"error"_s), !sent.isEmpty());
    QCOMPARE(answer.value(u"error"_s).toString(), sent);
}

void TestNativeHost::buildsCommand_data()
{
    QTest::addColumn<QJsonObject>("message");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QStringList>("args");
    QTest::newRow("URL and title") << QJsonObject{{u"url"_s, u"http://a.example/p?q=1"_s},
                                                  {u"title"_s, u"日本語 の ページ"_s}}
                                   << u"\"http://a.example/p?q=1\" \"日本語 の ページ\""_s
                                   << QStringList{QString(), u"http://a.example/p?q=1"_s,
                                                  u"日本語 の ページ"_s};
    QTest::newRow("URL alone") << QJsonObject{{u"url"_s, u"http://a.example/"_s}}
                               << u"\"http://a.example/\""_s
                               << QStringList{QString(), u"http://a.example/"_s};
    QTest::newRow("quotes and line breaks dropped")
        << QJsonObject{{u"url"_s, u"http://a.example/\"x\""_s}, {u"title"_s, u"say \"hi\"\r\nthere"_s}}
        << u"\"http://a.example/x\" \"say hithere\""_s
        << QStringList{QString(), u"http://a.example/x"_s, u"say hithere"_s};
    QTest::newRow("URL with a space stays one argument")
        << QJsonObject{{u"url"_s, u"http://a.example/a b"_s}} << u"\"http://a.example/a b\""_s
        << QStringList{QString(), u"http://a.example/a b"_s};
    QTest::newRow("no URL") << QJsonObject{{u"title"_s, u"t"_s}} << QString() << QStringList{QString()};
    QTest::newRow("URL not a text") << QJsonObject{{u"url"_s, 5}} << QString() << QStringList{QString()};
}

void TestNativeHost::buildsCommand()
{
    QFETCH(QJsonObject, message);
    QFETCH(QString, command);
    QCOMPARE(NativeHostCommand(message), command);
    // What the window's polling will make of it.
    QTEST(SplitArgs(command, 10), "args");
}

void TestNativeHost::answersRegistrations_data()
{
    QTest::addColumn<bool>("menu");
    QTest::addColumn<bool>("button");
    QTest::newRow("neither registered") << false << false;
    QTest::newRow("menu entry only") << true << false;
    QTest::newRow("toolbar button only") << false << true;
    QTest::newRow("both") << true << true;
}

void TestNativeHost::answersRegistrations()
{
    QFETCH(bool, menu);
    QFETCH(bool, button);
    QVERIFY2(QDBusConnection::sessionBus().isConnected(), "needs a session bus (run under dbus-run-session)");
    const test::PrivateHome home;
    QVERIFY(home.isValid());
    const QString user = u"HKCU\\"_s;
    if (menu)
        QVERIFY(reg(home, {u"add"_s, user + BrowserRegistrations::menuExtKey(), u"/f"_s}));
    if (button)
        QVERIFY(reg(home, {u"add"_s, user + BrowserRegistrations::toolbarButtonKey(), u"/f"_s}));

    QProcess host;
    host.setProcessEnvironment(home.environment());
    host.start(test::programDir() + u"/linvera-native-host"_s, {});
    QVERIFY(host.waitForStarted(10000));
    host.write(NativeMessage::frame({{u"query"_s, u"registrations"_s}}));
    host.closeWriteChannel();
    QVERIFY(host.waitForFinished(20000));
    QCOMPARE(host.exitCode(), 0);
    QBuffer answers;
    answers.setData(host.readAllStandardOutput());
    QVERIFY(answers.open(QIODevice::ReadOnly));
    QJsonObject answer;
    QCOMPARE(NativeMessage::read(answers, answer), NativeMessage::Status::Message);
    QCOMPARE(answer, (QJsonObject{{u"ok"_s, true}, {u"menu"_s, menu}, {u"button"_s, button}}));
    QCOMPARE(NativeMessage::read(answers, answer), NativeMessage::Status::EndOfInput);
    // Answered from the store: neither the window nor the mailbox server was started for it.
    QCOMPARE(nameOwnerPid(u"HVXLinvera.Linvera"_s), 0);
    QCOMPARE(nameOwnerPid(MailboxNames::service()), 0);
}

void TestNativeHost::browserSeesEndOfOutputWhileWindowRuns()
{
    // A browser may read the host's output to its end. The window and the mailbox server the host
    // starts outlive it and must not hold that output open.
    QVERIFY2(QDBusConnection::sessionBus().isConnected(), "needs a session bus (run under dbus-run-session)");
    QCOMPARE(nameOwnerPid(u"HVXLinvera.Linvera"_s), 0);
    const test::PrivateHome home;
    QVERIFY(home.isValid());
    // No first-start message: the window stays up with nothing to answer.
    QVERIFY(reg(home, {u"add"_s, u"HKLM\\SOFTWARE\\HALVEX\\linvera\\param"_s, u"/v"_s, u"Version"_s, u"/d"_s,
                       u"2_1_0"_s, u"/f"_s}));
    const QString input = home.path() + u"/message"_s;
    QFile message(input);
    QVERIFY(message.open(QIODevice::WriteOnly));
    message.write(NativeMessage::frame({{u"url"_s, u"http://page.example/eof"_s}}));
    message.close();

    // The shell ends when the byte count has read to the end of the host's output.
    QProcess reader;
    QProcessEnvironment environment = home.environment();
    environment.insert(u"HOST"_s, test::programDir() + u"/linvera-native-host"_s);
    environment.insert(u"INPUT"_s, input);
    environment.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
    reader.setProcessEnvironment(environment);
    QElapsedTimer clock;
    clock.start();
    reader.start(u"sh"_s, {u"-c"_s, u"\"$HOST\" < \"$INPUT\" | wc -c"_s});
    QVERIFY(reader.waitForStarted(10000));
    const bool ended = reader.waitForFinished(30000);
    const qint64 elapsed = clock.elapsed();
    const bool windowStarted =
        QTest::qWaitFor([] { return nameOwnerPid(u"HVXLinvera.Linvera"_s) != 0; }, 30000);
    const bool windowRuns = nameOwnerPid(u"HVXLinvera.Linvera"_s) != 0;
    if (!ended)
        reader.kill();
    const bool windowEnded = endOwner(u"HVXLinvera.Linvera"_s);
    const bool helperEnded = endOwner(MailboxNames::service());
    QVERIFY2(ended, "the reader never saw the end of the host's output");
    QVERIFY2(elapsed < 20000, qPrintable(u"the end came after %1 ms"_s.arg(elapsed)));
    QCOMPARE(reader.readAllStandardOutput().trimmed(),
             QByteArray::number(NativeMessage::answer(true).size()));
    QVERIFY2(windowStarted && windowRuns, "the host did not start the window");
    QVERIFY(windowEnded && helperEnded);
}

void TestNativeHost::handsPageToMailbox()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    QVERIFY2(bus.isConnected(), "needs a session bus (run under dbus-run-session)");
    // This test stands in for a running window, so the host does not start one.
    QVERIFY(bus.registerService(u"HVXLinvera.Linvera"_s));

    // The host, and the mailbox server it starts, get folders of their own.
    const test::PrivateHome home;
    QVERIFY(home.isValid());
    QProcess host;
    host.setProcessEnvironment(home.environment());
    QSignalSpy finished(&host, &QProcess::finished);
    host.start(test::programDir() + u"/linvera-native-host"_s, {});
    QVERIFY(host.waitForStarted(10000));
    host.write(
        NativeMessage::frame({{u"url"_s, u"http://page.example/記事"_s}, {u"title"_s, u"記事 の 題"_s}}));
    host.write(NativeMessage::frame({{u"title"_s, u"no url"_s}}));
    host.write(framed(objectOfSize(NativeMessage::kMaxLength + 1)));
    host.write(NativeMessage::frame({{u"url"_s, u"http://page.example/2"_s}}));
    host.write(framed("not json"));
    host.closeWriteChannel();
    QVERIFY(finished.wait(20000));
    QCOMPARE(host.exitStatus(), QProcess::NormalExit);
    QCOMPARE(host.exitCode(), 1); // ended by the broken frame, after answering it

    QBuffer answers;
    answers.setData(host.readAllStandardOutput());
    QVERIFY(answers.open(QIODevice::ReadOnly));
    QJsonObject answer;
    QCOMPARE(NativeMessage::read(answers, answer), NativeMessage::Status::Message);
    QVERIFY2(answer.value(u"ok"_s).toBool(), qPrintable(answer.value(u"error"_s).toString()));
    QCOMPARE(NativeMessage::read(answers, answer), NativeMessage::Status::Message);
    QCOMPARE(answer.value(u"ok"_s).toBool(), false);
    QCOMPARE(answer.value(u"error"_s).toString(), u"no url"_s);
    QCOMPARE(NativeMessage::read(answers, answer), NativeMessage::Status::Message);
    QCOMPARE(answer.value(u"ok"_s).toBool(), false);
    QCOMPARE(answer.value(u"error"_s).toString(), u"message too large"_s);
    QCOMPARE(NativeMessage::read(answers, answer), NativeMessage::Status::Message);
    QCOMPARE(answer.value(u"ok"_s).toBool(), true);
    QCOMPARE(NativeMessage::read(answers, answer), NativeMessage::Status::Message);
    QCOMPARE(answer.value(u"ok"_s).toBool(), false);
    QCOMPARE(answer.value(u"error"_s).toString(), u"broken message"_s);
    QCOMPARE(NativeMessage::read(answers, answer), NativeMessage::Status::EndOfInput);

    MailboxClient mailbox;
    QVERIFY(mailbox.tryConnect());
    QCOMPARE(mailbox.checkCmdDirty().value, -1);
    QCOMPARE(mailbox.getCmdData().value, u"\"http://page.example/2\""_s);
    bus.unregisterService(u"HVXLinvera.Linvera"_s);
}

QTEST_GUILESS_MAIN(TestNativeHost)
#include "tst_nativehost.moc"
