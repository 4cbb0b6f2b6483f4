#pragma once

#include "conv/PlainView.h"
#include "platform/MessageBoxes.h"

#include <QStringList>

namespace linvera {

/// The conversion boxes of the headless front end, printed when a run is complete.
class ConsoleView : public PlainView
{
public:
    /// The after URL, then the before info when shown, then the non-empty lines of the after info.
    QStringList resultLines() const;
    /// The message of a finished conversion: the in-progress text that a probe or a picture leaves
    /// in the window is no result and gives none.
    QString finishedMessage() const;
};

/// Message boxes of the headless front end: written to standard error, answered with the default.
class ConsoleMessageBoxes : public platform::MessageBoxes
{
public:
    Answer show(Icon icon, const QString& title, const QString& text, Buttons buttons) override;

    /// The texts of the "ERROR" boxes since the last call, one a line; then forgets them.
    QString takeErrors();

private:
    QStringList m_errors;
};

} // namespace linvera
