// linvera-native-host: the browser extension's native-messaging host. Each message names a page
// ({"url": …, "title": …}); its command goes into the command mailbox, where the running window picks
// it up, and the window is started when none runs. {"query": "registrations"} is answered from the
// registry store alone: which of the browser entries the settings register.
#include "browser/BrowserRegistrations.h"
#include "browser/NativeMessage.h"
#include "mailbox/MailboxClient.h"
#include "platform/ProgramOptions.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QProcess>

#include <fcntl.h>
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
    u"(H-Linvera is started when none runs); {\"query\": \"registrations\"} is answered with which\n"
    u"browser entries are registered. The arguments the browser passes are not used.\n"
    u"\n"
    u"  -h, --help     show this help and exit\n"
    u"      --version  show the version and exit\n"
    u"\n"
    u"Exit status: 0 the browser closed the connection, 1 a broken message, 2 wrong command line.\n"_s;

constexpr std::chrono::milliseconds kMailboxStartWait{5000};

void reply(QFile& out, bool ok, const QString& error = {})
{
    out.write(NativeMessage::answer(ok, error));
    out.flush();
}

QString handOver(MailboxClient& mailbox, const QString& command)
{
    // The browser waits for the answer: a mailbox server slow to start on a busy machine is waited for
    // longer than the window's own quick try.
    if (!mailbox.isConnected() &&
        !mailbox.connectMailbox(MailboxClient::defaultHelperProgram(), kMailboxStartWait))
        return mailbox.lastError().isEmpty() ? u"mailbox unreachable"_s : mailbox.lastError();
    const auto set = mailbox.setCmdData(command);
    if (!set.ok)
        return set.error;
    const auto dirty = mailbox.setCmdDirty();
    if (!dirty.ok)
        return dirty.error;
    // Nobody polls the mailbox while no window runs: start one, it takes the command at its first look.
    QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
    if (bus && !bus->isServiceRegistered(u"HVXLinvera.Linvera"_s).value()) {
        QProcess window;
        window.setProgram(QCoreApplication::applicationDirPath() + u"/H-Linvera"_s);
        window.setWorkingDirectory(QDir::rootPath());
        window.setStandardInputFile(QProcess::nullDevice());
        window.setStandardOutputFile(QProcess::nullDevice());
        window.setStandardErrorFile(QProcess::nullDevice());
        window.startDetached();
    }
    return {};
}

/// Moves the browser's pipes off the standard descriptors, which then read and write /dev/null. The
/// programs started from here (the mailbox server, the window) outlive the host: holding the browser's
/// pipe, they would keep a browser that reads to the end of the host's output waiting.
bool takeBrowserPipes(int& in, int& out)
{
    in = fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 3);
    out = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (in < 0 || out < 0 || null < 0)
        return false;
    const bool moved = dup2(null, STDIN_FILENO) >= 0 && dup2(null, STDOUT_FILENO) >= 0;
    close(null);
    return moved;
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
    int inFd = -1;
    int outFd = -1;
    if (!takeBrowserPipes(inFd, outFd))
        return 1;
    QFile in;
    QFile out;
    // Unbuffered: a buffered read would wait for more than the browser sends before it wants an answer.
    if (!in.open(inFd, QIODevice::ReadOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle) ||
        !out.open(outFd, QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle))
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
        if (NativeMessage::isRegistrationsQuery(message)) {
            out.write(NativeMessage::registrationsAnswer(BrowserRegistrations::menuExtensionRegistered(),
                                                         BrowserRegistrations::toolbarButtonRegistered()));
            out.flush();
            continue;
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
