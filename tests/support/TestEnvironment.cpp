#include "TestEnvironment.h"

#include <QCoreApplication>

namespace linvera::test {

QString testDataDir()
{
    return qEnvironmentVariable("LINVERA_TEST_DATA");
}

QString programDir()
{
    const QString dir = qEnvironmentVariable("LINVERA_PROGRAM_DIR");
    return dir.isEmpty() ? QCoreApplication::applicationDirPath() : dir;
}

} // namespace linvera::test
