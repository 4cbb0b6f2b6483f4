#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace linvera {

class ProcessRunner;

/// Opens web pages in the user's browser. The browser is the program of the command registered
/// for "http" in the registry store (HKEY_CLASSES_ROOT\http\shell\open\command) when there is
/// one and it starts, else the desktop's choice through xdg-open. The URL is always one argument of
/// its own, passed on unchanged; no shell is involved.
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

    /// What open() tries first for the URL: the registered browser when its program is found, else
    /// xdg-open. Nothing for a URL that a program would take for an option.
    std::optional<Launch> launchFor(const QString& url);

    /// The registered command, or empty text when there is none.
    static QString RegisteredCommand();
    /// The program part of a registered command, spaces included and double quotes dropped. The
    /// command is read as words between spaces (spaces inside double quotes do not part words); the
    /// first word that begins with "-" or "%" (an option or the URL's place) ends it. A "-" or "%"
    /// inside a word, as in "/usr/bin/google-chrome-stable", is kept.
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
