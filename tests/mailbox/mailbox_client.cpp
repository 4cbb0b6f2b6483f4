// A separate client process for the mailbox tests. Runs its operations in order on one
// connection and prints the result of each "get" and "check" at once, as one line holding a
// JSON array with one string (so texts with line breaks stay on their line).
//   mailbox_client [set TEXT] [get] [dirty] [clear] [check] [line] ...
// "line" waits until a line (or the end) arrives on standard input, so that a test decides when
// the next calls happen.
// Exit status: 0 all calls answered, 1 a call failed (error on stderr), 2 bad usage.
#include "mailbox/MailboxClient.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>

#include <cstdio>

using namespace Qt::StringLiterals;

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments().mid(1);
    linvera::MailboxClient client;

    auto print = [](const QString& result) {
        const QByteArray line = QJsonDocument(QJsonArray{result}).toJson(QJsonDocument::Compact) + '\n';
        std::fputs(line.constData(), stdout);
        std::fflush(stdout);
    };

    auto failed = [](const QString& what, const QString& error) {
        std::fprintf(stderr, "mailbox_client: %s failed: %s\n", qUtf8Printable(what), qUtf8Printable(error));
        return 1;
    };

    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& op = args.at(i);
        if (op == u"set"_s && i + 1 < args.size()) {
            const auto reply = client.setCmdData(args.at(++i));
            if (!reply.ok) {
                return failed(op, reply.error);
            }
        } else if (op == u"get"_s) {
            const auto reply = client.getCmdData();
            if (!reply.ok) {
                return failed(op, reply.error);
            }
            print(reply.value);
        } else if (op == u"dirty"_s) {
            if (const auto reply = client.setCmdDirty(); !reply.ok) {
                return failed(op, reply.error);
            }
        } else if (op == u"clear"_s) {
            if (const auto reply = client.clearCmdDirty(); !reply.ok) {
                return failed(op, reply.error);
            }
        } else if (op == u"check"_s) {
            const auto reply = client.checkCmdDirty();
            if (!reply.ok) {
                return failed(op, reply.error);
            }
            print(QString::number(reply.value));
        } else if (op == u"line"_s) {
            // The end of the input lets the calls go on just as a line does.
            char line[64];
            if (std::fgets(line, sizeof line, stdin) == nullptr && std::ferror(stdin)) {
                return failed(op, u"cannot read standard input"_s);
            }
        } else {
            std::fprintf(stderr, "mailbox_client: bad operation: %s\n", qUtf8Printable(op));
            return 2;
        }
    }
    return 0;
}
