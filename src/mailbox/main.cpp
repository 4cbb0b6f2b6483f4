// H-LinveraHelper: the command mailbox server ("HVX-DataShare"). No window; it serves the
// mailbox on the session bus while it has clients and then ends.
#include "mailbox/MailboxServer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDBusConnection>

#include <cstdio>
#include <optional>

using namespace Qt::StringLiterals;
using linvera::MailboxServer;

namespace {

std::optional<std::chrono::milliseconds> parseMilliseconds(const QString& text)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < 0) {
        return std::nullopt;
    }
    return std::chrono::milliseconds(value);
}

int fail(const QString& message, int status)
{
    std::fprintf(stderr, "H-LinveraHelper: %s\n", qUtf8Printable(message));
    return status;
}

/// A wrong command line: what was wrong, then the usage, on standard error.
int usageError(const QCommandLineParser& parser, const QString& message)
{
    std::fprintf(stderr, "H-LinveraHelper: %s\n%s", qUtf8Printable(message),
                 qUtf8Printable(parser.helpText()));
    return 2;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(u"H-LinveraHelper"_s);
    QCoreApplication::setOrganizationName(u"HALVEX"_s);
    QCoreApplication::setApplicationVersion(QStringLiteral(LINVERA_VERSION));

    MailboxServer::Options options;
    QCommandLineParser parser;
    parser.setApplicationDescription(u"HVX-DataShare"_s);
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption lingerOption(
        u"linger-ms"_s,
        u"Stay this long after the last client has left (default %1)."_s.arg(options.linger.count()),
        u"ms"_s);
    const QCommandLineOption waitOption(
        u"first-client-ms"_s,
        u"End when no client calls within this time after start (default %1)."_s.arg(
            options.firstClientWait.count()),
        u"ms"_s);
    parser.addOption(lingerOption);
    parser.addOption(waitOption);
    if (!parser.parse(QCoreApplication::arguments())) {
        return usageError(parser, parser.errorText());
    }
    if (parser.isSet(u"help"_s)) {
        parser.showHelp(0);
    }
    if (parser.isSet(u"version"_s)) {
        parser.showVersion();
    }
    if (!parser.positionalArguments().isEmpty()) {
        return usageError(parser, u"unexpected argument: "_s + parser.positionalArguments().constFirst());
    }
    if (parser.isSet(lingerOption)) {
        const auto value = parseMilliseconds(parser.value(lingerOption));
        if (!value) {
            return usageError(parser, u"--linger-ms needs a number of milliseconds, not: "_s +
                                          parser.value(lingerOption));
        }
        options.linger = *value;
    }
    if (parser.isSet(waitOption)) {
        const auto value = parseMilliseconds(parser.value(waitOption));
        if (!value) {
            return usageError(parser, u"--first-client-ms needs a number of milliseconds, not: "_s +
                                          parser.value(waitOption));
        }
        options.firstClientWait = *value;
    }

    MailboxServer server(QDBusConnection::sessionBus(), options);
    switch (server.start()) {
    case MailboxServer::StartResult::Serving:
        break;
    case MailboxServer::StartResult::NameTaken:
        return 0; // another server serves; only one may
    case MailboxServer::StartResult::Failed:
        return fail(server.errorText(), 1);
    }
    QObject::connect(&server, &MailboxServer::finished, &app, &QCoreApplication::quit);
    return app.exec();
}
