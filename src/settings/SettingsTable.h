#pragma once

#include "conv/Endpoints.h"
#include "conv/ShorteningServices.h"
#include "net/ProxySetting.h"

#include <QString>
#include <QStringView>

#include <optional>
#include <span>

namespace linvera {

/// The settings key under HKEY_LOCAL_MACHINE.
QString SettingsKey();

/// The stored settings, by the names they carry in the store, in the order start-up applies them.
/// Code names a setting by its key, so a misspelt name cannot reach a missing row.
enum class SettingKey : int {
    Clipboard,
    FormX,
    FormY,
    FormW,
    FormH,
    ImageType,
    ShortURLType,
    FollowRedirects,
    MenuExt,
    ToolbarIcon,
    TwitterLogin,
    TwitterPass,
    TwitterChkLogin,
    TwitterChkPass,
    YourlsUrl,
    YourlsSignature,
    ShlinkUrl,
    ShlinkApiKey,
    StripTrackers,
};
inline constexpr int SettingKeyCount = int(SettingKey::StripTrackers) + 1;

/// How a stored setting is read.
enum class SettingType {
    /// A number: decimals round half to even; blank takes the default; outside [minimum, maximum]
    /// or not numeric is unusable and the control keeps what it has.
    Number,
    /// A text: blank (after `StripBlanks`) reads as empty.
    Text,
};

/// One row of the settings table. Every front end reads settings through these rows, so a stored
/// value means the same thing to the window and to `linvera`.
struct Setting
{
    SettingKey key;
    QStringView name;
    SettingType type;
    /// The value a blank Number takes; none for settings without a default (the window's edges).
    std::optional<qint32> fallback;
    qint32 minimum;
    qint32 maximum;
};

/// The settings in the order start-up applies them.
std::span<const Setting> SettingsTable();
/// The row of a setting; null for a name that is not in the table.
const Setting* FindSetting(QStringView name);
/// The row of a key; every key has one.
const Setting& SettingRow(SettingKey key);
/// The store's name of a key.
QString SettingName(SettingKey key);

/// A stored Number through its row: the default when blank, nothing when unusable.
std::optional<qint32> NumberOf(const Setting& setting, const QString& stored);
/// A stored Text through its row: blank reads as empty.
QString TextOf(const QString& stored);

/// A stored value as a number: blank (after `StripBlanks`) or not numeric gives nothing. Decimals
/// round half to even, as the runtime's text-to-integer conversion does.
std::optional<qint32> StoredNumber(const QString& stored);

/// Reads a setting as the raw stored text; a missing key or value reads as empty text.
QString ReadSetting(const QString& name);
QString ReadSetting(SettingKey key);
/// Writes a setting as text.
void WriteSetting(const QString& name, const QString& value);
void WriteSetting(SettingKey key, const QString& value);

/// A Number setting through its row: the default when blank, nothing when unusable.
std::optional<qint32> ReadNumberSetting(const Setting& setting);
/// A Text setting through its row.
QString ReadTextSetting(const Setting& setting);

/// The short-link form as the settings dialog would show it after start-up: the stored index when
/// usable, else is.gd.
int StoredShortUrlType();
/// Whether the header probe follows the redirect chain to its end ("FollowRedirects" checked).
bool StoredFollowRedirects();
/// Whether tracking parameters come off the after URL: a "StripTrackers" box that is not unticked.
bool StripsTrackersOf(const QString& stored);
/// The short-link form and the chain rule from a stored text, as the two reads above give them.
int ShortUrlTypeOf(const QString& stored);
bool FollowsChainOf(const QString& stored);
/// The self-hosted shortening services' base URLs and secrets.
ShortenerAccounts ReadShortenerAccounts();

/// The service hosts: the defaults with the store's overrides applied.
Endpoints ReadEndpoints();

/// The proxy of the current user's Internet settings.
ProxySetting ReadProxySetting();

} // namespace linvera
