#pragma once

#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>

namespace linvera {

/// Starts other programs, always with an argument list and never through a shell. The shell
/// helpers and the browser launch go through this, so that tests can see exactly what would be
/// started without starting anything.
class ProcessRunner
{
public:
    struct Result
    {
        enum class Outcome {
            Finished,      // exited on its own; exitCode holds its status
            FailedToStart, // missing, not executable, or the start failed otherwise
            Crashed,       // ended by a signal
            StillRunning,  // did not end within the limit; it is left running
        };
        Outcome outcome = Outcome::FailedToStart;
        int exitCode = -1;
    };

    virtual ~ProcessRunner() = default;

    using Done = std::function<void(const Result& result)>;

    /// Runs the program; `done` gets the outcome once it ended, or at the latest `limit` after the
    /// start, always from the event loop and never from inside run(). A program still running then is
    /// left alone to go on.
    virtual void run(const QString& program, const QStringList& arguments, const QString& workingFolder,
                     std::chrono::milliseconds limit, Done done) = 0;
    /// Starts the program on its own and returns whether it started.
    virtual bool startDetached(const QString& program, const QStringList& arguments,
                               const QString& workingFolder) = 0;
    /// The full path of an executable: a name without "/" is looked up in PATH, a path must name an
    /// executable file. Empty when there is none.
    virtual QString findExecutable(const QString& program) = 0;

    /// The runner that really starts processes.
    static ProcessRunner& system();
};

} // namespace linvera
