// The posting window as loaded at start-up: its controls, the picture box size, hide-on-close.
#include "PictureLabel.h"
#include "TestHome.h"
#include "Twips.h"
#include "frmTwitter.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

using namespace linvera;
using namespace Qt::StringLiterals;

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

LINVERA_APP_TEST_MAIN(TestPostingWindow)
#include "tst_postingwindow.moc"
