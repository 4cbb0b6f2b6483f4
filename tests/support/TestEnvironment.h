#pragma once

#include <QString>

namespace linvera::test {

/// Folder of the built executables and the default data files beside them.
QString programDir();

} // namespace linvera::test
