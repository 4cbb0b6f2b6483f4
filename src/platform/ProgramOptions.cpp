#include "platform/ProgramOptions.h"

#include "LinveraVersion.h"

#include <cstdio>

using namespace Qt::StringLiterals;

namespace linvera::platform {

namespace {

bool looksLikeOption(const QString& text)
{
    return text.size() > 1 && text.startsWith(u'-');
}

} // namespace

ProgramOptions ProgramOptions::parse(const QStringList& arguments, const Grammar& grammar)
{
    ProgramOptions result;
    bool help = false;
    bool version = false;
    bool optionsEnded = false;
    for (const QString& argument : arguments) {
        if (optionsEnded || !looksLikeOption(argument)) {
            result.arguments.append(argument);
            if (grammar.placement == Placement::BeforeArguments)
                optionsEnded = true;
        } else if (argument == u"--"_s) {
            optionsEnded = true;
        } else if (argument == u"--help"_s || argument == u"-h"_s) {
            help = true;
        } else if (argument == u"--version"_s) {
            version = true;
        } else if (grammar.flags.contains(argument)) {
            if (!result.flags.contains(argument))
                result.flags.append(argument);
        } else if (grammar.keptOptions.contains(argument)) {
            result.arguments.append(argument);
            if (grammar.placement == Placement::BeforeArguments)
                optionsEnded = true;
        } else {
            // The first unknown option decides: what follows it may be its value.
            result.action = Action::UsageError;
            result.error = u"unknown option '%1'"_s.arg(argument);
            return result;
        }
    }
    if (help)
        result.action = Action::Help;
    else if (version)
        result.action = Action::Version;
    return result;
}

QString ProgramVersion()
{
    return QStringLiteral(LINVERA_VERSION);
}

std::optional<int> AnswerProgramOptions(const ProgramOptions& options, const QString& program,
                                        const QString& usage, QTextStream& out, QTextStream& err)
{
    switch (options.action) {
    case ProgramOptions::Action::Run:
        return std::nullopt;
    case ProgramOptions::Action::Help:
        out << usage;
        out.flush();
        return 0;
    case ProgramOptions::Action::Version:
        out << program << u' ' << ProgramVersion() << u'\n';
        out.flush();
        return 0;
    case ProgramOptions::Action::UsageError:
        err << program << u": "_s << options.error << u'\n' << usage;
        err.flush();
        return kUsageErrorStatus;
    }
    return kUsageErrorStatus;
}

std::optional<int> AnswerProgramOptions(const ProgramOptions& options, const QString& program,
                                        const QString& usage)
{
    QTextStream out(stdout);
    QTextStream err(stderr);
    return AnswerProgramOptions(options, program, usage, out, err);
}

} // namespace linvera::platform
