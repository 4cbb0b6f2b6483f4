#pragma once

#include "net/HttpRequest.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

namespace linvera {

/// Reads one HTTP/1.x answer from bytes as they arrive, without a socket: status line, headers,
/// then a body delimited by Content-Length, chunked coding or the close of the connection. Interim
/// answers (1xx) are skipped. A head over its cap, a body over its cap and every malformed framing
/// end in Failed with a reason.
class AnswerReader
{
public:
    enum class State { Head, Body, Done, Failed };

    explicit AnswerReader(qint64 headCap = HttpLimits{}.headCap, qint64 bodyCap = HttpLimits{}.bodyCap);

    /// Done once the head has ended, whatever follows (a proxy's answer to CONNECT).
    void setHeadOnly(bool headOnly) { m_headOnly = headOnly; }

    /// Takes the next bytes; bytes after the end of the answer are kept apart (leftover()).
    State feed(QByteArray bytes);
    /// The connection closed: ends a close-delimited body, fails any other unfinished answer.
    State finish();

    State state() const { return m_state; }
    int status() const { return m_status; }
    /// The status line's text after the code ("OK", "Moved Permanently").
    QByteArray reason() const { return m_reason; }
    const HttpHeaders& headers() const { return m_headers; }
    /// The body so far, put together in one block (once: the pieces are given up).
    QByteArray takeBody();
    qint64 bodySize() const { return m_bodySize; }
    QByteArray leftover() const { return m_leftover; }
    QString errorText() const { return m_error; }

private:
    bool parseHead(QByteArrayView head);
    void readChunks();
    void addToBody(QByteArray piece);
    void fail(const QString& error);
    void done();

    qint64 m_headCap;
    qint64 m_bodyCap;
    bool m_headOnly = false;
    State m_state = State::Head;
    QByteArray m_buffer;
    int m_status = 0;
    QByteArray m_reason;
    HttpHeaders m_headers;
    qint64 m_contentLength = -1;
    bool m_chunked = false;
    /// The body in the pieces it came in: one block is made only at the end, so a large body is
    /// never copied over and over as it grows.
    QList<QByteArray> m_pieces;
    qint64 m_bodySize = 0;
    QByteArray m_leftover;
    QString m_error;
};

} // namespace linvera
