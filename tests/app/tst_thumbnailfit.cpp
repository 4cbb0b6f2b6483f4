// Fitting the preview picture into the result box: the pure rule and the main window's thumbnail.
#include "app/ui/PictureLabel.h"
#include "app/ui/ThumbnailFit.h"
#include "app/ui/Twips.h"
#include "app/ui/frmMain.h"

#include <QImage>
#include <QLabel>
#include <QTest>

using namespace linvera;

class TestThumbnailFit : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void fit_data();
    void fit();
    void noFit_data();
    void noFit();
    void windowThumbnail_data();
    void windowThumbnail();
    void windowKeepsThumbnailWithoutPicture();
    void thumbnailRefitsOnResize();
};

void TestThumbnailFit::fit_data()
{
    QTest::addColumn<double>("pw");
    QTest::addColumn<double>("ph");
    QTest::addColumn<double>("bw");
    QTest::addColumn<double>("bh");
    QTest::addColumn<double>("width");
    QTest::addColumn<double>("height");

    QTest::newRow("200x100 in 7935x870 fills the height")
        << 200.0 << 100.0 << 7935.0 << 870.0 << 1740.0 << 870.0;
    QTest::newRow("100x400 in 7935x870 fills the height")
        << 100.0 << 400.0 << 7935.0 << 870.0 << 217.5 << 870.0;
    QTest::newRow("wide picture in a tall box fills the width")
        << 400.0 << 100.0 << 1000.0 << 2000.0 << 1000.0 << 250.0;
    QTest::newRow("equal ratios take the width branch") << 100.0 << 50.0 << 800.0 << 400.0 << 800.0 << 400.0;
    QTest::newRow("picture sizes are rounded first") << 199.6 << 100.4 << 7935.0 << 870.0 << 1740.0 << 870.0;
    QTest::newRow("half rounds to even") << 2.5 << 1.0 << 100.0 << 1000.0 << 100.0 << 50.0;
    QTest::newRow("box of zero height") << 200.0 << 100.0 << 7935.0 << 0.0 << 0.0 << 0.0;
}

void TestThumbnailFit::fit()
{
    QFETCH(double, pw);
    QFETCH(double, ph);
    QFETCH(double, bw);
    QFETCH(double, bh);
    const auto size = FitThumbnail(pw, ph, bw, bh);
    QVERIFY(size.has_value());
    QTEST(size->width, "width");
    QTEST(size->height, "height");
}

void TestThumbnailFit::noFit_data()
{
    QTest::addColumn<double>("pw");
    QTest::addColumn<double>("ph");
    QTest::addColumn<double>("bw");
    QTest::addColumn<double>("bh");
    QTest::newRow("zero width picture") << 0.0 << 100.0 << 7935.0 << 870.0;
    QTest::newRow("zero height picture") << 200.0 << 0.0 << 7935.0 << 870.0;
    QTest::newRow("zero size picture") << 0.0 << 0.0 << 7935.0 << 870.0;
    QTest::newRow("picture rounding to zero") << 0.4 << 100.0 << 7935.0 << 870.0;
    QTest::newRow("box without width") << 200.0 << 100.0 << 0.0 << 870.0;
    QTest::newRow("box of negative height") << 200.0 << 100.0 << 7935.0 << -10.0;
}

void TestThumbnailFit::noFit()
{
    QFETCH(double, pw);
    QFETCH(double, ph);
    QFETCH(double, bw);
    QFETCH(double, bh);
    QVERIFY(!FitThumbnail(pw, ph, bw, bh).has_value());
}

void TestThumbnailFit::windowThumbnail_data()
{
    QTest::addColumn<QSize>("picture");
    QTest::addColumn<double>("width");
    QTest::addColumn<double>("height");
    // The designed window's result box is 7965 × 985 twips; pictures count 15 twips per pixel.
    QTest::newRow("wide 200x100") << QSize(200, 100) << 1970.0 << 985.0;
    QTest::newRow("tall 100x400") << QSize(100, 400) << 246.25 << 985.0;
    QTest::newRow("panorama 2000x100") << QSize(2000, 100) << 7965.0 << 398.25;
}

void TestThumbnailFit::windowThumbnail()
{
    QFETCH(QSize, picture);
    frmMain window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    if (TwipScale::of(&window).x != 15)
        QSKIP("the rows assume 96 logical dots per inch");
    QTRY_COMPARE(window.outerGeometryTwips().size(), QSizeF(9915, 3705));

    QImage image(picture, QImage::Format_RGB32);
    image.fill(Qt::red);
    window.setThumbnail(image);
    window.setThumbnailVisible(true);

    const TwipRect thumb = window.layoutGeometry().imgPictThumb;
    QTEST(thumb.width, "width");
    QTEST(thumb.height, "height");
    QCOMPARE(thumb.left, 720.0);
    QCOMPARE(thumb.top, 1320.0);
    QCOMPARE(window.imgPictThumb()->geometry(), TwipScale::of(&window).toPixels(thumb));
    QVERIFY(window.imgPictThumb()->isVisible());
    // The full picture is kept at its own size in the hidden picture box.
    QVERIFY(window.picPictThumb()->isHidden());
    QCOMPARE(window.picPictThumb()->size(), picture);
}

void TestThumbnailFit::windowKeepsThumbnailWithoutPicture()
{
    frmMain window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QImage image(200, 100, QImage::Format_RGB32);
    image.fill(Qt::blue);
    window.setThumbnail(image);
    window.setThumbnailVisible(true);
    const double fittedWidth = window.layoutGeometry().imgPictThumb.width;

    // A cleared picture cannot be fitted: the thumbnail keeps its width while the window is resized.
    window.setThumbnail(QImage());
    const QSizeF outer = window.outerGeometryTwips().size();
    window.setOuterSizeTwips(outer.width() + 1500, outer.height() + 1500);
    QTRY_VERIFY(window.outerGeometryTwips().width() > outer.width());
    QCOMPARE(window.layoutGeometry().imgPictThumb.width, fittedWidth);
    QVERIFY(window.layoutGeometry().btnStartConv.left > MainGeometry::designed().btnStartConv.left);
    QVERIFY(window.imgPictThumb()->pixmap().isNull());
}

void TestThumbnailFit::thumbnailRefitsOnResize()
{
    frmMain window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    if (TwipScale::of(&window).x != 15)
        QSKIP("the rows assume 96 logical dots per inch");
    QImage image(200, 100, QImage::Format_RGB32);
    image.fill(Qt::green);
    window.setThumbnail(image);
    window.setThumbnailVisible(true);

    // 9915 × 4005: result box 7965 × 1285, so the wide picture becomes 2570 × 1285.
    window.setOuterSizeTwips(9915, 4005);
    QTRY_COMPARE(window.layoutGeometry().imgPictThumb.height, 1285.0);
    QCOMPARE(window.layoutGeometry().imgPictThumb.width, 2570.0);

    // Hidden, the thumbnail only takes the box's height.
    window.setThumbnailVisible(false);
    window.setOuterSizeTwips(9915, 3705);
    QTRY_COMPARE(window.layoutGeometry().imgPictThumb.height, 985.0);
    QCOMPARE(window.layoutGeometry().imgPictThumb.width, 2570.0);
}

QTEST_MAIN(TestThumbnailFit)
#include "tst_thumbnailfit.moc"
