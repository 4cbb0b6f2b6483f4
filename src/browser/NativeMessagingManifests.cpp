#include "browser/NativeMessagingManifests.h"

#include "platform/AppPaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStandardPaths>

using namespace Qt::StringLiterals;

namespace linvera {
namespace {

/// A manifest is a few hundred bytes; a larger file is not one of ours.
constexpr qint64 kMaxManifestBytes = 64 * 1024;

} // namespace

QString NativeMessagingManifests::hostName()
{
    return u"com.halvex.linvera"_s;
}

QString NativeMessagingManifests::hostProgramName()
{
    return u"linvera-native-host"_s;
}

QString NativeMessagingManifests::chromiumExtensionId()
{
    // Derived from the "key" of extension/chromium/manifest.json; a test recomputes it.
    return u"ogdgiemolgimiknjcdemkmblbipiklpb"_s;
}

QString NativeMessagingManifests::chromiumOrigin()
{
    return u"chrome-extension://"_s + chromiumExtensionId() + u'/';
}

QString NativeMessagingManifests::firefoxExtensionId()
{
    return u"linvera@halvex.example"_s;
}

QList<NativeMessagingManifests::Target> NativeMessagingManifests::userTargets()
{
    QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (config.isEmpty())
        config = platform::JoinPath(QDir::homePath(), u".config"_s);
    QList<Target> targets;
    for (const QString& browser : {u"chromium"_s, u"google-chrome"_s, u"BraveSoftware/Brave-Browser"_s,
                                   u"vivaldi"_s, u"microsoft-edge"_s}) {
        const QString folder = platform::JoinPath(config, browser);
        targets.append({Family::Chromium, platform::JoinPath(folder, u"NativeMessagingHosts"_s), folder});
    }
    const QString mozilla = platform::JoinPath(QDir::homePath(), u".mozilla"_s);
    targets.append({Family::Firefox, platform::JoinPath(mozilla, u"native-messaging-hosts"_s), mozilla});
    return targets;
}

NativeMessagingManifests::NativeMessagingManifests(const QString& programFolder, const QList<Target>& targets)
    : m_programFolder(programFolder)
    , m_targets(targets)
{}

NativeMessagingManifests::NativeMessagingManifests()
    : NativeMessagingManifests(platform::AppPaths::fromEnvironment().programFolder, userTargets())
{}

QString NativeMessagingManifests::hostPath() const
{
    return platform::JoinPath(m_programFolder, hostProgramName());
}

QString NativeMessagingManifests::manifestPath(const Target& target) const
{
    return platform::JoinPath(target.folder, hostName() + u".json"_s);
}

QByteArray NativeMessagingManifests::manifest(Family family) const
{
    QJsonObject object{
        {u"name"_s, hostName()},
        {u"description"_s, u"Kemo (H-Linvera): hands a page address to the running program"_s},
        {u"path"_s, hostPath()},
        {u"type"_s, u"stdio"_s},
    };
    if (family == Family::Chromium)
        object.insert(u"allowed_origins"_s, QJsonArray{chromiumOrigin()});
    else
        object.insert(u"allowed_extensions"_s, QJsonArray{firefoxExtensionId()});
    return QJsonDocument(object).toJson(QJsonDocument::Indented);
}

bool NativeMessagingManifests::isOurs(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxManifestBytes)
        return false;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
    if (!document.isObject())
        return false;
    const QJsonObject object = document.object();
    return object.value(u"name"_s).toString() == hostName() &&
           object.value(u"path"_s).toString().endsWith(u'/' + hostProgramName());
}

namespace {

bool hasContent(const QString& path, const QByteArray& text)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.size() == text.size() && file.readAll() == text;
}

} // namespace

bool NativeMessagingManifests::install() const
{
    bool allInPlace = true;
    for (const Target& target : m_targets) {
        if (!QFileInfo(target.browserFolder).isDir())
            continue; // a browser the user does not have
        const QString path = manifestPath(target);
        if (!QDir().mkpath(target.folder) || (QFileInfo::exists(path) && !isOurs(path))) {
            allInPlace = false;
            continue;
        }
        const QByteArray text = manifest(target.family);
        if (hasContent(path, text))
            continue; // both browser entries install the same files, at every start
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit())
            allInPlace = false;
    }
    return allInPlace;
}

bool NativeMessagingManifests::remove() const
{
    bool noneLeft = true;
    for (const Target& target : m_targets) {
        const QString path = manifestPath(target);
        if (isOurs(path) && !QFile::remove(path))
            noneLeft = false;
    }
    return noneLeft;
}

} // namespace linvera
