#include "HttpTestServer.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <sys/socket.h>

namespace linvera::test {

HttpTestServer::HttpTestServer(QObject* parent)
    : QObject(parent)
    , m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, &HttpTestServer::acceptConnections);
    if (!m_server->listen(QHostAddress::LocalHost, 0))
        qWarning("HttpTestServer: cannot listen: %s", qPrintable(m_server->errorString()));
}

HttpTestServer::~HttpTestServer() = default;

bool HttpTestServer::isListening() const
{
    return m_server->isListening();
}

quint16 HttpTestServer::port() const
{
    return m_server->serverPort();
}

QString HttpTestServer::hostAndPort() const
{
    return QStringLiteral("127.0.0.1:") + QString::number(port());
}

QUrl HttpTestServer::url(const QString& pathAndQuery) const
{
    return QUrl(QStringLiteral("http://") + hostAndPort() + pathAndQuery);
}

void HttpTestServer::setHandler(Handler handler)
{
    m_handler = std::move(handler);
}

void HttpTestServer::setRoute(const QByteArray& path, const HttpTestResponse& response)
{
    m_routes.insert(path, response);
}

void HttpTestServer::removeRoute(const QByteArray& path)
{
    m_routes.remove(path);
}

void HttpTestServer::setDelivery(const HttpTestDelivery& delivery)
{
    m_delivery = delivery;
}

void HttpTestServer::clearDelivery()
{
    m_delivery.reset();
}

HttpTestRequest HttpTestServer::lastRequest() const
{
    return m_requests.isEmpty() ? HttpTestRequest() : m_requests.constLast();
}

bool HttpTestServer::waitForRequests(qsizetype count, int timeoutMs)
{
    return QTest::qWaitFor([&] { return m_requests.size() >= count; }, timeoutMs);
}

bool HttpTestServer::waitForConnections(int count, int timeoutMs)
{
    return QTest::qWaitFor([&] { return m_connectionSerial >= count; }, timeoutMs);
}

quint16 HttpTestServer::closedPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

HttpTestResponse HttpTestServer::respond(const HttpTestRequest& request)
{
    Q_UNUSED(request);
    return HttpTestResponse::notFound();
}

void HttpTestServer::acceptConnections()
{
    while (QTcpSocket* socket = m_server->nextPendingConnection()) {
        // Without Nagle every split write leaves as its own segment.
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        Connection connection;
        connection.serial = ++m_connectionSerial;
        m_connections.insert(socket, connection);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readFrom(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] { forget(socket); });
        if (socket->bytesAvailable() > 0)
            readFrom(socket);
    }
}

void HttpTestServer::forget(QTcpSocket* socket)
{
    m_connections.remove(socket);
    socket->deleteLater();
}

void HttpTestServer::readFrom(QTcpSocket* socket)
{
    auto it = m_connections.find(socket);
    if (it == m_connections.end())
        return;
    const QByteArray data = socket->readAll();
    if (it->requestDone)
        return; // one request per connection; anything after it is not looked at
    it->buffer += data;
    std::optional<HttpTestRequest> request = parseRequest(it->buffer);
    if (!request)
        return;
    it->requestDone = true;
    it->buffer.clear();
    request->peerAddress = socket->peerAddress();
    request->peerPort = socket->peerPort();
    request->connection = it->serial;
    m_requests.append(*request);
    Q_EMIT requestReceived(m_requests.size() - 1);
    deliver(socket, answerFor(m_requests.constLast()));
}

std::optional<HttpTestRequest> HttpTestServer::parseRequest(const QByteArray& buffer)
{
    const qsizetype headEnd = buffer.indexOf("\r\n\r\n");
    if (headEnd < 0)
        return std::nullopt;
    HttpTestRequest request;
    const QList<QByteArray> lines = buffer.left(headEnd).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    request.method = requestLine.value(0);
    request.target = requestLine.value(1);
    request.version = requestLine.value(2);
    qsizetype contentLength = 0;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        QByteArray line = lines.at(i);
        if (line.endsWith('\r'))
            line.chop(1);
        const qsizetype colon = line.indexOf(':');
        const QByteArray name = colon < 0 ? line : line.left(colon);
        const QByteArray value = colon < 0 ? QByteArray() : line.mid(colon + 1).trimmed();
        request.headers.append({name, value});
        if (name.compare("Content-Length", Qt::CaseInsensitive) == 0)
            contentLength = qMax<qsizetype>(0, value.toLongLong());
    }
    const qsizetype total = headEnd + 4 + contentLength;
    if (buffer.size() < total)
        return std::nullopt;
    request.raw = buffer.left(total);
    request.body = buffer.mid(headEnd + 4, contentLength);
    return request;
}

HttpTestResponse HttpTestServer::answerFor(const HttpTestRequest& request)
{
    const auto route = m_routes.constFind(request.path());
    if (route != m_routes.constEnd())
        return *route;
    if (m_handler)
        return m_handler(request);
    return respond(request);
}

void HttpTestServer::deliver(QTcpSocket* socket, const HttpTestResponse& response)
{
    const HttpTestDelivery delivery = m_delivery.value_or(response.delivery);
    const QByteArray bytes = response.toBytes();
    switch (delivery.mode) {
    case HttpTestDelivery::Mode::Whole:
        writePieces(socket, {bytes}, 0);
        break;
    case HttpTestDelivery::Mode::Split:
        writePieces(socket, delivery.pieces(bytes), delivery.delayMs);
        break;
    case HttpTestDelivery::Mode::Silent:
        break;
    case HttpTestDelivery::Mode::Reset:
        forget(socket);
        resetConnection(socket);
        break;
    case HttpTestDelivery::Mode::CloseWithoutAnswer:
        socket->disconnectFromHost();
        break;
    case HttpTestDelivery::Mode::Truncated: {
        const qsizetype head = response.headSize();
        const qsizetype bodySize = bytes.size() - head;
        const qsizetype sent =
            delivery.bodyBytesSent < 0 ? bodySize / 2 : qMin(delivery.bodyBytesSent, bodySize);
        writePieces(socket, {bytes.left(head + sent)}, 0);
        break;
    }
    }
}

void HttpTestServer::writePieces(QTcpSocket* socket, QList<QByteArray> pieces, int delayMs)
{
    if (pieces.isEmpty() || socket->state() != QAbstractSocket::ConnectedState) {
        socket->disconnectFromHost();
        return;
    }
    socket->write(pieces.takeFirst());
    socket->flush();
    if (pieces.isEmpty()) {
        socket->disconnectFromHost(); // waits for the written bytes to leave
        return;
    }
    QTimer::singleShot(delayMs, socket,
                       [this, socket, pieces, delayMs] { writePieces(socket, pieces, delayMs); });
}

void HttpTestServer::resetConnection(QTcpSocket* socket)
{
    // A zero linger time makes the close send RST instead of FIN.
    const linger noLinger{1, 0};
    ::setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &noLinger, sizeof noLinger);
    socket->abort();
}

} // namespace linvera::test
