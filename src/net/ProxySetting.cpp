#include "net/ProxySetting.h"

namespace linvera {

ProbeRoute RouteFor(const ProxySetting& proxy, const QString& host, quint16 port)
{
    ProbeRoute route;
    route.viaProxy = proxy.enabled;
    if (!route.viaProxy) {
        route.connectHost = host;
        route.connectPort = port;
        return route;
    }
    // Cut at the first colon, as the setting has always been read; a per-protocol list has no port
    // there and is refused.
    const qsizetype colon = proxy.server.indexOf(u':');
    if (colon >= 0) {
        route.connectHost = proxy.server.left(colon);
        bool ok = false;
        const uint proxyPort = proxy.server.mid(colon + 1).toUInt(&ok);
        route.connectPort = ok && proxyPort <= 65535 ? quint16(proxyPort) : 0;
    } else {
        route.connectHost.clear();
        route.connectPort = 0;
    }
    return route;
}

} // namespace linvera
