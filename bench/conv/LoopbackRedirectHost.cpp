#include "LoopbackRedirectHost.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <memory>

namespace linvera::bench {
namespace {

// A client that connects and never finishes its request is dropped after this long.
constexpr int kIdleLimitMs = 10000;
constexpr int kListenWaitMs = 10000;

} // namespace

LoopbackRedirectHost::LoopbackRedirectHost(const QByteArray& location, QObject* parent)
    : QThread(parent)
    , m_answer("HTTP/1.0 301 Moved Permanently\r\nLocation: " + location + "\r\n\r\n")
{}

LoopbackRedirectHost::~LoopbackRedirectHost()
{
    quit();
    wait();
}

quint16 LoopbackRedirectHost::startListening()
{
    start();
    if (!m_ready.tryAcquire(1, kListenWaitMs))
        return 0;
    return m_port.load();
}

void LoopbackRedirectHost::run()
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0)) {
        m_ready.release();
        return;
    }
    m_port.store(server.serverPort());
    QObject::connect(&server, &QTcpServer::newConnection, &server, [this, &server] {
        while (QTcpSocket* socket = server.nextPendingConnection()) {
            auto request = std::make_shared<QByteArray>();
            auto* idle = new QTimer(socket);
            idle->setSingleShot(true);
            QObject::connect(idle, &QTimer::timeout, socket, &QTcpSocket::abort);
            idle->start(kIdleLimitMs);
            // Reading the whole request first: closing with unread bytes would reset the connection.
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, request] {
                const bool complete = request->contains("\r\n\r\n");
                *request += socket->readAll();
                if (complete || !request->contains("\r\n\r\n"))
                    return;
                socket->write(m_answer);
                socket->disconnectFromHost();
                m_answered.fetch_add(1);
            });
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
    m_ready.release();
    exec();
}

} // namespace linvera::bench
