// Shortening through is.gd/v.gd, YOURLS and Shlink, and expanding links of the self-hosted ones,
// against loopback imitations of their documented APIs: requests checked on the wire, answers and
// failures read as JSON.
#include "codec/PercentCoding.h"
#include "conv/ConversionEngine.h"
#include "conv/HttpClient.h"
#include "conv/ShorteningServices.h"

#include "AwaitAnswer.h"
#include "EngineBoxes.h"
#include "RecordingMessageBoxes.h"
#include "RecordingView.h"
#include "ShortenerService.h"
#include "ShorteningImitations.h"
#include "WaitLimits.h"

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
    void onlyWebAddressesAreShortLinks_data();
    void onlyWebAddressesAreShortLinks();
    void matchesOnlyTheConfiguredHost_data();
    void matchesOnlyTheConfiguredHost();
    void expandsOwnLinks_data();
    void expandsOwnLinks();
    void keyStaysWithTheConfiguredServer();
    void engineExpandsOwnLinksFirst_data();
    void engineExpandsOwnLinksFirst();

private:
    std::unique_ptr<IsgdImitation> m_isgd;
    std::unique_ptr<YourlsImitation> m_yourls;
    std::unique_ptr<ShlinkImitation> m_shlink;
    Endpoints m_endpoints;
    ShortenerAccounts m_accounts;
    HttpLimits m_limits;
};

void TestShorteningServices::init()
{
    m_limits = WaitLimits(std::chrono::milliseconds(2000), std::chrono::milliseconds(5000));
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

    const ShortenOutcome outcome =
        awaitAnswer<ShortenOutcome>([&](auto done) {
            return ShortenWithService(longUrl, type, m_accounts, m_endpoints, done, m_limits);
        }).value_or(ShortenOutcome{QString(), u"(no answer)"_s});
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
    showEngineBoxes(engine, boxes);
    engine.setHttpLimits(m_limits);
    engine.setEndpoints(m_endpoints);
    engine.setLogFilePath(dir.filePath(u"log.txt"_s));
    EngineSettings settings;
    settings.shortUrlType = type;
    settings.accounts = m_accounts;
    engine.setSettings(settings);
    view.setBeforeUrl(longUrl);
    engine.StartConv();
    QTRY_VERIFY_WITH_TIMEOUT(!engine.isProcessing(), 30000);
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

void TestShorteningServices::onlyWebAddressesAreShortLinks_data()
{
    QTest::addColumn<int>("type"); // 1: the designed API
    QTest::addColumn<QString>("answered");
    QTest::addColumn<bool>("accepted");
    const std::pair<int, const char*> services[] = {{1, "designed"},
                                                    {int(ShortUrlIsgd), "is.gd"},
                                                    {int(ShortUrlVgd), "v.gd"},
                                                    {int(ShortUrlYourls), "YOURLS"},
                                                    {int(ShortUrlShlink), "Shlink"}};
    const std::pair<const char*, bool> answers[] = {
        {"javascript:alert(1)", false},   {"data:text/html,<b>x</b>", false},
        {"ftp://f.example/a", false},     {"no link at all", false},
        {"http:///no-host", false},       {"http://sp ace.example/a", false},
        {"http://c.example/a\tb", false}, {"https://ok.example/1", true},
        {"HTTP://OK.example/2", true},
    };
    for (const auto& [type, service] : services) {
        for (const auto& [answer, accepted] : answers)
            QTest::addRow("%s answers %s", service, answer) << type << QString::fromUtf8(answer) << accepted;
    }
}

void TestShorteningServices::onlyWebAddressesAreShortLinks()
{
    QFETCH(int, type);
    QFETCH(QString, answered);
    QFETCH(bool, accepted);
    ShortenerService designed;
    designed.setShortUrl(answered);
    m_isgd->shortUrlAnswer = answered;
    m_yourls->shortUrlAnswer = answered;
    m_shlink->shortUrlAnswer = answered;
    m_endpoints.set(Endpoints::ShortenerApiHost, designed.hostAndPort());
    QTemporaryDir dir;
    RecordingView view;
    RecordingMessageBoxes boxes;
    ConversionEngine engine(view, boxes);
    showEngineBoxes(engine, boxes);
    engine.setHttpLimits(m_limits);
    engine.setEndpoints(m_endpoints);
    engine.setLogFilePath(dir.filePath(u"log.txt"_s));
    EngineSettings settings;
    settings.shortUrlType = type;
    settings.accounts = m_accounts;
    engine.setSettings(settings);
    view.setBeforeUrl(u"http://o.example/long"_s);
    engine.StartConv();
    QTRY_VERIFY_WITH_TIMEOUT(!engine.isProcessing(), 30000);
    QCOMPARE(engine.lConvMode(), 0);
    QCOMPARE(view.afterUrl(), accepted ? answered : QString());
    QCOMPARE(view.message, accepted ? u"URL短縮化を実行しました"_s : u"URL短縮化に失敗しました"_s);
    // The services say why; the designed API's answer has no words of its own.
    if (!accepted && type != 1)
        QVERIFY2(view.afterInfo.contains(u"Webアドレス(http/https)ではありません"_s),
                 qPrintable(view.afterInfo));
    QVERIFY(boxes.shown().isEmpty());
}

void TestShorteningServices::matchesOnlyTheConfiguredHost_data()
{
    QTest::addColumn<QString>("yourlsUrl");
    QTest::addColumn<QString>("signature");
    QTest::addColumn<QString>("shlinkUrl");
    QTest::addColumn<QString>("apiKey");
    QTest::addColumn<QString>("link");
    QTest::addColumn<int>("service"); // -1: no rule
    const QString y = u"https://sho.rt"_s;
    const QString s = u"https://ex.example:8080/s/"_s;
    const QString sig = u"sig"_s;
    const QString key = u"key"_s;
    QTest::newRow("YOURLS link") << y << sig << s << key << u"https://sho.rt/abc"_s << int(ShortUrlYourls);
    QTest::newRow("written http") << y << sig << s << key << u"http://sho.rt/abc"_s << int(ShortUrlYourls);
    QTest::newRow("host in capitals")
        << y << sig << s << key << u"https://SHO.RT/abc"_s << int(ShortUrlYourls);
    QTest::newRow("default port written")
        << y + u":443"_s << sig << s << key << u"https://sho.rt/abc"_s << int(ShortUrlYourls);
    QTest::newRow("other port") << y << sig << s << key << u"https://sho.rt:8443/abc"_s << -1;
    QTest::newRow("host that only begins alike")
        << y << sig << s << key << u"https://sho.rt.evil.example/abc"_s << -1;
    QTest::newRow("host in the path") << y << sig << s << key << u"https://evil.example/sho.rt/abc"_s << -1;
    QTest::newRow("user info") << y << sig << s << key << u"https://sho.rt@evil.example/abc"_s << -1;
    QTest::newRow("two segments") << y << sig << s << key << u"https://sho.rt/abc/def"_s << -1;
    QTest::newRow("no code") << y << sig << s << key << u"https://sho.rt/"_s << -1;
    QTest::newRow("query") << y << sig << s << key << u"https://sho.rt/abc?x=1"_s << -1;
    QTest::newRow("fragment") << y << sig << s << key << u"https://sho.rt/abc#x"_s << -1;
    QTest::newRow("not a web link") << y << sig << s << key << u"ftp://sho.rt/abc"_s << -1;
    QTest::newRow("no signature") << y << u" "_s << s << key << u"https://sho.rt/abc"_s << -1;
    QTest::newRow("Shlink under its base path")
        << y << sig << s << key << u"https://ex.example:8080/s/ab-C1"_s << int(ShortUrlShlink);
    QTest::newRow("Shlink outside its base path")
        << y << sig << s << key << u"https://ex.example:8080/ab"_s << -1;
    QTest::newRow("Shlink, path only begins alike")
        << y << sig << s << key << u"https://ex.example:8080/sx/ab"_s << -1;
    QTest::newRow("Shlink, no key") << y << sig << s << QString() << u"https://ex.example:8080/s/ab"_s << -1;
    QTest::newRow("Shlink, key with a line break")
        << y << sig << s << u"k\r\nX-Evil: 1"_s << u"https://ex.example:8080/s/ab"_s << -1;
    QTest::newRow("base without a scheme") << u"sho.rt"_s << sig << s << key << u"https://sho.rt/abc"_s << -1;
}

void TestShorteningServices::matchesOnlyTheConfiguredHost()
{
    QFETCH(QString, yourlsUrl);
    QFETCH(QString, signature);
    QFETCH(QString, shlinkUrl);
    QFETCH(QString, apiKey);
    QFETCH(QString, link);
    QFETCH(int, service);
    const ServiceLinkRule rule = MatchServiceLink(link, {yourlsUrl, signature, shlinkUrl, apiKey});
    QCOMPARE(rule.service, service);
    QCOMPARE(rule.matched(), service >= 0);
}

void TestShorteningServices::expandsOwnLinks_data()
{
    QTest::addColumn<int>("service");
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("longUrl");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("message");
    QTest::newRow("YOURLS") << int(ShortUrlYourls) << QString() << u"abc"_s
                            << u"http://o.example/a/b?x=1&y=あ"_s << u"日本の頁"_s << QString();
    QTest::newRow("YOURLS, unknown keyword") << int(ShortUrlYourls) << QString() << u"zz"_s << QString()
                                             << QString() << u"Error: short URL not found"_s;
    QTest::newRow("YOURLS, wrong signature")
        << int(ShortUrlYourls) << u"badsecret"_s << u"abc"_s << QString() << QString() << u"Please log in"_s;
    QTest::newRow("YOURLS, request repeated in the answer")
        << int(ShortUrlYourls) << u"echo"_s << u"abc"_s << QString() << QString()
        << u"Please log in (/yourls-api.php?action=expand&shorturl=abc&format=json&signature=***)"_s;
    QTest::newRow("YOURLS, not there") << int(ShortUrlYourls) << u"closed"_s << u"abc"_s << QString()
                                       << QString() << u"サービスから答えがありませんでした。"_s;
    QTest::newRow("Shlink") << int(ShortUrlShlink) << QString() << u"ab-C1"_s << u"https://o.example/x%20y"_s
                            << QString() << QString();
    QTest::newRow("Shlink, unknown code") << int(ShortUrlShlink) << QString() << u"zz"_s << QString()
                                          << QString() << u"No URL found with short code \"zz\""_s;
    QTest::newRow("Shlink, wrong key") << int(ShortUrlShlink) << u"badsecret"_s << u"ab-C1"_s << QString()
                                       << QString() << u"Provided API key does not exist or is invalid."_s;
    QTest::newRow("Shlink, not there") << int(ShortUrlShlink) << u"closed"_s << u"ab-C1"_s << QString()
                                       << QString() << u"サービスから答えがありませんでした。"_s;
}

void TestShorteningServices::expandsOwnLinks()
{
    QFETCH(int, service);
    QFETCH(QString, scenario);
    QFETCH(QString, code);
    QFETCH(QString, longUrl);
    QFETCH(QString, title);
    QFETCH(QString, message);
    m_yourls->links.insert(u"abc"_s, {u"http://o.example/a/b?x=1&y=あ"_s, u"日本の頁"_s});
    m_shlink->links.insert(u"ab-C1"_s, {u"https://o.example/x%20y"_s, QString()});
    if (scenario == u"closed"_s) {
        const QString closed = u"http://127.0.0.1:"_s + QString::number(HttpTestServer::closedPort());
        (service == ShortUrlYourls ? m_accounts.yourlsUrl : m_accounts.shlinkUrl) = closed;
    }
    // The link names the server as the settings do.
    const QString base = service == ShortUrlYourls ? m_accounts.yourlsUrl : m_accounts.shlinkUrl;
    const QString link = (base.endsWith(u'/') ? base : base + u'/') + code;
    if (scenario == u"badsecret"_s) {
        m_yourls->signature = u"other"_s;
        m_shlink->apiKey = "other";
    } else if (scenario == u"echo"_s) {
        // A signature that travels percent-encoded: neither form may show.
        m_accounts.yourlsSignature = u"s/g+1"_s;
        m_yourls->signature = u"other"_s;
        m_yourls->echoRequest = true;
    }
    HttpTestServer& server = service == ShortUrlYourls ? static_cast<HttpTestServer&>(*m_yourls) : *m_shlink;

    const ServiceLinkRule rule = MatchServiceLink(link, m_accounts);
    QCOMPARE(rule.service, service);
    const ServiceExpansion expansion = awaitAnswer<ServiceExpansion>([&](auto done) {
                                           return ExpandServiceLink(link, rule, done, m_limits);
                                       }).value_or(ServiceExpansion{QString(), QString(), u"(no answer)"_s});
    QCOMPARE(expansion.longUrl, longUrl);
    QCOMPARE(expansion.pageTitle, title);
    QCOMPARE(expansion.message, message);
    for (const QString& secret : {m_accounts.yourlsSignature, PercentEncode(m_accounts.yourlsSignature),
                                  QString::fromLatin1(kApiKey)})
        QVERIFY2(!expansion.message.contains(secret), qPrintable(expansion.message));
    if (scenario == u"closed"_s)
        return;

    QCOMPARE(server.requestCount(), 1);
    const HttpTestRequest request = server.lastRequest();
    QCOMPARE(request.method, QByteArray("GET"));
    if (service == ShortUrlYourls) {
        QCOMPARE(request.target,
                 "/yourls-api.php?action=expand&shorturl=" + code.toLatin1() +
                     "&format=json&signature=" + PercentEncode(m_accounts.yourlsSignature).toLatin1());
        QVERIFY(!request.hasHeader("X-Api-Key"));
    } else {
        QCOMPARE(request.target, "/rest/v3/short-urls/" + code.toLatin1());
        QCOMPARE(request.header("X-Api-Key"), kApiKey);
        QCOMPARE(request.headerCount("X-Api-Key"), 1);
        QCOMPARE(request.header("Accept"), QByteArray("application/json"));
        // The key travels in its header only.
        QVERIFY(!request.target.contains(kApiKey));
    }
}

void TestShorteningServices::keyStaysWithTheConfiguredServer()
{
    // A Shlink server that moves the request elsewhere: the other server never sees the key.
    HttpTestServer elsewhere;
    elsewhere.setRoute("/moved",
                       HttpTestResponse::ok("{\"longUrl\": \"http://o.example/m\"}", "application/json"));
    m_shlink->movedTo = "http://" + elsewhere.hostAndPort().toLatin1() + "/moved";
    const QString link = m_accounts.shlinkUrl + u"/ab"_s;
    const ServiceExpansion expansion =
        awaitAnswer<ServiceExpansion>([&](auto done) {
            return ExpandServiceLink(link, MatchServiceLink(link, m_accounts), done, m_limits);
        }).value_or(ServiceExpansion());
    QCOMPARE(m_shlink->requestCount(), 1);
    QCOMPARE(m_shlink->lastRequest().header("X-Api-Key"), kApiKey);
    QCOMPARE(elsewhere.requestCount(), 1);
    QVERIFY(!elsewhere.lastRequest().hasHeader("X-Api-Key"));
    QVERIFY(!elsewhere.lastRequest().raw.contains(kApiKey));
    QCOMPARE(expansion.longUrl, u"http://o.example/m"_s);
}

void TestShorteningServices::engineExpandsOwnLinksFirst_data()
{
    QTest::addColumn<int>("service");
    QTest::addColumn<QString>("code");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("afterUrl");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QStringList>("info");
    const QString fallback = u"http://s.example/fb"_s;
    QTest::newRow("YOURLS link") << int(ShortUrlYourls) << u"abc"_s << 1 << u"http://o.example/a/b?x=1&y=あ"_s
                                 << u"URLプレビューを実行しました"_s << QStringList{u"日本の頁"_s};
    QTest::newRow("YOURLS, unknown keyword: shortened as designed")
        << int(ShortUrlYourls) << u"zz"_s << 0 << fallback << u"URL短縮化を実行しました"_s
        << QStringList{u"Error: short URL not found"_s};
    QTest::newRow("Shlink link") << int(ShortUrlShlink) << u"ab-C1"_s << 1 << u"https://o.example/x%20y"_s
                                 << u"URLプレビューを実行しました"_s
                                 << QStringList{u"https://o.example/x y"_s};
    QTest::newRow("Shlink, wrong key: shortened as designed")
        << int(ShortUrlShlink) << u"badkey"_s << 0 << fallback << u"URL短縮化を実行しました"_s
        << QStringList{u"Provided API key does not exist or is invalid."_s};
    QTest::newRow("Shlink, unknown code: shortened as designed")
        << int(ShortUrlShlink) << u"zz"_s << 0 << fallback << u"URL短縮化を実行しました"_s
        << QStringList{u"No URL found with short code \"zz\""_s};
}

void TestShorteningServices::engineExpandsOwnLinksFirst()
{
    QFETCH(int, service);
    QFETCH(QString, code);
    QFETCH(int, mode);
    QFETCH(QString, afterUrl);
    QFETCH(QString, message);
    QFETCH(QStringList, info);
    m_yourls->links.insert(u"abc"_s, {u"http://o.example/a/b?x=1&y=あ"_s, u"日本の頁"_s});
    m_shlink->links.insert(u"ab-C1"_s, {u"https://o.example/x%20y"_s, QString()});
    if (code == u"badkey"_s) {
        m_shlink->apiKey = "other";
        code = u"ab-C1"_s;
    }
    // The failed expansion falls back to the designed shortening, here the account's own API.
    ShortenerService designed;
    designed.setShortUrl(u"http://s.example/fb"_s);
    m_endpoints.set(Endpoints::ShortenerAltApiHost, designed.hostAndPort());
    QTemporaryDir dir;
    RecordingView view;
    RecordingMessageBoxes boxes;
    ConversionEngine engine(view, boxes);
    showEngineBoxes(engine, boxes);
    engine.setHttpLimits(m_limits);
    engine.setEndpoints(m_endpoints);
    engine.setLogFilePath(dir.filePath(u"log.txt"_s));
    EngineSettings settings;
    settings.accounts = m_accounts;
    engine.setSettings(settings);
    // A file rule that would take the link for a header probe: the configured service comes first.
    engine.shortLinkRules().loadFromText(u"127.0.0.1\tLocation:\t\r\n"_s, boxes);
    const QString base = service == ShortUrlYourls ? m_accounts.yourlsUrl : m_accounts.shlinkUrl + u'/';
    const QString link = base + code;
    view.setBeforeUrl(link);
    engine.StartConv();
    QTRY_VERIFY_WITH_TIMEOUT(!engine.isProcessing(), 30000);
    QCOMPARE(engine.lConvMode(), mode);
    QCOMPARE(view.afterUrl(), afterUrl);
    QCOMPARE(view.message, message);
    QCOMPARE(view.afterInfo.split(u"\r\n"_s, Qt::SkipEmptyParts), info);
    QCOMPARE(designed.requestCount(), mode == 0 ? 1 : 0);
    if (mode == 0)
        QCOMPARE(designed.calls().first().longUrl, link);
    QVERIFY(!engine.isWaiting());
    QVERIFY(boxes.shown().isEmpty());
    // The secrets are nowhere the user or the log can see.
    QFile log(dir.filePath(u"log.txt"_s));
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QString logText = QString::fromUtf8(log.readAll());
    QVERIFY(logText.endsWith(u", "_s + link + u", "_s + afterUrl + u"\r\n"_s));
    for (const QString& secret : {kSignature, QString::fromLatin1(kApiKey)}) {
        QVERIFY(!logText.contains(secret));
        QVERIFY(!view.afterInfo.contains(secret));
        QVERIFY(!view.afterUrl().contains(secret));
        QVERIFY(!view.messages.join(u'\n').contains(secret));
    }
}

QTEST_GUILESS_MAIN(TestShorteningServices)
#include "tst_shorteningservices.moc"
