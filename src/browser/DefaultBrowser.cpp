#include "DefaultBrowser.h"

#include "AppInfo.h"
#include "ProcessRunner.h"
#include "RegAccess.h"

using namespace Qt::StringLiterals;

namespace linvera {

DefaultBrowser::DefaultBrowser(ProcessRunner& runner)
    : m_runner(runner)
{}

DefaultBrowser::DefaultBrowser()
    : m_runner(ProcessRunner::system())
{}

QString DefaultBrowser::RegisteredCommand()
{
    QString command;
    if (!GetRegValue(platform::RegRoot::ClassesRoot, u"http\\shell\\open\\command"_s, QString(), command))
        return {};
    return command;
}

QString DefaultBrowser::BrowserCommandPath(const QString& command)
{
    QString path;
    for (const QChar ch : command) {
        if (ch == u'"')
            continue;
        if (ch == u'-' || ch == u'%')
            break;
        path.append(ch);
    }
    return path;
}

QString DefaultBrowser::BrowserTag()
{
    return u"?app=linvera&ver="_s + AppVersionText() + u"&lang=japanese"_s;
}

std::optional<DefaultBrowser::Launch> DefaultBrowser::launchFor(const QString& url)
{
    // A leading "-" would reach the browser as an option (some take a command to run), and it
    // cannot begin a URL anyway.
    if (url.startsWith(u'-'))
        return std::nullopt;

    const QString command = RegisteredCommand();
    if (command.trimmed().isEmpty())
        return Launch{u"xdg-open"_s, {url}};

    // As the program name of a Windows command line: an unquoted path with spaces is tried at
    // each space from the left until one names an existing program; the words after it stay
    // its arguments, and the URL follows them as one argument of its own.
    QString path = BrowserCommandPath(command);
    while (path.startsWith(u' '))
        path.remove(0, 1);
    while (path.endsWith(u' '))
        path.chop(1);
    for (qsizetype end = 0; end <= path.size(); ++end) {
        if (end < path.size() && path.at(end) != u' ')
            continue;
        const QString candidate = path.left(end);
        if (candidate.endsWith(u' ') || m_runner.findExecutable(candidate).isEmpty())
            continue;
        QStringList arguments = path.mid(end).split(u' ', Qt::SkipEmptyParts);
        arguments.append(url);
        return Launch{candidate, arguments};
    }
    return std::nullopt;
}

bool DefaultBrowser::open(const QString& url)
{
    const std::optional<Launch> launch = launchFor(url);
    if (!launch)
        return false;
    return m_runner.startDetached(launch->program, launch->arguments, QString());
}

void OpenInBrowser(const QString& url)
{
    DefaultBrowser().open(url);
}

void OpenInBrowserTagged(const QString& url)
{
    DefaultBrowser().openTagged(url);
}

} // namespace linvera
