#pragma once

#include <QString>

namespace linvera::platform {

/// Joins a folder and a name with exactly one "/" between them.
QString JoinPath(const QString& folder, const QString& name);

/// A folder for the program's temporary files that only this user can enter: "halvex-linvera-<uid>"
/// in `tempRoot`, made 0700 when missing. An existing one is used only when it is a real folder (not
/// a link) owned by this user with no access for others; otherwise a new folder with a random name is
/// made there, so that nothing another user planted can redirect, block or read the files. Empty
/// only when no folder can be made at all.
QString PrivateTempFolder(const QString& tempRoot);

/// "halvex-linvera" in the session's runtime folder ($XDG_RUNTIME_DIR), on the same terms; empty when
/// that folder is not given, not absolute, or not the user's alone.
QString RuntimeTempFolder(const QString& runtimeFolder);

/// The program's temporary folder: in the runtime folder when there is a usable one, else in the
/// shared temporary folder, else "tmp" in `cacheFolder` (made when missing). Never the shared
/// folder itself; empty only when none of them can hold a private folder.
QString ChooseTempFolder(const QString& runtimeFolder, const QString& tempRoot, const QString& cacheFolder);

/// The process-wide folders and files, settled once at start-up.
struct AppPaths
{
    /// Folder of the running executable; the default data files lie beside it.
    QString programFolder;
    QString homeFolder;
    /// The documents folder joined with "halvex-linvera".
    QString dataFolder;
    QString desktopFolder;
    /// The user's private folder for temporary files (`ChooseTempFolder`), never the shared one itself;
    /// empty when no private folder could be made (then nothing is written there).
    QString tempFolder;
    QString logFilePath;
    QString noticeFilePath;

    /// The folders of this user and this executable.
    static AppPaths fromEnvironment();

    QString dataFile(const QString& name) const { return JoinPath(dataFolder, name); }
    QString programFile(const QString& name) const { return JoinPath(programFolder, name); }

    /// Creates the data folder with every missing parent, then copies each default file from the
    /// program folder when the data folder has none yet. Existing user files are never replaced.
    /// Returns false when the folder could not be made or a default file not copied into it.
    bool prepareDataFolder() const;
};

} // namespace linvera::platform
