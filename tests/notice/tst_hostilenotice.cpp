// The notice feed's downloads against hosts that misbehave: the three fetches end by their time-out
// or a size cap, the event loop keeps turning, and the old files stay exactly as they were.
#include "AwaitAnswer.h"
#include "TestFiles.h"
#include "conv/Endpoints.h"
#include "conv/HttpClient.h"
#include "notice/NoticeFeed.h"

#include "HostilePeer.h"
#include "WaitLimits.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace linvera;
using namespace linvera::test;
using namespace Qt::StringLiterals;

namespace {

using Fault = HostilePeer::Fault;
using std::chrono::milliseconds;

constexpr milliseconds kIdle{250};
constexpr milliseconds kTotal{500};
constexpr milliseconds kLongTotal{4000};
constexpr qint64 kMaxStallMs = 100;
// The notice files' own cap, three times over, and what socket buffers hold beyond it.
constexpr qint64 kFileCap = 8 * 1024 * 1024;
constexpr qint64 kBufferSlack = 8 * 1024 * 1024;

const QStringList kFiles{u"notice.xml"_s, u"tinyurls.txt"_s, u"picturls.txt"_s};

bool endsByClock(Fault fault)
{
    return fault == Fault::Drip || fault == Fault::DripHead || fault == Fault::Silent ||
           fault == Fault::TlsHello;
}

} // namespace

class TestHostileNotice : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void fetchesSurviveEveryFault_data();
    void fetchesSurviveEveryFault();
};

void TestHostileNotice::fetchesSurviveEveryFault_data()
{
    QTest::addColumn<Fault>("fault");
    const QMetaEnum faults = QMetaEnum::fromType<Fault>();
    for (int i = 0; i < faults.keyCount(); ++i)
        QTest::newRow(faults.key(i)) << Fault(faults.value(i));
}

void TestHostileNotice::fetchesSurviveEveryFault()
{
    QFETCH(Fault, fault);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    for (const QString& name : kFiles) {
        QFile file(dir.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("old " + name.toLatin1());
    }

    HostilePeer peer(fault);
    QVERIFY(peer.isListening());
    peer.setHead("HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nConnection: close\r\n");
    peer.setBody("<?xml version=\"1.0\"?><linvera><notice_msg>tempting</notice_msg></linvera>\n");
    const milliseconds total = endsByClock(fault) ? kTotal : kLongTotal;
    const HttpLimits limits = WaitLimits(kIdle, total);
    Endpoints endpoints;
    endpoints.set(Endpoints::MakerNoticeHost, peer.hostAndPort());

    StallMeter meter;
    QElapsedTimer clock;
    meter.start();
    clock.start();
    QVERIFY(linvera::test::awaitEnd(
        [&](auto done) { return FetchNoticeFiles(endpoints, dir.path(), done, limits); }));
    const qint64 waited = clock.elapsed();
    meter.stop();
    QTRY_COMPARE_WITH_TIMEOUT(peer.openConnections(), qsizetype(0), 3000);
    qInfo("waited %lld ms, %s, peer sent %lld bytes, requests %d", waited, qPrintable(meter.summary()),
          peer.bytesSent(), peer.requestCount());

    // All three fetches were made, one after the other, each within its own time.
    QCOMPARE(peer.requestCount(), 3);
    if (endsByClock(fault))
        QVERIFY2(waited < 3 * total.count() + 700, qPrintable(u"waited %1 ms"_s.arg(waited)));
    else
        QVERIFY2(waited < kLongTotal.count() / 2, qPrintable(u"waited %1 ms"_s.arg(waited)));
    QVERIFY2(peer.bytesSent() <= 3 * (kFileCap + kBufferSlack),
             qPrintable(u"peer sent %1 bytes"_s.arg(peer.bytesSent())));
    QVERIFY2(meter.longestOwnStallMs() <= kMaxStallMs,
             qPrintable(u"stall %1 ms"_s.arg(meter.longestOwnStallMs())));

    // A failed fetch leaves the old file as it was, and nothing beside it.
    for (const QString& name : kFiles)
        QCOMPARE(readFile(dir.filePath(name)), "old " + name.toLatin1());
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), kFiles.size());
}

QTEST_GUILESS_MAIN(TestHostileNotice)
#include "tst_hostilenotice.moc"
