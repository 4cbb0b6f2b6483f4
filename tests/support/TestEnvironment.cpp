#include "TestEnvironment.h"

#include <QCoreApplication>

namespace linvera::test {

QString programDir()
{
    const QString dir = qEnvironmentVariable("LINVERA_PROGRAM_DIR");
    return dir.isEmpty() ? QCoreApplication::applicationDirPath() : dir;
}

} // namespace linvera::test
