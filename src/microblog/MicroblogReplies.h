#pragma once

#include <QString>

#include <optional>

namespace linvera {

/// What a reply on the upload socket says, tested in this order on the whole reply.
struct SocketVerdict
{
    enum Kind {
        PictureUrl,   ///< the picture host stored the picture; `value` is its address
        ScreenName,   ///< the profile picture was changed; `value` is the account name
        ServiceError, ///< the picture host refused; `value` is its message
        Unknown,      ///< none of these
    };
    Kind kind = Unknown;
    QString value;
};

SocketVerdict JudgeSocketReply(const QString& reply);

/// The text of the first error element of a microblog API reply, when it holds one.
std::optional<QString> ApiReplyError(const QString& reply);

} // namespace linvera
