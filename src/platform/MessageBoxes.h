#pragma once

#include <QString>

namespace linvera::platform {

/// The one way the program shows a message box, so that tests can record and answer them and the
/// headless front end can print them instead.
class MessageBoxes
{
public:
    enum class Icon { None, Information, Exclamation, Stop, Question };
    enum class Buttons { Ok, OkCancel, YesNo };
    enum class Answer { Ok, Cancel, Yes, No };

    virtual ~MessageBoxes() = default;
    virtual Answer show(Icon icon, const QString& title, const QString& text,
                        Buttons buttons = Buttons::Ok) = 0;
};

} // namespace linvera::platform
