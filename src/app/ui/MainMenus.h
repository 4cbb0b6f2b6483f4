#pragma once

class QAction;
class QMenu;
class QMenuBar;

namespace linvera {

/// The main window's two menus with their items, separators and designed-hidden entries.
struct MainMenus
{
    QMenu* mnuFile = nullptr;
    QAction* mnuSettings = nullptr;
    QAction* mnuFirefox = nullptr;
    QAction* mnuBar0 = nullptr;
    QAction* mnuQuit = nullptr;

    QMenu* mnuHelp = nullptr;
    QAction* mnuRanking = nullptr;
    QAction* mnuLive = nullptr;
    QAction* mnubar4 = nullptr;
    QAction* mnuUpdate = nullptr;
    QAction* mnuSupport = nullptr;
    QAction* mnuFollow = nullptr;
    QAction* mnuBar3 = nullptr;
    QAction* mnuAbout = nullptr;

    /// Fills the menu bar; the bar owns everything made here.
    static MainMenus build(QMenuBar* bar);
};

} // namespace linvera
