// Native-messaging frames as a browser (or anything posing as one) could write them, and the
// mailbox command built from each message.
#include "FuzzSupport.h"
#include "browser/NativeMessage.h"
#include "mailbox/CommandLine.h"

#include <QBuffer>
#include <QJsonDocument>

using linvera::NativeMessage;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    QBuffer input(&bytes);
    input.open(QIODevice::ReadOnly);
    for (int count = 0; count < 64; ++count) {
        QJsonObject message;
        const NativeMessage::Status status = NativeMessage::read(input, message);
        if (status == NativeMessage::Status::EndOfInput || status == NativeMessage::Status::Broken)
            break;
        if (status != NativeMessage::Status::Message)
            continue;
        const QString command = linvera::NativeHostCommand(message);
        // One quoted URL, and at most a quoted title: the command line holds no more arguments.
        FUZZ_CHECK(!command.contains(u'\n') && !command.contains(u'\r'), command);
        if (!command.isEmpty()) {
            const QStringList args = linvera::SplitArgs(command);
            FUZZ_CHECK(args.size() == 2 || args.size() == 3, command);
            FUZZ_CHECK(!args[1].isEmpty(), command);
        }
        const QByteArray answer = NativeMessage::answer(false, command.repeated(3));
        FUZZ_CHECK(answer.size() < 4 + 3 * NativeMessage::kMaxErrorLength + 64, command);
        QByteArray framed = NativeMessage::frame(message);
        QBuffer again(&framed);
        again.open(QIODevice::ReadOnly);
        QJsonObject reread;
        const auto status2 = NativeMessage::read(again, reread);
        FUZZ_CHECK(status2 == NativeMessage::Status::TooLarge || reread == message,
                   QString::fromUtf8(QJsonDocument(message).toJson()));
    }
    return 0;
}
