// The yardstick for the desktop program's start-up: a Qt Widgets program that only shows one window.
// 30 ms after the window's first show event (the desktop program's mailbox timer also fires 30 ms
// after its start-up) it prints "shown" and ends; with --stay it keeps running, for memory figures.
// With --text the window also shows a line of Japanese text, so the fonts are loaded as in a window
// with captions.
#include <QApplication>
#include <QLabel>
#include <QTimer>
#include <QWidget>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

class FirstShowWindow : public QWidget
{
public:
    explicit FirstShowWindow(bool stay)
        : m_stay(stay)
    {}

protected:
    void showEvent(QShowEvent* event) override
    {
        QWidget::showEvent(event);
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
    if (QApplication::arguments().contains(u"--text"_s)) {
        auto* label = new QLabel(u"Kemo 　(Halvex URL短縮変換)  変換前  ｸﾘｯﾌﾟﾎﾞｰﾄﾞ"_s, &window);
        label->move(8, 8);
    }
    window.show();
    return QApplication::exec();
}
