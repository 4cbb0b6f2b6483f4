// The capture commands of the running program on a real Wayland desktop (sway, headless) through its
// screenshot portal: natively, and forced onto XWayland, where an X11 grab would give black. Started
// by tests/support/wayland-session.sh, which brings the desktop up; the desktop has no pointer, so
// the overlay gets its drag from the test.
#include "RecordingMessageBoxes.h"
#include "ShellSandbox.h"
#include "TestEnvironment.h"
#include "app/shell/Application.h"
#include "app/ui/frmMain.h"
#include "automation/LinveraAutomation.h"
#include "capture/CaptureController.h"
#include "capture/frmScreen.h"
#include "platform/AppPaths.h"
#include "platform/RegAccess.h"
#include "settings/SettingsTable.h"

#include <QDBusConnectionInterface>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace linvera;
using namespace linvera::test;

namespace {

constexpr int kWaitMs = 40000;
const QString kSaved = u"ｷｬﾌﾟﾁｬ画像をﾃﾞｽｸﾄｯﾌﾟに保存しました。"_s;
const QString kWholeScreen = u"ｳｨﾝﾄﾞｳを選べないﾃﾞｽｸﾄｯﾌﾟのため、画面全体をﾃﾞｽｸﾄｯﾌﾟに保存しました。"_s;
// Where the desktop's configuration puts the pattern window (wayland-session.sh).
const QRect kPatternPlace(200, 100, 320, 240);
// The fixed name the wlroots backend of the portal writes its picture to.
const QString kPortalDrop = u"/tmp/out.png"_s;

QRgb PatternPixel(int x, int y)
{
    return qRgb((x * 7 + y * 3) & 0xff, (y * 5 + x) & 0xff, ((x / 8) ^ (y / 8)) * 37 & 0xff);
}

class PatternWindow : public QWidget
{
public:
    PatternWindow()
    {
        setWindowTitle(u"linvera-pattern"_s);
        setFixedSize(kPatternPlace.size());
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QImage image(size(), QImage::Format_RGB32);
        for (int y = 0; y < height(); ++y) {
            for (int x = 0; x < width(); ++x)
                image.setPixel(x, y, PatternPixel(x, y));
        }
        QPainter(this).drawImage(0, 0, image);
    }
};

// The first pixel of the picture that is not the pattern at its place on the screen.
QString FirstMismatch(const QImage& picture, QPoint screenOrigin)
{
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < rgb.height(); ++y) {
        for (int x = 0; x < rgb.width(); ++x) {
            const QPoint inPattern = screenOrigin + QPoint(x, y) - kPatternPlace.topLeft();
            const QRgb expected = PatternPixel(inPattern.x(), inPattern.y());
            if ((rgb.pixel(x, y) & 0xffffff) != (expected & 0xffffff))
                return u"%1,%2: got %3 expected %4"_s.arg(x)
                    .arg(y)
                    .arg(uint(rgb.pixel(x, y) & 0xffffff), 6, 16, QChar(u'0'))
                    .arg(uint(expected & 0xffffff), 6, 16, QChar(u'0'));
        }
    }
    return {};
}

} // namespace

class TestCaptureWayland : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void regionCommandSavesWhatTheScreenShows();
    void windowCommandSavesTheWholeScreen();

private:
    Application& startApp();
    void runProgram(const QString& option);

    std::unique_ptr<ShellSandbox> m_sandbox;
    RecordingMessageBoxes m_boxes;
    std::unique_ptr<Application> m_app;
    std::unique_ptr<PatternWindow> m_pattern;
};

void TestCaptureWayland::initTestCase()
{
    QVERIFY2(!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"), "run by wayland-session.sh, on its desktop");
    qInfo("platform %s, WAYLAND_DISPLAY %s, DISPLAY %s", qPrintable(QGuiApplication::platformName()),
          qgetenv("WAYLAND_DISPLAY").constData(), qgetenv("DISPLAY").constData());
    QVERIFY(QGuiApplication::platformName() == u"wayland"_s || QGuiApplication::platformName() == u"xcb"_s);
}

void TestCaptureWayland::init()
{
    m_sandbox = std::make_unique<ShellSandbox>();
    QVERIFY(m_sandbox->isValid());
    PointEndpoints({});
    SetRegString(platform::RegRoot::LocalMachine, SettingsKey(), u"Version"_s, u"2_1_0"_s);
    m_boxes.clear();
    m_pattern = std::make_unique<PatternWindow>();
    m_pattern->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_pattern.get()));
}

void TestCaptureWayland::cleanup()
{
    m_app.reset();
    m_pattern.reset();
    QDBusConnection::sessionBus().interface()->unregisterService(
        QString::fromLatin1(LinveraAutomation::kServiceName));
    m_sandbox.reset();
}

Application& TestCaptureWayland::startApp()
{
    Application::Options options;
    options.paths = m_sandbox->appPaths();
    options.exitProcess = [](int) {};
    options.helperProgram = BuiltProgram(u"H-LinveraHelper"_s);
    options.writeServiceFiles = false;
    m_app = std::make_unique<Application>(m_boxes, options);
    if (m_app->start({}) != Application::Role::FirstInstance)
        qWarning("start-up did not run as the first instance");
    return *m_app;
}

// A second start of the program with the capture switch hands the command to this instance.
void TestCaptureWayland::runProgram(const QString& option)
{
    const ToolRun run = RunTool(BuiltProgram(u"H-Linvera"_s), {option}, m_sandbox->environment());
    QVERIFY2(run.finished && run.exitCode == 0, qPrintable(run.errorOutput));
}

void TestCaptureWayland::regionCommandSavesWhatTheScreenShows()
{
    Application& app = startApp();
    QVERIFY(QTest::qWaitForWindowExposed(app.mainWindow()));
    capture::CaptureController* capture = app.captureController();
    // The session decides, not the platform the program runs on.
    QVERIFY(capture->screenReader().choosesWindows());
    QSignalSpy shown(capture, &capture::CaptureController::overlayShown);
    QFile::remove(kPortalDrop);

    runProgram(u"--capture-region"_s);
    QVERIFY2(shown.wait(kWaitMs), qPrintable(m_boxes.texts().join(u" | "_s)));
    QVERIFY(app.mainWindow()->isVisible());
    capture::frmScreen* overlay = capture->overlay();
    QVERIFY(overlay != nullptr);
    QVERIFY(QTest::qWaitForWindowExposed(overlay));
    // The drag the user would make over the pattern window's area.
    const QPoint from = kPatternPlace.topLeft() + QPoint(10, 10);
    const QPoint to = kPatternPlace.bottomRight() - QPoint(10, 10);
    // The overlay covers the desktop from its top-left corner: its points are the screen's.
    QTest::mousePress(overlay, Qt::LeftButton, {}, from);
    QTest::mouseMove(overlay, to);
    QTest::mouseRelease(overlay, Qt::LeftButton, {}, to);

    QTRY_COMPARE_WITH_TIMEOUT(app.mainWindow()->lblMsg()->text(), kSaved, kWaitMs);
    QCOMPARE(m_boxes.texts(), QStringList());
    const QImage picture(app.postPicturePath());
    const QRect inner(from + QPoint(1, 1), QSize(to.x() - from.x() - 2, to.y() - from.y() - 2));
    QCOMPARE(picture.size(), inner.size());
    const QString mismatch = FirstMismatch(picture, inner.topLeft());
    QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
    // The portal's picture of the whole screen did not stay in the shared temporary folder.
    QVERIFY(!QFileInfo::exists(kPortalDrop));
}

void TestCaptureWayland::windowCommandSavesTheWholeScreen()
{
    Application& app = startApp();
    QVERIFY(QTest::qWaitForWindowExposed(app.mainWindow()));
    runProgram(u"--capture-window"_s);
    // The wlroots portal has no picker and refuses the interactive request: the whole screen, and
    // the message line says so.
    QTRY_COMPARE_WITH_TIMEOUT(app.mainWindow()->lblMsg()->text(), kWholeScreen, kWaitMs);
    QCOMPARE(m_boxes.texts(), QStringList());
    QVERIFY(app.mainWindow()->isVisible());
    const QImage picture(app.postPicturePath());
    QCOMPARE(picture.size(), QSize(800, 600));
    const QString mismatch = FirstMismatch(picture.copy(kPatternPlace.adjusted(4, 4, -4, -4)),
                                           kPatternPlace.topLeft() + QPoint(4, 4));
    QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
}

QTEST_MAIN(TestCaptureWayland)
#include "tst_capturewayland.moc"
