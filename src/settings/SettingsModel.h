#pragma once

#include "conv/Endpoints.h"
#include "conv/RedirectProbe.h"
#include "conv/ShorteningServices.h"
#include "settings/SettingsTable.h"

#include <QObject>
#include <QRectF>
#include <QString>

#include <array>
#include <memory>
#include <optional>

class QFileSystemWatcher;
class QTimer;

namespace linvera {

/// The settings a running part reads, as plain typed values: taken from the model whenever it is
/// needed, so no reader touches the store or a widget.
struct SettingsSnapshot
{
    /// 0 unchecked, 1 checked, 2 grayed.
    int clipboard = 1;
    /// 0 PNG, 1 JPEG, -1 none chosen.
    int imageType = 0;
    /// A `ShortUrlType`, or -1 for none chosen.
    int shortUrlType = ShortUrlIsgd;
    /// The header probe follows the redirect chain to its end (only a checked box does).
    bool followRedirects = false;
    /// Tracking parameters come off the after URL ("追跡用パラメータを取り除く").
    bool stripTrackers = true;
    int menuExt = 1;
    int toolbarIcon = 1;
    QString twitterLogin;
    QString twitterPass;
    int twitterChkLogin = 1;
    int twitterChkPass = 1;
    ShortenerAccounts accounts;
    ProxySetting proxy;
    Endpoints endpoints;

    bool capturesPng() const { return imageType == 0; }
};

/// The program's settings: read from the store at start, edited by the settings dialog, written back
/// at shutdown. Each value is kept as its stored text and read through its table row, so the model
/// and the store can never mean different things.
///
/// The proxy belongs to the user's Internet settings, which other programs change while this one
/// runs: `watchStore` follows the store file and reports a new proxy through `proxyChanged`.
class SettingsModel : public QObject
{
    Q_OBJECT

public:
    explicit SettingsModel(QObject* parent = nullptr);
    ~SettingsModel() override;

    /// Reads every setting of the table from the store, then raises `loaded` (no `changed`).
    void load();
    /// Reads the hosts and the proxy from the store, then raises `loaded`.
    void loadHostsAndProxy();
    /// Writes the settings in the shutdown order, with the login rule: a login or password that is
    /// not to be kept (or is empty) is stored as one space.
    void save() const;

    /// A Number setting as start-up applies it: the default when blank, nothing when unusable.
    std::optional<qint32> number(SettingKey key) const;
    /// A Text setting: blank reads as empty.
    QString text(SettingKey key) const;
    /// Whether the stored text is blank (after `StripBlanks`).
    bool isBlank(SettingKey key) const;
    /// The stored text as it is.
    QString stored(SettingKey key) const { return m_stored[std::size_t(key)]; }

    /// Setters raise `changed` when the stored text changes.
    void setNumber(SettingKey key, qint32 value);
    void setText(SettingKey key, const QString& value);
    void setAccounts(const ShortenerAccounts& accounts);
    /// The main window's outer edges, in twips, as shutdown stores them.
    void setWindowEdges(const QRectF& outerTwips);

    SettingsSnapshot snapshot() const { return m_snapshot; }
    ProxySetting proxy() const { return m_snapshot.proxy; }
    Endpoints endpoints() const { return m_snapshot.endpoints; }

    /// Reads the proxy again; `proxyChanged` when it differs.
    void reloadProxy();
    /// Follows the process-wide store file: a write by any program reads the proxy again (after a
    /// short pause, so a burst of writes reads it once).
    void watchStore();

Q_SIGNALS:
    void changed(linvera::SettingKey key);
    void proxyChanged(const linvera::ProxySetting& proxy);
    /// The store was read again: every value may be new.
    void loaded();

private:
    void store(SettingKey key, const QString& value);
    void refreshSnapshot();
    void watchStoreFiles();

    std::array<QString, SettingKeyCount> m_stored;
    SettingsSnapshot m_snapshot;
    QFileSystemWatcher* m_watcher = nullptr;
    QTimer* m_reloadTimer = nullptr;
};

/// A snapshot of the settings as the store holds them now (for a front end without a dialog).
SettingsSnapshot StoredSettings();

} // namespace linvera
