// The blocking fetch: whole bodies, error pages, and every failure as 0 bytes within its time-outs;
// requests go out with the bytes the program assembled, or not at all.
#include "conv/HttpClient.h"
#include "conv/RuleRegex.h"
#include "conv/ServiceCall.h"

#include "AwaitAnswer.h"
#include "HttpTestServer.h"
#include "PictureHost.h"
#include "RuleApiService.h"
#include "ShortenerService.h"
#include "TlsTestHost.h"
#include "WaitLimits.h"
#include "app/ui/PictureFile.h"
#include "codec/PercentCoding.h"
#include "conv/Endpoints.h"
#include "conv/PreviewPicture.h"
#include "conv/ShortenerClient.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace linvera;
using namespace linvera::test;

namespace {

/// The waits of every request of these tests.
HttpLimits testLimits()
{
    return WaitLimits(std::chrono::milliseconds(1500), std::chrono::milliseconds(5000));
}

/// One GET through a service call: the body and its length; 0 and nothing on any failure. A body
/// over `bodyLimit` (0: a download's designed cap) is a failure.
qint64 getBytes(const QString& url, QByteArray& body, const QString& headers = {}, const QString& proxy = {},
                qint64 bodyLimit = 0)
{
    HttpLimits limits = testLimits();
    if (bodyLimit > 0)
        limits.bodyCap = bodyLimit;
    body = awaitAnswer<QByteArray>([&](auto done) {
               auto call = std::make_unique<ServiceCall>();
               call->start({url, headers, std::nullopt, proxy, limits}, done);
               return call;
           }).value_or(QByteArray());
    return body.size();
}

} // namespace

class TestHttpClient : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void returnsWholeBody_data();
    void returnsWholeBody();
    void failuresGiveNothing_data();
    void failuresGiveNothing();
    void idleTimeRestartsWithEachArrival_data();
    void idleTimeRestartsWithEachArrival();
    void sendsAgentAndExtraHeaders();
    void answerShapes_data();
    void answerShapes();
    void followsRedirects_data();
    void followsRedirects();
    void postsAndFollowsAsTheStatusSays_data();
    void postsAndFollowsAsTheStatusSays();
    void bodyLimitOfOneFetch_data();
    void bodyLimitOfOneFetch();
    void bodyLimit_data();
    void bodyLimit();
    void sendsTargetAsAssembled_data();
    void sendsTargetAsAssembled();
    void refusesUrlsItWouldHaveToChange_data();
    void refusesUrlsItWouldHaveToChange();
    void callersSendTheirBytes_data();
    void callersSendTheirBytes();
    void httpsKeepsBytesAndChecksTheServer_data();
    void httpsKeepsBytesAndChecksTheServer();
    void extraAuthoritiesAreAdded_data();
    void extraAuthoritiesAreAdded();
};

void TestHttpClient::initTestCase() {}

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
    const qint64 n = getBytes(server.url(u"/b"_s).toString(), received);
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
    else if (kind == u"ftp"_s) {
        url = u"ftp://127.0.0.1/b"_s;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"^ServiceCall: "_s));
    } else if (kind == u"refused"_s)
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
    QCOMPARE(getBytes(url, received), qint64(0));
    QVERIFY(received.isEmpty());
    // The idle time-out ends a silent server; nothing waits for the total one.
    QVERIFY2(timer.elapsed() < 4500, qPrintable(QString::number(timer.elapsed())));
}

void TestHttpClient::idleTimeRestartsWithEachArrival_data()
{
    QTest::addColumn<int>("pauseMs"); // between the head and each of ten pieces of the body
    QTest::addColumn<bool>("answered");
    QTest::newRow("pieces 100 ms apart over a second") << 100 << true;
    QTest::newRow("one pause longer than the idle time") << 400 << false;
}

void TestHttpClient::idleTimeRestartsWithEachArrival()
{
    QFETCH(int, pauseMs);
    QFETCH(bool, answered);
    // The whole answer takes four idle times; each arrival starts the idle time again.
    const QByteArray body = QByteArray("0123456789").repeated(100);
    const QByteArray head = "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n";
    QList<qsizetype> pieces;
    for (int i = 0; i < 10; ++i)
        pieces << head.size() + i * 100;
    HttpTestServer server;
    server.setRoute("/slow", HttpTestResponse::raw(head + body));
    server.setDelivery(HttpTestDelivery::splitAt(pieces, pauseMs));

    HttpFetch fetch;
    fetch.setLimits(WaitLimits(std::chrono::milliseconds(250), std::chrono::seconds(4)));
    fetch.setDirect(true);
    QSignalSpy finished(&fetch, &HttpFetch::finished);
    QElapsedTimer timer;
    timer.start();
    fetch.start(server.url(u"/slow"_s).toString());
    QVERIFY(finished.wait(8000));
    if (answered) {
        QVERIFY2(fetch.outcome() == HttpFetch::Outcome::Answered, qPrintable(fetch.errorText()));
        QCOMPARE(fetch.body(), body);
        QVERIFY2(timer.elapsed() >= 900, qPrintable(QString::number(timer.elapsed())));
    } else {
        QVERIFY(fetch.outcome() == HttpFetch::Outcome::Failed);
        QVERIFY2(fetch.errorText().contains(u"no answer bytes for 250 ms"_s), qPrintable(fetch.errorText()));
        QVERIFY(fetch.body().isEmpty());
    }
}

void TestHttpClient::sendsAgentAndExtraHeaders()
{
    HttpTestServer server;
    server.setRoute("/h", HttpTestResponse::ok("ok"));
    QByteArray received;
    QCOMPARE(getBytes(server.url(u"/h"_s).toString(), received, u"X-One: 1\r\nX-Two: zwei"_s), qint64(2));
    const HttpTestRequest request = server.lastRequest();
    QCOMPARE(request.header("User-Agent"), HttpAgentText().toLatin1());
    QCOMPARE(request.header("X-One"), QByteArray("1"));
    QCOMPARE(request.header("X-Two"), QByteArray("zwei"));
    // Always from the server, never from a cache.
    QVERIFY(request.header("Cache-Control").contains("no-cache") || request.header("Pragma") == "no-cache");
}

void TestHttpClient::answerShapes_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("no Content-Length: the body ends at the close")
        << QByteArray("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\nuntil the end") << true
        << QByteArray("until the end");
    QTest::newRow("HTTP/1.0 answer") << QByteArray("HTTP/1.0 200 OK\r\nContent-Length: 3\r\n\r\nabc") << true
                                     << QByteArray("abc");
    QTest::newRow("bytes after the announced length are not body")
        << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabcdef") << true << QByteArray("abc");
    QTest::newRow("chunked, with an extension and a trailer")
        << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                      "5\r\nhello\r\n7;x=y\r\n, world\r\n0\r\nX-Trailer: 1\r\n\r\n")
        << true << QByteArray("hello, world");
    QTest::newRow("interim 100 before the answer")
        << QByteArray("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok") << true
        << QByteArray("ok");
    QTest::newRow("no content") << QByteArray("HTTP/1.1 204 No Content\r\n\r\n") << true << QByteArray();
    QTest::newRow("chunked, cut before the last chunk")
        << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n") << false
        << QByteArray();
    QTest::newRow("chunked, size not hexadecimal")
        << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\nhello\r\n0\r\n\r\n")
        << false << QByteArray();
    QTest::newRow("chunk without its CR LF")
        << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nhello\r\n0\r\n\r\n") << false
        << QByteArray();
    QTest::newRow("two different lengths")
        << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 2\r\nContent-Length: 3\r\n\r\nabc") << false
        << QByteArray();
    QTest::newRow("not HTTP") << QByteArray("SSH-2.0-OpenSSH\r\n\r\n") << false << QByteArray();
    QTest::newRow("head never ends") << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n") << false
                                     << QByteArray();
}

void TestHttpClient::answerShapes()
{
    QFETCH(QByteArray, answer);
    QFETCH(bool, ok);
    QFETCH(QByteArray, body);
    HttpTestServer server;
    server.setRoute("/s", HttpTestResponse::raw(answer));
    QByteArray received("stale");
    QCOMPARE(getBytes(server.url(u"/s"_s).toString(), received), qint64(ok ? body.size() : 0));
    QCOMPARE(received, body);
}

void TestHttpClient::followsRedirects_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("location");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("lastTarget");
    QTest::newRow("302 to a path") << 302 << QByteArray("/b") << QByteArray("target page")
                                   << QByteArray("/b");
    QTest::newRow("301 to a relative path")
        << 301 << QByteArray("b") << QByteArray("target page") << QByteArray("/b");
    QTest::newRow("307 to an absolute URL")
        << 307 << QByteArray("http://127.0.0.1:%1/b") << QByteArray("target page") << QByteArray("/b");
    QTest::newRow("308 to a path with an escape")
        << 308 << QByteArray("/b%7E") << QByteArray("target page") << QByteArray("/b%7E");
    QTest::newRow("endless loop ends as a failure")
        << 302 << QByteArray("/r") << QByteArray() << QByteArray("/r");
    // "/nK" is K more redirects before the page: ten in all is the most followed.
    QTest::newRow("ten redirects reach the page")
        << 302 << QByteArray("/n9") << QByteArray("target page") << QByteArray("/b");
    QTest::newRow("eleven redirects end as a failure")
        << 302 << QByteArray("/n10") << QByteArray() << QByteArray("/n1");
    // Not a redirect: the answer is the page itself.
    QTest::newRow("300 is an answer")
        << 300 << QByteArray("/b") << QByteArray("moved page") << QByteArray("/r");
}

void TestHttpClient::followsRedirects()
{
    QFETCH(int, status);
    QFETCH(QByteArray, location);
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, lastTarget);
    HttpTestServer server;
    location.replace("%1", QByteArray::number(server.port()));
    HttpTestResponse moved = HttpTestResponse::withStatus(status, "Moved", "moved page");
    moved.addHeader("Location", location);
    server.setRoute("/r", moved);
    server.setRoute("/b", HttpTestResponse::ok("target page"));
    server.setRoute("/b%7E", HttpTestResponse::ok("target page"));
    for (int k = 1; k <= 10; ++k) {
        HttpTestResponse hop = HttpTestResponse::withStatus(302, "Found", "moved page");
        hop.addHeader("Location", k == 1 ? QByteArray("/b") : "/n" + QByteArray::number(k - 1));
        server.setRoute("/n" + QByteArray::number(k), hop);
    }
    QByteArray received;
    QCOMPARE(getBytes(server.url(u"/r"_s).toString(), received), qint64(body.size()));
    QCOMPARE(received, body);
    QCOMPARE(server.lastRequest().target, lastTarget);
}

void TestHttpClient::postsAndFollowsAsTheStatusSays_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("follow");
    QTest::addColumn<QByteArray>("secondMethod");
    QTest::addColumn<QByteArray>("answer");
    QTest::newRow("no redirect") << 200 << true << QByteArray() << QByteArray("first");
    QTest::newRow("301 goes on as GET") << 301 << true << QByteArray("GET") << QByteArray("second");
    QTest::newRow("302 goes on as GET") << 302 << true << QByteArray("GET") << QByteArray("second");
    QTest::newRow("303 goes on as GET") << 303 << true << QByteArray("GET") << QByteArray("second");
    QTest::newRow("307 posts again") << 307 << true << QByteArray("POST") << QByteArray("second");
    QTest::newRow("308 posts again") << 308 << true << QByteArray("POST") << QByteArray("second");
    QTest::newRow("not followed: the redirect is the answer")
        << 303 << false << QByteArray() << QByteArray("first");
}

void TestHttpClient::postsAndFollowsAsTheStatusSays()
{
    QFETCH(int, status);
    QFETCH(bool, follow);
    QFETCH(QByteArray, secondMethod);
    QFETCH(QByteArray, answer);
    HttpTestServer server;
    HttpTestResponse first = HttpTestResponse::withStatus(status, "Status", "first");
    if (status != 200)
        first.addHeader("Location", "/second");
    server.setRoute("/first", first);
    server.setRoute("/second", HttpTestResponse::ok("second"));
    const QByteArray body = R"({"longUrl":"http://example.com/a b"})";

    HttpFetch fetch;
    fetch.setLimits(testLimits());
    QSignalSpy finished(&fetch, &HttpFetch::finished);
    fetch.setPostBody(body);
    fetch.setFollowRedirects(follow);
    fetch.setDirect(true);
    fetch.start(server.url(u"/first"_s).toString(), u"Content-Type: application/json"_s);
    QVERIFY(finished.wait(5000));
    QCOMPARE(fetch.outcome(), HttpFetch::Outcome::Answered);
    QCOMPARE(fetch.body(), answer);
    QCOMPARE(fetch.statusCode(), answer == "second" ? 200 : status);

    const QList<HttpTestRequest> requests = server.requests();
    QCOMPARE(requests.size(), secondMethod.isEmpty() ? 1 : 2);
    QCOMPARE(requests.first().method, QByteArray("POST"));
    QCOMPARE(requests.first().body, body);
    QCOMPARE(requests.first().header("Content-Length"), QByteArray::number(body.size()));
    QCOMPARE(requests.first().header("Content-Type"), QByteArray("application/json"));
    if (!secondMethod.isEmpty()) {
        const HttpTestRequest& second = requests.at(1);
        QCOMPARE(second.method, secondMethod);
        QCOMPARE(second.body, secondMethod == "POST" ? body : QByteArray());
        QCOMPARE(second.hasHeader("Content-Length"), secondMethod == "POST");
    }
}

void TestHttpClient::bodyLimitOfOneFetch_data()
{
    QTest::addColumn<qint64>("limit");
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("answered");
    QTest::newRow("at the fetch's limit") << qint64(5000) << 5000 << true;
    QTest::newRow("one byte over the fetch's limit") << qint64(5000) << 5001 << false;
    QTest::newRow("no limit of its own") << qint64(0) << 5001 << true;
}

void TestHttpClient::bodyLimitOfOneFetch()
{
    QFETCH(qint64, limit);
    QFETCH(int, size);
    QFETCH(bool, answered);
    HttpTestServer server;
    // Without a length the size is learnt only from the bytes themselves.
    server.setRoute(
        "/b", HttpTestResponse::raw("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + QByteArray(size, 'b')));
    QByteArray received;
    const qint64 got = getBytes(server.url(u"/b"_s).toString(), received, {}, {}, limit);
    QCOMPARE(got, answered ? qint64(size) : 0);
    QCOMPARE(received.size(), answered ? size : 0);
}

void TestHttpClient::bodyLimit_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("chunked");
    QTest::addColumn<bool>("ok");
    QTest::newRow("exactly the limit") << 1000 << false << true;
    QTest::newRow("one byte over") << 1001 << false << false;
    QTest::newRow("chunked, exactly the limit") << 1000 << true << true;
    QTest::newRow("chunked, one byte over") << 1001 << true << false;
}

void TestHttpClient::bodyLimit()
{
    QFETCH(int, size);
    QFETCH(bool, chunked);
    QFETCH(bool, ok);
    const QByteArray body(size, 'b');
    HttpTestServer server;
    if (chunked) {
        // Two chunks, so that the limit is crossed by the second.
        const QByteArray first = body.left(600);
        const QByteArray second = body.mid(600);
        server.setRoute("/l", HttpTestResponse::raw("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" +
                                                    QByteArray::number(first.size(), 16) + "\r\n" + first +
                                                    "\r\n" + QByteArray::number(second.size(), 16) + "\r\n" +
                                                    second + "\r\n0\r\n\r\n"));
    } else {
        server.setRoute("/l", HttpTestResponse::ok(body));
    }
    QByteArray received;
    QCOMPARE(getBytes(server.url(u"/l"_s).toString(), received, {}, {}, 1000), qint64(ok ? size : 0));
}

void TestHttpClient::sendsTargetAsAssembled_data()
{
    QTest::addColumn<QString>("pathAndQuery");
    QTest::addColumn<QByteArray>("target");
    const auto row = [](const char* name, const QString& pathAndQuery) {
        QTest::newRow(name) << pathAndQuery << pathAndQuery.toLatin1();
    };
    row("escaped tilde", u"/t?v=%7E"_s);
    row("tilde beside escaped tilde", u"/t~?v=~%7E"_s);
    row("unreserved marks as they are", u"/t?v=~.-_*@"_s);
    row("escaped letters, digits and marks", u"/t%41?v=%41%30%2D%2E%5F"_s);
    row("lower-case hexadecimal", u"/t?v=%7e%2f%c3%a9"_s);
    row("dot segments in the path", u"/a/./b/../t?v=./"_s);
    row("plus, escaped plus and escaped space", u"/t?v=a+b%2B%20"_s);
    row("encoded long URL with a Japanese character",
        u"/shorten?longUrl="_s + PercentEncode(u"http://x.example/~a b-c.d_e/あ"_s));
    QTest::newRow("no path") << u"?v=%7E"_s << QByteArray("/?v=%7E");
    QTest::newRow("the fragment is not sent") << u"/t?v=%7E#f%7E"_s << QByteArray("/t?v=%7E");
}

void TestHttpClient::sendsTargetAsAssembled()
{
    QFETCH(QString, pathAndQuery);
    QFETCH(QByteArray, target);
    HttpTestServer server;
    server.setHandler([](const HttpTestRequest&) { return HttpTestResponse::ok("ok"); });
    const QString url = u"http://"_s + server.hostAndPort() + pathAndQuery;
    QByteArray received;
    QCOMPARE(getBytes(url, received), qint64(2));
    QCOMPARE(server.requestCount(), qsizetype(1));
    const HttpTestRequest request = server.lastRequest();
    QCOMPARE(request.target, target);
    QCOMPARE(request.host(), server.hostAndPort().toLatin1());
    QVERIFY2(request.raw.startsWith(QByteArray("GET " + target + " HTTP/1.1\r\n")), request.raw.constData());

    // Through a proxy the request line holds the whole URL, still as assembled.
    HttpTestServer proxy;
    proxy.setHandler([](const HttpTestRequest&) { return HttpTestResponse::ok("ok"); });
    const QString viaProxy = u"http://origin.example"_s + pathAndQuery;
    QCOMPARE(getBytes(viaProxy, received, {}, proxy.hostAndPort()), qint64(2));
    QCOMPARE(proxy.lastRequest().target,
             "http://origin.example" + (target == "/?v=%7E" ? QByteArray("?v=%7E") : target));
    QCOMPARE(proxy.lastRequest().host(), QByteArray("origin.example"));
}

void TestHttpClient::refusesUrlsItWouldHaveToChange_data()
{
    QTest::addColumn<QString>("url");
    QTest::newRow("space") << u"http://%1/t?v=a b"_s;
    QTest::newRow("tab") << u"http://%1/t?v=a\tb"_s;
    QTest::newRow("line break that would start a header") << u"http://%1/t?v=a\r\nX-Evil: 1"_s;
    QTest::newRow("NUL") << QString(u"http://%1/t?v="_s + QChar(0));
    QTest::newRow("DEL") << u"http://%1/t?v=\x7f"_s;
    QTest::newRow("non-ASCII letter") << u"http://%1/t?v=é"_s;
    QTest::newRow("Japanese character") << u"http://%1/あ"_s;
    QTest::newRow("per cent at the end") << u"http://%1/t?v=100%"_s;
    QTest::newRow("per cent with one digit") << u"http://%1/t?v=%4"_s;
    QTest::newRow("per cent without hexadecimal digits") << u"http://%1/t?v=%zz"_s;
    QTest::newRow("brace") << u"http://%1/t?v={x}"_s;
    QTest::newRow("backslash") << u"http://%1/t\\x"_s;
    QTest::newRow("user and password") << u"http://u:p@%1/t"_s;
    QTest::newRow("no host") << u"http:///t"_s;
    QTest::newRow("another scheme") << u"ftp://%1/t"_s;
}

void TestHttpClient::refusesUrlsItWouldHaveToChange()
{
    QFETCH(QString, url);
    HttpTestServer server;
    server.setHandler([](const HttpTestRequest&) { return HttpTestResponse::ok("ok"); });
    if (url.contains(u"%1"_s))
        url = url.arg(server.hostAndPort());
    QVERIFY(!RequestUrlProblem(url).isEmpty());

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"^ServiceCall: "_s));
    QByteArray received("stale");
    QCOMPARE(getBytes(url, received), qint64(0));
    QVERIFY(received.isEmpty());

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"^PictureDownload: "_s));
    QTemporaryDir dir;
    PictureDownload download;
    download.setLimits(testLimits());
    QSignalSpy finished(&download, &PictureDownload::finished);
    download.start(url, dir.filePath(u"hvxlinvera.png"_s));
    // Running until its end is told, also when it ends before anything is sent.
    QVERIFY(download.isRunning());
    QVERIFY(finished.wait(2000));
    QVERIFY(!download.isRunning());
    QCOMPARE(finished.constFirst().at(0).value<PictureDownload::Outcome>(),
             PictureDownload::Outcome::DownloadFailed);
    QCOMPARE(server.connectionCount(), 0);
    QVERIFY(QDir(dir.path()).isEmpty());
}

void TestHttpClient::callersSendTheirBytes_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QByteArray>("target");
    const QByteArray encoded("http%3A%2F%2Fx.example%2F%7Ea+b-c.d_e%2F%E3%81%82");
    const QByteArray query = "version=2.0.1&login=clipurlx&apiKey=" + ShortenerApiKey().toLatin1();
    QTest::newRow("shorten") << u"shorten"_s << "/shorten?" + query + "&longUrl=" + encoded;
    QTest::newRow("shorten, other short-link form")
        << u"shorten alt"_s << "/shorten?" + query + "&longUrl=" + encoded;
    QTest::newRow("info of an own short link")
        << u"info"_s << "/info?" + query + "&shortUrl=http%3A%2F%2Fs.example%2F%7Eab.c-d_e";
    QTest::newRow("expansion through a rule") << u"rule"_s << QByteArray("/expand/%7Eab.c-d_e%E3%81%82");
    QTest::newRow("picture download") << u"download"_s << QByteArray("/p%7Eq.png?s=%41%7e");
    QTest::newRow("picture loader") << u"loader"_s << QByteArray("/p%7Eq.png?s=%41%7e");
}

void TestHttpClient::callersSendTheirBytes()
{
    QFETCH(QString, kind);
    QFETCH(QByteArray, target);
    const QString longUrl = u"http://x.example/~a b-c.d_e/あ"_s;
    Endpoints endpoints;
    endpoints.set(Endpoints::ShortenerDomain, u"s.example"_s);
    HttpTestRequest request;
    if (kind.startsWith(u"shorten"_s) || kind == u"info"_s) {
        ShortenerService service;
        service.setShortUrl(u"http://s.example/~ab"_s);
        service.setInfo({u"http://x.example/page"_s, std::nullopt, std::nullopt});
        endpoints.set(Endpoints::ShortenerApiHost, service.hostAndPort());
        endpoints.set(Endpoints::ShortenerAltApiHost, service.hostAndPort());
        if (kind == u"info"_s)
            QCOMPARE(awaitAnswer<Expansion>([&](auto done) {
                         return ExpandShortLink(u"http://s.example/~ab.c-d_e"_s, {}, {}, endpoints, done,
                                                testLimits());
                     })
                         .value_or(Expansion())
                         .longUrl,
                     u"http://x.example/page"_s);
        else
            QCOMPARE(awaitAnswer<QString>([&](auto done) {
                         return ShortenUrl(longUrl, kind == u"shorten"_s ? 1 : 0, endpoints, done,
                                           testLimits());
                     }).value_or(QString()),
                     u"http://s.example/~ab"_s);
        request = service.lastRequest();
    } else if (kind == u"rule"_s) {
        RuleApiService api;
        api.setLongUrl(u"~ab.c-d_eあ"_s, u"http://x.example/page"_s);
        const Expansion expansion =
            awaitAnswer<Expansion>([&](auto done) {
                return ExpandShortLink(u"http://r.example/~ab.c-d_eあ"_s, api.urlTemplate(),
                                       RuleRegex(api.responsePattern()), endpoints, done, testLimits());
            }).value_or(Expansion());
        QCOMPARE(expansion.longUrl, u"http://x.example/page"_s);
        request = api.lastRequest();
    } else {
        PictureHost pictures;
        pictures.setPicture("/p%7Eq.png", TestPictures::Format::Png, QSize(6, 4));
        const QString url = u"http://"_s + pictures.hostAndPort() + QString::fromLatin1(target);
        QImage image;
        if (kind == u"loader"_s) {
            image = awaitAnswer<LoadedPicture>([&](auto done) { return LoadPictureFromWeb(url, done); })
                        .value_or(LoadedPicture())
                        .image;
        } else {
            QTemporaryDir dir;
            PictureDownload download;
            download.setLimits(testLimits());
            QSignalSpy finished(&download, &PictureDownload::finished);
            download.start(url, dir.filePath(u"hvxlinvera.png"_s));
            QVERIFY(download.isRunning());
            QVERIFY(finished.wait(5000));
            QVERIFY(!download.isRunning());
            QCOMPARE(finished.constFirst().at(0).value<PictureDownload::Outcome>(),
                     PictureDownload::Outcome::Saved);
            image = QImage(dir.filePath(u"hvxlinvera.png"_s));
        }
        QCOMPARE(image.size(), QSize(6, 4));
        request = pictures.lastRequest();
    }
    QCOMPARE(request.target, target);
}

void TestHttpClient::httpsKeepsBytesAndChecksTheServer_data()
{
    QTest::addColumn<bool>("trusted");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("viaProxy"); // a named HTTP proxy whose tunnels lead to the TLS host
    const QByteArray page("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\npage");
    QTest::newRow("trusted server") << true << page << QByteArray("page") << false;
    QTest::newRow("server of an unknown authority") << false << page << QByteArray() << false;
    QTest::newRow("redirect from https to http is refused")
        << true << QByteArray("HTTP/1.1 302 Found\r\nLocation: http://%1/b\r\nContent-Length: 0\r\n\r\n")
        << QByteArray() << false;
    QTest::newRow("through a proxy: CONNECT, then the request as to the server")
        << true << page << QByteArray("page") << true;
    QTest::newRow("through a proxy, server of an unknown authority") << false << page << QByteArray() << true;
}

void TestHttpClient::httpsKeepsBytesAndChecksTheServer()
{
    if (!QSslSocket::supportsSsl())
        QSKIP("no TLS backend");
    QFETCH(bool, trusted);
    QFETCH(QByteArray, answer);
    QFETCH(QByteArray, body);
    QFETCH(bool, viaProxy);
    HttpTestServer plain;
    plain.setHandler([](const HttpTestRequest&) { return HttpTestResponse::ok("plain"); });
    answer.replace("%1", plain.hostAndPort().toLatin1());
    TlsTestHost host(answer);
    TunnelProxy tunnel(host.port());
    // The test's own authority, never the system's store.
    const TrustTestAuthority authority(trusted);

    // Through the proxy the name is the proxy's to resolve; the certificate names it.
    const QString authorityPart = u"short.test:"_s + QString::number(host.port());
    const QString url =
        viaProxy ? u"https://"_s + authorityPart + u"/t?v=%7E%7e"_s : host.url(u"/t?v=%7E%7e"_s);
    const QString proxy = viaProxy ? u"127.0.0.1:"_s + QString::number(tunnel.port()) : QString();
    QByteArray received("stale");
    QCOMPARE(getBytes(url, received, {}, proxy), qint64(body.size()));
    QCOMPARE(received, body);
    QCOMPARE(plain.requestCount(), qsizetype(0));
    if (trusted)
        QCOMPARE(host.requestLines, QByteArrayList{"GET /t?v=%7E%7e HTTP/1.1"});
    else
        QVERIFY(host.requestLines.isEmpty());
    if (viaProxy) {
        QCOMPARE(tunnel.connectHeads.size(), 1);
        const QByteArray connectLine = "CONNECT " + authorityPart.toLatin1() + " HTTP/1.";
        QVERIFY2(tunnel.connectHeads.first().startsWith(connectLine),
                 tunnel.connectHeads.first().constData());
        // The server's name travels in the TLS greeting inside the tunnel, not to the proxy.
        QVERIFY(tunnel.firstTunnelBytes.value(0).contains("short.test"));
    } else {
        QVERIFY(tunnel.connectHeads.isEmpty());
    }
}

void TestHttpClient::extraAuthoritiesAreAdded_data()
{
    QTest::addColumn<QByteArray>("content"); // null: no file at all
    QTest::addColumn<int>("added");
    QTest::addColumn<QString>("problem");
    QTest::newRow("one authority") << TestAuthorityPem() << 1 << QString();
    QTest::newRow("two in one file") << TestAuthorityPem() + TestAuthorityPem() << 2 << QString();
    QTest::newRow("no certificate") << QByteArray("hello\n") << 0 << u"no PEM certificate in the file"_s;
    QTest::newRow("empty file") << QByteArray("") << 0 << u"no PEM certificate in the file"_s;
    QTest::newRow("over 4 MiB") << QByteArray(4 * 1024 * 1024 + 1, 'a') << 0 << u"larger than 4 MiB"_s;
    QTest::newRow("missing file") << QByteArray() << 0 << u"No such file or directory"_s;
}

void TestHttpClient::extraAuthoritiesAreAdded()
{
    if (!QSslSocket::supportsSsl())
        QSKIP("no TLS backend");
    QFETCH(QByteArray, content);
    QFETCH(int, added);
    QFETCH(QString, problem);
    QTemporaryDir dir;
    const QString path = dir.filePath(u"ca.pem"_s);
    if (!content.isNull()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(content), content.size());
    }
    const QSslConfiguration saved = QSslConfiguration::defaultConfiguration();
    const auto restore = qScopeGuard([&saved] { QSslConfiguration::setDefaultConfiguration(saved); });
    QString reason;
    QCOMPARE(TrustExtraAuthorities(path, &reason), added > 0);
    QVERIFY2(reason.contains(problem), qPrintable(reason));
    const QList<QSslCertificate> now = QSslConfiguration::defaultConfiguration().caCertificates();
    if (added == 0) {
        // Nothing changed: the backend still loads the system store by itself.
        QCOMPARE(now, saved.caCertificates());
        return;
    }
    // Added to what was trusted before, which stays.
    QCOMPARE(now.size(), saved.caCertificates().size() + added);
    QCOMPARE(now.mid(0, saved.caCertificates().size()), saved.caCertificates());
    QCOMPARE(now.last(), QSslCertificate(TestAuthorityPem()));

    // And a connection made afterwards trusts the test host.
    TlsTestHost host("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok");
    QByteArray body;
    QCOMPARE(getBytes(host.url(u"/x"_s), body), qint64(2));
    QCOMPARE(body, QByteArray("ok"));
}

QTEST_GUILESS_MAIN(TestHttpClient)
#include "tst_httpclient.moc"
