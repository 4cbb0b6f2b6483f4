#include "settings/StoreProblems.h"

#include "platform/RegistryStore.h"

using namespace Qt::StringLiterals;

namespace linvera {

using platform::RegistryStore;

QString StoreProblemMessage(qint32 status, const QString& storeFile)
{
    QString text;
    switch (status) {
    case RegistryStore::RegistryCorrupt:
        text = u"設定ファイルが壊れているため読み込めません。既定の設定で動作します。"_s;
        break;
    case RegistryStore::RegistryIoFailed:
        text = u"設定ファイルを読み書きできません。既定の設定で動作します。"_s;
        break;
    case RegistryStore::AccessDenied:
        text = u"設定ファイルに書き込めないため、設定を保存できません。"_s;
        break;
    case RegistryStore::Busy:
        text = u"設定ファイルをほかのプログラムが使用中のため読み書きできません。既定の設定で動作します。"_s;
        break;
    case RegistryStore::DiskFull:
        text = u"ディスクに空きがないため、設定を保存できません。"_s;
        break;
    default:
        return {};
    }
    return text + u'\n' + storeFile;
}

void WatchSettingsStore(std::function<void(const QString& message)> tell)
{
    RegistryStore& store = RegistryStore::shared();
    if (!tell) {
        store.setProblemHandler({});
        return;
    }
    store.setProblemHandler([tell = std::move(tell), file = store.filePath()](qint32 status) {
        const QString message = StoreProblemMessage(status, file);
        if (!message.isEmpty())
            tell(message);
    });
}

} // namespace linvera
