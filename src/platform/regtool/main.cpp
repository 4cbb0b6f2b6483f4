#include "platform/regtool/RegTool.h"

#include <QCoreApplication>

#include <cstdio>
#include <unistd.h>

using linvera::RegTool;
using linvera::platform::RegistryStore;

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);

    // Ask only someone at a terminal; scripts must say /f.
    RegTool::Confirm confirm;
    if (::isatty(STDIN_FILENO)) {
        confirm = [&err](const QString& question) {
            err << question << u' ';
            err.flush();
            QTextStream in(stdin);
            const QString answer = in.readLine().trimmed().toLower();
            return answer == u"y" || answer == u"yes";
        };
    }
    RegTool tool(RegistryStore::shared(), out, err, confirm);
    return tool.run(app.arguments().mid(1));
}
