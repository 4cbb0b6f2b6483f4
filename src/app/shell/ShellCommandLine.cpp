#include "app/shell/ShellCommandLine.h"

using namespace Qt::StringLiterals;

namespace linvera {

namespace {

// The options QGuiApplication and QApplication take from the command line themselves, with one or
// two dashes; the first group takes the next argument as its value.
const QStringList kQtValueOptions{
    u"platform"_s,        u"platformpluginpath"_s, u"platformtheme"_s, u"plugin"_s,
    u"qwindowgeometry"_s, u"qwindowicon"_s,        u"qwindowtitle"_s,  u"session"_s,
    u"display"_s,         u"geometry"_s,           u"title"_s,         u"name"_s,
    u"style"_s,           u"stylesheet"_s,
};
const QStringList kQtFlagOptions{u"reverse"_s, u"widgetcount"_s, u"nograb"_s, u"dograb"_s, u"sync"_s};

/// The bare name of a Qt option ("-style", "--style=fusion" → "style"); empty for anything else.
QString qtOptionName(const QString& argument, bool& hasInlineValue)
{
    QString name = argument;
    if (name.startsWith(u"--"_s))
        name.remove(0, 2);
    else if (name.startsWith(u'-'))
        name.remove(0, 1);
    else
        return {};
    const qsizetype equals = name.indexOf(u'=');
    hasInlineValue = equals >= 0;
    if (hasInlineValue)
        name.truncate(equals);
    return kQtValueOptions.contains(name) || (!hasInlineValue && kQtFlagOptions.contains(name)) ? name
                                                                                                : QString();
}

} // namespace

ShellCommandLine ShellCommandLine::classify(const QStringList& arguments)
{
    ShellCommandLine result;
    QStringList rest;
    // Qt's options count only where ours may stand: before "--" and before the first argument.
    qsizetype i = 0;
    for (; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        bool hasInlineValue = false;
        const QString qtName = qtOptionName(argument, hasInlineValue);
        if (qtName.isEmpty()) {
            if (argument.size() > 1 && argument.startsWith(u'-') && argument != u"--"_s) {
                rest.append(argument);
                continue;
            }
            break;
        }
        result.qtOptions.append(argument);
        if (!hasInlineValue && kQtValueOptions.contains(qtName) && i + 1 < arguments.size())
            result.qtOptions.append(arguments[++i]);
    }
    rest.append(arguments.mid(i));

    // The program's own options go into the grammar; the caller reads them with `options.has()`.
    platform::ProgramOptions::Grammar grammar;
    // The capture switches stay with the arguments: start-up hands them to the running instance.
    grammar.keptOptions = {u"-Embedding"_s, u"--capture-region"_s, u"--capture-window"_s};
    grammar.placement = platform::ProgramOptions::Placement::BeforeArguments;
    result.options = platform::ProgramOptions::parse(rest, grammar);
    return result;
}

QString ShellCommandLine::usage()
{
    return u"使い方: H-Linvera [オプション] [--] [URL [タイトル]]\n"
           u"Usage: H-Linvera [OPTION...] [--] [URL [TITLE]]\n"
           u"\n"
           u"Opens the window and converts URL. When H-Linvera already runs, URL (and TITLE) are handed to\n"
           u"the running window and this start ends.\n"
           u"\n"
           u"      --capture-region  capture a screen region (in the running window, or start it)\n"
           u"      --capture-window  capture a window (likewise)\n"
           u"  -h, --help     show this help and exit\n"
           u"      --version  show the version and exit\n"
           u"  --             end of options: what follows is the URL even when it starts with \"-\"\n"
           u"  -Embedding     started by the session bus to serve HVXLinvera.Linvera\n"
           u"\n"
           u"Qt's own options (-platform, -style, -display, ...) are accepted as well.\n"_s;
}

} // namespace linvera
