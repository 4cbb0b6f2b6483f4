// The answer reader fed bytes without a socket: whole, split in two at every position, byte by byte.
#include "net/AnswerReader.h"

#include <QTest>

using namespace Qt::StringLiterals;
using namespace linvera;

Q_DECLARE_METATYPE(linvera::AnswerReader::State)

class TestAnswerReader : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void readsWhole_data() { answers(); }
    void readsWhole();
    void readsSplitAtEveryByte_data() { answers(); }
    void readsSplitAtEveryByte();
    void readsByteByByte_data() { answers(); }
    void readsByteByByte();
    void keepsHeadersInOrder();
    void tunnelAnswerIsTheHeadAlone_data();
    void tunnelAnswerIsTheHeadAlone();

private:
    void answers();
};

namespace {

struct Outcome
{
    AnswerReader::State state;
    int status = 0;
    QByteArray body;
    QString error;
    QByteArray leftover;
};

/// Feeds `parts` in order, then the close when `closes`.
Outcome run(const QList<QByteArray>& parts, bool closes, qint64 headCap, qint64 bodyCap)
{
    AnswerReader reader(headCap, bodyCap);
    for (const QByteArray& part : parts)
        reader.feed(part);
    if (closes)
        reader.finish();
    return {reader.state(), reader.status(), reader.takeBody(), reader.errorText(), reader.leftover()};
}

} // namespace

void TestAnswerReader::answers()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<bool>("closes"); // the connection closes after the last byte
    QTest::addColumn<qint64>("headCap");
    QTest::addColumn<qint64>("bodyCap");
    QTest::addColumn<AnswerReader::State>("state");
    QTest::addColumn<int>("status"); // kept when a later part of the answer fails
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("error");

    using S = AnswerReader::State;
    const qint64 head = 64 * 1024;
    const qint64 cap = 1000;
    QTest::newRow("Content-Length") << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabc") << false
                                    << head << cap << S::Done << 200 << QByteArray("abc") << QString();
    QTest::newRow("Content-Length 0 ends at the blank line")
        << QByteArray("HTTP/1.1 301 Moved\r\nLocation: /x\r\nContent-Length: 0\r\n\r\n") << false << head
        << cap << S::Done << 301 << QByteArray() << QString();
    QTest::newRow("bytes after the announced length are not body")
        << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nabXYZ") << false << head << cap << S::Done
        << 200 << QByteArray("ab") << QString();
    QTest::newRow("close-delimited body ends at the close")
        << QByteArray("HTTP/1.0 200 OK\r\n\r\nuntil close") << true << head << cap << S::Done << 200
        << QByteArray("until close") << QString();
    QTest::newRow("close-delimited body still open without the close")
        << QByteArray("HTTP/1.0 200 OK\r\n\r\nso far") << false << head << cap << S::Body << 200
        << QByteArray("so far") << QString();
    QTest::newRow("chunked with an extension and a trailer")
        << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3;x=y\r\nabc\r\n2\r\nde\r\n0\r\n"
                      "Trailer: 1\r\n\r\n")
        << false << head << cap << S::Done << 200 << QByteArray("abcde") << QString();
    QTest::newRow("chunked wins over Content-Length")
        << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 99\r\nTransfer-Encoding: "
                      "chunked\r\n\r\n1\r\nz\r\n0\r\n\r\n")
        << false << head << cap << S::Done << 200 << QByteArray("z") << QString();
    QTest::newRow("upper-case chunk size")
        << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nA\r\n0123456789\r\n0\r\n\r\n")
        << false << head << cap << S::Done << 200 << QByteArray("0123456789") << QString();
    QTest::newRow("interim 100 before the answer")
        << QByteArray("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 201 Created\r\nContent-Length: 1\r\n\r\nx")
        << false << head << cap << S::Done << 201 << QByteArray("x") << QString();
    QTest::newRow("204 has no body") << QByteArray("HTTP/1.1 204 No Content\r\n\r\n") << false << head << cap
                                     << S::Done << 204 << QByteArray() << QString();
    QTest::newRow("304 has no body despite its length")
        << QByteArray("HTTP/1.1 304 Not Modified\r\nContent-Length: 10\r\n\r\n") << false << head << cap
        << S::Done << 304 << QByteArray() << QString();
    QTest::newRow("body exactly at the cap")
        << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n" + QByteArray(1000, 'b')) << false
        << head << cap << S::Done << 200 << QByteArray(1000, 'b') << QString();
    QTest::newRow("announced length one over the cap")
        << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 1001\r\n\r\n") << false << head << cap << S::Failed
        << 200 << QByteArray() << u"the body is larger than 1000 bytes"_s;
    QTest::newRow("close-delimited body one over the cap")
        << QByteArray("HTTP/1.0 200 OK\r\n\r\n" + QByteArray(1001, 'b')) << true << head << cap << S::Failed
        << 200 << QByteArray() << u"the body is larger than 1000 bytes"_s;
    QTest::newRow("chunks one over the cap")
        << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3e8\r\n" + QByteArray(1000, 'c') +
                      "\r\n1\r\nc\r\n0\r\n\r\n")
        << false << head << cap << S::Failed << 200 << QByteArray()
        << u"the body is larger than 1000 bytes"_s;
    QTest::newRow("head exactly at its cap")
        << QByteArray("HTTP/1.1 200 OK\r\nX: " + QByteArray(25, 'h') + "\r\nContent-Length: 0\r\n\r\n")
        << false << qint64(68) << cap << S::Done << 200 << QByteArray() << QString();
    QTest::newRow("head one over its cap")
        << QByteArray("HTTP/1.1 200 OK\r\nX: " + QByteArray(26, 'h') + "\r\nContent-Length: 0\r\n\r\n")
        << false << qint64(68) << cap << S::Failed << 0 << QByteArray() << u"the answer head is too long"_s;
    QTest::newRow("closed inside the head")
        << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n") << true << head << cap << S::Failed << 0
        << QByteArray() << u"the connection closed inside the answer head"_s;
    QTest::newRow("closed without an answer") << QByteArray() << true << head << cap << S::Failed << 0
                                              << QByteArray() << u"the connection closed without an answer"_s;
    QTest::newRow("closed before the announced length")
        << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nabc") << true << head << cap << S::Failed
        << 200 << QByteArray() << u"the body is shorter than its Content-Length"_s;
    QTest::newRow("closed before the last chunk")
        << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n") << true << head
        << cap << S::Failed << 200 << QByteArray() << u"the connection closed inside a chunked body"_s;
    QTest::newRow("chunk size not hexadecimal")
        << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\nabc\r\n0\r\n\r\n") << false
        << head << cap << S::Failed << 200 << QByteArray() << u"a chunk size is not hexadecimal"_s;
    QTest::newRow("negative chunk size")
        << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n-1\r\nabc\r\n0\r\n\r\n") << false
        << head << cap << S::Failed << 200 << QByteArray() << u"a chunk size is not hexadecimal"_s;
    QTest::newRow("chunk without its CR LF")
        << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabcX\r\n0\r\n\r\n") << false
        << head << cap << S::Failed << 200 << QByteArray() << u"a chunk does not end with CR LF"_s;
    QTest::newRow("chunk size line too long")
        << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + QByteArray(1025, '0'))
        << false << head << cap << S::Failed << 200 << QByteArray() << u"a chunk size line is too long"_s;
    QTest::newRow("two different lengths")
        << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 2\r\nContent-Length: 3\r\n\r\nabc") << false << head
        << cap << S::Failed << 200 << QByteArray() << u"the answer has an invalid Content-Length"_s;
    QTest::newRow("the same length twice")
        << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 2\r\nContent-Length: 2\r\n\r\nab") << false << head
        << cap << S::Done << 200 << QByteArray("ab") << QString();
    QTest::newRow("length not a number")
        << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 1x\r\n\r\nab") << false << head << cap << S::Failed
        << 200 << QByteArray() << u"the answer has an invalid Content-Length"_s;
    QTest::newRow("not HTTP") << QByteArray("SSH-2.0-OpenSSH\r\n\r\n") << false << head << cap << S::Failed
                              << 0 << QByteArray() << u"not an HTTP answer"_s;
    QTest::newRow("status code out of range") << QByteArray("HTTP/1.1 99 Low\r\n\r\n") << false << head << cap
                                              << S::Failed << 0 << QByteArray() << u"not an HTTP answer"_s;
    QTest::newRow("status line without a reason")
        << QByteArray("HTTP/1.1 200\r\nContent-Length: 1\r\n\r\nk") << false << head << cap << S::Done << 200
        << QByteArray("k") << QString();
}

void TestAnswerReader::readsWhole()
{
    QFETCH(QByteArray, answer);
    QFETCH(bool, closes);
    QFETCH(qint64, headCap);
    QFETCH(qint64, bodyCap);
    QFETCH(AnswerReader::State, state);
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QString, error);
    const Outcome outcome = run({answer}, closes, headCap, bodyCap);
    QCOMPARE(outcome.state, state);
    QCOMPARE(outcome.status, status);
    QCOMPARE(outcome.body, body);
    QCOMPARE(outcome.error, error);
}

void TestAnswerReader::readsSplitAtEveryByte()
{
    QFETCH(QByteArray, answer);
    QFETCH(bool, closes);
    QFETCH(qint64, headCap);
    QFETCH(qint64, bodyCap);
    QFETCH(AnswerReader::State, state);
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QString, error);
    for (qsizetype at = 0; at <= answer.size(); ++at) {
        const Outcome outcome = run({answer.left(at), answer.mid(at)}, closes, headCap, bodyCap);
        const QByteArray where = "split at " + QByteArray::number(at);
        QVERIFY2(outcome.state == state, where.constData());
        QVERIFY2(outcome.status == status, where.constData());
        QVERIFY2(outcome.body == body, where.constData());
        QVERIFY2(outcome.error == error, where.constData());
    }
}

void TestAnswerReader::readsByteByByte()
{
    QFETCH(QByteArray, answer);
    QFETCH(bool, closes);
    QFETCH(qint64, headCap);
    QFETCH(qint64, bodyCap);
    QFETCH(AnswerReader::State, state);
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QString, error);
    QList<QByteArray> bytes;
    for (const char c : std::as_const(answer))
        bytes.append(QByteArray(1, c));
    const Outcome outcome = run(bytes, closes, headCap, bodyCap);
    QCOMPARE(outcome.state, state);
    QCOMPARE(outcome.status, status);
    QCOMPARE(outcome.body, body);
    QCOMPARE(outcome.error, error);
}

void TestAnswerReader::keepsHeadersInOrder()
{
    AnswerReader reader;
    reader.feed("HTTP/1.1 302 Found\r\nSet-Cookie: a=1\r\nlocation:  /first \r\nSet-Cookie: b=2\r\nLocation: "
                "/second\r\n"
                "Content-Length: 0\r\n\r\n");
    QCOMPARE(reader.state(), AnswerReader::State::Done);
    QCOMPARE(reader.reason(), QByteArray("Found"));
    const HttpHeaders expected{{"Set-Cookie", "a=1"},
                               {"location", "/first"},
                               {"Set-Cookie", "b=2"},
                               {"Location", "/second"},
                               {"Content-Length", "0"}};
    QCOMPARE(reader.headers(), expected);
    QCOMPARE(HeaderValue(reader.headers(), "LOCATION"), QByteArray("/first"));
    QVERIFY(HeaderValue(reader.headers(), "Missing").isNull());
}

void TestAnswerReader::tunnelAnswerIsTheHeadAlone_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("leftover");
    QTest::newRow("established") << QByteArray("HTTP/1.1 200 Connection established\r\n\r\n") << 200
                                 << QByteArray();
    QTest::newRow("TLS bytes right behind the head stay apart")
        << QByteArray("HTTP/1.1 200 OK\r\n\r\n\x16\x03\x01") << 200 << QByteArray("\x16\x03\x01");
    QTest::newRow("refused, with a body that is not read")
        << QByteArray("HTTP/1.1 403 Forbidden\r\nContent-Length: 5\r\n\r\nnope!") << 403
        << QByteArray("nope!");
}

void TestAnswerReader::tunnelAnswerIsTheHeadAlone()
{
    QFETCH(QByteArray, answer);
    QFETCH(int, status);
    QFETCH(QByteArray, leftover);
    AnswerReader reader;
    reader.setHeadOnly(true);
    QCOMPARE(reader.feed(answer), AnswerReader::State::Done);
    QCOMPARE(reader.status(), status);
    QCOMPARE(reader.leftover(), leftover);
}

QTEST_GUILESS_MAIN(TestAnswerReader)
#include "tst_answerreader.moc"
