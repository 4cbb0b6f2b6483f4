#pragma once

#include "microblog/MicroblogClient.h"
#include "microblog/MicroblogOutcome.h"
#include "platform/MessageBoxes.h"

namespace linvera::test {

/// Shows the client's reports as the posting window does: in `boxes`, the service's errors under
/// `appTitle`.
inline void showMicroblogBoxes(MicroblogClient& client, platform::MessageBoxes& boxes,
                               const QString& appTitle)
{
    QObject::connect(
        &client, &MicroblogClient::reported,
        [&boxes, appTitle](const MicroblogOutcome& outcome) { ShowOutcome(outcome, boxes, appTitle); });
}

} // namespace linvera::test
