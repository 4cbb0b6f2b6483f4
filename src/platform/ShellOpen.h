#pragma once

#include <QString>

#include <chrono>
#include <functional>

namespace linvera {

class ProcessRunner;

namespace platform {
class MessageBoxes;
}

/// Result codes of a shell open, as the message table knows them: above 32 is success.
namespace ShellCode {
inline constexpr qint32 OutOfMemory = 0;
inline constexpr qint32 FileNotFound = 2;
inline constexpr qint32 PathNotFound = 3;
inline constexpr qint32 AccessDenied = 5;
inline constexpr qint32 BadFormat = 11;
inline constexpr qint32 IncompleteAssociation = 27;
inline constexpr qint32 NoAssociation = 31;
/// Any other failure ("ファイルを開けません。").
inline constexpr qint32 Failed = 32;
/// What a successful open returns.
inline constexpr qint32 Opened = 42;
} // namespace ShellCode

/// Opens files with the program the desktop associates with them: "open" is `xdg-open`, the
/// "play" retry is `gio open` when that is installed. Both get the file as one argument.
class ShellOpener
{
public:
    /// Gets the result code of an open.
    using Answer = std::function<void(qint32 code)>;
    /// Gets the result code after the retry, and the message to show (empty when none is due).
    using Problem = std::function<void(qint32 code, const QString& message)>;

    explicit ShellOpener(ProcessRunner& runner);
    ShellOpener();

    /// How long an open may take before it counts as started (some openers wait for the viewer).
    void setWaitLimit(std::chrono::milliseconds limit) { m_waitLimit = limit; }

    /// The "open" verb. A local file that is missing gives 2 (3 when its folder is missing too)
    /// without starting anything; xdg-open's "file not found" gives 2, "no program" (or no
    /// xdg-open at all) 31, any other failure 32; success gives 42. `answer` runs from the event
    /// loop, never from inside open().
    void open(const QString& file, const QString& folder, Answer answer);
    /// The "play" verb: a second attempt through `gio open`. Missing file 2; no gio or gio failing
    /// 31; success 42. Answers as open() does.
    void play(const QString& file, const QString& folder, Answer answer);

    /// The argument xdg-open and gio receive: URLs unchanged, a relative path made absolute
    /// against the folder (so that a name starting with "-" is never read as an option).
    static QString targetArgument(const QString& file, const QString& folder);

private:
    qint32 checkLocalFile(const QString& file, const QString& folder) const;

    ProcessRunner& m_runner;
    std::chrono::milliseconds m_waitLimit{5000};
};

/// What a shell open result means for the user: `problem` gets the code and the message to show, or
/// an empty message when none is due. Code 31 retries once with the "play" verb and answers with that
/// result's code; only a second 31 gives a message. Codes above 32 give none. Without a retry the
/// answer comes at once, after one from the event loop.
void ShellOpenProblem(qint32 code, const QString& file, const QString& folder, const ShellOpener& opener,
                      ShellOpener::Problem problem);

/// The callers' convention: open the file with its associated program, the working folder given;
/// `message` gets the message for a failure, or empty, from the event loop.
void OpenWithShell(const QString& file, const QString& folder, const ShellOpener& opener,
                   std::function<void(const QString& message)> message);

/// Turns a shell open result into a message box (exclamation icon, OK, the application title).
/// Code 31 retries once with the "play" verb; only a second 31 is reported. Codes above 32 show
/// nothing. `done`, when given, gets the code after the retry once the box (if any) was shown; the
/// boxes must outlive the retry.
void ReportShellOpenError(qint32 code, const QString& file, const QString& folder,
                          platform::MessageBoxes& boxes, const ShellOpener& opener,
                          ShellOpener::Answer done = {});

/// The message for a code other than 31, or empty when the code means success.
QString ShellOpenErrorMessage(qint32 code);

/// The callers' convention: open the file with its associated program, the working folder given,
/// and report a failure.
void ShellOpenFile(const QString& file, const QString& folder, platform::MessageBoxes& boxes,
                   const ShellOpener& opener, ShellOpener::Answer done = {});

/// Makes a folder text end in exactly one "/" before a file name is appended to it; an empty
/// text becomes "/". Changes the text in place and returns it.
QString& NormalizeFolderPath(QString& path);

} // namespace linvera
