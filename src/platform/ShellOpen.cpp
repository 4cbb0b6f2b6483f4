#include "platform/ShellOpen.h"

#include "platform/AppInfo.h"
#include "platform/MessageBoxes.h"
#include "platform/ProcessRunner.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace linvera {
namespace {

bool isUrl(const QString& text)
{
    // A scheme of two letters or more, so that nothing here mistakes a path for one.
    static const QRegularExpression scheme(u"^[A-Za-z][A-Za-z0-9+.\\-]+:"_s);
    return scheme.match(text).hasMatch();
}

qint32 xdgOpenCode(const ProcessRunner::Result& result)
{
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

void ShellOpener::open(const QString& file, const QString& folder, Answer answer)
{
    const qint32 check = checkLocalFile(file, folder);
    if (check != ShellCode::Opened) {
        QTimer::singleShot(0, [answer = std::move(answer), check] { answer(check); });
        return;
    }
    m_runner.run(
        u"xdg-open"_s, {targetArgument(file, folder)}, folder, m_waitLimit,
        [answer = std::move(answer)](const ProcessRunner::Result& result) { answer(xdgOpenCode(result)); });
}

void ShellOpener::play(const QString& file, const QString& folder, Answer answer)
{
    const qint32 check = checkLocalFile(file, folder);
    if (check != ShellCode::Opened || m_runner.findExecutable(u"gio"_s).isEmpty()) {
        const qint32 code = check != ShellCode::Opened ? check : ShellCode::NoAssociation;
        QTimer::singleShot(0, [answer = std::move(answer), code] { answer(code); });
        return;
    }
    m_runner.run(u"gio"_s, {u"open"_s, targetArgument(file, folder)}, folder, m_waitLimit,
                 [answer = std::move(answer)](const ProcessRunner::Result& result) {
                     using Outcome = ProcessRunner::Result::Outcome;
                     // gio tells no more than failure; for a file that exists that means nothing
                     // could open it.
                     const bool played = result.outcome == Outcome::StillRunning ||
                                         (result.outcome == Outcome::Finished && result.exitCode == 0);
                     answer(played ? ShellCode::Opened : ShellCode::NoAssociation);
                 });
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

void ShellOpenProblem(qint32 code, const QString& file, const QString& folder, const ShellOpener& opener,
                      ShellOpener::Problem problem)
{
    if (code != ShellCode::NoAssociation) {
        problem(code, ShellOpenErrorMessage(code));
        return;
    }
    ShellOpener retry = opener;
    retry.play(file, folder, [problem = std::move(problem)](qint32 played) {
        problem(played, played == ShellCode::NoAssociation ? ShellOpenErrorMessage(played) : QString());
    });
}

void OpenWithShell(const QString& file, const QString& folder, const ShellOpener& opener,
                   std::function<void(const QString& message)> message)
{
    ShellOpener first = opener;
    first.open(file, folder, [file, folder, opener, message = std::move(message)](qint32 code) {
        ShellOpenProblem(code, file, folder, opener,
                         [message](qint32, const QString& text) { message(text); });
    });
}

void ReportShellOpenError(qint32 code, const QString& file, const QString& folder,
                          platform::MessageBoxes& boxes, const ShellOpener& opener, ShellOpener::Answer done)
{
    ShellOpenProblem(code, file, folder, opener,
                     [&boxes, done = std::move(done)](qint32 after, const QString& message) {
                         if (!message.isEmpty())
                             boxes.show(platform::MessageBoxes::Icon::Exclamation, AppTitle(), message,
                                        platform::MessageBoxes::Buttons::Ok);
                         if (done)
                             done(after);
                     });
}

void ShellOpenFile(const QString& file, const QString& folder, platform::MessageBoxes& boxes,
                   const ShellOpener& opener, ShellOpener::Answer done)
{
    ShellOpener first = opener;
    first.open(file, folder, [file, folder, &boxes, opener, done = std::move(done)](qint32 code) {
        ReportShellOpenError(code, file, folder, boxes, opener, done);
    });
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
