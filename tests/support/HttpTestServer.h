#pragma once

#include "HttpTestDelivery.h"
#include "HttpTestRequest.h"
#include "HttpTestResponse.h"

#include <QHash>
#include <QObject>
#include <QUrl>

#include <functional>
#include <optional>

class QTcpServer;
class QTcpSocket;

namespace linvera::test {

/// A small HTTP server on 127.0.0.1 with a port the system chooses. It runs on the event loop of
/// the thread that made it, reads one request per connection (head and a Content-Length body),
/// records it and answers it, then closes the connection. Answers come, in this order, from a
/// route for the request's path, the handler, or respond() (404 unless a subclass says otherwise).
class HttpTestServer : public QObject
{
    Q_OBJECT

public:
    using Handler = std::function<HttpTestResponse(const HttpTestRequest&)>;

    explicit HttpTestServer(QObject* parent = nullptr);
    ~HttpTestServer() override;

    bool isListening() const;
    quint16 port() const;
    /// "127.0.0.1:<port>"
    QString hostAndPort() const;
    /// "http://127.0.0.1:<port>" followed by the given path (and query), which must start with "/".
    QUrl url(const QString& pathAndQuery = QStringLiteral("/")) const;

    void setHandler(Handler handler);
    /// Fixed answer for a path (compared with the request's encoded path, query excluded).
    void setRoute(const QByteArray& path, const HttpTestResponse& response);
    void removeRoute(const QByteArray& path);
    /// Delivers every answer from now on this way, whatever the answer itself says.
    void setDelivery(const HttpTestDelivery& delivery);
    void clearDelivery();

    /// Complete requests in the order they arrived.
    QList<HttpTestRequest> requests() const { return m_requests; }
    qsizetype requestCount() const { return m_requests.size(); }
    /// The latest request; a default-constructed one when there is none.
    HttpTestRequest lastRequest() const;
    void clearRequests() { m_requests.clear(); }
    /// Connections accepted since the start, and those still open.
    int connectionCount() const { return m_connectionSerial; }
    qsizetype openConnectionCount() const { return m_connections.size(); }
    /// Runs the event loop until at least count requests are recorded or the time is up.
    bool waitForRequests(qsizetype count, int timeoutMs = 5000);
    bool waitForConnections(int count, int timeoutMs = 5000);

    /// A loopback port on which nothing listens (it was free a moment ago).
    static quint16 closedPort();

Q_SIGNALS:
    /// A request is complete; index into requests(). Emitted before it is answered.
    void requestReceived(qsizetype index);

protected:
    /// The answer when neither a route nor the handler applies.
    virtual HttpTestResponse respond(const HttpTestRequest& request);

private:
    struct Connection
    {
        QByteArray buffer;
        int serial = 0;
        bool requestDone = false;
    };

    void acceptConnections();
    void readFrom(QTcpSocket* socket);
    void forget(QTcpSocket* socket);
    HttpTestResponse answerFor(const HttpTestRequest& request);
    void deliver(QTcpSocket* socket, const HttpTestResponse& response);
    void writePieces(QTcpSocket* socket, QList<QByteArray> pieces, int delayMs);
    static void resetConnection(QTcpSocket* socket);
    static std::optional<HttpTestRequest> parseRequest(const QByteArray& buffer);

    QTcpServer* m_server = nullptr;
    QHash<QTcpSocket*, Connection> m_connections;
    int m_connectionSerial = 0;
    QList<HttpTestRequest> m_requests;
    QHash<QByteArray, HttpTestResponse> m_routes;
    Handler m_handler;
    std::optional<HttpTestDelivery> m_delivery;
};

} // namespace linvera::test
