#pragma once

#include "HttpTestResponse.h"

namespace linvera::test {

/// A hand-written HTTP/1.0 answer as a short-link host sends it:
/// "HTTP/1.0 301 Moved Permanently", "Location: <target>", "Content-Type: text/html", any extra
/// lines, the blank line and the body; no Content-Length, the end of the body is the close.
struct RedirectAnswer
{
    QByteArray version = QByteArrayLiteral("HTTP/1.0");
    int status = 301;
    QByteArray reason = QByteArrayLiteral("Moved Permanently");
    bool withLocation = true;
    /// Header name as written; "location" makes the lower-case negative case.
    QByteArray locationName = QByteArrayLiteral("Location");
    QByteArray target;
    /// Left out when empty.
    QByteArray contentType = QByteArrayLiteral("text/html");
    QList<QByteArray> extraHeaderLines;
    QByteArray body;
    HttpTestDelivery delivery;

    HttpTestResponse toResponse() const;
    /// The exact bytes of the answer.
    QByteArray toBytes() const { return toResponse().toBytes(); }

    /// A redirect to target with the usual reason text for the status (301, 302, 303, 307).
    static RedirectAnswer movedTo(const QByteArray& target, int status = 301);
    /// A 200 page without a Location line.
    static RedirectAnswer page(const QByteArray& body);
    /// A 404 without a Location line.
    static RedirectAnswer notFound();
};

} // namespace linvera::test
