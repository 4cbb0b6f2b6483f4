#pragma once

#include <QString>
#include <QStringList>
#include <QTextStream>

#include <optional>

namespace linvera::platform {

/// The command-line conventions every program of the suite follows: "--help" / "-h" and "--version"
/// answer and end, "--" ends the options, and any other text that starts with "-" (except "-" itself)
/// is an unknown option unless the program names it, so an option is never taken for an argument.
struct ProgramOptions
{
    enum class Action { Run, Help, Version, UsageError };

    /// Where options may stand: anywhere, or only before the first argument (for programs whose
    /// later arguments are free text, such as a page title that may start with "-").
    enum class Placement { Anywhere, BeforeArguments };

    struct Grammar
    {
        QStringList flags;       ///< the program's own options beside --help and --version
        QStringList keptOptions; ///< option-like texts that belong to the arguments, kept in place
        Placement placement = Placement::Anywhere;
    };

    Action action = Action::Run;
    QStringList flags;     ///< the program's own options given, each once, in the order first given
    QStringList arguments; ///< the arguments in order, without "--" and without the options
    QString error;         ///< for UsageError: what was wrong

    bool has(QStringView flag) const { return flags.contains(flag); }

    /// `arguments` without the program name.
    static ProgramOptions parse(const QStringList& arguments, const Grammar& grammar);
    static ProgramOptions parse(const QStringList& arguments) { return parse(arguments, Grammar()); }
};

/// The version every program of the suite reports.
QString ProgramVersion();

/// Answers --help (usage on `out`), --version ("program version" on `out`) and a usage error (the
/// error and the usage on `err`). Returns the exit status (0, or 2 for a usage error), or nothing
/// when the program is to run.
std::optional<int> AnswerProgramOptions(const ProgramOptions& options, const QString& program,
                                        const QString& usage, QTextStream& out, QTextStream& err);

/// The same on the process's standard output and standard error.
std::optional<int> AnswerProgramOptions(const ProgramOptions& options, const QString& program,
                                        const QString& usage);

/// The exit status of a usage error.
inline constexpr int kUsageErrorStatus = 2;

} // namespace linvera::platform
