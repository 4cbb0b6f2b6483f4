#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace linvera {

class ProcessRunner;

/// Opens web pages in the user's browser. The browser is the program of the command registered
/// for "http" in the registry store (HKEY_CLASSES_ROOT\http\shell\open\command) when there is
/// one, else the desktop's choice through xdg-open. The URL is always one argument of its own,
/// passed on unchanged; no shell is involved.
class DefaultBrowser
{
public:
    struct Launch
    {
        QString program;
        QStringList arguments;
    };

    explicit DefaultBrowser(ProcessRunner& runner);
    DefaultBrowser();

    /// Opens the URL. False when nothing was started; callers stay silent either way.
    bool open(const QString& url);
    /// Opens the URL with the program tag appended.
    bool openTagged(const QString& url) { return open(url + BrowserTag()); }

    /// What open() would start for the URL; nothing when it would start nothing.
    std::optional<Launch> launchFor(const QString& url);

    /// The registered command, or empty text when there is none.
    static QString RegisteredCommand();
    /// The program part of a registered command: double quotes are dropped, a "-" or "%" ends it,
    /// everything else (spaces included) is kept.
    static QString BrowserCommandPath(const QString& command);
    /// "?app=linvera&ver=" + the version + "&lang=japanese".
    static QString BrowserTag();

private:
    ProcessRunner& m_runner;
};

/// Opens the URL in the default browser; failures are silent.
void OpenInBrowser(const QString& url);
/// Opens the URL followed by the program tag in the default browser; failures are silent.
void OpenInBrowserTagged(const QString& url);

} // namespace linvera
