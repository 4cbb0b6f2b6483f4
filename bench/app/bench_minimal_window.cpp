// The yardstick for the desktop program's start-up: a Qt Widgets program that only shows one window.
// 30 ms after the window's first show event (the desktop program's mailbox timer also fires 30 ms
// after its start-up) it prints "shown" and ends; with --stay it keeps running, for memory figures.
// With --text the window also shows a line of Japanese text, so the fonts are loaded as in a window
// with captions. With --captions it shows what the desktop program's main window shows at start: its
// menus, labels, boxes, button and check box with the same captions, in plain Qt Widgets.
#include <QApplication>
#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenuBar>
#include <QPushButton>
#include <QTimer>
#include <QToolBar>
#include <QWidget>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

class FirstShowWindow : public QMainWindow
{
public:
    explicit FirstShowWindow(bool stay)
        : m_stay(stay)
    {}

protected:
    void showEvent(QShowEvent* event) override
    {
        QMainWindow::showEvent(event);
        if (m_shown)
            return;
        m_shown = true;
        QTimer::singleShot(30, this, [this] {
            std::puts("shown");
            std::fflush(stdout);
            if (!m_stay)
                QCoreApplication::quit();
        });
    }

private:
    bool m_stay = false;
    bool m_shown = false;
};

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    FirstShowWindow window(QApplication::arguments().contains(u"--stay"_s));
    window.setWindowTitle(u"bench"_s);
    window.resize(652, 200);
    auto* central = new QWidget(&window);
    window.setCentralWidget(central);
    if (QApplication::arguments().contains(u"--captions"_s)) {
        window.setWindowTitle(u"Kemo 　(Halvex URL短縮変換)"_s);
        QMenu* file = window.menuBar()->addMenu(u"ファイル(&F)"_s);
        file->addAction(u"各種設定(&S)"_s);
        file->addAction(u"FireFox プラグインのインストール(&P)"_s);
        file->addSeparator();
        file->addAction(u"終了(&Q)"_s);
        QMenu* help = window.menuBar()->addMenu(u"ヘルプ(&H)"_s);
        help->addAction(u"最新バージョンチェック(&U)"_s);
        help->addAction(u"サポート(&S)"_s);
        help->addSeparator();
        help->addAction(u"バージョン(&A)"_s);
        QToolBar* tools = window.addToolBar(u"tools"_s);
        tools->addAction(u"画面ｷｬﾌﾟﾁｬ（ﾗﾊﾞｰﾊﾞﾝﾄﾞで範囲選択）"_s);
        tools->addAction(u"画面ｷｬﾌﾟﾁｬ（ｳｨﾝﾄﾞｳを選択）"_s);
        auto* grid = new QGridLayout(central);
        grid->addWidget(new QLabel(u"変換前"_s), 0, 0);
        auto* before = new QLineEdit;
        before->setToolTip(u"URLのﾄﾞﾗｯｸﾞ＆ﾄﾞﾛｯﾌﾟ、IE右ｸﾘｯｸﾒﾆｭｰ、IEﾂｰﾙﾊﾞｰｱｲｺﾝ等で指定可能です"_s);
        grid->addWidget(before, 0, 1);
        grid->addWidget(new QLabel(u"変換後"_s), 1, 0);
        grid->addWidget(new QLineEdit, 1, 1);
        grid->addWidget(new QPushButton(u"変換"_s), 0, 2);
        grid->addWidget(new QCheckBox(u"ｸﾘｯﾌﾟﾎﾞｰﾄﾞ"_s), 1, 2);
    } else if (QApplication::arguments().contains(u"--text"_s)) {
        auto* label = new QLabel(u"Kemo 　(Halvex URL短縮変換)  変換前  ｸﾘｯﾌﾟﾎﾞｰﾄﾞ"_s, central);
        label->move(8, 8);
    }
    window.show();
    return QApplication::exec();
}
