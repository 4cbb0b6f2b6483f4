#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <utility>

namespace linvera::test {

/// Makes a new folder under the system temporary folder ($TMPDIR, else /tmp) and points HOME,
/// XDG_CONFIG_HOME, XDG_DATA_HOME, XDG_CACHE_HOME, XDG_STATE_HOME and TMPDIR into it, for this process
/// and every process it starts; the user's own documents and desktop folder names are dropped.
/// Every test registered with linvera_add_test does this before main(), so a test run by hand never
/// reaches the user's registry store or files. Plain C and POSIX only: it runs before Qt is up.
/// The folder is removed when the process that made it exits normally. Returns false, with the
/// reason on stderr, when no folder could be made.
bool makeSandbox();

/// The folder makeSandbox() made in this process; empty when it made none.
QString sandboxRoot();

/// The variables a sandbox at `root` sets, with their folders: for a sandbox of its own that a test
/// makes for the programs it starts.
QList<std::pair<QByteArray, QString>> SandboxVariables(const QString& root);

/// Ends the test with a message unless this process made a sandbox and its home, XDG folders,
/// temporary folder, documents folder and the registry store RegistryStore::shared() uses all lie
/// inside it. Runs by itself when the test's application object is made; call it again after
/// changing the environment or the shared store.
void requireSandbox();

} // namespace linvera::test
