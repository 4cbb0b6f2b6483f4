// Checks the sandbox of its own process the way every test does, for tst_sandbox.
// Arguments: [--make] [NAME=value ...] [--store=path] [--link=path:target]; "@root@" in a value
// stands for the sandbox made.
#include "TestSandbox.h"
#include "platform/RegistryStore.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>
#include <cstdlib>
#include <memory>

using namespace Qt::StringLiterals;
using linvera::platform::RegistryStore;

int main(int argc, char* argv[])
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args.append(QString::fromLocal8Bit(argv[i]));
    if (args.value(0) == u"--make"_s) {
        args.removeFirst();
        if (!linvera::test::makeSandbox())
            return 3;
    }
    const QString root = linvera::test::sandboxRoot();
    QString storePath;
    for (QString arg : args) {
        arg.replace(u"@root@"_s, root);
        if (arg.startsWith(u"--store="_s))
            storePath = arg.mid(8);
        else if (arg.startsWith(u"--link="_s) &&
                 !QFile::link(arg.mid(7).section(u':', 1), arg.mid(7).section(u':', 0, 0)))
            return 4;
        else
            qputenv(qPrintable(arg.section(u'=', 0, 0)), arg.section(u'=', 1).toLocal8Bit());
    }
    QCoreApplication app(argc, argv);
    std::unique_ptr<RegistryStore> store;
    std::unique_ptr<RegistryStore::SharedOverride> scope;
    if (!storePath.isEmpty()) {
        store = std::make_unique<RegistryStore>(storePath);
        scope = std::make_unique<RegistryStore::SharedOverride>(*store);
    }
    linvera::test::requireSandbox();
    std::puts("inside the sandbox");
    return 0;
}
