#pragma once

#include "conv/ConversionEngine.h"
#include "platform/MessageBoxes.h"

namespace linvera::test {

/// Shows the engine's boxes as the window does: in `boxes`, before the engine goes on.
inline void showEngineBoxes(ConversionEngine& engine, platform::MessageBoxes& boxes)
{
    QObject::connect(&engine, &ConversionEngine::messageBoxRequested,
                     [&boxes](platform::MessageBoxes::Icon icon, const QString& title, const QString& text) {
                         boxes.show(icon, title, text);
                     });
}

} // namespace linvera::test
