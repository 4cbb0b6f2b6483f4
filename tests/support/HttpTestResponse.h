#pragma once

#include "HttpTestDelivery.h"

#include <QByteArray>
#include <QList>

#include <optional>

namespace linvera::test {

/// An answer of a test server: status line, header lines, body and how it is delivered.
struct HttpTestResponse
{
    QByteArray version = QByteArrayLiteral("HTTP/1.1");
    int status = 200;
    QByteArray reason = QByteArrayLiteral("OK");
    /// Header lines written verbatim in this order, each followed by CR LF ("Name: value").
    QList<QByteArray> headerLines;
    QByteArray body;
    /// Adds "Content-Length: <body size>" unless a Content-Length line is present.
    bool autoContentLength = true;
    /// Adds "Connection: close" unless a Connection line is present.
    bool autoConnectionClose = true;
    /// When set, these bytes are the whole answer; the fields above are not used.
    std::optional<QByteArray> rawAnswer;
    HttpTestDelivery delivery;

    HttpTestResponse& addHeader(const QByteArray& name, const QByteArray& value);
    /// True when a header line with this name (case-insensitive) is present.
    bool hasHeader(const QByteArray& name) const;
    /// The exact bytes this answer puts on the wire (before any delivery mode cuts it).
    QByteArray toBytes() const;
    /// Size of the head (status line, header lines and the blank line) within toBytes().
    qsizetype headSize() const;

    static HttpTestResponse ok(const QByteArray& body, const QByteArray& contentType = "text/plain");
    static HttpTestResponse notFound();
    static HttpTestResponse withStatus(int status, const QByteArray& reason, const QByteArray& body = {});
    static HttpTestResponse raw(const QByteArray& bytes);
};

} // namespace linvera::test
