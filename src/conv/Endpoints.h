#pragma once

#include <QString>

#include <array>

namespace linvera {

/// The hosts of every outside service. Where a public service of the kind with the same URL form
/// exists today it is the default (the store, is.gd, v.gd); the others are placeholders under the
/// reserved ".example" domain. Each can be overridden in the registry store under
/// HKEY_LOCAL_MACHINE\SOFTWARE\HALVEX\linvera\endpoints (a REG_SZ host, optionally with ":port").
class Endpoints
{
public:
    enum Name {
        ShortenerApiHost,
        ShortenerAltApiHost,
        ShortenerDomain,
        ShortenerAltDomain,
        StoreHost,
        StoreHostPrefix,
        LiveHost,
        LiveShortDomain,
        MicroblogHost,
        PictureHost,
        MakerSiteHost,
        MakerNoticeHost,
        MakerLiveHost,
        /// Scheme and host of the public services with no account (is.gd, v.gd).
        IsgdApiBase,
        VgdApiBase,
        Count
    };

    static constexpr const char* kRegistryKey = "SOFTWARE\\HALVEX\\linvera\\endpoints";

    /// The defaults alone.
    Endpoints();

    QString value(Name name) const { return m_values[name]; }
    void set(Name name, const QString& host) { m_values[name] = host; }

    static QString registryName(Name name);
    static QString defaultValue(Name name);

private:
    std::array<QString, Count> m_values;
};

} // namespace linvera
