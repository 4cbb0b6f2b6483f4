#pragma once

#include <QString>

namespace linvera::platform {

/// Joins a folder and a name with exactly one "/" between them.
QString JoinPath(const QString& folder, const QString& name);

/// The process-wide folders and files, settled once at start-up.
struct AppPaths
{
    /// Folder of the running executable; the default data files lie beside it.
    QString programFolder;
    QString homeFolder;
    /// The documents folder joined with "halvex-linvera".
    QString dataFolder;
    QString desktopFolder;
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
