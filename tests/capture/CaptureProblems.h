#pragma once

#include "capture/CaptureController.h"
#include "platform/AppInfo.h"
#include "platform/MessageBoxes.h"

#include <QObject>

/// Shows the controller's problems as the program's shell does: an exclamation box with the title.
inline void ShowProblems(linvera::capture::CaptureController& controller,
                         linvera::platform::MessageBoxes& boxes)
{
    QObject::connect(&controller, &linvera::capture::CaptureController::problem, &controller,
                     [&boxes](const QString& text) {
                         boxes.show(linvera::platform::MessageBoxes::Icon::Exclamation, linvera::AppTitle(),
                                    text);
                     });
}
