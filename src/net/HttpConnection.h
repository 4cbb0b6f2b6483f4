#pragma once

#include "net/AnswerReader.h"
#include "net/HttpRequest.h"

#include <QList>
#include <QNetworkProxy>
#include <QObject>
#include <QSslError>
#include <QTimer>

#include <memory>

class QTcpSocket;

namespace linvera {

/// Where one connection goes and how.
struct ConnectionTarget
{
    enum class Via {
        Direct,     ///< to the host itself
        HttpProxy,  ///< to the proxy; a plain request goes in absolute form, TLS through a CONNECT tunnel
        OtherProxy, ///< through `otherProxy` (a SOCKS proxy of the system), left to the socket
    };
    QString host;
    quint16 port = 80;
    bool tls = false;
    Via via = Via::Direct;
    QString proxyHost;
    quint16 proxyPort = 0;
    QNetworkProxy otherProxy;
    /// The socket's object name (the probe's socket has a name of its own).
    QString socketName;
};

/// One TCP connection for one exchange: plain, TLS (the process's trust store, the host's name sent
/// for SNI and checked in its certificate) or TLS through a CONNECT tunnel. Everything is signalled,
/// nothing waits; every phase ends: the connect time-out until ready(), the idle time-out (restarted
/// by each byte in or out) and the total time-out from open().
class HttpConnection : public QObject
{
    Q_OBJECT

public:
    enum class Failure {
        Timeout,
        Certificate, ///< the server's certificate was refused; certificateErrors() tells why
        Tls,         ///< the TLS handshake failed otherwise
        Proxy,       ///< the proxy refused the tunnel
        Socket,      ///< refused, reset, name not found
        Unsupported, ///< TLS asked of a build without it
    };
    Q_ENUM(Failure)

    explicit HttpConnection(QObject* parent = nullptr);
    ~HttpConnection() override;

    /// Starts connecting; a connection still open is dropped first.
    void open(const ConnectionTarget& target, const HttpLimits& limits);
    /// Sends bytes once ready().
    void write(const QByteArray& bytes);
    qint64 bytesAvailable() const;
    QByteArray read(qint64 maxBytes);
    QByteArray readAll();
    /// Drops the connection without a signal. Safe inside this object's own signals.
    void close();
    bool isOpen() const { return m_socket != nullptr; }
    /// Why the server's certificate was refused, when it was.
    QList<QSslError> certificateErrors() const;

    /// Sets the time-outs of the running connection (the probe allows its answer a time of its own).
    void restartTotal(std::chrono::milliseconds total);

Q_SIGNALS:
    /// The connection can carry the request.
    void ready();
    void readyRead();
    /// The server closed the connection (the end of a close-delimited answer).
    void closed();
    void failed(linvera::HttpConnection::Failure failure, const QString& description);

private:
    void onConnected();
    void onTunnelBytes();
    void onEncrypted();
    void onError();
    void fail(Failure failure, const QString& description);
    void touch();

    ConnectionTarget m_target;
    HttpLimits m_limits;
    QTcpSocket* m_socket = nullptr;
    bool m_ready = false;
    bool m_tunnelling = false;
    std::unique_ptr<AnswerReader> m_tunnelAnswer;
    QList<QSslError> m_certificateErrors;
    bool m_closedSent = false;
    QTimer m_connectTimer;
    QTimer m_idleTimer;
    QTimer m_totalTimer;
};

} // namespace linvera
