#include "HostilePeer.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <sys/socket.h>

#include <cstdio>

namespace linvera::test {
namespace {

constexpr qsizetype kRequestCap = 1024 * 1024;
// Written ahead of the client at most; the rest waits until the kernel has taken it.
constexpr qint64 kWriteAhead = 256 * 1024;
constexpr qint64 kWriteStep = 64 * 1024;

// One header line of filler, 64 bytes.
const QByteArray kHeaderLine = "X-Filler: " + QByteArray(52, 'h') + "\r\n";
const QByteArray kBodyLine = QByteArray(63, 'b') + "\n";

QByteArray tlsServerHello()
{
    // A TLS 1.2 handshake record holding a ServerHello: what a TLS port says first.
    QByteArray hello("\x02\x00\x00\x2d\x03\x03", 6);
    for (int i = 0; i < 32; ++i)
        hello += char(0xA5 ^ (i * 37));
    hello += QByteArray("\x00\xc0\x2f\x00\x00\x05\xff\x01\x00\x01\x00", 11);
    return QByteArray("\x16\x03\x03\x00\x31", 5) + hello;
}

} // namespace

HostilePeer::HostilePeer(Fault fault, QObject* parent)
    : QObject(parent)
    , m_fault(fault)
    , m_server(new QTcpServer(this))
    , m_head("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nConnection: close\r\n")
{
    connect(m_server, &QTcpServer::newConnection, this, &HostilePeer::accept);
    if (!m_server->listen(QHostAddress::LocalHost, 0))
        qWarning("HostilePeer: cannot listen: %s", qPrintable(m_server->errorString()));
}

HostilePeer::~HostilePeer()
{
    const QList<QTcpSocket*> sockets = m_connections.keys();
    for (QTcpSocket* socket : sockets) {
        socket->disconnect(this);
        socket->abort();
        delete socket;
    }
}

bool HostilePeer::isListening() const
{
    return m_server->isListening();
}

quint16 HostilePeer::port() const
{
    return m_server->serverPort();
}

QString HostilePeer::hostAndPort() const
{
    return QStringLiteral("127.0.0.1:") + QString::number(port());
}

QString HostilePeer::url(const QString& pathAndQuery) const
{
    return QStringLiteral("http://") + hostAndPort() + pathAndQuery;
}

void HostilePeer::accept()
{
    while (QTcpSocket* socket = m_server->nextPendingConnection()) {
        socket->setParent(nullptr);
        m_connections.insert(socket, std::make_shared<Connection>());
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readFrom(socket); });
        connect(socket, &QTcpSocket::bytesWritten, this, [this, socket](qint64 bytes) {
            m_bytesSent += bytes;
            pump(socket);
        });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] { forget(socket); });
        connect(socket, &QTcpSocket::errorOccurred, this, [this, socket] { forget(socket); });
        readFrom(socket);
    }
}

void HostilePeer::readFrom(QTcpSocket* socket)
{
    const auto it = m_connections.find(socket);
    if (it == m_connections.end())
        return;
    Connection& connection = **it;
    const QByteArray arrived = socket->readAll();
    if (connection.started)
        return;
    connection.request += arrived.left(kRequestCap - connection.request.size());
    if (!connection.request.contains("\r\n\r\n"))
        return;
    connection.started = true;
    ++m_requests;
    if (!m_clock.isValid())
        m_clock.start();
    begin(socket);
}

void HostilePeer::begin(QTcpSocket* socket)
{
    Connection& connection = *m_connections.value(socket);
    switch (m_fault) {
    case Fault::Drip:
        connection.pending = m_head + "\r\n" + m_body;
        connection.left = -1;
        break;
    case Fault::DripHead:
        connection.pending = m_head;
        connection.left = -1;
        break;
    case Fault::EndlessBody:
        connection.pending = m_head + "\r\n" + m_body;
        connection.left = -1;
        pump(socket);
        return;
    case Fault::EndlessHead:
        connection.pending = m_head.left(m_head.indexOf("\r\n") + 2);
        connection.left = kEndlessHeadBytes - connection.pending.size();
        pump(socket);
        return;
    case Fault::ResetInHead:
        socket->write(m_head.left(m_head.size() / 2));
        socket->flush();
        // The client must have had the bytes before the reset cuts them off.
        QTimer::singleShot(100, socket, [this, socket] {
            if (const auto c = m_connections.value(socket)) {
                c->finishing = true;
                reset(socket);
            }
        });
        return;
    case Fault::Silent:
        return;
    case Fault::TlsHello:
        socket->write(tlsServerHello());
        return;
    case Fault::Binary:
        connection.left = kBinaryBytes;
        pump(socket);
        return;
    case Fault::HugeLocation:
        connection.pending = "HTTP/1.1 301 Moved Permanently\r\nLocation: http://127.0.0.1:9/" +
                             QByteArray(kLocationBytes, 'L') +
                             "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
        connection.left = 0;
        pump(socket);
        return;
    }
    connection.drip = new QTimer(socket);
    connect(connection.drip, &QTimer::timeout, this, [this, socket] { dripOne(socket); });
    connection.drip->start(m_dripMs);
}

QByteArray HostilePeer::generate(Connection& connection, qint64 size) const
{
    // Filler is cut from a block made once; byte-wise making would be the slowest part of a test.
    static const QByteArray headerLines = kHeaderLine.repeated(kWriteStep / kHeaderLine.size() + 1);
    static const QByteArray bodyLines = kBodyLine.repeated(kWriteStep / kBodyLine.size() + 1);
    static const QByteArray binary = [] {
        QByteArray bytes(kBinaryBytes, Qt::Uninitialized);
        quint32 x = 0x9e3779b9u;
        for (char& byte : bytes) {
            // xorshift: a fixed pseudo-random stream
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            byte = char(x & 0xff);
        }
        return bytes;
    }();
    size = qMin(size, kWriteStep);
    if (connection.left >= 0)
        size = qMin(size, connection.left);
    QByteArray out;
    switch (m_fault) {
    case Fault::DripHead:
    case Fault::EndlessHead:
        out = headerLines.mid(connection.generated % kHeaderLine.size(), size);
        break;
    case Fault::Binary:
        out = binary.mid(connection.generated % kBinaryBytes, size);
        break;
    default:
        out = bodyLines.mid(connection.generated % kBodyLine.size(), size);
        break;
    }
    connection.generated += out.size();
    if (connection.left > 0)
        connection.left -= out.size();
    return out;
}

void HostilePeer::pump(QTcpSocket* socket)
{
    const auto c = m_connections.value(socket);
    if (!c || c->finishing || c->drip)
        return;
    Connection& connection = *c;
    while (socket->bytesToWrite() < kWriteAhead) {
        QByteArray piece;
        if (!connection.pending.isEmpty()) {
            piece = connection.pending.left(kWriteStep);
            connection.pending.remove(0, piece.size());
        } else if (connection.left != 0) {
            piece = generate(connection, kWriteStep);
        }
        if (piece.isEmpty())
            break;
        socket->write(piece);
    }
    if (m_fault == Fault::HugeLocation && connection.pending.isEmpty() && socket->bytesToWrite() == 0) {
        connection.finishing = true;
        socket->disconnectFromHost();
    }
}

void HostilePeer::dripOne(QTcpSocket* socket)
{
    const auto c = m_connections.value(socket);
    if (!c)
        return;
    Connection& connection = *c;
    if (!connection.pending.isEmpty()) {
        socket->write(connection.pending.left(1));
        connection.pending.remove(0, 1);
    } else {
        socket->write(generate(connection, 1));
    }
}

void HostilePeer::forget(QTcpSocket* socket)
{
    const auto c = m_connections.take(socket);
    if (!c)
        return;
    if (!c->finishing) {
        ++m_hangUps;
        m_lastHangUpMs = m_clock.isValid() ? m_clock.elapsed() : 0;
    }
    socket->disconnect(this);
    socket->deleteLater();
}

void HostilePeer::reset(QTcpSocket* socket)
{
    // A zero linger time makes the close send RST instead of FIN.
    const linger noLinger{1, 0};
    ::setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &noLinger, sizeof noLinger);
    socket->abort();
}

namespace {

// Nanoseconds this thread has spent ready to run but waiting for a processor (the second figure of
// the scheduler's statistics); 0 where the system keeps none.
qint64 runQueueWaitNs()
{
    FILE* file = std::fopen("/proc/thread-self/schedstat", "r");
    if (!file)
        return 0;
    unsigned long long running = 0;
    unsigned long long waiting = 0;
    const int read = std::fscanf(file, "%llu %llu", &running, &waiting);
    std::fclose(file);
    return read == 2 ? qint64(waiting) : 0;
}

} // namespace

StallMeter::StallMeter(QObject* parent)
    : QObject(parent)
    , m_timer(new QTimer(this))
{
    m_timer->setTimerType(Qt::PreciseTimer);
    m_timer->setInterval(10);
    connect(m_timer, &QTimer::timeout, this, &StallMeter::tick);
}

StallMeter::~StallMeter() = default;

QString StallMeter::summary() const
{
    return QStringLiteral("longest gap %1 ms (own %2 after %3 ms waiting for a processor)")
        .arg(m_longest)
        .arg(m_longestOwn)
        .arg(m_ownWait);
}

void StallMeter::start()
{
    m_longest = 0;
    m_longestOwn = 0;
    m_ownWait = 0;
    m_waitNs = runQueueWaitNs();
    m_since.start();
    m_timer->start();
}

void StallMeter::tick()
{
    const qint64 gap = m_since.restart();
    const qint64 waitNs = runQueueWaitNs();
    const qint64 waitMs = (waitNs - m_waitNs) / 1000000;
    m_waitNs = waitNs;
    m_longest = qMax(m_longest, gap);
    const qint64 own = qMax<qint64>(0, gap - waitMs);
    if (own > m_longestOwn) {
        m_longestOwn = own;
        m_ownWait = waitMs;
    }
}

void StallMeter::stop()
{
    tick();
    m_timer->stop();
}

} // namespace linvera::test
