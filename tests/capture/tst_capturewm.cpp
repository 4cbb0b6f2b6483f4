// Window capture on a desktop with a window manager (openbox): the frame the manager puts around a
// window is found, framed and saved with it, and the title comes from the application's window.
#include "CaptureProblems.h"
#include "RecordingMessageBoxes.h"
#include "ScreenFixtures.h"
#include "capture/CaptureController.h"
#include "capture/frmWindowCapture.h"
#include "platform/WindowSystem.h"

#include <QGuiApplication>
#include <QPainter>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace linvera::capture;
using linvera::platform::WindowSystem;

namespace {

constexpr int WaitMs = 10000;

// A decorated window (no bypass of the manager) painting the pattern of its client area.
class ManagedPatternWindow : public QWidget
{
public:
    explicit ManagedPatternWindow(const QString& title)
    {
        setAttribute(Qt::WA_OpaquePaintEvent);
        setWindowTitle(title);
        resize(320, 200);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QImage image(size(), QImage::Format_RGB32);
        const QPoint origin = mapToGlobal(QPoint(0, 0));
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x)
                image.setPixel(x, y, PatternAt(origin.x() + x, origin.y() + y));
        }
        QPainter(this).drawImage(0, 0, image);
    }
};

} // namespace

class TestCaptureWithManager : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void frameWindowFoundWithTheClientsTitle();
    void windowCaptureSavesTheFramedWindow();

private:
    QProcess m_manager;
    RecordingMessageBoxes m_boxes;
    XTestInput m_input;
};

void TestCaptureWithManager::initTestCase()
{
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
    const QString openbox = QStandardPaths::findExecutable(QStringLiteral("openbox"));
    if (openbox.isEmpty())
        QSKIP("openbox is not installed (scripts/setup.sh installs it)");
    m_manager.setProcessChannelMode(QProcess::ForwardedChannels);
    m_manager.start(openbox, {QStringLiteral("--sm-disable")});
    QVERIFY(m_manager.waitForStarted(WaitMs));
    // Windows shown before the manager runs could be left without a frame.
    QTRY_VERIFY_WITH_TIMEOUT(WindowManagerRunning(), WaitMs);
    // A window mapped while openbox is still starting up is sometimes never shown: the tests begin
    // once a first window has been shown, mapping it again when it stayed hidden.
    QWidget probe;
    probe.resize(100, 100);
    bool shown = false;
    for (int attempt = 0; attempt < 5 && !shown; ++attempt) {
        probe.hide();
        probe.show();
        shown = QTest::qWaitForWindowExposed(&probe, 2000);
    }
    QVERIFY(shown);
}

void TestCaptureWithManager::cleanupTestCase()
{
    if (m_manager.state() != QProcess::NotRunning) {
        m_manager.terminate();
        if (!m_manager.waitForFinished(WaitMs))
            m_manager.kill();
    }
}

void TestCaptureWithManager::frameWindowFoundWithTheClientsTitle()
{
    auto windows = linvera::platform::CreateWindowSystem();
    ManagedPatternWindow window(QStringLiteral(u"管理された窓 — managed"));
    window.move(200, 200);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QPoint inside = window.mapToGlobal(QPoint(50, 50));
    // The manager reparents the window into its frame a moment after the window maps.
    QTRY_VERIFY_WITH_TIMEOUT(windows->topLevelAt(inside) != 0 &&
                                 windows->topLevelAt(inside) != WindowSystem::WindowId(window.winId()),
                             WaitMs);
    const WindowSystem::WindowId frame = windows->topLevelAt(inside);
    const QRect outer = windows->outerRect(frame);
    const QRect client(window.mapToGlobal(QPoint(0, 0)), window.size());
    QVERIFY2(outer.contains(client) && outer != client, qPrintable(QStringLiteral("outer %1,%2 %3x%4")
                                                                       .arg(outer.x())
                                                                       .arg(outer.y())
                                                                       .arg(outer.width())
                                                                       .arg(outer.height())));
    QCOMPARE(windows->title(frame), QStringLiteral(u"管理された窓 — managed"));
}

void TestCaptureWithManager::windowCaptureSavesTheFramedWindow()
{
    QTemporaryDir dir;
    ManagedPatternWindow window(QStringLiteral("target"));
    window.move(100, 150);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    CaptureController controller(linvera::platform::CreateWindowSystem());
    ShowProblems(controller, m_boxes);
    controller.setTarget(CaptureTarget{dir.filePath(QStringLiteral("Desktop")),
                                       dir.filePath(QStringLiteral("tmp")), PictureFormat::Png});
    QSignalSpy saved(&controller, &CaptureController::pictureSaved);
    controller.captureWindow();
    frmWindowCapture* dialog = controller.windowDialog();
    QVERIFY(dialog != nullptr);
    dialog->move(700, 500);
    QVERIFY(QTest::qWaitForWindowExposed(dialog));
    QTRY_VERIFY_WITH_TIMEOUT(controller.windowSystem().topLevelAt(window.mapToGlobal(QPoint(10, 10))) !=
                                 WindowSystem::WindowId(window.winId()),
                             WaitMs);
    const WindowSystem::WindowId frame =
        controller.windowSystem().topLevelAt(window.mapToGlobal(QPoint(10, 10)));
    const QRect outer = controller.windowSystem().outerRect(frame);
    // The press must land on the dialog where the manager has finally put it.
    QTRY_VERIFY_WITH_TIMEOUT(controller.windowSystem().title(controller.windowSystem().topLevelAt(
                                 dialog->mapToGlobal(QPoint(18, 18)))) == dialog->windowTitle(),
                             WaitMs);
    const QPoint cross = dialog->mapToGlobal(QPoint(18, 18));

    m_input.moveTo(cross);
    m_input.press();
    QTRY_VERIFY(QWidget::mouseGrabber() == dialog);
    m_input.moveTo(window.mapToGlobal(QPoint(160, 100)));
    QTRY_COMPARE(dialog->framedWindow(), frame);
    m_input.release();
    QVERIFY(saved.count() == 1 || saved.wait(WaitMs));
    QVERIFY(m_boxes.shown().isEmpty());

    const QImage picture = QImage(saved.at(0).at(0).toString()).convertToFormat(QImage::Format_RGB32);
    QCOMPARE(picture.size(), QSize(outer.width() - 2, outer.height() - 2));
    // The client area sits inside the manager's frame in the picture, pixel for pixel.
    const QPoint client = window.mapToGlobal(QPoint(0, 0));
    const QRect clientInPicture(client - outer.topLeft() - QPoint(1, 1), window.size());
    const QString mismatch = FirstPatternMismatch(picture.copy(clientInPicture), client);
    QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
}

QTEST_MAIN(TestCaptureWithManager)
#include "tst_capturewm.moc"
