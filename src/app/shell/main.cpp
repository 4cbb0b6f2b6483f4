// H-Linvera: the desktop program.
#include "Application.h"
#include "WidgetMessageBoxes.h"

#include <QApplication>

#include <cstdlib>

using namespace Qt::StringLiterals;

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(u"H-Linvera"_s);
    QApplication::setOrganizationName(u"HALVEX"_s);
    QApplication::setQuitOnLastWindowClosed(false);

    linvera::WidgetMessageBoxes boxes(nullptr);
    linvera::Application::Options options;
    linvera::Application program(boxes, options);
    // Only a start-up that ran to its end enters the main loop: one that was told to end while it
    // waited (`Quit` during a message box or a download) must not go on serving.
    if (program.start(QApplication::arguments().mid(1)) != linvera::Application::Role::FirstInstance)
        return EXIT_SUCCESS;
    return QApplication::exec();
}
