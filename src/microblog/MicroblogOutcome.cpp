#include "microblog/MicroblogOutcome.h"

#include "platform/MessageBoxes.h"

using namespace Qt::StringLiterals;

namespace linvera {

void ShowOutcome(const MicroblogOutcome& outcome, platform::MessageBoxes& boxes, const QString& appTitle)
{
    using Icon = platform::MessageBoxes::Icon;
    using Kind = MicroblogOutcome::Kind;
    switch (outcome.kind) {
    case Kind::Answered:
    case Kind::NoAnswer:
        return;
    case Kind::NoPicture:
    case Kind::UnreadableFile:
        boxes.show(Icon::Stop, u"ERROR"_s, outcome.text);
        return;
    case Kind::BadProxy:
    case Kind::Transport:
        boxes.show(Icon::Exclamation, u"ERROR"_s, outcome.text);
        return;
    case Kind::ServiceError:
        boxes.show(Icon::Exclamation, appTitle, outcome.text);
        return;
    }
}

} // namespace linvera
