#include "conv/ConversionEngine.h"
#include "conv/HttpClient.h"
#include "conv/RedirectProbe.h"
#include "conv/UrlParts.h"
#include "platform/AnsiCodec.h"

#include "EngineBoxes.h"
#include "LiveChannelHost.h"
#include "PictureHost.h"
#include "ProbeProxy.h"
#include "RecordingMessageBoxes.h"
#include "RecordingView.h"
#include "RedirectHost.h"
#include "RuleApiService.h"
#include "ShortenerService.h"
#include "TestFiles.h"
#include "TestPictures.h"
#include "TlsTestHost.h"
#include "WaitLimits.h"

#include <QAbstractSocket>
#include <QElapsedTimer>
#include <QFile>
#include <QLocale>
#include <QSignalSpy>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <vector>

using namespace Qt::StringLiterals;
using namespace linvera;
using namespace linvera::test;

namespace {

/// Records, with each box, how many sockets the engine still held when the box was shown.
class SocketCountingBoxes : public RecordingMessageBoxes
{
public:
    Answer show(Icon icon, const QString& title, const QString& text, Buttons buttons = Buttons::Ok) override
    {
        socketsAtShow.append(engine ? int(engine->findChildren<QAbstractSocket*>().size()) : -1);
        return RecordingMessageBoxes::show(icon, title, text, buttons);
    }

    const ConversionEngine* engine = nullptr;
    QList<int> socketsAtShow;
};

// What the application would have read from the store; the engine never reads the store itself.
Endpoints g_endpoints;

void setEndpoint(Endpoints::Name name, const QString& host)
{
    g_endpoints.set(name, host);
}

} // namespace

Q_DECLARE_METATYPE(linvera::test::HttpTestDelivery)

class TestConversionEngine : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void emptyInputChangesNothing();
    void spacesOnlyInputIsShortenedEmpty();
    void trimsOuterSpacesOnly();
    void shortensLongUrl_data();
    void shortensLongUrl();
    void shorteningFailureIsSaid_data();
    void shorteningFailureIsSaid();
    void storeUrlGetsItsShortForm();
    void localRuleNeedsNoNetwork();
    void expandsThroughInfoApi();
    void expandsThroughRuleApi();
    void emptyExpansionFallsBackToShortening();
    void probesLocationHeader_data();
    void probesLocationHeader();
    void probeSendsExactRequest_data();
    void probeSendsExactRequest();
    void probeWithoutPortGoesToPort80_data();
    void probeWithoutPortGoesToPort80();
    void probeFailuresEndWithMessage_data();
    void probeFailuresEndWithMessage();
    void probeFailureBoxFollowsTheSocket_data();
    void probeFailureBoxFollowsTheSocket();
    void replacedProbeFailureShowsNoBox();
    void probeRefusesLineBreaks();
    void tlsProbe_data();
    void tlsProbe();
    void upgradeHop_data();
    void upgradeHop();
    void upgradeHopThroughProxy_data();
    void upgradeHopThroughProxy();
    void redirectChain_data();
    void redirectChain();
    void chainLocationForms_data();
    void chainLocationForms();
    void followIgnoresRulesAndSetting();
    void chainCrossesTls();
    void chainHopsJudged_data();
    void chainHopsJudged();
    void liveLinkReadsChannelPage();
    void liveLinkWithoutChannel();
    void picturePreview_data();
    void picturePreview();
    void smallerPictureReplacesWholeFile();
    void logHoldsOneLinePerRun();
    void batchedLogKeepsEveryLine_data();
    void batchedLogKeepsEveryLine();
    void laterRunWins();
    void destinationReviewed_data();
    void destinationReviewed();
    void replacedRunsLateAnswerChangesNothing_data();
    void replacedRunsLateAnswerChangesNothing();
    void limitsStayWithTheirEngine_data();
    void limitsStayWithTheirEngine();
    void settingsChangeWaitsForTheNextRun_data();
    void settingsChangeWaitsForTheNextRun();

private:
    void run(const QString& input, int waitMs = 10000);
    void loadRules(const QString& shortLinkRules, const QString& pictureRules = {});
    /// What the application would hand the engine after the settings changed.
    void setProxy(bool enabled, const QString& server);
    void setFollowChain(bool follow);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<RecordingView> m_view;
    std::unique_ptr<SocketCountingBoxes> m_boxes;
    std::unique_ptr<ConversionEngine> m_engine;
    std::unique_ptr<ShortenerService> m_shortener;
    QDate m_today{2026, 12, 7};
};

void TestConversionEngine::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    g_endpoints = Endpoints();
    m_shortener = std::make_unique<ShortenerService>();
    QVERIFY(m_shortener->isListening());
    setEndpoint(Endpoints::ShortenerApiHost, m_shortener->hostAndPort());
    setEndpoint(Endpoints::ShortenerAltApiHost, m_shortener->hostAndPort());
    setEndpoint(Endpoints::ShortenerDomain, u"sh.example"_s);
    setEndpoint(Endpoints::ShortenerAltDomain, u"s.example"_s);
    setEndpoint(Endpoints::StoreHost, u"www.store.example"_s);
    setEndpoint(Endpoints::StoreHostPrefix, u"www.store."_s);
    setEndpoint(Endpoints::LiveHost, u"live.example"_s);
    setEndpoint(Endpoints::LiveShortDomain, u"lv.example"_s);

    m_view = std::make_unique<RecordingView>();
    m_boxes = std::make_unique<SocketCountingBoxes>();
    m_engine = std::make_unique<ConversionEngine>(*m_view, *m_boxes);
    m_boxes->engine = m_engine.get();
    showEngineBoxes(*m_engine, *m_boxes);
    m_engine->setEndpoints(g_endpoints);
    m_engine->setProbeTimeouts({std::chrono::milliseconds(3000), std::chrono::milliseconds(1500)});
    m_engine->setHttpLimits(WaitLimits(std::chrono::milliseconds(3000), std::chrono::milliseconds(10000)));
    m_engine->setLogFilePath(m_dir->filePath(u"log.txt"_s));
    m_engine->setTempFolder(m_dir->path());
    m_engine->setClock([this] { return m_today; });
    m_engine->setSettings(EngineSettings());
}

void TestConversionEngine::cleanup()
{
    m_engine.reset();
    m_shortener.reset();
}

void TestConversionEngine::loadRules(const QString& shortLinkRules, const QString& pictureRules)
{
    m_engine->shortLinkRules().loadFromText(shortLinkRules, *m_boxes);
    m_engine->pictureRules().loadFromText(pictureRules);
}

void TestConversionEngine::setProxy(bool enabled, const QString& server)
{
    EngineSettings settings = m_engine->settings();
    settings.proxy = ProxySetting{enabled, server};
    m_engine->setSettings(settings);
}

void TestConversionEngine::setFollowChain(bool follow)
{
    EngineSettings settings = m_engine->settings();
    settings.followChain = follow;
    m_engine->setSettings(settings);
}

void TestConversionEngine::run(const QString& input, int waitMs)
{
    QSignalSpy finished(m_engine.get(), &ConversionEngine::conversionFinished);
    m_view->setBeforeUrl(input);
    m_engine->StartConv();
    if (finished.isEmpty())
        QVERIFY(finished.wait(waitMs));
    QVERIFY(!m_engine->isProcessing());
}

void TestConversionEngine::destinationReviewed_data()
{
    QTest::addColumn<QString>("destination");
    QTest::addColumn<bool>("strip");
    QTest::addColumn<QString>("afterUrl");
    QTest::addColumn<QStringList>("lines");
    const QString tracked = u"https://shop.example/item?id=7&utm_source=mail&fbclid=x#top"_s;
    const QString ok = u"行き先の確認: 問題は見つかりませんでした"_s;
    QTest::newRow("trackers removed, the rest kept")
        << tracked << true << u"https://shop.example/item?id=7#top"_s
        << QStringList{u"追跡用パラメータを2個取り除きました"_s, ok};
    QTest::newRow("removal off") << tracked << false << tracked << QStringList{ok};
    QTest::newRow("unencrypted address literal")
        << u"http://192.0.2.7/x"_s << true << u"http://192.0.2.7/x"_s << QStringList{u"【注意】"_s};
    QTest::newRow("mixed scripts") << u"https://p\u0430ypal-login.example/"_s << true
                                   << u"https://p\u0430ypal-login.example/"_s << QStringList{u"【警告】"_s};
}

// The after URL is shown, copied and logged without its trackers, and the verdict follows the
// designed lines.
void TestConversionEngine::destinationReviewed()
{
    QFETCH(QString, destination);
    QFETCH(bool, strip);
    QFETCH(QString, afterUrl);
    QFETCH(QStringList, lines);
    QVERIFY(QFile::copy(QStringLiteral(LINVERA_SHIPPED_TRACKERS), m_dir->filePath(u"trackers.json"_s)));
    verdict::DestinationCheck check;
    QCOMPARE(check.load(m_dir->path()), QStringList());
    m_engine->setDestinationCheck(&check);
    EngineSettings settings = m_engine->settings();
    settings.stripTrackers = strip;
    m_engine->setSettings(settings);
    m_view->clipboardChecked = true;
    loadRules(u"go.example/\t"_s + destination + u"\t\r\n"_s);
    run(u"http://go.example/a"_s);
    QCOMPARE(m_view->afterUrl(), afterUrl);
    QCOMPARE(m_view->clipboard, afterUrl);
    QVERIFY(readFile(m_dir->filePath(u"log.txt"_s)).endsWith(QByteArray(", " + afterUrl.toUtf8() + "\r\n")));
    const QStringList shown = m_view->afterInfo.split(u"\r\n"_s, Qt::SkipEmptyParts);
    QVERIFY2(shown.size() >= lines.size(), qPrintable(m_view->afterInfo));
    const QStringList last = shown.mid(shown.size() - lines.size());
    for (qsizetype i = 0; i < lines.size(); ++i)
        QVERIFY2(last[i].startsWith(lines[i]), qPrintable(m_view->afterInfo));
    QCOMPARE(m_engine->lastReview().verdict.judged, true);
    m_engine->setDestinationCheck(nullptr);
}

void TestConversionEngine::emptyInputChangesNothing()
{
    m_view->setAfterUrl(u"old"_s);
    m_view->caption = u"caption"_s;
    m_view->setBeforeUrl(QString());
    m_engine->StartConv();
    QVERIFY(!m_engine->isProcessing());
    QCOMPARE(m_view->afterUrl(), u"old"_s);
    QCOMPARE(m_view->caption, u"caption"_s);
    QVERIFY(!QFile::exists(m_dir->filePath(u"log.txt"_s)));
    QCOMPARE(m_shortener->requestCount(), 0);
}

void TestConversionEngine::spacesOnlyInputIsShortenedEmpty()
{
    m_shortener->setShortUrl(QString());
    run(u"   "_s);
    QCOMPARE(m_view->beforeUrl(), QString());
    QCOMPARE(m_engine->lConvMode(), 0);
    QCOMPARE(m_view->afterUrl(), QString());
    const QString line = QLocale::system().toString(m_today, QLocale::ShortFormat) + u", , \r\n"_s;
    QCOMPARE(readFile(m_dir->filePath(u"log.txt"_s)), line.toUtf8());
}

void TestConversionEngine::trimsOuterSpacesOnly()
{
    m_shortener->setShortUrl(u"http://s.example/t"_s);
    run(u"  \thttp://long.example/a b  "_s);
    QCOMPARE(m_view->beforeUrl(), u"\thttp://long.example/a b"_s);
    QCOMPARE(m_view->caption, u"\thttp://long.example/a b"_s);
}

void TestConversionEngine::shortensLongUrl_data()
{
    QTest::addColumn<int>("shortUrlType");
    QTest::addColumn<QString>("longUrl");
    QTest::addColumn<QByteArray>("rawLongUrl");
    QTest::newRow("alternative host, Japanese and spaces")
        << 0 << u"http://例え.example/a b?q=あ"_s
        << QByteArray("http%3A%2F%2F%E4%BE%8B%E3%81%88.example%2Fa+b%3Fq%3D%E3%81%82");
    QTest::newRow("primary host") << 1 << u"http://long.example/page"_s
                                  << QByteArray("http%3A%2F%2Flong.example%2Fpage");
    QTest::newRow("no selection") << -1 << u"http://long.example/!x"_s
                                  << QByteArray("http%3A%2F%2Flong.example%2F%21x");
}

void TestConversionEngine::shortensLongUrl()
{
    QFETCH(int, shortUrlType);
    QFETCH(QString, longUrl);
    QFETCH(QByteArray, rawLongUrl);
    // The two API hosts are told apart by the Host header the fetch sends.
    ShortenerService primary;
    setEndpoint(Endpoints::ShortenerApiHost, primary.hostAndPort());
    m_engine->setEndpoints(g_endpoints);
    EngineSettings settings = m_engine->settings();
    settings.shortUrlType = shortUrlType;
    m_engine->setSettings(settings);
    m_shortener->setShortUrl(u"http://s.example/alt1"_s);
    primary.setShortUrl(u"http://sh.example/main1"_s);
    m_view->clipboardChecked = true;

    run(longUrl);
    ShortenerService& asked = shortUrlType == 0 ? *m_shortener : primary;
    ShortenerService& notAsked = shortUrlType == 0 ? primary : *m_shortener;
    QCOMPARE(notAsked.requestCount(), 0);
    QCOMPARE(asked.calls().size(), 1);
    const ShortenerService::Call call = asked.calls().first();
    QCOMPARE(call.operation, QByteArray("shorten"));
    QCOMPARE(call.version, u"2.0.1"_s);
    QCOMPARE(call.login, u"clipurlx"_s);
    QCOMPARE(call.apiKey, u"R_5c1e0f7a9b2d4e6f8a0c1b3d5e7f9a2b"_s);
    QCOMPARE(call.longUrl, longUrl);
    QVERIFY2(asked.lastRequest().target.endsWith(QByteArray("&longUrl=" + rawLongUrl)),
             asked.lastRequest().target.constData());
    QCOMPARE(asked.lastRequest().header("User-Agent"),
             QByteArray("Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1; .NET CLR 1.1.4322; .NET CLR "
                        "2.0.50727)"));

    const QString expected = shortUrlType == 0 ? u"http://s.example/alt1"_s : u"http://sh.example/main1"_s;
    QCOMPARE(m_engine->lConvMode(), 0);
    QCOMPARE(m_view->afterUrl(), expected);
    QCOMPARE(m_view->message, u"URL短縮化を実行しました"_s);
    QCOMPARE(m_view->clipboard, expected);
    QCOMPARE(m_view->clipboardWrites, 1);
    QCOMPARE(m_view->beforeInfoVisible, false);
}

void TestConversionEngine::shorteningFailureIsSaid_data()
{
    QTest::addColumn<int>("failure");
    QTest::addColumn<bool>("emptyShortUrl");
    QTest::newRow("empty shortUrl") << int(ShortenerService::Failure::None) << true;
    QTest::newRow("HTTP error") << int(ShortenerService::Failure::HttpError) << false;
    QTest::newRow("API error") << int(ShortenerService::Failure::ApiError) << false;
    QTest::newRow("unreachable") << -1 << false;
}

void TestConversionEngine::shorteningFailureIsSaid()
{
    QFETCH(int, failure);
    QFETCH(bool, emptyShortUrl);
    if (failure < 0) {
        setEndpoint(Endpoints::ShortenerAltApiHost,
                    u"127.0.0.1:"_s + QString::number(HttpTestServer::closedPort()));
        m_engine->setEndpoints(g_endpoints);
    } else {
        m_shortener->setFailure(ShortenerService::Failure(failure));
    }
    if (emptyShortUrl)
        m_shortener->setShortUrl(QString());
    m_view->clipboardChecked = true;
    run(u"http://long.example/x"_s);
    QCOMPARE(m_engine->lConvMode(), 0);
    QCOMPARE(m_view->afterUrl(), QString());
    QCOMPARE(m_view->message, u"URL短縮化に失敗しました"_s);
    QCOMPARE(m_view->clipboardWrites, 0);
    QVERIFY(readFile(m_dir->filePath(u"log.txt"_s)).endsWith(", http://long.example/x, \r\n"));
}

void TestConversionEngine::storeUrlGetsItsShortForm()
{
    m_shortener->setShortUrl(u"http://s.example/st"_s);
    run(u"http://www.store.example/Book-Title/dp/4087/ref=sr_1_1"_s);
    QCOMPARE(m_engine->lConvMode(), 0);
    QCOMPARE(m_view->afterInfo, u"http://www.store.example/dp/4087\r\n"_s);
}

void TestConversionEngine::localRuleNeedsNoNetwork()
{
    loadRules(u"^https?://yt\\.example/(\\w+)$\thttp://video.example/watch?v=(1)&q=%E3%81%82\t\r\n"_s);
    m_view->clipboardChecked = true;
    run(u"http://yt.example/abc"_s);
    QCOMPARE(m_engine->lConvMode(), 1);
    QCOMPARE(m_view->afterUrl(), u"http://video.example/watch?v=abc&q=%E3%81%82"_s);
    QCOMPARE(m_view->message, u"URLプレビューを実行しました"_s);
    QCOMPARE(m_view->afterInfo, u"http://video.example/watch?v=abc&q=あ"_s);
    QCOMPARE(m_view->clipboard, m_view->afterUrl());
    QCOMPARE(m_shortener->connectionCount(), 0);
}

void TestConversionEngine::expandsThroughInfoApi()
{
    loadRules(u"s.example/\thttp://unused/($)\t\"longUrl\": \"(.*?)\"\r\n"_s);
    ShortenerService::Info info;
    info.longUrl = u"http://long.example/%E3%81%82"_s;
    info.urlFetched = u"http://long.example/fetched"_s;
    info.htmlTitle = u"テスト title"_s;
    m_shortener->setInfo(info);
    run(u"http://s.example/Ab1"_s);
    QCOMPARE(m_shortener->calls().size(), 1);
    QCOMPARE(m_shortener->calls().first().operation, QByteArray("info"));
    QCOMPARE(m_shortener->calls().first().shortUrl, u"http://s.example/Ab1"_s);
    QCOMPARE(m_engine->lConvMode(), 1);
    QCOMPARE(m_view->afterUrl(), u"http://long.example/%E3%81%82"_s);
    QCOMPARE(m_view->afterInfo, u"http://long.example/あテスト title\r\nhttp://long.example/fetched\r\n"_s);
}

void TestConversionEngine::expandsThroughRuleApi()
{
    RuleApiService api;
    api.setLongUrl(u"q+1"_s, u"http://long.example/from/api"_s);
    loadRules(u"o.example/\t"_s + api.urlTemplate() + u"\t"_s + api.responsePattern() + u"\r\n"_s);
    run(u"http://o.example/q 1"_s);
    // The code goes out form-encoded: its space is a "+" in the API's path.
    QCOMPARE(api.codes(), QStringList{u"q+1"_s});
    QCOMPARE(m_engine->lConvMode(), 1);
    // The JSON answer escapes its slashes; the backslashes are dropped.
    QCOMPARE(m_view->afterUrl(), u"http://long.example/from/api"_s);
    QCOMPARE(m_view->afterInfo, QString());
}

void TestConversionEngine::emptyExpansionFallsBackToShortening()
{
    RuleApiService api;
    loadRules(u"o.example/\t"_s + api.urlTemplate() + u"\t"_s + api.responsePattern() + u"\r\n"_s);
    m_shortener->setShortUrl(u"http://s.example/new"_s);
    run(u"http://o.example/unknown"_s);
    QCOMPARE(api.requestCount(), 1);
    QCOMPARE(m_engine->lConvMode(), 0);
    QCOMPARE(m_view->afterUrl(), u"http://s.example/new"_s);
    QCOMPARE(m_shortener->calls().first().longUrl, u"http://o.example/unknown"_s);
}

void TestConversionEngine::probesLocationHeader_data()
{
    QTest::addColumn<QByteArray>("location");
    QTest::addColumn<HttpTestDelivery>("delivery");
    QTest::addColumn<QByteArray>("locationName");
    QTest::addColumn<QString>("expected");
    const QByteArray target = "http://target.example/page?a=1";
    QTest::newRow("whole answer") << target << HttpTestDelivery::whole() << QByteArray("Location")
                                  << QString::fromLatin1(target);
    QTest::newRow("split inside the Location line")
        << target << HttpTestDelivery::splitAfterTexts({"Locat", "target.ex"}, 40) << QByteArray("Location")
        << QString::fromLatin1(target);
    QTest::newRow("one byte at a time")
        << target << HttpTestDelivery::chunks(1, 1) << QByteArray("Location") << QString::fromLatin1(target);
    QTest::newRow("body after the header") << target << HttpTestDelivery::splitAfterTexts({"\r\n\r\n"}, 50)
                                           << QByteArray("Location") << QString::fromLatin1(target);
    QTest::newRow("lower-case header")
        << target << HttpTestDelivery::whole() << QByteArray("location") << QString::fromLatin1(target);
    QTest::newRow("upper-case header")
        << target << HttpTestDelivery::whole() << QByteArray("LOCATION") << QString::fromLatin1(target);
}

void TestConversionEngine::probesLocationHeader()
{
    QFETCH(QByteArray, location);
    QFETCH(HttpTestDelivery, delivery);
    QFETCH(QByteArray, locationName);
    RedirectHost host;
    RedirectAnswer answer = RedirectAnswer::movedTo(location);
    answer.locationName = locationName;
    answer.body = "<html>Location: http://wrong.example/\r\n</html>";
    answer.delivery = delivery;
    host.setAnswer("/abc", answer);
    loadRules(host.hostAndPort() + u"/\tLocation:\t\r\n"_s);
    run(u"http://"_s + host.hostAndPort() + u"/abc"_s);
    QCOMPARE(m_engine->lConvMode(), 4);
    QVERIFY(!m_engine->LiveProbe());
    QFETCH(QString, expected);
    QCOMPARE(m_view->afterUrl(), expected);
    QCOMPARE(m_view->message, u"処理中です..."_s);
    QVERIFY(m_boxes->shown().isEmpty());
    // The probe's result is not logged: the line was written when the run started.
    QVERIFY(readFile(m_dir->filePath(u"log.txt"_s)).endsWith("/abc, \r\n"));
}

void TestConversionEngine::probeSendsExactRequest_data()
{
    QTest::addColumn<bool>("viaProxy");
    QTest::addColumn<QString>("authority");  // "<host>" stands for the redirecting host with its port
    QTest::addColumn<QByteArray>("request"); // "<host>" as above
    QTest::newRow("direct") << false << u"<host>"_s
                            << QByteArray("GET /abc HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
    // The proxy cannot learn a port other than 80 from anything but the request itself.
    QTest::newRow("proxy, port kept")
        << true << u"<host>"_s << QByteArray("GET http://<host>/abc HTTP/1.0\r\nHost: <host>\r\n\r\n");
    QTest::newRow("proxy, no port") << true << u"127.0.0.1"_s
                                    << QByteArray(
                                           "GET http://127.0.0.1/abc HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
    QTest::newRow("proxy, port 80") << true << u"127.0.0.1:80"_s
                                    << QByteArray(
                                           "GET http://127.0.0.1/abc HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
}

void TestConversionEngine::probeSendsExactRequest()
{
    QFETCH(bool, viaProxy);
    QFETCH(QString, authority);
    QFETCH(QByteArray, request);
    RedirectHost host;
    host.setDefaultAnswer(RedirectAnswer::movedTo("http://t.example/direct"));
    ProbeProxy proxy;
    proxy.setDefaultAnswer(RedirectAnswer::movedTo("http://t.example/proxied"));
    if (viaProxy)
        setProxy(true, u"127.0.0.1:"_s + QString::number(proxy.port()));
    const QString hostAndPort = u"127.0.0.1:"_s + QString::number(host.port());
    authority.replace(u"<host>"_s, hostAndPort);
    request.replace("<host>", hostAndPort.toLatin1());
    loadRules(u"127.0.0.1\tLocation:\t\r\n"_s);
    run(u"http://"_s + authority + u"/abc"_s);
    if (viaProxy) {
        QCOMPARE(host.requestCount(), 0);
        QCOMPARE(proxy.rawRequests(), QList<QByteArray>{request});
        QCOMPARE(m_view->afterUrl(), u"http://t.example/proxied"_s);
        QCOMPARE(m_engine->lastProbeRoute().connectPort, proxy.port());
    } else {
        QCOMPARE(host.rawRequests(), QList<QByteArray>{request});
        QCOMPARE(m_view->afterUrl(), u"http://t.example/direct"_s);
        QCOMPARE(m_engine->lastProbeRoute().connectPort, host.port());
    }
}

void TestConversionEngine::probeWithoutPortGoesToPort80_data()
{
    QTest::addColumn<QString>("link");
    QTest::newRow("http") << u"http://127.0.0.1/abc"_s;
    // The probe's other branch: the link is probed as a plain one all the same.
    QTest::newRow("neither http nor https") << u"ftp://127.0.0.1/abc"_s;
    QTest::newRow("neither http nor https, port past 65535") << u"ftp://127.0.0.1:70000/abc"_s;
}

void TestConversionEngine::probeWithoutPortGoesToPort80()
{
    QFETCH(QString, link);
    // Nothing need listen on port 80: where the probe went is what counts.
    m_engine->setProbeTimeouts({std::chrono::milliseconds(300), std::chrono::milliseconds(300)});
    loadRules(u"127.0.0.1\tLocation:\t\r\n"_s);
    run(link);
    QCOMPARE(m_engine->lConvMode(), 4);
    QCOMPARE(m_engine->lastProbeRoute().connectHost, u"127.0.0.1"_s);
    QCOMPARE(m_engine->lastProbeRoute().connectPort, quint16(80));
    QVERIFY(!m_engine->lastProbeRoute().viaProxy);
    // No proxy is set: a failure there must not blame its settings.
    for (const auto& box : m_boxes->shown())
        QVERIFY2(box.text != u"プロキシサーバーの設定が正しくありません。"_s, qPrintable(box.text));
}

void TestConversionEngine::probeFailuresEndWithMessage_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("connection refused") << u"refused"_s;
    QTest::newRow("host never answers") << u"silent"_s;
    QTest::newRow("connection reset") << u"reset"_s;
    QTest::newRow("closed without answer") << u"closed"_s;
    QTest::newRow("proxy without port") << u"badproxy"_s;
    QTest::newRow("proxy port past 65535") << u"proxy 70000"_s;
    QTest::newRow("proxy port 65535, nobody there") << u"proxy 65535"_s;
}

void TestConversionEngine::probeFailuresEndWithMessage()
{
    QFETCH(QString, kind);
    RedirectHost host;
    if (kind == u"silent"_s)
        host.setDelivery(HttpTestDelivery::silent());
    else if (kind == u"reset"_s)
        host.setDelivery(HttpTestDelivery::reset());
    else if (kind == u"closed"_s)
        host.setDelivery(HttpTestDelivery::closeWithoutAnswer());
    else if (kind == u"badproxy"_s)
        setProxy(true, u"proxyhost"_s);
    else if (kind.startsWith(u"proxy "_s))
        setProxy(true, u"127.0.0.1:"_s + kind.mid(6));
    const quint16 port = kind == u"refused"_s ? HttpTestServer::closedPort() : host.port();
    loadRules(u"127.0.0.1:\tLocation:\t\r\n"_s);
    run(u"http://127.0.0.1:"_s + QString::number(port) + u"/abc"_s, 8000);
    QCOMPARE(m_boxes->shown().size(), 1);
    QCOMPARE(m_boxes->shown().first().title, u"ERROR"_s);
    QCOMPARE(m_boxes->shown().first().icon, platform::MessageBoxes::Icon::Exclamation);
    QVERIFY(!m_boxes->shown().first().text.isEmpty());
    // Only a setting that names no usable port is the settings' fault; a port is never wrapped round.
    const bool settingRefused = kind == u"badproxy"_s || kind == u"proxy 70000"_s;
    QCOMPARE(m_boxes->shown().first().text == u"プロキシサーバーの設定が正しくありません。"_s,
             settingRefused);
    QVERIFY(!m_engine->isWaiting());
    QCOMPARE(m_view->afterUrl(), QString());
}

void TestConversionEngine::probeFailureBoxFollowsTheSocket_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("connection refused") << u"refused"_s;
    QTest::newRow("connection reset") << u"reset"_s;
    QTest::newRow("closed without answer") << u"closed"_s;
}

// A box left open (nobody at the screen) must not keep the failed probe's socket: each later
// failure would keep one more.
void TestConversionEngine::probeFailureBoxFollowsTheSocket()
{
    QFETCH(QString, kind);
    RedirectHost host;
    if (kind == u"reset"_s)
        host.setDelivery(HttpTestDelivery::reset());
    else if (kind == u"closed"_s)
        host.setDelivery(HttpTestDelivery::closeWithoutAnswer());
    const quint16 port = kind == u"refused"_s ? HttpTestServer::closedPort() : host.port();
    loadRules(u"127.0.0.1:\tLocation:\t\r\n"_s);
    run(u"http://127.0.0.1:"_s + QString::number(port) + u"/abc"_s, 8000);
    QCOMPARE(m_boxes->socketsAtShow, QList<int>{0});
    QCOMPARE(m_boxes->shown().first().title, u"ERROR"_s);
}

void TestConversionEngine::replacedProbeFailureShowsNoBox()
{
    loadRules(
        u"127.0.0.1:\tLocation:\t\r\n^http://local\\.example/(\\w+)$\thttp://target.example/(1)\t\r\n"_s);
    auto* probe = m_engine->findChild<RedirectProbe*>();
    QVERIFY(probe);
    // A second conversion starts between the failure and its box, as a mailbox tick could.
    bool replaced = false;
    connect(probe, &RedirectProbe::failed, m_engine.get(), [this, &replaced] {
        if (replaced)
            return;
        replaced = true;
        m_view->setBeforeUrl(u"http://local.example/next"_s);
        m_engine->StartConv();
    });
    m_view->setBeforeUrl(u"http://127.0.0.1:"_s + QString::number(HttpTestServer::closedPort()) + u"/abc"_s);
    m_engine->StartConv();
    QTRY_VERIFY_WITH_TIMEOUT(replaced, 8000);
    QCoreApplication::sendPostedEvents();
    QVERIFY(m_boxes->shown().isEmpty());
    QCOMPARE(m_view->afterUrl(), u"http://target.example/next"_s);
    QCOMPARE(m_engine->lConvMode(), 1);
}

void TestConversionEngine::probeRefusesLineBreaks()
{
    RedirectHost host;
    loadRules(u"127.0.0.1:\tLocation:\t\r\n"_s);
    run(u"http://127.0.0.1:"_s + QString::number(host.port()) + u"/a\r\nX-Injected: 1"_s);
    QCOMPARE(m_boxes->shown().size(), 1);
    QCOMPARE(m_boxes->shown().first().title, u"ERROR"_s);
    QTest::qWait(100);
    QCOMPARE(host.connectionCount(), 0);
}

void TestConversionEngine::tlsProbe_data()
{
    QTest::addColumn<QString>("link");  // "<tls>" stands for 127.0.0.1 and the TLS host's port
    QTest::addColumn<bool>("viaProxy"); // through a tunnel that leads to the TLS host whatever is named
    QTest::addColumn<bool>("trusted");
    QTest::addColumn<QByteArray>("request"); // empty: nothing may reach the host
    QTest::addColumn<QString>("problem");    // empty: no box
    const QByteArray direct("GET /abc HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
    QTest::newRow("direct, trusted") << u"https://<tls>/abc"_s << false << true << direct << QString();
    QTest::newRow("direct, unknown authority")
        << u"https://<tls>/abc"_s << false << false << QByteArray() << u"発行元を信頼できません"_s;
    QTest::newRow("tunnel, name on the certificate")
        << u"https://short.test/abc"_s << true << true
        << QByteArray("GET /abc HTTP/1.0\r\nHost: short.test\r\n\r\n") << QString();
    QTest::newRow("tunnel, name not on the certificate")
        << u"https://other.test/abc"_s << true << true << QByteArray() << u"ホスト名と一致しません"_s;
    QTest::newRow("tunnel, unknown authority")
        << u"https://short.test/abc"_s << true << false << QByteArray() << u"発行元を信頼できません"_s;
}

void TestConversionEngine::tlsProbe()
{
    if (!QSslSocket::supportsSsl())
        QSKIP("no TLS backend");
    QFETCH(QString, link);
    QFETCH(bool, viaProxy);
    QFETCH(bool, trusted);
    QFETCH(QByteArray, request);
    QFETCH(QString, problem);
    const TrustTestAuthority authority(trusted);
    TlsTestHost host("HTTP/1.0 301 Moved\r\nLocation: http://t.example/secure\r\n\r\n");
    TunnelProxy tunnel(host.port());
    if (viaProxy)
        setProxy(true, u"127.0.0.1:"_s + QString::number(tunnel.port()));
    link.replace(u"<tls>"_s, u"127.0.0.1:"_s + QString::number(host.port()));
    loadRules(u"127.0.0.1\tLocation:\t\r\nshort.test\tLocation:\t\r\nother.test\tLocation:\t\r\n"_s);
    run(link);
    QCOMPARE(m_engine->lConvMode(), 4);
    if (request.isEmpty()) {
        QCOMPARE(m_boxes->shown().size(), 1);
        QCOMPARE(m_boxes->shown().first().title, u"ERROR"_s);
        QVERIFY2(m_boxes->shown().first().text.contains(problem), qPrintable(m_boxes->shown().first().text));
        QVERIFY(host.rawRequests.isEmpty());
        QCOMPARE(m_view->afterUrl(), QString());
    } else {
        QVERIFY(m_boxes->shown().isEmpty());
        QCOMPARE(host.rawRequests, QByteArrayList{request});
        QCOMPARE(m_view->afterUrl(), u"http://t.example/secure"_s);
    }
    QVERIFY(!m_engine->isWaiting());
    if (viaProxy) {
        const QString named = SplitUrl(link).host;
        QCOMPARE(tunnel.connectHeads.size(), 1);
        QVERIFY(tunnel.connectHeads.first().startsWith(
            QByteArray("CONNECT " + named.toLatin1() + ":443 HTTP/1.")));
        // The server's name travels in the TLS greeting.
        QVERIFY(tunnel.firstTunnelBytes.value(0).contains(named.toLatin1()));
    }
}

void TestConversionEngine::upgradeHop_data()
{
    QTest::addColumn<QByteArray>("location"); // "<tls>" stands for 127.0.0.1 and the TLS host's port
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("tlsRequests");
    QTest::newRow("same host and path")
        << QByteArray("https://<tls>/abc") << u"http://t.example/final"_s << 1;
    QTest::newRow("scheme and host in other letter case")
        << QByteArray("HTTPS://<tls>/abc") << u"http://t.example/final"_s << 1;
    QTest::newRow("another path is a real hop")
        << QByteArray("https://<tls>/other") << u"https://<tls>/other"_s << 0;
    QTest::newRow("another host is a real hop")
        << QByteArray("https://localhost:1/abc") << u"https://localhost:1/abc"_s << 0;
    QTest::newRow("http to http is a real hop")
        << QByteArray("http://<tls>/abc") << u"http://<tls>/abc"_s << 0;
}

void TestConversionEngine::upgradeHop()
{
    if (!QSslSocket::supportsSsl())
        QSKIP("no TLS backend");
    QFETCH(QByteArray, location);
    QFETCH(QString, expected);
    QFETCH(int, tlsRequests);
    const TrustTestAuthority authority;
    TlsTestHost tls("HTTP/1.0 404 Not Found\r\n\r\n");
    // The TLS host moves the link to its HTTPS form once more: that is the answer shown, never followed.
    tls.setAnswer("/abc", "HTTP/1.0 301 Moved\r\nLocation: http://t.example/final\r\n\r\n");
    RedirectHost plain;
    const QByteArray tlsAuthority = "127.0.0.1:" + QByteArray::number(tls.port());
    location.replace("<tls>", tlsAuthority);
    expected.replace(u"<tls>"_s, QString::fromLatin1(tlsAuthority));
    plain.redirect("/abc", location);
    loadRules(u"127.0.0.1\tLocation:\t\r\n"_s);
    run(u"http://127.0.0.1:"_s + QString::number(plain.port()) + u"/abc"_s);
    QVERIFY(m_boxes->shown().isEmpty());
    QCOMPARE(plain.rawRequests(), QList<QByteArray>{"GET /abc HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n"});
    QCOMPARE(tls.rawRequests.size(), tlsRequests);
    if (tlsRequests)
        QCOMPARE(tls.rawRequests.first(), QByteArray("GET /abc HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n"));
    QCOMPARE(m_view->afterUrl(), expected);
}

void TestConversionEngine::upgradeHopThroughProxy_data()
{
    QTest::addColumn<QString>("link");
    QTest::addColumn<QByteArray>("upgrade"); // the Location the proxy's plain answer names
    QTest::addColumn<QByteArray>("connect"); // the CONNECT target expected next
    QTest::newRow("default port") << u"http://short.test/abc"_s << QByteArray("https://short.test/abc")
                                  << QByteArray("short.test:443");
    QTest::newRow("port given in the Location")
        << u"http://short.test/abc"_s << QByteArray("https://short.test:8443/abc")
        << QByteArray("short.test:8443");
}

void TestConversionEngine::upgradeHopThroughProxy()
{
    if (!QSslSocket::supportsSsl())
        QSKIP("no TLS backend");
    QFETCH(QString, link);
    QFETCH(QByteArray, upgrade);
    QFETCH(QByteArray, connect);
    const TrustTestAuthority authority;
    TlsTestHost tls;
    tls.setAnswer("/abc", "HTTP/1.0 301 Moved\r\nLocation: https://t.example/final\r\n\r\n");
    // One configured proxy: the plain request goes to it in absolute form, the HTTPS form through
    // its tunnel, which leads to the TLS host whatever port is named.
    TunnelProxy proxy(tls.port());
    proxy.plainAnswers.insert(link.toLatin1(), "HTTP/1.0 301 Moved Permanently\r\nLocation: " + upgrade +
                                                   "\r\nConnection: close\r\n\r\n");
    setProxy(true, u"127.0.0.1:"_s + QString::number(proxy.port()));
    loadRules(u"short.test\tLocation:\t\r\n"_s);
    run(link);
    QVERIFY2(m_boxes->shown().isEmpty(), qPrintable(m_boxes->shown().value(0).text));
    QCOMPARE(m_engine->lConvMode(), 4);
    QCOMPARE(proxy.connectHeads.size(), 2);
    QCOMPARE(proxy.connectHeads.at(0),
             QByteArray("GET " + link.toLatin1() + " HTTP/1.0\r\nHost: short.test\r\n\r\n"));
    QVERIFY2(proxy.connectHeads.at(1).startsWith(QByteArray("CONNECT " + connect + " HTTP/1.")),
             proxy.connectHeads.at(1).constData());
    // The name on the certificate is asked for in the greeting, and the request inside is the plain one.
    QVERIFY(proxy.firstTunnelBytes.value(0).contains("short.test"));
    QCOMPARE(tls.rawRequests, QByteArrayList{"GET /abc HTTP/1.0\r\nHost: short.test\r\n\r\n"});
    QCOMPARE(m_view->afterUrl(), u"https://t.example/final"_s);
    QVERIFY(!m_engine->isWaiting());
}

void TestConversionEngine::redirectChain_data()
{
    // Each hop: the target a request names and the Location it is answered with; "<p>" stands for
    // the host with its port. A target without a hop answers 404 and ends the chain.
    QTest::addColumn<bool>("follow");
    QTest::addColumn<QByteArrayList>("hops"); // target, Location, target, Location, ...
    QTest::addColumn<QStringList>("info");    // lines of the info box
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("requests");
    QByteArrayList five;
    QStringList fiveInfo;
    for (int i = 0; i < 5; ++i) {
        five << "/c" + QByteArray::number(i) << "http://<p>/c" + QByteArray::number(i + 1);
        fiveInfo << u"http://<p>/c"_s + QString::number(i + 1);
    }
    QTest::newRow("chain of 5") << true << five << fiveInfo << u"http://<p>/c5"_s << 6;
    QTest::newRow("chain of 5, not followed") << false << five << QStringList() << u"http://<p>/c1"_s << 1;
    QByteArrayList ten;
    QStringList tenInfo;
    for (int i = 0; i < 10; ++i) {
        ten << "/c" + QByteArray::number(i) << "http://<p>/c" + QByteArray::number(i + 1);
        tenInfo << u"http://<p>/c"_s + QString::number(i + 1);
    }
    QTest::newRow("10 hops, the most taken") << true << ten << tenInfo << u"http://<p>/c10"_s << 11;
    QByteArrayList eleven = ten;
    eleven << "/c10"
           << "http://<p>/c11";
    QTest::newRow("11 hops stop at 10")
        << true << eleven
        << (QStringList(tenInfo) << u"リダイレクトが10回を超えたため、たどるのをやめました。"_s)
        << u"http://<p>/c10"_s << 11;
    QTest::newRow("loop back to the link")
        << true << QByteArrayList{"/c0", "http://<p>/a", "/a", "http://<p>/c0"}
        << QStringList{u"http://<p>/a"_s, u"リダイレクトがループしているため、たどるのをやめました。"_s}
        << u"http://<p>/a"_s << 2;
    QTest::newRow("loop between two hops")
        << true << QByteArrayList{"/c0", "http://<p>/a", "/a", "http://<p>/b", "/b", "http://<p>/a"}
        << QStringList{u"http://<p>/a"_s, u"http://<p>/b"_s,
                       u"リダイレクトがループしているため、たどるのをやめました。"_s}
        << u"http://<p>/b"_s << 3;
    QTest::newRow("relative Locations")
        << true << QByteArrayList{"/c0", "/d/e", "/d/e", "f?x=1", "/d/f", "../g"}
        << QStringList{u"http://<p>/d/e"_s, u"http://<p>/d/f?x=1"_s, u"http://<p>/g"_s} << u"http://<p>/g"_s
        << 4;
    QTest::newRow("chain that leaves the web")
        << true << QByteArrayList{"/c0", "mailto:x@example.com"} << QStringList{u"mailto:x@example.com"_s}
        << u"mailto:x@example.com"_s << 1;
}

void TestConversionEngine::redirectChain()
{
    QFETCH(bool, follow);
    QFETCH(QByteArrayList, hops);
    QFETCH(QStringList, info);
    QFETCH(QString, expected);
    QFETCH(int, requests);
    RedirectHost host;
    const QByteArray p = host.hostAndPort().toLatin1();
    for (qsizetype i = 0; i + 1 < hops.size(); i += 2)
        host.redirect(hops.at(i), QByteArray(hops.at(i + 1)).replace("<p>", p), 302);
    for (QString& line : info)
        line.replace(u"<p>"_s, host.hostAndPort());
    expected.replace(u"<p>"_s, host.hostAndPort());
    setFollowChain(follow);
    loadRules(u"127.0.0.1\tLocation:\t\r\n"_s);
    run(u"http://"_s + host.hostAndPort() + u"/c0"_s, 15000);
    QVERIFY(m_boxes->shown().isEmpty());
    QCOMPARE(m_view->afterUrl(), expected);
    QCOMPARE(m_view->afterInfo.split(u"\r\n"_s, Qt::SkipEmptyParts), info);
    QCOMPARE(host.requestCount(), requests);
    QVERIFY(!m_engine->isWaiting());
}

void TestConversionEngine::chainHopsJudged_data()
{
    // Hops as in redirectChain; in the lines "<ip>" and "<mail>" stand for the two verdicts.
    QTest::addColumn<QByteArrayList>("hops");
    QTest::addColumn<QStringList>("info");
    QTest::newRow("chain that leaves the web")
        << QByteArrayList{"/c0", "http://<p>/c1", "/c1", "mailto:x@example.com"}
        << QStringList{u"http://<p>/c1"_s, u"<ip>"_s, u"mailto:x@example.com"_s, u"<mail>"_s};
    QTest::newRow("chain stopped by a loop")
        << QByteArrayList{"/c0", "http://<p>/c1", "/c1", "http://<p>/c2", "/c2", "http://<p>/c1"}
        << QStringList{u"http://<p>/c1"_s, u"<ip>"_s, u"http://<p>/c2"_s,
                       u"リダイレクトがループしているため、たどるのをやめました。"_s, u"<ip>"_s};
}

// Every hop that is not ok has its verdict under it; the last hop's is the destination's, shown once
// after the designed lines.
void TestConversionEngine::chainHopsJudged()
{
    QFETCH(QByteArrayList, hops);
    QFETCH(QStringList, info);
    RedirectHost host;
    const QByteArray p = host.hostAndPort().toLatin1();
    for (qsizetype i = 0; i + 1 < hops.size(); i += 2)
        host.redirect(hops.at(i), QByteArray(hops.at(i + 1)).replace("<p>", p), 302);
    const QString ipVerdict = u"【注意】行き先の確認: 暗号化されない接続(http:)です。"
                              u"ホスト名ではなくIPアドレスが直接書かれています"_s;
    const QString mailVerdict = u"【注意】行き先の確認: 行き先がWebのアドレスではありません(mailto:)"_s;
    for (QString& line : info)
        line = line == u"<ip>"_s     ? ipVerdict
               : line == u"<mail>"_s ? mailVerdict
                                     : line.replace(u"<p>"_s, host.hostAndPort());
    QVERIFY(writeFile(m_dir->filePath(u"blocklist.txt"_s), "ads.example\n"));
    verdict::DestinationCheck check;
    QCOMPARE(check.load(m_dir->path()), QStringList());
    m_engine->setDestinationCheck(&check);
    setFollowChain(true);
    loadRules(u"127.0.0.1\tLocation:\t\r\n"_s);
    run(u"http://"_s + host.hostAndPort() + u"/c0"_s, 15000);
    m_engine->setDestinationCheck(nullptr);
    QCOMPARE(m_view->afterInfo.split(u"\r\n"_s, Qt::SkipEmptyParts), info);
}

void TestConversionEngine::chainCrossesTls()
{
    if (!QSslSocket::supportsSsl())
        QSKIP("no TLS backend");
    const TrustTestAuthority authority;
    RedirectHost plain;
    const QByteArray base = "http://" + plain.hostAndPort().toLatin1();
    TlsTestHost tls;
    const QByteArray secure = "https://127.0.0.1:" + QByteArray::number(tls.port());
    plain.redirect("/c0", secure + "/s");
    // A relative Location from the TLS host stays on it.
    tls.setAnswer("/s", "HTTP/1.0 302 Found\r\nLocation: /t\r\n\r\n");
    tls.setAnswer("/t", "HTTP/1.0 302 Found\r\nLocation: " + base + "/end\r\n\r\n");
    setFollowChain(true);
    loadRules(u"127.0.0.1\tLocation:\t\r\n"_s);
    run(QString::fromLatin1(base + "/c0"));
    QVERIFY(m_boxes->shown().isEmpty());
    QCOMPARE(tls.requestLines, (QByteArrayList{"GET /s HTTP/1.0", "GET /t HTTP/1.0"}));
    QCOMPARE(plain.requestCount(), 2);
    QCOMPARE(m_view->afterUrl(), QString::fromLatin1(base + "/end"));
    QCOMPARE(m_view->afterInfo.split(u"\r\n"_s),
             (QStringList{QString::fromLatin1(secure + "/s"), QString::fromLatin1(secure + "/t"),
                          QString::fromLatin1(base + "/end")}));
}

void TestConversionEngine::chainLocationForms_data()
{
    // The Location of the first hop ("/c0"), with "<p>" for the host and its port; a second hop, when
    // taken, is answered 404 and ends the chain.
    QTest::addColumn<QByteArray>("locationName");
    QTest::addColumn<QByteArray>("location");
    QTest::addColumn<QString>("expected"); // the after URL
    QTest::addColumn<int>("requests");
    QTest::addColumn<QString>("problem"); // empty: no box
    const QString refused = u"URLに制御文字が含まれているため、接続しませんでした。"_s;
    QTest::newRow("relative, \"://\" in its query")
        << QByteArray("Location") << QByteArray("/ok?next=http://example.org/")
        << u"http://<p>/ok?next=http://example.org/"_s << 2 << QString();
    QTest::newRow("relative path, \"://\" in its query")
        << QByteArray("Location") << QByteArray("ok?u=https://example.org/x")
        << u"http://<p>/ok?u=https://example.org/x"_s << 2 << QString();
    QTest::newRow("network-path reference")
        << QByteArray("Location") << QByteArray("//<p>/n") << u"http://<p>/n"_s << 2 << QString();
    QTest::newRow("lower-case header")
        << QByteArray("location") << QByteArray("http://<p>/end") << u"http://<p>/end"_s << 2 << QString();
    QTest::newRow("upper-case header, relative")
        << QByteArray("LOCATION") << QByteArray("/End?x=A") << u"http://<p>/End?x=A"_s << 2 << QString();
    QTest::newRow("NUL in the path") << QByteArray("Location") << QByteArray("http://<p>/next\0evil", 20)
                                     << u"http://<p>/next"_s + QChar(0) + u"evil"_s << 1 << refused;
    QTest::newRow("tab in the path") << QByteArray("Location") << QByteArray("http://<p>/a\tb")
                                     << u"http://<p>/a\tb"_s << 1 << refused;
    QTest::newRow("escape in the host") << QByteArray("Location") << QByteArray("http://127.0.0.1\x1b:1/")
                                        << u"http://127.0.0.1\x1b:1/"_s << 1 << refused;
    QTest::newRow("DEL in the path") << QByteArray("Location") << QByteArray("http://<p>/q\x7f")
                                     << u"http://<p>/q\x7f"_s << 1 << refused;
}

void TestConversionEngine::chainLocationForms()
{
    QFETCH(QByteArray, locationName);
    QFETCH(QByteArray, location);
    QFETCH(QString, expected);
    QFETCH(int, requests);
    QFETCH(QString, problem);
    RedirectHost host;
    location.replace("<p>", host.hostAndPort().toLatin1());
    expected.replace(u"<p>"_s, host.hostAndPort());
    RedirectAnswer answer = RedirectAnswer::movedTo(location, 302);
    answer.locationName = locationName;
    host.setAnswer("/c0", answer);
    setFollowChain(true);
    loadRules(u"127.0.0.1\tLocation:\t\r\n"_s);
    run(u"http://"_s + host.hostAndPort() + u"/c0"_s, 15000);
    QTRY_COMPARE(m_boxes->shown().size(), problem.isEmpty() ? 0 : 1);
    if (!problem.isEmpty()) {
        QCOMPARE(m_boxes->shown().first().title, u"ERROR"_s);
        QCOMPARE(m_boxes->shown().first().text, problem);
    }
    QCOMPARE(m_view->afterUrl(), expected);
    QTest::qWait(50);
    QCOMPARE(host.requestCount(), requests);
    for (const QByteArray& request : host.rawRequests())
        QVERIFY2(!request.contains('\0') && !request.contains('\x1b') && !request.contains('\x7f'),
                 request.constData());
    QVERIFY(!m_engine->isWaiting());
}

void TestConversionEngine::followIgnoresRulesAndSetting()
{
    RedirectHost host;
    host.redirect("/s", "/t", 302);
    host.redirect("/t", "/u", 302);
    // A rule that would expand the link locally, and the chain setting off: follow asks the host anyway.
    loadRules(u"127.0.0.1\thttp://local.example/\t\r\n"_s);
    setFollowChain(false);
    QSignalSpy finished(m_engine.get(), &ConversionEngine::conversionFinished);
    m_view->setBeforeUrl(u"http://"_s + host.hostAndPort() + u"/s"_s);
    m_engine->StartFollow();
    QVERIFY(finished.wait(10000));
    QCOMPARE(m_engine->lConvMode(), 4);
    const QString base = u"http://"_s + host.hostAndPort();
    QCOMPARE(m_view->afterUrl(), base + u"/u"_s);
    QCOMPARE(m_view->afterInfo, base + u"/t\r\n"_s + base + u"/u"_s);
    // The next ordinary run goes by the rules again.
    run(u"http://"_s + host.hostAndPort() + u"/s"_s);
    QCOMPARE(m_engine->lConvMode(), 1);
    QCOMPARE(m_view->afterUrl(), u"http://local.example/"_s);
}

void TestConversionEngine::liveLinkReadsChannelPage()
{
    LiveChannelHost live;
    live.setChannelUrlValue(u"x "_s);
    live.setTitle(u" T "_s);
    setEndpoint(Endpoints::LiveShortDomain, live.hostAndPort());
    m_engine->setEndpoints(g_endpoints);
    run(live.shortLinkUrl().toString());
    QCOMPARE(m_engine->lConvMode(), 3);
    QVERIFY(m_engine->LiveProbe());
    QCOMPARE(m_view->afterUrl(), u"http://live.example/channel/x"_s);
    QCOMPARE(m_view->afterInfo, u"T"_s);
    QCOMPARE(m_view->message, u"URLプレビューを実行しました"_s);
    QCOMPARE(m_view->messages.first(), u"処理中です..."_s);
}

void TestConversionEngine::liveLinkWithoutChannel()
{
    RedirectHost host;
    host.setDefaultAnswer(RedirectAnswer::movedTo("http://elsewhere.example/watch/9#frag#last"));
    setEndpoint(Endpoints::LiveShortDomain, host.hostAndPort());
    m_engine->setEndpoints(g_endpoints);
    run(u"http://"_s + host.hostAndPort() + u"/lv9"_s);
    QCOMPARE(m_engine->lConvMode(), 3);
    QCOMPARE(m_view->afterUrl(), u"http://elsewhere.example/watch/9#frag"_s);
    QCOMPARE(m_view->message, u"処理中です..."_s);
}

void TestConversionEngine::picturePreview_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("shown");
    QTest::newRow("picture") << u"png"_s << u"画像を表示しました。"_s << true;
    QTest::newRow("not a picture") << u"text"_s << u"画像を表示できませんでした。"_s << false;
    QTest::newRow("missing") << u"404"_s << u"画像を取得できませんでした。"_s << false;
    QTest::newRow("broken off") << u"broken"_s << u"画像を取得できませんでした。"_s << false;
}

void TestConversionEngine::picturePreview()
{
    QFETCH(QString, kind);
    PictureHost pictures;
    if (kind == u"png"_s)
        pictures.setPicture("/img/p1.png", TestPictures::Format::Png, QSize(40, 20));
    else if (kind == u"text"_s)
        pictures.setText("/img/p1.png", "not a picture");
    else if (kind == u"broken"_s)
        pictures.setBroken("/img/p1.png", TestPictures::make(TestPictures::Format::Png, QSize(300, 300)));
    loadRules(QString(), u"^http://pics\\.example/show/(\\w+)$\thttp://"_s + pictures.hostAndPort() +
                             u"/img/(1).png\r\n"_s);
    m_view->thumbnail = QImage(5, 5, QImage::Format_RGB32);
    run(u"http://pics.example/show/p1"_s);
    QCOMPARE(m_engine->lConvMode(), 2);
    QCOMPARE(m_view->afterUrl(), u"http://"_s + pictures.hostAndPort() + u"/img/p1.png"_s);
    QCOMPARE(m_view->messages.first(), u"処理中です..."_s);
    QTEST(m_view->message, "message");
    QFETCH(bool, shown);
    QCOMPARE(m_view->thumbnailVisible, shown);
    QCOMPARE(m_view->afterInfoVisible, !shown);
    QCOMPARE(m_view->thumbnail.isNull(), !shown);
    if (shown)
        QCOMPARE(m_view->thumbnail.size(), QSize(40, 20));
    QCOMPARE(m_engine->previewPicturePath(), m_dir->filePath(u"hvxlinvera.jpg"_s));
}

void TestConversionEngine::smallerPictureReplacesWholeFile()
{
    PictureHost pictures;
    const QByteArray big = TestPictures::make(TestPictures::Format::Png, QSize(200, 200));
    const QByteArray small = TestPictures::makeExactly(TestPictures::Format::Png, PictureHost::smallPngSize);
    QVERIFY(big.size() > small.size());
    pictures.setFile("/a.png", big, "image/png");
    pictures.setFile("/b.png", small, "image/png");
    loadRules(QString(),
              u"^http://pics\\.example/(\\w)\\.png$\thttp://"_s + pictures.hostAndPort() + u"/(1).png\r\n"_s);
    run(u"http://pics.example/a.png"_s);
    const QString path = m_dir->filePath(u"hvxlinvera.png"_s);
    QCOMPARE(readFile(path), big);
    run(u"http://pics.example/b.png"_s);
    QCOMPARE(readFile(path), small);
    QCOMPARE(m_view->message, u"画像を表示しました。"_s);
}

void TestConversionEngine::logHoldsOneLinePerRun()
{
    PictureHost pictures;
    pictures.setPicture("/p.png", TestPictures::Format::Png, QSize(4, 4));
    RedirectHost live;
    live.setDefaultAnswer(RedirectAnswer::movedTo("http://t.example/x#y"));
    setEndpoint(Endpoints::LiveShortDomain, live.hostAndPort());
    m_engine->setEndpoints(g_endpoints);
    loadRules(QString(), u"^http://pics\\.example/p$\thttp://"_s + pictures.hostAndPort() + u"/p.png\r\n"_s);
    m_shortener->setShortUrl(u"http://s.example/nihon"_s);
    platform::AnsiCodec::select(platform::AnsiCodec::CodePage::Windows31J);
    run(u"http://long.example/あ"_s);
    run(u"http://"_s + live.hostAndPort() + u"/lv1"_s);
    run(u"http://pics.example/p"_s);
    platform::AnsiCodec::select(platform::AnsiCodec::CodePage::Utf8);
    const QString date = QLocale::system().toString(m_today, QLocale::ShortFormat);
    const QString expected = date + u", http://long.example/あ, http://s.example/nihon\r\n"_s + date +
                             u", http://"_s + live.hostAndPort() + u"/lv1, \r\n"_s + date +
                             u", http://pics.example/p, http://"_s + pictures.hostAndPort() + u"/p.png\r\n"_s;
    QCOMPARE(readFile(m_dir->filePath(u"log.txt"_s)),
             platform::AnsiCodec::encode(expected, platform::AnsiCodec::CodePage::Windows31J));
}

void TestConversionEngine::batchedLogKeepsEveryLine_data()
{
    QTest::addColumn<int>("runs");
    QTest::addColumn<QString>("end"); // how the kept lines get written
    QTest::addColumn<bool>("writtenBeforeEnd");
    QTest::addColumn<int>("pauseBeforeLastMs");
    QTest::newRow("flushed") << 3 << u"flush"_s << false << 0;
    QTest::newRow("batching turned off") << 3 << u"off"_s << false << 0;
    QTest::newRow("engine deleted") << 3 << u"delete"_s << false << 0;
    // About 60 bytes a line: the batch fills several times before the end.
    QTest::newRow("batch full") << 3000 << u"flush"_s << true << 0;
    QTest::newRow("first line a second old")
        << 2 << u"flush"_s << true << ConversionEngine::kLogBatchMs + 100;
}

void TestConversionEngine::batchedLogKeepsEveryLine()
{
    QFETCH(int, runs);
    QFETCH(QString, end);
    QFETCH(bool, writtenBeforeEnd);
    QFETCH(int, pauseBeforeLastMs);
    loadRules(u"^http://yt\\.example/(\\w+)$\thttp://video.example/(1)\t\r\n"_s);
    m_engine->setLogBatched(true);
    const QString date = QLocale::system().toString(m_today, QLocale::ShortFormat);
    QByteArray expected;
    for (int i = 0; i < runs; ++i) {
        const QString id = QString::number(i);
        if (i == runs - 1)
            QThread::msleep(pauseBeforeLastMs);
        run(u"http://yt.example/"_s + id);
        expected +=
            QString(date + u", http://yt.example/"_s + id + u", http://video.example/"_s + id + u"\r\n"_s)
                .toUtf8();
    }
    const QString log = m_dir->filePath(u"log.txt"_s);
    QCOMPARE(QFile::exists(log), writtenBeforeEnd);
    if (writtenBeforeEnd) {
        const QByteArray early = readFile(log);
        QVERIFY(early.endsWith("\r\n"));
        QVERIFY(expected.startsWith(early));
    }
    if (end == u"flush"_s)
        m_engine->flushLog();
    else if (end == u"off"_s)
        m_engine->setLogBatched(false);
    else
        m_engine.reset();
    QCOMPARE(readFile(log), expected);
}

void TestConversionEngine::laterRunWins()
{
    // The first shortening answers slowly; while it waits, a second run converts locally.
    m_shortener->setDelivery(HttpTestDelivery::chunks(20, 60));
    m_shortener->setShortUrl(u"http://s.example/first"_s);
    loadRules(u"^http://yt\\.example/(\\w+)$\thttp://video.example/(1)\t\r\n"_s);
    m_view->clipboardChecked = true;
    bool secondRan = false;
    QTimer::singleShot(50, this, [&] {
        QVERIFY(m_engine->isProcessing());
        m_view->setBeforeUrl(u"http://yt.example/second"_s);
        m_engine->StartConv();
        secondRan = true;
    });
    m_view->setBeforeUrl(u"http://long.example/first"_s);
    m_engine->StartConv();
    QTRY_VERIFY_WITH_TIMEOUT(secondRan, 5000);
    QVERIFY(!m_engine->isProcessing());
    QCOMPARE(m_engine->lConvMode(), 1);
    QCOMPARE(m_view->afterUrl(), u"http://video.example/second"_s);
    QCOMPARE(m_view->message, u"URLプレビューを実行しました"_s);
    QCOMPARE(m_view->clipboard, u"http://video.example/second"_s);
    QCOMPARE(m_view->beforeUrl(), u"http://yt.example/second"_s);
    // Both runs are in the history, the first once its answer has come.
    QTRY_VERIFY_WITH_TIMEOUT(readFile(m_dir->filePath(u"log.txt"_s))
                                 .contains("http://long.example/first, http://s.example/first\r\n"),
                             10000);
    const QByteArray log = readFile(m_dir->filePath(u"log.txt"_s));
    QVERIFY(log.contains("http://yt.example/second, http://video.example/second\r\n"));
    QVERIFY(log.contains("http://long.example/first, http://s.example/first\r\n"));
}

void TestConversionEngine::replacedRunsLateAnswerChangesNothing_data()
{
    QTest::addColumn<QString>("step");      // what the first run waits for
    QTest::addColumn<QByteArray>("logged"); // the first run's log line, written when its answer came
    QTest::newRow("shortening") << u"shorten"_s
                                << QByteArray("http://long.example/first, http://s.example/first");
    QTest::newRow("expansion through a rule")
        << u"expand"_s << QByteArray("http://o.example/q1, http://long.example/api");
}

void TestConversionEngine::replacedRunsLateAnswerChangesNothing()
{
    QFETCH(QString, step);
    QFETCH(QByteArray, logged);
    RuleApiService api;
    api.setLongUrl(u"q1"_s, u"http://long.example/api"_s);
    api.setDelivery(HttpTestDelivery::chunks(8, 60));
    m_shortener->setDelivery(HttpTestDelivery::chunks(8, 60));
    m_shortener->setShortUrl(u"http://s.example/first"_s);
    loadRules(u"o.example/\t"_s + api.urlTemplate() + u"\t"_s + api.responsePattern() +
              u"\r\n^http://yt\\.example/(\\w+)$\thttp://video.example/(1)\t\r\n"_s);
    m_view->clipboardChecked = true;
    QSignalSpy finished(m_engine.get(), &ConversionEngine::conversionFinished);
    int firstAnswered = 0;
    m_view->setBeforeUrl(step == u"shorten"_s ? u"http://long.example/first"_s : u"http://o.example/q1"_s);
    m_engine->StartConv([&firstAnswered] { ++firstAnswered; });
    QVERIFY(m_engine->isProcessing());
    QCOMPARE(firstAnswered, 0);
    QTRY_VERIFY_WITH_TIMEOUT(m_shortener->requestCount() + api.requestCount() == 1, 5000);

    int secondAnswered = 0;
    m_view->setBeforeUrl(u"http://yt.example/second"_s);
    m_engine->StartConv([&secondAnswered] { ++secondAnswered; });
    // The replaced run's caller hears at once; the second run needed no network.
    QCOMPARE(firstAnswered, 1);
    QCOMPARE(secondAnswered, 1);
    QVERIFY(!m_engine->isProcessing());
    QCOMPARE(finished.size(), 1);

    // The first run's answer comes later and goes only into the history.
    const QString log = m_dir->filePath(u"log.txt"_s);
    QTRY_VERIFY_WITH_TIMEOUT(readFile(log).contains(QByteArray(logged + "\r\n")), 10000);
    QTest::qWait(50);
    QCOMPARE(finished.size(), 1);
    QCOMPARE(firstAnswered, 1);
    QCOMPARE(m_engine->lConvMode(), 1);
    QCOMPARE(m_view->afterUrl(), u"http://video.example/second"_s);
    QCOMPARE(m_view->message, u"URLプレビューを実行しました"_s);
    QCOMPARE(m_view->clipboard, u"http://video.example/second"_s);
    QVERIFY(m_boxes->shown().isEmpty());
    // The expansion that came too late started no shortening of its own.
    QCOMPARE(m_shortener->requestCount() + api.requestCount(), qsizetype(1));
}

void TestConversionEngine::limitsStayWithTheirEngine_data()
{
    QTest::addColumn<bool>("probe");
    QTest::newRow("shortening, each engine's HTTP time-outs") << false;
    QTest::newRow("header probe, each engine's probe time-outs") << true;
}

// Two engines side by side ask the same silent host, one with short waits and one with long ones:
// each ends by its own time-out, so what one engine was given never reaches the other.
void TestConversionEngine::limitsStayWithTheirEngine()
{
    QFETCH(bool, probe);
    HttpTestServer silent;
    QVERIFY(silent.isListening());
    silent.setDelivery(HttpTestDelivery::silent());
    Endpoints endpoints = g_endpoints;
    endpoints.set(Endpoints::ShortenerAltApiHost, silent.hostAndPort());
    const std::chrono::milliseconds waits[] = {std::chrono::milliseconds(300),
                                               std::chrono::milliseconds(2500)};

    QElapsedTimer clock;
    std::vector<std::unique_ptr<RecordingView>> views;
    std::vector<std::unique_ptr<ConversionEngine>> engines;
    QList<qint64> endedAt(2, -1);
    for (int i = 0; i < 2; ++i) {
        views.push_back(std::make_unique<RecordingView>());
        engines.push_back(std::make_unique<ConversionEngine>(*views.back(), *m_boxes));
        ConversionEngine& engine = *engines.back();
        engine.setEndpoints(endpoints);
        engine.setTempFolder(m_dir->path());
        engine.shortLinkRules().loadFromText(u"127.0.0.1\tLocation:\t\r\n"_s, *m_boxes);
        if (probe)
            engine.setProbeTimeouts({waits[i], waits[i]});
        else
            engine.setHttpLimits(WaitLimits(waits[i], 3 * waits[i]));
        connect(&engine, &ConversionEngine::conversionFinished, this,
                [&clock, &endedAt, i] { endedAt[i] = clock.elapsed(); });
        views.back()->setBeforeUrl(probe ? silent.url(u"/abc"_s).toString() : u"http://long.example/page"_s);
    }
    clock.start();
    // The long waits start first, so that the order of the starts cannot explain the order of the ends.
    engines[1]->StartConv();
    engines[0]->StartConv();
    QTRY_COMPARE_WITH_TIMEOUT(silent.requestCount(), qsizetype(2), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(endedAt[0] >= 0 && endedAt[1] >= 0, 15000);
    qInfo("ended after %lld and %lld ms", endedAt[0], endedAt[1]);
    // Qt's coarse timers may fire up to 5 % early; the bounds leave twice that.
    QVERIFY2(endedAt[0] >= waits[0].count() * 90 / 100, qPrintable(QString::number(endedAt[0])));
    QVERIFY2(endedAt[0] < waits[1].count() * 90 / 100, qPrintable(QString::number(endedAt[0])));
    QVERIFY2(endedAt[1] >= waits[1].count() * 90 / 100, qPrintable(QString::number(endedAt[1])));
    for (const auto& view : views)
        QCOMPARE(view->message, probe ? ConversionEngine::processingMessage() : u"URL短縮化に失敗しました"_s);
}

void TestConversionEngine::settingsChangeWaitsForTheNextRun_data()
{
    QTest::addColumn<QString>("setting");
    QTest::newRow("short-link form, changed while the expansion is answered") << u"form"_s;
    QTest::newRow("tracker removal, changed while the shortening is answered") << u"trackers"_s;
}

// The settings change while a run waits on the network: that run ends with the settings it started
// with, and the next run takes the change.
void TestConversionEngine::settingsChangeWaitsForTheNextRun()
{
    QFETCH(QString, setting);
    QVERIFY(QFile::copy(QStringLiteral(LINVERA_SHIPPED_TRACKERS), m_dir->filePath(u"trackers.json"_s)));
    verdict::DestinationCheck check;
    QCOMPARE(check.load(m_dir->path()), QStringList());
    m_engine->setDestinationCheck(&check);
    const QString tracked = u"https://s.example/alt?id=7&utm_source=mail"_s;
    ShortenerService primary;
    setEndpoint(Endpoints::ShortenerApiHost, primary.hostAndPort());
    m_engine->setEndpoints(g_endpoints);
    primary.setShortUrl(u"https://sh.example/main"_s);
    m_shortener->setShortUrl(tracked);
    m_shortener->setDelivery(HttpTestDelivery::chunks(8, 60));
    RuleApiService api;
    api.setDelivery(HttpTestDelivery::chunks(8, 60));
    loadRules(u"o.example/\t"_s + api.urlTemplate() + u"\t"_s + api.responsePattern() + u"\r\n"_s);
    // An unknown short link is expanded to nothing first, then shortened.
    const QString input =
        setting == u"form"_s ? u"http://o.example/unknown"_s : u"http://long.example/page"_s;

    EngineSettings changed = m_engine->settings();
    QCOMPARE(changed.shortUrlType, 0);
    QCOMPARE(changed.stripTrackers, false);
    if (setting == u"form"_s)
        changed.shortUrlType = 1;
    else
        changed.stripTrackers = true;

    QSignalSpy finished(m_engine.get(), &ConversionEngine::conversionFinished);
    m_view->setBeforeUrl(input);
    m_engine->StartConv();
    QVERIFY(m_engine->isProcessing());
    QTRY_COMPARE_WITH_TIMEOUT(api.requestCount() + m_shortener->requestCount(), qsizetype(1), 5000);
    m_engine->setSettings(changed);
    QVERIFY(finished.wait(10000));
    QCOMPARE(m_view->afterUrl(), tracked);
    QCOMPARE(primary.requestCount(), qsizetype(0));
    QCOMPARE(m_shortener->requestCount(), qsizetype(1));

    run(input);
    QCOMPARE(m_view->afterUrl(),
             setting == u"form"_s ? u"https://sh.example/main"_s : u"https://s.example/alt?id=7"_s);
    QCOMPARE(primary.requestCount(), qsizetype(setting == u"form"_s ? 1 : 0));
    m_engine->setDestinationCheck(nullptr);
}

QTEST_MAIN(TestConversionEngine)
#include "tst_conversionengine.moc"
