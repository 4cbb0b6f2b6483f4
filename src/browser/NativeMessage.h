#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <optional>

class QIODevice;

namespace linvera {

/// The browser's native-messaging framing: a 32-bit length in native byte order, then that many
/// bytes of UTF-8 JSON.
struct NativeMessage
{
    /// Messages from the browser larger than this are refused; a URL and a title never come near it.
    /// It is also the most the browser accepts from the host in one answer.
    static constexpr quint32 kMaxLength = 1024 * 1024;
    /// An error text in an answer is cut to this many characters, so an answer stays far below the
    /// browser's limit whatever the cause said.
    static constexpr qsizetype kMaxErrorLength = 1000;

    enum class Status { Message, EndOfInput, TooLarge, Broken };

    /// Reads one message. EndOfInput when the browser closed the pipe before a new message; TooLarge
    /// for a whole frame over kMaxLength, which is read past without being kept, so the next message
    /// can follow; Broken for a cut-off frame, a zero length or text that is not a JSON object.
    static Status read(QIODevice& input, QJsonObject& message);

    /// One framed message.
    static QByteArray frame(const QJsonObject& message);

    /// The framed answer to one message: {"ok": true} or {"ok": false, "error": text}.
    static QByteArray answer(bool ok, const QString& error = {});

    /// Whether the message asks which of the browser entries are registered ({"query": "registrations"})
    /// rather than naming a page.
    static bool isRegistrationsQuery(const QJsonObject& message);
    /// The framed answer to that question: {"ok": true, "menu": …, "button": …}.
    static QByteArray registrationsAnswer(bool menu, bool button);
};

/// The mailbox command for a page the browser hands over: the quoted URL, then the quoted title when
/// there is one. Quote characters and line breaks inside them are dropped (the command-line form
/// cannot carry them). Empty when the message holds no usable URL.
QString NativeHostCommand(const QJsonObject& message);

} // namespace linvera
