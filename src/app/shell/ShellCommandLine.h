#pragma once

#include "platform/ProgramOptions.h"

#include <QStringList>

namespace linvera {

/// H-Linvera's command line, classified before the application object exists, so that --help,
/// --version and a wrong option are answered without a display. Its designed forms stay arguments:
/// a URL, optionally followed by a page title, and "-Embedding" from the bus. Options stand only
/// before the first argument, because a title may start with "-". Qt's own options (-platform,
/// -style, ...) are left to the application object and are not arguments.
struct ShellCommandLine
{
    platform::ProgramOptions options;
    QStringList qtOptions; ///< Qt's own options with their values, in order

    /// `arguments` without the program name.
    static ShellCommandLine classify(const QStringList& arguments);
    static QString usage();
};

} // namespace linvera
