#include "ShellSandbox.h"

#include "HttpTestServer.h"
#include "TestEnvironment.h"
#include "TestSandbox.h"
#include "conv/Endpoints.h"
#include "platform/AppPaths.h"
#include "platform/RegAccess.h"
#include "settings/SettingsTable.h"

#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTest>

using namespace Qt::StringLiterals;

namespace linvera::test {

ShellSandbox::ShellSandbox()
{
    m_valid = m_dir.isValid() && m_registry.isValid();
    for (const auto& [name, folder] : SandboxVariables(root()))
        m_valid = m_valid && QDir().mkpath(folder);
    m_valid = m_valid &&
              QFile::setPermissions(root() + u"/runtime"_s,
                                    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    // The programs open $XDG_CONFIG_HOME/halvex-linvera/registry.sqlite3: that folder is the
    // sandbox store's, so the test and its programs read and write one store (its lock and log
    // files included).
    m_valid =
        m_valid && QFile::link(QFileInfo(m_registry.storeFile()).path(), QFileInfo(registryFile()).path());
}

QString ShellSandbox::home() const
{
    return root() + u"/home"_s;
}

QString ShellSandbox::configHome() const
{
    return home() + u"/.config"_s;
}

QString ShellSandbox::dataHome() const
{
    return home() + u"/.local/share"_s;
}

QString ShellSandbox::cacheHome() const
{
    return home() + u"/.cache"_s;
}

QString ShellSandbox::tempFolder() const
{
    return root() + u"/tmp"_s;
}

QString ShellSandbox::registryFile() const
{
    return configHome() + u"/halvex-linvera/registry.sqlite3"_s;
}

QString ShellSandbox::userServiceFolder() const
{
    return dataHome() + u"/dbus-1/services"_s;
}

platform::AppPaths ShellSandbox::appPaths() const
{
    platform::AppPaths paths;
    paths.programFolder = programDir();
    paths.homeFolder = home();
    paths.dataFolder = dataFolder();
    paths.desktopFolder = home() + u"/Desktop"_s;
    paths.tempFolder = tempFolder();
    paths.logFilePath = paths.dataFile(u"log.txt"_s);
    paths.noticeFilePath = paths.dataFile(u"notice.xml"_s);
    return paths;
}

QString ShellSandbox::dataFolder() const
{
    // No user-dirs file in the sandbox: the documents folder is ~/Documents.
    return home() + u"/Documents/halvex-linvera"_s;
}

QProcessEnvironment ShellSandbox::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const auto& [name, folder] : SandboxVariables(root()))
        env.insert(QString::fromLatin1(name), folder);
    env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
    const QString asan = env.value(u"ASAN_OPTIONS"_s);
    env.insert(u"ASAN_OPTIONS"_s, asan.isEmpty() ? u"detect_leaks=0"_s : asan + u":detect_leaks=0"_s);
    return env;
}

void PointEndpoints(const QHash<QString, QString>& hosts)
{
    const QString nowhere = u"127.0.0.1:"_s + QString::number(HttpTestServer::closedPort());
    const QString key = QString::fromLatin1(Endpoints::kRegistryKey);
    for (int i = 0; i < Endpoints::Count; ++i) {
        const QString name = Endpoints::registryName(Endpoints::Name(i));
        SetRegString(platform::RegRoot::LocalMachine, key, name, hosts.value(name, nowhere));
    }
}

QString StoredSetting(const QString& name)
{
    QString text;
    GetRegValue(platform::RegRoot::LocalMachine, SettingsKey(), name, text);
    return text;
}

QStringList ValueNames(platform::RegRoot root, const QString& key)
{
    QList<platform::RegistryStore::Value> values;
    platform::RegistryStore::shared().enumValues(root, key, values);
    QStringList names;
    for (const auto& value : std::as_const(values))
        names.append(value.name);
    return names;
}

ToolRun RunTool(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment,
                std::chrono::milliseconds timeout)
{
    ToolRun run;
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    if (!process.waitForStarted(10000)) {
        run.errorOutput = program + u" did not start: "_s + process.errorString();
        return run;
    }
    const bool ended =
        QTest::qWaitFor([&process] { return process.state() == QProcess::NotRunning; }, int(timeout.count()));
    if (!ended) {
        process.kill();
        process.waitForFinished(5000);
        run.errorOutput = program + u" did not finish in time"_s;
        return run;
    }
    run.finished = process.exitStatus() == QProcess::NormalExit;
    run.exitCode = process.exitCode();
    run.output = QString::fromUtf8(process.readAllStandardOutput());
    run.errorOutput = QString::fromUtf8(process.readAllStandardError());
    return run;
}

ToolRun GdbusCall(const QString& destination, const QString& path, const QString& method,
                  const QStringList& arguments, const QString& address,
                  const QProcessEnvironment& environment)
{
    QStringList args{u"call"_s};
    if (address.isEmpty())
        args << u"--session"_s;
    else
        args << u"--address"_s << address;
    args << u"--timeout"_s << u"30"_s << u"--dest"_s << destination << u"--object-path"_s << path
         << u"--method"_s << method;
    args << arguments;
    return RunTool(u"gdbus"_s, args, environment, std::chrono::seconds(40));
}

QString GdbusVariantString(const QString& output)
{
    const QString text = output.trimmed();
    const QString head = u"(<'"_s;
    const QString tail = u"'>,)"_s;
    if (!text.startsWith(head) || !text.endsWith(tail))
        return QString();
    return text.mid(head.size(), text.size() - head.size() - tail.size());
}

QString BuiltProgram(const QString& name)
{
    return platform::JoinPath(QFileInfo(programDir()).canonicalFilePath(), name);
}

qint64 NameOwnerPid(const QDBusConnection& bus, const QString& name)
{
    QDBusMessage call =
        QDBusMessage::createMethodCall(u"org.freedesktop.DBus"_s, u"/org/freedesktop/DBus"_s,
                                       u"org.freedesktop.DBus"_s, u"GetConnectionUnixProcessID"_s);
    call << name;
    const QDBusMessage answer = bus.call(call, QDBus::Block, 5000);
    if (answer.type() != QDBusMessage::ReplyMessage || answer.arguments().isEmpty())
        return 0;
    return answer.arguments().constFirst().toLongLong();
}

bool WaitForNameOwner(const QDBusConnection& bus, const QString& name, bool owned,
                      std::chrono::milliseconds timeout)
{
    return QTest::qWaitFor([&] { return (NameOwnerPid(bus, name) != 0) == owned; }, int(timeout.count()));
}

QStringList ProcessArguments(qint64 pid)
{
    QFile file(u"/proc/%1/cmdline"_s.arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList arguments;
    for (const QByteArray& part : file.readAll().split('\0'))
        arguments.append(QString::fromLocal8Bit(part));
    if (!arguments.isEmpty() && arguments.constLast().isEmpty())
        arguments.removeLast();
    return arguments;
}

} // namespace linvera::test
