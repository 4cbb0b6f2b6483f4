#include "net/HttpConnection.h"

#include "net/RequestWriter.h"

#include <QTcpSocket>
#if QT_CONFIG(ssl)
#include <QSslSocket>
#endif

#include <utility>

using namespace Qt::StringLiterals;

namespace linvera {
namespace {

// What the socket takes from the system before we have read it: a fast host then waits for us,
// and no single arrival is so large that handling it holds up the window's events.
constexpr qint64 kSocketReadBuffer = 256 * 1024;

void armTimer(QTimer& timer, std::chrono::milliseconds time)
{
    if (time.count() > 0)
        timer.start(time);
    else
        timer.stop();
}

} // namespace

HttpConnection::HttpConnection(QObject* parent)
    : QObject(parent)
{
    for (QTimer* timer : {&m_connectTimer, &m_idleTimer, &m_totalTimer})
        timer->setSingleShot(true);
    connect(&m_connectTimer, &QTimer::timeout, this, [this] {
        fail(Failure::Timeout, u"no connection within %1 ms"_s.arg(m_limits.connect.count()));
    });
    connect(&m_idleTimer, &QTimer::timeout, this,
            [this] { fail(Failure::Timeout, u"no answer bytes for %1 ms"_s.arg(m_limits.idle.count())); });
    connect(&m_totalTimer, &QTimer::timeout, this, [this] {
        fail(Failure::Timeout, u"no whole answer within %1 ms"_s.arg(m_limits.total.count()));
    });
}

HttpConnection::~HttpConnection()
{
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
        delete m_socket;
        m_socket = nullptr;
    }
}

void HttpConnection::open(const ConnectionTarget& target, const HttpLimits& limits)
{
    close();
    m_target = target;
    m_limits = limits;
    m_ready = false;
    m_closedSent = false;
    m_tunnelling = false;
    m_certificateErrors.clear();
    m_tunnelAnswer.reset();

    const bool viaHttpProxy = target.via == ConnectionTarget::Via::HttpProxy;
    if (target.tls) {
#if QT_CONFIG(ssl)
        auto* tls = new QSslSocket;
        m_socket = tls;
        connect(tls, &QSslSocket::encrypted, this, &HttpConnection::onEncrypted);
        connect(tls, &QSslSocket::sslErrors, this,
                [this](const QList<QSslError>& errors) { m_certificateErrors = errors; });
#else
        m_socket = new QTcpSocket;
#endif
    } else {
        m_socket = new QTcpSocket;
    }
    if (!target.socketName.isEmpty())
        m_socket->setObjectName(target.socketName);
    // Found among its owner's children (tests check how a named socket is set up).
    m_socket->setParent(this);
    m_socket->setProxy(target.via == ConnectionTarget::Via::OtherProxy
                           ? target.otherProxy
                           : QNetworkProxy(QNetworkProxy::NoProxy));
    m_socket->setReadBufferSize(kSocketReadBuffer);
    connect(m_socket, &QTcpSocket::readyRead, this, [this] {
        touch();
        if (m_tunnelling)
            onTunnelBytes();
        else if (m_ready)
            Q_EMIT readyRead();
    });
    connect(m_socket, &QTcpSocket::bytesWritten, this, &HttpConnection::touch);
    connect(m_socket, &QTcpSocket::disconnected, this, &HttpConnection::onError);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &HttpConnection::onError);

    armTimer(m_connectTimer, limits.connect);
    armTimer(m_totalTimer, limits.total);
    touch();

#if QT_CONFIG(ssl)
    if (target.tls) {
        if (viaHttpProxy) {
            // The tunnel is asked for in plain text; TLS starts inside it.
            m_tunnelling = true;
            connect(m_socket, &QTcpSocket::connected, this, &HttpConnection::onConnected);
            m_socket->connectToHost(target.proxyHost, target.proxyPort);
        } else {
            static_cast<QSslSocket*>(m_socket)->connectToHostEncrypted(target.host, target.port);
        }
        return;
    }
#else
    if (target.tls) {
        QTimer::singleShot(0, this,
                           [this] { fail(Failure::Unsupported, u"this build has no TLS support"_s); });
        return;
    }
#endif
    connect(m_socket, &QTcpSocket::connected, this, &HttpConnection::onConnected);
    if (viaHttpProxy)
        m_socket->connectToHost(target.proxyHost, target.proxyPort);
    else
        m_socket->connectToHost(target.host, target.port);
}

void HttpConnection::onConnected()
{
    if (m_tunnelling) {
        m_tunnelAnswer = std::make_unique<AnswerReader>(m_limits.headCap, 0);
        m_tunnelAnswer->setHeadOnly(true);
        const QByteArray authority = m_target.host.toLatin1() + ':' + QByteArray::number(m_target.port);
        m_socket->write(WriteConnectRequest(authority));
        return;
    }
    m_ready = true;
    m_connectTimer.stop();
    Q_EMIT ready();
}

void HttpConnection::onTunnelBytes()
{
    const AnswerReader::State state = m_tunnelAnswer->feed(m_socket->readAll());
    if (state == AnswerReader::State::Failed) {
        fail(Failure::Proxy, u"the proxy's answer to CONNECT: "_s + m_tunnelAnswer->errorText());
        return;
    }
    if (state != AnswerReader::State::Done)
        return;
    if (m_tunnelAnswer->status() / 100 != 2) {
        fail(Failure::Proxy, u"the proxy refused the tunnel: %1 %2"_s.arg(m_tunnelAnswer->status())
                                 .arg(QString::fromLatin1(m_tunnelAnswer->reason())));
        return;
    }
    m_tunnelling = false;
    m_tunnelAnswer.reset();
#if QT_CONFIG(ssl)
    // The host's name, not the proxy's, goes out for SNI and is what the certificate must name.
    auto* tls = static_cast<QSslSocket*>(m_socket);
    tls->setPeerVerifyName(m_target.host);
    tls->startClientEncryption();
#endif
}

void HttpConnection::onEncrypted()
{
    m_ready = true;
    m_connectTimer.stop();
    Q_EMIT ready();
}

void HttpConnection::onError()
{
    if (!m_socket)
        return;
    const QAbstractSocket::SocketError error = m_socket->error();
    // A plain disconnect carries no error of its own.
    const bool closedByPeer =
        error == QAbstractSocket::RemoteHostClosedError || error == QAbstractSocket::UnknownSocketError;
    if (!m_certificateErrors.isEmpty()) {
        QStringList reasons;
        for (const QSslError& e : std::as_const(m_certificateErrors))
            reasons.append(e.errorString());
        fail(Failure::Certificate, reasons.join(u"; "_s));
        return;
    }
    if (m_ready && closedByPeer) {
        if (m_closedSent)
            return;
        m_closedSent = true;
        m_connectTimer.stop();
        m_idleTimer.stop();
        Q_EMIT closed();
        return;
    }
    if (m_tunnelling && closedByPeer) {
        fail(Failure::Proxy, u"the proxy closed the connection before the tunnel was open"_s);
        return;
    }
    if (error == QAbstractSocket::SslHandshakeFailedError) {
        fail(Failure::Tls, m_socket->errorString());
        return;
    }
    fail(Failure::Socket, m_socket->errorString());
}

void HttpConnection::fail(Failure failure, const QString& description)
{
    if (!m_socket)
        return;
    close();
    Q_EMIT failed(failure, description);
}

void HttpConnection::touch()
{
    if (m_socket)
        armTimer(m_idleTimer, m_limits.idle);
}

void HttpConnection::write(const QByteArray& bytes)
{
    if (m_socket && m_ready) {
        touch();
        m_socket->write(bytes);
    }
}

qint64 HttpConnection::bytesAvailable() const
{
    return m_socket && !m_tunnelling ? m_socket->bytesAvailable() : 0;
}

QByteArray HttpConnection::read(qint64 maxBytes)
{
    // read() sizes its buffer by the count asked for: ask for no more than has arrived.
    return m_socket && !m_tunnelling ? m_socket->read(qMin(maxBytes, m_socket->bytesAvailable()))
                                     : QByteArray();
}

QByteArray HttpConnection::readAll()
{
    return m_socket && !m_tunnelling ? m_socket->readAll() : QByteArray();
}

void HttpConnection::close()
{
    m_connectTimer.stop();
    m_idleTimer.stop();
    m_totalTimer.stop();
    m_ready = false;
    m_tunnelling = false;
    if (!m_socket)
        return;
    QTcpSocket* socket = std::exchange(m_socket, nullptr);
    socket->disconnect(this);
    socket->abort();
    // Possibly inside one of its own signals.
    socket->deleteLater();
}

QList<QSslError> HttpConnection::certificateErrors() const
{
    return m_certificateErrors;
}

void HttpConnection::restartTotal(std::chrono::milliseconds total)
{
    m_limits.total = total;
    if (m_socket)
        armTimer(m_totalTimer, total);
}

} // namespace linvera
