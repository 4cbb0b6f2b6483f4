#pragma once

#include "net/ProxySetting.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <chrono>
#include <utility>

namespace linvera {

/// One header line as it goes out or came in: name and value, without the colon or line end.
using HttpHeader = std::pair<QByteArray, QByteArray>;
using HttpHeaders = QList<HttpHeader>;

/// The first value of header `name` (any letter case), or a null array.
QByteArray HeaderValue(const HttpHeaders& headers, QByteArrayView name);
/// Replaces the value of `name` (any letter case) or appends the header.
void SetHeader(HttpHeaders& headers, const QByteArray& name, const QByteArray& value);

/// What one exchange may take: bytes of the answer's head and body, and how long each wait lasts.
/// A zero time-out is no bound of its own (another one must end the wait).
struct HttpLimits
{
    qint64 bodyCap = 32 * 1024 * 1024;
    qint64 headCap = 64 * 1024;
    /// From the start until the connection can carry the request (TLS and tunnel included).
    std::chrono::milliseconds connect{20000};
    /// Restarts with every byte that arrives or leaves.
    std::chrono::milliseconds idle{20000};
    /// From the start until the whole answer is in.
    std::chrono::milliseconds total{120000};
};

/// One request. `target` is the origin form ("/path?query") in the bytes the caller assembled;
/// `origin` is "scheme://authority" as written, used for the absolute form through a proxy, unless
/// `absoluteTarget` holds the whole URL as assembled (a URL without a path keeps none there).
struct HttpRequest
{
    QByteArray method = "GET";
    QByteArray origin;
    QByteArray target = "/";
    QByteArray absoluteTarget;
    QByteArray version = "HTTP/1.1";
    HttpHeaders headers;
    QByteArray body;
    HttpLimits limits;
};

/// What became of one exchange.
struct HttpResult
{
    enum class Outcome {
        Answered, ///< a whole answer arrived (any status)
        Refused,  ///< the request was not sent: it could not go out as written
        Failed,   ///< transport failure, time-out, a malformed answer, a body cut short or over its cap
    };
    Outcome outcome = Outcome::Failed;
    int status = 0;
    HttpHeaders headers;
    QByteArray body;
    QString errorText;
    /// Where the connection went: the host or the proxy.
    ProbeRoute route;
};

} // namespace linvera
