#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QSslConfiguration>
#include <QSslServer>
#include <QString>

class QSslSocket;
class QTcpServer;
class QTcpSocket;

namespace linvera::test {

/// The test authority's certificate in PEM form, for a process the test starts.
QByteArray TestAuthorityPem();

/// The test's own certificate authority, installed as the only trusted one for this process while
/// the guard lives (never the system's store). The previous default configuration comes back after.
class TrustTestAuthority
{
public:
    /// `trusted` false installs an empty trust list: every server certificate then fails.
    explicit TrustTestAuthority(bool trusted = true);
    ~TrustTestAuthority();
    TrustTestAuthority(const TrustTestAuthority&) = delete;
    TrustTestAuthority& operator=(const TrustTestAuthority&) = delete;

private:
    QSslConfiguration m_saved;
};

/// A TLS server on 127.0.0.1 whose certificate, signed by the test authority, names 127.0.0.1 and
/// "short.test". It reads one request head per connection, records it, answers with the raw bytes
/// set for its target (or the default answer) and closes.
class TlsTestHost : public QObject
{
    Q_OBJECT

public:
    explicit TlsTestHost(QByteArray defaultAnswer = "HTTP/1.0 404 Not Found\r\n\r\n",
                         QObject* parent = nullptr);

    quint16 port() const;
    /// "https://127.0.0.1:<port>" followed by the path and query.
    QString url(const QString& pathAndQuery) const;
    void setAnswer(const QByteArray& target, const QByteArray& answer) { m_answers.insert(target, answer); }

    /// The whole request heads received, in order, and their first lines.
    QByteArrayList rawRequests;
    QByteArrayList requestLines;

private:
    QSslServer m_server;
    QByteArray m_defaultAnswer;
    QHash<QByteArray, QByteArray> m_answers;
    QHash<QSslSocket*, QByteArray> m_buffers;
};

/// An HTTP proxy that opens tunnels: it takes "CONNECT host:port", records the request head,
/// connects every tunnel to 127.0.0.1:<target port> whatever host was named, answers 200 and passes
/// bytes both ways. The first bytes the client sends inside the tunnel (its TLS greeting, which
/// carries the server name in plain text) are kept. A plain request whose absolute URL is in
/// `plainAnswers` gets those raw bytes; any other is refused with 405.
class TunnelProxy : public QObject
{
    Q_OBJECT

public:
    explicit TunnelProxy(quint16 targetPort, QObject* parent = nullptr);
    ~TunnelProxy() override;

    quint16 port() const;
    /// Every request head received, CONNECT or plain, in order.
    QByteArrayList connectHeads;
    QByteArrayList firstTunnelBytes;
    QHash<QByteArray, QByteArray> plainAnswers;

private:
    QTcpServer* m_server;
    quint16 m_targetPort;
};

} // namespace linvera::test
