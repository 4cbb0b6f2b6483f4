// Linked into every test by linvera_add_test: the sandbox is made before anything else in the test
// runs, and checked once the application object exists.
#include "TestSandbox.h"

#include <QCoreApplication>

#include <cstdlib>

namespace {

// Before the C++ initialisers of the test's own files, so none of them sees the user's folders.
__attribute__((constructor(101))) void startInSandbox()
{
    if (!linvera::test::makeSandbox())
        std::_Exit(EXIT_FAILURE);
}

void checkSandbox()
{
    linvera::test::requireSandbox();
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(checkSandbox)
