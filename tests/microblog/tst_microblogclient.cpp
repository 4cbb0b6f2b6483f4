// The microblog client end to end against loopback services: the picture upload, the three profile
// updates, the status update and the follow, each directly and through an HTTP proxy; and the
// failures whose waits must end.
#include "AwaitAnswer.h"
#include "MicroblogBoxes.h"
#include "MicroblogHosts.h"
#include "PythonCheck.h"
#include "RecordingMessageBoxes.h"
#include "TempRegistry.h"
#include "TestFiles.h"
#include "microblog/MicroblogClient.h"
#include "microblog/MicroblogReplies.h"
#include "platform/AnsiCodec.h"
#include "platform/RegAccess.h"
#include "settings/SettingsTable.h"

#include <QElapsedTimer>
#include <QNetworkProxyFactory>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

using namespace linvera;
using namespace linvera::test;
using namespace Qt::StringLiterals;
using Icon = platform::MessageBoxes::Icon;

namespace {

const QByteArray kLogin = "taro";
const QByteArray kPassword = "pa:ss w";

/// The file `name` in `dir` with these bytes, or an empty path when it could not be written.
QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes)
{
    const QString path = dir.filePath(name);
    return linvera::test::writeFile(path, bytes) ? path : QString();
}

/// The form post's outcome once it has ended; none when it never did within `timeoutMs`.
template <typename Start> std::optional<MicroblogOutcome> awaitForm(Start start, int timeoutMs = 10000)
{
    return awaitAnswer<MicroblogOutcome>(
        [&](const MicroblogClient::FormDone& done) {
            start(done);
            return 0;
        },
        timeoutMs);
}

QByteArray picture()
{
    return QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR--\r\n", 20) + QByteArray(3000, 'x');
}

} // namespace

class TestMicroblogClient : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void pictureUpload_data();
    void pictureUpload();
    void profileImage_data();
    void profileImage();
    void statusUpdate_data();
    void statusUpdate();
    void follow_data();
    void follow();
    void sendRefused_data();
    void sendRefused();
    void connectionFailureEndsTheWait_data();
    void connectionFailureEndsTheWait();
    void replyJudgedOnceWhenClosed();
    void replyThatNeverEndsTimesOut();
    void secondSendWhileBusy();
    void statusWithoutAnswerIsAFailure_data();
    void statusWithoutAnswerIsAFailure();
    void emptyPictureIsSent();
    void proxyFromTheRegistry_data();
    void proxyFromTheRegistry();
    void environmentProxyNeverTaken_data();
    void environmentProxyNeverTaken();
    void formPostEndsOnEveryOutcome_data();
    void formPostEndsOnEveryOutcome();
    void droppedClientNeverAnswers();
    void uploadConnectionEndsOnEveryOutcome_data();
    void uploadConnectionEndsOnEveryOutcome();

private:
    void route(bool viaProxy);

    QTemporaryDir m_dir;
    QString m_picturePath;
    std::unique_ptr<RecordingMessageBoxes> m_boxes;
    std::unique_ptr<PictureUploadHost> m_pictureHost;
    std::unique_ptr<MicroblogApiHost> m_api;
    std::unique_ptr<ForwardingProxy> m_proxy;
    std::unique_ptr<MicroblogClient> m_client;
    ProxySetting m_proxySetting;
};

void TestMicroblogClient::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_picturePath = writeFile(m_dir, u"capture.png"_s, picture());
    QVERIFY(!m_picturePath.isEmpty());
}

void TestMicroblogClient::init()
{
    platform::AnsiCodec::select(platform::AnsiCodec::CodePage::Utf8);
    m_boxes = std::make_unique<RecordingMessageBoxes>();
    m_pictureHost = std::make_unique<PictureUploadHost>();
    m_pictureHost->setAccount(kLogin, kPassword);
    m_api = std::make_unique<MicroblogApiHost>();
    m_api->setAccount(kLogin, kPassword);
    m_proxy = std::make_unique<ForwardingProxy>();
    QVERIFY(m_pictureHost->isListening() && m_api->isListening() && m_proxy->isListening());
    m_client = std::make_unique<MicroblogClient>();
    showMicroblogBoxes(*m_client, *m_boxes, u"H-Linvera"_s);
    Endpoints endpoints;
    endpoints.set(Endpoints::PictureHost, m_pictureHost->hostAndPort());
    endpoints.set(Endpoints::MicroblogHost, m_api->hostAndPort());
    m_client->setEndpoints(endpoints);
    m_proxySetting = {};
    m_client->setProxySource([this] { return m_proxySetting; });
    MicroblogClient::Timeouts timeouts;
    timeouts.connect = std::chrono::milliseconds(3000);
    timeouts.reply = std::chrono::milliseconds(3000);
    timeouts.form = std::chrono::milliseconds(3000);
    m_client->setTimeouts(timeouts);
}

void TestMicroblogClient::cleanup()
{
    m_client.reset();
    m_proxy.reset();
    m_api.reset();
    m_pictureHost.reset();
}

void TestMicroblogClient::route(bool viaProxy)
{
    m_proxySetting.enabled = viaProxy;
    m_proxySetting.server = m_proxy->hostAndPort();
}

void TestMicroblogClient::pictureUpload_data()
{
    QTest::addColumn<bool>("viaProxy");
    QTest::newRow("direct") << false;
    QTest::newRow("through the proxy") << true;
}

void TestMicroblogClient::pictureUpload()
{
    QFETCH(bool, viaProxy);
    route(viaProxy);
    QSignalSpy sent(m_client.get(), &MicroblogClient::requestSent);
    QSignalSpy complete(m_client.get(), &MicroblogClient::replyComplete);
    QVERIFY(m_client->SendPictureUpload(u"not sent"_s, QString::fromLatin1(kLogin),
                                        QString::fromLatin1(kPassword), m_picturePath));
    QVERIFY(complete.wait(5000));
    QCOMPARE(complete.size(), 1);
    QVERIFY(m_boxes->shown().isEmpty());
    QVERIFY(!m_client->isSocketBusy());

    const QByteArray request = m_client->lastRequest();
    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent.first().first().toString(), platform::AnsiCodec::decode(request));
    QCOMPARE(m_pictureHost->requestCount(), 1);
    const QByteArray port = QByteArray::number(m_pictureHost->port());
    if (viaProxy) {
        // The proxy got the absolute form, the picture host the same request with the origin form.
        QCOMPARE(m_proxy->requestCount(), 1);
        QCOMPARE(m_proxy->lastRequest().raw, request);
        QVERIFY(
            request.startsWith(QByteArray("POST http://127.0.0.1:" + port + "/api/upload? HTTP/1.0\r\n")));
        QCOMPARE(m_client->lastRoute().connectPort, m_proxy->port());
    } else {
        QCOMPARE(m_pictureHost->lastRequest().raw, request);
        QVERIFY(request.startsWith("POST /api/upload? HTTP/1.0\r\n"));
        QCOMPARE(m_client->lastRoute().connectPort, m_pictureHost->port());
    }
    QCOMPARE(m_pictureHost->lastRequest().header("Host"), "127.0.0.1:" + port);
    QVERIFY(!request.contains("name=\"message\""));

    const ParsedMultipart parsed = ParseMultipartWithPython(m_pictureHost->lastRequest().raw);
    QVERIFY(parsed.ok && parsed.multipart);
    QCOMPARE(parsed.parts.size(), 3);
    QCOMPARE(parsed.parts[2].fileName, QByteArray("capture.png"));
    QCOMPARE(parsed.parts[2].payload, picture());

    const SocketVerdict verdict = JudgeSocketReply(complete.first().first().toString());
    QCOMPARE(verdict.kind, SocketVerdict::PictureUrl);
    QCOMPARE(verdict.value, m_pictureHost->lastMediaUrl());
}

void TestMicroblogClient::profileImage_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("viaProxy");
    QTest::addColumn<QByteArray>("path");
    for (bool viaProxy : {false, true}) {
        const char* how = viaProxy ? "through the proxy" : "direct";
        QTest::addRow("icon, %s", how)
            << int(ProfileImageKind::Icon) << viaProxy << QByteArray("/account/update_profile_image.xml");
        QTest::addRow("back, %s", how) << int(ProfileImageKind::Back) << viaProxy
                                       << QByteArray("/account/update_profile_background_image.xml");
        QTest::addRow("backtile, %s", how) << int(ProfileImageKind::BackTile) << viaProxy
                                           << QByteArray("/account/update_profile_background_image.xml");
    }
}

void TestMicroblogClient::profileImage()
{
    QFETCH(int, kind);
    QFETCH(bool, viaProxy);
    QFETCH(QByteArray, path);
    route(viaProxy);
    QSignalSpy complete(m_client.get(), &MicroblogClient::replyComplete);
    QVERIFY(m_client->SendProfileImage(ProfileImageKind(kind), QString::fromLatin1(kLogin),
                                       QString::fromLatin1(kPassword), m_picturePath));
    QVERIFY(complete.wait(5000));
    QCOMPARE(m_api->requestCount(), 1);
    const HttpTestRequest got = m_api->lastRequest();
    QCOMPARE(got.path(), path);
    QCOMPARE(got.header("Authorization"), "Basic " + QByteArray(kLogin + ':' + kPassword).toBase64());
    QCOMPARE(m_proxy->requestCount(), viaProxy ? 1 : 0);
    const SocketVerdict verdict = JudgeSocketReply(complete.first().first().toString());
    QCOMPARE(verdict.kind, SocketVerdict::ScreenName);
    QCOMPARE(verdict.value, QString::fromLatin1(kLogin));
    const ParsedMultipart parsed = ParseMultipartWithPython(got.raw);
    QVERIFY(parsed.ok && parsed.multipart);
    QCOMPARE(parsed.parts.last().contentType, u"image/png"_s);
    QCOMPARE(parsed.parts.last().payload, picture());
}

void TestMicroblogClient::statusUpdate_data()
{
    QTest::addColumn<bool>("viaProxy");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<bool>("posted");
    QTest::addColumn<QString>("box");
    QTest::newRow("direct") << false << u"hello world"_s << kPassword << true << QString();
    QTest::newRow("through the proxy") << true << u"こんにちは 😀"_s << kPassword << true << QString();
    QTest::newRow("empty status") << false << QString() << kPassword << true << QString();
    QTest::newRow("wrong password") << false << u"x"_s << QByteArray("nope") << false
                                    << u"エラーが発生しました: Could not authenticate you."_s;
    QTest::newRow("wrong password through the proxy")
        << true << u"x"_s << QByteArray("nope") << false
        << u"エラーが発生しました: Could not authenticate you."_s;
}

void TestMicroblogClient::statusUpdate()
{
    QFETCH(bool, viaProxy);
    QFETCH(QString, status);
    QFETCH(QByteArray, password);
    QFETCH(bool, posted);
    QFETCH(QString, box);
    route(viaProxy);
    const auto outcome = awaitForm([&](const MicroblogClient::FormDone& done) {
        m_client->PostStatusUpdate(status, QString::fromLatin1(kLogin), QString::fromLatin1(password), done);
    });
    QVERIFY(outcome);
    QCOMPARE(outcome->answered(), posted);
    QCOMPARE(m_api->requestCount(), 1);
    const HttpTestRequest got = m_api->lastRequest();
    QCOMPARE(got.method, QByteArray("POST"));
    QCOMPARE(got.path(), QByteArray("/statuses/update.xml"));
    QCOMPARE(got.header("Content-Type"), QByteArray("application/x-www-form-urlencoded"));
    QCOMPARE(got.header("Authorization"), "Basic " + QByteArray(kLogin + ':' + password).toBase64());
    QCOMPARE(got.header("Content-Length"), QByteArray::number(got.body.size()));
    QCOMPARE(got.body, StatusUpdateBody(status).toLatin1());
    const auto fields = ParseFormWithPython(got.raw);
    QCOMPARE(fields.size(), 1);
    QCOMPARE(fields[0].second, status.toUtf8());
    QCOMPARE(m_proxy->requestCount(), viaProxy ? 1 : 0);
    if (viaProxy)
        QVERIFY(m_proxy->lastRequest().isAbsoluteForm());
    QCOMPARE(m_boxes->texts(), box.isEmpty() ? QStringList() : QStringList{box});
    if (!box.isEmpty()) {
        QCOMPARE(m_boxes->shown().first().icon, Icon::Exclamation);
        QCOMPARE(m_boxes->shown().first().title, u"H-Linvera"_s);
    }
}

void TestMicroblogClient::follow_data()
{
    QTest::addColumn<bool>("viaProxy");
    QTest::addColumn<QString>("forcedError");
    QTest::newRow("direct") << false << QString();
    QTest::newRow("through the proxy") << true << QString();
    QTest::newRow("refused, still true") << false << u"Could not follow user: already on your list."_s;
}

void TestMicroblogClient::follow()
{
    QFETCH(bool, viaProxy);
    QFETCH(QString, forcedError);
    route(viaProxy);
    m_api->setForcedError(forcedError);
    QVERIFY(awaitForm([&](const MicroblogClient::FormDone& done) {
        m_client->Twitter_Create_Friendship(u"halvex_jp"_s, QString::fromLatin1(kLogin),
                                            QString::fromLatin1(kPassword), done);
    }));
    QCOMPARE(m_api->requestCount(), 1);
    QCOMPARE(m_api->lastRequest().path(), QByteArray("/friendships/create.xml"));
    QCOMPARE(m_api->lastRequest().body, QByteArray("screen_name=halvex_jp"));
    QCOMPARE(m_proxy->requestCount(), viaProxy ? 1 : 0);
    QCOMPARE(m_boxes->texts(),
             forcedError.isEmpty() ? QStringList() : QStringList{u"エラーが発生しました: "_s + forcedError});
}

void TestMicroblogClient::sendRefused_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("proxyServer");
    QTest::addColumn<int>("icon");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    const QString missing = m_dir.filePath(u"gone.png"_s);
    QTest::newRow("no picture") << QString() << QString() << int(Icon::Stop) << u"ERROR"_s
                                << u"ｱｯﾌﾟﾛｰﾄﾞすべき画像が見つかりません:"_s;
    QTest::newRow("missing file") << missing << QString() << int(Icon::Stop) << u"ERROR"_s
                                  << u"ｱｯﾌﾟﾛｰﾄﾞすべき画像が見つかりません:"_s + missing;
    QTest::newRow("a folder is no picture") << m_dir.path() << QString() << int(Icon::Stop) << u"ERROR"_s
                                            << u"ｱｯﾌﾟﾛｰﾄﾞすべき画像が見つかりません:"_s + m_dir.path();
    QTest::newRow("proxy without a port") << u"picture"_s << u"proxyhost"_s << int(Icon::Exclamation)
                                          << u"ERROR"_s << u"プロキシサーバーの設定が正しくありません。"_s;
    QTest::newRow("per-protocol proxy list")
        << u"picture"_s << u"http=p:3128;https=p:3128"_s << int(Icon::Exclamation) << u"ERROR"_s
        << u"プロキシサーバーの設定が正しくありません。"_s;
}

void TestMicroblogClient::sendRefused()
{
    QFETCH(QString, path);
    QFETCH(QString, proxyServer);
    if (path == u"picture"_s)
        path = m_picturePath;
    m_proxySetting.enabled = !proxyServer.isEmpty();
    m_proxySetting.server = proxyServer;
    QSignalSpy sent(m_client.get(), &MicroblogClient::requestSent);
    QVERIFY(!m_client->SendPictureUpload(QString(), u"u"_s, u"p"_s, path));
    QCOMPARE(m_boxes->shown().size(), 1);
    QTEST(int(m_boxes->shown().first().icon), "icon");
    QTEST(m_boxes->shown().first().title, "title");
    QTEST(m_boxes->shown().first().text, "text");
    QCOMPARE(sent.size(), 0);
    QCOMPARE(m_pictureHost->connectionCount(), 0);
    QVERIFY(!m_client->isSocketBusy());
}

void TestMicroblogClient::connectionFailureEndsTheWait_data()
{
    QTest::addColumn<bool>("viaProxy");
    QTest::newRow("service port closed") << false;
    QTest::newRow("proxy port closed") << true;
}

// The design's wait for the connection had no end; a refused connection now ends the send.
void TestMicroblogClient::connectionFailureEndsTheWait()
{
    QFETCH(bool, viaProxy);
    const QString closed = u"127.0.0.1:"_s + QString::number(HttpTestServer::closedPort());
    if (viaProxy) {
        m_proxySetting.enabled = true;
        m_proxySetting.server = closed;
    } else {
        Endpoints endpoints;
        endpoints.set(Endpoints::PictureHost, closed);
        m_client->setEndpoints(endpoints);
    }
    QElapsedTimer clock;
    clock.start();
    QSignalSpy failed(m_client.get(), &MicroblogClient::replyFailed);
    QSignalSpy sent(m_client.get(), &MicroblogClient::requestSent);
    QVERIFY(m_client->SendPictureUpload(QString(), u"u"_s, u"p"_s, m_picturePath));
    QVERIFY(failed.wait(2500));
    QVERIFY(clock.elapsed() < 2500);
    QCOMPARE(sent.size(), 0);
    QCOMPARE(m_boxes->shown().size(), 1);
    QCOMPARE(m_boxes->shown().first().title, u"ERROR"_s);
    QVERIFY(!m_boxes->shown().first().text.isEmpty());
    QVERIFY(!m_client->isSocketBusy());
    // The next send works again.
    m_client->setEndpoints([this] {
        Endpoints e;
        e.set(Endpoints::PictureHost, m_pictureHost->hostAndPort());
        return e;
    }());
    m_proxySetting.enabled = false;
    QSignalSpy complete(m_client.get(), &MicroblogClient::replyComplete);
    QVERIFY(m_client->SendPictureUpload(QString(), QString::fromLatin1(kLogin),
                                        QString::fromLatin1(kPassword), m_picturePath));
    QVERIFY(complete.wait(5000));
}

// The design judged after every arrival; a reply in pieces must be judged once, whole.
void TestMicroblogClient::replyJudgedOnceWhenClosed()
{
    m_pictureHost->setDelivery(
        HttpTestDelivery::splitAfterTexts({"\r\n\r\n", "<mediaurl>", "</mediaurl>"}, 100));
    QSignalSpy arrived(m_client.get(), &MicroblogClient::responsePart);
    QSignalSpy complete(m_client.get(), &MicroblogClient::replyComplete);
    QVERIFY(m_client->SendPictureUpload(QString(), QString::fromLatin1(kLogin),
                                        QString::fromLatin1(kPassword), m_picturePath));
    QVERIFY(complete.wait(5000));
    QTest::qWait(200);
    QCOMPARE(complete.size(), 1);
    QVERIFY(arrived.size() >= 2);
    // The parts, put together, are the whole reply.
    QString parts;
    for (const QList<QVariant>& part : std::as_const(arrived))
        parts += part.first().toString();
    QCOMPARE(parts, complete.first().first().toString());
    QCOMPARE(JudgeSocketReply(complete.first().first().toString()).kind, SocketVerdict::PictureUrl);
}

void TestMicroblogClient::replyThatNeverEndsTimesOut()
{
    m_pictureHost->setDelivery(HttpTestDelivery::silent());
    QSignalSpy failed(m_client.get(), &MicroblogClient::replyFailed);
    QSignalSpy complete(m_client.get(), &MicroblogClient::replyComplete);
    QVERIFY(m_client->SendPictureUpload(QString(), u"u"_s, u"p"_s, m_picturePath));
    QVERIFY(m_client->isSocketBusy());
    QVERIFY(failed.wait(6000));
    QCOMPARE(complete.size(), 0);
    QVERIFY(!m_client->isSocketBusy());
    QCOMPARE(m_boxes->shown().size(), 1);
    QCOMPARE(m_boxes->shown().first().title, u"ERROR"_s);
}

void TestMicroblogClient::secondSendWhileBusy()
{
    m_pictureHost->setDelivery(HttpTestDelivery::chunks(20, 50));
    QSignalSpy complete(m_client.get(), &MicroblogClient::replyComplete);
    QVERIFY(m_client->SendPictureUpload(QString(), QString::fromLatin1(kLogin),
                                        QString::fromLatin1(kPassword), m_picturePath));
    QVERIFY(!m_client->SendProfileImage(ProfileImageKind::Icon, u"u"_s, u"p"_s, m_picturePath));
    QVERIFY(m_boxes->shown().isEmpty());
    QVERIFY(complete.wait(10000));
    QCOMPARE(m_api->connectionCount(), 0);
    QCOMPARE(m_pictureHost->connectionCount(), 1);
}

void TestMicroblogClient::statusWithoutAnswerIsAFailure_data()
{
    QTest::addColumn<int>("mode");
    QTest::newRow("closed without an answer") << int(HttpTestDelivery::Mode::CloseWithoutAnswer);
    QTest::newRow("reset") << int(HttpTestDelivery::Mode::Reset);
    QTest::newRow("no answer until the time-out") << int(HttpTestDelivery::Mode::Silent);
    QTest::newRow("nobody listening") << -1;
}

// The design counted a status update without any answer as posted.
void TestMicroblogClient::statusWithoutAnswerIsAFailure()
{
    QFETCH(int, mode);
    if (mode < 0) {
        Endpoints endpoints;
        endpoints.set(Endpoints::MicroblogHost,
                      u"127.0.0.1:"_s + QString::number(HttpTestServer::closedPort()));
        m_client->setEndpoints(endpoints);
    } else {
        HttpTestDelivery delivery;
        delivery.mode = HttpTestDelivery::Mode(mode);
        m_api->setDelivery(delivery);
    }
    QElapsedTimer clock;
    clock.start();
    const auto outcome = awaitForm([&](const MicroblogClient::FormDone& done) {
        m_client->PostStatusUpdate(u"hello"_s, QString::fromLatin1(kLogin), QString::fromLatin1(kPassword),
                                   done);
    });
    QVERIFY(outcome);
    QVERIFY(!outcome->answered());
    QVERIFY(clock.elapsed() < 5000);
    QVERIFY(m_boxes->shown().isEmpty());
}

// The design failed the whole send for a zero-length file; its media part is sent empty instead.
void TestMicroblogClient::emptyPictureIsSent()
{
    const QString empty = writeFile(m_dir, u"empty.png"_s, QByteArray());
    QVERIFY(!empty.isEmpty());
    QSignalSpy complete(m_client.get(), &MicroblogClient::replyComplete);
    QVERIFY(m_client->SendPictureUpload(QString(), QString::fromLatin1(kLogin),
                                        QString::fromLatin1(kPassword), empty));
    QVERIFY(complete.wait(5000));
    QVERIFY(m_boxes->shown().isEmpty());
    QVERIFY(m_pictureHost->lastRequest().body.endsWith(
        QByteArray("Content-Type: application/octet-stream\r\n\r\n\r\n--" +
                   m_pictureHost->lastRequest().body.mid(2, 32) + "--")));
    QCOMPARE(JudgeSocketReply(complete.first().first().toString()).kind, SocketVerdict::PictureUrl);
}

void TestMicroblogClient::proxyFromTheRegistry_data()
{
    QTest::addColumn<QVariant>("enable");
    QTest::addColumn<bool>("viaProxy");
    QTest::newRow("ProxyEnable missing, the usual case on Linux") << QVariant() << false;
    QTest::newRow("ProxyEnable 0") << QVariant(0) << false;
    QTest::newRow("ProxyEnable 1") << QVariant(1) << true;
    QTest::newRow("ProxyEnable as the text 1") << QVariant(u"1"_s) << true;
}

// The values as linvera-reg writes them, read the way the application hands them over.
void TestMicroblogClient::proxyFromTheRegistry()
{
    QFETCH(QVariant, enable);
    QFETCH(bool, viaProxy);
    TempRegistry registry;
    QVERIFY(registry.isValid());
    const QString key = u"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings"_s;
    QVERIFY(SetRegString(platform::RegRoot::CurrentUser, key, u"ProxyServer"_s, m_proxy->hostAndPort()));
    if (enable.typeId() == QMetaType::Int)
        QVERIFY(SetRegNumber(platform::RegRoot::CurrentUser, key, u"ProxyEnable"_s, enable.toInt()));
    else if (enable.isValid())
        QVERIFY(SetRegString(platform::RegRoot::CurrentUser, key, u"ProxyEnable"_s, enable.toString()));
    m_client->setProxySource(&ReadProxySetting);

    QSignalSpy complete(m_client.get(), &MicroblogClient::replyComplete);
    QVERIFY(m_client->SendProfileImage(ProfileImageKind::Icon, QString::fromLatin1(kLogin),
                                       QString::fromLatin1(kPassword), m_picturePath));
    QVERIFY(complete.wait(5000));
    const auto posted = awaitForm([&](const MicroblogClient::FormDone& done) {
        m_client->PostStatusUpdate(u"s"_s, QString::fromLatin1(kLogin), QString::fromLatin1(kPassword), done);
    });
    QVERIFY(posted && posted->answered());
    QCOMPARE(m_api->requestCount(), 2);
    QCOMPARE(m_proxy->requestCount(), viaProxy ? 2 : 0);
    QCOMPARE(m_client->lastRequest().startsWith("POST http://"), viaProxy);
}

void TestMicroblogClient::environmentProxyNeverTaken_data()
{
    QTest::addColumn<bool>("viaProxy");
    QTest::newRow("direct") << false;
    QTest::newRow("through the proxy of the settings") << true;
}

// Once the application has let Qt read the system's proxy configuration (the service fetches do),
// a proxy of the environment would apply to every socket left to its default: the uploads and the
// form posts go only directly or through the proxy of the user's settings.
void TestMicroblogClient::environmentProxyNeverTaken()
{
    QFETCH(bool, viaProxy);
    HttpTestServer decoy;
    QVERIFY(decoy.isListening());
    const QByteArray names[] = {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY", "no_proxy", "NO_PROXY"};
    QHash<QByteArray, QByteArray> saved;
    for (const QByteArray& name : names) {
        if (qEnvironmentVariableIsSet(name.constData()))
            saved.insert(name, qgetenv(name.constData()));
    }
    const auto restore = qScopeGuard([&] {
        for (const QByteArray& name : names) {
            if (saved.contains(name))
                qputenv(name.constData(), saved.value(name));
            else
                qunsetenv(name.constData());
        }
        QNetworkProxyFactory::setUseSystemConfiguration(false);
    });
    for (const QByteArray& name : names)
        qunsetenv(name.constData());
    const QByteArray decoyUrl = "http://" + decoy.hostAndPort().toLatin1();
    qputenv("http_proxy", decoyUrl);
    qputenv("all_proxy", decoyUrl);
    QNetworkProxyFactory::setUseSystemConfiguration(true);
    route(viaProxy);

    QSignalSpy complete(m_client.get(), &MicroblogClient::replyComplete);
    // The upload's socket lives while the upload runs: it is looked at when the request goes out.
    std::optional<QNetworkProxy::ProxyType> socketProxy;
    connect(m_client.get(), &MicroblogClient::requestSent, this, [&] {
        if (const auto* socket = m_client->findChild<QTcpSocket*>(u"Winsock1"_s))
            socketProxy = socket->proxy().type();
    });
    QVERIFY(m_client->SendPictureUpload(QString(), QString::fromLatin1(kLogin),
                                        QString::fromLatin1(kPassword), m_picturePath));
    QVERIFY(complete.wait(5000));
    const auto posted = awaitForm([&](const MicroblogClient::FormDone& done) {
        m_client->PostStatusUpdate(u"s"_s, QString::fromLatin1(kLogin), QString::fromLatin1(kPassword), done);
    });
    QVERIFY(posted && posted->answered());
    QCOMPARE(decoy.connectionCount(), 0);
    // Qt leaves loopback addresses to themselves whatever the environment says; a named host would
    // go to the environment's proxy unless the socket is pinned.
    QVERIFY(socketProxy);
    QCOMPARE(*socketProxy, QNetworkProxy::NoProxy);
    QCOMPARE(m_pictureHost->requestCount(), 1);
    QCOMPARE(m_api->requestCount(), 1);
    QCOMPARE(m_proxy->requestCount(), viaProxy ? 2 : 0);
}

void TestMicroblogClient::formPostEndsOnEveryOutcome_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("box");
    QTest::newRow("answer") << u"answer"_s << int(MicroblogOutcome::Kind::Answered) << QString();
    QTest::newRow("error element") << u"error element"_s << int(MicroblogOutcome::Kind::ServiceError)
                                   << u"エラーが発生しました: Could not authenticate you."_s;
    QTest::newRow("connection refused") << u"refused"_s << int(MicroblogOutcome::Kind::NoAnswer) << QString();
    QTest::newRow("closed without an answer")
        << u"closed"_s << int(MicroblogOutcome::Kind::NoAnswer) << QString();
    QTest::newRow("silent until the time-out")
        << u"silent"_s << int(MicroblogOutcome::Kind::NoAnswer) << QString();
    QTest::newRow("proxy without a port") << u"bad proxy"_s << int(MicroblogOutcome::Kind::BadProxy)
                                          << u"プロキシサーバーの設定が正しくありません。"_s;
}

// The form posts once waited inside the call; now each ends once, from the event loop, whatever
// becomes of it, with the box it needs reported just before.
void TestMicroblogClient::formPostEndsOnEveryOutcome()
{
    QFETCH(QString, how);
    QFETCH(int, kind);
    QFETCH(QString, box);
    MicroblogClient::Timeouts timeouts;
    timeouts.form = std::chrono::milliseconds(800);
    m_client->setTimeouts(timeouts);
    QString password = QString::fromLatin1(kPassword);
    if (how == u"error element"_s) {
        password = u"wrong"_s;
    } else if (how == u"refused"_s) {
        Endpoints endpoints;
        endpoints.set(Endpoints::MicroblogHost,
                      u"127.0.0.1:"_s + QString::number(HttpTestServer::closedPort()));
        m_client->setEndpoints(endpoints);
    } else if (how == u"closed"_s) {
        m_api->setDelivery(HttpTestDelivery::closeWithoutAnswer());
    } else if (how == u"silent"_s) {
        m_api->setDelivery(HttpTestDelivery::silent());
    } else if (how == u"bad proxy"_s) {
        m_proxySetting.enabled = true;
        m_proxySetting.server = u"proxyhost"_s;
    }
    QList<MicroblogOutcome> outcomes;
    bool inside = true;
    bool answeredInside = false;
    QElapsedTimer clock;
    clock.start();
    m_client->PostStatusUpdate(u"hi"_s, QString::fromLatin1(kLogin), password,
                               [&](const MicroblogOutcome& outcome) {
                                   answeredInside = answeredInside || inside;
                                   outcomes.append(outcome);
                               });
    inside = false;
    QCOMPARE(m_client->runningFormPosts(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(outcomes.size(), qsizetype(1), 3000);
    QVERIFY(!answeredInside);
    QVERIFY(clock.elapsed() < 3000);
    QCOMPARE(int(outcomes.first().kind), kind);
    QCOMPARE(m_client->runningFormPosts(), 0);
    QCOMPARE(m_boxes->texts(), box.isEmpty() ? QStringList() : QStringList{box});
    // Nothing comes later: neither a second answer nor a second box.
    QTest::qWait(1000);
    QCOMPARE(outcomes.size(), qsizetype(1));
    QCOMPARE(m_boxes->shown().size(), box.isEmpty() ? 0 : 1);
}

// A client that goes away (the window's end) drops its running post: no answer and no box later.
void TestMicroblogClient::droppedClientNeverAnswers()
{
    m_api->setDelivery(HttpTestDelivery::chunks(8, 40));
    int answers = 0;
    m_client->PostStatusUpdate(u"hi"_s, QString::fromLatin1(kLogin), QString::fromLatin1(kPassword),
                               [&answers](const MicroblogOutcome&) { ++answers; });
    QTRY_COMPARE_WITH_TIMEOUT(m_api->requestCount(), 1, 3000);
    m_client.reset();
    QTest::qWait(1500);
    QCOMPARE(answers, 0);
    QVERIFY(m_boxes->shown().isEmpty());
}

void TestMicroblogClient::uploadConnectionEndsOnEveryOutcome_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("connected") << u"connected"_s;
    QTest::newRow("refused") << u"refused"_s;
    QTest::newRow("no connection until the time-out") << u"time-out"_s;
}

// The upload once waited for its connection inside the call; now the call returns at once and the
// connection's end (made, refused, timed out) decides what follows.
void TestMicroblogClient::uploadConnectionEndsOnEveryOutcome()
{
    QFETCH(QString, how);
    MicroblogClient::Timeouts timeouts;
    timeouts.connect = std::chrono::milliseconds(600);
    m_client->setTimeouts(timeouts);
    // A listener that takes no connection: once its small queue is full, the next one is never made.
    QTcpServer full;
    std::vector<std::unique_ptr<QTcpSocket>> fillers;
    Endpoints endpoints;
    endpoints.set(Endpoints::PictureHost, m_pictureHost->hostAndPort());
    if (how == u"refused"_s) {
        endpoints.set(Endpoints::PictureHost,
                      u"127.0.0.1:"_s + QString::number(HttpTestServer::closedPort()));
    } else if (how == u"time-out"_s) {
        full.setListenBacklogSize(0);
        QVERIFY(full.listen(QHostAddress::LocalHost));
        full.pauseAccepting();
        for (int i = 0; i < 4; ++i) {
            fillers.push_back(std::make_unique<QTcpSocket>());
            fillers.back()->setProxy(QNetworkProxy::NoProxy);
            fillers.back()->connectToHost(QHostAddress::LocalHost, full.serverPort());
        }
        QTest::qWait(300);
        endpoints.set(Endpoints::PictureHost, u"127.0.0.1:"_s + QString::number(full.serverPort()));
    }
    m_client->setEndpoints(endpoints);
    QSignalSpy sent(m_client.get(), &MicroblogClient::requestSent);
    QSignalSpy complete(m_client.get(), &MicroblogClient::replyComplete);
    QSignalSpy failed(m_client.get(), &MicroblogClient::replyFailed);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(m_client->SendPictureUpload(QString(), QString::fromLatin1(kLogin),
                                        QString::fromLatin1(kPassword), m_picturePath));
    // The call itself never waits for the connection (a wait would take the whole connect time).
    QVERIFY(clock.elapsed() < 300);
    QCOMPARE(sent.size(), 0);
    QVERIFY(m_client->isSocketBusy());
    QTRY_COMPARE_WITH_TIMEOUT(complete.size() + failed.size(), qsizetype(1), 5000);
    QVERIFY(!m_client->isSocketBusy());
    if (how == u"connected"_s) {
        QCOMPARE(sent.size(), 1);
        QCOMPARE(complete.size(), 1);
        QVERIFY(m_boxes->shown().isEmpty());
    } else {
        QCOMPARE(sent.size(), 0);
        QCOMPARE(failed.size(), 1);
        QCOMPARE(m_boxes->shown().size(), 1);
        QCOMPARE(m_boxes->shown().first().title, u"ERROR"_s);
        QCOMPARE(m_boxes->shown().first().icon, Icon::Exclamation);
        QCOMPARE(m_boxes->shown().first().text, failed.first().first().toString());
        if (how == u"time-out"_s) {
            QCOMPARE(m_boxes->shown().first().text, u"Socket operation timed out"_s);
            QVERIFY2(clock.elapsed() >= 550, qPrintable(QString::number(clock.elapsed())));
        }
    }
    QTest::qWait(300);
    QCOMPARE(complete.size() + failed.size(), qsizetype(1));
}

QTEST_GUILESS_MAIN(TestMicroblogClient)
#include "tst_microblogclient.moc"
