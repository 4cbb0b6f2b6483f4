#include "app/shell/ServiceFiles.h"

#include "platform/AppPaths.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>

using namespace Qt::StringLiterals;

namespace linvera {
namespace {

QString execPath(const QString& program)
{
    // The bus splits Exec like a shell: quote a path with blanks, escaping what the quotes cannot hold.
    if (!program.contains(u' ') && !program.contains(u'"') && !program.contains(u'\\') &&
        !program.contains(u'\''))
        return program;
    QString quoted = program;
    quoted.replace(u'\\', u"\\\\"_s).replace(u'"', u"\\\""_s);
    return u'"' + quoted + u'"';
}

bool writeIfDifferent(const QString& path, const QString& text)
{
    QFile current(path);
    if (current.open(QIODevice::ReadOnly) && current.readAll() == text.toUtf8())
        return true;
    current.close();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(text.toUtf8());
    return file.commit();
}

} // namespace

QString ServiceFileText(const QString& name, const QString& program, const QString& arguments)
{
    QString exec = execPath(program);
    if (!arguments.isEmpty())
        exec += u' ' + arguments;
    return u"[D-BUS Service]\nName="_s + name + u"\nExec="_s + exec + u'\n';
}

bool WriteUserServiceFiles(const QString& programFolder)
{
    const QString folder = platform::JoinPath(
        QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation), u"dbus-1/services"_s);
    if (!QDir().mkpath(folder))
        return false;
    const bool main =
        writeIfDifferent(platform::JoinPath(folder, u"HVXLinvera.Linvera.service"_s),
                         ServiceFileText(u"HVXLinvera.Linvera"_s,
                                         platform::JoinPath(programFolder, u"H-Linvera"_s), u"-Embedding"_s));
    const bool helper =
        writeIfDifferent(platform::JoinPath(folder, u"HVXLinveraHelper.HVXLinveraHelperClass.service"_s),
                         ServiceFileText(u"HVXLinveraHelper.HVXLinveraHelperClass"_s,
                                         platform::JoinPath(programFolder, u"H-LinveraHelper"_s)));
    return main && helper;
}

} // namespace linvera
