#include "settings/SettingsTable.h"

#include "mailbox/CommandLine.h"
#include "platform/RegAccess.h"

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
    Setting{SettingKey::Clipboard, u"Clipboard", SettingType::Number, 1, 0, 2},
    Setting{SettingKey::FormX, u"FormX", SettingType::Number, std::nullopt, kAnyBelow, kAny},
    Setting{SettingKey::FormY, u"FormY", SettingType::Number, std::nullopt, kAnyBelow, kAny},
    Setting{SettingKey::FormW, u"FormW", SettingType::Number, std::nullopt, kAnyBelow, kAny},
    Setting{SettingKey::FormH, u"FormH", SettingType::Number, std::nullopt, kAnyBelow, kAny},
    Setting{SettingKey::ImageType, u"ImageType", SettingType::Number, 0, -1, 1},
    // No account is needed for is.gd: a fresh install shortens with it.
    Setting{SettingKey::ShortURLType, u"ShortURLType", SettingType::Number, ShortUrlIsgd, -1,
            ShortUrlTypeCount - 1},
    Setting{SettingKey::FollowRedirects, u"FollowRedirects", SettingType::Number, 0, 0, 2},
    Setting{SettingKey::MenuExt, u"MenuExt", SettingType::Number, 1, 0, 2},
    Setting{SettingKey::ToolbarIcon, u"ToolbarIcon", SettingType::Number, 1, 0, 2},
    Setting{SettingKey::TwitterLogin, u"TwitterLogin", SettingType::Text, std::nullopt, 0, 0},
    Setting{SettingKey::TwitterPass, u"TwitterPass", SettingType::Text, std::nullopt, 0, 0},
    Setting{SettingKey::TwitterChkLogin, u"TwitterChkLogin", SettingType::Number, 1, 0, 2},
    Setting{SettingKey::TwitterChkPass, u"TwitterChkPass", SettingType::Number, 1, 0, 2},
    Setting{SettingKey::YourlsUrl, u"YourlsUrl", SettingType::Text, std::nullopt, 0, 0},
    Setting{SettingKey::YourlsSignature, u"YourlsSignature", SettingType::Text, std::nullopt, 0, 0},
    Setting{SettingKey::ShlinkUrl, u"ShlinkUrl", SettingType::Text, std::nullopt, 0, 0},
    Setting{SettingKey::ShlinkApiKey, u"ShlinkApiKey", SettingType::Text, std::nullopt, 0, 0},
    // On unless the user unticks it.
    Setting{SettingKey::StripTrackers, u"StripTrackers", SettingType::Number, 1, 0, 2},
};

// The table is indexed by key: each row must sit at its key's place.
constexpr bool rowsInKeyOrder()
{
    if (kTable.size() != std::size_t(SettingKeyCount))
        return false;
    for (std::size_t i = 0; i < kTable.size(); ++i) {
        if (int(kTable[i].key) != int(i))
            return false;
    }
    return true;
}
static_assert(rowsInKeyOrder(), "every key has its row, in key order");

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

const Setting& SettingRow(SettingKey key)
{
    return kTable[std::size_t(key)];
}

QString SettingName(SettingKey key)
{
    return SettingRow(key).name.toString();
}

std::optional<qint32> NumberOf(const Setting& setting, const QString& stored)
{
    if (setting.fallback && StripBlanks(stored).isEmpty())
        return setting.fallback;
    const std::optional<qint32> value = StoredNumber(stored);
    if (!value || *value < setting.minimum || *value > setting.maximum)
        return std::nullopt;
    return value;
}

QString TextOf(const QString& stored)
{
    return StripBlanks(stored).isEmpty() ? QString() : stored;
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

QString ReadSetting(SettingKey key)
{
    return ReadSetting(SettingName(key));
}

void WriteSetting(const QString& name, const QString& value)
{
    SetRegString(kRoot, SettingsKey(), name, value);
}

void WriteSetting(SettingKey key, const QString& value)
{
    WriteSetting(SettingName(key), value);
}

std::optional<qint32> ReadNumberSetting(const Setting& setting)
{
    return NumberOf(setting, ReadSetting(setting.key));
}

QString ReadTextSetting(const Setting& setting)
{
    return TextOf(ReadSetting(setting.key));
}

int StoredShortUrlType()
{
    return ShortUrlTypeOf(ReadSetting(SettingKey::ShortURLType));
}

bool StoredFollowRedirects()
{
    return FollowsChainOf(ReadSetting(SettingKey::FollowRedirects));
}

ShortenerAccounts ReadShortenerAccounts()
{
    const auto text = [](SettingKey key) { return ReadTextSetting(SettingRow(key)).trimmed(); };
    return {text(SettingKey::YourlsUrl), text(SettingKey::YourlsSignature), text(SettingKey::ShlinkUrl),
            text(SettingKey::ShlinkApiKey)};
}

int ShortUrlTypeOf(const QString& stored)
{
    const Setting& row = SettingRow(SettingKey::ShortURLType);
    // -1 selects nothing in the list; the engine then asks the primary host, as for any index but 0.
    return NumberOf(row, stored).value_or(*row.fallback);
}

bool FollowsChainOf(const QString& stored)
{
    // Only a checked box follows; grayed (2) or unusable values keep the single hop.
    return NumberOf(SettingRow(SettingKey::FollowRedirects), stored).value_or(0) == 1;
}

bool StripsTrackersOf(const QString& stored)
{
    // Only an unticked box keeps the trackers; unusable values take the default, on.
    return NumberOf(SettingRow(SettingKey::StripTrackers), stored).value_or(1) != 0;
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
