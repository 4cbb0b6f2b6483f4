#pragma once

#include <QByteArray>
#include <QList>

namespace linvera::test {

/// How a test server puts an answer on the wire.
struct HttpTestDelivery
{
    enum class Mode {
        Whole,              ///< the whole answer in one write, then close
        Split,              ///< several writes with a pause between them, then close
        Silent,             ///< read the request, never answer, keep the connection open
        Reset,              ///< read the request, then abort the connection with a TCP reset
        CloseWithoutAnswer, ///< read the request, then close normally without a byte
        Truncated,          ///< head with the full Content-Length, only part of the body, then close
    };

    Mode mode = Mode::Whole;
    /// Split: bytes per write, used when neither splitPoints nor splitAfter is given.
    int chunkSize = 0;
    /// Split: pause in milliseconds between two writes.
    int delayMs = 0;
    /// Split: byte offsets into the answer at which a new write begins.
    QList<qsizetype> splitPoints;
    /// Split: a new write begins right after the first occurrence of each of these texts.
    QList<QByteArray> splitAfter;
    /// Truncated: body bytes that are sent before the close; -1 sends half the body.
    qsizetype bodyBytesSent = -1;

    static HttpTestDelivery whole() { return {}; }
    static HttpTestDelivery chunks(int chunkSize, int delayMs)
    {
        HttpTestDelivery d;
        d.mode = Mode::Split;
        d.chunkSize = chunkSize;
        d.delayMs = delayMs;
        return d;
    }
    static HttpTestDelivery splitAt(const QList<qsizetype>& offsets, int delayMs)
    {
        HttpTestDelivery d;
        d.mode = Mode::Split;
        d.splitPoints = offsets;
        d.delayMs = delayMs;
        return d;
    }
    static HttpTestDelivery splitAfterTexts(const QList<QByteArray>& markers, int delayMs)
    {
        HttpTestDelivery d;
        d.mode = Mode::Split;
        d.splitAfter = markers;
        d.delayMs = delayMs;
        return d;
    }
    static HttpTestDelivery silent() { return withMode(Mode::Silent); }
    static HttpTestDelivery reset() { return withMode(Mode::Reset); }
    static HttpTestDelivery closeWithoutAnswer() { return withMode(Mode::CloseWithoutAnswer); }
    static HttpTestDelivery truncated(qsizetype bodyBytes = -1)
    {
        HttpTestDelivery d = withMode(Mode::Truncated);
        d.bodyBytesSent = bodyBytes;
        return d;
    }

    /// The writes that Split makes of these answer bytes (one element for the other modes).
    QList<QByteArray> pieces(const QByteArray& answer) const;

private:
    static HttpTestDelivery withMode(Mode mode)
    {
        HttpTestDelivery d;
        d.mode = mode;
        return d;
    }
};

} // namespace linvera::test
