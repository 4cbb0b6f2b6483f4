#include "settings/SettingsModel.h"

#include "mailbox/CommandLine.h"
#include "platform/RegistryStore.h"

#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace linvera {
namespace {

using enum SettingKey;

// Shutdown writes in this order; "_Dummy" first, as the stored key has always begun with it.
constexpr std::array kSaveOrder{FormX,           FormY,          FormW,           FormH,        Clipboard,
                                ImageType,       ShortURLType,   FollowRedirects, MenuExt,      ToolbarIcon,
                                TwitterChkLogin, TwitterChkPass, TwitterLogin,    TwitterPass,  YourlsUrl,
                                YourlsSignature, ShlinkUrl,      ShlinkApiKey,    StripTrackers};
static_assert(kSaveOrder.size() == std::size_t(SettingKeyCount));

// A burst of writes (one save is some twenty) reads the proxy once.
constexpr int kReloadPauseMs = 50;

bool operator==(const ProxySetting& a, const ProxySetting& b)
{
    return a.enabled == b.enabled && a.server == b.server;
}

} // namespace

SettingsModel::SettingsModel(QObject* parent)
    : QObject(parent)
{
    refreshSnapshot();
}

SettingsModel::~SettingsModel() = default;

void SettingsModel::load()
{
    for (const Setting& row : SettingsTable())
        m_stored[std::size_t(row.key)] = ReadSetting(row.key);
    refreshSnapshot();
    Q_EMIT loaded();
}

void SettingsModel::loadHostsAndProxy()
{
    m_snapshot.proxy = ReadProxySetting();
    m_snapshot.endpoints = ReadEndpoints();
    Q_EMIT loaded();
}

void SettingsModel::save() const
{
    // The login rule: only a kept, non-empty text is stored; one space stands for nothing.
    const auto loginValue = [this](SettingKey save, SettingKey field) {
        const QString& value = m_stored[std::size_t(field)];
        return number(save) == 1 && !value.isEmpty() ? value : u" "_s;
    };
    WriteSetting(u"_Dummy"_s, u" "_s);
    for (const SettingKey key : kSaveOrder) {
        if (key == TwitterLogin)
            WriteSetting(key, loginValue(TwitterChkLogin, TwitterLogin));
        else if (key == TwitterPass)
            WriteSetting(key, loginValue(TwitterChkPass, TwitterPass));
        else
            WriteSetting(key, m_stored[std::size_t(key)]);
    }
}

std::optional<qint32> SettingsModel::number(SettingKey key) const
{
    return NumberOf(SettingRow(key), m_stored[std::size_t(key)]);
}

QString SettingsModel::text(SettingKey key) const
{
    return TextOf(m_stored[std::size_t(key)]);
}

bool SettingsModel::isBlank(SettingKey key) const
{
    return StripBlanks(m_stored[std::size_t(key)]).isEmpty();
}

void SettingsModel::setNumber(SettingKey key, qint32 value)
{
    store(key, QString::number(value));
}

void SettingsModel::setText(SettingKey key, const QString& value)
{
    store(key, value);
}

void SettingsModel::setAccounts(const ShortenerAccounts& accounts)
{
    store(YourlsUrl, accounts.yourlsUrl);
    store(YourlsSignature, accounts.yourlsSignature);
    store(ShlinkUrl, accounts.shlinkUrl);
    store(ShlinkApiKey, accounts.shlinkApiKey);
}

void SettingsModel::setWindowEdges(const QRectF& outerTwips)
{
    store(FormX, QString::number(outerTwips.left()));
    store(FormY, QString::number(outerTwips.top()));
    store(FormW, QString::number(outerTwips.width()));
    store(FormH, QString::number(outerTwips.height()));
}

void SettingsModel::store(SettingKey key, const QString& value)
{
    QString& slot = m_stored[std::size_t(key)];
    if (slot == value)
        return;
    slot = value;
    refreshSnapshot();
    Q_EMIT changed(key);
}

void SettingsModel::refreshSnapshot()
{
    const auto check = [this](SettingKey key) { return number(key).value_or(*SettingRow(key).fallback); };
    const auto trimmed = [this](SettingKey key) { return text(key).trimmed(); };
    m_snapshot.clipboard = check(Clipboard);
    m_snapshot.imageType = check(ImageType);
    m_snapshot.shortUrlType = ShortUrlTypeOf(stored(ShortURLType));
    m_snapshot.followRedirects = FollowsChainOf(stored(FollowRedirects));
    m_snapshot.stripTrackers = StripsTrackersOf(stored(StripTrackers));
    m_snapshot.menuExt = check(MenuExt);
    m_snapshot.toolbarIcon = check(ToolbarIcon);
    m_snapshot.twitterLogin = text(TwitterLogin);
    m_snapshot.twitterPass = text(TwitterPass);
    m_snapshot.twitterChkLogin = check(TwitterChkLogin);
    m_snapshot.twitterChkPass = check(TwitterChkPass);
    m_snapshot.accounts = {trimmed(YourlsUrl), trimmed(YourlsSignature), trimmed(ShlinkUrl),
                           trimmed(ShlinkApiKey)};
}

void SettingsModel::reloadProxy()
{
    const ProxySetting proxy = ReadProxySetting();
    if (proxy == m_snapshot.proxy)
        return;
    m_snapshot.proxy = proxy;
    Q_EMIT proxyChanged(proxy);
}

void SettingsModel::watchStore()
{
    if (m_watcher)
        return;
    m_watcher = new QFileSystemWatcher(this);
    m_reloadTimer = new QTimer(this);
    m_reloadTimer->setSingleShot(true);
    m_reloadTimer->setInterval(kReloadPauseMs);
    connect(m_reloadTimer, &QTimer::timeout, this, &SettingsModel::reloadProxy);
    const auto touched = [this] {
        // The write-ahead log comes and goes: follow whatever exists now.
        watchStoreFiles();
        m_reloadTimer->start();
    };
    connect(m_watcher, &QFileSystemWatcher::fileChanged, this, touched);
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, this, touched);
    watchStoreFiles();
}

void SettingsModel::watchStoreFiles()
{
    const QString file = platform::RegistryStore::shared().filePath();
    QStringList wanted{QFileInfo(file).absolutePath()};
    for (const QString& name : {file, QString(file + u"-wal"_s)}) {
        if (QFileInfo::exists(name))
            wanted.append(name);
    }
    const QStringList watched = m_watcher->files() + m_watcher->directories();
    for (const QString& path : wanted) {
        if (!watched.contains(path))
            m_watcher->addPath(path);
    }
}

SettingsSnapshot StoredSettings()
{
    SettingsModel model;
    model.load();
    model.loadHostsAndProxy();
    return model.snapshot();
}

} // namespace linvera
