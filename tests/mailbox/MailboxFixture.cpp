#include "MailboxFixture.h"

#include "TestEnvironment.h"
#include "mailbox/MailboxNames.h"

#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QThread>

#include <csignal>

using namespace Qt::StringLiterals;

namespace linvera::test {

namespace {

QDBusMessage askBus(const QDBusConnection& bus, const QString& method)
{
    QDBusMessage call = QDBusMessage::createMethodCall(u"org.freedesktop.DBus"_s, u"/org/freedesktop/DBus"_s,
                                                       u"org.freedesktop.DBus"_s, method);
    call << MailboxNames::service();
    return bus.call(call, QDBus::Block, 5000);
}

} // namespace

QString MailboxFixture::helperProgram()
{
    return programDir() + u"/H-LinveraHelper"_s;
}

QString MailboxFixture::clientProgram()
{
    return programDir() + u"/mailbox_client"_s;
}

QStringList MailboxFixture::readResults(QIODevice& output)
{
    QStringList results;
    while (output.canReadLine()) {
        const QJsonArray line = QJsonDocument::fromJson(output.readLine()).array();
        results << (line.isEmpty() ? u"<unreadable line>"_s : line.at(0).toString());
    }
    return results;
}

ClientRun MailboxFixture::runClient(const QStringList& operations, const QProcessEnvironment& environment,
                                    std::chrono::milliseconds timeout)
{
    ClientRun run;
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(clientProgram(), operations);
    if (!process.waitForFinished(int(timeout.count()))) {
        process.kill();
        process.waitForFinished(5000);
        run.errorOutput = u"mailbox_client did not finish: "_s + process.errorString();
        return run;
    }
    run.finished = process.exitStatus() == QProcess::NormalExit;
    run.exitCode = process.exitCode();
    run.errorOutput = QString::fromUtf8(process.readAllStandardError());
    run.results = readResults(process);
    return run;
}

qint64 MailboxFixture::ownerPid(const QDBusConnection& bus)
{
    const QDBusMessage answer = askBus(bus, u"GetConnectionUnixProcessID"_s);
    if (answer.type() != QDBusMessage::ReplyMessage || answer.arguments().isEmpty()) {
        return 0;
    }
    return answer.arguments().constFirst().toLongLong();
}

bool MailboxFixture::nameHasOwner(const QDBusConnection& bus)
{
    const QDBusMessage answer = askBus(bus, u"NameHasOwner"_s);
    return answer.type() == QDBusMessage::ReplyMessage && !answer.arguments().isEmpty() &&
           answer.arguments().constFirst().toBool();
}

bool MailboxFixture::waitForOwner(const QDBusConnection& bus, bool owned, std::chrono::milliseconds timeout)
{
    const QDeadlineTimer deadline(timeout);
    while (nameHasOwner(bus) != owned) {
        if (deadline.hasExpired()) {
            return false;
        }
        QThread::msleep(20);
    }
    return true;
}

QString MailboxFixture::executableOf(qint64 pid)
{
    return QFileInfo(u"/proc/%1/exe"_s.arg(pid)).canonicalFilePath();
}

bool MailboxFixture::processEnded(qint64 pid)
{
    QFile stat(u"/proc/%1/stat"_s.arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) {
        return true;
    }
    // "pid (name) S ...": the state follows the closing parenthesis.
    const QByteArray text = stat.readAll();
    const qsizetype close = text.lastIndexOf(')');
    return close >= 0 && text.size() > close + 2 && (text.at(close + 2) == 'Z' || text.at(close + 2) == 'X');
}

bool MailboxFixture::killAndWait(qint64 pid, std::chrono::milliseconds timeout)
{
    if (pid <= 0) {
        return false;
    }
    ::kill(pid_t(pid), SIGKILL);
    const QDeadlineTimer deadline(timeout);
    while (!processEnded(pid)) {
        if (deadline.hasExpired()) {
            return false;
        }
        QThread::msleep(20);
    }
    return true;
}

} // namespace linvera::test
