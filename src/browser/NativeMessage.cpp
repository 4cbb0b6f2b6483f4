#include "browser/NativeMessage.h"

#include <QIODevice>
#include <QJsonDocument>

#include <cstring>

using namespace Qt::StringLiterals;

namespace linvera {
namespace {

// Reads until `size` bytes arrived or the input ended; returns how many arrived. A pipe delivers a
// frame in pieces, and a read there waits for the next piece.
qint64 readUpTo(QIODevice& input, char* into, qint64 size)
{
    qint64 done = 0;
    while (done < size) {
        const qint64 n = input.read(into + done, size - done);
        if (n <= 0)
            break;
        done += n;
    }
    return done;
}

// Reads and drops `size` bytes in small pieces; false when the input ended first.
bool skip(QIODevice& input, quint32 size)
{
    QByteArray piece(64 * 1024, Qt::Uninitialized);
    quint32 left = size;
    while (left > 0) {
        const qint64 n = readUpTo(input, piece.data(), qMin<qint64>(left, piece.size()));
        if (n <= 0)
            return false;
        left -= quint32(n);
    }
    return true;
}

QString commandPart(QString text)
{
    text.remove(u'"').remove(u'\r').remove(u'\n');
    return text.trimmed();
}

} // namespace

NativeMessage::Status NativeMessage::read(QIODevice& input, QJsonObject& message)
{
    char header[4];
    const qint64 got = readUpTo(input, header, 4);
    if (got == 0)
        return Status::EndOfInput;
    if (got < 4)
        return Status::Broken;
    quint32 length = 0;
    std::memcpy(&length, header, 4);
    if (length == 0)
        return Status::Broken;
    if (length > kMaxLength)
        return skip(input, length) ? Status::TooLarge : Status::Broken;
    QByteArray body(qsizetype(length), Qt::Uninitialized);
    if (readUpTo(input, body.data(), length) != qint64(length))
        return Status::Broken;
    const QJsonDocument document = QJsonDocument::fromJson(body);
    if (!document.isObject())
        return Status::Broken;
    message = document.object();
    return Status::Message;
}

QByteArray NativeMessage::frame(const QJsonObject& message)
{
    const QByteArray body = QJsonDocument(message).toJson(QJsonDocument::Compact);
    const quint32 length = quint32(body.size());
    QByteArray framed(4, Qt::Uninitialized);
    std::memcpy(framed.data(), &length, 4);
    return framed + body;
}

QByteArray NativeMessage::answer(bool ok, const QString& error)
{
    QJsonObject object{{u"ok"_s, ok}};
    if (!error.isEmpty()) {
        QString text = error.left(kMaxErrorLength);
        if (text.back().isHighSurrogate())
            text.chop(1); // half a character would not survive the encoding
        object.insert(u"error"_s, text);
    }
    return frame(object);
}

bool NativeMessage::isRegistrationsQuery(const QJsonObject& message)
{
    return message.value(u"query"_s).toString() == u"registrations"_s;
}

QByteArray NativeMessage::registrationsAnswer(bool menu, bool button)
{
    return frame({{u"ok"_s, true}, {u"menu"_s, menu}, {u"button"_s, button}});
}

QString NativeHostCommand(const QJsonObject& message)
{
    const QString url = commandPart(message.value(u"url"_s).toString());
    if (url.isEmpty())
        return {};
    const QString title = commandPart(message.value(u"title"_s).toString());
    QString command = u'"' + url + u'"';
    if (!title.isEmpty())
        command += u" \""_s + title + u'"';
    return command;
}

} // namespace linvera
