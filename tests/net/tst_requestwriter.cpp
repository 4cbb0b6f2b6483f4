// The request bytes on the wire, compared byte for byte.
#include "net/RequestWriter.h"

#include <QTest>

using namespace linvera;

Q_DECLARE_METATYPE(linvera::HttpRequest)
Q_DECLARE_METATYPE(linvera::RequestForm)

class TestRequestWriter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void writesRequest_data();
    void writesRequest();
    void writesConnectRequest_data();
    void writesConnectRequest();
};

namespace {

HttpRequest request(QByteArray method, QByteArray target, HttpHeaders headers, QByteArray body = {},
                    QByteArray version = "HTTP/1.1")
{
    HttpRequest r;
    r.method = std::move(method);
    r.origin = "http://h.test:8080";
    r.target = std::move(target);
    r.version = std::move(version);
    r.headers = std::move(headers);
    r.body = std::move(body);
    return r;
}

} // namespace

void TestRequestWriter::writesRequest_data()
{
    QTest::addColumn<HttpRequest>("request");
    QTest::addColumn<RequestForm>("form");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("origin form, one header")
        << request("GET", "/abc", {{"Host", "h.test:8080"}}) << RequestForm::Origin
        << QByteArray("GET /abc HTTP/1.1\r\nHost: h.test:8080\r\n\r\n");
    QTest::newRow("absolute form through a proxy")
        << request("GET", "/abc", {{"Host", "h.test:8080"}}) << RequestForm::Absolute
        << QByteArray("GET http://h.test:8080/abc HTTP/1.1\r\nHost: h.test:8080\r\n\r\n");
    HttpRequest asAssembled = request("GET", "/?v=%7E", {});
    asAssembled.absoluteTarget = "http://h.test?v=%7E";
    QTest::newRow("absolute form as assembled: no path added")
        << asAssembled << RequestForm::Absolute << QByteArray("GET http://h.test?v=%7E HTTP/1.1\r\n\r\n");
    QTest::newRow("origin form ignores the assembled URL")
        << asAssembled << RequestForm::Origin << QByteArray("GET /?v=%7E HTTP/1.1\r\n\r\n");
    QTest::newRow("HTTP/1.0, no header at all")
        << request("GET", "/", {}, {}, "HTTP/1.0") << RequestForm::Origin
        << QByteArray("GET / HTTP/1.0\r\n\r\n");
    QTest::newRow("escapes and case of the target as assembled")
        << request("GET", "/a/./b/../%7E%7e?q=%2F&r=%20", {}) << RequestForm::Origin
        << QByteArray("GET /a/./b/../%7E%7e?q=%2F&r=%20 HTTP/1.1\r\n\r\n");
    QTest::newRow("headers keep their order and letter case")
        << request("GET", "/", {{"x-b", "2"}, {"X-A", "1"}, {"Host", "h"}}) << RequestForm::Origin
        << QByteArray("GET / HTTP/1.1\r\nx-b: 2\r\nX-A: 1\r\nHost: h\r\n\r\n");
    QTest::newRow("the same name twice goes out twice")
        << request("GET", "/", {{"Cookie", "a=1"}, {"Cookie", "b=2"}}) << RequestForm::Origin
        << QByteArray("GET / HTTP/1.1\r\nCookie: a=1\r\nCookie: b=2\r\n\r\n");
    QTest::newRow("empty value") << request("GET", "/", {{"X-Empty", ""}}) << RequestForm::Origin
                                 << QByteArray("GET / HTTP/1.1\r\nX-Empty: \r\n\r\n");
    QTest::newRow("POST with a binary body after the blank line")
        << request("POST", "/up", {{"Content-Length", "4"}}, QByteArray("\0\r\n\xff", 4))
        << RequestForm::Origin
        << QByteArray("POST /up HTTP/1.1\r\nContent-Length: 4\r\n\r\n") + QByteArray("\0\r\n\xff", 4);
    QTest::newRow("a value with a line break is left out")
        << request("GET", "/", {{"X-Evil", "a\r\nInjected: 1"}, {"Host", "h"}}) << RequestForm::Origin
        << QByteArray("GET / HTTP/1.1\r\nHost: h\r\n\r\n");
    QTest::newRow("a name with a bare LF is left out")
        << request("GET", "/", {{"X\nY", "1"}}) << RequestForm::Origin
        << QByteArray("GET / HTTP/1.1\r\n\r\n");
    QTest::newRow("an empty name is left out")
        << request("GET", "/", {{"", "1"}}) << RequestForm::Origin << QByteArray("GET / HTTP/1.1\r\n\r\n");
}

void TestRequestWriter::writesRequest()
{
    QFETCH(HttpRequest, request);
    QFETCH(RequestForm, form);
    QFETCH(QByteArray, bytes);
    QCOMPARE(WriteRequest(request, form), bytes);
}

void TestRequestWriter::writesConnectRequest_data()
{
    QTest::addColumn<QByteArray>("authority");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("name and port") << QByteArray("short.test:443")
                                   << QByteArray(
                                          "CONNECT short.test:443 HTTP/1.1\r\nHost: short.test:443\r\n\r\n");
    QTest::newRow("address and other port")
        << QByteArray("127.0.0.1:8443")
        << QByteArray("CONNECT 127.0.0.1:8443 HTTP/1.1\r\nHost: 127.0.0.1:8443\r\n\r\n");
}

void TestRequestWriter::writesConnectRequest()
{
    QFETCH(QByteArray, authority);
    QFETCH(QByteArray, bytes);
    QCOMPARE(WriteConnectRequest(authority), bytes);
}

QTEST_GUILESS_MAIN(TestRequestWriter)
#include "tst_requestwriter.moc"
