#include "platform/ShellOpen.h"

#include "platform/AppInfo.h"
#include "platform/MessageBoxes.h"
#include "platform/ProcessRunner.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

using namespace Qt::StringLiterals;

namespace linvera {
namespace {

bool isUrl(const QString& text)
{
    // A scheme of two letters or more, so that nothing here mistakes a path for one.
    static const QRegularExpression scheme(u"^[A-Za-z][A-Za-z0-9+.\\-]+:"_s);
    return scheme.match(text).hasMatch();
}

} // namespace

ShellOpener::ShellOpener(ProcessRunner& runner)
    : m_runner(runner)
{}

ShellOpener::ShellOpener()
    : m_runner(ProcessRunner::system())
{}

QString ShellOpener::targetArgument(const QString& file, const QString& folder)
{
    if (isUrl(file))
        return file;
    const QDir base(folder.isEmpty() ? QDir::currentPath() : folder);
    return QDir::cleanPath(base.absoluteFilePath(file));
}

qint32 ShellOpener::checkLocalFile(const QString& file, const QString& folder) const
{
    if (isUrl(file))
        return ShellCode::Opened;
    const QFileInfo target(targetArgument(file, folder));
    if (target.exists())
        return ShellCode::Opened;
    return target.dir().exists() ? ShellCode::FileNotFound : ShellCode::PathNotFound;
}

qint32 ShellOpener::open(const QString& file, const QString& folder)
{
    const qint32 check = checkLocalFile(file, folder);
    if (check != ShellCode::Opened)
        return check;
    const ProcessRunner::Result result =
        m_runner.run(u"xdg-open"_s, {targetArgument(file, folder)}, folder, m_waitLimit);
    using Outcome = ProcessRunner::Result::Outcome;
    switch (result.outcome) {
    case Outcome::StillRunning:
        return ShellCode::Opened;
    case Outcome::FailedToStart:
        // Without xdg-open nothing is associated with any file.
        return ShellCode::NoAssociation;
    case Outcome::Crashed:
        return ShellCode::Failed;
    case Outcome::Finished:
        break;
    }
    // xdg-open's exit codes: 0 success, 2 a file does not exist, 3 a required tool (the program
    // for the file) could not be found, 1 and 4 a syntax error or a failed action.
    switch (result.exitCode) {
    case 0:
        return ShellCode::Opened;
    case 2:
        return ShellCode::FileNotFound;
    case 3:
        return ShellCode::NoAssociation;
    default:
        return ShellCode::Failed;
    }
}

qint32 ShellOpener::play(const QString& file, const QString& folder)
{
    const qint32 check = checkLocalFile(file, folder);
    if (check != ShellCode::Opened)
        return check;
    if (m_runner.findExecutable(u"gio"_s).isEmpty())
        return ShellCode::NoAssociation;
    const ProcessRunner::Result result =
        m_runner.run(u"gio"_s, {u"open"_s, targetArgument(file, folder)}, folder, m_waitLimit);
    using Outcome = ProcessRunner::Result::Outcome;
    if (result.outcome == Outcome::StillRunning ||
        (result.outcome == Outcome::Finished && result.exitCode == 0))
        return ShellCode::Opened;
    // gio tells no more than failure; for a file that exists that means nothing could open it.
    return ShellCode::NoAssociation;
}

QString ShellOpenErrorMessage(qint32 code)
{
    if (code > 32)
        return {};
    switch (code) {
    case 0:
        return u"メモリまたはリソースが足りません。"_s;
    case 2:
        return u"ファイルが見つかりません。"_s;
    case 3:
        return u"パスが見つかりません。"_s;
    case 5:
        return u"アクセスは拒否されました。"_s;
    case 11:
        return u"不正な形式の実行ファイルです。"_s;
    case 27:
        return u"関連付けが不完全です。"_s;
    case 31:
        return u"関連付けが指定されていません。"_s;
    default:
        return u"ファイルを開けません。"_s;
    }
}

QString ShellOpenProblem(qint32& code, const QString& file, const QString& folder, ShellOpener& opener)
{
    if (code > 32)
        return {};
    if (code == ShellCode::NoAssociation) {
        code = opener.play(file, folder);
        if (code != ShellCode::NoAssociation)
            return {};
    }
    return ShellOpenErrorMessage(code);
}

QString OpenWithShell(const QString& file, const QString& folder, ShellOpener& opener)
{
    qint32 code = opener.open(file, folder);
    return ShellOpenProblem(code, file, folder, opener);
}

void ReportShellOpenError(qint32& code, const QString& file, const QString& folder,
                          platform::MessageBoxes& boxes, ShellOpener& opener)
{
    if (const QString message = ShellOpenProblem(code, file, folder, opener); !message.isEmpty())
        boxes.show(platform::MessageBoxes::Icon::Exclamation, AppTitle(), message,
                   platform::MessageBoxes::Buttons::Ok);
}

void ShellOpenFile(const QString& file, const QString& folder, platform::MessageBoxes& boxes,
                   ShellOpener& opener)
{
    qint32 code = opener.open(file, folder);
    ReportShellOpenError(code, file, folder, boxes, opener);
}

QString& NormalizeFolderPath(QString& path)
{
    while (path.size() > 1 && path.endsWith(u'/') && path.at(path.size() - 2) == u'/')
        path.chop(1);
    if (!path.endsWith(u'/'))
        path.append(u'/');
    return path;
}

} // namespace linvera
