// H-Linvera: the desktop program.
#include "app/shell/Application.h"
#include "app/shell/ShellCommandLine.h"
#include "app/ui/WidgetMessageBoxes.h"
#include "conv/HttpClient.h"
#include "platform/QtTranslation.h"

#include <QApplication>

#include <cstdlib>

using namespace Qt::StringLiterals;

int main(int argc, char* argv[])
{
    // Answered before the application object exists: --help needs no display.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const linvera::ShellCommandLine commandLine = linvera::ShellCommandLine::classify(arguments);
    if (const auto status = linvera::platform::AnswerProgramOptions(commandLine.options, u"H-Linvera"_s,
                                                                    linvera::ShellCommandLine::usage()))
        return *status;

    QApplication app(argc, argv);
    QApplication::setApplicationName(u"H-Linvera"_s);
    QApplication::setOrganizationName(u"HALVEX"_s);
    QApplication::setQuitOnLastWindowClosed(false);
    linvera::platform::InstallQtTranslation();

    if (const QString authorities = qEnvironmentVariable(linvera::kExtraAuthoritiesVariable);
        !authorities.isEmpty()) {
        QString problem;
        if (!linvera::TrustExtraAuthorities(authorities, &problem))
            qWarning("%s: %s: %s", linvera::kExtraAuthoritiesVariable, qPrintable(authorities),
                     qPrintable(problem));
    }

    linvera::WidgetMessageBoxes boxes(nullptr);
    linvera::Application::Options options;
    linvera::Application program(boxes, options);
    // Only a start-up that ran to its end enters the main loop: one that was told to end while it
    // waited (`Quit` during a message box or a download) must not go on serving.
    if (program.start(commandLine.options.arguments) != linvera::Application::Role::FirstInstance)
        return EXIT_SUCCESS;
    return QApplication::exec();
}
