// The capture buttons of the running program on an X display: the region button hides the main
// window, freezes the screen and saves the dragged rectangle in the format of the settings; the
// program keeps the picture paths and its message line says where the picture went.
#include "RecordingMessageBoxes.h"
#include "ScreenFixtures.h"
#include "ShellSandbox.h"
#include "TestEnvironment.h"
#include "app/shell/Application.h"
#include "app/ui/frmMain.h"
#include "app/ui/frmSettings.h"
#include "automation/LinveraAutomation.h"
#include "capture/CaptureController.h"
#include "capture/frmScreen.h"
#include "capture/frmWindowCapture.h"
#include "platform/AppPaths.h"
#include "platform/RegAccess.h"
#include "settings/SettingsTable.h"

#include <QComboBox>
#include <QDBusConnectionInterface>
#include <QFileInfo>
#include <QImageReader>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace linvera;
using namespace linvera::test;

namespace {

constexpr int kWaitMs = 10000;
const QString kSaved = u"ｷｬﾌﾟﾁｬ画像をﾃﾞｽｸﾄｯﾌﾟに保存しました。"_s;

} // namespace

class TestCaptureButtons : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void regionButtonSavesInTheChosenFormat_data();
    void regionButtonSavesInTheChosenFormat();
    void windowButtonOpensTheDialog();

private:
    Application& startApp();

    std::unique_ptr<ShellSandbox> m_sandbox;
    RecordingMessageBoxes m_boxes;
    std::unique_ptr<Application> m_app;
    XTestInput m_input;
};

void TestCaptureButtons::init()
{
    QCOMPARE(QGuiApplication::platformName(), u"xcb"_s);
    m_sandbox = std::make_unique<ShellSandbox>();
    QVERIFY(m_sandbox->isValid());
    // Every service on a closed loopback port, and no first-run message.
    PointEndpoints({});
    SetRegString(platform::RegRoot::LocalMachine, SettingsKey(), u"Version"_s, u"2_1_0"_s);
    m_boxes.clear();
}

void TestCaptureButtons::cleanup()
{
    m_app.reset();
    QDBusConnection::sessionBus().interface()->unregisterService(
        QString::fromLatin1(LinveraAutomation::kServiceName));
    m_sandbox.reset();
}

Application& TestCaptureButtons::startApp()
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

void TestCaptureButtons::regionButtonSavesInTheChosenFormat_data()
{
    QTest::addColumn<int>("imageType");
    QTest::addColumn<QString>("extension");
    QTest::addColumn<QByteArray>("readAs");
    QTest::newRow("PNG") << 0 << u"png"_s << QByteArray("png");
    QTest::newRow("JPEG") << 1 << u"jpg"_s << QByteArray("jpeg");
}

void TestCaptureButtons::regionButtonSavesInTheChosenFormat()
{
    QFETCH(int, imageType);
    QFETCH(QString, extension);
    QFETCH(QByteArray, readAs);
    Application& app = startApp();
    frmMain* main = app.mainWindow();
    QVERIFY(QTest::qWaitForWindowExposed(main));
    app.settingsWindow()->lstImageType()->setCurrentIndex(imageType);
    QSignalSpy shown(app.captureController(), &capture::CaptureController::overlayShown);

    main->findChild<QPushButton*>(u"btnTwitpic"_s)->click();
    QVERIFY(!main->isVisible());
    QVERIFY(shown.wait(kWaitMs));
    QVERIFY(main->isVisible());
    QVERIFY(QTest::qWaitForWindowExposed(app.captureController()->overlay()));
    m_input.moveTo(QPoint(600, 500));
    m_input.press();
    m_input.moveTo(QPoint(700, 560));
    m_input.moveTo(QPoint(801, 651));
    m_input.release();

    QTRY_COMPARE_WITH_TIMEOUT(main->lblMsg()->text(), kSaved, kWaitMs);
    QVERIFY(m_boxes.shown().isEmpty());
    const QFileInfo post(app.postPicturePath());
    QCOMPARE(post.absolutePath(), m_sandbox->home() + u"/Desktop"_s);
    QCOMPARE(post.suffix(), extension);
    QCOMPARE(QImageReader(post.filePath()).format(), readAs);
    QCOMPARE(QImageReader(post.filePath()).size(), QSize(199, 149));
    QCOMPARE(app.displayPicturePath(), m_sandbox->tempFolder() + u"/hvxLinveraPreview."_s + extension);
    QVERIFY(QFileInfo::exists(app.displayPicturePath()));
}

void TestCaptureButtons::windowButtonOpensTheDialog()
{
    Application& app = startApp();
    QVERIFY(QTest::qWaitForWindowExposed(app.mainWindow()));
    app.mainWindow()->findChild<QPushButton*>(u"btnTwitpicWindow"_s)->click();
    capture::frmWindowCapture* dialog = app.captureController()->windowDialog();
    QVERIFY(dialog != nullptr);
    QVERIFY(QTest::qWaitForWindowExposed(dialog));
    QCOMPARE(dialog->windowTitle(), u"画面キャプチャ"_s);
    // The second press of the button brings the same dialog forward instead of a second one.
    app.mainWindow()->findChild<QPushButton*>(u"btnTwitpicWindow"_s)->click();
    QCOMPARE(app.captureController()->windowDialog(), dialog);
    QCOMPARE(app.postPicturePath(), QString());
}

QTEST_MAIN(TestCaptureButtons)
#include "tst_capturebuttons.moc"
