#pragma once

#include "TempRegistry.h"
#include "platform/AppPaths.h"
#include "platform/RegistryStore.h"

#include <QDBusConnection>
#include <QHash>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <chrono>

namespace linvera::test {

/// The folders of one test case: a home with its own configuration, data, cache, runtime and
/// temporary folders, so that the program, started in this process or as a child, finds nothing of
/// an earlier run. Its registry store is this process's store while the sandbox lives, and the
/// very store a program started with environment() opens.
class ShellSandbox
{
public:
    ShellSandbox();
    ShellSandbox(const ShellSandbox&) = delete;
    ShellSandbox& operator=(const ShellSandbox&) = delete;

    bool isValid() const { return m_valid; }
    QString root() const { return m_dir.path(); }
    QString home() const;
    QString configHome() const;
    QString dataHome() const;
    QString cacheHome() const;
    QString tempFolder() const;
    /// The registry store of the sandbox, as a program started with environment() names it.
    QString registryFile() const;
    platform::RegistryStore& store() { return m_registry.store(); }
    /// Where a program started with environment() writes its bus service files.
    QString userServiceFolder() const;
    /// The documents folder of environment() joined with "halvex-linvera".
    QString dataFolder() const;
    /// The program's folders in the sandbox, for an application started in this process: the
    /// build's program folder, the data folder above, the sandbox's desktop and temporary folder.
    platform::AppPaths appPaths() const;

    /// The environment of a program started in the sandbox: its folders, the offscreen platform,
    /// this process's session bus and no leak report at exit (exit codes must mean the program's).
    QProcessEnvironment environment() const;

private:
    QTemporaryDir m_dir;
    TempRegistry m_registry;
    bool m_valid = false;
};

/// Sets every service endpoint in the current registry store: each named one to its host, every
/// other one to a loopback port nobody listens on, so that nothing leaves the machine.
void PointEndpoints(const QHash<QString, QString>& hosts);

/// A value of the settings key as text ("" when missing), read through the registry layer.
QString StoredSetting(const QString& name);
/// Names of the values under a key, in the order they were first written.
QStringList ValueNames(platform::RegRoot root, const QString& key);

/// What one run of an outside program gave.
struct ToolRun
{
    bool finished = false; ///< ended by itself within the time-out
    int exitCode = -1;
    QString output;
    QString errorOutput;
};

/// Runs a program to its end while this thread's events keep running, so loopback servers of this
/// process answer it meanwhile. A program that outlives the time-out is killed.
ToolRun RunTool(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment,
                std::chrono::milliseconds timeout = std::chrono::seconds(30));

/// A method call with gdbus on this process's session bus, or on `address` when given.
ToolRun GdbusCall(const QString& destination, const QString& path, const QString& method,
                  const QStringList& arguments = {}, const QString& address = {},
                  const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment());

/// The text inside gdbus's answer for a variant holding a string, "(<'text'>,)"; null when the
/// answer has another shape.
QString GdbusVariantString(const QString& output);

/// A program of the build (canonical path in the program folder).
QString BuiltProgram(const QString& name);

/// Process id of a bus name's owner, 0 when nobody owns it.
qint64 NameOwnerPid(const QDBusConnection& bus, const QString& name);
/// Waits, with events running, until the name has (or has no) owner.
bool WaitForNameOwner(const QDBusConnection& bus, const QString& name, bool owned,
                      std::chrono::milliseconds timeout = std::chrono::seconds(20));
/// The arguments a process was started with, from /proc (program first).
QStringList ProcessArguments(qint64 pid);

} // namespace linvera::test
