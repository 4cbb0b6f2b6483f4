#include "net/AnswerReader.h"

#include <utility>

using namespace Qt::StringLiterals;

namespace linvera {
namespace {

// A chunk size line longer than this is no size line.
constexpr qsizetype kMaxChunkLine = 1024;

} // namespace

AnswerReader::AnswerReader(qint64 headCap, qint64 bodyCap)
    : m_headCap(headCap)
    , m_bodyCap(bodyCap)
{}

AnswerReader::State AnswerReader::feed(QByteArray bytes)
{
    if (m_state == State::Done) {
        m_leftover += bytes;
        return m_state;
    }
    if (m_state == State::Failed || bytes.isEmpty())
        return m_state;

    if (m_state == State::Head) {
        // Only the new bytes, with the three before them, can complete the blank line.
        qsizetype from = qMax(qsizetype(0), m_buffer.size() - 3);
        m_buffer += bytes;
        while (m_state == State::Head) {
            const qsizetype headEnd = m_buffer.indexOf("\r\n\r\n", from);
            if (headEnd < 0 || headEnd + 4 > m_headCap) {
                if (m_buffer.size() > m_headCap || (headEnd >= 0 && headEnd + 4 > m_headCap))
                    fail(u"the answer head is too long"_s);
                return m_state;
            }
            const QByteArray head = m_buffer.left(headEnd);
            m_buffer.remove(0, headEnd + 4);
            from = 0;
            if (!parseHead(head))
                return m_state;
        }
        if (m_state == State::Done) {
            m_leftover = std::exchange(m_buffer, {});
            return m_state;
        }
        bytes.clear();
    }

    if (m_chunked) {
        m_buffer += bytes;
        readChunks();
        return m_state;
    }
    // Bytes before the body's end are body; anything past the announced length is not.
    QByteArray piece = m_buffer.isEmpty() ? std::move(bytes) : std::exchange(m_buffer, {}) + bytes;
    if (m_contentLength >= 0 && m_bodySize + piece.size() >= m_contentLength) {
        const qint64 take = m_contentLength - m_bodySize;
        m_leftover = piece.mid(take);
        piece.truncate(take);
        addToBody(std::move(piece));
        done();
        return m_state;
    }
    addToBody(std::move(piece));
    if (m_bodySize > m_bodyCap)
        fail(u"the body is larger than %1 bytes"_s.arg(m_bodyCap));
    return m_state;
}

AnswerReader::State AnswerReader::finish()
{
    switch (m_state) {
    case State::Head:
        fail(m_buffer.isEmpty() && m_status == 0 ? u"the connection closed without an answer"_s
                                                 : u"the connection closed inside the answer head"_s);
        break;
    case State::Body:
        if (m_chunked)
            fail(u"the connection closed inside a chunked body"_s);
        else if (m_contentLength >= 0)
            // A connection closed before the announced length is a broken transfer, not an answer.
            fail(u"the body is shorter than its Content-Length"_s);
        else
            done();
        break;
    case State::Done:
    case State::Failed:
        break;
    }
    return m_state;
}

QByteArray AnswerReader::takeBody()
{
    if (m_pieces.size() == 1)
        return m_pieces.takeFirst();
    QByteArray body;
    body.reserve(m_bodySize);
    for (const QByteArray& piece : std::as_const(m_pieces))
        body += piece;
    m_pieces.clear();
    return body;
}

bool AnswerReader::parseHead(QByteArrayView head)
{
    QList<QByteArrayView> lines;
    for (qsizetype start = 0;;) {
        const qsizetype end = head.indexOf('\n', start);
        QByteArrayView line = head.sliced(start, (end < 0 ? head.size() : end) - start);
        if (line.endsWith('\r'))
            line.chop(1);
        lines.append(line);
        if (end < 0)
            break;
        start = end + 1;
    }
    const QByteArrayView statusLine = lines.value(0);
    const qsizetype firstSpace = statusLine.indexOf(' ');
    const qsizetype secondSpace = firstSpace < 0 ? -1 : statusLine.indexOf(' ', firstSpace + 1);
    const QByteArrayView code = firstSpace < 0 ? QByteArrayView()
                                : secondSpace < 0
                                    ? statusLine.sliced(firstSpace + 1)
                                    : statusLine.sliced(firstSpace + 1, secondSpace - firstSpace - 1);
    bool ok = false;
    const int status = code.toByteArray().toInt(&ok);
    if (!statusLine.startsWith("HTTP/") || !ok || status < 100 || status > 999) {
        fail(u"not an HTTP answer"_s);
        return false;
    }
    // An interim answer (100 Continue) is followed by the real one; a tunnel's answer is the head alone.
    if (status < 200 && !m_headOnly)
        return true;
    m_status = status;
    m_reason = secondSpace < 0 ? QByteArray() : statusLine.sliced(secondSpace + 1).toByteArray();
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArrayView line = lines.at(i);
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray name = line.first(colon).trimmed().toByteArray();
        const QByteArray value = line.sliced(colon + 1).trimmed().toByteArray();
        m_headers.append({name, value});
        if (name.compare("Content-Length", Qt::CaseInsensitive) == 0) {
            const qint64 length = value.toLongLong(&ok);
            if (!ok || length < 0 || (m_contentLength >= 0 && m_contentLength != length)) {
                fail(u"the answer has an invalid Content-Length"_s);
                return false;
            }
            m_contentLength = length;
        } else if (name.compare("Transfer-Encoding", Qt::CaseInsensitive) == 0) {
            m_chunked = m_chunked || value.toLower().contains("chunked");
        }
    }
    if (m_headOnly) {
        done();
        return true;
    }
    if (m_chunked)
        m_contentLength = -1;
    if (m_contentLength > m_bodyCap) {
        fail(u"the body is larger than %1 bytes"_s.arg(m_bodyCap));
        return false;
    }
    m_state = State::Body;
    if (m_status == 204 || m_status == 304 || m_contentLength == 0)
        done();
    return true;
}

void AnswerReader::readChunks()
{
    while (m_state == State::Body) {
        const qsizetype lineEnd = m_buffer.indexOf("\r\n");
        if (lineEnd < 0) {
            if (m_buffer.size() > kMaxChunkLine)
                fail(u"a chunk size line is too long"_s);
            return;
        }
        QByteArrayView sizeText = QByteArrayView(m_buffer).first(lineEnd);
        const qsizetype extension = sizeText.indexOf(';');
        if (extension >= 0)
            sizeText.truncate(extension);
        const QByteArray digits = sizeText.trimmed().toByteArray();
        bool ok = !digits.isEmpty();
        for (const char c : digits)
            ok = ok && QByteArrayView("0123456789abcdefABCDEF").contains(c);
        const qint64 size = ok && digits.size() <= 15 ? digits.toLongLong(&ok, 16) : -1;
        if (!ok || size < 0) {
            fail(u"a chunk size is not hexadecimal"_s);
            return;
        }
        if (size == 0) {
            // Trailers, if any, are of no use here.
            m_buffer.clear();
            done();
            return;
        }
        if (m_bodySize + size > m_bodyCap) {
            fail(u"the body is larger than %1 bytes"_s.arg(m_bodyCap));
            return;
        }
        if (m_buffer.size() < lineEnd + 2 + size + 2)
            return;
        if (QByteArrayView(m_buffer).sliced(lineEnd + 2 + size, 2) != "\r\n") {
            fail(u"a chunk does not end with CR LF"_s);
            return;
        }
        addToBody(m_buffer.mid(lineEnd + 2, size));
        m_buffer.remove(0, lineEnd + 2 + size + 2);
    }
}

void AnswerReader::addToBody(QByteArray piece)
{
    if (piece.isEmpty())
        return;
    m_bodySize += piece.size();
    m_pieces.append(std::move(piece));
}

void AnswerReader::fail(const QString& error)
{
    m_state = State::Failed;
    m_error = error;
    m_pieces.clear();
    m_bodySize = 0;
    m_buffer.clear();
}

void AnswerReader::done()
{
    m_state = State::Done;
}

} // namespace linvera
