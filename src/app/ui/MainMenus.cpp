#include "app/ui/MainMenus.h"

#include <QMenu>
#include <QMenuBar>

using namespace Qt::StringLiterals;

namespace linvera {

namespace {

QAction* item(QMenu* menu, const QString& name, const QString& caption, bool shown = true)
{
    QAction* action = menu->addAction(caption);
    action->setObjectName(name);
    action->setVisible(shown);
    return action;
}

QAction* separator(QMenu* menu, const QString& name, bool shown = true)
{
    QAction* action = menu->addSeparator();
    action->setObjectName(name);
    action->setVisible(shown);
    return action;
}

QMenu* menu(QMenuBar* bar, const QString& name, const QString& caption)
{
    QMenu* m = bar->addMenu(caption);
    m->setObjectName(name);
    m->menuAction()->setObjectName(name);
    return m;
}

} // namespace

MainMenus MainMenus::build(QMenuBar* bar)
{
    MainMenus m;
    m.mnuFile = menu(bar, u"mnuFile"_s, u"ファイル(&F)"_s);
    m.mnuSettings = item(m.mnuFile, u"mnuSettings"_s, u"各種設定(&S)"_s);
    m.mnuFirefox = item(m.mnuFile, u"mnuFirefox"_s, u"FireFox プラグインのインストール(&P)"_s);
    m.mnuBar0 = separator(m.mnuFile, u"mnuBar0"_s);
    m.mnuQuit = item(m.mnuFile, u"mnuQuit"_s, u"終了(&Q)"_s);

    // The ranking, live-preview and follow entries are not offered in this version.
    m.mnuHelp = menu(bar, u"mnuHelp"_s, u"ヘルプ(&H)"_s);
    m.mnuRanking = item(m.mnuHelp, u"mnuRanking"_s, u"ダウンロードランキング(&R)"_s, false);
    m.mnuLive = item(m.mnuHelp, u"mnuLive"_s, u"ダウンロードライブ(&L)"_s, false);
    m.mnubar4 = separator(m.mnuHelp, u"mnubar4"_s, false);
    m.mnuUpdate = item(m.mnuHelp, u"mnuUpdate"_s, u"最新バージョンチェック(&U)"_s);
    m.mnuSupport = item(m.mnuHelp, u"mnuSupport"_s, u"サポート(&S)"_s);
    m.mnuFollow = item(m.mnuHelp, u"mnuFollow"_s, u"Twitterでhalvexをフォローする(&F)"_s, false);
    m.mnuBar3 = separator(m.mnuHelp, u"mnuBar3"_s);
    m.mnuAbout = item(m.mnuHelp, u"mnuAbout"_s, u"バージョン(&A)"_s);
    return m;
}

} // namespace linvera
