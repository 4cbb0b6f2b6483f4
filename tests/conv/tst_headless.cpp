// The headless front end as a whole process, against the loopback services, for every mode.
#include "platform/RegAccess.h"
#include "verdict/Verdict.h"

#include "HttpTestDelivery.h"
#include "LiveChannelHost.h"
#include "PictureHost.h"
#include "RedirectHost.h"
#include "ShortenerService.h"
#include "ShorteningImitations.h"
#include "TempRegistry.h"
#include "TestEnvironment.h"
#include "TestFiles.h"
#include "TestPictures.h"
#include "TlsTestHost.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace linvera;
using namespace linvera::test;

namespace {

const QString kEndpointsKey = u"SOFTWARE\\HALVEX\\linvera\\endpoints"_s;

struct Result
{
    int exitCode = -1;
    /// Standard output without the verdict and tracker lines, which `review` holds.
    QStringList out;
    QStringList review;
    QString err;
};

} // namespace

class TestHeadless : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void shortens();
    void storedShortUrlTypeChoosesHost_data();
    void storedShortUrlTypeChoosesHost();
    void placeholderHostSaysWhatToSet_data();
    void placeholderHostSaysWhatToSet();
    void previewsByLocalRule();
    void withoutReview_data();
    void withoutReview();
    void probesRedirect();
    void followsLiveLink();
    void followPrintsTheChain();
    void followsChainOverTls_data();
    void followsChainOverTls();
    void shortensThroughIsgd_data();
    void shortensThroughIsgd();
    void showsPicture();
    void reportsProbeFailure();
    void convertsSeveralUrls();
    void doneWorkIsThereDuringAWait();
    void firstRunCopiesDefaultRules();
    void usage();
    void jsonLines();
    void finishedProbeReport_data();
    void finishedProbeReport();
    void optionLikeUrlAfterDoubleDash();

private:
    /// `environment` entries are added to the child's; an empty value removes the variable.
    Result runLinvera(const QStringList& args, const QHash<QString, QString>& environment = {});
    QProcessEnvironment linveraEnvironment(const QHash<QString, QString>& environment = {}) const;
    void writeRules(const QString& shortLinkRules, const QString& pictureRules = {});

    std::unique_ptr<TempRegistry> m_registry;
    std::unique_ptr<QTemporaryDir> m_home;
    std::unique_ptr<ShortenerService> m_shortener;
};

void TestHeadless::init()
{
    m_registry = std::make_unique<TempRegistry>();
    m_home = std::make_unique<QTemporaryDir>();
    QVERIFY(m_registry->isValid() && m_home->isValid());
    m_shortener = std::make_unique<ShortenerService>();
    const QString self = m_shortener->hostAndPort();
    SetRegString(platform::RegRoot::LocalMachine, kEndpointsKey, u"ShortenerApiHost"_s, self);
    SetRegString(platform::RegRoot::LocalMachine, kEndpointsKey, u"ShortenerAltApiHost"_s, self);
    SetRegString(platform::RegRoot::LocalMachine, kEndpointsKey, u"LiveHost"_s, u"live.example"_s);
    SetRegString(platform::RegRoot::LocalMachine, kEndpointsKey, u"LiveShortDomain"_s, u"lv.example"_s);
    // The designed service, which these tests imitate; a fresh store would use is.gd.
    SetRegString(platform::RegRoot::LocalMachine, u"SOFTWARE\\HALVEX\\linvera\\param"_s, u"ShortURLType"_s,
                 u"0"_s);
}

void TestHeadless::cleanup()
{
    m_shortener.reset();
    m_home.reset();
    m_registry.reset();
}

QString dataFolderOf(const QString& home)
{
    return home + u"/Documents/halvex-linvera"_s;
}

void TestHeadless::writeRules(const QString& shortLinkRules, const QString& pictureRules)
{
    const QString folder = dataFolderOf(m_home->path());
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(writeFile(folder + u"/tinyurls.txt"_s, shortLinkRules.toUtf8()));
    QVERIFY(writeFile(folder + u"/picturls.txt"_s, pictureRules.toUtf8()));
}

QProcessEnvironment TestHeadless::linveraEnvironment(const QHash<QString, QString>& environment) const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // Its own home and documents, and the test's registry store, so the endpoints apply.
    env.insert(u"HOME"_s, m_home->path());
    env.insert(u"XDG_CONFIG_HOME"_s, m_registry->configHome());
    env.insert(u"LC_ALL"_s, u"C.UTF-8"_s);
    env.remove(u"XDG_DOCUMENTS_DIR"_s);
    env.remove(u"LINVERA_EXTRA_CA_FILE"_s);
    for (auto it = environment.cbegin(); it != environment.cend(); ++it) {
        if (it.value().isEmpty())
            env.remove(it.key());
        else
            env.insert(it.key(), it.value());
    }
    return env;
}

Result TestHeadless::runLinvera(const QStringList& args, const QHash<QString, QString>& environment)
{
    Result result;
    QProcess process;
    process.setProcessEnvironment(linveraEnvironment(environment));
    QSignalSpy finished(&process, &QProcess::finished);
    process.start(programDir() + u"/linvera"_s, args);
    if (!process.waitForStarted(10000))
        return result;
    // The servers live in this thread: keep serving them while the process runs.
    if (!finished.wait(30000)) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    result.out = QString::fromUtf8(process.readAllStandardOutput()).split(u'\n');
    if (!result.out.isEmpty() && result.out.last().isEmpty())
        result.out.removeLast();
    for (const QString& line : std::as_const(result.out)) {
        if (verdict::IsReviewLine(line))
            result.review.append(line);
    }
    result.out = verdict::WithoutReviewLines(result.out);
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

void TestHeadless::shortens()
{
    writeRules(QString());
    m_shortener->setShortUrl(u"http://s.example/Hd1"_s);
    const Result r = runLinvera({u"http://long.example/%E3%81%82"_s});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out, (QStringList{u"http://s.example/Hd1"_s, u"http://long.example/あ"_s}));
    QVERIFY2(r.err.contains(u"URL短縮化を実行しました"_s), qPrintable(r.err));
    QCOMPARE(m_shortener->calls().first().longUrl, u"http://long.example/%E3%81%82"_s);
    QFile log(dataFolderOf(m_home->path()) + u"/log.txt"_s);
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(log.readAll().endsWith(", http://long.example/%E3%81%82, http://s.example/Hd1\r\n"));
}

void TestHeadless::storedShortUrlTypeChoosesHost_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("service");
    // Read as the window reads it: decimals round; absent or unusable is is.gd, which needs no account.
    QTest::newRow("absent: is.gd") << QString() << u"is.gd"_s;
    QTest::newRow("blank: is.gd") << u" "_s << u"is.gd"_s;
    QTest::newRow("0 stays the alternative host") << u"0"_s << u"alternative"_s;
    QTest::newRow("1 stays the primary host") << u"1"_s << u"primary"_s;
    QTest::newRow("2 is.gd") << u"2"_s << u"is.gd"_s;
    QTest::newRow("6 is beyond the list: is.gd") << u"6"_s << u"is.gd"_s;
    QTest::newRow("0.6 rounds to 1") << u"0.6"_s << u"primary"_s;
    QTest::newRow("spaces around 1") << u" 1 "_s << u"primary"_s;
}

void TestHeadless::storedShortUrlTypeChoosesHost()
{
    QFETCH(QString, stored);
    QFETCH(QString, service);
    const bool primary = service == u"primary"_s;
    const bool isgd = service == u"is.gd"_s;
    ShortenerService alternative;
    QVERIFY(alternative.isListening());
    SetRegString(platform::RegRoot::LocalMachine, kEndpointsKey, u"ShortenerAltApiHost"_s,
                 alternative.hostAndPort());
    IsgdImitation isgdService;
    QVERIFY(isgdService.isListening());
    SetRegString(platform::RegRoot::LocalMachine, kEndpointsKey, u"IsgdApiBase"_s,
                 QString(u"http://"_s + isgdService.hostAndPort()));
    const QString settingsKey = u"SOFTWARE\\HALVEX\\linvera\\param"_s;
    if (stored.isNull())
        DeleteRegValue(platform::RegRoot::LocalMachine, settingsKey, u"ShortURLType"_s);
    else
        SetRegString(platform::RegRoot::LocalMachine, settingsKey, u"ShortURLType"_s, stored);
    writeRules(QString());
    m_shortener->setShortUrl(u"http://s.example/p"_s);
    alternative.setShortUrl(u"http://s.example/a"_s);
    const Result r = runLinvera({u"http://long.example/x"_s});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(m_shortener->calls().size(), primary ? 1 : 0);
    QCOMPARE(alternative.calls().size(), !primary && !isgd ? 1 : 0);
    QCOMPARE(isgdService.requestCount(), isgd ? 1 : 0);
    QCOMPARE(r.out.value(0), isgd      ? u"https://is.gd/1"_s
                             : primary ? u"http://s.example/p"_s
                                       : u"http://s.example/a"_s);
}

void TestHeadless::placeholderHostSaysWhatToSet_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("endpoint");
    QTest::newRow("0: the alternative host") << u"0"_s << u"ShortenerAltApiHost"_s;
    QTest::newRow("1: the primary host") << u"1"_s << u"ShortenerApiHost"_s;
}

void TestHeadless::placeholderHostSaysWhatToSet()
{
    QFETCH(QString, stored);
    QFETCH(QString, endpoint);
    // The shipped placeholder is kept for that host; the other one is this test's service.
    DeleteRegValue(platform::RegRoot::LocalMachine, kEndpointsKey, endpoint);
    SetRegString(platform::RegRoot::LocalMachine, u"SOFTWARE\\HALVEX\\linvera\\param"_s, u"ShortURLType"_s,
                 stored);
    writeRules(QString());
    const Result r = runLinvera({u"http://long.example/x"_s});
    QCOMPARE(r.exitCode, 1);
    QVERIFY(r.err.contains(u"URL短縮化に失敗しました"_s));
    QCOMPARE(r.out.value(0), QString());
    const QStringList told = r.out.mid(1).filter(u"未設定"_s);
    QCOMPARE(told.size(), 1);
    QVERIFY2(told.first().contains(endpoint) && told.first().contains(u"HALVEX\\linvera\\endpoints"_s),
             qPrintable(told.first()));
    QCOMPARE(m_shortener->requestCount(), 0);
}

void TestHeadless::previewsByLocalRule()
{
    writeRules(u"^http://yt\\.example/(\\w+)$\thttp://video.example/watch?v=(1)\t\r\n"_s);
    const Result r = runLinvera({u"http://yt.example/zz9"_s});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out, QStringList{u"http://video.example/watch?v=zz9"_s});
    // One more line: the destination is not encrypted.
    QCOMPARE(r.review, QStringList{u"【注意】行き先の確認: 暗号化されない接続(http:)です"_s});
    QVERIFY(r.err.contains(u"URLプレビューを実行しました"_s));
    QCOMPARE(m_shortener->requestCount(), 0);
}

void TestHeadless::withoutReview_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("afterUrl");
    QTest::addColumn<int>("reviewLines");

    const QString stripped = u"http://video.example/watch?v=zz9"_s;
    const QString whole = u"http://video.example/watch?v=zz9&utm_source=feed"_s;
    QTest::newRow("reviewed") << QStringList() << stripped << 2;
    QTest::newRow("--no-review") << QStringList{u"--no-review"_s} << whole << 0;
    QTest::newRow("--no-review --json") << QStringList{u"--no-review"_s, u"--json"_s} << whole << 0;
    QTest::newRow("--json") << QStringList{u"--json"_s} << stripped << 0;
}

// Without the review the output is the designed lines alone: nothing judged, nothing removed.
void TestHeadless::withoutReview()
{
    QFETCH(QStringList, options);
    QFETCH(QString, afterUrl);
    QFETCH(int, reviewLines);

    writeRules(u"^http://yt\\.example/(.+)$\thttp://video.example/(1)\t\r\n"_s);
    const Result r = runLinvera(options + QStringList{u"http://yt.example/watch?v=zz9&utm_source=feed"_s});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.review.size(), reviewLines);
    if (!options.contains(u"--json"_s)) {
        QCOMPARE(r.out, QStringList{afterUrl});
        return;
    }
    QCOMPARE(r.out.size(), 1);
    const QJsonObject object = QJsonDocument::fromJson(r.out[0].toUtf8()).object();
    QCOMPARE(object[u"afterUrl"_s].toString(), afterUrl);
    const bool reviewed = !options.contains(u"--no-review"_s);
    QCOMPARE(object[u"verdict"_s].isObject(), reviewed);
    QCOMPARE(object[u"verdict"_s].isNull(), !reviewed);
    QCOMPARE(object[u"trackersRemoved"_s].toInt(-1), reviewed ? 1 : 0);
}

void TestHeadless::probesRedirect()
{
    RedirectHost host;
    RedirectAnswer answer = RedirectAnswer::movedTo("http://target.example/landing");
    answer.delivery = HttpTestDelivery::splitAfterTexts({"Loc", "target"}, 30);
    host.setAnswer("/r1", answer);
    writeRules(u"127.0.0.1:\tLocation:\t\r\n"_s);
    const Result r = runLinvera({u"http://"_s + host.hostAndPort() + u"/r1"_s});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out, QStringList{u"http://target.example/landing"_s});
    QCOMPARE(host.rawRequests(), QList<QByteArray>{"GET /r1 HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n"});
}

void TestHeadless::followPrintsTheChain()
{
    RedirectHost host;
    const QByteArray base = "http://" + host.hostAndPort().toLatin1();
    host.redirect("/f0", base + "/f1", 302);
    host.redirect("/f1", "/f2", 301);
    host.redirect("/f2", "f3", 307);
    // No rule names the host: --follow probes it all the same.
    writeRules(u"elsewhere.example/\tLocation:\t\r\n"_s);
    const Result r = runLinvera({u"--follow"_s, QString::fromLatin1(base + "/f0")});
    QCOMPARE(r.exitCode, 0);
    const QString b = QString::fromLatin1(base);
    QCOMPARE(r.out, (QStringList{b + u"/f3"_s, b + u"/f1"_s, b + u"/f2"_s, b + u"/f3"_s}));
    QCOMPARE(host.rawRequests().size(), 4);
    QCOMPARE(host.rawRequests().last(), QByteArray("GET /f3 HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n"));
}

void TestHeadless::followsChainOverTls_data()
{
    QTest::addColumn<QByteArray>("authorityFile"); // written into the home; empty: no variable
    QTest::addColumn<bool>("trusted");
    QTest::addColumn<QString>("warning");
    QTest::newRow("test authority named") << TestAuthorityPem() << true << QString();
    QTest::newRow("no authority named") << QByteArray() << false << QString();
    QTest::newRow("named file holds no certificate")
        << QByteArray("not a certificate\n") << false << u"no PEM certificate in the file"_s;
}

void TestHeadless::followsChainOverTls()
{
    if (!QSslSocket::supportsSsl())
        QSKIP("no TLS backend");
    QFETCH(QByteArray, authorityFile);
    QFETCH(bool, trusted);
    QFETCH(QString, warning);
    // Five hops across a plain and a TLS host: c0 -> c1 (TLS) -> c2 (TLS, relative) -> c3 -> c4 (TLS)
    // -> c5, which answers 404 and ends the chain.
    RedirectHost plain;
    TlsTestHost tls;
    const QByteArray p = "http://" + plain.hostAndPort().toLatin1();
    const QByteArray t = "https://127.0.0.1:" + QByteArray::number(tls.port());
    plain.redirect("/c0", t + "/c1", 302);
    tls.setAnswer("/c1", "HTTP/1.0 302 Found\r\nLocation: /c2\r\n\r\n");
    tls.setAnswer("/c2", "HTTP/1.0 302 Found\r\nLocation: " + p + "/c3\r\n\r\n");
    plain.redirect("/c3", t + "/c4", 302);
    tls.setAnswer("/c4", "HTTP/1.1 301 Moved Permanently\r\nLocation: " + p + "/c5\r\n\r\n");
    writeRules(QString());
    QHash<QString, QString> environment;
    if (!authorityFile.isEmpty()) {
        const QString path = m_home->filePath(u"authority.pem"_s);
        QVERIFY(writeFile(path, authorityFile));
        environment.insert(u"LINVERA_EXTRA_CA_FILE"_s, path);
        if (!warning.isEmpty())
            warning = u"linvera: LINVERA_EXTRA_CA_FILE: "_s + path + u": "_s + warning;
    }
    const Result r = runLinvera({u"--follow"_s, QString::fromLatin1(p + "/c0")}, environment);
    const QString P = QString::fromLatin1(p);
    const QString T = QString::fromLatin1(t);
    QCOMPARE(plain.rawRequests().value(0), QByteArray("GET /c0 HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n"));
    if (!warning.isEmpty())
        QVERIFY2(r.err.contains(warning), qPrintable(r.err));
    if (trusted) {
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, (QStringList{P + u"/c5"_s, T + u"/c1"_s, T + u"/c2"_s, P + u"/c3"_s, T + u"/c4"_s,
                                     P + u"/c5"_s}));
        const QByteArray host = "Host: 127.0.0.1\r\n\r\n";
        QCOMPARE(tls.rawRequests,
                 (QByteArrayList{"GET /c1 HTTP/1.0\r\n" + host, "GET /c2 HTTP/1.0\r\n" + host,
                                 "GET /c4 HTTP/1.0\r\n" + host}));
        QCOMPARE(plain.rawRequests(),
                 (QList<QByteArray>{"GET /c0 HTTP/1.0\r\n" + host, "GET /c3 HTTP/1.0\r\n" + host,
                                    "GET /c5 HTTP/1.0\r\n" + host}));
        QVERIFY2(!r.err.contains(u"ERROR"_s), qPrintable(r.err));
    } else {
        // The chain stops at the first TLS hop, whose certificate the process cannot check.
        QVERIFY2(r.err.contains(u"証明書の発行元を信頼できません。"_s), qPrintable(r.err));
        QVERIFY(tls.rawRequests.isEmpty());
        QCOMPARE(plain.requestCount(), 1);
        QCOMPARE(r.out.value(0), T + u"/c1"_s);
    }
}

void TestHeadless::shortensThroughIsgd_data()
{
    QTest::addColumn<bool>("rateLimited");
    QTest::newRow("short link") << false;
    QTest::newRow("rate limit") << true;
}

void TestHeadless::shortensThroughIsgd()
{
    QFETCH(bool, rateLimited);
    IsgdImitation isgd;
    isgd.rateLimited = rateLimited;
    SetRegString(platform::RegRoot::LocalMachine, kEndpointsKey, u"IsgdApiBase"_s,
                 QString(u"http://"_s + isgd.hostAndPort()));
    SetRegString(platform::RegRoot::LocalMachine, u"SOFTWARE\\HALVEX\\linvera\\param"_s, u"ShortURLType"_s,
                 u"2"_s);
    writeRules(QString());
    const Result r = runLinvera({u"http://long.example/x"_s});
    QCOMPARE(isgd.requestCount(), 1);
    QCOMPARE(isgd.lastRequest().target,
             QByteArray("/create.php?format=json&url=http%3A%2F%2Flong.example%2Fx"));
    QCOMPARE(m_shortener->requestCount(), 0);
    if (rateLimited) {
        QCOMPARE(r.exitCode, 1);
        QVERIFY(r.err.contains(u"URL短縮化に失敗しました"_s));
        QCOMPARE(r.out,
                 (QStringList{QString(),
                              u"(3) Rate limit exceeded - please wait 1 minute before accessing again."_s}));
    } else {
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, QStringList{u"https://is.gd/1"_s});
    }
}

void TestHeadless::followsLiveLink()
{
    LiveChannelHost live;
    live.setChannelUrlValue(u"ch777"_s);
    live.setTitle(u"生放送テスト"_s);
    SetRegString(platform::RegRoot::LocalMachine, kEndpointsKey, u"LiveShortDomain"_s, live.hostAndPort());
    writeRules(QString());
    const Result r = runLinvera({live.shortLinkUrl().toString()});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out, (QStringList{u"http://live.example/channel/ch777"_s, u"生放送テスト"_s}));
}

void TestHeadless::showsPicture()
{
    PictureHost pictures;
    pictures.setPicture("/i/k.png", TestPictures::Format::Png, QSize(30, 30));
    writeRules(QString(),
               u"^http://pics\\.example/(\\w+)$\thttp://"_s + pictures.hostAndPort() + u"/i/(1).png\r\n"_s);
    const Result r = runLinvera({u"http://pics.example/k"_s});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out, QStringList{u"http://"_s + pictures.hostAndPort() + u"/i/k.png"_s});
    QVERIFY2(r.err.contains(u"画像を表示しました。"_s), qPrintable(r.err));
}

void TestHeadless::reportsProbeFailure()
{
    writeRules(u"127.0.0.1:\tLocation:\t\r\n"_s);
    const Result r =
        runLinvera({u"http://127.0.0.1:"_s + QString::number(HttpTestServer::closedPort()) + u"/x"_s});
    QCOMPARE(r.exitCode, 1);
    QCOMPARE(r.out, QStringList{QString()});
    QVERIFY2(r.err.contains(u"ERROR: "_s), qPrintable(r.err));
}

void TestHeadless::convertsSeveralUrls()
{
    writeRules(u"^http://yt\\.example/(\\w+)$\thttp://video.example/(1)\t\r\n"_s);
    m_shortener->setShortUrl(u"http://s.example/two"_s);
    const Result r = runLinvera({u"http://yt.example/one"_s, u"http://long.example/two"_s});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out, (QStringList{u"http://video.example/one"_s, QString(), u"http://s.example/two"_s}));
}

void TestHeadless::doneWorkIsThereDuringAWait()
{
    // Two local conversions, then a shortening the service never answers: while linvera waits, the
    // first two are printed, their messages written and their log lines appended.
    writeRules(u"^http://yt\\.example/(\\w+)$\thttp://video.example/(1)\t\r\n"_s);
    m_shortener->setDelivery(HttpTestDelivery::silent());
    QProcess process;
    process.setProcessEnvironment(linveraEnvironment());
    process.start(programDir() + u"/linvera"_s,
                  {u"http://yt.example/one"_s, u"http://yt.example/two"_s, u"http://long.example/three"_s});
    QVERIFY(process.waitForStarted(10000));
    const auto stop = qScopeGuard([&process] {
        process.kill();
        process.waitForFinished(10000);
    });
    const QString log = dataFolderOf(m_home->path()) + u"/log.txt"_s;
    QByteArray out;
    QByteArray err;
    const auto caughtUp = [&] {
        out += process.readAllStandardOutput();
        err += process.readAllStandardError();
        return out.contains("http://video.example/two\n") && err.count("URLプレビューを実行しました") == 2 &&
               readFile(log).count('\n') == 2;
    };
    QTRY_VERIFY_WITH_TIMEOUT(caughtUp(), 10000);
    QVERIFY(out.contains("http://video.example/one\n"));
    QVERIFY(readFile(log).contains(", http://yt.example/two, http://video.example/two\r\n"));
    QCOMPARE(process.state(), QProcess::Running);
}

void TestHeadless::firstRunCopiesDefaultRules()
{
    // A fresh account: not even the documents folder exists.
    QVERIFY(!QFile::exists(m_home->path() + u"/Documents"_s));
    m_shortener->setShortUrl(u"http://s.example/f"_s);
    const Result r = runLinvera({u"http://long.example/first"_s});
    QCOMPARE(r.exitCode, 0);
    const QString folder = dataFolderOf(m_home->path());
    for (const QString& name : {u"tinyurls.txt"_s, u"picturls.txt"_s}) {
        const QByteArray original = readFile(programDir() + u'/' + name);
        QVERIFY2(original != "<missing>", qPrintable(name));
        QCOMPARE(readFile(folder + u'/' + name), original);
    }
    // A user's edited rules are never replaced.
    QVERIFY(writeFile(folder + u"/tinyurls.txt"_s, "mine.example/\tLocation:\t\r\n"));
    runLinvera({u"http://long.example/again"_s});
    QCOMPARE(readFile(folder + u"/tinyurls.txt"_s), QByteArray("mine.example/\tLocation:\t\r\n"));
}

void TestHeadless::usage()
{
    const Result r = runLinvera({});
    QCOMPARE(r.exitCode, 2);
    QVERIFY(r.err.contains(u"Usage: linvera [--json] [--follow] [--no-review] [--] URL"_s));
}

void TestHeadless::jsonLines()
{
    writeRules(u"^http://yt\\.example/(\\w+)$\thttp://video.example/watch?v=(1)\t\r\n"_s);
    m_shortener->setShortUrl(u"http://s.example/Hd1"_s);
    // A local rule, a shortening, then an empty input that must not repeat the shortening's result.
    const Result r =
        runLinvera({u"--json"_s, u"http://yt.example/zz9"_s, u"http://long.example/%E3%81%82"_s, QString()});
    QCOMPARE(r.exitCode, 1);
    QCOMPARE(r.out.size(), 3);
    QList<QJsonObject> objects;
    for (const QString& line : r.out) {
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(line.toUtf8(), &error);
        QVERIFY2(error.error == QJsonParseError::NoError && document.isObject(), qPrintable(line));
        objects.append(document.object());
    }
    // The verdict on each destination: not encrypted, then a short link of the test's service (also
    // http), then none for no destination.
    QCOMPARE(objects[0][u"verdict"_s][u"level"_s].toString(), u"note"_s);
    QCOMPARE(objects[0][u"verdict"_s][u"reasons"_s][0][u"code"_s].toString(), u"no-encryption"_s);
    QCOMPARE(objects[1][u"verdict"_s][u"level"_s].toString(), u"note"_s);
    QVERIFY(objects[2][u"verdict"_s].isNull());
    for (QJsonObject& object : objects) {
        QCOMPARE(object.take(u"trackersRemoved"_s).toInt(-1), 0);
        object.remove(u"verdict"_s);
    }
    const QJsonObject preview{
        {u"input"_s, u"http://yt.example/zz9"_s},
        {u"mode"_s, u"preview"_s},
        {u"afterUrl"_s, u"http://video.example/watch?v=zz9"_s},
        {u"info"_s, QJsonArray()},
        {u"message"_s, u"URLプレビューを実行しました"_s},
        {u"ok"_s, true},
        {u"error"_s, QString()},
    };
    QCOMPARE(objects[0], preview);
    QCOMPARE(objects[1][u"mode"_s].toString(), u"shorten"_s);
    QCOMPARE(objects[1][u"afterUrl"_s].toString(), u"http://s.example/Hd1"_s);
    QCOMPARE(objects[1][u"info"_s].toArray(), QJsonArray{u"http://long.example/あ"_s});
    QCOMPARE(objects[1][u"ok"_s].toBool(), true);
    const QJsonObject empty{
        {u"input"_s, QString()},   {u"mode"_s, QJsonValue()}, {u"afterUrl"_s, QString()},
        {u"info"_s, QJsonArray()}, {u"message"_s, QString()}, {u"ok"_s, false},
        {u"error"_s, QString()},
    };
    QCOMPARE(objects[2], empty);
    // The messages that the text form writes to standard error are in the objects instead.
    QVERIFY2(!r.err.contains(u"URLプレビューを実行しました"_s), qPrintable(r.err));
}

void TestHeadless::finishedProbeReport_data()
{
    QTest::addColumn<bool>("answered"); // a host answers with a Location, else nothing listens
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("error");
    QTest::newRow("answered") << true << u"C.UTF-8"_s << QString();
    QTest::newRow("refused") << false << u"C.UTF-8"_s << u"Connection refused"_s;
    QTest::newRow("refused, Japanese session") << false << u"ja_JP.UTF-8"_s << u"接続を拒否されました"_s;
}

// A probe that has ended reports its end, never the window's in-progress text; why it failed is in
// the object, in the user's language.
void TestHeadless::finishedProbeReport()
{
    QFETCH(bool, answered);
    QFETCH(QString, locale);
    QFETCH(QString, error);
    RedirectHost host;
    host.setAnswer("/r1", RedirectAnswer::movedTo("http://target.example/landing"));
    const quint16 port = answered ? host.port() : HttpTestServer::closedPort();
    const QString url = u"http://127.0.0.1:"_s + QString::number(port) + u"/r1"_s;
    writeRules(u"127.0.0.1:\tLocation:\t\r\n"_s);
    const QHash<QString, QString> environment{{u"LC_ALL"_s, locale}};

    const Result json = runLinvera({u"--json"_s, url}, environment);
    QCOMPARE(json.exitCode, answered ? 0 : 1);
    QCOMPARE(json.out.size(), 1);
    const QJsonObject object = QJsonDocument::fromJson(json.out.first().toUtf8()).object();
    QCOMPARE(object[u"mode"_s].toString(), u"probe"_s);
    QCOMPARE(object[u"ok"_s].toBool(), answered);
    QCOMPARE(object[u"afterUrl"_s].toString(), answered ? u"http://target.example/landing"_s : QString());
    QCOMPARE(object[u"message"_s].toString(), QString());
    QCOMPARE(object[u"error"_s].toString(), error);

    const Result text = runLinvera({url}, environment);
    QVERIFY2(!text.err.contains(u"処理中です..."_s), qPrintable(text.err));
    QCOMPARE(text.err.contains(error), true);
}

void TestHeadless::optionLikeUrlAfterDoubleDash()
{
    writeRules(u"^-yt\\.example/(\\w+)$\thttp://video.example/watch?v=(1)\t\r\n"_s);
    const QString logPath = dataFolderOf(m_home->path()) + u"/log.txt"_s;
    const Result refused = runLinvera({u"-yt.example/zz9"_s});
    QCOMPARE(refused.exitCode, 2);
    QVERIFY(refused.out.isEmpty());
    QVERIFY2(refused.err.startsWith(u"linvera: unknown option '-yt.example/zz9'\n"_s),
             qPrintable(refused.err));
    QVERIFY(!QFile::exists(logPath));

    const Result r = runLinvera({u"--"_s, u"-yt.example/zz9"_s});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out, QStringList{u"http://video.example/watch?v=zz9"_s});
    QVERIFY(QFile::exists(logPath));
    QCOMPARE(m_shortener->requestCount(), 0);
}

QTEST_GUILESS_MAIN(TestHeadless)
#include "tst_headless.moc"
