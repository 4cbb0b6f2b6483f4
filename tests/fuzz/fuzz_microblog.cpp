// Replies of the microblog and picture hosts as a stranger's host could send them.
#include "FuzzSupport.h"
#include "microblog/MicroblogReplies.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString reply = linvera::fuzz::utf8Text(data, size);
    const linvera::SocketVerdict verdict = linvera::JudgeSocketReply(reply);
    FUZZ_CHECK(verdict.kind != linvera::SocketVerdict::Unknown || verdict.value.isEmpty(), reply);
    FUZZ_CHECK(verdict.value.size() <= reply.size(), reply);
    if (const auto error = linvera::ApiReplyError(reply))
        FUZZ_CHECK(error->size() <= reply.size(), reply);
    return 0;
}
