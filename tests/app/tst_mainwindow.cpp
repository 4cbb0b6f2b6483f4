// The main window's controls, menus, commands, clipboard box and the view the conversion writes to.
#include "app/ui/AboutDialog.h"
#include "app/ui/ControlValues.h"
#include "app/ui/PictureLabel.h"
#include "app/ui/frmMain.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTextCursor>

using namespace linvera;
using namespace Qt::StringLiterals;

class TestMainWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void controls_data();
    void controls();
    void menuItems_data();
    void menuItems();
    void menuOrder_data();
    void menuOrder();
    void browserCommands_data();
    void browserCommands();
    void otherCommands();
    void quitClosesWithShutdownHook();
    void closeRequestIsShutdown();
    void aboutIsModelessAndGoesAway();
    void notice_data();
    void notice();
    void thumbnailClick();
    void clipboardBox_data();
    void clipboardBox();
    void clipboardBoxStoredValue();
    void copyToClipboardReplaces();
    void afterInfoInsertsAtCaret_data();
    void afterInfoInsertsAtCaret();
    void afterInfoFollowsUserCaret();
    void hiddenBoxesKeepText();
    void messageAndCaption();
};

void TestMainWindow::controls_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("tip");
    QTest::addColumn<bool>("hidden");

    QTest::newRow("Label1") << u"Label1"_s << u"QLabel"_s << u"変換前"_s << QString() << false;
    QTest::newRow("txtBeforeUrl") << u"txtBeforeUrl"_s << u"QLineEdit"_s << QString()
                                  << u"URLのﾄﾞﾗｯｸﾞ＆ﾄﾞﾛｯﾌﾟ、IE右ｸﾘｯｸﾒﾆｭｰ、IEﾂｰﾙﾊﾞｰｱｲｺﾝ等で指定可能です"_s
                                  << false;
    QTest::newRow("txtBeforeDecode") << u"txtBeforeDecode"_s << u"QLineEdit"_s << QString() << QString()
                                     << false;
    QTest::newRow("Label2") << u"Label2"_s << u"QLabel"_s << u"変換後"_s << QString() << false;
    QTest::newRow("txtAfterUrl") << u"txtAfterUrl"_s << u"QLineEdit"_s << QString() << QString() << false;
    QTest::newRow("txtAfterDecode") << u"txtAfterDecode"_s << u"QPlainTextEdit"_s << QString() << QString()
                                    << false;
    QTest::newRow("imgPictThumb") << u"imgPictThumb"_s << u"linvera::PictureLabel"_s << QString()
                                  << u"ｸﾘｯｸでﾎﾟｯﾌﾟｱｯﾌﾟ表示"_s << true;
    QTest::newRow("picPictThumb") << u"picPictThumb"_s << u"QLabel"_s << QString() << QString() << true;
    QTest::newRow("btnStartConv") << u"btnStartConv"_s << u"QPushButton"_s << u"変換"_s
                                  << u"URL変換を開始（URL短縮化 or URLプレビューは自動判別されます）"_s
                                  << false;
    QTest::newRow("chkClipboard") << u"chkClipboard"_s << u"QCheckBox"_s << u"ｸﾘｯﾌﾟﾎﾞｰﾄﾞ"_s
                                  << u"変換後URLをｸﾘｯﾌﾟﾎﾞｰﾄﾞに自動保存"_s << false;
    QTest::newRow("btnTwitpic") << u"btnTwitpic"_s << u"QPushButton"_s << QString()
                                << u"画面ｷｬﾌﾟﾁｬ（ﾗﾊﾞｰﾊﾞﾝﾄﾞで範囲選択）"_s << false;
    QTest::newRow("btnTwitpicWindow")
        << u"btnTwitpicWindow"_s << u"QPushButton"_s << QString() << u"画面ｷｬﾌﾟﾁｬ（ｳｨﾝﾄﾞｳを選択）"_s << false;
    QTest::newRow("btnNotice") << u"btnNotice"_s << u"QPushButton"_s << QString() << QString() << false;
    QTest::newRow("lblMsg") << u"lblMsg"_s << u"QLabel"_s << QString() << QString() << false;
    QTest::newRow("btnTwitpicFromFile") << u"btnTwitpicFromFile"_s << u"QPushButton"_s << QString()
                                        << u"画像ﾌｧｲﾙを選択してTwitter に投稿する"_s << true;
    QTest::newRow("btnTwitter") << u"btnTwitter"_s << u"QPushButton"_s << QString() << u"Twitter に投稿する"_s
                                << true;
}

void TestMainWindow::controls()
{
    QFETCH(QString, name);
    QFETCH(QString, className);
    QFETCH(QString, text);
    QFETCH(QString, tip);
    QFETCH(bool, hidden);

    frmMain window;
    QCOMPARE(window.objectName(), u"frmMain"_s);
    const QList<QWidget*> found = window.findChildren<QWidget*>(name);
    QCOMPARE(found.size(), 1);
    QWidget* control = found.first();
    QCOMPARE(QString::fromLatin1(control->metaObject()->className()), className);
    QCOMPARE(control->toolTip(), tip);
    QCOMPARE(control->isHidden(), hidden);
    if (auto* label = qobject_cast<QLabel*>(control))
        QCOMPARE(label->text(), text);
    else if (auto* button = qobject_cast<QAbstractButton*>(control))
        QCOMPARE(button->text(), text);
    else if (auto* edit = qobject_cast<QLineEdit*>(control))
        QCOMPARE(edit->text(), text);
}

void TestMainWindow::menuItems_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("menu");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<bool>("separator");
    QTest::addColumn<bool>("visible");

    QTest::newRow("mnuSettings") << u"mnuSettings"_s << u"mnuFile"_s << u"各種設定(&S)"_s << false << true;
    QTest::newRow("mnuFirefox") << u"mnuFirefox"_s << u"mnuFile"_s
                                << u"FireFox プラグインのインストール(&P)"_s << false << true;
    QTest::newRow("mnuBar0") << u"mnuBar0"_s << u"mnuFile"_s << QString() << true << true;
    QTest::newRow("mnuQuit") << u"mnuQuit"_s << u"mnuFile"_s << u"終了(&Q)"_s << false << true;
    QTest::newRow("mnuRanking hidden")
        << u"mnuRanking"_s << u"mnuHelp"_s << u"ダウンロードランキング(&R)"_s << false << false;
    QTest::newRow("mnuLive hidden") << u"mnuLive"_s << u"mnuHelp"_s << u"ダウンロードライブ(&L)"_s << false
                                    << false;
    QTest::newRow("mnubar4 hidden") << u"mnubar4"_s << u"mnuHelp"_s << QString() << true << false;
    QTest::newRow("mnuUpdate") << u"mnuUpdate"_s << u"mnuHelp"_s << u"最新バージョンチェック(&U)"_s << false
                               << true;
    QTest::newRow("mnuSupport") << u"mnuSupport"_s << u"mnuHelp"_s << u"サポート(&S)"_s << false << true;
    QTest::newRow("mnuFollow hidden")
        << u"mnuFollow"_s << u"mnuHelp"_s << u"Twitterでhalvexをフォローする(&F)"_s << false << false;
    QTest::newRow("mnuBar3") << u"mnuBar3"_s << u"mnuHelp"_s << QString() << true << true;
    QTest::newRow("mnuAbout") << u"mnuAbout"_s << u"mnuHelp"_s << u"バージョン(&A)"_s << false << true;
}

void TestMainWindow::menuItems()
{
    QFETCH(QString, name);
    QFETCH(QString, menu);
    QFETCH(QString, caption);
    QFETCH(bool, separator);
    QFETCH(bool, visible);

    frmMain window;
    auto* owner = window.findChild<QMenu*>(menu);
    QVERIFY(owner);
    QAction* action = nullptr;
    for (QAction* candidate : owner->actions()) {
        if (candidate->objectName() == name)
            action = candidate;
    }
    QVERIFY2(action, qPrintable(name));
    QCOMPARE(action->text(), caption);
    QCOMPARE(action->isSeparator(), separator);
    QCOMPARE(action->isVisible(), visible);
}

void TestMainWindow::menuOrder_data()
{
    QTest::addColumn<QString>("menu");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QStringList>("items");
    QTest::newRow("file") << u"mnuFile"_s << u"ファイル(&F)"_s
                          << QStringList{u"mnuSettings"_s, u"mnuFirefox"_s, u"mnuBar0"_s, u"mnuQuit"_s};
    QTest::newRow("help") << u"mnuHelp"_s << u"ヘルプ(&H)"_s
                          << QStringList{u"mnuRanking"_s, u"mnuLive"_s,   u"mnubar4"_s, u"mnuUpdate"_s,
                                         u"mnuSupport"_s, u"mnuFollow"_s, u"mnuBar3"_s, u"mnuAbout"_s};
}

void TestMainWindow::menuOrder()
{
    QFETCH(QString, menu);
    frmMain window;
    QMenu* owner = window.findChild<QMenu*>(menu);
    QVERIFY(owner);
    QTEST(owner->title(), "title");
    QStringList names;
    for (QAction* action : owner->actions())
        names.append(action->objectName());
    QTEST(names, "items");
    // The two menus in the bar, file first.
    const QList<QAction*> bar = window.menuBar()->actions();
    QCOMPARE(bar.size(), 2);
    QCOMPARE(bar.at(0)->menu()->objectName(), u"mnuFile"_s);
    QCOMPARE(bar.at(1)->menu()->objectName(), u"mnuHelp"_s);
}

void TestMainWindow::browserCommands_data()
{
    QTest::addColumn<QString>("item");
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("tagged");
    QTest::addColumn<bool>("fetchesNotices");

    QTest::newRow("firefox plug-in page")
        << u"mnuFirefox"_s << u"http://site.test:8080/linvera/firefox/"_s << false << false;
    QTest::newRow("hidden ranking page")
        << u"mnuRanking"_s << u"http://site.test:8080/youtube/ranking.php"_s << false << false;
    QTest::newRow("hidden live page")
        << u"mnuLive"_s << u"http://live.test/youtube/preview.php"_s << false << false;
    QTest::newRow("update check then notices")
        << u"mnuUpdate"_s << u"http://site.test:8080/service/servlet/update"_s << true << true;
    QTest::newRow("support page") << u"mnuSupport"_s << u"http://site.test:8080/service/servlet/support"_s
                                  << true << false;
}

void TestMainWindow::browserCommands()
{
    QFETCH(QString, item);
    QFETCH(QString, url);
    QFETCH(bool, tagged);
    QFETCH(bool, fetchesNotices);

    frmMain window;
    Endpoints endpoints;
    endpoints.set(Endpoints::MakerSiteHost, u"site.test:8080"_s);
    endpoints.set(Endpoints::MakerLiveHost, u"live.test"_s);
    window.setEndpoints(endpoints);
    QSignalSpy opened(&window, &frmMain::openInBrowserRequested);
    QSignalSpy fetches(&window, &frmMain::noticeFetchRequested);
    QList<int> order;
    connect(&window, &frmMain::openInBrowserRequested, this, [&order] { order.append(1); });
    connect(&window, &frmMain::noticeFetchRequested, this, [&order] { order.append(2); });

    auto* action = window.findChild<QAction*>(item);
    QVERIFY(action);
    action->trigger();

    QCOMPARE(opened.size(), 1);
    QCOMPARE(opened.at(0).at(0).toString(), url);
    QCOMPARE(opened.at(0).at(1).toBool(), tagged);
    QCOMPARE(fetches.size(), fetchesNotices ? 1 : 0);
    if (fetchesNotices)
        QCOMPARE(order, (QList<int>{1, 2}));
}

void TestMainWindow::otherCommands()
{
    frmMain window;
    QSignalSpy settings(&window, &frmMain::settingsRequested);
    QSignalSpy follow(&window, &frmMain::followRequested);
    QSignalSpy region(&window, &frmMain::regionCaptureRequested);
    QSignalSpy windowCapture(&window, &frmMain::windowCaptureRequested);
    QSignalSpy fromFile(&window, &frmMain::pictureFromFileRequested);
    QSignalSpy posting(&window, &frmMain::postingWindowRequested);
    QSignalSpy conversions(&window, &frmMain::conversionRequested);
    QSignalSpy opened(&window, &frmMain::openInBrowserRequested);

    window.findChild<QAction*>(u"mnuSettings"_s)->trigger();
    QCOMPARE(settings.size(), 1);
    window.findChild<QAction*>(u"mnuFollow"_s)->trigger();
    QCOMPARE(follow.size(), 1);
    window.findChild<QPushButton*>(u"btnTwitpic"_s)->click();
    QCOMPARE(region.size(), 1);
    window.findChild<QPushButton*>(u"btnTwitpicWindow"_s)->click();
    QCOMPARE(windowCapture.size(), 1);
    window.findChild<QPushButton*>(u"btnTwitpicFromFile"_s)->click();
    QCOMPARE(fromFile.size(), 1);
    window.findChild<QPushButton*>(u"btnTwitter"_s)->click();
    QCOMPARE(posting.size(), 1);
    window.btnStartConv()->click();
    QCOMPARE(conversions.size(), 1);
    QCOMPARE(opened.size(), 0);
}

void TestMainWindow::quitClosesWithShutdownHook()
{
    frmMain window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QSignalSpy quits(&window, &frmMain::quitRequested);
    window.findChild<QAction*>(u"mnuQuit"_s)->trigger();
    QCOMPARE(quits.size(), 1);
    QVERIFY(!window.isVisible());
}

void TestMainWindow::closeRequestIsShutdown()
{
    frmMain window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QSignalSpy quits(&window, &frmMain::quitRequested);
    QVERIFY(window.close());
    QCOMPARE(quits.size(), 1);
}

void TestMainWindow::aboutIsModelessAndGoesAway()
{
    frmMain window;
    window.setWindowIcon(QIcon(QPixmap(16, 16)));
    window.show();
    window.findChild<QAction*>(u"mnuAbout"_s)->trigger();
    QPointer<AboutDialog> about = window.findChild<AboutDialog*>();
    QVERIFY(about);
    QVERIFY(about->isVisible());
    QVERIFY(!about->isModal());
    QVERIFY(!about->windowIcon().isNull());
    // Asking again shows the same dialog.
    window.showAbout();
    QCOMPARE(window.findChildren<AboutDialog*>().size(), 1);

    about->OKButton()->click();
    QTRY_VERIFY(about.isNull());
}

void TestMainWindow::notice_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("url");
    QTest::newRow("notice with a page")
        << u"新バージョンのお知らせ"_s << u"http://notice.example/news?id=3"_s;
    QTest::newRow("empty notice url is passed on") << u"お知らせ"_s << QString();
}

void TestMainWindow::notice()
{
    QFETCH(QString, message);
    QFETCH(QString, url);
    frmMain window;
    window.setNotice(message, url);
    QCOMPARE(window.btnNotice()->text(), message);
    QCOMPARE(window.btnNotice()->toolTip(), url);
    QCOMPARE(window.noticeUrl(), url);
    QSignalSpy clicks(&window, &frmMain::noticeClicked);
    QSignalSpy opened(&window, &frmMain::openInBrowserRequested);
    window.btnNotice()->click();
    QCOMPARE(clicks.size(), 1);
    QCOMPARE(clicks.at(0).at(0).toString(), url);
    QCOMPARE(opened.size(), 0);
}

void TestMainWindow::thumbnailClick()
{
    frmMain window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QString path = u"/tmp/hvxlinvera.png"_s;
    window.setPreviewPicturePathSource([&path] { return path; });
    QImage image(40, 20, QImage::Format_RGB32);
    image.fill(Qt::white);
    window.setThumbnail(image);
    window.setThumbnailVisible(true);
    QSignalSpy clicks(&window, &frmMain::thumbnailClicked);

    QTest::mouseClick(window.imgPictThumb(), Qt::LeftButton);
    QCOMPARE(clicks.size(), 1);
    QCOMPARE(clicks.at(0).at(0).toString(), u"/tmp/hvxlinvera.png"_s);
    // The path is read at the time of the click.
    path = u"/tmp/hvxlinvera.jpg"_s;
    QTest::mouseClick(window.imgPictThumb(), Qt::LeftButton);
    QCOMPARE(clicks.at(1).at(0).toString(), u"/tmp/hvxlinvera.jpg"_s);
    QTest::mouseClick(window.imgPictThumb(), Qt::RightButton);
    QCOMPARE(clicks.size(), 2);
}

void TestMainWindow::clipboardBox_data()
{
    QTest::addColumn<QString>("afterUrl");
    QTest::addColumn<bool>("startChecked");
    QTest::addColumn<bool>("endChecked");
    QTest::addColumn<QString>("clipboard");

    QTest::newRow("checking with an empty result leaves the clipboard")
        << QString() << false << true << u"untouched"_s;
    QTest::newRow("checking with a result copies it")
        << u"http://short.example/abc"_s << false << true << u"http://short.example/abc"_s;
    QTest::newRow("unchecking does nothing")
        << u"http://short.example/abc"_s << true << false << u"untouched"_s;
}

void TestMainWindow::clipboardBox()
{
    QFETCH(QString, afterUrl);
    QFETCH(bool, startChecked);
    QFETCH(bool, endChecked);

    frmMain window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.chkClipboard()->isChecked(), true); // designed checked
    window.chkClipboard()->setChecked(startChecked);
    window.setAfterUrl(afterUrl);
    QApplication::clipboard()->setText(u"untouched"_s);

    if (startChecked != endChecked)
        QTest::mouseClick(window.chkClipboard(), Qt::LeftButton);
    QCOMPARE(window.chkClipboard()->isChecked(), endChecked);
    QCOMPARE(window.clipboardWanted(), endChecked);
    QTEST(QApplication::clipboard()->text(), "clipboard");
}

void TestMainWindow::clipboardBoxStoredValue()
{
    frmMain window;
    window.setAfterUrl(u"http://short.example/xyz"_s);
    QApplication::clipboard()->setText(u"untouched"_s);

    // Setting the stored value it already has raises nothing.
    QVERIFY(SetCheckValue(*window.chkClipboard(), 1));
    QCOMPARE(QApplication::clipboard()->text(), u"untouched"_s);
    QVERIFY(SetCheckValue(*window.chkClipboard(), 0));
    QCOMPARE(QApplication::clipboard()->text(), u"untouched"_s);
    // A change to 1 runs the click handling.
    QVERIFY(SetCheckValue(*window.chkClipboard(), 1));
    QCOMPARE(QApplication::clipboard()->text(), u"http://short.example/xyz"_s);
    // Grayed is not checked: no copy, and conversions do not copy either.
    QApplication::clipboard()->setText(u"untouched"_s);
    QVERIFY(SetCheckValue(*window.chkClipboard(), 2));
    QCOMPARE(QApplication::clipboard()->text(), u"untouched"_s);
    QVERIFY(!window.clipboardWanted());
}

void TestMainWindow::copyToClipboardReplaces()
{
    frmMain window;
    QApplication::clipboard()->setText(u"old"_s);
    window.copyToClipboard(u"http://short.example/日本"_s);
    QCOMPARE(QApplication::clipboard()->text(), u"http://short.example/日本"_s);
}

void TestMainWindow::afterInfoInsertsAtCaret_data()
{
    QTest::addColumn<QString>("initial");
    QTest::addColumn<QStringList>("inserts");
    QTest::addColumn<QString>("shown");

    QTest::newRow("inserts after an empty text follow each other")
        << QString() << QStringList{u"http://a.example/\r\n"_s, u"タイトル\r\n"_s}
        << u"http://a.example/\nタイトル\n"_s;
    QTest::newRow("a replaced text puts the caret at its start")
        << u"old text"_s << QStringList{u"new "_s} << u"new old text"_s;
    QTest::newRow("carriage returns alone break lines") << QString() << QStringList{u"a\rb"_s} << u"a\nb"_s;
}

void TestMainWindow::afterInfoInsertsAtCaret()
{
    QFETCH(QString, initial);
    QFETCH(QStringList, inserts);
    frmMain window;
    window.setAfterInfo(initial);
    for (const QString& text : inserts)
        window.insertAfterInfo(text);
    QTEST(window.txtAfterDecode()->toPlainText(), "shown");
}

void TestMainWindow::afterInfoFollowsUserCaret()
{
    frmMain window;
    window.setAfterInfo(u"first\r\nsecond"_s);
    QTextCursor caret = window.txtAfterDecode()->textCursor();
    caret.movePosition(QTextCursor::End);
    window.txtAfterDecode()->setTextCursor(caret);
    window.insertAfterInfo(u"!"_s);
    window.insertAfterInfo(u"?"_s);
    QCOMPARE(window.txtAfterDecode()->toPlainText(), u"first\nsecond!?"_s);
    // A selection is replaced, as typing would.
    caret = window.txtAfterDecode()->textCursor();
    caret.setPosition(0);
    caret.setPosition(5, QTextCursor::KeepAnchor);
    window.txtAfterDecode()->setTextCursor(caret);
    window.insertAfterInfo(u"1st"_s);
    QCOMPARE(window.txtAfterDecode()->toPlainText(), u"1st\nsecond!?"_s);
}

void TestMainWindow::hiddenBoxesKeepText()
{
    frmMain window;
    window.show();
    window.setBeforeInfo(u"http://日本.example/"_s);
    window.setBeforeInfoVisible(false);
    QVERIFY(window.txtBeforeDecode()->isHidden());
    QCOMPARE(window.txtBeforeDecode()->text(), u"http://日本.example/"_s);
    window.setBeforeInfoVisible(true);
    QVERIFY(window.txtBeforeDecode()->isVisible());
    QCOMPARE(window.txtBeforeDecode()->text(), u"http://日本.example/"_s);

    window.setAfterInfo(u"title"_s);
    window.setAfterInfoVisible(false);
    QVERIFY(window.txtAfterDecode()->isHidden());
    QCOMPARE(window.txtAfterDecode()->toPlainText(), u"title"_s);
    window.setAfterInfoVisible(true);
    QVERIFY(window.txtAfterDecode()->isVisible());

    window.setBeforeUrl(u"in"_s);
    window.setAfterUrl(u"out"_s);
    QCOMPARE(window.beforeUrl(), u"in"_s);
    QCOMPARE(window.txtBeforeUrl()->text(), u"in"_s);
    QCOMPARE(window.afterUrl(), u"out"_s);
    QCOMPARE(window.txtAfterUrl()->text(), u"out"_s);
}

void TestMainWindow::messageAndCaption()
{
    frmMain window;
    window.show();
    window.setMessage(u"URL短縮化を実行しました"_s);
    QCOMPARE(window.lblMsg()->text(), u"URL短縮化を実行しました"_s);
    // The message line grows with its text instead of cutting it off.
    QVERIFY(window.lblMsg()->width() >= window.lblMsg()->sizeHint().width());
    window.setCaption(u"http://caption.example/"_s);
    QCOMPARE(window.windowTitle(), u"http://caption.example/"_s);
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
