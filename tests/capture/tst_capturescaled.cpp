// Region capture on a screen scaled by two (QT_SCALE_FACTOR=2): the overlay covers the desktop in
// logical coordinates, and the saved picture holds the device pixels inside the dragged border.
#include "CaptureProblems.h"
#include "RecordingMessageBoxes.h"
#include "ScreenFixtures.h"
#include "capture/CaptureController.h"
#include "capture/frmScreen.h"

#include <QGuiApplication>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace linvera::capture;

class TestCaptureScaled : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void dragSavesDevicePixels_data();
    void dragSavesDevicePixels();

private:
    RecordingMessageBoxes m_boxes;
    XTestInput m_input;
};

void TestCaptureScaled::initTestCase()
{
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
    QCOMPARE(QGuiApplication::primaryScreen()->devicePixelRatio(), 2.0);
}

void TestCaptureScaled::dragSavesDevicePixels_data()
{
    QTest::addColumn<QPoint>("from"); // device pixels, as the pointer moves on the root window
    QTest::addColumn<QPoint>("to");
    QTest::newRow("even corners") << QPoint(150, 130) << QPoint(450, 330);
    // Qt reports pointer positions on whole logical pixels: a scaled screen is dragged on even device pixels.
    QTest::newRow("right to left") << QPoint(452, 332) << QPoint(152, 132);
    QTest::newRow("partly outside the pattern window") << QPoint(600, 400) << QPoint(760, 520);
}

void TestCaptureScaled::dragSavesDevicePixels()
{
    QFETCH(QPoint, from);
    QFETCH(QPoint, to);
    PatternWindow window(QRect(50, 50, 300, 200), 3);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTemporaryDir dir;
    CaptureController controller(linvera::platform::CreateWindowSystem());
    ShowProblems(controller, m_boxes);
    controller.setTarget(CaptureTarget{dir.filePath(QStringLiteral("Desktop")),
                                       dir.filePath(QStringLiteral("tmp")), PictureFormat::Png});
    QSignalSpy shown(&controller, &CaptureController::overlayShown);
    QSignalSpy saved(&controller, &CaptureController::pictureSaved);
    controller.captureRegion();
    QVERIFY(shown.wait(5000));
    QVERIFY(QTest::qWaitForWindowExposed(controller.overlay()));
    QCOMPARE(controller.overlay()->geometry(), QGuiApplication::primaryScreen()->virtualGeometry());
    // What the screen shows under the overlay, straight from the server, before the drag.
    const int left = std::min(from.x(), to.x());
    const int top = std::min(from.y(), to.y());
    const QRect inner(left + 1, top + 1, std::abs(to.x() - from.x()) - 2, std::abs(to.y() - from.y()) - 2);
    const QImage expected = RootPixels(inner);
    QVERIFY(!expected.isNull());

    m_input.moveTo(from);
    m_input.press();
    m_input.moveTo((from + to) / 2);
    m_input.moveTo(to);
    m_input.release();
    QVERIFY(saved.count() == 1 || saved.wait(5000));
    const QImage picture = QImage(saved.at(0).at(0).toString()).convertToFormat(QImage::Format_RGB32);
    QCOMPARE(picture.size(), inner.size());
    QCOMPARE(picture, expected);
}

QTEST_MAIN(TestCaptureScaled)
#include "tst_capturescaled.moc"
