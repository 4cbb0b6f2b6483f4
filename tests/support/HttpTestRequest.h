#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QString>
#include <QUrl>

#include <utility>

namespace linvera::test {

/// One request as a test server received it: the exact bytes and their parsed parts.
struct HttpTestRequest
{
    QByteArray raw;     ///< every byte of the request as received (head and body)
    QByteArray method;  ///< e.g. "GET"
    QByteArray target;  ///< request target as sent: "/abc?x=1" or "http://h/abc" (absolute form)
    QByteArray version; ///< e.g. "HTTP/1.0"
    QList<std::pair<QByteArray, QByteArray>> headers; ///< in order, names as sent, values trimmed
    QByteArray body;
    QHostAddress peerAddress;
    quint16 peerPort = 0;
    int connection = 0; ///< serial number of the connection it came on, from 1

    /// Value of the first header with this name (case-insensitive); empty when absent.
    QByteArray header(const QByteArray& name) const;
    bool hasHeader(const QByteArray& name) const;
    /// Number of header lines with this name (case-insensitive).
    int headerCount(const QByteArray& name) const;
    QByteArray host() const { return header("Host"); }

    /// True when the target is an absolute URL ("http://…"), as proxies receive it.
    bool isAbsoluteForm() const;
    /// Path part of the target, still percent-encoded, without the query;
    /// for the absolute form the path of that URL ("/" when it has none).
    QByteArray path() const;
    /// Query part of the target without "?", still encoded; empty when there is none.
    QByteArray query() const;
    /// Query items decoded form-style: "+" is a space, then percent-decoding, then UTF-8.
    QList<std::pair<QString, QString>> queryItems() const;
    /// Decoded value of the first query item with this key (case-sensitive); null when absent.
    QString queryValue(const QString& key) const;
    bool hasQueryItem(const QString& key) const;
    /// The full URL the client asked for (from Host and target, or the absolute target).
    QUrl url() const;

    /// Form-style decoding of one query component ("+" is a space; invalid UTF-8 becomes U+FFFD).
    static QString decodeFormComponent(const QByteArray& encoded);
};

} // namespace linvera::test
