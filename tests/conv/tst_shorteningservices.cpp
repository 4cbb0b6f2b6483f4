// Shortening through is.gd/v.gd, YOURLS and Shlink, against loopback imitations of their
// documented APIs: requests checked on the wire, answers and failures read as JSON.
#include "ConversionEngine.h"
#include "HttpClient.h"
#include "PercentCoding.h"
#include "ShorteningServices.h"

#include "RecordingMessageBoxes.h"
#include "RecordingView.h"
#include "ShorteningImitations.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace linvera;
using namespace linvera::test;

namespace {

const QString kSignature = u"5e1f7a9b2d"_s;
const QByteArray kApiKey = "b4c1e8f0-7d2a-4c3e-9a6b-0f1e2d3c4b5a";

} // namespace

class TestShorteningServices : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void shortens_data();
    void shortens();
    void designedEntriesKeepTheirApi_data();
    void designedEntriesKeepTheirApi();
    void engineWritesResultOrFailure_data();
    void engineWritesResultOrFailure();

private:
    std::unique_ptr<IsgdImitation> m_isgd;
    std::unique_ptr<YourlsImitation> m_yourls;
    std::unique_ptr<ShlinkImitation> m_shlink;
    Endpoints m_endpoints;
    ShortenerAccounts m_accounts;
};

void TestShorteningServices::init()
{
    setHttpTimeouts({std::chrono::milliseconds(2000), std::chrono::milliseconds(5000)});
    m_isgd = std::make_unique<IsgdImitation>();
    m_yourls = std::make_unique<YourlsImitation>(kSignature);
    m_shlink = std::make_unique<ShlinkImitation>(kApiKey);
    m_endpoints = Endpoints();
    m_endpoints.set(Endpoints::IsgdApiBase, u"http://"_s + m_isgd->hostAndPort());
    m_endpoints.set(Endpoints::VgdApiBase, u"http://"_s + m_isgd->hostAndPort() + u"/"_s);
    m_accounts = {u"http://"_s + m_yourls->hostAndPort() + u"/"_s, kSignature,
                  u"http://"_s + m_shlink->hostAndPort(), QString::fromLatin1(kApiKey)};
}

void TestShorteningServices::shortens_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<QString>("longUrl");
    QTest::addColumn<QString>("shortUrl");
    QTest::addColumn<QString>("message");
    const QString url = u"http://o.example/a b?q=あ&x=1"_s;
    QTest::newRow("is.gd") << int(ShortUrlIsgd) << QString() << url << u"https://is.gd/1"_s << QString();
    QTest::newRow("v.gd, base with a slash")
        << int(ShortUrlVgd) << QString() << url << u"https://is.gd/1"_s << QString();
    QTest::newRow("is.gd refuses the URL") << int(ShortUrlIsgd) << QString() << u"not a url"_s << QString()
                                           << u"(1) Please specify a valid URL to shorten."_s;
    QTest::newRow("is.gd rate limit")
        << int(ShortUrlIsgd) << u"ratelimit"_s << url << QString()
        << u"(3) Rate limit exceeded - please wait 1 minute before accessing again."_s;
    QTest::newRow("is.gd HTML error page") << int(ShortUrlIsgd) << u"html"_s << url << QString()
                                           << u"サービスの答えを読めませんでした(JSONではありません)。"_s;
    QTest::newRow("is.gd not there") << int(ShortUrlIsgd) << u"closed"_s << url << QString()
                                     << u"サービスから答えがありませんでした。"_s;
    QTest::newRow("is.gd never answers")
        << int(ShortUrlIsgd) << u"silent"_s << url << QString() << u"サービスから答えがありませんでした。"_s;
    const QString yourlsShort = u"http://sho.rt/"_s + QString::number(qHash(url) % 1000);
    QTest::newRow("YOURLS") << int(ShortUrlYourls) << QString() << url << yourlsShort << QString();
    QTest::newRow("YOURLS, URL already stored")
        << int(ShortUrlYourls) << u"known"_s << url << yourlsShort << QString();
    QTest::newRow("YOURLS, wrong signature")
        << int(ShortUrlYourls) << u"badsecret"_s << url << QString() << u"Please log in"_s;
    QTest::newRow("YOURLS, bad URL") << int(ShortUrlYourls) << QString() << u"nope"_s << QString()
                                     << u"Missing or malformed URL"_s;
    QTest::newRow("YOURLS, no base URL") << int(ShortUrlYourls) << u"unset"_s << url << QString()
                                         << u"短縮サービスのURLが設定されていません。"_s;
    QTest::newRow("Shlink") << int(ShortUrlShlink) << QString() << url << u"https://s.test/12C18"_s
                            << QString();
    QTest::newRow("Shlink, wrong key") << int(ShortUrlShlink) << u"badsecret"_s << url << QString()
                                       << u"Provided API key does not exist or is invalid."_s;
    QTest::newRow("Shlink, key repeated in the answer")
        << int(ShortUrlShlink) << u"echo"_s << url << QString() << u"API key *** is not valid"_s;
    QTest::newRow("Shlink, bad URL") << int(ShortUrlShlink) << QString() << u"nope"_s << QString()
                                     << u"Provided data is not valid"_s;
    QTest::newRow("Shlink, not there") << int(ShortUrlShlink) << u"closed"_s << url << QString()
                                       << u"サービスから答えがありませんでした。"_s;
    QTest::newRow("Shlink, no base URL") << int(ShortUrlShlink) << u"unset"_s << url << QString()
                                         << u"短縮サービスのURLが設定されていません。"_s;
}

void TestShorteningServices::shortens()
{
    QFETCH(int, type);
    QFETCH(QString, scenario);
    QFETCH(QString, longUrl);
    const QString closed = u"http://127.0.0.1:"_s + QString::number(HttpTestServer::closedPort());
    if (scenario == u"ratelimit"_s)
        m_isgd->rateLimited = true;
    else if (scenario == u"html"_s)
        m_isgd->htmlError = true;
    else if (scenario == u"silent"_s)
        m_isgd->setDelivery(HttpTestDelivery::silent());
    else if (scenario == u"known"_s)
        m_yourls->known.append(longUrl);
    else if (scenario == u"closed"_s) {
        m_endpoints.set(Endpoints::IsgdApiBase, closed);
        m_accounts.shlinkUrl = closed;
    } else if (scenario == u"unset"_s) {
        m_accounts.yourlsUrl = u" "_s;
        m_accounts.shlinkUrl.clear();
    } else if (scenario == u"echo"_s) {
        m_shlink->apiKey = "other";
        m_shlink->echoKey = true;
    } else if (scenario == u"badsecret"_s) {
        m_yourls->signature = u"other"_s;
        m_shlink->apiKey = "other";
    }

    const ShortenOutcome outcome = ShortenWithService(longUrl, type, m_accounts, m_endpoints);
    QFETCH(QString, shortUrl);
    QFETCH(QString, message);
    QCOMPARE(outcome.shortUrl, shortUrl);
    QCOMPARE(outcome.message, message);
    // A secret never shows in what the user is told.
    QVERIFY(!outcome.message.contains(kSignature));
    QVERIFY(!outcome.message.contains(QString::fromLatin1(kApiKey)));

    if (scenario == u"closed"_s || scenario == u"unset"_s || scenario == u"silent"_s)
        return;
    switch (type) {
    case ShortUrlIsgd:
    case ShortUrlVgd: {
        QCOMPARE(m_isgd->requestCount(), 1);
        const HttpTestRequest request = m_isgd->lastRequest();
        QCOMPARE(request.method, QByteArray("GET"));
        QCOMPARE(request.target, "/create.php?format=json&url=" + PercentEncode(longUrl).toLatin1());
        break;
    }
    case ShortUrlYourls: {
        QCOMPARE(m_yourls->requestCount(), 1);
        const HttpTestRequest request = m_yourls->lastRequest();
        QCOMPARE(request.method, QByteArray("GET"));
        QCOMPARE(request.target,
                 "/yourls-api.php?action=shorturl&format=json&url=" + PercentEncode(longUrl).toLatin1() +
                     "&signature=" + kSignature.toLatin1());
        break;
    }
    case ShortUrlShlink: {
        QCOMPARE(m_shlink->requestCount(), 1);
        const HttpTestRequest request = m_shlink->lastRequest();
        QCOMPARE(request.method, QByteArray("POST"));
        QCOMPARE(request.target, QByteArray("/rest/v3/short-urls"));
        QCOMPARE(request.header("X-Api-Key"), kApiKey);
        QCOMPARE(request.header("Content-Type"), QByteArray("application/json"));
        QCOMPARE(QJsonDocument::fromJson(request.body).object(), (QJsonObject{{u"longUrl"_s, longUrl}}));
        break;
    }
    }
}

void TestShorteningServices::designedEntriesKeepTheirApi_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<bool>("service");
    QTest::newRow("none selected") << -1 << false;
    QTest::newRow("0 alternative API") << 0 << false;
    QTest::newRow("1 primary API") << 1 << false;
    QTest::newRow("2 is.gd") << 2 << true;
    QTest::newRow("5 Shlink") << 5 << true;
    QTest::newRow("6 beyond the list") << 6 << false;
}

void TestShorteningServices::designedEntriesKeepTheirApi()
{
    QFETCH(int, type);
    QFETCH(bool, service);
    QCOMPARE(IsServiceType(type), service);
}

void TestShorteningServices::engineWritesResultOrFailure_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("longUrl");
    QTest::addColumn<QString>("afterUrl");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("infoLine");
    QTest::newRow("is.gd success") << int(ShortUrlIsgd) << u"http://o.example/x"_s << u"https://is.gd/1"_s
                                   << u"URL短縮化を実行しました"_s << QString();
    QTest::newRow("is.gd error") << int(ShortUrlIsgd) << u"o.example"_s << QString()
                                 << u"URL短縮化に失敗しました"_s
                                 << u"(1) Please specify a valid URL to shorten."_s;
    QTest::newRow("Shlink success") << int(ShortUrlShlink) << u"http://o.example/x"_s
                                    << u"https://s.test/12C18"_s << u"URL短縮化を実行しました"_s << QString();
    QTest::newRow("Shlink error") << int(ShortUrlShlink) << u"o.example"_s << QString()
                                  << u"URL短縮化に失敗しました"_s << u"Provided data is not valid"_s;
}

void TestShorteningServices::engineWritesResultOrFailure()
{
    QFETCH(int, type);
    QFETCH(QString, longUrl);
    QFETCH(QString, afterUrl);
    QFETCH(QString, message);
    QFETCH(QString, infoLine);
    QTemporaryDir dir;
    RecordingView view;
    view.clipboardChecked = true;
    RecordingMessageBoxes boxes;
    ConversionEngine engine(view, boxes);
    engine.setEndpoints(m_endpoints);
    engine.setLogFilePath(dir.filePath(u"log.txt"_s));
    engine.setShortUrlTypeSource([type] { return type; });
    engine.setShortenerAccountsSource([this] { return m_accounts; });
    view.setBeforeUrl(longUrl);
    engine.StartConv();
    QCOMPARE(engine.lConvMode(), 0);
    QCOMPARE(view.afterUrl(), afterUrl);
    QCOMPARE(view.message, message);
    if (infoLine.isEmpty())
        QVERIFY(!view.afterInfo.contains(u"Please"_s));
    else
        QVERIFY2(view.afterInfo.contains(infoLine + u"\r\n"_s), qPrintable(view.afterInfo));
    QCOMPARE(view.clipboard, afterUrl);
    QFile log(dir.filePath(u"log.txt"_s));
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(log.readAll().endsWith((u", "_s + longUrl + u", "_s + afterUrl + u"\r\n"_s).toLatin1()));
    QVERIFY(boxes.shown().isEmpty());
}

QTEST_GUILESS_MAIN(TestShorteningServices)
#include "tst_shorteningservices.moc"
