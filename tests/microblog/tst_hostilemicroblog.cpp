// The posting window's requests against hosts that misbehave: each wait ends by its own time-out
// or a size cap, the event loop keeps turning, and the failure is said.
#include "microblog/MicroblogClient.h"
#include "platform/AnsiCodec.h"

#include "AwaitAnswer.h"
#include "HostilePeer.h"
#include "MicroblogBoxes.h"
#include "RecordingMessageBoxes.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace linvera;
using namespace linvera::test;
using namespace Qt::StringLiterals;

namespace {

using Fault = HostilePeer::Fault;
using std::chrono::milliseconds;

enum class Path { Upload, Status };

constexpr milliseconds kTotal{800};
constexpr milliseconds kLongTotal{4000};
constexpr qint64 kMaxStallMs = 100;
constexpr qint64 kBufferSlack = 8 * 1024 * 1024;

// The faults that a cap (or the peer's own close) ends long before the time-out.
bool endsEarly(Path path, Fault fault)
{
    if (fault == Fault::EndlessBody || fault == Fault::EndlessHead || fault == Fault::HugeLocation ||
        fault == Fault::ResetInHead)
        return true;
    // The form post refuses binary past the longest answer head; the upload only gathers bytes.
    return path == Path::Status && fault == Fault::Binary;
}

const QString kTimedOut = u"Socket operation timed out"_s;

} // namespace

Q_DECLARE_METATYPE(Path)

class TestHostileMicroblog : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void everyRequestSurvivesEveryFault_data();
    void everyRequestSurvivesEveryFault();

private:
    QTemporaryDir m_dir;
    QString m_picturePath;
};

void TestHostileMicroblog::initTestCase()
{
    platform::AnsiCodec::select(platform::AnsiCodec::CodePage::Utf8);
    QVERIFY(m_dir.isValid());
    m_picturePath = m_dir.filePath(u"capture.png"_s);
    QFile file(m_picturePath);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray("\x89PNG\r\n\x1a\n", 8) + QByteArray(3000, 'x'));
}

void TestHostileMicroblog::everyRequestSurvivesEveryFault_data()
{
    QTest::addColumn<Path>("path");
    QTest::addColumn<Fault>("fault");
    const QMetaEnum faults = QMetaEnum::fromType<Fault>();
    for (const auto& [path, name] : {std::pair{Path::Upload, "upload"}, std::pair{Path::Status, "status"}}) {
        for (int i = 0; i < faults.keyCount(); ++i)
            QTest::addRow("%s %s", name, faults.key(i)) << path << Fault(faults.value(i));
    }
}

void TestHostileMicroblog::everyRequestSurvivesEveryFault()
{
    QFETCH(Path, path);
    QFETCH(Fault, fault);

    HostilePeer peer(fault);
    QVERIFY(peer.isListening());
    peer.setHead("HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nConnection: close\r\n");
    peer.setBody(
        "<?xml version=\"1.0\"?><rsp stat=\"ok\"><mediaurl>http://tempting.example/p</mediaurl></rsp>\n");

    RecordingMessageBoxes boxes;
    MicroblogClient client;
    showMicroblogBoxes(client, boxes, u"H-Linvera"_s);
    Endpoints endpoints;
    endpoints.set(Endpoints::PictureHost, peer.hostAndPort());
    endpoints.set(Endpoints::MicroblogHost, peer.hostAndPort());
    client.setEndpoints(endpoints);
    const milliseconds total = endsEarly(path, fault) ? kLongTotal : kTotal;
    MicroblogClient::Timeouts timeouts;
    timeouts.connect = milliseconds(300);
    timeouts.reply = total;
    timeouts.form = total;
    client.setTimeouts(timeouts);

    QSignalSpy complete(&client, &MicroblogClient::replyComplete);
    QSignalSpy failed(&client, &MicroblogClient::replyFailed);
    StallMeter meter;
    QElapsedTimer clock;
    meter.start();
    clock.start();
    bool posted = false;
    if (path == Path::Upload) {
        QVERIFY(client.SendPictureUpload(QString(), u"taro"_s, u"pw"_s, m_picturePath));
        QTRY_COMPARE_WITH_TIMEOUT(complete.size() + failed.size(), 1, int(total.count()) + 5000);
    } else {
        // Waits in a test event loop that turns as fast as the window's, not in a polling one.
        const bool ended = awaitEnd(
            [&](const std::function<void()>& end) {
                client.PostStatusUpdate(u"hello"_s, u"taro"_s, u"pw"_s,
                                        [&posted, end](const MicroblogOutcome& o) {
                                            posted = o.answered();
                                            end();
                                        });
                return 0;
            },
            int(total.count()) + 5000);
        QVERIFY(ended);
    }
    const qint64 waited = clock.elapsed();
    meter.stop();
    QTRY_COMPARE_WITH_TIMEOUT(peer.openConnections(), qsizetype(0), 3000);
    QVERIFY(peer.requestCount() >= 1);
    qInfo("waited %lld ms, %s, peer sent %lld bytes, hang-up at %lld ms", waited, qPrintable(meter.summary()),
          peer.bytesSent(), peer.lastHangUpMs());

    if (endsEarly(path, fault))
        QVERIFY2(waited < kLongTotal.count() / 2, qPrintable(u"waited %1 ms"_s.arg(waited)));
    else
        QVERIFY2(waited < total.count() + 700, qPrintable(u"waited %1 ms"_s.arg(waited)));
    QVERIFY2(peer.bytesSent() <= MicroblogClient::kReplyCap + kBufferSlack,
             qPrintable(u"peer sent %1 bytes"_s.arg(peer.bytesSent())));
    QVERIFY2(meter.longestOwnStallMs() <= kMaxStallMs,
             qPrintable(u"stall %1 ms"_s.arg(meter.longestOwnStallMs())));

    if (path == Path::Status) {
        // No whole answer is no post; what the peer began to say is never taken for one.
        QVERIFY(!posted);
        QCOMPARE(boxes.shown().size(), 0);
        return;
    }
    switch (fault) {
    case Fault::ResetInHead:
        // A reset after some bytes reaches the socket as the host's close, which ends a reply.
        QCOMPARE(complete.size(), 1);
        QVERIFY(!complete.first().first().toString().contains(u"tempting"_s));
        QCOMPARE(boxes.shown().size(), 0);
        break;
    case Fault::HugeLocation:
        // A whole reply under the cap: the response handling reads it as it is.
        QCOMPARE(complete.size(), 1);
        QVERIFY(complete.first().first().toString().size() <= MicroblogClient::kReplyCap);
        QCOMPARE(boxes.shown().size(), 0);
        break;
    case Fault::EndlessBody:
    case Fault::EndlessHead:
        QCOMPARE(failed.size(), 1);
        QVERIFY2(failed.first().first().toString().contains(QString::number(MicroblogClient::kReplyCap)),
                 qPrintable(failed.first().first().toString()));
        QCOMPARE(boxes.shown().size(), 1);
        QCOMPARE(boxes.shown().constFirst().title, u"ERROR"_s);
        break;
    default:
        QCOMPARE(failed.size(), 1);
        QCOMPARE(failed.first().first().toString(), kTimedOut);
        QCOMPARE(boxes.shown().size(), 1);
        QCOMPARE(boxes.shown().constFirst().title, u"ERROR"_s);
        QCOMPARE(boxes.shown().constFirst().text, kTimedOut);
        break;
    }
    QVERIFY(!client.isSocketBusy());
}

QTEST_GUILESS_MAIN(TestHostileMicroblog)
#include "tst_hostilemicroblog.moc"
