#include "SettingsTable.h"

#include "CommandLine.h"
#include "RegAccess.h"

#include <array>
#include <cmath>
#include <limits>

using namespace Qt::StringLiterals;

namespace linvera {
namespace {

constexpr auto kRoot = platform::RegRoot::LocalMachine;
constexpr qint32 kAny = std::numeric_limits<qint32>::max();
constexpr qint32 kAnyBelow = std::numeric_limits<qint32>::min();

// Check boxes take 0, 1 or 2, the two-entry lists an index or -1 (none); the edges any number.
constexpr std::array kTable{
    Setting{u"Clipboard", SettingType::Number, 1, 0, 2},
    Setting{u"FormX", SettingType::Number, std::nullopt, kAnyBelow, kAny},
    Setting{u"FormY", SettingType::Number, std::nullopt, kAnyBelow, kAny},
    Setting{u"FormW", SettingType::Number, std::nullopt, kAnyBelow, kAny},
    Setting{u"FormH", SettingType::Number, std::nullopt, kAnyBelow, kAny},
    Setting{u"ImageType", SettingType::Number, 0, -1, 1},
    // No account is needed for is.gd: a fresh install shortens with it.
    Setting{u"ShortURLType", SettingType::Number, ShortUrlIsgd, -1, ShortUrlTypeCount - 1},
    Setting{u"FollowRedirects", SettingType::Number, 0, 0, 2},
    Setting{u"MenuExt", SettingType::Number, 1, 0, 2},
    Setting{u"ToolbarIcon", SettingType::Number, 1, 0, 2},
    Setting{u"TwitterLogin", SettingType::Text, std::nullopt, 0, 0},
    Setting{u"TwitterPass", SettingType::Text, std::nullopt, 0, 0},
    Setting{u"TwitterChkLogin", SettingType::Number, 1, 0, 2},
    Setting{u"TwitterChkPass", SettingType::Number, 1, 0, 2},
    Setting{u"YourlsUrl", SettingType::Text, std::nullopt, 0, 0},
    Setting{u"YourlsSignature", SettingType::Text, std::nullopt, 0, 0},
    Setting{u"ShlinkUrl", SettingType::Text, std::nullopt, 0, 0},
    Setting{u"ShlinkApiKey", SettingType::Text, std::nullopt, 0, 0},
};

const QString kInternetSettings = u"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings"_s;

} // namespace

QString SettingsKey()
{
    return u"SOFTWARE\\HALVEX\\linvera\\param"_s;
}

std::span<const Setting> SettingsTable()
{
    return kTable;
}

const Setting* FindSetting(QStringView name)
{
    for (const Setting& setting : kTable) {
        if (setting.name == name)
            return &setting;
    }
    return nullptr;
}

std::optional<qint32> StoredNumber(const QString& stored)
{
    const QString text = StripBlanks(stored).trimmed();
    if (text.isEmpty())
        return std::nullopt;
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    const double rounded = std::nearbyint(value); // the default rounding mode is half to even
    if (rounded < std::numeric_limits<qint32>::min() || rounded > std::numeric_limits<qint32>::max())
        return std::nullopt;
    return qint32(rounded);
}

QString ReadSetting(const QString& name)
{
    QString value;
    GetRegValue(kRoot, SettingsKey(), name, value);
    return value;
}

void WriteSetting(const QString& name, const QString& value)
{
    SetRegString(kRoot, SettingsKey(), name, value);
}

std::optional<qint32> ReadNumberSetting(const Setting& setting)
{
    const QString stored = ReadSetting(setting.name.toString());
    if (setting.fallback && StripBlanks(stored).isEmpty())
        return setting.fallback;
    const std::optional<qint32> value = StoredNumber(stored);
    if (!value || *value < setting.minimum || *value > setting.maximum)
        return std::nullopt;
    return value;
}

QString ReadTextSetting(const Setting& setting)
{
    const QString stored = ReadSetting(setting.name.toString());
    return StripBlanks(stored).isEmpty() ? QString() : stored;
}

int StoredShortUrlType()
{
    const Setting& row = *FindSetting(u"ShortURLType");
    const std::optional<qint32> index = ReadNumberSetting(row);
    // -1 selects nothing in the list; the engine then asks the primary host, as for any index but 0.
    return index ? *index : *row.fallback;
}

bool StoredFollowRedirects()
{
    // Only a checked box follows; grayed (2) or unusable values keep the single hop.
    return ReadNumberSetting(*FindSetting(u"FollowRedirects")).value_or(0) == 1;
}

ShortenerAccounts ReadShortenerAccounts()
{
    const auto text = [](QStringView name) { return ReadTextSetting(*FindSetting(name)).trimmed(); };
    return {text(u"YourlsUrl"), text(u"YourlsSignature"), text(u"ShlinkUrl"), text(u"ShlinkApiKey")};
}

Endpoints ReadEndpoints()
{
    Endpoints endpoints;
    const QString key = QString::fromLatin1(Endpoints::kRegistryKey);
    for (int i = 0; i < Endpoints::Count; ++i) {
        const auto name = Endpoints::Name(i);
        QString host;
        if (GetRegValue(kRoot, key, Endpoints::registryName(name), host) && !host.trimmed().isEmpty())
            endpoints.set(name, host.trimmed());
    }
    return endpoints;
}

ProxySetting ReadProxySetting()
{
    ProxySetting proxy;
    QString enabled;
    GetRegValue(platform::RegRoot::CurrentUser, kInternetSettings, u"ProxyEnable"_s, enabled);
    proxy.enabled = enabled == u"1"_s;
    GetRegValue(platform::RegRoot::CurrentUser, kInternetSettings, u"ProxyServer"_s, proxy.server);
    return proxy;
}

} // namespace linvera
