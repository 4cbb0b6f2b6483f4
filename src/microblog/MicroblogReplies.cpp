#include "microblog/MicroblogReplies.h"

#include "conv/RuleRegex.h"

using namespace Qt::StringLiterals;

namespace linvera {

SocketVerdict JudgeSocketReply(const QString& reply)
{
    static const RuleRegex mediaUrl(u"<mediaurl>(.*?)</mediaurl>"_s);
    static const RuleRegex screenName(u"<screen_name>(.*?)<\\/screen_name>"_s);
    static const RuleRegex errorMessage(u"<err.*?msg=\"(.*?)\""_s);
    QStringList groups;
    if (mediaUrl.match(reply, &groups))
        return {SocketVerdict::PictureUrl, groups.value(0)};
    if (screenName.match(reply, &groups))
        return {SocketVerdict::ScreenName, groups.value(0)};
    if (errorMessage.match(reply, &groups))
        return {SocketVerdict::ServiceError, groups.value(0)};
    return {};
}

std::optional<QString> ApiReplyError(const QString& reply)
{
    static const RuleRegex error(u"<error>(.*?)<\\/error>"_s);
    QStringList groups;
    if (error.match(reply, &groups))
        return groups.value(0);
    return std::nullopt;
}

} // namespace linvera
