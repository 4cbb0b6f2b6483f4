#include "TestSandbox.h"

#include "platform/RegistryStore.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace linvera::test {

namespace {

// Filled before main(), so only storage that needs no constructor.
char g_root[4096];
pid_t g_owner = 0;

bool makeFolder(const char* path)
{
    return ::mkdir(path, 0700) == 0 || errno == EEXIST;
}

bool joinInto(char* out, std::size_t size, const char* folder, const char* name)
{
    const int n = std::snprintf(out, size, "%s/%s", folder, name);
    return n > 0 && std::size_t(n) < size;
}

int removeEntry(const char* path, const struct stat*, int, struct FTW*)
{
    ::remove(path);
    return 0;
}

void removeSandbox()
{
    // Children that were forked but not replaced by another program must not take the parent's folder.
    if (g_root[0] != '\0' && ::getpid() == g_owner)
        ::nftw(g_root, removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

/// The path with "..", "." and symbolic links resolved, as far as it exists; a missing rest is
/// appended as written.
QString resolved(const QString& path)
{
    QString existing = QDir::cleanPath(QDir::isAbsolutePath(path) ? path : QDir::current().filePath(path));
    QString rest;
    for (int steps = 0; steps < 256 && existing != u"/"_s; ++steps) {
        const QFileInfo info(existing);
        if (info.exists())
            break;
        if (info.isSymLink()) {
            // A link to a missing place leads there, not into the folder that holds the link.
            existing = QDir::cleanPath(info.symLinkTarget());
            continue;
        }
        const qsizetype slash = existing.lastIndexOf(u'/');
        rest = existing.mid(slash) + rest;
        existing = slash > 0 ? existing.left(slash) : u"/"_s;
    }
    const QString canonical = QFileInfo(existing).canonicalFilePath();
    return QDir::cleanPath((canonical.isEmpty() ? existing : canonical) + rest);
}

bool isInside(const QString& path, const QString& root)
{
    return !path.isEmpty() && resolved(path).startsWith(root + u'/');
}

} // namespace

bool makeSandbox()
{
    const char* base = std::getenv("TMPDIR");
    if (base == nullptr || base[0] != '/')
        base = "/tmp";
    char root[sizeof g_root];
    if (!joinInto(root, sizeof root, base, "linvera-test-XXXXXX") || ::mkdtemp(root) == nullptr) {
        std::fprintf(stderr, "linvera test sandbox: cannot make a folder under %s: %s\n", base,
                     std::strerror(errno));
        return false;
    }
    struct Folder
    {
        const char* variable;
        const char* relative;
    };
    static constexpr Folder kFolders[] = {
        {"HOME", "home"},
        {"XDG_CONFIG_HOME", "home/.config"},
        {nullptr, "home/.local"},
        {"XDG_DATA_HOME", "home/.local/share"},
        {"XDG_STATE_HOME", "home/.local/state"},
        {"XDG_CACHE_HOME", "home/.cache"},
        {"TMPDIR", "tmp"},
        {"XDG_RUNTIME_DIR", "runtime"},
    };
    for (const Folder& folder : kFolders) {
        char path[sizeof g_root];
        if (!joinInto(path, sizeof path, root, folder.relative) || !makeFolder(path) ||
            (folder.variable != nullptr && ::setenv(folder.variable, path, 1) != 0)) {
            std::fprintf(stderr, "linvera test sandbox: cannot prepare %s\n", path);
            return false;
        }
    }
    // Folder names the user's session may export; without them the folders lie in the new home.
    for (const char* name : {"XDG_DOCUMENTS_DIR", "XDG_DESKTOP_DIR", "XDG_DOWNLOAD_DIR", "XDG_PICTURES_DIR"})
        ::unsetenv(name);
    std::memcpy(g_root, root, sizeof g_root);
    if (g_owner == 0)
        std::atexit(removeSandbox);
    g_owner = ::getpid();
    return true;
}

QString sandboxRoot()
{
    return QString::fromLocal8Bit(g_root);
}

QList<std::pair<QByteArray, QString>> SandboxVariables(const QString& root)
{
    const QString home = root + u"/home"_s;
    return {
        {"HOME", home},
        {"XDG_CONFIG_HOME", home + u"/.config"_s},
        {"XDG_DATA_HOME", home + u"/.local/share"_s},
        {"XDG_STATE_HOME", home + u"/.local/state"_s},
        {"XDG_CACHE_HOME", home + u"/.cache"_s},
        {"XDG_RUNTIME_DIR", root + u"/runtime"_s},
        {"TMPDIR", root + u"/tmp"_s},
    };
}

void requireSandbox()
{
    if (g_root[0] == '\0' || g_owner != ::getpid())
        qFatal("linvera test sandbox: this process made no sandbox folder of its own; register the test "
               "with linvera_add_test so that it never runs against the user's registry store and files");
    const QString root = resolved(sandboxRoot());
    struct Place
    {
        QString what;
        QString path;
    };
    const QList<Place> places = {
        {u"HOME"_s, qEnvironmentVariable("HOME")},
        {u"XDG_CONFIG_HOME"_s, qEnvironmentVariable("XDG_CONFIG_HOME")},
        {u"XDG_DATA_HOME"_s, qEnvironmentVariable("XDG_DATA_HOME")},
        {u"XDG_CACHE_HOME"_s, qEnvironmentVariable("XDG_CACHE_HOME")},
        {u"TMPDIR"_s, qEnvironmentVariable("TMPDIR")},
        {u"XDG_RUNTIME_DIR"_s, qEnvironmentVariable("XDG_RUNTIME_DIR")},
        {u"the configuration folder"_s,
         QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)},
        {u"the data folder"_s, QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)},
        {u"the documents folder"_s, QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)},
        {u"the temporary folder"_s, QDir::tempPath()},
        {u"the registry store"_s, platform::RegistryStore::shared().filePath()},
    };
    for (const Place& place : places) {
        if (!isInside(place.path, root))
            qFatal("linvera test sandbox: %s (%s) lies outside the test's own folder %s; refusing to run "
                   "against the user's registry store and files",
                   qPrintable(place.what), qPrintable(place.path), qPrintable(root));
    }
}

} // namespace linvera::test
