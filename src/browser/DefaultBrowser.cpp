#include "browser/DefaultBrowser.h"

#include "platform/AppInfo.h"
#include "platform/ProcessRunner.h"
#include "platform/RegAccess.h"

using namespace Qt::StringLiterals;

namespace linvera {
namespace {

const QString kXdgOpen = u"xdg-open"_s;

/// The program part of a registered command in words, double quotes dropped. gaps[k] holds the
/// spaces before words[k]; trailing the spaces after the last word kept.
struct CommandWords
{
    QStringList words;
    QStringList gaps;
    QString trailing;
    bool programQuoted = false;
};

CommandWords splitCommand(const QString& command)
{
    CommandWords result;
    const qsizetype n = command.size();
    qsizetype i = 0;
    while (i < n) {
        const qsizetype gapStart = i;
        while (i < n && command.at(i) == u' ')
            ++i;
        const QString gap = command.mid(gapStart, i - gapStart);
        qsizetype first = i;
        while (first < n && command.at(first) == u'"')
            ++first;
        // An option or the URL's place ("%1", "%u") ends the program part; inside a word, as in a
        // path like /usr/bin/google-chrome-stable, these characters are the program's own.
        if (i == n || (first < n && (command.at(first) == u'-' || command.at(first) == u'%'))) {
            result.trailing = gap;
            break;
        }
        if (result.words.isEmpty())
            result.programQuoted = command.at(i) == u'"';
        QString word;
        bool quoted = false;
        for (; i < n; ++i) {
            const QChar ch = command.at(i);
            if (ch == u'"') {
                quoted = !quoted;
                continue;
            }
            if (ch == u' ' && !quoted)
                break;
            word.append(ch);
        }
        result.gaps.append(gap);
        result.words.append(word);
    }
    return result;
}

} // namespace

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
    const CommandWords parsed = splitCommand(command);
    QString path;
    for (qsizetype k = 0; k < parsed.words.size(); ++k)
        path += parsed.gaps.at(k) + parsed.words.at(k);
    return path + parsed.trailing;
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

    const CommandWords parsed = splitCommand(RegisteredCommand());
    if (parsed.words.isEmpty())
        return Launch{kXdgOpen, {url}};

    // A quoted program path is taken whole. An unquoted one is read as the program name of a
    // Windows command line: it is tried at each space from the left until it names an existing
    // program. The words after it stay its arguments, and the URL follows as one of its own.
    qsizetype programWords = 0;
    QString program;
    if (parsed.programQuoted) {
        if (!m_runner.findExecutable(parsed.words.constFirst()).isEmpty()) {
            program = parsed.words.constFirst();
            programWords = 1;
        }
    } else {
        QString candidate;
        for (qsizetype k = 0; k < parsed.words.size(); ++k) {
            candidate += (k ? parsed.gaps.at(k) : QString()) + parsed.words.at(k);
            if (!m_runner.findExecutable(candidate).isEmpty()) {
                program = candidate;
                programWords = k + 1;
                break;
            }
        }
    }
    if (programWords == 0)
        return Launch{kXdgOpen, {url}};

    QStringList arguments;
    for (qsizetype k = programWords; k < parsed.words.size(); ++k) {
        if (!parsed.words.at(k).isEmpty())
            arguments.append(parsed.words.at(k));
    }
    arguments.append(url);
    return Launch{program, arguments};
}

bool DefaultBrowser::open(const QString& url)
{
    const std::optional<Launch> launch = launchFor(url);
    if (!launch)
        return false;
    if (m_runner.startDetached(launch->program, launch->arguments, QString()))
        return true;
    // A registered browser that does not start leaves the page to the desktop's choice.
    const QStringList urlAlone{url};
    if (launch->program == kXdgOpen && launch->arguments == urlAlone)
        return false;
    return m_runner.startDetached(kXdgOpen, urlAlone, QString());
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
