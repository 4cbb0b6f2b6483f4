// linvera-native-host: the browser extension's native-messaging host. Each message names a page
// ({"url": …, "title": …}); its command goes into the command mailbox, where the running window picks
// it up, and the window is started when none runs.
#include "MailboxClient.h"
#include "NativeMessage.h"
#include "ProgramOptions.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QFile>
#include <QJsonObject>
#include <QProcess>

#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace linvera;

namespace {

const QString kUsage =
    u"Usage: linvera-native-host [ORIGIN | MANIFEST EXTENSION-ID]\n"
    u"\n"
    u"The native-messaging host of Kemo's browser extension; the browser starts it and speaks to it\n"
    u"on standard input and output, one length-prefixed JSON message each way. Each message\n"
    u"{\"url\": ..., \"title\": ...} is handed to the running H-Linvera through the command mailbox\n"
    u"(H-Linvera is started when none runs). The arguments the browser passes are not used.\n"
    u"\n"
    u"  -h, --help     show this help and exit\n"
    u"      --version  show the version and exit\n"
    u"\n"
    u"Exit status: 0 the browser closed the connection, 1 a broken message, 2 wrong command line.\n"_s;

void reply(QFile& out, bool ok, const QString& error = {})
{
    out.write(NativeMessage::answer(ok, error));
    out.flush();
}

QString handOver(MailboxClient& mailbox, const QString& command)
{
    if (!mailbox.isConnected() && !mailbox.connectMailbox())
        return mailbox.lastError().isEmpty() ? u"mailbox unreachable"_s : mailbox.lastError();
    const auto set = mailbox.setCmdData(command);
    if (!set.ok)
        return set.error;
    const auto dirty = mailbox.setCmdDirty();
    if (!dirty.ok)
        return dirty.error;
    // Nobody polls the mailbox while no window runs: start one, it takes the command at its first look.
    QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
    if (bus && !bus->isServiceRegistered(u"HVXLinvera.Linvera"_s).value())
        QProcess::startDetached(QCoreApplication::applicationDirPath() + u"/H-Linvera"_s, {});
    return {};
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    // The browser passes its caller's origin (Chromium) or the manifest and the extension's id (Firefox).
    const platform::ProgramOptions options =
        platform::ProgramOptions::parse(QCoreApplication::arguments().mid(1));
    if (const auto status = platform::AnswerProgramOptions(options, u"linvera-native-host"_s, kUsage))
        return *status;
    QFile in;
    QFile out;
    // Unbuffered: a buffered read would wait for more than the browser sends before it wants an answer.
    if (!in.open(STDIN_FILENO, QIODevice::ReadOnly | QIODevice::Unbuffered) ||
        !out.open(STDOUT_FILENO, QIODevice::WriteOnly | QIODevice::Unbuffered))
        return 1;
    MailboxClient mailbox;
    for (;;) {
        QJsonObject message;
        const NativeMessage::Status status = NativeMessage::read(in, message);
        if (status == NativeMessage::Status::EndOfInput)
            return 0;
        if (status == NativeMessage::Status::TooLarge) {
            reply(out, false, u"message too large"_s);
            continue;
        }
        if (status == NativeMessage::Status::Broken) {
            reply(out, false, u"broken message"_s);
            return 1;
        }
        const QString command = NativeHostCommand(message);
        if (command.isEmpty()) {
            reply(out, false, u"no url"_s);
            continue;
        }
        const QString error = handOver(mailbox, command);
        reply(out, error.isEmpty(), error);
    }
}
