// Writes into a registry store from a process of its own, for the store's multi-process tests.
//   registry_writer FILE burst LABEL COUNT   COUNT values LABEL-0 … under one key, each also to "last"
//   registry_writer FILE loop                rewrites one large value until killed, counting on
#include "platform/RegistryStore.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

using linvera::platform::RegistryStore;
using linvera::platform::RegRoot;

namespace {

const QString kKey = QStringLiteral("Software\\HALVEX\\concurrent");

/// Generation n of the looping writer's value: every byte tells n, so a torn value shows.
QByteArray loopPayload(quint32 generation)
{
    const QByteArray unit = QByteArray::number(generation).rightJustified(10, '0') + ';';
    return unit.repeated(3000); // 33 000 bytes, several database pages
}

int fail(const char* what, qint32 status)
{
    std::fprintf(stderr, "%s failed: status %d\n", what, int(status));
    return 3;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3)
        return 2;
    RegistryStore store(args.at(1));
    const QString mode = args.at(2);

    if (mode == u"burst" && args.size() == 5) {
        const QString label = args.at(3);
        const int count = args.at(4).toInt();
        for (int i = 0; i < count; ++i) {
            const QString name = label + u'-' + QString::number(i);
            const QByteArray data = name.toUtf8() + '\0';
            qint32 status = store.setValue(RegRoot::CurrentUser, kKey, name, RegistryStore::RegSz, data,
                                           RegistryStore::CreateMode::CreateMissingKeys);
            if (status != RegistryStore::Success)
                return fail("setValue", status);
            status = store.setValue(RegRoot::CurrentUser, kKey, QStringLiteral("last"), RegistryStore::RegSz,
                                    data, RegistryStore::CreateMode::CreateMissingKeys);
            if (status != RegistryStore::Success)
                return fail("setValue last", status);
        }
        std::printf("done %d\n", count);
        return 0;
    }

    if (mode == u"loop" && args.size() == 3) {
        // Goes on from the generation already stored, so the test sees whether commits survive.
        quint32 type = 0;
        QByteArray stored;
        quint32 first = 1;
        if (store.queryValue(RegRoot::LocalMachine, kKey + u"\\gen", QStringLiteral("payload"), type,
                             stored) == RegistryStore::Success)
            first = stored.left(10).toUInt() + 1;
        for (quint32 generation = first;; ++generation) {
            const qint32 status = store.setValue(
                RegRoot::LocalMachine, kKey + u"\\gen", QStringLiteral("payload"), RegistryStore::RegBinary,
                loopPayload(generation), RegistryStore::CreateMode::CreateMissingKeys);
            if (status != RegistryStore::Success)
                return fail("setValue payload", status);
            if (generation == first) {
                std::printf("ready\n");
                std::fflush(stdout);
            }
        }
    }
    return 2;
}
