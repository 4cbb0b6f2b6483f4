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

/// The process-wide folders and files, settled once at start-up.
struct AppPaths
{
    /// Folder of the running executable; the default data files lie beside it.
    QString programFolder;
    QString homeFolder;
    /// The documents folder joined with "halvex-linvera".
    QString dataFolder;
    QString desktopFolder;
    /// The user's private folder for temporary files (`PrivateTempFolder`), never the shared one itself.
    QString tempFolder;
    QString logFilePath;
    QString noticeFilePath;

    /// The folders of this user and this executable.
    static AppPaths fromEnvironment();

    QString dataFile(const QString& name) const { return JoinPath(dataFolder, name); }
    QString programFile(const QString& name) const { return JoinPath(programFolder, name); }

    /// Creates the data folder with every missing parent, then copies each default file from the
    /// program folder when the data folder has none yet. Existing user files are never replaced.
    /// Returns false when the folder could not be made.
    bool prepareDataFolder() const;
};

} // namespace linvera::platform
