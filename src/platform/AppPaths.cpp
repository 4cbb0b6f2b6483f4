#include "platform/AppPaths.h"

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

namespace {

// A real folder (not a link) of this user that nobody else can enter.
bool isPrivateFolder(const QByteArray& path)
{
    struct stat info = {};
    return lstat(path.constData(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == getuid() &&
           (info.st_mode & 077) == 0;
}

// `name` in `root`, made 0700 when missing, used only when private; else a new folder of a random
// name beside it, so that nothing another user planted can redirect, block or read the files.
QString privateFolderIn(const QString& root, const QString& name)
{
    if (!QDir::isAbsolutePath(root))
        return {};
    const QString named = JoinPath(root, name);
    const QByteArray path = QFile::encodeName(named);
    if (mkdir(path.constData(), 0700) != 0 && errno != EEXIST)
        return {};
    // lstat: a link planted under the name is not followed, and fails the check.
    if (isPrivateFolder(path))
        return named;
    QByteArray pattern = path + "-XXXXXX";
    return mkdtemp(pattern.data()) ? QFile::decodeName(pattern) : QString();
}

} // namespace

QString PrivateTempFolder(const QString& tempRoot)
{
    return privateFolderIn(tempRoot, u"halvex-linvera-"_s + QString::number(getuid()));
}

QString RuntimeTempFolder(const QString& runtimeFolder)
{
    // The session's runtime folder must itself be the user's alone, as the XDG rules require.
    if (runtimeFolder.isEmpty() || !QDir::isAbsolutePath(runtimeFolder) ||
        !isPrivateFolder(QFile::encodeName(runtimeFolder)))
        return {};
    return privateFolderIn(runtimeFolder, u"halvex-linvera"_s);
}

QString ChooseTempFolder(const QString& runtimeFolder, const QString& tempRoot, const QString& cacheFolder)
{
    QString folder = RuntimeTempFolder(runtimeFolder);
    if (folder.isEmpty())
        folder = PrivateTempFolder(tempRoot);
    // The shared folder refused us (not writable, or full of other users' things): the cache folder,
    // never the shared folder itself.
    if (folder.isEmpty() && QDir::isAbsolutePath(cacheFolder) && QDir().mkpath(cacheFolder))
        folder = privateFolderIn(cacheFolder, u"tmp"_s);
    return folder;
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
    QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (!cache.isEmpty())
        cache = JoinPath(cache, u"halvex-linvera"_s);
    paths.tempFolder = ChooseTempFolder(qEnvironmentVariable("XDG_RUNTIME_DIR"), QDir::tempPath(), cache);
    paths.logFilePath = JoinPath(paths.dataFolder, u"log.txt"_s);
    paths.noticeFilePath = JoinPath(paths.dataFolder, u"notice.xml"_s);
    return paths;
}

bool AppPaths::prepareDataFolder() const
{
    // The documents folder itself may be missing on a fresh Linux account: make the whole path.
    if (!QDir().mkpath(dataFolder))
        return false;
    bool copied = true;
    for (const QString& name : {u"notice.xml"_s, u"tinyurls.txt"_s, u"picturls.txt"_s, u"trackers.json"_s}) {
        const QString target = dataFile(name);
        const QString source = programFile(name);
        if (!QFile::exists(target) && QFile::exists(source) && !QFile::copy(source, target))
            copied = false;
    }
    return copied;
}

} // namespace linvera::platform
