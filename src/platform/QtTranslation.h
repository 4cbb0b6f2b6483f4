#pragma once

#include <QLocale>

namespace linvera::platform {

/// Installs Qt's own Japanese texts (standard buttons, file dialogs, socket error descriptions) in
/// the running application when `locale` is Japanese, so that they read as the program's own do.
/// True when a translation was installed; without Qt's translation files nothing changes.
bool InstallQtTranslation(const QLocale& locale = QLocale::system());

} // namespace linvera::platform
