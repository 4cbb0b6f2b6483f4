// linvera-reg's command line as anyone could type it (arguments cut at NUL bytes), run against a
// store of the fuzzer's own.
#include "FuzzSupport.h"
#include "platform/regtool/RegTool.h"

#include <QTextStream>

using linvera::RegTool;
using linvera::platform::RegistryStore;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static RegistryStore store(linvera::fuzz::privateFolder() + u"/registry.sqlite3");
    QStringList arguments;
    for (const QByteArray& part : linvera::fuzz::splitAtNul(data, size, 12))
        arguments.append(QString::fromUtf8(part));
    if (arguments.size() == 1 && arguments[0].isEmpty())
        arguments.clear();

    QString out;
    QString err;
    QTextStream outStream(&out);
    QTextStream errStream(&err);
    bool asked = false;
    RegTool tool(store, outStream, errStream, [&asked](const QString&) {
        asked = true;
        return false;
    });
    const int status = tool.run(arguments);
    FUZZ_CHECK(status == RegTool::Ok || status == RegTool::Failed || status == RegTool::BadSyntax,
               arguments.join(u'|'));
    FUZZ_CHECK(status != RegTool::BadSyntax || !err.isEmpty(), arguments.join(u'|'));
    return 0;
}
