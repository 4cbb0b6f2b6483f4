#include "HttpTestServer.h"
#include "JsonText.h"
#include "LiveChannelHost.h"
#include "NoticeHost.h"
#include "PictureHost.h"
#include "ProbeProxy.h"
#include "RedirectHost.h"
#include "RuleApiService.h"
#include "ShortenerService.h"
#include "TestPictures.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace linvera::test;

Q_DECLARE_METATYPE(linvera::test::HttpTestDelivery)
Q_DECLARE_METATYPE(linvera::test::TestPictures::Format)
Q_DECLARE_METATYPE(linvera::test::ShortenerService::Failure)
Q_DECLARE_METATYPE(linvera::test::RedirectAnswer)

namespace {

/// What a plain socket saw of one exchange.
struct RawExchange
{
    QList<QByteArray> reads;
    bool closedByPeer = false;
    QByteArray received() const { return reads.join(); }
};

/// Sends the bytes on a fresh connection and collects every read until the server closes or the time is up.
RawExchange exchange(quint16 port, const QByteArray& request, int waitMs = 5000)
{
    RawExchange result;
    QTcpSocket socket;
    QEventLoop loop;
    QObject::connect(&socket, &QTcpSocket::connected, &socket, [&] { socket.write(request); });
    QObject::connect(&socket, &QTcpSocket::readyRead, &socket,
                     [&] { result.reads.append(socket.readAll()); });
    QObject::connect(&socket, &QTcpSocket::disconnected, &loop, [&] {
        result.closedByPeer = true;
        loop.quit();
    });
    QTimer::singleShot(waitMs, &loop, &QEventLoop::quit);
    socket.connectToHost(QHostAddress::LocalHost, port);
    loop.exec();
    return result;
}

struct Fetched
{
    bool finished = false;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    int status = 0;
    QByteArray body;
    QByteArray contentType;
};

Fetched fetch(const QUrl& url, int timeoutMs = 5000)
{
    QNetworkAccessManager manager;
    manager.setProxy(QNetworkProxy::NoProxy);
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    std::unique_ptr<QNetworkReply> reply(manager.get(request));
    QEventLoop loop;
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    Fetched result;
    result.finished = reply->isFinished();
    if (!result.finished) {
        reply->abort();
        return result;
    }
    result.error = reply->error();
    result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    result.body = reply->readAll();
    result.contentType = reply->header(QNetworkRequest::ContentTypeHeader).toByteArray();
    return result;
}

QString firstGroup(const QString& pattern, const QString& text)
{
    const QRegularExpression expression(pattern, QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = expression.match(text);
    return match.hasMatch() ? match.captured(1) : QString();
}

HttpTestResponse sampleAnswer()
{
    HttpTestResponse response = RedirectAnswer::movedTo("http://example.test/long/page").toResponse();
    response.body = "<html><body>moved to the long page</body></html>";
    return response;
}

} // namespace

class TestTestServers : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void listensOnLoopback();
    void recordsExactRequest_data();
    void recordsExactRequest();
    void decodesQueryFormStyle_data();
    void decodesQueryFormStyle();
    void deliversAsConfigured_data();
    void deliversAsConfigured();
    void resetSendsTcpReset();
    void resetAndSilenceSeenByNetworkAccess();
    void servesBodyOfAnySize_data();
    void servesBodyOfAnySize();
    void closedPortRefuses();
    void waitForRequestsTimesOut();
    void quotesJson_data();
    void quotesJson();
    void shortenerAnswers_data();
    void shortenerAnswers();
    void shortenerInfo();
    void ruleApiAnswers_data();
    void ruleApiAnswers();
    void redirectHostAnswersRaw_data();
    void redirectHostAnswersRaw();
    void probeProxyTakesAbsoluteForm();
    void liveChannelHost_data();
    void liveChannelHost();
    void picturesDecode_data();
    void picturesDecode();
    void picturesOfExactSize_data();
    void picturesOfExactSize();
    void pictureHostServes_data();
    void pictureHostServes();
    void noticeHostServes_data();
    void noticeHostServes();
};

void TestTestServers::listensOnLoopback()
{
    HttpTestServer server;
    QVERIFY(server.isListening());
    QVERIFY(server.port() != 0);
    QCOMPARE(server.hostAndPort(), QStringLiteral("127.0.0.1:") + QString::number(server.port()));
    QCOMPARE(server.url(QStringLiteral("/a?b=c")).toString(),
             QStringLiteral("http://127.0.0.1:") + QString::number(server.port()) + QStringLiteral("/a?b=c"));
    HttpTestServer other;
    QVERIFY(other.port() != server.port());
}

void TestTestServers::recordsExactRequest_data()
{
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QByteArray>("version");
    QTest::addColumn<QByteArray>("host");
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("body");

    QTest::newRow("probe, direct") << QByteArray("GET /abc HTTP/1.0\r\nHost: h\r\n\r\n") << QByteArray("GET")
                                   << QByteArray("/abc") << QByteArray("HTTP/1.0") << QByteArray("h")
                                   << QByteArray("/abc") << QByteArray();
    QTest::newRow("probe, absolute form")
        << QByteArray("GET http://h/abc HTTP/1.0\r\nHost: h\r\n\r\n") << QByteArray("GET")
        << QByteArray("http://h/abc") << QByteArray("HTTP/1.0") << QByteArray("h") << QByteArray("/abc")
        << QByteArray();
    QTest::newRow("query and several headers")
        << QByteArray("GET /shorten?a=1&b=2 HTTP/1.1\r\nHost: api.test:8080\r\nUser-Agent: x y\r\n"
                      "Accept: */*\r\n\r\n")
        << QByteArray("GET") << QByteArray("/shorten?a=1&b=2") << QByteArray("HTTP/1.1")
        << QByteArray("api.test:8080") << QByteArray("/shorten") << QByteArray();
    QTest::newRow("POST with body") << QByteArray("POST /up HTTP/1.1\r\nHost: h\r\nContent-Length: 11\r\n\r\n"
                                                  "hello\r\nworl")
                                    << QByteArray("POST") << QByteArray("/up") << QByteArray("HTTP/1.1")
                                    << QByteArray("h") << QByteArray("/up") << QByteArray("hello\r\nworl");
    QTest::newRow("no Host header") << QByteArray("GET / HTTP/1.0\r\n\r\n") << QByteArray("GET")
                                    << QByteArray("/") << QByteArray("HTTP/1.0") << QByteArray()
                                    << QByteArray("/") << QByteArray();
}

void TestTestServers::recordsExactRequest()
{
    QFETCH(QByteArray, sent);
    QFETCH(QByteArray, method);
    QFETCH(QByteArray, target);
    QFETCH(QByteArray, version);
    QFETCH(QByteArray, host);
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, body);

    HttpTestServer server;
    server.setHandler(
        [](const HttpTestRequest& request) { return HttpTestResponse::ok("seen " + request.target); });
    const RawExchange seen = exchange(server.port(), sent);
    QVERIFY(seen.closedByPeer);
    QVERIFY(seen.received().endsWith(QByteArray("seen " + target)));
    QCOMPARE(server.requestCount(), 1);
    const HttpTestRequest request = server.lastRequest();
    QCOMPARE(request.raw, sent);
    QCOMPARE(request.method, method);
    QCOMPARE(request.target, target);
    QCOMPARE(request.version, version);
    QCOMPARE(request.host(), host);
    QCOMPARE(request.path(), path);
    QCOMPARE(request.body, body);
    QCOMPARE(request.peerAddress, QHostAddress(QHostAddress::LocalHost));
    QVERIFY(request.peerPort != 0);
    QCOMPARE(request.connection, 1);
}

void TestTestServers::decodesQueryFormStyle_data()
{
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("present");

    QTest::newRow("plus is a space") << QByteArray("/s?longUrl=a+b") << QStringLiteral("longUrl")
                                     << QStringLiteral("a b") << true;
    QTest::newRow("encoded plus stays plus")
        << QByteArray("/s?q=1%2B1") << QStringLiteral("q") << QStringLiteral("1+1") << true;
    QTest::newRow("UTF-8 triplets") << QByteArray("/s?t=%E3%81%82%E3%81%84") << QStringLiteral("t")
                                    << QStringLiteral(u"あい") << true;
    QTest::newRow("encoded URL") << QByteArray(
                                        "/s?version=2.0.1&longUrl=http%3A%2F%2Fx.test%2F%3Fa%3D1%26b%3D2")
                                 << QStringLiteral("longUrl") << QStringLiteral("http://x.test/?a=1&b=2")
                                 << true;
    QTest::newRow("empty value") << QByteArray("/s?a=&b=2") << QStringLiteral("a") << QStringLiteral("")
                                 << true;
    QTest::newRow("absent key") << QByteArray("/s?a=1") << QStringLiteral("b") << QString() << false;
    QTest::newRow("key case matters")
        << QByteArray("/s?LongUrl=1") << QStringLiteral("longUrl") << QString() << false;
}

void TestTestServers::decodesQueryFormStyle()
{
    QFETCH(QByteArray, target);
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(bool, present);

    HttpTestRequest request;
    request.target = target;
    QCOMPARE(request.hasQueryItem(key), present);
    QCOMPARE(request.queryValue(key), value);
    QCOMPARE(request.queryValue(key).isNull(), !present);
}

void TestTestServers::deliversAsConfigured_data()
{
    QTest::addColumn<HttpTestDelivery>("delivery");
    QTest::addColumn<QList<QByteArray>>("expectedReads");
    QTest::addColumn<bool>("closes");

    const QByteArray all = sampleAnswer().toBytes();
    const qsizetype head = sampleAnswer().headSize();
    const qsizetype location = all.indexOf("Location: ") + 5;

    QTest::newRow("whole") << HttpTestDelivery::whole() << QList<QByteArray>{all} << true;
    QTest::newRow("split in 40-byte chunks")
        << HttpTestDelivery::chunks(40, 100) << HttpTestDelivery::chunks(40, 100).pieces(all) << true;
    QTest::newRow("split inside Location and before the body")
        << HttpTestDelivery::splitAfterTexts({"Locat", "\r\n\r\n"}, 100)
        << QList<QByteArray>{all.left(location), all.mid(location, head - location), all.mid(head)} << true;
    QTest::newRow("split at offsets") << HttpTestDelivery::splitAt({3, 10}, 100)
                                      << QList<QByteArray>{all.left(3), all.mid(3, 7), all.mid(10)} << true;
    QTest::newRow("truncated to 5 body bytes")
        << HttpTestDelivery::truncated(5) << QList<QByteArray>{all.left(head + 5)} << true;
    QTest::newRow("close without answer")
        << HttpTestDelivery::closeWithoutAnswer() << QList<QByteArray>{} << true;
    QTest::newRow("silent for a second") << HttpTestDelivery::silent() << QList<QByteArray>{} << false;
}

void TestTestServers::deliversAsConfigured()
{
    QFETCH(HttpTestDelivery, delivery);
    QFETCH(QList<QByteArray>, expectedReads);
    QFETCH(bool, closes);

    HttpTestServer server;
    server.setRoute("/abc", sampleAnswer());
    server.setDelivery(delivery);
    const RawExchange seen =
        exchange(server.port(), "GET /abc HTTP/1.0\r\nHost: h\r\n\r\n", closes ? 5000 : 1000);
    QCOMPARE(server.requestCount(), 1);
    QCOMPARE(seen.closedByPeer, closes);
    QCOMPARE(seen.reads, expectedReads);
    if (delivery.mode == HttpTestDelivery::Mode::Split)
        QVERIFY(seen.reads.size() >= 3);
    QTRY_COMPARE(server.openConnectionCount(), closes ? 0 : 1);
}

void TestTestServers::resetSendsTcpReset()
{
    HttpTestServer server;
    server.setDelivery(HttpTestDelivery::reset());
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    QVERIFY(fd >= 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(server.port());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // The kernel completes the handshake from the listen queue, so a blocking connect is fine here.
    QCOMPARE(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const QByteArray request("GET / HTTP/1.0\r\n\r\n");
    QCOMPARE(::send(fd, request.constData(), size_t(request.size()), 0), ssize_t(request.size()));
    QVERIFY(server.waitForRequests(1));
    char byte = 0;
    ssize_t got = -1;
    int error = 0;
    // Poll without blocking: the server answers on this thread's event loop. A reset is reported once.
    QElapsedTimer clock;
    clock.start();
    do {
        QTest::qWait(10);
        got = ::recv(fd, &byte, 1, MSG_DONTWAIT);
        error = got < 0 ? errno : 0;
    } while (got < 0 && (error == EAGAIN || error == EWOULDBLOCK) && clock.elapsed() < 5000);
    ::close(fd);
    QCOMPARE(got, ssize_t(-1));
    QCOMPARE(error, ECONNRESET);
}

void TestTestServers::resetAndSilenceSeenByNetworkAccess()
{
    HttpTestServer server;
    server.setDelivery(HttpTestDelivery::reset());
    const Fetched reset = fetch(server.url(QStringLiteral("/x")));
    QVERIFY(reset.finished);
    QCOMPARE(reset.error, QNetworkReply::RemoteHostClosedError);
    QVERIFY(server.requestCount() >= 1); // the client may retry a request that got no byte at all

    server.setDelivery(HttpTestDelivery::silent());
    server.clearRequests();
    const Fetched silent = fetch(server.url(QStringLiteral("/x")), 1000);
    QVERIFY(!silent.finished);
    QCOMPARE(server.requestCount(), 1);
}

void TestTestServers::servesBodyOfAnySize_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<HttpTestDelivery>("delivery");
    QTest::newRow("empty") << 0 << HttpTestDelivery::whole();
    QTest::newRow("one byte") << 1 << HttpTestDelivery::whole();
    QTest::newRow("70,000 bytes") << 70000 << HttpTestDelivery::whole();
    QTest::newRow("70,000 bytes in 1,000-byte writes") << 70000 << HttpTestDelivery::chunks(1000, 1);
    QTest::newRow("3 MB") << 3 * 1024 * 1024 << HttpTestDelivery::whole();
}

void TestTestServers::servesBodyOfAnySize()
{
    QFETCH(int, size);
    QFETCH(HttpTestDelivery, delivery);
    QByteArray body(size, '\0');
    for (int i = 0; i < size; ++i)
        body[i] = char('a' + i % 26);
    HttpTestServer server;
    HttpTestResponse response = HttpTestResponse::ok(body, "application/octet-stream");
    response.delivery = delivery;
    server.setRoute("/big", response);
    const Fetched got = fetch(server.url(QStringLiteral("/big")), 20000);
    QVERIFY(got.finished);
    QCOMPARE(got.error, QNetworkReply::NoError);
    QCOMPARE(got.status, 200);
    QCOMPARE(got.body.size(), size);
    QCOMPARE(got.body, body);
}

void TestTestServers::closedPortRefuses()
{
    const quint16 port = HttpTestServer::closedPort();
    QVERIFY(port != 0);
    const Fetched got = fetch(QUrl(QStringLiteral("http://127.0.0.1:") + QString::number(port) + u'/'));
    QVERIFY(got.finished);
    QCOMPARE(got.error, QNetworkReply::ConnectionRefusedError);
}

void TestTestServers::waitForRequestsTimesOut()
{
    HttpTestServer server;
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!server.waitForRequests(1, 300));
    QVERIFY(clock.elapsed() >= 250);
    QVERIFY(clock.elapsed() < 3000);
    const Fetched got = fetch(server.url());
    QCOMPARE(got.status, 404);
    QVERIFY(server.waitForRequests(1, 100));
}

void TestTestServers::quotesJson_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("escapeSlashes");
    QTest::addColumn<QByteArray>("quoted");
    QTest::newRow("ASCII URL") << QStringLiteral("http://a.test/b") << false
                               << QByteArray("\"http://a.test/b\"");
    QTest::newRow("escaped slashes") << QStringLiteral("http://a.test/b") << true
                                     << QByteArray("\"http:\\/\\/a.test\\/b\"");
    QTest::newRow("Japanese title") << QStringLiteral(u"あア") << false << QByteArray("\"\\u3042\\u30a2\"");
    QTest::newRow("quote and backslash")
        << QStringLiteral("a\"b\\c") << false << QByteArray("\"a\\\"b\\\\c\"");
    QTest::newRow("emoji as surrogates") << QStringLiteral(u"😀") << false << QByteArray("\"\\ud83d\\ude00\"");
    QTest::newRow("control character") << QStringLiteral("a\x01") << false << QByteArray("\"a\\u0001\"");
    QTest::newRow("empty") << QString() << false << QByteArray("\"\"");
}

void TestTestServers::quotesJson()
{
    QFETCH(QString, text);
    QFETCH(bool, escapeSlashes);
    QFETCH(QByteArray, quoted);
    QCOMPARE(jsonQuote(text, escapeSlashes), quoted);
}

void TestTestServers::shortenerAnswers_data()
{
    QTest::addColumn<QString>("configuredShortUrl"); // null: the server's default
    QTest::addColumn<ShortenerService::Failure>("failure");
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("hasShortUrl");
    QTest::addColumn<QString>("expectedShortUrl"); // null: the default for the long URL

    using F = ShortenerService::Failure;
    QTest::newRow("default short link") << QString() << F::None << 200 << true << QString();
    QTest::newRow("configured short link") << QStringLiteral("http://j.example/Zx9") << F::None << 200 << true
                                           << QStringLiteral("http://j.example/Zx9");
    QTest::newRow("empty short link") << QStringLiteral("") << F::None << 200 << true << QStringLiteral("");
    QTest::newRow("API error") << QString() << F::ApiError << 200 << false << QString();
    QTest::newRow("HTTP 500") << QString() << F::HttpError << 500 << false << QString();
}

void TestTestServers::shortenerAnswers()
{
    QFETCH(QString, configuredShortUrl);
    QFETCH(ShortenerService::Failure, failure);
    QFETCH(int, status);
    QFETCH(bool, hasShortUrl);
    QFETCH(QString, expectedShortUrl);

    ShortenerService service;
    if (!configuredShortUrl.isNull())
        service.setShortUrl(configuredShortUrl);
    service.setFailure(failure);
    const QString longUrl = QStringLiteral(u"http://example.test/ページ a?x=1&y=2");
    if (expectedShortUrl.isNull() && hasShortUrl)
        expectedShortUrl = service.defaultShortUrl(longUrl);
    const QUrl request = service.url(
        QStringLiteral("/shorten?version=2.0.1&login=clipurlx&apiKey=R_5c1e0f7a9b2d4e6f8a0c1b3d5e7f9a2b"
                       "&longUrl=http%3A%2F%2Fexample.test%2F%E3%83%9A%E3%83%BC%E3%82%B8+a%3Fx%3D1%26y%3D2"));
    const Fetched got = fetch(request);
    QVERIFY(got.finished);
    QCOMPARE(got.status, status);

    const QList<ShortenerService::Call> calls = service.calls();
    QCOMPARE(calls.size(), 1);
    QCOMPARE(calls[0].operation, QByteArray("shorten"));
    QCOMPARE(calls[0].version, QStringLiteral("2.0.1"));
    QCOMPARE(calls[0].login, QStringLiteral("clipurlx"));
    QCOMPARE(calls[0].apiKey, QStringLiteral("R_5c1e0f7a9b2d4e6f8a0c1b3d5e7f9a2b"));
    QCOMPARE(calls[0].longUrl, longUrl);
    QVERIFY(calls[0].shortUrl.isNull());
    QCOMPARE(calls[0].params.size(), 4);

    const QString text = QString::fromLatin1(got.body);
    const QRegularExpression shortPattern(QStringLiteral("\"shortUrl\": \"(.*?)\""),
                                          QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = shortPattern.match(text);
    QCOMPARE(match.hasMatch(), hasShortUrl);
    if (hasShortUrl) {
        QCOMPARE(match.captured(1), expectedShortUrl);
        QCOMPARE(got.body, ShortenerService::shortenAnswer(longUrl, expectedShortUrl));
        QVERIFY(got.body.startsWith("{\"errorCode\": 0, \"errorMessage\": \"\", \"results\": {"
                                    "\"http://example.test/\\u30da\\u30fc\\u30b8 a?x=1&y=2\": {\"hash\": "));
        QVERIFY(got.body.endsWith("}}, \"statusCode\": \"OK\"}"));
    }
    if (failure == ShortenerService::Failure::ApiError)
        QVERIFY(got.body.startsWith("{\"errorCode\": 500, "));
}

void TestTestServers::shortenerInfo()
{
    ShortenerService service;
    service.setInfoFunction([](const QString& shortUrl) -> std::optional<ShortenerService::Info> {
        if (shortUrl != QStringLiteral("http://S.EXAMPLE/abc"))
            return std::nullopt;
        ShortenerService::Info info;
        info.longUrl = QStringLiteral("http://example.test/long");
        info.urlFetched = QStringLiteral("http://example.test/long/final");
        info.htmlTitle = QStringLiteral(u"日本語のタイトル");
        return info;
    });
    const Fetched known = fetch(service.url(
        QStringLiteral("/info?version=2.0.1&login=clipurlx&apiKey=R_5c1e0f7a9b2d4e6f8a0c1b3d5e7f9a2b&"
                       "shortUrl=http%3A%2F%2FS.EXAMPLE%2Fabc")));
    QCOMPARE(known.status, 200);
    const QString text = QString::fromLatin1(known.body);
    QCOMPARE(firstGroup(QStringLiteral("\"longUrl\": \"(.*?)\""), text),
             QStringLiteral("http://example.test/long"));
    QCOMPARE(firstGroup(QStringLiteral("\"urlFetched\": \"(.*?)\""), text),
             QStringLiteral("http://example.test/long/final"));
    QCOMPARE(firstGroup(QStringLiteral("\"htmlTitle\": \"(.*?)\""), text),
             QStringLiteral("\\u65e5\\u672c\\u8a9e\\u306e\\u30bf\\u30a4\\u30c8\\u30eb"));

    const Fetched unknown =
        fetch(service.url(QStringLiteral("/info?version=2.0.1&shortUrl=http%3A%2F%2Fs.example%2Fzzz")));
    QCOMPARE(unknown.status, 200);
    QVERIFY(firstGroup(QStringLiteral("\"longUrl\": \"(.*?)\""), QString::fromLatin1(unknown.body)).isNull());

    const QList<ShortenerService::Call> calls = service.calls();
    QCOMPARE(calls.size(), 2);
    QCOMPARE(calls[0].operation, QByteArray("info"));
    QCOMPARE(calls[0].shortUrl, QStringLiteral("http://S.EXAMPLE/abc"));
    QVERIFY(calls[0].longUrl.isNull());
    QCOMPARE(calls[1].shortUrl, QStringLiteral("http://s.example/zzz"));
    QVERIFY(calls[1].login.isNull());

    const Fetched other = fetch(service.url(QStringLiteral("/expand")));
    QCOMPARE(other.status, 404);
    QCOMPARE(service.calls().size(), 2);
}

void TestTestServers::ruleApiAnswers_data()
{
    QTest::addColumn<QString>("queryKey");
    QTest::addColumn<QString>("code");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("longUrl");

    QTest::newRow("code in path") << QString() << QStringLiteral("k3y") << 200
                                  << QStringLiteral("http://example.test/long/page");
    QTest::newRow("code in query") << QStringLiteral("code") << QStringLiteral("k3y") << 200
                                   << QStringLiteral("http://example.test/long/page");
    QTest::newRow("unknown code") << QString() << QStringLiteral("nope") << 404 << QString();
    QTest::newRow("empty code") << QString() << QStringLiteral("") << 404 << QString();
    QTest::newRow("empty code mapped")
        << QStringLiteral("c") << QStringLiteral("") << 200 << QStringLiteral("http://example.test/root");
}

void TestTestServers::ruleApiAnswers()
{
    QFETCH(QString, queryKey);
    QFETCH(QString, code);
    QFETCH(int, status);
    QFETCH(QString, longUrl);

    RuleApiService service;
    service.setQueryKey(queryKey);
    service.setLongUrl(QStringLiteral("k3y"), QStringLiteral("http://example.test/long/page"));
    if (code.isEmpty() && status == 200)
        service.setLongUrl(QString(), longUrl);
    QString requestUrl = service.urlTemplate();
    QVERIFY(requestUrl.contains(QStringLiteral("($)")));
    requestUrl.replace(QStringLiteral("($)"), code);
    const Fetched got = fetch(QUrl(requestUrl));
    QCOMPARE(got.status, status);
    QCOMPARE(service.codes(), QStringList{code});
    if (status == 200) {
        QVERIFY(got.body.contains(QByteArray("\"long_url\": " + jsonQuote(longUrl, true))));
        QVERIFY(got.body.contains("\\/"));
        QString extracted = firstGroup(service.responsePattern(), QString::fromLatin1(got.body));
        QCOMPARE(extracted.remove(u'\\'), longUrl);
    } else {
        QVERIFY(firstGroup(service.responsePattern(), QString::fromLatin1(got.body)).isNull());
    }
}

void TestTestServers::redirectHostAnswersRaw_data()
{
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<RedirectAnswer>("answer");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("301 with Location")
        << QByteArray("/abc") << RedirectAnswer::movedTo("http://example.test/long")
        << QByteArray("HTTP/1.0 301 Moved Permanently\r\nLocation: http://example.test/long\r\n"
                      "Content-Type: text/html\r\n\r\n<html><head><title>Moved</title></head><body><a "
                      "href=\"http://example.test/long\">moved here</a></body></html>");
    RedirectAnswer lower = RedirectAnswer::movedTo("http://example.test/x", 302);
    lower.locationName = "location";
    lower.body.clear();
    lower.extraHeaderLines = {"Server: tiny", "X-Note: a b"};
    QTest::newRow("302, lower-case location, extra lines")
        << QByteArray("/def") << lower
        << QByteArray("HTTP/1.0 302 Found\r\nlocation: http://example.test/x\r\nContent-Type: text/html\r\n"
                      "Server: tiny\r\nX-Note: a b\r\n\r\n");
    QTest::newRow("200 page without Location")
        << QByteArray("/p") << RedirectAnswer::page("hello")
        << QByteArray("HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\nhello");
}

void TestTestServers::redirectHostAnswersRaw()
{
    QFETCH(QByteArray, target);
    QFETCH(RedirectAnswer, answer);
    QFETCH(QByteArray, expected);

    RedirectHost host;
    host.setAnswer(target, answer);
    const QByteArray request = "GET " + target + " HTTP/1.0\r\nHost: h\r\n\r\n";
    const RawExchange seen = exchange(host.port(), request);
    QVERIFY(seen.closedByPeer);
    QCOMPARE(seen.received(), expected);
    QCOMPARE(host.rawRequests(), QList<QByteArray>{request});

    // Any other target gets the default answer.
    const RawExchange other = exchange(host.port(), "GET /zzz HTTP/1.0\r\nHost: h\r\n\r\n");
    QVERIFY(other.received().startsWith("HTTP/1.0 404 Not Found\r\n"));
    QVERIFY(!other.received().contains("Location"));
}

void TestTestServers::probeProxyTakesAbsoluteForm()
{
    ProbeProxy proxy;
    proxy.redirect("http://h.test/abc", "http://example.test/target");
    proxy.setDelivery(HttpTestDelivery::splitAfterTexts({"Location: http", "\r\n\r\n"}, 50));
    const QByteArray request("GET http://h.test/abc HTTP/1.0\r\nHost: h.test\r\n\r\n");
    const RawExchange seen = exchange(proxy.port(), request);
    QCOMPARE(seen.received(), RedirectAnswer::movedTo("http://example.test/target").toBytes());
    QCOMPARE(seen.reads.size(), 3);
    QVERIFY(seen.reads[0].endsWith("Location: http"));
    QVERIFY(seen.reads[2].startsWith("<html>"));
    QCOMPARE(proxy.requestedUrls(), QList<QByteArray>{"http://h.test/abc"});
    QCOMPARE(proxy.lastRequest().raw, request);

    proxy.clearDelivery();
    const RawExchange origin = exchange(proxy.port(), "GET /abc HTTP/1.0\r\nHost: h.test\r\n\r\n");
    QVERIFY(origin.received().startsWith("HTTP/1.0 400 Bad Request\r\n"));
    const RawExchange unknown = exchange(proxy.port(), "GET http://other.test/abc HTTP/1.0\r\n\r\n");
    QVERIFY(unknown.received().startsWith("HTTP/1.0 404 Not Found\r\n"));
    QCOMPARE(proxy.requestCount(), 3);
}

void TestTestServers::liveChannelHost_data()
{
    QTest::addColumn<QString>("channelUrlValue");
    QTest::addColumn<QString>("title");
    QTest::addColumn<bool>("bomInTitle");

    QTest::newRow("defaults") << QString() << QString() << false;
    QTest::newRow("value and title with spaces") << QStringLiteral("x ") << QStringLiteral(" T ") << false;
    QTest::newRow("second mark inside the title")
        << QStringLiteral("ch9") << QStringLiteral(u"生放送テスト") << true;
}

void TestTestServers::liveChannelHost()
{
    QFETCH(QString, channelUrlValue);
    QFETCH(QString, title);
    QFETCH(bool, bomInTitle);

    LiveChannelHost host;
    if (!channelUrlValue.isNull())
        host.setChannelUrlValue(channelUrlValue);
    if (!title.isNull())
        host.setTitle(title);
    host.setBomInTitle(bomInTitle);

    const QByteArray request =
        "GET " + host.shortPath() + " HTTP/1.0\r\nHost: " + host.hostAndPort().toLatin1() + "\r\n\r\n";
    const RawExchange redirect = exchange(host.port(), request);
    const QByteArray expectedLocation = "http://" + host.hostAndPort().toLatin1() + "/channel/ch0001#ref=top";
    QCOMPARE(host.location(), expectedLocation);
    QVERIFY(redirect.received().startsWith(
        QByteArray("HTTP/1.0 301 Moved Permanently\r\nLocation: " + expectedLocation + "\r\n")));

    const Fetched page = fetch(QUrl(QString::fromLatin1(expectedLocation)));
    QCOMPARE(page.status, 200);
    QCOMPARE(page.body, host.channelPage());
    QVERIFY(page.body.startsWith("\xEF\xBB\xBF<!DOCTYPE html>"));
    QCOMPARE(page.body.count("\xEF\xBB\xBF"), bomInTitle ? 2 : 1);
    QByteArray withoutMarks = page.body;
    withoutMarks.replace("\xEF\xBB\xBF", "");
    const QString text = QString::fromUtf8(withoutMarks);
    const QString expectedValue = channelUrlValue.isNull() ? QStringLiteral("ch0001") : channelUrlValue;
    QCOMPARE(firstGroup(QStringLiteral("channelUrl=\"(.*?)\""), text), expectedValue);
    QCOMPARE(firstGroup(QStringLiteral("<title>(.*?)<\\/title>"), text), u' ' + host.title() + u' ');
    QCOMPARE(host.requests().last().path(), QByteArray("/channel/ch0001"));
}

void TestTestServers::picturesDecode_data()
{
    QTest::addColumn<TestPictures::Format>("format");
    QTest::addColumn<QSize>("size");
    using F = TestPictures::Format;
    QTest::newRow("PNG") << F::Png << QSize(40, 30);
    QTest::newRow("JPEG") << F::Jpeg << QSize(64, 48);
    QTest::newRow("GIF") << F::Gif << QSize(50, 21);
    QTest::newRow("GIF larger than one block") << F::Gif << QSize(300, 200);
    QTest::newRow("BMP") << F::Bmp << QSize(7, 5);
}

void TestTestServers::picturesDecode()
{
    QFETCH(TestPictures::Format, format);
    QFETCH(QSize, size);
    const QByteArray bytes = TestPictures::make(format, size);
    QVERIFY(!bytes.isEmpty());
    QImage image;
    QVERIFY(image.loadFromData(bytes));
    QCOMPARE(image.size(), size);
    if (format == TestPictures::Format::Png || format == TestPictures::Format::Bmp)
        QCOMPARE(image.convertToFormat(QImage::Format_RGB32), TestPictures::pattern(size));
    if (format == TestPictures::Format::Gif) {
        // 4 x 8 x 4 colour levels: each channel within half a step of the pattern.
        const QImage expected = TestPictures::pattern(size);
        const QRgb a = image.pixel(size.width() - 1, size.height() - 1);
        const QRgb b = expected.pixel(size.width() - 1, size.height() - 1);
        QVERIFY(qAbs(qRed(a) - qRed(b)) < 86 && qAbs(qGreen(a) - qGreen(b)) < 37 &&
                qAbs(qBlue(a) - qBlue(b)) < 86);
    }
}

void TestTestServers::picturesOfExactSize_data()
{
    QTest::addColumn<TestPictures::Format>("format");
    QTest::addColumn<int>("bytes");
    using F = TestPictures::Format;
    QTest::newRow("PNG 2,500") << F::Png << 2500;
    QTest::newRow("PNG 70,000") << F::Png << 70000;
    QTest::newRow("JPEG 2,500") << F::Jpeg << 2500;
    QTest::newRow("JPEG 140,000, several comment segments") << F::Jpeg << 140000;
    QTest::newRow("GIF 2,500") << F::Gif << 2500;
    QTest::newRow("BMP 2,500") << F::Bmp << 2500;
}

void TestTestServers::picturesOfExactSize()
{
    QFETCH(TestPictures::Format, format);
    QFETCH(int, bytes);
    const QByteArray picture = TestPictures::makeExactly(format, bytes);
    QCOMPARE(picture.size(), bytes);
    QImage image;
    QVERIFY(image.loadFromData(picture));
    QCOMPARE(image.size(), QSize(8, 8));
    QVERIFY(TestPictures::makeExactly(format, 10).isEmpty()); // smaller than the picture itself
}

void TestTestServers::pictureHostServes_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QNetworkReply::NetworkError>("error");
    QTest::addColumn<int>("bytes");         // -1: not checked
    QTest::addColumn<QSize>("decodedSize"); // invalid: does not decode

    QTest::newRow("small PNG") << QByteArray("/small.png") << QNetworkReply::NoError << 2500 << QSize(8, 8);
    QTest::newRow("large PNG") << QByteArray("/large.png") << QNetworkReply::NoError << -1 << QSize(320, 240);
    QTest::newRow("JPEG") << QByteArray("/photo.jpg") << QNetworkReply::NoError << -1 << QSize(64, 48);
    QTest::newRow("GIF") << QByteArray("/anim.gif") << QNetworkReply::NoError << -1 << QSize(40, 30);
    QTest::newRow("BMP") << QByteArray("/image.bmp") << QNetworkReply::NoError << -1 << QSize(24, 16);
    QTest::newRow("text under a picture name")
        << QByteArray("/text.png") << QNetworkReply::NoError << 24 << QSize();
    QTest::newRow("missing") << QByteArray("/missing.png") << QNetworkReply::ContentNotFoundError << -1
                             << QSize();
}

void TestTestServers::pictureHostServes()
{
    QFETCH(QByteArray, path);
    QFETCH(QNetworkReply::NetworkError, error);
    QFETCH(int, bytes);
    QFETCH(QSize, decodedSize);

    PictureHost host;
    const Fetched got = fetch(host.url(QString::fromLatin1(path)));
    QVERIFY(got.finished);
    QCOMPARE(got.error, error);
    if (bytes >= 0)
        QCOMPARE(got.body.size(), bytes);
    if (error == QNetworkReply::NoError)
        QCOMPARE(got.body, host.bytesAt(path));
    QImage image;
    QCOMPARE(image.loadFromData(got.body), decodedSize.isValid());
    if (decodedSize.isValid())
        QCOMPARE(image.size(), decodedSize);
}

void TestTestServers::noticeHostServes_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("broken");

    QTest::newRow("notice") << QByteArray() << 200 << false;
    QTest::newRow("short-link rules") << QByteArray("tinyurls.txt") << 200 << false;
    QTest::newRow("picture rules") << QByteArray("picturls.txt") << 200 << false;
    QTest::newRow("notice missing") << QByteArray() << 404 << false;
    QTest::newRow("rules failing") << QByteArray("tinyurls.txt") << 500 << false;
    QTest::newRow("notice broken midway") << QByteArray() << 200 << true;
}

void TestTestServers::noticeHostServes()
{
    QFETCH(QByteArray, name);
    QFETCH(int, status);
    QFETCH(bool, broken);

    NoticeHost host;
    const QByteArray body =
        name.isEmpty() ? NoticeHost::noticeXml(NoticeHost::sampleNotice()) : host.body(name);
    if (status != 200)
        host.setFile(name, "failed", status);
    host.setBroken(name, broken);
    const QString query = name.isEmpty() ? QStringLiteral("?ver=2_1_0") : QString();
    const Fetched got = fetch(host.url(QString::fromLatin1(host.basePath() + name) + query));
    QVERIFY(got.finished);
    QCOMPARE(got.status, status);
    QCOMPARE(host.namesRequested(), QList<QByteArray>{name});
    QCOMPARE(host.versionsRequested(), name.isEmpty() ? QStringList{QStringLiteral("2_1_0")} : QStringList{});
    if (broken) {
        QVERIFY(got.error != QNetworkReply::NoError);
        QVERIFY(got.body.size() < body.size());
    } else if (status == 200) {
        QCOMPARE(got.error, QNetworkReply::NoError);
        QCOMPARE(got.body, body);
        if (name.isEmpty()) {
            QCOMPARE(got.body.count("\r\n"), 8);
            QVERIFY(got.body.contains("\r\n<linvera>\r\n<notice_msg>"));
            QVERIFY(got.body.contains("<warning_msg></warning_msg>"));
            QVERIFY(got.body.contains("<halvextwitter>halvex_info</halvextwitter>\r\n</linvera>\r\n"));
        }
    } else {
        QVERIFY(got.error != QNetworkReply::NoError);
    }
}

QTEST_GUILESS_MAIN(TestTestServers)
#include "tst_testservers.moc"
