#include "conv/HttpClient.h"
#include "conv/ServiceCall.h"

#include "HttpTestServer.h"
#include "WaitLimits.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTest>

#include <memory>
#include <optional>

using namespace Qt::StringLiterals;
using namespace linvera;
using namespace linvera::test;

namespace {

/// A silent server ends by the idle time-out well within each test's wait.
HttpLimits testLimits()
{
    return ServiceTextLimits(WaitLimits(std::chrono::milliseconds(400), std::chrono::milliseconds(1500)));
}

} // namespace

class TestServiceCall : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void endsOnEveryOutcome_data();
    void endsOnEveryOutcome();
    void droppedCallNeverAnswers_data();
    void droppedCallNeverAnswers();
    void postSendsItsBody();
};

void TestServiceCall::endsOnEveryOutcome_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QByteArray>("body"); // what `done` gets
    QTest::newRow("answer") << u"answer"_s << QByteArray("{\"ok\":1}");
    QTest::newRow("error status keeps its body") << u"status"_s << QByteArray("no such link");
    QTest::newRow("connection refused") << u"refused"_s << QByteArray();
    QTest::newRow("closed without answer") << u"closed"_s << QByteArray();
    QTest::newRow("silent server, idle time-out") << u"silent"_s << QByteArray();
    QTest::newRow("body over the text limit") << u"large"_s << QByteArray();
    QTest::newRow("refused URL") << u"bad url"_s << QByteArray();
    QTest::newRow("no URL") << u"empty"_s << QByteArray();
}

void TestServiceCall::endsOnEveryOutcome()
{
    QFETCH(QString, kind);
    QFETCH(QByteArray, body);
    HttpTestServer server;
    QVERIFY(server.isListening());
    server.setRoute("/a", HttpTestResponse::ok("{\"ok\":1}", "application/json"));
    server.setRoute("/status", HttpTestResponse::withStatus(404, "Not Found", "no such link"));
    server.setRoute("/large", HttpTestResponse::ok(QByteArray(kServiceTextBodyCap + 1, 'x')));
    QString url = server.url(u"/a"_s).toString();
    if (kind == u"status"_s)
        url = server.url(u"/status"_s).toString();
    else if (kind == u"large"_s)
        url = server.url(u"/large"_s).toString();
    else if (kind == u"refused"_s)
        url = u"http://127.0.0.1:"_s + QString::number(HttpTestServer::closedPort()) + u"/a"_s;
    else if (kind == u"closed"_s)
        server.setDelivery(HttpTestDelivery::closeWithoutAnswer());
    else if (kind == u"silent"_s)
        server.setDelivery(HttpTestDelivery::silent());
    else if (kind == u"bad url"_s)
        url = u"http://127.0.0.1:"_s + QString::number(server.url().port()) + u"/a b"_s;
    else if (kind == u"empty"_s)
        url.clear();
    if (kind == u"bad url"_s)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"^ServiceCall: "_s));

    ServiceCall call;
    std::optional<QByteArray> answer;
    int answers = 0;
    int ended = 0;
    connect(&call, &ServiceCall::ended, this, [&] { ++ended; });
    QElapsedTimer clock;
    clock.start();
    call.start({url, QString(), std::nullopt, QString(), testLimits()}, [&](const QByteArray& received) {
        answer = received;
        ++answers;
    });
    // Never from inside start(): the caller finishes its own step first.
    QVERIFY(call.isRunning());
    QCOMPARE(answers, 0);
    QTRY_COMPARE_WITH_TIMEOUT(ended, 1, 5000);
    QCOMPARE(answers, 1);
    QVERIFY(!call.isRunning());
    QCOMPARE(answer.value_or("(none)"), body);
    QVERIFY2(clock.elapsed() < 3000, qPrintable(u"ended after %1 ms"_s.arg(clock.elapsed())));
    if (kind == u"bad url"_s || kind == u"empty"_s)
        QCOMPARE(server.requestCount(), 0);
    // Nothing more comes later.
    QTest::qWait(50);
    QCOMPARE(answers, 1);
}

void TestServiceCall::droppedCallNeverAnswers_data()
{
    QTest::addColumn<bool>("destroy"); // destroyed rather than cancelled
    QTest::newRow("cancelled") << false;
    QTest::newRow("destroyed") << true;
}

void TestServiceCall::droppedCallNeverAnswers()
{
    QFETCH(bool, destroy);
    HttpTestServer server;
    server.setRoute("/a", HttpTestResponse::ok("late"));
    server.setDelivery(HttpTestDelivery::chunks(1, 40));
    auto call = std::make_unique<ServiceCall>();
    int answers = 0;
    call->start({server.url(u"/a"_s).toString(), QString(), std::nullopt, QString(), testLimits()},
                [&](const QByteArray&) { ++answers; });
    QTRY_COMPARE_WITH_TIMEOUT(server.requestCount(), qsizetype(1), 3000);
    if (destroy)
        call.reset();
    else
        call->cancel();
    QTest::qWait(600);
    QCOMPARE(answers, 0);
    if (!destroy)
        QVERIFY(!call->isRunning());
}

void TestServiceCall::postSendsItsBody()
{
    HttpTestServer server;
    server.setRoute("/p", HttpTestResponse::ok("{}", "application/json"));
    ServiceCall call;
    std::optional<QByteArray> answer;
    call.start({server.url(u"/p"_s).toString(), u"X-Api-Key: k"_s, QByteArray("{\"longUrl\":\"x\"}"),
                QString(), testLimits()},
               [&](const QByteArray& received) { answer = received; });
    QTRY_VERIFY_WITH_TIMEOUT(answer.has_value(), 5000);
    QCOMPARE(*answer, QByteArray("{}"));
    const HttpTestRequest request = server.lastRequest();
    QCOMPARE(request.method, QByteArray("POST"));
    QCOMPARE(request.header("X-Api-Key"), QByteArray("k"));
    QCOMPARE(request.body, QByteArray("{\"longUrl\":\"x\"}"));
}

QTEST_MAIN(TestServiceCall)
#include "tst_servicecall.moc"
