#pragma once

#include <QString>

namespace linvera {

/// Removes leading and trailing spaces only; tabs and line breaks stay.
QString TrimSpaces(const QString& text);

/// A URL cut into its parts by `SplitUrl`.
struct UrlParts
{
    QString scheme;
    /// Keeps a ":port" when no "/" follows the host.
    QString host;
    /// 0 when none is given or it is not numeric.
    qint32 port = 0;
    /// From the first "/" after the host up to "?"; "/" when the URL has none.
    QString path;
    QString query;

    bool operator==(const UrlParts&) const = default;
};

UrlParts SplitUrl(const QString& url);

/// Whether `reference` starts with a scheme (RFC 3986: a letter, then letters, digits, "+", "-" or
/// ".", then ":"). One without is a relative reference, whatever "://" comes later in it.
bool HasUrlScheme(QStringView reference);

/// An http or https address with a host, of printable characters only: what may stand as a short
/// URL or a link's destination.
bool IsWebAddress(const QString& url);

/// The text between the first `startMarker` and the next `endMarker` after it; empty when either is missing.
QString TextBetween(const QString& text, const QString& startMarker, const QString& endMarker);

} // namespace linvera
