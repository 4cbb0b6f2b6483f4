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
    if (program.start(QApplication::arguments().mid(1)) == linvera::Application::Role::SecondInstance)
        return EXIT_SUCCESS;
    return QApplication::exec();
}
