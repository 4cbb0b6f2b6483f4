// Appends lines to one file from a process of its own, for the two-process tests of the log.
//   log_appender FILE TAG BYTES MS [LIMIT]
// appends lines of BYTES bytes ("TAG<n> …\r\n") for MS milliseconds, with no file allowed past
// LIMIT bytes when it is given (a full disk), and prints the number of each line it wrote.
#include "HostileFiles.h"
#include "platform/FileAppend.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <unistd.h>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 5)
        return 2;
    const QString path = args.at(1);
    const QByteArray tag = args.at(2).toLatin1();
    const qsizetype bytes = args.at(3).toLongLong();
    const qint64 ms = args.at(4).toLongLong();
    if (args.size() > 5)
        linvera::test::limitFileSizeForGood(rlim_t(args.at(5).toLongLong()));
    QElapsedTimer clock;
    clock.start();
    for (int n = 0; clock.elapsed() < ms; ++n) {
        QByteArray line = tag + QByteArray::number(n) + ' ';
        line += QByteArray(qMax<qsizetype>(bytes - line.size() - 2, 0), 'x') + "\r\n";
        if (linvera::platform::AppendToFile(path, line))
            std::printf("%d\n", n);
        // Room for the other process between two big lines.
        if (bytes > 65536)
            ::usleep(1000);
    }
    return 0;
}
