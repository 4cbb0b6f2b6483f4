#pragma once

#include <QString>

namespace linvera {

/// Where a connection goes: straight to the link's host, or to the proxy of the user's Internet
/// settings.
struct ProbeRoute
{
    bool viaProxy = false;
    QString connectHost;
    quint16 connectPort = 80;
};

/// The proxy of the user's Internet settings ("ProxyEnable"/"ProxyServer"), as the application read it.
struct ProxySetting
{
    bool enabled = false;
    /// "host:port"; anything else makes a proxied connection fail with a message.
    QString server;
};

/// The route for a host: the host itself, or the proxy's host and port when one is enabled. A proxy
/// without a usable port gives an empty route (port 0).
ProbeRoute RouteFor(const ProxySetting& proxy, const QString& host, quint16 port);

} // namespace linvera
