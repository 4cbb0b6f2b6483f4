// The main window's layout rule: as a pure function over twips, and applied by a real window.
#include "app/ui/MainLayout.h"
#include "app/ui/frmMain.h"

#include <QCheckBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

using namespace linvera;

class TestMainLayout : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void rule_data();
    void rule();
    void ruleKeepsLeftEdgesAndUpperTops_data();
    void ruleKeepsLeftEdgesAndUpperTops();
    void ruleFitsShownThumbnail_data();
    void ruleFitsShownThumbnail();
    void designedWindow();
    void windowFollowsResize_data();
    void windowFollowsResize();
    void windowSnapsToMinimum_data();
    void windowSnapsToMinimum();
    void outerSizeRoundTrip();

private:
    static void requireFifteenTwipsPerPixel(const QWidget& widget);
};

void TestMainLayout::requireFifteenTwipsPerPixel(const QWidget& widget)
{
    const TwipScale scale = TwipScale::of(&widget);
    if (scale.x != 15 || scale.y != 15)
        QSKIP("the window rows are whole pixels at 96 logical dots per inch");
}

void TestMainLayout::rule_data()
{
    QTest::addColumn<double>("width");
    QTest::addColumn<double>("height");
    QTest::addColumn<double>("laidWidth");
    QTest::addColumn<double>("laidHeight");
    QTest::addColumn<double>("resultBoxHeight");
    QTest::addColumn<double>("bottomRowTop");
    QTest::addColumn<double>("messageTop");
    QTest::addColumn<double>("textBoxWidth");
    QTest::addColumn<double>("startConvLeft");
    QTest::addColumn<double>("noticeLeft");
    QTest::addColumn<double>("windowCaptureLeft");
    QTest::addColumn<double>("regionCaptureLeft");

    QTest::newRow("10000 twips wide") << 10000.0 << 3705.0 << 10000.0 << 3705.0 << 985.0 << 2400.0 << 2500.0
                                      << 8050.0 << 8845.0 << 6985.0 << 6430.0 << 5875.0;
    QTest::newRow("designed outer size") << 9915.0 << 3705.0 << 9915.0 << 3705.0 << 985.0 << 2400.0 << 2500.0
                                         << 7965.0 << 8760.0 << 6900.0 << 6345.0 << 5790.0;
    QTest::newRow("height below minimum snaps to 2800")
        << 9915.0 << 1000.0 << 9915.0 << 2800.0 << 80.0 << 1495.0 << 1595.0 << 7965.0 << 8760.0 << 6900.0
        << 6345.0 << 5790.0;
    QTest::newRow("width below minimum snaps to 2800")
        << 100.0 << 3705.0 << 2800.0 << 3705.0 << 985.0 << 2400.0 << 2500.0 << 850.0 << 1645.0 << -215.0
        << -770.0 << -1325.0;
    QTest::newRow("both sides one twip below minimum")
        << 2799.0 << 2799.0 << 2800.0 << 2800.0 << 80.0 << 1495.0 << 1595.0 << 850.0 << 1645.0 << -215.0
        << -770.0 << -1325.0;
    QTest::newRow("exactly the minimum stays") << 2800.0 << 2800.0 << 2800.0 << 2800.0 << 80.0 << 1495.0
                                               << 1595.0 << 850.0 << 1645.0 << -215.0 << -770.0 << -1325.0;
    QTest::newRow("large window") << 20000.0 << 12000.0 << 20000.0 << 12000.0 << 9280.0 << 10695.0 << 10795.0
                                  << 18050.0 << 18845.0 << 16985.0 << 16430.0 << 15875.0;
}

void TestMainLayout::rule()
{
    QFETCH(double, width);
    QFETCH(double, height);
    const MainLayoutPass pass = ResizeLayout(MainGeometry::designed(), width, height, std::nullopt);
    const MainGeometry& g = pass.geometry;

    QTEST(pass.width, "laidWidth");
    QTEST(pass.height, "laidHeight");
    QTEST(g.txtAfterDecode.height, "resultBoxHeight");
    QTEST(g.imgPictThumb.height, "resultBoxHeight");
    QTEST(g.btnTwitpic.top, "bottomRowTop");
    QTEST(g.btnTwitpicWindow.top, "bottomRowTop");
    QTEST(g.btnNotice.top, "bottomRowTop");
    QTEST(g.lblMsg.top, "messageTop");
    QTEST(g.txtBeforeUrl.width, "textBoxWidth");
    QTEST(g.txtBeforeDecode.width, "textBoxWidth");
    QTEST(g.txtAfterUrl.width, "textBoxWidth");
    QTEST(g.txtAfterDecode.width, "textBoxWidth");
    QTEST(g.btnStartConv.left, "startConvLeft");
    QTEST(g.chkClipboard.left, "startConvLeft");
    QTEST(g.btnNotice.left, "noticeLeft");
    QTEST(g.btnTwitpicWindow.left, "windowCaptureLeft");
    QTEST(g.btnTwitpic.left, "regionCaptureLeft");
    // A hidden thumbnail keeps its width.
    QCOMPARE(g.imgPictThumb.width, 2415.0);
}

void TestMainLayout::ruleKeepsLeftEdgesAndUpperTops_data()
{
    QTest::addColumn<double>("width");
    QTest::addColumn<double>("height");
    QTest::newRow("wide and tall") << 15000.0 << 9000.0;
    QTest::newRow("below minimum") << 500.0 << 500.0;
}

void TestMainLayout::ruleKeepsLeftEdgesAndUpperTops()
{
    QFETCH(double, width);
    QFETCH(double, height);
    const MainGeometry designed = MainGeometry::designed();
    const MainGeometry g = ResizeLayout(designed, width, height, std::nullopt).geometry;

    for (auto member : {&MainGeometry::Label1, &MainGeometry::txtBeforeUrl, &MainGeometry::txtBeforeDecode,
                        &MainGeometry::Label2, &MainGeometry::txtAfterUrl, &MainGeometry::txtAfterDecode}) {
        QCOMPARE((g.*member).left, (designed.*member).left);
        QCOMPARE((g.*member).top, (designed.*member).top);
    }
    QCOMPARE(g.lblMsg.left, 60.0);
    QCOMPARE(g.btnStartConv.top, 60.0);
    QCOMPARE(g.chkClipboard.top, 900.0);
    QCOMPARE(g.btnStartConv.width, 855.0);
    QCOMPARE(g.btnNotice.width, 2715.0);
    // The hidden posting buttons are not part of the rule.
    QCOMPARE(g.btnTwitpicFromFile, designed.btnTwitpicFromFile);
    QCOMPARE(g.btnTwitter, designed.btnTwitter);
}

void TestMainLayout::ruleFitsShownThumbnail_data()
{
    QTest::addColumn<double>("pictureWidth");
    QTest::addColumn<double>("pictureHeight");
    QTest::addColumn<double>("thumbWidth");
    QTest::addColumn<double>("thumbHeight");
    QTest::addColumn<double>("startConvLeft");

    // Box of a 10000 × 3705 window: 8050 × 985.
    QTest::newRow("wide picture fills the height") << 3000.0 << 1500.0 << 1970.0 << 985.0 << 8845.0;
    QTest::newRow("tall picture fills the height") << 1500.0 << 6000.0 << 246.25 << 985.0 << 8845.0;
    QTest::newRow("very wide picture fills the width") << 16100.0 << 1000.0 << 8050.0 << 500.0 << 8845.0;
    // The fit fails: the thumbnail keeps its width and the height of step 3, the buttons still move.
    QTest::newRow("zero-size picture") << 0.0 << 0.0 << 2415.0 << 985.0 << 8845.0;
}

void TestMainLayout::ruleFitsShownThumbnail()
{
    QFETCH(double, pictureWidth);
    QFETCH(double, pictureHeight);
    const MainGeometry g =
        ResizeLayout(MainGeometry::designed(), 10000, 3705, TwipSize{pictureWidth, pictureHeight}).geometry;
    QTEST(g.imgPictThumb.width, "thumbWidth");
    QTEST(g.imgPictThumb.height, "thumbHeight");
    QCOMPARE(g.imgPictThumb.left, 720.0);
    QCOMPARE(g.imgPictThumb.top, 1320.0);
    QTEST(g.btnStartConv.left, "startConvLeft");
}

void TestMainLayout::designedWindow()
{
    frmMain window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    requireFifteenTwipsPerPixel(window);

    // The designed client area with the frame allowance is the outer size the rule sees.
    QTRY_COMPARE(window.outerGeometryTwips().size(), QSizeF(9915, 3705));
    const MainGeometry& g = window.layoutGeometry();
    QCOMPARE(g.btnStartConv.left, 8760.0);
    QCOMPARE(g.btnNotice.left, 6900.0);
    QCOMPARE(g.btnNotice.top, 2400.0);
    QCOMPARE(window.btnStartConv()->geometry(), QRect(584, 4, 57, 33));
    QCOMPARE(window.btnNotice()->geometry(), QRect(460, 160, 181, 25));
    QCOMPARE(window.txtBeforeUrl()->geometry(), QRect(48, 8, 531, 21));
}

void TestMainLayout::windowFollowsResize_data()
{
    QTest::addColumn<double>("width");
    QTest::addColumn<double>("height");
    QTest::addColumn<QRect>("startConv");
    QTest::addColumn<QRect>("clipboard");
    QTest::addColumn<QRect>("notice");
    QTest::addColumn<QRect>("windowCapture");
    QTest::addColumn<QRect>("regionCapture");
    QTest::addColumn<QRect>("beforeUrl");
    QTest::addColumn<QRect>("afterDecode");
    QTest::addColumn<int>("messageTop");

    // 10020 × 3705 twips: btnStartConv 8865, btnNotice 7005, window capture 6450, region capture 5895,
    // text boxes 8070 wide, result box 985 high, bottom row at 2400, message line at 2500.
    QTest::newRow("10020 x 3705") << 10020.0 << 3705.0 << QRect(591, 4, 57, 33) << QRect(591, 60, 53, 25)
                                  << QRect(467, 160, 181, 25) << QRect(430, 160, 33, 25)
                                  << QRect(393, 160, 33, 25) << QRect(48, 8, 538, 21)
                                  << QRect(48, 88, 538, 66) << 167;
    // 12015 × 6000 twips: btnStartConv 10860, btnNotice 9000, window capture 8445, region capture 7890,
    // text boxes 10065 wide, result box 3280 high, bottom row at 4695, message line at 4795.
    QTest::newRow("12015 x 6000") << 12015.0 << 6000.0 << QRect(724, 4, 57, 33) << QRect(724, 60, 53, 25)
                                  << QRect(600, 313, 181, 25) << QRect(563, 313, 33, 25)
                                  << QRect(526, 313, 33, 25) << QRect(48, 8, 671, 21)
                                  << QRect(48, 88, 671, 219) << 320;
}

void TestMainLayout::windowFollowsResize()
{
    QFETCH(double, width);
    QFETCH(double, height);
    frmMain window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    requireFifteenTwipsPerPixel(window);

    window.setOuterSizeTwips(width, height);
    QTRY_COMPARE(window.outerGeometryTwips().size(), QSizeF(width, height));
    QTEST(window.btnStartConv()->geometry(), "startConv");
    QFETCH(QRect, clipboard);
    QCOMPARE(window.chkClipboard()->geometry().topLeft(), clipboard.topLeft());
    QVERIFY(window.chkClipboard()->width() >= clipboard.width());
    QTEST(window.btnNotice()->geometry(), "notice");
    QTEST(window.findChild<QPushButton*>(QStringLiteral("btnTwitpicWindow"))->geometry(), "windowCapture");
    QTEST(window.findChild<QPushButton*>(QStringLiteral("btnTwitpic"))->geometry(), "regionCapture");
    QTEST(window.txtBeforeUrl()->geometry(), "beforeUrl");
    QCOMPARE(window.txtAfterUrl()->width(), window.txtBeforeUrl()->width());
    QCOMPARE(window.txtBeforeDecode()->width(), window.txtBeforeUrl()->width());
    QTEST(window.txtAfterDecode()->geometry(), "afterDecode");
    QTEST(window.lblMsg()->y(), "messageTop");
    QCOMPARE(window.lblMsg()->x(), 4);
}

void TestMainLayout::windowSnapsToMinimum_data()
{
    QTest::addColumn<QSize>("request");
    QTest::addColumn<bool>("widthSnaps");
    QTest::addColumn<bool>("heightSnaps");
    QTest::newRow("both sides too small") << QSize(20, 20) << true << true;
    QTest::newRow("only the height too small") << QSize(700, 30) << false << true;
    QTest::newRow("only the width too small") << QSize(40, 400) << true << false;
}

void TestMainLayout::windowSnapsToMinimum()
{
    QFETCH(QSize, request);
    QFETCH(bool, widthSnaps);
    QFETCH(bool, heightSnaps);
    frmMain window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    requireFifteenTwipsPerPixel(window);

    window.resize(request);
    // The smallest whole-pixel client area at or above 2800 twips outer: 178 × 140 pixels, 2805 twips.
    if (widthSnaps)
        QTRY_COMPARE(window.outerGeometryTwips().width(), 2805.0);
    if (heightSnaps)
        QTRY_COMPARE(window.outerGeometryTwips().height(), 2805.0);
    QTRY_VERIFY(window.layoutGeometry().txtBeforeUrl.width == window.outerGeometryTwips().width() - 1950);
    const QSizeF outer = window.outerGeometryTwips().size();
    const MainGeometry& g = window.layoutGeometry();
    if (widthSnaps) {
        QCOMPARE(g.txtBeforeUrl.width, 855.0);
        QCOMPARE(g.btnStartConv.left, 1650.0);
    } else {
        QVERIFY(outer.width() > 2805);
    }
    if (heightSnaps) {
        QCOMPARE(g.txtAfterDecode.height, 85.0);
        QCOMPARE(g.btnNotice.top, 1500.0);
    } else {
        QVERIFY(outer.height() > 2805);
    }
}

void TestMainLayout::outerSizeRoundTrip()
{
    frmMain window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    requireFifteenTwipsPerPixel(window);
    window.setOuterSizeTwips(11835, 4305);
    QTRY_COMPARE(window.outerGeometryTwips().size(), QSizeF(11835, 4305));
    window.setOuterPositionTwips(1500, 750);
    QTRY_COMPARE(window.outerGeometryTwips().topLeft(), QPointF(1500, 750));
}

QTEST_MAIN(TestMainLayout)
#include "tst_mainlayout.moc"
