// The connection driver against loopback peers: every phase ends, tunnels and TLS go where asked.
#include "net/HttpConnection.h"

#include "TlsTestHost.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <memory>

using namespace Qt::StringLiterals;
using namespace linvera;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(linvera::HttpConnection::Failure)

namespace {

/// A peer on 127.0.0.1 that, once the first bytes of a connection arrive, writes `pieces` one every
/// `intervalMs`, then closes (or stays silent and open when `hold`).
class ScriptedPeer : public QObject
{
public:
    ScriptedPeer(QByteArrayList pieces, int intervalMs, bool hold)
        : m_pieces(std::move(pieces))
        , m_interval(intervalMs)
        , m_hold(hold)
    {
        QVERIFY(m_server.listen(QHostAddress::LocalHost));
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            QTcpSocket* socket = m_server.nextPendingConnection();
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                received += socket->readAll();
                if (socket->property("answering").toBool())
                    return;
                socket->setProperty("answering", true);
                auto* timer = new QTimer(socket);
                auto next = std::make_shared<qsizetype>(0);
                connect(timer, &QTimer::timeout, socket, [this, socket, timer, next] {
                    if (*next < m_pieces.size()) {
                        socket->write(m_pieces.at((*next)++));
                        return;
                    }
                    timer->stop();
                    if (!m_hold)
                        socket->disconnectFromHost();
                });
                timer->start(m_interval);
            });
        });
    }
    quint16 port() const { return m_server.serverPort(); }
    QByteArray received;

private:
    QTcpServer m_server;
    QByteArrayList m_pieces;
    int m_interval;
    bool m_hold;
};

/// Opens `target`, writes `request` once ready and gathers the answer until closed() or failed().
struct Exchange
{
    explicit Exchange(const ConnectionTarget& target, const HttpLimits& limits,
                      QByteArray request = "hello\r\n\r\n")
    {
        QObject::connect(&connection, &HttpConnection::ready, &connection,
                         [this, request] { connection.write(request); });
        QObject::connect(&connection, &HttpConnection::readyRead, &connection,
                         [this] { answer += connection.readAll(); });
        QObject::connect(&connection, &HttpConnection::closed, &connection, [this] {
            answer += connection.readAll();
            ended = true;
            connection.close();
        });
        QObject::connect(&connection, &HttpConnection::failed, &connection,
                         [this](HttpConnection::Failure f, const QString& text) {
                             failure = f;
                             description = text;
                             failed = true;
                             ended = true;
                         });
        clock.start();
        connection.open(target, limits);
    }
    bool wait(std::chrono::milliseconds time = 10s)
    {
        return QTest::qWaitFor([this] { return ended; }, int(time.count()));
    }

    HttpConnection connection;
    QByteArray answer;
    bool ended = false;
    bool failed = false;
    HttpConnection::Failure failure{};
    QString description;
    QElapsedTimer clock;
};

ConnectionTarget direct(quint16 port)
{
    ConnectionTarget target;
    target.host = u"127.0.0.1"_s;
    target.port = port;
    return target;
}

HttpLimits limits(std::chrono::milliseconds connect, std::chrono::milliseconds idle,
                  std::chrono::milliseconds total)
{
    HttpLimits l;
    l.connect = connect;
    l.idle = idle;
    l.total = total;
    return l;
}

} // namespace

class TestHttpConnection : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void plainExchangeEndsAtTheClose();
    void refusedConnectionFails();
    void everyWaitEnds_data();
    void everyWaitEnds();
    void tunnelAnswers_data();
    void tunnelAnswers();
    void tlsThroughTunnelNamesTheHost_data();
    void tlsThroughTunnelNamesTheHost();
};

void TestHttpConnection::plainExchangeEndsAtTheClose()
{
    ScriptedPeer peer({"HTTP/1.0 200 OK\r\n\r\n", "body"}, 10, false);
    Exchange exchange(direct(peer.port()), limits(5s, 5s, 10s), "GET / HTTP/1.0\r\n\r\n");
    QVERIFY(exchange.wait());
    QVERIFY2(!exchange.failed, qPrintable(exchange.description));
    QCOMPARE(exchange.answer, QByteArray("HTTP/1.0 200 OK\r\n\r\nbody"));
    QCOMPARE(peer.received, QByteArray("GET / HTTP/1.0\r\n\r\n"));
}

void TestHttpConnection::refusedConnectionFails()
{
    quint16 closedPort = 0;
    {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        closedPort = server.serverPort();
    }
    Exchange exchange(direct(closedPort), limits(5s, 5s, 10s));
    QVERIFY(exchange.wait());
    QVERIFY(exchange.failed);
    QCOMPARE(exchange.failure, HttpConnection::Failure::Socket);
}

void TestHttpConnection::everyWaitEnds_data()
{
    QTest::addColumn<int>("intervalMs"); // between two pieces of the answer
    QTest::addColumn<int>("pieces");
    QTest::addColumn<bool>("hold"); // the peer stays silent and open after its pieces
    QTest::addColumn<int>("idleMs");
    QTest::addColumn<int>("totalMs");
    QTest::addColumn<bool>("fails");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<int>("atLeastMs"); // the failure comes no sooner
    QTest::newRow("pieces closer than the idle time over three idle times")
        << 100 << 9 << false << 300 << 5000 << false << QString() << 0;
    QTest::newRow("silent peer: the idle time ends it")
        << 100 << 0 << true << 300 << 5000 << true << u"no answer bytes for 300 ms"_s << 250;
    QTest::newRow("pause longer than the idle time")
        << 500 << 3 << false << 300 << 5000 << true << u"no answer bytes for 300 ms"_s << 250;
    QTest::newRow("steady trickle: the total time ends it")
        << 50 << 100 << false << 300 << 800 << true << u"no whole answer within 800 ms"_s << 750;
    QTest::newRow("no idle bound: the total time ends a silent peer")
        << 100 << 0 << true << 0 << 500 << true << u"no whole answer within 500 ms"_s << 450;
}

void TestHttpConnection::everyWaitEnds()
{
    QFETCH(int, intervalMs);
    QFETCH(int, pieces);
    QFETCH(bool, hold);
    QFETCH(int, idleMs);
    QFETCH(int, totalMs);
    QFETCH(bool, fails);
    QFETCH(QString, reason);
    QFETCH(int, atLeastMs);
    ScriptedPeer peer(QByteArrayList(pieces, "x"), intervalMs, hold);
    Exchange exchange(direct(peer.port()),
                      limits(2s, std::chrono::milliseconds(idleMs), std::chrono::milliseconds(totalMs)));
    QVERIFY(exchange.wait());
    QCOMPARE(exchange.failed, fails);
    if (fails) {
        QCOMPARE(exchange.failure, HttpConnection::Failure::Timeout);
        QCOMPARE(exchange.description, reason);
        QVERIFY2(exchange.clock.elapsed() >= atLeastMs,
                 QByteArray::number(exchange.clock.elapsed()).constData());
    } else {
        QCOMPARE(exchange.answer, QByteArray(pieces, 'x'));
    }
}

void TestHttpConnection::tunnelAnswers_data()
{
    QTest::addColumn<QByteArrayList>("proxyAnswer"); // what the proxy says to CONNECT; empty: nothing
    QTest::addColumn<bool>("hold");
    QTest::addColumn<HttpConnection::Failure>("failure");
    QTest::addColumn<QString>("description");
    QTest::newRow("refused with 403")
        << QByteArrayList{"HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n"} << true
        << HttpConnection::Failure::Proxy << u"the proxy refused the tunnel: 403 Forbidden"_s;
    QTest::newRow("closed before answering")
        << QByteArrayList{} << false << HttpConnection::Failure::Proxy
        << u"the proxy closed the connection before the tunnel was open"_s;
    QTest::newRow("not HTTP") << QByteArrayList{"SSH-2.0-x\r\n\r\n"} << true << HttpConnection::Failure::Proxy
                              << u"the proxy's answer to CONNECT: not an HTTP answer"_s;
    QTest::newRow("never answers: the connect time ends it")
        << QByteArrayList{} << true << HttpConnection::Failure::Timeout << u"no connection within 400 ms"_s;
    QTest::newRow("head without end: the connect time ends it")
        << QByteArrayList{"HTTP/1.1 200 OK\r\n", "X: 1\r\n", "X: 2\r\n"} << true
        << HttpConnection::Failure::Timeout << u"no connection within 400 ms"_s;
}

void TestHttpConnection::tunnelAnswers()
{
    QFETCH(QByteArrayList, proxyAnswer);
    QFETCH(bool, hold);
    QFETCH(HttpConnection::Failure, failure);
    QFETCH(QString, description);
    ScriptedPeer proxy(proxyAnswer, 10, hold);
    ConnectionTarget target;
    target.host = u"short.test"_s;
    target.port = 443;
    target.tls = true;
    target.via = ConnectionTarget::Via::HttpProxy;
    target.proxyHost = u"127.0.0.1"_s;
    target.proxyPort = proxy.port();
    Exchange exchange(target, limits(400ms, 0ms, 5s));
    QVERIFY(exchange.wait());
    QVERIFY(exchange.failed);
    QCOMPARE(exchange.failure, failure);
    QCOMPARE(exchange.description, description);
    QCOMPARE(proxy.received, QByteArray("CONNECT short.test:443 HTTP/1.1\r\nHost: short.test:443\r\n\r\n"));
}

void TestHttpConnection::tlsThroughTunnelNamesTheHost_data()
{
    QTest::addColumn<bool>("viaProxy");
    QTest::addColumn<bool>("trusted");
    QTest::newRow("direct, trusted") << false << true;
    QTest::newRow("direct, unknown authority") << false << false;
    QTest::newRow("tunnel, trusted") << true << true;
    QTest::newRow("tunnel, unknown authority") << true << false;
}

void TestHttpConnection::tlsThroughTunnelNamesTheHost()
{
    if (!QSslSocket::supportsSsl())
        QSKIP("no TLS backend");
    QFETCH(bool, viaProxy);
    QFETCH(bool, trusted);
    test::TlsTestHost host("HTTP/1.0 200 OK\r\n\r\nsecret");
    test::TunnelProxy tunnel(host.port());
    const test::TrustTestAuthority authority(trusted);
    ConnectionTarget target;
    // Through the proxy the name is the proxy's to resolve; the certificate names it.
    target.host = viaProxy ? u"short.test"_s : u"127.0.0.1"_s;
    target.port = host.port();
    target.tls = true;
    if (viaProxy) {
        target.via = ConnectionTarget::Via::HttpProxy;
        target.proxyHost = u"127.0.0.1"_s;
        target.proxyPort = tunnel.port();
    }
    Exchange exchange(target, limits(5s, 5s, 10s), "GET /t HTTP/1.0\r\n\r\n");
    QVERIFY(exchange.wait());
    if (trusted) {
        QVERIFY2(!exchange.failed, qPrintable(exchange.description));
        QCOMPARE(exchange.answer, QByteArray("HTTP/1.0 200 OK\r\n\r\nsecret"));
        QCOMPARE(host.requestLines, QByteArrayList{"GET /t HTTP/1.0"});
    } else {
        QVERIFY(exchange.failed);
        QCOMPARE(exchange.failure, HttpConnection::Failure::Certificate);
        QVERIFY(!exchange.connection.certificateErrors().isEmpty());
        QVERIFY(host.requestLines.isEmpty());
    }
    QCOMPARE(tunnel.connectHeads.size(), viaProxy ? 1 : 0);
    if (viaProxy)
        QVERIFY(tunnel.firstTunnelBytes.value(0).contains("short.test"));
}

QTEST_GUILESS_MAIN(TestHttpConnection)
#include "tst_httpconnection.moc"
