// The built programs as processes: H-Linvera as the first and as a second instance, outside clients
// (gdbus, dbus-send) driving its automation interface, and the bus starting both programs from
// service files.
#include "MailboxFixture.h"
#include "NoticeHost.h"
#include "ShellSandbox.h"
#include "ShortenerService.h"
#include "TestBus.h"
#include "TestEnvironment.h"
#include "automation/LinveraAutomation.h"
#include "mailbox/MailboxClient.h"
#include "mailbox/MailboxNames.h"
#include "notice/NoticeFeed.h"
#include "platform/RegAccess.h"
#include "settings/SettingsTable.h"
#include "verdict/Verdict.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTest>

#include <algorithm>
#include <memory>
#include <vector>

using namespace Qt::StringLiterals;
using namespace linvera;
using namespace linvera::test;
using platform::RegRoot;

namespace {

const QString kLinvera = QString::fromLatin1(LinveraAutomation::kServiceName);
const QString kLinveraPath = QString::fromLatin1(LinveraAutomation::kObjectPath);
const QString kShortUrl = u"http://s.example/a%20b"_s;

/// Where the main program stands when an outside client calls `Quit`.
enum class Waiting {
    FirstRunBox,    ///< the new-version message box of a first run
    NoticeDownload, ///< the notice feed's download, from a host that never answers
    Conversion,     ///< the shortening of the command line's URL, from a host that never answers
    Probe,          ///< the redirect probe of the command line's short link, to a host that never answers
};

QString linveraMethod(const QString& name)
{
    return kLinvera + u'.' + name;
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeAll(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

/// A call on the main program's object from this process, waited for with events running.
QDBusMessage callLinvera(const QDBusConnection& bus, const QString& method,
                         const QVariantList& arguments = {})
{
    QDBusMessage call = QDBusMessage::createMethodCall(kLinvera, kLinveraPath, kLinvera, method);
    call.setArguments(arguments);
    call.setAutoStartService(false);
    QDBusPendingCall pending = bus.asyncCall(call, 20000);
    if (!QTest::qWaitFor([&pending] { return pending.isFinished(); }, 25000))
        return QDBusMessage::createError(u"test.Timeout"_s, u"no answer"_s);
    return pending.reply();
}

ToolRun dbusSend(const QString& method, const QStringList& arguments)
{
    QStringList args{u"--session"_s,          u"--print-reply"_s, u"--reply-timeout=20000"_s,
                     u"--dest="_s + kLinvera, kLinveraPath,       linveraMethod(method)};
    return RunTool(u"dbus-send"_s, args + arguments, QProcessEnvironment::systemEnvironment());
}

/// The last "int32 N" of a dbus-send reply; -999 when there is none.
int dbusSendInt(const QString& output)
{
    static const QRegularExpression number(u"int32 (-?\\d+)\\s*$"_s);
    const QRegularExpressionMatch match = number.match(output);
    return match.hasMatch() ? match.captured(1).toInt() : -999;
}

QString serviceFile(const QString& name, const QString& exec)
{
    return u"[D-BUS Service]\nName="_s + name + u"\nExec="_s + exec + u'\n';
}

/// A bus of the tests' configuration with its own service folder, and this process's connection to it.
/// The programs it starts get the environment given.
class ActivatingBus
{
public:
    ~ActivatingBus() { stop(); }

    bool start(const QString& serviceFolder, const QProcessEnvironment& environment)
    {
        if (!m_bus.start(serviceFolder, environment))
            return fail(m_bus.errorText());
        m_connection = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(address(), m_name));
        if (!m_connection->isConnected())
            return fail(u"cannot connect to the private bus"_s);
        return true;
    }

    void stop()
    {
        if (m_connection) {
            m_connection.reset();
            QDBusConnection::disconnectFromBus(m_name);
        }
        m_bus.stop();
    }

    QString address() const { return m_bus.address(); }
    const QDBusConnection& connection() const { return *m_connection; }
    QString errorText() const { return m_error; }

private:
    bool fail(const QString& error)
    {
        m_error = error;
        return false;
    }

    TestBus m_bus;
    QString m_error;
    const QString m_name = u"activating-bus"_s;
    std::unique_ptr<QDBusConnection> m_connection;
};

} // namespace

class TestApplicationProcesses : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void firstInstanceFootprint_data();
    void firstInstanceFootprint();
    void secondStartHandsCommandLine_data();
    void secondStartHandsCommandLine();
    void secondStartConvertsInFirst();
    void outsideClientDrivesAutomation();
    void windowStateFromOutside_data();
    void windowStateFromOutside();
    void quitEndsProcessSavingNothing();
    void quitEndsProcessFromAnyState_data();
    void quitEndsProcessFromAnyState();
    void quitEndsProcessWhateverWaits_data();
    void quitEndsProcessWhateverWaits();
    void busStartsProgramsFromServiceFiles();

private:
    /// Starts H-Linvera in the sandbox and waits until it owns its name and answers on its object.
    bool startFirstInstance(QProcess*& process);
    QProcess* startOwned(const QString& program, const QStringList& arguments);
    void endProgramsOn(const QDBusConnection& bus);
    QDBusConnection bus() const { return QDBusConnection::sessionBus(); }

    std::unique_ptr<ShellSandbox> m_sandbox;
    std::unique_ptr<ShortenerService> m_shortener;
    std::vector<std::unique_ptr<QProcess>> m_processes;
    bool m_ownsLinveraName = false;
};

void TestApplicationProcesses::initTestCase()
{
    QVERIFY2(bus().isConnected(), "needs a session bus (run under dbus-run-session)");
    for (const QString& name : {u"H-Linvera"_s, u"H-LinveraHelper"_s})
        QVERIFY2(QFileInfo(BuiltProgram(name)).isExecutable(), qPrintable(name + u" is not built"_s));
}

void TestApplicationProcesses::init()
{
    QVERIFY2(WaitForNameOwner(bus(), kLinvera, false), "a main program of an earlier test still runs");
    QVERIFY2(WaitForNameOwner(bus(), MailboxNames::service(), false),
             "a mailbox server of an earlier test still runs");
    m_sandbox = std::make_unique<ShellSandbox>();
    QVERIFY(m_sandbox->isValid());
    m_shortener = std::make_unique<ShortenerService>();
    QVERIFY(m_shortener->isListening());
    m_shortener->setShortUrl(kShortUrl);
    PointEndpoints({{u"ShortenerApiHost"_s, m_shortener->hostAndPort()},
                    {u"ShortenerAltApiHost"_s, m_shortener->hostAndPort()}});
    QVERIFY(SetRegString(RegRoot::LocalMachine, SettingsKey(), u"Version"_s, u"2_1_0"_s));
    // The designed service, which the shortener imitates (a fresh store uses is.gd).
    QVERIFY(SetRegString(RegRoot::LocalMachine, SettingsKey(), u"ShortURLType"_s, u"0"_s));
}

void TestApplicationProcesses::cleanup()
{
    for (auto& process : m_processes) {
        if (process->state() != QProcess::NotRunning) {
            process->kill();
            process->waitForFinished(10000);
        }
    }
    m_processes.clear();
    if (m_ownsLinveraName) {
        bus().interface()->unregisterService(kLinvera);
        m_ownsLinveraName = false;
    }
    endProgramsOn(bus());
    m_shortener.reset();
    m_sandbox.reset();
}

void TestApplicationProcesses::endProgramsOn(const QDBusConnection& connection)
{
    // Whatever the programs started (the mailbox server) or the bus started for them.
    for (const QString& name : {kLinvera, MailboxNames::service()}) {
        const qint64 pid = NameOwnerPid(connection, name);
        if (pid == 0 || pid == QCoreApplication::applicationPid())
            continue;
        const QString exe = MailboxFixture::executableOf(pid);
        if (exe == BuiltProgram(u"H-Linvera"_s) || exe == BuiltProgram(u"H-LinveraHelper"_s)) {
            if (!MailboxFixture::killAndWait(pid))
                qWarning("%s (process %lld) did not end", qPrintable(name), pid);
        } else {
            qWarning("%s is owned by an unknown program %s", qPrintable(name), qPrintable(exe));
        }
    }
}

QProcess* TestApplicationProcesses::startOwned(const QString& program, const QStringList& arguments)
{
    auto process = std::make_unique<QProcess>();
    process->setProcessEnvironment(m_sandbox->environment());
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->start(program, arguments);
    if (!process->waitForStarted(10000))
        return nullptr;
    m_processes.push_back(std::move(process));
    return m_processes.back().get();
}

bool TestApplicationProcesses::startFirstInstance(QProcess*& process)
{
    process = startOwned(BuiltProgram(u"H-Linvera"_s), {});
    if (!process)
        return false;
    const qint64 pid = process->processId();
    const bool owns = QTest::qWaitFor(
        [&] { return NameOwnerPid(bus(), kLinvera) == pid || process->state() == QProcess::NotRunning; },
        30000);
    if (!owns || process->state() == QProcess::NotRunning)
        return false;
    // Its object answers once start-up has finished.
    return QTest::qWaitFor(
               [&] {
                   return callLinvera(bus(), u"getMainWindowState"_s).type() == QDBusMessage::ReplyMessage ||
                          process->state() == QProcess::NotRunning;
               },
               30000) &&
           process->state() == QProcess::Running;
}

// ---- first instance

void TestApplicationProcesses::firstInstanceFootprint_data()
{
    QTest::addColumn<QByteArray>("staleMain"); // a service file already there, naming another program

    QTest::newRow("no service files yet") << QByteArray();
    QTest::newRow("stale file naming another program replaced")
        << QByteArray("[D-BUS Service]\nName=HVXLinvera.Linvera\nExec=/opt/old/H-Linvera -Embedding\n");
}

void TestApplicationProcesses::firstInstanceFootprint()
{
    QFETCH(QByteArray, staleMain);

    const QString mainFile = m_sandbox->userServiceFolder() + u"/HVXLinvera.Linvera.service"_s;
    const QString helperFile =
        m_sandbox->userServiceFolder() + u"/HVXLinveraHelper.HVXLinveraHelperClass.service"_s;
    if (!staleMain.isNull())
        QVERIFY(writeAll(mainFile, staleMain));

    QProcess* first = nullptr;
    QVERIFY(startFirstInstance(first));
    QCOMPARE(QString::fromUtf8(readAll(mainFile)),
             serviceFile(kLinvera, BuiltProgram(u"H-Linvera"_s) + u" -Embedding"_s));
    QCOMPARE(QString::fromUtf8(readAll(helperFile)),
             serviceFile(MailboxNames::service(), BuiltProgram(u"H-LinveraHelper"_s)));
    // The marker names the program folder; the data folder holds the default files.
    QCOMPARE(readAll(m_sandbox->home() + u"/.h-linvera"_s),
             QFileInfo(programDir()).canonicalFilePath().toUtf8() + "\r\n");
    for (const QString& name : {u"notice.xml"_s, u"tinyurls.txt"_s, u"picturls.txt"_s})
        QCOMPARE(readAll(m_sandbox->dataFolder() + u'/' + name), readAll(BuiltProgram(name)));
    // It started the mailbox server from its own folder and holds it.
    const qint64 helper = NameOwnerPid(bus(), MailboxNames::service());
    QVERIFY(helper != 0);
    QCOMPARE(MailboxFixture::executableOf(helper), BuiltProgram(u"H-LinveraHelper"_s));
}

// ---- second instance

void TestApplicationProcesses::secondStartHandsCommandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("dirty");
    QTest::addColumn<int>("exitCode");

    QTest::newRow("URL with a space arrives quoted")
        << QStringList{u"http://a.example/x y"_s} << u"\"http://a.example/x y\""_s << -1 << 0;
    QTest::newRow("plain URL") << QStringList{u"http://a.example/p?q=1"_s} << u"http://a.example/p?q=1"_s
                               << -1 << 0;
    QTest::newRow("URL and title") << QStringList{u"http://a.example/p"_s, u"題名 です"_s}
                                   << u"http://a.example/p \"題名 です\""_s << -1 << 0;
    QTest::newRow("empty argument") << QStringList{QString()} << u"\"\""_s << -1 << 0;
    QTest::newRow("title that starts with a dash")
        << QStringList{u"http://a.example/p"_s, u"-番組-"_s} << u"http://a.example/p -番組-"_s << -1 << 0;
    QTest::newRow("option-like title")
        << QStringList{u"http://a.example/p"_s, u"--help"_s} << u"http://a.example/p --help"_s << -1 << 0;
    QTest::newRow("-- before a dash URL") << QStringList{u"--"_s, u"-x"_s} << u"-x"_s << -1 << 0;
    QTest::newRow("-Embedding is handed as it is")
        << QStringList{u"-Embedding"_s} << u"-Embedding"_s << -1 << 0;
    QTest::newRow("--help: mailbox untouched") << QStringList{u"--help"_s} << u"earlier"_s << 0 << 0;
    QTest::newRow("unknown option: mailbox untouched")
        << QStringList{u"--bogus"_s, u"http://a.example/p"_s} << u"earlier"_s << 0 << 2;
    QTest::newRow("no arguments: mailbox untouched") << QStringList() << u"earlier"_s << 0 << 0;
}

void TestApplicationProcesses::secondStartHandsCommandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, text);
    QFETCH(int, dirty);
    QFETCH(int, exitCode);

    // This process plays the running first instance: it owns the name and holds the mailbox.
    const auto registered = bus().interface()->registerService(
        kLinvera, QDBusConnectionInterface::DontQueueService, QDBusConnectionInterface::DontAllowReplacement);
    QCOMPARE(registered.value(), QDBusConnectionInterface::ServiceRegistered);
    m_ownsLinveraName = true;
    QVERIFY(startOwned(BuiltProgram(u"H-LinveraHelper"_s), {}));
    QVERIFY(WaitForNameOwner(bus(), MailboxNames::service(), true));
    MailboxClient mailbox;
    QVERIFY2(mailbox.tryConnect(), qPrintable(mailbox.lastError()));
    QVERIFY(mailbox.setCmdData(u"earlier"_s).ok);

    const ToolRun second = RunTool(BuiltProgram(u"H-Linvera"_s), arguments, m_sandbox->environment());
    QVERIFY2(second.finished, qPrintable(second.errorOutput));
    QCOMPARE(second.exitCode, exitCode);
    QCOMPARE(mailbox.getCmdData().value, text);
    QCOMPARE(mailbox.checkCmdDirty().value, dirty);

    // A second instance reads and writes no setting and leaves no files.
    QCOMPARE(ValueNames(RegRoot::LocalMachine, SettingsKey()),
             (QStringList{u"Version"_s, u"ShortURLType"_s}));
    QVERIFY(!QFile::exists(m_sandbox->home() + u"/.h-linvera"_s));
    QVERIFY(!QFileInfo::exists(m_sandbox->dataFolder()));
    QVERIFY(!QFileInfo::exists(m_sandbox->userServiceFolder()));
}

void TestApplicationProcesses::secondStartConvertsInFirst()
{
    QProcess* first = nullptr;
    QVERIFY(startFirstInstance(first));

    const ToolRun second =
        RunTool(BuiltProgram(u"H-Linvera"_s), {u"http://a.example/x y"_s}, m_sandbox->environment());
    QVERIFY2(second.finished, qPrintable(second.errorOutput));
    QCOMPARE(second.exitCode, 0);
    QString after;
    QVERIFY(QTest::qWaitFor(
        [&] {
            after =
                GdbusVariantString(GdbusCall(kLinvera, kLinveraPath, linveraMethod(u"GetAfterUrl"_s)).output);
            return after == kShortUrl;
        },
        15000));
    QCOMPARE(m_shortener->calls().size(), 1);
    QCOMPARE(m_shortener->calls().constFirst().longUrl, u"http://a.example/x y"_s);
    const QByteArray log = readAll(m_sandbox->dataFolder() + u"/log.txt"_s);
    const QByteArray line = QByteArray(", http://a.example/x y, ") + kShortUrl.toUtf8() + QByteArray("\r\n");
    QVERIFY2(log.endsWith(line), log.constData());

    // A start without arguments hands nothing over: no further conversion.
    const ToolRun empty = RunTool(BuiltProgram(u"H-Linvera"_s), {}, m_sandbox->environment());
    QVERIFY2(empty.finished, qPrintable(empty.errorOutput));
    QCOMPARE(empty.exitCode, 0);
    QTest::qWait(1000); // five looks at the mailbox
    QCOMPARE(m_shortener->calls().size(), 1);
    QCOMPARE(readAll(m_sandbox->dataFolder() + u"/log.txt"_s), log);
    QCOMPARE(first->state(), QProcess::Running);
}

// ---- automation from outside

void TestApplicationProcesses::outsideClientDrivesAutomation()
{
    QProcess* first = nullptr;
    QVERIFY(startFirstInstance(first));

    const auto call = [](const QString& method, const QStringList& arguments = {}) {
        return GdbusCall(kLinvera, kLinveraPath, linveraMethod(method), arguments);
    };
    ToolRun run = call(u"GetAfterUrl"_s);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.output.trimmed(), u"(<''>,)"_s);

    run = call(u"StartConv"_s, {u"'http://a.example/x%20y'"_s});
    QVERIFY2(run.exitCode == 0, qPrintable(run.errorOutput));
    QCOMPARE(run.output.trimmed(), u"(<''>,)"_s);
    // The call returned after the shortening: nothing is running and the results are there.
    QCOMPARE(m_shortener->calls().size(), 1);
    QCOMPARE(call(u"isProcessing"_s).output.trimmed(), u"(<false>,)"_s);
    QCOMPARE(GdbusVariantString(call(u"GetAfterUrl"_s).output), kShortUrl);
    // gdbus writes the line ends as escapes.
    const QStringList infoLines = GdbusVariantString(call(u"GetAfterInfo"_s).output).split(u"\\r\\n"_s);
    QCOMPARE(verdict::WithoutReviewLines(infoLines), QStringList{u"http://s.example/a b"_s});
    QCOMPARE(GdbusVariantString(call(u"GetBeforeInfo"_s).output), u"http://a.example/x y"_s);

    // The same through dbus-send, which names every type.
    const ToolRun viaSend = dbusSend(u"GetAfterUrl"_s, {});
    QCOMPARE(viaSend.exitCode, 0);
    QVERIFY2(viaSend.output.contains(u"variant       string \"http://s.example/a%20b\""_s),
             qPrintable(viaSend.output));
    QCOMPARE(first->state(), QProcess::Running);
}

void TestApplicationProcesses::windowStateFromOutside_data()
{
    QTest::addColumn<int>("before");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("error");
    QTest::addColumn<int>("after");

    const QString overflow = QString::fromLatin1(LinveraAutomation::kOverflowError);
    const QString invalid = QString::fromLatin1(LinveraAutomation::kInvalidValueError);
    QTest::newRow("1 minimises") << 0 << u"1"_s << QString() << 1;
    QTest::newRow("2 maximises") << 0 << u"2"_s << QString() << 2;
    QTest::newRow("0 restores") << 2 << u"0"_s << QString() << 0;
    QTest::newRow("3 refused, state stays") << 2 << u"3"_s << invalid << 2;
    QTest::newRow("70000 overflows, state stays") << 1 << u"70000"_s << overflow << 1;
}

void TestApplicationProcesses::windowStateFromOutside()
{
    QFETCH(int, before);
    QFETCH(QString, status);
    QFETCH(QString, error);
    QFETCH(int, after);

    QProcess* first = nullptr;
    QVERIFY(startFirstInstance(first));
    ToolRun run = dbusSend(u"setMainWindowState"_s, {u"int32:"_s + QString::number(before)});
    QVERIFY2(run.exitCode == 0, qPrintable(run.errorOutput));
    run = dbusSend(u"setMainWindowState"_s, {u"int32:"_s + status});
    if (error.isEmpty()) {
        QVERIFY2(run.exitCode == 0, qPrintable(run.errorOutput));
    } else {
        QVERIFY(run.exitCode != 0);
        QVERIFY2(run.errorOutput.contains(u"Error "_s + error + u':'), qPrintable(run.errorOutput));
    }
    run = dbusSend(u"getMainWindowState"_s, {});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(dbusSendInt(run.output), after);
    QCOMPARE(first->state(), QProcess::Running);
}

void TestApplicationProcesses::quitEndsProcessSavingNothing()
{
    SetRegString(RegRoot::LocalMachine, SettingsKey(), u"FormX"_s, u"1500"_s);
    SetRegString(RegRoot::LocalMachine, SettingsKey(), u"FormY"_s, u"750"_s);
    QProcess* first = nullptr;
    QVERIFY(startFirstInstance(first));
    QCOMPARE(dbusSend(u"setMainWindowState"_s, {u"int32:2"_s}).exitCode, 0);

    const ToolRun quit = GdbusCall(kLinvera, kLinveraPath, linveraMethod(u"Quit"_s));
    QVERIFY2(quit.exitCode == 0, qPrintable(quit.errorOutput));
    QCOMPARE(quit.output.trimmed(), u"()"_s);
    QVERIFY(QTest::qWaitFor([first] { return first->state() == QProcess::NotRunning; }, 15000));
    QCOMPARE(first->exitStatus(), QProcess::NormalExit);
    QCOMPARE(first->exitCode(), 0);
    QCOMPARE(StoredSetting(u"FormX"_s), u"1500"_s);
    QCOMPARE(StoredSetting(u"FormY"_s), u"750"_s);
    const QStringList names = ValueNames(RegRoot::LocalMachine, SettingsKey());
    for (const QString& name : {u"_Dummy"_s, u"FormW"_s, u"Clipboard"_s, u"TwitterPass"_s})
        QVERIFY2(!names.contains(name), qPrintable(name));
    QVERIFY(WaitForNameOwner(bus(), kLinvera, false, std::chrono::seconds(5)));
    // Its hold on the mailbox went with it: the server ends once it has no client left.
    QVERIFY(WaitForNameOwner(bus(), MailboxNames::service(), false, std::chrono::seconds(20)));
}

void TestApplicationProcesses::quitEndsProcessFromAnyState_data()
{
    QTest::addColumn<Waiting>("waiting");
    QTest::addColumn<bool>("markerWritten"); // start-up had come past the marker file

    QTest::newRow("first-run message box") << Waiting::FirstRunBox << true;
    QTest::newRow("notice download") << Waiting::NoticeDownload << true;
    QTest::newRow("command-line conversion") << Waiting::Conversion << false;
    QTest::newRow("redirect probe") << Waiting::Probe << true;
}

void TestApplicationProcesses::quitEndsProcessFromAnyState()
{
    QFETCH(Waiting, waiting);
    QFETCH(bool, markerWritten);

    HttpTestServer silent;
    QVERIFY(silent.isListening());
    silent.setDelivery(HttpTestDelivery::silent());
    NoticeHost notice; // answers at once: a fetch it sees was made after the Quit
    QVERIFY(notice.isListening());
    QStringList arguments;
    QHash<QString, QString> hosts{{u"MakerNoticeHost"_s, notice.noticeHost()},
                                  {u"ShortenerApiHost"_s, m_shortener->hostAndPort()},
                                  {u"ShortenerAltApiHost"_s, m_shortener->hostAndPort()}};
    switch (waiting) {
    case Waiting::FirstRunBox:
        QCOMPARE(DeleteRegValue(RegRoot::LocalMachine, SettingsKey(), u"Version"_s), 0);
        break;
    case Waiting::NoticeDownload:
        hosts.insert(u"MakerNoticeHost"_s, silent.hostAndPort());
        QVERIFY(SetRegString(RegRoot::LocalMachine, SettingsKey(), u"lastnotify"_s,
                             NoticeDateText(QDate::currentDate().addDays(-30))));
        break;
    case Waiting::Conversion:
        hosts.insert(u"ShortenerApiHost"_s, silent.hostAndPort());
        hosts.insert(u"ShortenerAltApiHost"_s, silent.hostAndPort());
        // Converted before the settings apply, through is.gd where the list starts.
        hosts.insert(u"IsgdApiBase"_s, u"http://"_s + silent.hostAndPort());
        arguments = QStringList{u"http://a.example/long"_s};
        break;
    case Waiting::Probe:
        QVERIFY(writeAll(m_sandbox->dataFolder() + u"/tinyurls.txt"_s,
                         (silent.hostAndPort() + u"/\tLocation:\t\r\n"_s).toUtf8()));
        arguments = QStringList{u"http://"_s + silent.hostAndPort() + u"/abc"_s};
        break;
    }
    PointEndpoints(hosts);

    QProcess* first = startOwned(BuiltProgram(u"H-Linvera"_s), arguments);
    QVERIFY(first);
    QVERIFY(WaitForNameOwner(bus(), kLinvera, true));
    if (waiting == Waiting::FirstRunBox) {
        // The version is stored just before the box; the first call served after it is served by the box.
        QVERIFY(QTest::qWaitFor([this] { return StoredSetting(u"Version"_s) == u"2_1_0"_s; }, 30000));
    } else {
        QVERIFY2(silent.waitForRequests(1, 30000), "the program asked nothing of the silent host");
    }
    QCOMPARE(first->state(), QProcess::Running);

    const ToolRun quit = GdbusCall(kLinvera, kLinveraPath, linveraMethod(u"Quit"_s));
    QVERIFY2(quit.exitCode == 0, qPrintable(quit.errorOutput));
    QCOMPARE(quit.output.trimmed(), u"()"_s);
    // Well before the silent hosts' time-outs (20 s without a byte).
    QVERIFY2(QTest::qWaitFor([first] { return first->state() == QProcess::NotRunning; }, 8000),
             "the program still runs after Quit");
    QCOMPARE(first->exitStatus(), QProcess::NormalExit);
    QCOMPARE(first->exitCode(), 0);

    // Start-up went no further and nothing was saved.
    QCOMPARE(notice.requestCount(), 0);
    QCOMPARE(QFile::exists(m_sandbox->home() + u"/.h-linvera"_s), markerWritten);
    const QStringList names = ValueNames(RegRoot::LocalMachine, SettingsKey());
    for (const QString& name : {u"_Dummy"_s, u"FormX"_s, u"Clipboard"_s})
        QVERIFY2(!names.contains(name), qPrintable(name));
    QVERIFY(WaitForNameOwner(bus(), kLinvera, false, std::chrono::seconds(5)));
}

void TestApplicationProcesses::quitEndsProcessWhateverWaits_data()
{
    QTest::addColumn<int>(
        "calls"); // automation conversions waiting on a shortening service that never answers
    QTest::newRow("one call waiting") << 1;
    QTest::newRow("20 calls waiting") << 20;
}

// However many automation calls wait on a silent service, `Quit` ends the program at once: well
// within 2 s, not after the waits' own time-outs.
void TestApplicationProcesses::quitEndsProcessWhateverWaits()
{
    QFETCH(int, calls);
    HttpTestServer silent;
    QVERIFY(silent.isListening());
    silent.setDelivery(HttpTestDelivery::silent());
    PointEndpoints(
        {{u"ShortenerApiHost"_s, silent.hostAndPort()}, {u"ShortenerAltApiHost"_s, silent.hostAndPort()}});
    QProcess* first = nullptr;
    QVERIFY(startFirstInstance(first));

    QList<QDBusPendingCall> pending;
    for (int i = 0; i < calls; ++i) {
        QDBusMessage call = QDBusMessage::createMethodCall(kLinvera, kLinveraPath, kLinvera, u"StartConv"_s);
        call.setArguments({QVariant(u"http://a.example/long/"_s + QString::number(i))});
        call.setAutoStartService(false);
        pending.append(bus().asyncCall(call, 180000));
    }
    QVERIFY2(silent.waitForRequests(calls, 30000),
             qPrintable(u"the silent service got %1 requests"_s.arg(silent.requestCount())));
    QCOMPARE(first->state(), QProcess::Running);

    QDBusMessage quit = QDBusMessage::createMethodCall(kLinvera, kLinveraPath, kLinvera, u"Quit"_s);
    quit.setAutoStartService(false);
    QElapsedTimer clock;
    clock.start();
    bus().asyncCall(quit, 5000);
    const bool ended = QTest::qWaitFor([first] { return first->state() == QProcess::NotRunning; }, 30000);
    const qint64 took = clock.elapsed();
    qInfo("the program ended %lld ms after Quit", took);
    QVERIFY2(ended, "the program still runs 30 s after Quit");
    QVERIFY2(took < 2000, qPrintable(u"the program ended %1 ms after Quit"_s.arg(took)));
    QCOMPARE(first->exitStatus(), QProcess::NormalExit);
    QCOMPARE(first->exitCode(), 0);
    // Every waiting caller has its answer, or the bus's word that the program is gone.
    QVERIFY(QTest::qWaitFor(
        [&pending] {
            return std::all_of(pending.cbegin(), pending.cend(),
                               [](const QDBusPendingCall& p) { return p.isFinished(); });
        },
        5000));
}

// ---- activation

void TestApplicationProcesses::busStartsProgramsFromServiceFiles()
{
    const QString services = m_sandbox->root() + u"/services"_s;
    QVERIFY(writeAll(services + u"/HVXLinvera.Linvera.service"_s,
                     serviceFile(kLinvera, BuiltProgram(u"H-Linvera"_s) + u" -Embedding"_s).toUtf8()));
    QVERIFY(writeAll(services + u"/HVXLinveraHelper.HVXLinveraHelperClass.service"_s,
                     serviceFile(MailboxNames::service(), BuiltProgram(u"H-LinveraHelper"_s)).toUtf8()));
    ActivatingBus privateBus;
    QVERIFY2(privateBus.start(services, m_sandbox->environment()), qPrintable(privateBus.errorText()));
    const QDBusConnection& priv = privateBus.connection();
    // Whatever the bus started ends with the test, also when a check fails on the way.
    const auto endStarted = qScopeGuard([this, &priv] { endProgramsOn(priv); });

    // The mailbox server, for an outside client.
    ToolRun run = GdbusCall(MailboxNames::service(), MailboxNames::objectPath(),
                            MailboxNames::interface() + u".checkCmdDirty"_s, {}, privateBus.address());
    QVERIFY2(run.exitCode == 0, qPrintable(run.errorOutput));
    QCOMPARE(run.output.trimmed(), u"(0,)"_s);
    MailboxClient holder(priv);
    QVERIFY2(holder.tryConnect(), qPrintable(holder.lastError()));
    const qint64 helper = NameOwnerPid(priv, MailboxNames::service());
    QVERIFY(helper != 0);
    QCOMPARE(MailboxFixture::executableOf(helper), BuiltProgram(u"H-LinveraHelper"_s));

    // The main program, started by the very call that needs it.
    run = GdbusCall(kLinvera, kLinveraPath, linveraMethod(u"GetAfterUrl"_s), {}, privateBus.address());
    const qint64 main = NameOwnerPid(priv, kLinvera);
    QVERIFY(main != 0);
    QCOMPARE(MailboxFixture::executableOf(main), BuiltProgram(u"H-Linvera"_s));
    QCOMPARE(ProcessArguments(main), (QStringList{BuiltProgram(u"H-Linvera"_s), u"-Embedding"_s}));
    QVERIFY2(run.exitCode == 0, qPrintable(u"the activating call failed: "_s + run.errorOutput));
    QCOMPARE(run.output.trimmed(), u"(<''>,)"_s);

    run = GdbusCall(kLinvera, kLinveraPath, linveraMethod(u"StartConv"_s), {u"'http://a.example/bus'"_s},
                    privateBus.address());
    QVERIFY2(run.exitCode == 0, qPrintable(run.errorOutput));
    QCOMPARE(GdbusVariantString(
                 GdbusCall(kLinvera, kLinveraPath, linveraMethod(u"GetAfterUrl"_s), {}, privateBus.address())
                     .output),
             kShortUrl);
    // The activated program uses the mailbox server that was already running.
    QCOMPARE(NameOwnerPid(priv, MailboxNames::service()), helper);
}

QTEST_GUILESS_MAIN(TestApplicationProcesses)
#include "tst_applicationprocesses.moc"
