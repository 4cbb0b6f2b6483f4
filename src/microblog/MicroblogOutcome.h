#pragma once

#include <QMetaType>
#include <QString>

namespace linvera {

namespace platform {
class MessageBoxes;
}

/// What became of a request, or what went wrong on its way, as the client reports it. The window
/// shows it (`ShowOutcome`); the client itself never shows anything.
struct MicroblogOutcome
{
    enum class Kind {
        Answered,       ///< the service answered (a form post without an error element)
        NoAnswer,       ///< a form post ended without any answer: nothing to show, no post either
        NoPicture,      ///< nothing sent: no picture file at the path
        UnreadableFile, ///< the picture could not be read; the send went on without its bytes
        BadProxy,       ///< nothing sent: the proxy setting names no host and port
        Transport,      ///< the upload's connection failed, ran out of time or its reply grew too long
        ServiceError,   ///< the microblog API answered with an error element
    };
    Kind kind = Kind::Answered;
    /// The message as the user reads it (empty for Answered and NoAnswer).
    QString text;

    bool answered() const { return kind == Kind::Answered; }
};

/// Shows the outcome's message box, if it has one: "ERROR" as the title of the transport's and the
/// file's problems, `appTitle` for the service's own error.
void ShowOutcome(const MicroblogOutcome& outcome, platform::MessageBoxes& boxes, const QString& appTitle);

} // namespace linvera

Q_DECLARE_METATYPE(linvera::MicroblogOutcome)
