#pragma once

#include <QString>

namespace linvera::verdict {

/// A host name in the two forms a reader meets: as the address bar shows it and as DNS sees it.
struct HostForms
{
    /// Lower case, Unicode labels (`bücher.example`).
    QString unicode;
    /// Lower case, `xn--` labels (`xn--bcher-kva.example`).
    QString ascii;
    /// False when the name breaks the IDNA rules (the two forms are then the lower-cased text).
    bool valid = false;
    bool isIdn() const { return valid && unicode != ascii; }
};

/// Both forms of a host through UTS #46 processing (non-transitional, as browsers do). A trailing dot is
/// dropped: `example.com.` is the same site.
HostForms HostInBothForms(const QString& host);

/// An IP address written as the host: IPv6 (with or without brackets), or IPv4 in any form a browser
/// reads as one (`127.0.0.1`, `127.1`, `0x7f.1`, `2130706433`).
bool IsIpLiteral(const QString& host);
/// A host whose last label is a number: the URL standard takes it for an IPv4 address, and a browser
/// refuses it when the rest is not one (`www.example.123`).
bool EndsInNumber(const QString& host);

} // namespace linvera::verdict
