// A short soak of the running H-Linvera (the same driver as bench_soak): conversions of every kind
// with faults mixed in through the automation interface, second starts handing URLs over, then the
// program alive, its memory and descriptors, its log, and no handed-over URL lost. Beside it, the
// loopback peers' own words checked against what the program reads from them.
#include "SoakDriver.h"
#include "SoakPeer.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QTest>
#include <QUrl>

using namespace Qt::StringLiterals;
using namespace linvera::soak;

class TestSoak : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void faultWordsPickFaults_data();
    void faultWordsPickFaults();
    void answersCarryWhatTheProgramReads_data();
    void answersCarryWhatTheProgramReads();
    void runningProgramHoldsUp();
};

void TestSoak::faultWordsPickFaults_data()
{
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<bool>("livePort");
    QTest::addColumn<int>("service");
    QTest::addColumn<int>("fault");

    QTest::newRow("shortening, no word") << QByteArray("/shorten?version=2.0.1&longUrl=http%3A%2F%2Fa%2Fok")
                                         << false << int(Service::Shorten) << int(Fault::None);
    QTest::newRow("shortening, word inside the encoded long URL")
        << QByteArray("/shorten?longUrl=http%3A%2F%2Fa%2Fsfkshorten_reset%3Fn%3D1") << false
        << int(Service::Shorten) << int(Fault::Reset);
    QTest::newRow("another service's word is not ours")
        << QByteArray("/shorten?longUrl=http%3A%2F%2Fshrt.example%2Fc1sfkinfo_e404") << false
        << int(Service::Shorten) << int(Fault::None);
    QTest::newRow("info API, 500") << QByteArray("/info?shortUrl=http%3A%2F%2Fshrt.example%2Fc2sfkinfo_e500")
                                   << false << int(Service::Info) << int(Fault::ServerError);
    QTest::newRow("rule API, drip") << QByteArray("/forward?shorturl=c3sfkrule_drip") << false
                                    << int(Service::Rule) << int(Fault::Drip);
    QTest::newRow("probe, cut") << QByteArray("/p/c4sfkprobe_cut") << false << int(Service::Probe)
                                << int(Fault::Cut);
    QTest::newRow("live port answers every path")
        << QByteArray("/c5sfklive_split") << true << int(Service::Live) << int(Fault::Split);
    QTest::newRow("channel page, junk")
        << QByteArray("/channel/c6sfkchannel_junk") << false << int(Service::Channel) << int(Fault::Junk);
    QTest::newRow("picture, close") << QByteArray("/img/c7sfkimg_close.png") << false << int(Service::Picture)
                                    << int(Fault::Close);
    QTest::newRow("unknown kind is no fault")
        << QByteArray("/img/c8sfkimg_later.png") << false << int(Service::Picture) << int(Fault::None);
    QTest::newRow("unknown path") << QByteArray("/favicon.ico") << false << int(Service::Unknown)
                                  << int(Fault::None);
}

void TestSoak::faultWordsPickFaults()
{
    QFETCH(QByteArray, target);
    QFETCH(bool, livePort);
    QFETCH(int, service);
    QFETCH(int, fault);

    const Service found = SoakPeer::serviceFor(target, livePort);
    QCOMPARE(int(found), service);
    QCOMPARE(int(SoakPeer::faultFor(found, target)), fault);
}

void TestSoak::answersCarryWhatTheProgramReads_data()
{
    QTest::addColumn<int>("service");
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<int>("fault");
    QTest::addColumn<QString>("pattern");  // what the program matches in the answer
    QTest::addColumn<QString>("expected"); // its first group; empty: the pattern must not match

    const QString longUrl = u"http://long.soak.example/%E6%97%A5/c1?a=1&b=2"_s;
    const QByteArray encoded = QUrl::toPercentEncoding(longUrl);
    QTest::newRow("short link of the long URL as the program sent it")
        << int(Service::Shorten) << QByteArray("/shorten?version=2.0.1&longUrl=" + encoded)
        << int(Fault::None) << u"\"shortUrl\": \"(.*?)\""_s << soakShortUrl(longUrl);
    QTest::newRow("short link, junk") << int(Service::Shorten) << QByteArray("/shorten?longUrl=" + encoded)
                                      << int(Fault::Junk) << u"\"shortUrl\": \"(.*?)\""_s << QString();
    QTest::newRow("short link, 404 page")
        << int(Service::Shorten) << QByteArray("/shorten?longUrl=" + encoded) << int(Fault::NotFound)
        << u"\"shortUrl\": \"(.*?)\""_s << QString();
    QTest::newRow("info API long URL")
        << int(Service::Info) << QByteArray("/info?version=2.0.1&shortUrl=http%3A%2F%2Fshrt.example%2Fc2")
        << int(Fault::None) << u"\"longUrl\": \"(.*?)\""_s << u"http://target.soak.example/info/c2"_s;
    QTest::newRow("info API title") << int(Service::Info)
                                    << QByteArray("/info?shortUrl=http%3A%2F%2Fshrt.example%2Fc2")
                                    << int(Fault::None) << u"\"htmlTitle\": \"(.*?)\""_s << u"Title c2"_s;
    QTest::newRow("rule API, escaped slashes")
        << int(Service::Rule) << QByteArray("/forward?shorturl=c3") << int(Fault::None)
        << u"\"url\": ?\"(.*?)\""_s << u"http:\\/\\/target.soak.example\\/rule\\/c3"_s;
    QTest::newRow("probe location") << int(Service::Probe) << QByteArray("/p/c4") << int(Fault::None)
                                    << u"Location: (.*?)\r\n"_s << u"http://target.soak.example/probe/c4"_s;
    QTest::newRow("live location ends in a fragment")
        << int(Service::Live) << QByteArray("/c5") << int(Fault::None) << u"Location: (.*)#"_s
        << u"http://127.0.0.1:4000/channel/c5"_s;
    QTest::newRow("live location on the refused port")
        << int(Service::Live) << QByteArray("/c6deadchannel") << int(Fault::None) << u"Location: (.*)#"_s
        << u"http://127.0.0.1:4001/channel/c6deadchannel"_s;
    QTest::newRow("channel page") << int(Service::Channel) << QByteArray("/channel/c7") << int(Fault::None)
                                  << u"channelUrl=\"(.*?)\""_s << u"chc7"_s;
    QTest::newRow("500 status line") << int(Service::Picture) << QByteArray("/img/c8.png")
                                     << int(Fault::ServerError) << u"^HTTP/1.0 (\\d+)"_s << u"500"_s;
}

void TestSoak::answersCarryWhatTheProgramReads()
{
    QFETCH(int, service);
    QFETCH(QByteArray, target);
    QFETCH(int, fault);
    QFETCH(QString, pattern);
    QFETCH(QString, expected);

    const QByteArray answer = SoakPeer::answerFor(Service(service), target, 4000, 4001, Fault(fault));
    QVERIFY(!answer.isEmpty());
    const QRegularExpressionMatch match =
        QRegularExpression(pattern, QRegularExpression::CaseInsensitiveOption)
            .match(QString::fromUtf8(answer));
    if (expected.isEmpty()) {
        QVERIFY2(!match.hasMatch(), answer.constData());
    } else {
        QVERIFY2(match.hasMatch(), answer.constData());
        QCOMPARE(match.captured(1), expected);
    }
}

void TestSoak::runningProgramHoldsUp()
{
    SoakOptions options;
    options.conversions = 500;
    options.secondStarts = 30;
    options.programFolder = QCoreApplication::applicationDirPath();
    options.print = [](const QString& line) { qInfo("%s", qUtf8Printable(line)); };
    // In a sanitizer build freed memory waits in the sanitizer's quarantine (up to 256 MB) before
    // reuse, which alone would grow the resident set; a small quarantine leaves the program's own.
    const QByteArray sanitizer = qgetenv("ASAN_OPTIONS");
    options.programEnvironment.append({u"ASAN_OPTIONS"_s, QString::fromLocal8Bit(sanitizer) +
                                                              (sanitizer.isEmpty() ? u""_s : u":"_s) +
                                                              u"quarantine_size_mb=4"_s});

    const SoakResult result = runSoak(options);
    const QStringList lines = describe(result, options);
    for (const QString& line : lines)
        qInfo("%s", qUtf8Printable(line));
    QVERIFY2(result.setupError.isEmpty(), qPrintable(result.setupError));
    QVERIFY2(result.passed(), qPrintable(result.failures.join(u"; "_s)));
    // Every kind of fault reached the peers, and the handed-over URLs were all converted.
    QVERIFY(result.figures.peerFaults > 50);
    QCOMPARE(result.figures.handOffsSeen, options.secondStarts);
    QVERIFY(result.figures.resultsChecked > options.conversions / 2);
}

QTEST_GUILESS_MAIN(TestSoak)
#include "tst_soak.moc"
