// The posting window: its controls as loaded, and its behaviour offscreen against the loopback
// picture host, microblog API and proxy.
#include "HostilePeer.h"
#include "HttpTestDelivery.h"
#include "MicroblogHosts.h"
#include "RecordingMessageBoxes.h"
#include "TempRegistry.h"
#include "app/ui/PictureLabel.h"
#include "app/ui/ReplyTextFeed.h"
#include "app/ui/Twips.h"
#include "app/ui/frmMain.h"
#include "app/ui/frmSettings.h"
#include "app/ui/frmTwitter.h"
#include "microblog/MicroblogClient.h"
#include "platform/AnsiCodec.h"
#include "platform/RegAccess.h"
#include "settings/SettingsModel.h"

#include <QApplication>
#include <QDropEvent>
#include <QImage>
#include <QLineEdit>
#include <QMimeData>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

using namespace linvera;
using namespace linvera::test;
using namespace Qt::StringLiterals;

namespace {

const QString kLogin = u"taro"_s;
const QString kPassword = u"secret"_s;

// The window with everything it reads from: the settings and main windows, recorded message
// boxes, and the services on loopback.
struct Posting
{
    RecordingMessageBoxes boxes;
    // The user's Internet settings (the proxy) in a store of the test's own.
    TempRegistry registry;
    SettingsModel model;
    frmSettings settings{boxes};
    frmMain main;
    frmTwitter window;
    PictureUploadHost pictureHost;
    MicroblogApiHost api;
    ForwardingProxy proxy;
    QTemporaryDir dir;

    Posting()
    {
        platform::AnsiCodec::select(platform::AnsiCodec::CodePage::Utf8);
        pictureHost.setAccount(kLogin.toLatin1(), kPassword.toLatin1());
        api.setAccount(kLogin.toLatin1(), kPassword.toLatin1());
        settings.setModel(&model);
        window.setSettingsModel(&model);
        settings.txtLogin()->setText(kLogin);
        settings.txtPass()->setText(kPassword);
        window.setSettingsWindow(&settings);
        window.setMainWindow(&main);
        window.setMessageBoxes(boxes);
        Endpoints endpoints;
        endpoints.set(Endpoints::PictureHost, pictureHost.hostAndPort());
        endpoints.set(Endpoints::MicroblogHost, api.hostAndPort());
        window.setEndpoints(endpoints);
    }

    // As another program changes the Internet settings: the model reads the proxy again.
    void useProxy(bool on)
    {
        const QString key = u"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings"_s;
        SetRegNumber(platform::RegRoot::CurrentUser, key, u"ProxyEnable"_s, on ? 1 : 0);
        SetRegString(platform::RegRoot::CurrentUser, key, u"ProxyServer"_s, proxy.hostAndPort());
        model.reloadProxy();
    }

    // A picture file of the given size, shown in the window as the picture commands do.
    QString showPicture(const QSize& size, const QString& name = u"cap.png"_s)
    {
        QImage image(size, QImage::Format_RGB32);
        image.fill(Qt::darkCyan);
        const QString path = dir.filePath(name);
        if (!image.save(path))
            return {};
        window.setPostPicturePath(path);
        window.setDisplayPicturePath(path);
        window.CaptureImageResize();
        return path;
    }
};

} // namespace

class TestPostingWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void controls_data();
    void controls();
    void loadedInTextMode();
    void captureBoxSize();
    void closeOnlyHides_data();
    void closeOnlyHides();

    void counter_data();
    void counter();
    void checkBoxesColourTheStatus();
    void clearResetsTheWindow();
    void urlInsertion_data();
    void urlInsertion();
    void homeButton();
    void pictureClick();
    void droppedTextAtTheCaret();
    void pictureFitsTheBox_data();
    void pictureFitsTheBox();
    void postingNeedsCredentials_data();
    void postingNeedsCredentials();
    void statusPost_data();
    void statusPost();
    void picturePost_data();
    void picturePost();
    void profileUpdate_data();
    void profileUpdate();
    void pictureHostRefuses();
    void hostileUploadReplyKeepsWindowLive_data();
    void hostileUploadReplyKeepsWindowLive();
    void profileUpdateWithoutPicture();
    void postingWindowCommand_data();
    void postingWindowCommand();
    void pictureFromFileCommand();
    void followCommand_data();
    void followCommand();
    void secondPressWhileRunning_data();
    void secondPressWhileRunning();
    void readsTheSettingsModel();
};

void TestPostingWindow::controls_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("tip");

    QTest::newRow("txtStatus") << u"txtStatus"_s << QString() << QString();
    QTest::newRow("lblComment1") << u"lblComment1"_s << u"つぶやき (自由に編集できます)"_s << QString();
    QTest::newRow("lblCount") << u"lblCount"_s << QString() << QString();
    QTest::newRow("btnSend") << u"btnSend"_s << u"投稿する"_s << u"Twitterに投稿する"_s;
    QTest::newRow("btnClear") << u"btnClear"_s << u"ｸﾘｱ"_s << u"つぶやき欄と投稿画像をクリア"_s;
    QTest::newRow("btnShowMyPage") << u"btnShowMyPage"_s << u"ﾎｰﾑ"_s << u"WebﾌﾞﾗｳｻﾞでTwitterﾎｰﾑを表示する"_s;
    QTest::newRow("btnManualURLInsertBefore")
        << u"btnManualURLInsertBefore"_s << u"変換前URLを挿入"_s << u"変換前URLを挿入する"_s;
    QTest::newRow("btnManualURLInsertAfter")
        << u"btnManualURLInsertAfter"_s << u"変換後URLを挿入"_s << u"変換後URLを挿入する"_s;
    QTest::newRow("OKButton") << u"OKButton"_s << u"閉じる"_s << QString();
    QTest::newRow("frameChecks") << u"frameChecks"_s << QString() << QString();
    QTest::newRow("chkProfile_icon_image")
        << u"chkProfile_icon_image"_s << u"ｱｲｺﾝ画像化"_s << u"Twitterのｱｲｺﾝ画像として投稿する"_s;
    QTest::newRow("chkProfile_back_image")
        << u"chkProfile_back_image"_s << u"背景画像化"_s << u"Twitterの背景画像として投稿する"_s;
    QTest::newRow("chkProfile_backtile_image")
        << u"chkProfile_backtile_image"_s << u"背景ﾀｲﾙ画像化"_s << u"Twitterの背景ﾀｲﾙ画像として投稿する"_s;
    QTest::newRow("lblCapture") << u"lblCapture"_s << u"以下の画像が投稿されます"_s << QString();
    QTest::newRow("imgCapture") << u"imgCapture"_s << QString() << u"ｸﾘｯｸでﾎﾟｯﾌﾟｱｯﾌﾟ表示"_s;
    QTest::newRow("picCapture") << u"picCapture"_s << QString() << QString();
    QTest::newRow("lblMsg") << u"lblMsg"_s << QString() << QString();
    QTest::newRow("txtRequest") << u"txtRequest"_s << QString() << QString();
    QTest::newRow("txtResponse") << u"txtResponse"_s << QString() << QString();
    QTest::newRow("framePosts") << u"framePosts"_s << QString() << QString();
    QTest::newRow("frameButtons") << u"frameButtons"_s << QString() << QString();
}

void TestPostingWindow::controls()
{
    QFETCH(QString, name);
    frmTwitter window;
    QCOMPARE(window.objectName(), u"frmTwitter"_s);
    QCOMPARE(window.windowTitle(), u"Twitter ツール"_s);
    const QList<QWidget*> found = window.findChildren<QWidget*>(name);
    QCOMPARE(found.size(), 1);
    QWidget* control = found.first();
    QTEST(control->toolTip(), "tip");
    QString caption;
    if (auto* label = qobject_cast<QLabel*>(control))
        caption = label->text();
    else if (auto* button = qobject_cast<QAbstractButton*>(control))
        caption = button->text();
    else if (auto* edit = qobject_cast<QPlainTextEdit*>(control))
        caption = edit->toPlainText();
    QTEST(caption, "caption");
}

void TestPostingWindow::loadedInTextMode()
{
    frmTwitter window;
    QVERIFY(!window.isVisible());
    QVERIFY(window.imgCapture()->isHidden());
    QVERIFY(window.lblCapture()->isHidden());
    QVERIFY(window.frameChecks()->isHidden());
    QVERIFY(window.picCapture()->isHidden());
    QVERIFY(!window.chkProfile_icon_image()->isChecked());
    QVERIFY(!window.chkProfile_back_image()->isChecked());
    QVERIFY(!window.chkProfile_backtile_image()->isChecked());
    QVERIFY(window.imgCapture()->hasScaledContents());
}

void TestPostingWindow::captureBoxSize()
{
    frmTwitter window;
    const TwipScale scale = TwipScale::of(&window);
    // The box is read before the window was ever shown, as start-up does.
    QCOMPARE(window.imgCapture()->size(), QSize(scale.toPixelsX(4800), scale.toPixelsY(3600)));
    const TwipSize size = window.imgCaptureSizeTwips();
    QVERIFY(qAbs(size.width - 4800) < scale.x);
    QVERIFY(qAbs(size.height - 3600) < scale.y);
    if (scale.x == 15 && scale.y == 15)
        QCOMPARE(size, (TwipSize{4800, 3600}));
}

void TestPostingWindow::closeOnlyHides_data()
{
    QTest::addColumn<bool>("viaButton");
    QTest::newRow("close box") << false;
    QTest::newRow("OKButton") << true;
}

void TestPostingWindow::closeOnlyHides()
{
    QFETCH(bool, viaButton);
    frmTwitter window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.txtStatus()->setPlainText(u"下書き"_s);
    if (viaButton)
        window.OKButton()->click();
    else
        QVERIFY(!window.close());
    QVERIFY(!window.isVisible());
    window.show();
    QCOMPARE(window.txtStatus()->toPlainText(), u"下書き"_s);
}

void TestPostingWindow::counter_data()
{
    QTest::addColumn<bool>("picture");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("count");
    QTest::newRow("empty text") << false << u"a"_s << u"139"_s;
    QTest::newRow("140 exactly") << false << QString(140, u'x') << u"0"_s;
    QTest::newRow("200 goes negative") << false << QString(200, u'あ') << u"-60"_s;
    QTest::newRow("emoji counts two units") << false << u"😀"_s << u"138"_s;
    QTest::newRow("picture mode: 130") << true << u"abc"_s << u"127"_s;
    QTest::newRow("picture mode: past the limit") << true << QString(131, u'x') << u"-1"_s;
}

void TestPostingWindow::counter()
{
    QFETCH(bool, picture);
    QFETCH(QString, text);
    Posting p;
    if (picture)
        QVERIFY(!p.showPicture(QSize(40, 30)).isEmpty());
    p.window.txtStatus()->setPlainText(text);
    QTEST(p.window.lblCount()->text(), "count");
}

void TestPostingWindow::checkBoxesColourTheStatus()
{
    Posting p;
    const QColor window = p.window.palette().color(QPalette::Window);
    const QColor base = p.window.palette().color(QPalette::Base);
    QVERIFY(window != base);
    QCheckBox* boxes[] = {p.window.chkProfile_icon_image(), p.window.chkProfile_back_image(),
                          p.window.chkProfile_backtile_image()};
    for (QCheckBox* box : boxes) {
        box->click();
        QCOMPARE(p.window.txtStatus()->palette().color(QPalette::Base), window);
    }
    boxes[0]->click();
    boxes[1]->click();
    QCOMPARE(p.window.txtStatus()->palette().color(QPalette::Base), window);
    boxes[2]->click();
    QCOMPARE(p.window.txtStatus()->palette().color(QPalette::Base), base);
}

void TestPostingWindow::clearResetsTheWindow()
{
    Posting p;
    QVERIFY(!p.showPicture(QSize(40, 30)).isEmpty());
    p.window.txtStatus()->setPlainText(u"text"_s);
    p.window.chkProfile_icon_image()->setChecked(true);
    p.window.chkProfile_backtile_image()->setChecked(true);
    p.window.btnClear()->click();
    QVERIFY(p.window.imgCapture()->isHidden());
    QVERIFY(p.window.imgCapture()->pixmap().isNull());
    QVERIFY(p.window.txtStatus()->toPlainText().isEmpty());
    QVERIFY(p.window.postPicturePath().isEmpty());
    QVERIFY(p.window.lblMsg()->text().isEmpty());
    QVERIFY(p.window.lblCapture()->isHidden());
    QVERIFY(p.window.frameChecks()->isHidden());
    QVERIFY(!p.window.chkProfile_icon_image()->isChecked());
    QVERIFY(!p.window.chkProfile_backtile_image()->isChecked());
    QCOMPARE(p.window.txtStatus()->palette().color(QPalette::Base), p.window.palette().color(QPalette::Base));
    // Back in text mode, the counter counts from 140 again.
    p.window.txtStatus()->setPlainText(u"a"_s);
    QCOMPARE(p.window.lblCount()->text(), u"139"_s);
}

void TestPostingWindow::urlInsertion_data()
{
    QTest::addColumn<bool>("after");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("expected");
    const QString long150 = QString(141, u'a') + QString(9, u'b');
    QTest::newRow("after URL at 141 inside a longer text")
        << true << long150 << u"http://s.example/x"_s
        << QString(141, u'a') + u" http://s.example/x"_s + QString(9, u'b');
    QTest::newRow("short text: at its end")
        << false << u"見て"_s << u"http://long.example/"_s << u"見て http://long.example/"_s;
    QTest::newRow("empty status") << true << QString() << u"u"_s << u" u"_s;
    QTest::newRow("empty URL inserts nothing") << true << u"x"_s << QString() << u"x"_s;
}

void TestPostingWindow::urlInsertion()
{
    QFETCH(bool, after);
    QFETCH(QString, status);
    QFETCH(QString, url);
    Posting p;
    (after ? p.main.txtAfterUrl() : p.main.txtBeforeUrl())->setText(url);
    p.window.txtStatus()->setPlainText(status);
    (after ? p.window.btnManualURLInsertAfter() : p.window.btnManualURLInsertBefore())->click();
    QTEST(p.window.txtStatus()->toPlainText(), "expected");
}

void TestPostingWindow::homeButton()
{
    Posting p;
    QSignalSpy opened(&p.window, &frmTwitter::openInBrowserRequested);
    p.window.btnShowMyPage()->click();
    QCOMPARE(opened.size(), 1);
    QCOMPARE(opened.first().first().toString(), u"http://"_s + p.api.hostAndPort() + u"/taro"_s);
    QCOMPARE(opened.first().last().toBool(), false);
    p.settings.txtLogin()->clear();
    p.window.btnShowMyPage()->click();
    QCOMPARE(opened.size(), 1);
}

void TestPostingWindow::pictureClick()
{
    Posting p;
    const QString path = p.showPicture(QSize(20, 20));
    QSignalSpy open(&p.window, &frmTwitter::pictureOpenRequested);
    QTest::mouseClick(p.window.imgCapture(), Qt::LeftButton);
    QCOMPARE(open.size(), 1);
    QCOMPARE(open.first().first().toString(), path);
}

void TestPostingWindow::droppedTextAtTheCaret()
{
    Posting p;
    p.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&p.window));
    p.window.txtStatus()->setPlainText(u"abcd"_s);
    QTextCursor cursor = p.window.txtStatus()->textCursor();
    cursor.setPosition(2);
    p.window.txtStatus()->setTextCursor(cursor);
    QMimeData data;
    data.setText(u"ドロップ"_s);
    QWidget* target = p.window.txtStatus()->viewport();
    // The drop lands at the far end of the text; the text still goes in at the caret.
    const QPoint where(target->width() - 2, target->height() - 2);
    QDragEnterEvent enter(where, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(where), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
    QCOMPARE(p.window.txtStatus()->toPlainText(), u"abドロップcd"_s);
    QCOMPARE(p.window.lblCount()->text(), u"132"_s);
}

void TestPostingWindow::pictureFitsTheBox_data()
{
    QTest::addColumn<QSize>("picture");
    QTest::addColumn<double>("width");
    QTest::addColumn<double>("height");
    QTest::newRow("wide fills the width") << QSize(800, 200) << 4800.0 << 1200.0;
    QTest::newRow("tall fills the height") << QSize(300, 600) << 1800.0 << 3600.0;
    QTest::newRow("same proportions as the box") << QSize(400, 300) << 4800.0 << 3600.0;
    QTest::newRow("tiny picture grows") << QSize(4, 1) << 4800.0 << 1200.0;
}

void TestPostingWindow::pictureFitsTheBox()
{
    QFETCH(QSize, picture);
    QFETCH(double, width);
    QFETCH(double, height);
    Posting p;
    QVERIFY(!p.showPicture(picture).isEmpty());
    QVERIFY(p.window.isVisible());
    QVERIFY(!p.window.imgCapture()->isHidden());
    QVERIFY(!p.window.frameChecks()->isHidden());
    QVERIFY(!p.window.lblCapture()->isHidden());
    QCOMPARE(p.window.lblMsg()->text(), u"ｷｬﾌﾟﾁｬ画像をﾃﾞｽｸﾄｯﾌﾟに保存しました。"_s);
    QCOMPARE(p.window.picCapture()->pixmap().size(), picture);
    const TwipScale scale = TwipScale::of(&p.window);
    QCOMPARE(p.window.imgCapture()->size(), QSize(scale.toPixelsX(width), scale.toPixelsY(height)));
}

void TestPostingWindow::postingNeedsCredentials_data()
{
    QTest::addColumn<QString>("login");
    QTest::addColumn<QString>("password");
    QTest::newRow("no login") << QString() << kPassword;
    QTest::newRow("login of spaces") << u"   "_s << kPassword;
    QTest::newRow("no password") << kLogin << QString();
}

void TestPostingWindow::postingNeedsCredentials()
{
    QFETCH(QString, login);
    QFETCH(QString, password);
    Posting p;
    p.settings.txtLogin()->setText(login);
    p.settings.txtPass()->setText(password);
    p.window.txtStatus()->setPlainText(u"hi"_s);
    p.window.btnSend()->click();
    QCOMPARE(p.boxes.texts(),
             QStringList{u"各種設定フォーム内に、Twitterのﾛｸﾞｲﾝ名とﾊﾟｽﾜｰﾄﾞを設定してください。"_s});
    QCOMPARE(p.boxes.shown().first().icon, platform::MessageBoxes::Icon::Exclamation);
    QVERIFY(p.settings.isVisible());
    QCOMPARE(p.api.connectionCount(), 0);
    QCOMPARE(p.window.txtStatus()->toPlainText(), u"hi"_s);
}

void TestPostingWindow::statusPost_data()
{
    QTest::addColumn<bool>("viaProxy");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("message");
    QTest::newRow("direct") << false << kPassword << u"投稿が完了しました。"_s;
    QTest::newRow("through the proxy") << true << kPassword << u"投稿が完了しました。"_s;
    QTest::newRow("refused") << false << u"wrong"_s << u"投稿に失敗しました。"_s;
}

void TestPostingWindow::statusPost()
{
    QFETCH(bool, viaProxy);
    QFETCH(QString, password);
    QFETCH(QString, message);
    Posting p;
    p.useProxy(viaProxy);
    p.settings.txtPass()->setText(password);
    const QString status = QString(200, u'字') + u" 😀"_s;
    p.window.txtStatus()->setPlainText(status);
    p.window.txtResponse()->setPlainText(u"old"_s);
    p.window.btnSend()->click();
    QTRY_COMPARE_WITH_TIMEOUT(p.window.lblMsg()->text(), message, 10000);
    QCOMPARE(p.api.requestCount(), 1);
    QCOMPARE(p.api.lastRequest().path(), QByteArray("/statuses/update.xml"));
    QCOMPARE(HttpTestRequest::decodeFormComponent(p.api.lastRequest().body.mid(7)), status);
    QCOMPARE(p.proxy.requestCount(), viaProxy ? 1 : 0);
    const bool posted = password == kPassword;
    QCOMPARE(p.window.statusPostOK(), posted);
    QCOMPARE(p.window.txtStatus()->toPlainText(), posted ? QString() : status);
    QVERIFY(p.window.txtResponse()->toPlainText().isEmpty());
    QCOMPARE(p.boxes.texts(),
             posted ? QStringList() : QStringList{u"エラーが発生しました: Could not authenticate you."_s});
}

void TestPostingWindow::picturePost_data()
{
    QTest::addColumn<bool>("viaProxy");
    QTest::addColumn<QString>("status");
    QTest::newRow("direct") << false << u"hello"_s;
    QTest::newRow("through the proxy") << true << u"見て"_s;
    QTest::newRow("empty status") << false << QString();
}

void TestPostingWindow::picturePost()
{
    QFETCH(bool, viaProxy);
    QFETCH(QString, status);
    Posting p;
    p.useProxy(viaProxy);
    QVERIFY(!p.showPicture(QSize(64, 48)).isEmpty());
    p.window.txtStatus()->setPlainText(status);
    p.pictureHost.setMediaUrl(u"http://pic.example/abc"_s);
    p.window.btnSend()->click();
    QCOMPARE(p.window.lblMsg()->text(), u"投稿中..."_s);
    QTRY_COMPARE_WITH_TIMEOUT(p.window.lblMsg()->text(), u"投稿を完了しました: http://pic.example/abc"_s,
                              10000);
    QCOMPARE(p.pictureHost.requestCount(), 1);
    QVERIFY(!p.pictureHost.lastRequest().body.contains("name=\"message\""));
    QVERIFY(p.window.txtRequest()->toPlainText().startsWith(
        viaProxy
            ? u"POST http://127.0.0.1:"_s + QString::number(p.pictureHost.port()) + u"/api/upload? HTTP/1.0"_s
            : u"POST /api/upload? HTTP/1.0"_s));
    QVERIFY(p.window.txtResponse()->toPlainText().contains(u"<mediaurl>http://pic.example/abc</mediaurl>"_s));
    // The status goes out once, with the picture's address in front.
    QCOMPARE(p.api.requestCount(), 1);
    QCOMPARE(HttpTestRequest::decodeFormComponent(p.api.lastRequest().body.mid(7)),
             u"http://pic.example/abc - "_s + status);
    QCOMPARE(p.proxy.requestCount(), viaProxy ? 2 : 0);
    QVERIFY(p.window.imgCapture()->isHidden());
    QVERIFY(p.window.postPicturePath().isEmpty());
    QVERIFY(p.window.txtStatus()->toPlainText().isEmpty());
    QVERIFY(p.boxes.shown().isEmpty());
}

void TestPostingWindow::profileUpdate_data()
{
    QTest::addColumn<QList<int>>("checked");
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("tile");
    QTest::addColumn<bool>("viaProxy");
    QTest::newRow("icon") << QList<int>{0} << QByteArray("/account/update_profile_image.xml") << QByteArray()
                          << false;
    QTest::newRow("back through the proxy")
        << QList<int>{1} << QByteArray("/account/update_profile_background_image.xml") << QByteArray("false")
        << true;
    QTest::newRow("backtile") << QList<int>{2} << QByteArray("/account/update_profile_background_image.xml")
                              << QByteArray("true") << false;
    QTest::newRow("all three: back wins")
        << QList<int>{0, 1, 2} << QByteArray("/account/update_profile_background_image.xml")
        << QByteArray("false") << false;
    QTest::newRow("icon and backtile: backtile wins")
        << QList<int>{0, 2} << QByteArray("/account/update_profile_background_image.xml")
        << QByteArray("true") << true;
}

void TestPostingWindow::profileUpdate()
{
    QFETCH(QList<int>, checked);
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, tile);
    QFETCH(bool, viaProxy);
    Posting p;
    p.useProxy(viaProxy);
    QVERIFY(!p.showPicture(QSize(48, 48), u"me.PNG"_s).isEmpty());
    QCheckBox* boxes[] = {p.window.chkProfile_icon_image(), p.window.chkProfile_back_image(),
                          p.window.chkProfile_backtile_image()};
    for (int i : checked)
        boxes[i]->setChecked(true);
    p.window.txtStatus()->setPlainText(u"not sent"_s);
    p.window.btnSend()->click();
    QTRY_COMPARE_WITH_TIMEOUT(p.window.lblMsg()->text(), u"投稿を完了しました: taro"_s, 10000);
    QCOMPARE(p.api.requestCount(), 1);
    const HttpTestRequest got = p.api.lastRequest();
    QCOMPARE(got.path(), path);
    QCOMPARE(got.body.contains(QByteArray("name=\"tile\"\r\n\r\n" + tile + "\r\n")), !tile.isEmpty());
    QCOMPARE(got.body.contains("name=\"tile\""), !tile.isEmpty());
    QVERIFY(got.body.contains("filename=\"me.PNG\"\r\nContent-Type: image/png\r\n"));
    QVERIFY(!got.body.contains("not sent"));
    QCOMPARE(p.proxy.requestCount(), viaProxy ? 1 : 0);
    QVERIFY(p.window.imgCapture()->isHidden());
    QVERIFY(!p.window.chkProfile_back_image()->isChecked());
}

void TestPostingWindow::pictureHostRefuses()
{
    Posting p;
    const QString picture = p.showPicture(QSize(10, 10));
    p.settings.txtPass()->setText(u"bad"_s);
    p.window.txtStatus()->setPlainText(u"keep me"_s);
    p.window.btnSend()->click();
    QTRY_COMPARE_WITH_TIMEOUT(p.window.lblMsg()->text(), u"投稿に失敗しました。"_s, 10000);
    QCOMPARE(p.boxes.texts(), QStringList{u"エラーが発生しました:Invalid twitter username or password"_s});
    QCOMPARE(p.api.requestCount(), 0);
    QVERIFY(!p.window.imgCapture()->isHidden());
    QCOMPARE(p.window.postPicturePath(), picture);
    QCOMPARE(p.window.txtStatus()->toPlainText(), u"keep me"_s);
}

void TestPostingWindow::hostileUploadReplyKeepsWindowLive_data()
{
    QTest::addColumn<HostilePeer::Fault>("fault");
    QTest::addColumn<QString>("failure"); // what the box says
    const QString cap = QString::number(MicroblogClient::kReplyCap);
    QTest::newRow("endless body") << HostilePeer::Fault::EndlessBody << cap;
    QTest::newRow("endless head") << HostilePeer::Fault::EndlessHead << cap;
    QTest::newRow("binary without line ends, then silence")
        << HostilePeer::Fault::Binary << u"Socket operation timed out"_s;
}

// The reply box of a shown window while a host pours out its reply: the window's events keep
// turning until the cap or the time-out ends the upload, and the box shows a bounded part of it.
void TestPostingWindow::hostileUploadReplyKeepsWindowLive()
{
    QFETCH(HostilePeer::Fault, fault);
    QFETCH(QString, failure);
    Posting p;
    HostilePeer peer(fault);
    QVERIFY(peer.isListening());
    peer.setHead("HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\n");
    peer.setBody("<?xml version=\"1.0\"?><rsp stat=\"ok\">\n");
    Endpoints endpoints;
    endpoints.set(Endpoints::PictureHost, peer.hostAndPort());
    endpoints.set(Endpoints::MicroblogHost, p.api.hostAndPort());
    p.window.setEndpoints(endpoints);
    MicroblogClient::Timeouts timeouts;
    timeouts.reply = std::chrono::milliseconds(4000);
    p.window.client().setTimeouts(timeouts);
    QVERIFY(!p.showPicture(QSize(32, 32)).isEmpty());
    QVERIFY(QTest::qWaitForWindowExposed(&p.window));

    StallMeter meter;
    meter.start();
    p.window.btnSend()->click();
    QTRY_COMPARE_WITH_TIMEOUT(p.window.lblMsg()->text(), u"投稿に失敗しました。"_s, 20000);
    // The box's last update, and its painting, count too.
    QTest::qWait(2 * ReplyTextFeed::kIntervalMs);
    meter.stop();
    qInfo("%s, peer sent %lld bytes", qPrintable(meter.summary()), peer.bytesSent());
    QVERIFY2(meter.longestOwnStallMs() <= 100, qPrintable(meter.summary()));
    QCOMPARE(p.boxes.shown().size(), 1);
    QVERIFY2(p.boxes.shown().first().text.contains(failure), qPrintable(p.boxes.shown().first().text));
    const QString shown = p.window.txtResponse()->toPlainText();
    QVERIFY(fault == HostilePeer::Fault::Binary ? !shown.isEmpty() : shown.startsWith(u"HTTP/1.1 200 OK"_s));
    QVERIFY2(shown.size() <= ReplyTextFeed::kShownLimit + 2, qPrintable(QString::number(shown.size())));
    const QStringList lines = shown.split(u'\n');
    for (const QString& line : lines)
        QVERIFY2(line.size() <= ReplyTextFeed::kLineWidth + 1, qPrintable(QString::number(line.size())));
    QCOMPARE(p.api.requestCount(), 0);
}

void TestPostingWindow::profileUpdateWithoutPicture()
{
    Posting p;
    p.window.chkProfile_icon_image()->setChecked(true);
    p.window.btnSend()->click();
    QCOMPARE(p.window.lblMsg()->text(), u"投稿に失敗しました。"_s);
    QCOMPARE(p.boxes.texts(), QStringList{u"ｱｯﾌﾟﾛｰﾄﾞすべき画像が見つかりません:"_s});
    QCOMPARE(p.boxes.shown().first().title, u"ERROR"_s);
    QCOMPARE(p.api.connectionCount(), 0);
}

void TestPostingWindow::postingWindowCommand_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("expected");
    QTest::newRow("after a shortening") << 0 << QString() << u"http://s.example/1"_s;
    QTest::newRow("after a preview") << 1 << QString() << u"http://before.example/long"_s;
    QTest::newRow("status kept") << 0 << u"mine"_s << u"mine"_s;
    QTest::newRow("other mode") << 3 << QString() << QString();
}

void TestPostingWindow::postingWindowCommand()
{
    QFETCH(int, mode);
    QFETCH(QString, status);
    Posting p;
    QVERIFY(!p.showPicture(QSize(10, 10)).isEmpty());
    p.main.txtBeforeUrl()->setText(u"http://before.example/long"_s);
    p.main.txtAfterUrl()->setText(u"http://s.example/1"_s);
    p.window.txtStatus()->setPlainText(status);
    p.window.btnTwitter_Click(mode);
    QVERIFY(p.window.isVisible());
    QVERIFY(p.window.imgCapture()->isHidden());
    QVERIFY(p.window.lblCapture()->isHidden());
    QVERIFY(p.window.frameChecks()->isHidden());
    QVERIFY(p.window.lblMsg()->text().isEmpty());
    QTEST(p.window.txtStatus()->toPlainText(), "expected");
}

void TestPostingWindow::pictureFromFileCommand()
{
    Posting p;
    QString chosen;
    p.window.setFileChooser([&] { return chosen; });
    p.window.btnTwitpicFromFile_Click();
    QVERIFY(!p.window.isVisible());
    QVERIFY(p.window.postPicturePath().isEmpty());

    QImage image(30, 60, QImage::Format_RGB32);
    image.fill(Qt::red);
    chosen = p.dir.filePath(u"選んだ.png"_s);
    QVERIFY(image.save(chosen));
    p.window.btnTwitpicFromFile_Click();
    QVERIFY(p.window.isVisible());
    QCOMPARE(p.window.postPicturePath(), chosen);
    QCOMPARE(p.window.displayPicturePath(), chosen);
    QVERIFY(!p.window.imgCapture()->isHidden());
    QCOMPARE(p.window.picCapture()->pixmap().size(), QSize(30, 60));
}

void TestPostingWindow::followCommand_data()
{
    QTest::addColumn<QString>("login");
    QTest::addColumn<QString>("account");
    QTest::addColumn<bool>("message");
    QTest::addColumn<bool>("followed");
    QTest::newRow("follows and opens the page") << kLogin << u"halvex_jp"_s << false << true;
    QTest::newRow("login of spaces") << u"  "_s << u"halvex_jp"_s << true << false;
    QTest::newRow("no maker account") << kLogin << QString() << false << false;
}

void TestPostingWindow::followCommand()
{
    QFETCH(QString, login);
    QFETCH(QString, account);
    QFETCH(bool, message);
    QFETCH(bool, followed);
    Posting p;
    p.settings.txtLogin()->setText(login);
    QSignalSpy opened(&p.window, &frmTwitter::openInBrowserRequested);
    p.window.mnuFollow_Click(account);
    // The page opens once the follow request has ended.
    if (followed)
        QTRY_COMPARE_WITH_TIMEOUT(opened.size(), 1, 10000);
    QCOMPARE(p.boxes.shown().size(), message ? 1 : 0);
    QCOMPARE(p.settings.isVisible(), message);
    QCOMPARE(p.api.requestCount(), followed ? 1 : 0);
    QCOMPARE(opened.size(), followed ? 1 : 0);
    if (followed) {
        QCOMPARE(p.api.lastRequest().body, "screen_name=" + account.toLatin1());
        QCOMPARE(opened.first().first().toString(), u"http://"_s + p.api.hostAndPort() + u"/"_s + account);
        QCOMPARE(opened.first().last().toBool(), true);
    }
}

void TestPostingWindow::secondPressWhileRunning_data()
{
    QTest::addColumn<QString>("running");
    QTest::newRow("status post") << u"status post"_s;
    QTest::newRow("picture upload") << u"picture upload"_s;
    QTest::newRow("status post after the picture") << u"status after picture"_s;
}

// The designed post waited inside the press, so a second press ran inside the first. Now a
// second press while a post runs starts nothing, and the first post's outcome is what shows.
void TestPostingWindow::secondPressWhileRunning()
{
    QFETCH(QString, running);
    Posting p;
    p.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&p.window));
    const bool picture = running != u"status post"_s;
    if (picture)
        QVERIFY(!p.showPicture(QSize(16, 16)).isEmpty());
    p.pictureHost.setMediaUrl(u"http://pic.example/x"_s);
    p.window.txtStatus()->setPlainText(u"first"_s);
    // The slow part is the one running at the second press.
    if (running == u"picture upload"_s)
        p.pictureHost.setDelivery(HttpTestDelivery::chunks(16, 30));
    else
        p.api.setDelivery(HttpTestDelivery::chunks(16, 30));
    QSignalSpy sent(&p.window.client(), &MicroblogClient::requestSent);
    p.window.btnSend()->click();
    QVERIFY(p.window.isPosting());
    if (running == u"picture upload"_s)
        QTRY_COMPARE_WITH_TIMEOUT(p.pictureHost.requestCount(), 1, 5000);
    else
        QTRY_COMPARE_WITH_TIMEOUT(p.api.requestCount(), 1, 5000);
    QVERIFY(p.window.isPosting());
    const QString shownReply = p.window.txtResponse()->toPlainText();
    p.window.btnSend()->click();
    // The press changed nothing: the message, the reply box and the requests stay the first post's.
    QCOMPARE(p.window.lblMsg()->text(), u"投稿中..."_s);
    QVERIFY(p.window.txtResponse()->toPlainText().startsWith(shownReply));
    QTRY_VERIFY_WITH_TIMEOUT(!p.window.isPosting(), 15000);
    QCOMPARE(p.window.lblMsg()->text(),
             picture ? u"投稿を完了しました: http://pic.example/x"_s : u"投稿が完了しました。"_s);
    QTest::qWait(300);
    QCOMPARE(p.api.requestCount(), 1);
    QCOMPARE(p.pictureHost.requestCount(), picture ? 1 : 0);
    QCOMPARE(sent.size(), picture ? 1 : 0);
    QVERIFY(p.boxes.shown().isEmpty());
    if (picture)
        QVERIFY(
            p.window.txtResponse()->toPlainText().contains(u"<mediaurl>http://pic.example/x</mediaurl>"_s));
    QVERIFY(p.window.txtStatus()->toPlainText().isEmpty());
}

// The login, password and proxy come from the settings model as each post starts: a change made
// in the model (not in the dialog's fields) and a proxy changed in the store apply to the next post.
void TestPostingWindow::readsTheSettingsModel()
{
    Posting p;
    p.window.txtStatus()->setPlainText(u"one"_s);
    p.window.btnSend()->click();
    QTRY_COMPARE_WITH_TIMEOUT(p.window.lblMsg()->text(), u"投稿が完了しました。"_s, 10000);
    QCOMPARE(p.proxy.requestCount(), 0);

    p.api.setAccount("hanako", "h pass");
    p.model.setText(SettingKey::TwitterLogin, u"hanako"_s);
    p.model.setText(SettingKey::TwitterPass, u"h pass"_s);
    p.useProxy(true);
    QCOMPARE(p.settings.txtLogin()->text(), kLogin);
    p.window.txtStatus()->setPlainText(u"two"_s);
    p.window.btnSend()->click();
    QTRY_COMPARE_WITH_TIMEOUT(p.window.lblMsg()->text(), u"投稿が完了しました。"_s, 10000);
    QCOMPARE(p.api.requestCount(), 2);
    QCOMPARE(p.api.lastRequest().header("Authorization"), "Basic " + QByteArray("hanako:h pass").toBase64());
    QCOMPARE(p.proxy.requestCount(), 1);
    QVERIFY(p.boxes.shown().isEmpty());
}

QTEST_MAIN(TestPostingWindow)
#include "tst_postingwindow.moc"
