#include "AppPaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace linvera::platform {

QString JoinPath(const QString& folder, const QString& name)
{
    QString joined = folder;
    while (joined.size() > 1 && joined.endsWith(u'/'))
        joined.chop(1);
    QStringView rest = name;
    while (rest.startsWith(u'/'))
        rest = rest.mid(1);
    if (joined == u"/"_s)
        return joined + rest;
    return joined + u'/' + rest;
}

QString PrivateTempFolder(const QString& tempRoot)
{
    const QString named = JoinPath(tempRoot, u"halvex-linvera-"_s + QString::number(getuid()));
    const QByteArray path = QFile::encodeName(named);
    if (mkdir(path.constData(), 0700) != 0 && errno != EEXIST)
        return {};
    // lstat: a link planted under the name is not followed, and fails the check.
    struct stat info = {};
    if (lstat(path.constData(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == getuid() &&
        (info.st_mode & 077) == 0)
        return named;
    // The name is taken by something not ours: a folder of a random name instead.
    QByteArray pattern = path + "-XXXXXX";
    return mkdtemp(pattern.data()) ? QFile::decodeName(pattern) : QString();
}

AppPaths AppPaths::fromEnvironment()
{
    AppPaths paths;
    paths.programFolder = QCoreApplication::applicationDirPath();
    paths.homeFolder = QDir::homePath();
    QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (documents.isEmpty())
        documents = JoinPath(paths.homeFolder, u"Documents"_s);
    paths.dataFolder = JoinPath(documents, u"halvex-linvera"_s);
    paths.desktopFolder = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    paths.tempFolder = PrivateTempFolder(QDir::tempPath());
    if (paths.tempFolder.isEmpty())
        paths.tempFolder = QDir::tempPath();
    paths.logFilePath = JoinPath(paths.dataFolder, u"log.txt"_s);
    paths.noticeFilePath = JoinPath(paths.dataFolder, u"notice.xml"_s);
    return paths;
}

bool AppPaths::prepareDataFolder() const
{
    // The documents folder itself may be missing on a fresh Linux account: make the whole path.
    if (!QDir().mkpath(dataFolder))
        return false;
    for (const QString& name : {u"notice.xml"_s, u"tinyurls.txt"_s, u"picturls.txt"_s}) {
        const QString target = dataFile(name);
        if (!QFile::exists(target))
            QFile::copy(programFile(name), target);
    }
    return true;
}

} // namespace linvera::platform
