#include "CaptureProblems.h"
#include "RecordingMessageBoxes.h"
#include "ScreenFixtures.h"
#include "capture/CaptureController.h"
#include "capture/frmScreen.h"
#include "capture/frmWindowCapture.h"
#include "platform/WindowSystem.h"

#include <QDir>
#include <QGuiApplication>
#include <QImageReader>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace linvera::capture;
using linvera::platform::WindowSystem;

namespace {

const QDateTime Moment(QDate(2014, 1, 5), QTime(9, 5, 7));
constexpr int WaitMs = 5000;

// The live screen at a rectangle, as the pixels the user sees.
QImage ScreenAt(const QRect& r)
{
    return QGuiApplication::primaryScreen()
        ->grabWindow(0, r.x(), r.y(), r.width(), r.height())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

} // namespace

class TestCapture : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void regionDragSavesTheScreenPixels_data();
    void regionDragSavesTheScreenPixels();
    void regionHidesTheWindowsForTheSnapshot();
    void regionReleaseWithoutSizeKeepsTheOverlay();
    void regionEscapeSavesNothing();
    void regionTwoPixelsWideSavesNothing();
    void regionFailedGrabChangesNothing();
    void withoutX11BothCommandsRefuse();

    void windowSystemFindsFramesAndTitles();
    void windowDragFramesEachWindowAndSavesTheLastOne();
    void windowReleaseBeforeAnyMoveBringsTheMainWindowBack();

private:
    std::unique_ptr<CaptureController> makeController(std::unique_ptr<WindowSystem> windows = {});
    QStringList desktopFiles() const
    {
        return QDir(m_target.desktopFolder).entryList(QDir::Files, QDir::Name);
    }
    void drag(const QList<QPoint>& path);

    std::unique_ptr<QTemporaryDir> m_dir;
    CaptureTarget m_target;
    RecordingMessageBoxes m_boxes;
    XTestInput m_input;
    std::unique_ptr<PatternWindow> m_main;
    std::unique_ptr<PatternWindow> m_windowA;
    std::unique_ptr<PatternWindow> m_windowB;
};

void TestCapture::initTestCase()
{
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
    QVERIFY(m_input.isOpen());
}

void TestCapture::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_target = CaptureTarget{m_dir->filePath(QStringLiteral("Desktop")),
                             m_dir->filePath(QStringLiteral("tmp")), PictureFormat::Png};
    m_boxes.clear();
    // Two windows to capture, and a stand-in for the main window that must not be in any picture.
    m_windowA = std::make_unique<PatternWindow>(QRect(100, 100, 300, 200), 0, QStringLiteral(u"窓A"));
    m_windowB = std::make_unique<PatternWindow>(QRect(500, 100, 300, 200), 1, QStringLiteral(u"窓B"));
    m_main = std::make_unique<PatternWindow>(QRect(150, 150, 120, 80), 2, QStringLiteral("main"));
    for (QWidget* w : {m_windowA.get(), m_windowB.get(), m_main.get()}) {
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
    }
    m_input.moveTo(QPoint(1200, 1000));
}

void TestCapture::cleanup()
{
    m_main.reset();
    m_windowA.reset();
    m_windowB.reset();
}

std::unique_ptr<CaptureController> TestCapture::makeController(std::unique_ptr<WindowSystem> windows)
{
    auto controller = std::make_unique<CaptureController>(windows ? std::move(windows)
                                                                  : linvera::platform::CreateWindowSystem());
    ShowProblems(*controller, m_boxes);
    controller->setWindowsToHide([this] { return QList<QWidget*>{m_main.get()}; });
    controller->setTarget(m_target);
    controller->setClock([] { return Moment; });
    controller->setLocale(QLocale(QLocale::Japanese, QLocale::Japan));
    return controller;
}

void TestCapture::drag(const QList<QPoint>& path)
{
    m_input.moveTo(path.first());
    m_input.press();
    for (qsizetype i = 1; i < path.size(); ++i)
        m_input.moveTo(path[i]);
    m_input.release();
}

void TestCapture::regionDragSavesTheScreenPixels_data()
{
    QTest::addColumn<QPoint>("from");
    QTest::addColumn<QPoint>("to");
    QTest::addColumn<PictureFormat>("format");
    // The main window (150,150 to 270,230) is hidden for the snapshot: window A's pattern is all there is.
    QTest::newRow("left to right, PNG") << QPoint(120, 110) << QPoint(320, 260) << PictureFormat::Png;
    QTest::newRow("right to left, PNG") << QPoint(320, 260) << QPoint(120, 110) << PictureFormat::Png;
    QTest::newRow("bottom-left to top-right, PNG")
        << QPoint(120, 260) << QPoint(320, 110) << PictureFormat::Png;
    QTest::newRow("left to right, JPEG") << QPoint(120, 110) << QPoint(320, 260) << PictureFormat::Jpeg;
}

void TestCapture::regionDragSavesTheScreenPixels()
{
    QFETCH(QPoint, from);
    QFETCH(QPoint, to);
    QFETCH(PictureFormat, format);
    m_target.format = format;
    auto controller = makeController();
    QSignalSpy shown(controller.get(), &CaptureController::overlayShown);
    QSignalSpy saved(controller.get(), &CaptureController::pictureSaved);
    QSignalSpy message(controller.get(), &CaptureController::statusMessage);
    controller->captureRegion();
    QVERIFY(shown.wait(WaitMs));
    QVERIFY(QTest::qWaitForWindowExposed(controller->overlay()));
    QVERIFY(m_main->isVisible());

    // Several moves, as a hand makes them: only the last one counts.
    const QPoint middle((from.x() + to.x()) / 2, (from.y() + to.y()) / 2);
    drag({from, middle, QPoint(to.x() + 30, to.y() - 20), to});
    QVERIFY(saved.count() == 1 || saved.wait(WaitMs));
    QTRY_VERIFY(controller->overlay() == nullptr);

    const QString post = saved.at(0).at(0).toString();
    const QString display = saved.at(0).at(1).toString();
    const QString extension = format == PictureFormat::Png ? QStringLiteral("png") : QStringLiteral("jpg");
    QCOMPARE(post, m_target.desktopFolder + QStringLiteral("/2014_01_05_9_05_07.") + extension);
    QCOMPARE(display, m_target.tempFolder + QStringLiteral("/hvxLinveraPreview.") + extension);
    QCOMPARE(message.at(0).at(0).toString(), QStringLiteral(u"ｷｬﾌﾟﾁｬ画像をﾃﾞｽｸﾄｯﾌﾟに保存しました。"));
    QVERIFY(m_boxes.shown().isEmpty());

    // Inside a one-pixel border: from left + 1, right - left - 2 wide, whichever way the drag went.
    const int left = std::min(from.x(), to.x());
    const int top = std::min(from.y(), to.y());
    const QRect inner(left + 1, top + 1, std::abs(to.x() - from.x()) - 2, std::abs(to.y() - from.y()) - 2);
    const QImage picture = QImage(post).convertToFormat(QImage::Format_RGB32);
    QCOMPARE(picture.size(), inner.size());
    QCOMPARE(QImageReader(post).format(),
             format == PictureFormat::Png ? QByteArray("png") : QByteArray("jpeg"));
    if (format == PictureFormat::Png) {
        const QString mismatch = FirstPatternMismatch(picture, inner.topLeft());
        QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
        QCOMPARE(QImage(display).convertToFormat(QImage::Format_RGB32), picture);
    }
}

void TestCapture::regionHidesTheWindowsForTheSnapshot()
{
    auto controller = makeController();
    QImage snapshot;
    bool mainVisibleAtGrab = true;
    controller->setScreenGrabber([&] {
        // What the screen holds at the moment of the grab.
        const DesktopPicture picture = CaptureController::GrabDesktop();
        snapshot = picture.image;
        snapshot.setDevicePixelRatio(1.0);
        mainVisibleAtGrab = m_main->isVisible();
        return picture;
    });
    QSignalSpy shown(controller.get(), &CaptureController::overlayShown);
    controller->captureRegion();
    QVERIFY(!m_main->isVisible());
    QVERIFY(shown.wait(WaitMs));
    QVERIFY(!mainVisibleAtGrab);
    QVERIFY(m_main->isVisible());
    // Where the main window stands, the snapshot shows window A below it.
    const QString mismatch =
        FirstPatternMismatch(snapshot.copy(m_main->geometry()).convertToFormat(QImage::Format_RGB32),
                             m_main->geometry().topLeft());
    QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
    // The overlay lies above the main window shown again.
    QVERIFY(controller->overlay()->isVisible());
    QCOMPARE(controller->overlay()->geometry(), QGuiApplication::primaryScreen()->virtualGeometry());
}

void TestCapture::regionReleaseWithoutSizeKeepsTheOverlay()
{
    auto controller = makeController();
    QSignalSpy shown(controller.get(), &CaptureController::overlayShown);
    QSignalSpy done(controller.get(), &CaptureController::finished);
    controller->captureRegion();
    QVERIFY(shown.wait(WaitMs));
    QVERIFY(QTest::qWaitForWindowExposed(controller->overlay()));
    drag({QPoint(200, 200)});                                     // no move at all
    drag({QPoint(200, 200), QPoint(260, 200)});                   // no height
    drag({QPoint(200, 200), QPoint(260, 260), QPoint(200, 260)}); // no width at the last move
    QTest::qWait(200);
    QVERIFY(controller->overlay() != nullptr);
    QVERIFY(done.isEmpty());
    QVERIFY(desktopFiles().isEmpty());
    // Another drag on the same overlay still captures.
    QSignalSpy saved(controller.get(), &CaptureController::pictureSaved);
    drag({QPoint(110, 110), QPoint(150, 150)});
    QVERIFY(saved.count() == 1 || saved.wait(WaitMs));
    QCOMPARE(QImage(saved.at(0).at(0).toString()).size(), QSize(38, 38));
}

void TestCapture::regionEscapeSavesNothing()
{
    auto controller = makeController();
    QSignalSpy shown(controller.get(), &CaptureController::overlayShown);
    QSignalSpy saved(controller.get(), &CaptureController::pictureSaved);
    QSignalSpy done(controller.get(), &CaptureController::finished);
    controller->captureRegion();
    QVERIFY(shown.wait(WaitMs));
    QVERIFY(QTest::qWaitForWindowExposed(controller->overlay()));
    // Escape in the middle of a drag.
    m_input.moveTo(QPoint(120, 120));
    m_input.press();
    m_input.moveTo(QPoint(220, 220));
    m_input.key(EscapeKeycode);
    QVERIFY(done.count() == 1 || done.wait(WaitMs));
    m_input.release();
    QTRY_VERIFY(controller->overlay() == nullptr);
    QVERIFY(saved.isEmpty());
    QVERIFY(desktopFiles().isEmpty());
    QVERIFY(!QDir(m_target.tempFolder).exists());
}

void TestCapture::regionTwoPixelsWideSavesNothing()
{
    auto controller = makeController();
    QSignalSpy shown(controller.get(), &CaptureController::overlayShown);
    QSignalSpy done(controller.get(), &CaptureController::finished);
    QSignalSpy saved(controller.get(), &CaptureController::pictureSaved);
    controller->captureRegion();
    QVERIFY(shown.wait(WaitMs));
    QVERIFY(QTest::qWaitForWindowExposed(controller->overlay()));
    drag({QPoint(200, 120), QPoint(202, 300)});
    QVERIFY(done.count() == 1 || done.wait(WaitMs));
    QVERIFY(saved.isEmpty());
    QVERIFY(desktopFiles().isEmpty());
    QCOMPARE(m_boxes.shown().size(), 1);
}

void TestCapture::regionFailedGrabChangesNothing()
{
    auto controller = makeController();
    controller->setScreenGrabber([] { return DesktopPicture{}; });
    QSignalSpy done(controller.get(), &CaptureController::finished);
    QSignalSpy shown(controller.get(), &CaptureController::overlayShown);
    controller->captureRegion();
    QVERIFY(done.wait(WaitMs));
    QVERIFY(shown.isEmpty());
    QVERIFY(controller->overlay() == nullptr);
    QVERIFY(m_main->isVisible());
    QCOMPARE(m_boxes.texts(), QStringList{QStringLiteral(u"画面を取り込めませんでした。")});
}

void TestCapture::withoutX11BothCommandsRefuse()
{
    auto controller = makeController(std::make_unique<linvera::platform::NullWindowSystem>());
    QVERIFY(!controller->available());
    controller->captureRegion();
    controller->captureWindow();
    QCOMPARE(m_boxes.shown().size(), 2);
    for (const auto& box : m_boxes.shown())
        QVERIFY2(box.text.contains(QStringLiteral("X11")), qPrintable(box.text));
    QVERIFY(controller->overlay() == nullptr);
    QVERIFY(controller->windowDialog() == nullptr);
    QVERIFY(m_main->isVisible());
}

void TestCapture::windowSystemFindsFramesAndTitles()
{
    auto windows = linvera::platform::CreateWindowSystem();
    QVERIFY(windows->available());
    const auto a = WindowSystem::WindowId(m_windowA->winId());
    const auto b = WindowSystem::WindowId(m_windowB->winId());
    QCOMPARE(windows->topLevelAt(QPoint(110, 110)), a);
    QCOMPARE(windows->topLevelAt(QPoint(100, 100)), a);
    QCOMPARE(windows->topLevelAt(QPoint(399, 299)), a);
    QCOMPARE(windows->topLevelAt(QPoint(400, 300)), WindowSystem::WindowId(0));
    QCOMPARE(windows->topLevelAt(QPoint(600, 150)), b);
    // The main window lies over A: the topmost one is found.
    QCOMPARE(windows->topLevelAt(QPoint(160, 160)), WindowSystem::WindowId(m_main->winId()));
    QCOMPARE(windows->outerRect(a), QRect(100, 100, 300, 200));
    QCOMPARE(windows->title(a), QStringLiteral(u"窓A"));

    // The frame shows on the screen, is not a window of its own to the finder, and leaves A as it was.
    const QImage before = ScreenAt(m_windowA->geometry());
    windows->showFrame(a);
    windows->sync();
    QTRY_VERIFY(ScreenAt(m_windowA->geometry()) != before);
    QCOMPARE(windows->topLevelAt(QPoint(101, 101)), a);
    windows->hideFrame();
    windows->sync();
    QTRY_COMPARE(ScreenAt(m_windowA->geometry()), before);
}

void TestCapture::windowDragFramesEachWindowAndSavesTheLastOne()
{
    auto controller = makeController();
    QSignalSpy saved(controller.get(), &CaptureController::pictureSaved);
    QSignalSpy message(controller.get(), &CaptureController::statusMessage);
    controller->captureWindow();
    frmWindowCapture* dialog = controller->windowDialog();
    QVERIFY(dialog != nullptr);
    dialog->move(900, 500);
    QVERIFY(QTest::qWaitForWindowExposed(dialog));
    QCOMPARE(dialog->windowTitle(), QStringLiteral(u"画面キャプチャ"));
    QTRY_COMPARE(dialog->mapToGlobal(QPoint(0, 0)), QPoint(900, 500));
    const QImage before = ScreenAt(m_windowA->geometry());
    const auto a = WindowSystem::WindowId(m_windowA->winId());
    const auto b = WindowSystem::WindowId(m_windowB->winId());

    m_input.moveTo(dialog->mapToGlobal(QPoint(18, 18)));
    m_input.press();
    QTRY_VERIFY(!m_main->isVisible());
    QTest::qWait(CaptureController::WindowHideWaitMs);
    m_input.moveTo(QPoint(300, 250)); // A, below where the main window stood
    QTRY_COMPARE(dialog->framedWindow(), a);
    m_input.moveTo(QPoint(600, 200));
    QTRY_COMPARE(dialog->framedWindow(), b);
    m_input.moveTo(QPoint(250, 120));
    QTRY_COMPARE(dialog->framedWindow(), a);
    m_input.release();
    QVERIFY(saved.count() == 1 || saved.wait(WaitMs));
    QTRY_VERIFY(controller->windowDialog() == nullptr);
    QVERIFY(m_main->isVisible());
    QCOMPARE(message.size(), 1);

    const QImage picture = QImage(saved.at(0).at(0).toString()).convertToFormat(QImage::Format_RGB32);
    QCOMPARE(picture.size(), QSize(298, 198));
    // The main window was hidden for the whole drag, so A's pattern is everywhere in its picture.
    const QString mismatch = FirstPatternMismatch(picture, QPoint(101, 101));
    QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
    // The frames left no trace on A.
    m_main->hide();
    QTRY_COMPARE(ScreenAt(m_windowA->geometry()).copy(QRect(QPoint(0, 0), QSize(300, 50))),
                 before.copy(QRect(QPoint(0, 0), QSize(300, 50))));
}

void TestCapture::windowReleaseBeforeAnyMoveBringsTheMainWindowBack()
{
    auto controller = makeController();
    QSignalSpy saved(controller.get(), &CaptureController::pictureSaved);
    controller->captureWindow();
    frmWindowCapture* dialog = controller->windowDialog();
    dialog->move(900, 500);
    QVERIFY(QTest::qWaitForWindowExposed(dialog));
    QTRY_COMPARE(dialog->mapToGlobal(QPoint(0, 0)), QPoint(900, 500));
    m_input.moveTo(dialog->mapToGlobal(QPoint(18, 18)));
    m_input.press();
    QTRY_VERIFY(!m_main->isVisible());
    m_input.release();
    QTRY_VERIFY(m_main->isVisible());
    QVERIFY(controller->windowDialog() != nullptr);
    QVERIFY(controller->windowDialog()->isVisible());
    QVERIFY(saved.isEmpty());
    QVERIFY(desktopFiles().isEmpty());
    QCOMPARE(dialog->framedWindow(), WindowSystem::WindowId(0));
}

QTEST_MAIN(TestCapture)
#include "tst_capture.moc"
