// The probe against hosts that misbehave: a header block that never ends, an answer that drips.
#include "conv/RedirectProbe.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;
using namespace linvera;

namespace {

/// Answers every connection by writing `answer`, `chunk` bytes every `intervalMs` (all at once when
/// chunk is 0); with `endless` it keeps writing header lines that never end until the peer leaves.
class HostileHost : public QObject
{
public:
    HostileHost(QByteArray answer, int chunk, int intervalMs, bool endless)
        : m_answer(std::move(answer))
        , m_chunk(chunk)
        , m_interval(intervalMs)
        , m_endless(endless)
    {
        QVERIFY(m_server.listen(QHostAddress::LocalHost));
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            QTcpSocket* socket = m_server.nextPendingConnection();
            auto* timer = new QTimer(socket);
            qsizetype* sent = new qsizetype(0);
            connect(socket, &QObject::destroyed, [sent] { delete sent; });
            connect(timer, &QTimer::timeout, socket, [this, socket, sent] {
                if (socket->state() != QAbstractSocket::ConnectedState)
                    return;
                if (m_endless) {
                    // Stop at 4 MiB so that a probe without a cap fails the test instead of the machine.
                    if (*sent < 4 * 1024 * 1024 && socket->bytesToWrite() < 256 * 1024) {
                        const QByteArray line = "X-Pad: " + QByteArray(1000, 'a') + "\r\n";
                        socket->write(line.repeated(16));
                        *sent += line.size() * 16;
                        m_written = *sent;
                    }
                    return;
                }
                const qsizetype n = m_chunk > 0 ? m_chunk : m_answer.size();
                socket->write(m_answer.mid(*sent, n));
                *sent += n;
                if (*sent >= m_answer.size())
                    socket->disconnectFromHost();
            });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            timer->start(m_interval);
        });
    }
    quint16 port() const { return m_server.serverPort(); }
    qsizetype written() const { return m_written; }

private:
    QTcpServer m_server;
    QByteArray m_answer;
    int m_chunk;
    int m_interval;
    bool m_endless;
    qsizetype m_written = 0;
};

/// The bounds of every probe of these tests.
constexpr RedirectProbe::Timeouts kTimeouts{std::chrono::milliseconds(3000), std::chrono::milliseconds(1500)};

} // namespace

class TestRedirectProbe : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void headerBlockAtTheCap_data();
    void headerBlockAtTheCap();
    void endlessHeaderBlockFails();
    void drippingAnswerEndsInTime();
};

void TestRedirectProbe::headerBlockAtTheCap_data()
{
    QTest::addColumn<qsizetype>("blockSize");
    QTest::addColumn<bool>("answered");
    QTest::newRow("one byte under the cap") << RedirectProbe::kMaxAnswerBytes - 1 << true;
    QTest::newRow("exactly the cap") << RedirectProbe::kMaxAnswerBytes << true;
    QTest::newRow("one byte over the cap") << RedirectProbe::kMaxAnswerBytes + 1 << false;
}

void TestRedirectProbe::headerBlockAtTheCap()
{
    QFETCH(qsizetype, blockSize);
    QFETCH(bool, answered);
    // A header block of blockSize bytes with its blank line, then a body the probe does not need.
    const QByteArray head = "HTTP/1.0 301 Moved\r\nLocation: http://example.com/x\r\nX-Pad: ";
    const QByteArray block = head + QByteArray(blockSize - head.size() - 4, 'p') + "\r\n\r\n";
    QCOMPARE(block.size(), blockSize);
    HostileHost host(block + QByteArray(100000, 'b'), 8192, 5, false);

    RedirectProbe probe;
    probe.setTimeouts(kTimeouts);
    QSignalSpy answers(&probe, &RedirectProbe::answered);
    QSignalSpy failures(&probe, &RedirectProbe::failed);
    probe.StartRedirectProbe(u"127.0.0.1"_s, u"/x"_s, host.port());
    QTRY_COMPARE_WITH_TIMEOUT(answers.size() + failures.size(), 1, 5000);
    QCOMPARE(answers.size(), answered ? 1 : 0);
    if (answered) {
        QCOMPARE(ProbeLocation(answers.first().first().toString()), u"http://example.com/x"_s);
    } else {
        QVERIFY2(
            failures.first().first().toString().contains(QString::number(RedirectProbe::kMaxAnswerBytes)),
            qPrintable(failures.first().first().toString()));
    }
}

void TestRedirectProbe::endlessHeaderBlockFails()
{
    HostileHost host({}, 0, 1, true);
    RedirectProbe probe;
    probe.setTimeouts(kTimeouts);
    QSignalSpy answers(&probe, &RedirectProbe::answered);
    QSignalSpy failures(&probe, &RedirectProbe::failed);
    probe.StartRedirectProbe(u"127.0.0.1"_s, u"/x"_s, host.port());
    QVERIFY(failures.wait(5000));
    QCOMPARE(answers.size(), 0);
    QVERIFY(!probe.isRunning());
    // The probe stopped reading long before the host's own limit.
    QVERIFY2(host.written() < 4 * 1024 * 1024, qPrintable(QString::number(host.written())));
}

void TestRedirectProbe::drippingAnswerEndsInTime()
{
    // One byte every 50 ms: each arrival is well inside the answer time-out, the whole never is.
    const QByteArray answer =
        "HTTP/1.0 301 Moved\r\nLocation: http://example.com/x\r\n" + QByteArray(2000, 'x');
    HostileHost host(answer, 1, 50, false);
    RedirectProbe probe;
    probe.setTimeouts(kTimeouts);
    QSignalSpy answers(&probe, &RedirectProbe::answered);
    QSignalSpy failures(&probe, &RedirectProbe::failed);
    QElapsedTimer clock;
    clock.start();
    probe.StartRedirectProbe(u"127.0.0.1"_s, u"/x"_s, host.port());
    QTRY_COMPARE_WITH_TIMEOUT(answers.size() + failures.size(), 1, 10000);
    // 1500 ms of answer time-out from the connection, plus slack for a loaded machine.
    QVERIFY2(clock.elapsed() < 3500, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!probe.isRunning());
}

QTEST_GUILESS_MAIN(TestRedirectProbe)
#include "tst_redirectprobe.moc"
