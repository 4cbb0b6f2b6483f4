// The blocking fetch: whole bodies, error pages, and every failure as 0 bytes within its time-outs.
#include "HttpClient.h"

#include "HttpTestServer.h"

#include <QElapsedTimer>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace linvera;
using namespace linvera::test;

class TestHttpClient : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void returnsWholeBody_data();
    void returnsWholeBody();
    void failuresGiveNothing_data();
    void failuresGiveNothing();
    void sendsAgentAndExtraHeaders();
};

void TestHttpClient::initTestCase()
{
    setHttpTimeouts({std::chrono::milliseconds(1500), std::chrono::milliseconds(5000)});
}

void TestHttpClient::returnsWholeBody_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("chunk");
    QTest::newRow("empty body") << 200 << 0 << 0;
    QTest::newRow("one byte") << 200 << 1 << 0;
    QTest::newRow("70,000 bytes") << 200 << 70000 << 0;
    QTest::newRow("70,000 bytes in small writes") << 200 << 70000 << 1000;
    QTest::newRow("half a megabyte") << 200 << 500000 << 0;
    // An error page is an answer too: the callers' patterns decide what it means.
    QTest::newRow("error page") << 500 << 321 << 0;
    QTest::newRow("not found page") << 404 << 12 << 0;
}

void TestHttpClient::returnsWholeBody()
{
    QFETCH(int, status);
    QFETCH(int, size);
    QFETCH(int, chunk);
    QByteArray body(size, '\0');
    for (int i = 0; i < size; ++i)
        body[i] = char('a' + i % 26);
    HttpTestServer server;
    server.setRoute("/b", HttpTestResponse::withStatus(status, "Status", body));
    if (chunk > 0)
        server.setDelivery(HttpTestDelivery::chunks(chunk, 1));
    QByteArray received("stale");
    const qint64 n = HttpGetBytes(server.url(u"/b"_s).toString(), received);
    QCOMPARE(n, qint64(size));
    QCOMPARE(received, body);
}

void TestHttpClient::failuresGiveNothing_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("empty URL") << u"empty"_s;
    QTest::newRow("not a web address") << u"ftp"_s;
    QTest::newRow("connection refused") << u"refused"_s;
    QTest::newRow("server never answers") << u"silent"_s;
    QTest::newRow("connection reset") << u"reset"_s;
    QTest::newRow("body cut short") << u"truncated"_s;
}

void TestHttpClient::failuresGiveNothing()
{
    QFETCH(QString, kind);
    HttpTestServer server;
    server.setRoute("/b", HttpTestResponse::ok(QByteArray(4000, 'x')));
    QString url = server.url(u"/b"_s).toString();
    if (kind == u"empty"_s)
        url.clear();
    else if (kind == u"ftp"_s)
        url = u"ftp://127.0.0.1/b"_s;
    else if (kind == u"refused"_s)
        url = u"http://127.0.0.1:"_s + QString::number(HttpTestServer::closedPort()) + u"/b"_s;
    else if (kind == u"silent"_s)
        server.setDelivery(HttpTestDelivery::silent());
    else if (kind == u"reset"_s)
        server.setDelivery(HttpTestDelivery::reset());
    else if (kind == u"truncated"_s)
        server.setDelivery(HttpTestDelivery::truncated());
    QByteArray received("stale");
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(HttpGetBytes(url, received), qint64(0));
    QVERIFY(received.isEmpty());
    // The idle time-out ends a silent server; nothing waits for the total one.
    QVERIFY2(timer.elapsed() < 4500, qPrintable(QString::number(timer.elapsed())));
}

void TestHttpClient::sendsAgentAndExtraHeaders()
{
    HttpTestServer server;
    server.setRoute("/h", HttpTestResponse::ok("ok"));
    QByteArray received;
    QCOMPARE(HttpGetBytes(server.url(u"/h"_s).toString(), received, u"X-One: 1\r\nX-Two: zwei"_s), qint64(2));
    const HttpTestRequest request = server.lastRequest();
    QCOMPARE(request.header("User-Agent"), HttpAgentText().toLatin1());
    QCOMPARE(request.header("X-One"), QByteArray("1"));
    QCOMPARE(request.header("X-Two"), QByteArray("zwei"));
    // Always from the server, never from a cache.
    QVERIFY(request.header("Cache-Control").contains("no-cache") || request.header("Pragma") == "no-cache");
}

QTEST_GUILESS_MAIN(TestHttpClient)
#include "tst_httpclient.moc"
