#pragma once

#include <QByteArray>
#include <QString>

#include <chrono>

class QNetworkAccessManager;
class QNetworkReply;

namespace linvera {

/// Agent text every fetch announces.
QString HttpAgentText();

/// The network access of the process: one manager, used from the UI thread.
QNetworkAccessManager& sharedNetworkAccess();

/// Bounds of every blocking fetch. The idle time-out ends a transfer that stops delivering bytes.
struct HttpTimeouts
{
    std::chrono::milliseconds idle{20000};
    std::chrono::milliseconds total{120000};
};
HttpTimeouts httpTimeouts();
void setHttpTimeouts(HttpTimeouts timeouts);

/// True when the reply delivered fewer body bytes than its Content-Length announced.
bool IsCutShort(const QNetworkReply& reply, qint64 received);

/// Blocking GET that keeps the window's events running while it waits. Fills `body` with the whole
/// answer body (also for an HTTP error page, as a browser would show it) and returns its length;
/// 0 and an empty body on any transport failure or time-out. `headers` are extra "Name: value" lines
/// separated by CR LF; `proxy` ("host:port") replaces the system proxy when not empty.
qint64 HttpGetBytes(const QString& url, QByteArray& body, const QString& headers = {},
                    const QString& proxy = {});

} // namespace linvera
