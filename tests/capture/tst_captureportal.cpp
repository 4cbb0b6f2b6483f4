// The capture commands through the desktop's screenshot portal, as on Wayland, against an imitation
// of the portal on a bus of the test's own: what each answer of the portal gives the user, and that
// a failure saves nothing.
#include "CaptureProblems.h"
#include "PortalImitation.h"
#include "RecordingMessageBoxes.h"
#include "TestBus.h"
#include "capture/CaptureController.h"
#include "capture/ScreenReader.h"
#include "capture/frmScreen.h"

#include <QDBusConnection>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace linvera::capture;
using linvera::test::PortalImitation;

namespace {

constexpr int WaitMs = 10000;
// Long enough for a loaded machine to answer, short enough for the suite.
constexpr int ShortTimeoutMs = 1500;
const QString Saved = u"ｷｬﾌﾟﾁｬ画像をﾃﾞｽｸﾄｯﾌﾟに保存しました。"_s;
const QString WholeScreen = u"ｳｨﾝﾄﾞｳを選べないﾃﾞｽｸﾄｯﾌﾟのため、画面全体をﾃﾞｽｸﾄｯﾌﾟに保存しました。"_s;

// A picture where every pixel differs from its neighbours, so a shift by one shows.
QImage Pattern(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x)
            image.setPixel(x, y, qRgb((x * 7 + y) & 0xff, (y * 5 + x * 3) & 0xff, (x ^ y) & 0xff));
    }
    return image;
}

} // namespace

Q_DECLARE_METATYPE(PortalImitation::Behaviour)

class TestCapturePortal : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void sessionChoosesTheReader_data();
    void sessionChoosesTheReader();
    void regionSavesThePortalPicture_data();
    void regionSavesThePortalPicture();
    void failuresTellAndSaveNothing_data();
    void failuresTellAndSaveNothing();
    void windowSavesWhatThePortalHandsOver_data();
    void windowSavesWhatThePortalHandsOver();

private:
    std::unique_ptr<CaptureController> makeController();
    QStringList savedFiles() const;

    // A bus that activates nothing: the machine's own screenshot portal must never answer a test.
    QTemporaryDir m_noServices;
    linvera::test::TestBus m_bus;
    QString m_busName;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<PortalImitation> m_portal;
    std::unique_ptr<QWidget> m_main;
    CaptureTarget m_target;
    RecordingMessageBoxes m_boxes;
    int m_connections = 0;
};

void TestCapturePortal::initTestCase()
{
    QVERIFY(m_noServices.isValid());
    QVERIFY2(m_bus.start(m_noServices.path()), qPrintable(m_bus.errorText()));
}

void TestCapturePortal::init()
{
    m_dir = std::make_unique<QTemporaryDir>(QDir::tempPath() + u"/portal-XXXXXX"_s);
    QVERIFY(m_dir->isValid());
    m_target =
        CaptureTarget{m_dir->filePath(u"Desktop"_s), m_dir->filePath(u"preview"_s), PictureFormat::Png};
    m_boxes.clear();
    // A connection each for the portal and the program, as two processes would have.
    m_busName = u"portal-%1"_s.arg(++m_connections);
    QDBusConnection portalSide = QDBusConnection::connectToBus(m_bus.address(), m_busName);
    QVERIFY(portalSide.isConnected());
    m_portal = std::make_unique<PortalImitation>(portalSide, m_dir->path());
    m_main = std::make_unique<QWidget>();
    m_main->resize(200, 100);
    m_main->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
}

void TestCapturePortal::cleanup()
{
    m_portal.reset();
    m_main.reset();
    QDBusConnection::disconnectFromBus(m_busName);
    QDBusConnection::disconnectFromBus(m_busName + u"-program"_s);
}

void TestCapturePortal::cleanupTestCase()
{
    m_bus.stop();
}

std::unique_ptr<CaptureController> TestCapturePortal::makeController()
{
    auto controller =
        std::make_unique<CaptureController>(std::make_unique<linvera::platform::NullWindowSystem>());
    ShowProblems(*controller, m_boxes);
    auto reader = std::make_unique<PortalScreenReader>(
        QDBusConnection::connectToBus(m_bus.address(), m_busName + u"-program"_s));
    reader->portal().setAnswerTimeout(ShortTimeoutMs);
    // The imitation's folder stands for the shared temporary folder the real portal writes to.
    reader->setSharedFolders({m_dir->path()});
    controller->setScreenReader(std::move(reader));
    controller->setWindowsToHide([this] { return QList<QWidget*>{m_main.get()}; });
    controller->setTarget(m_target);
    controller->setClock([] { return QDateTime(QDate(2026, 12, 7), QTime(9, 5, 7)); });
    controller->setLocale(QLocale(QLocale::Japanese, QLocale::Japan));
    return controller;
}

QStringList TestCapturePortal::savedFiles() const
{
    QStringList files = QDir(m_target.desktopFolder).entryList(QDir::Files);
    files += QDir(m_target.tempFolder).entryList(QDir::Files);
    return files;
}

void TestCapturePortal::sessionChoosesTheReader_data()
{
    QTest::addColumn<QString>("waylandDisplay");
    QTest::addColumn<QString>("sessionType");
    QTest::addColumn<QString>("display");
    QTest::addColumn<int>("session");
    using linvera::platform::DisplaySession;
    QTest::newRow("X11 session") << QString() << u"x11"_s << u":0"_s << int(DisplaySession::X11);
    QTest::newRow("Wayland with XWayland")
        << u"wayland-0"_s << u"wayland"_s << u":0"_s << int(DisplaySession::Wayland);
    QTest::newRow("Wayland socket only")
        << u"wayland-1"_s << QString() << QString() << int(DisplaySession::Wayland);
    QTest::newRow("session type only, any case")
        << QString() << u"Wayland"_s << u":1"_s << int(DisplaySession::Wayland);
    QTest::newRow("TTY session") << QString() << u"tty"_s << QString() << int(DisplaySession::None);
}

void TestCapturePortal::sessionChoosesTheReader()
{
    QFETCH(QString, waylandDisplay);
    QFETCH(QString, sessionType);
    QFETCH(QString, display);
    QFETCH(int, session);
    QProcessEnvironment environment;
    for (const auto& [name, value] :
         {std::pair{u"WAYLAND_DISPLAY"_s, waylandDisplay}, std::pair{u"XDG_SESSION_TYPE"_s, sessionType},
          std::pair{u"DISPLAY"_s, display}}) {
        if (!value.isEmpty())
            environment.insert(name, value);
    }
    const auto detected = linvera::platform::DetectDisplaySession(environment);
    QCOMPARE(int(detected), session);
    linvera::platform::NullWindowSystem windows;
    const auto reader = CreateScreenReader(detected, windows);
    QCOMPARE(reader->choosesWindows(), detected == linvera::platform::DisplaySession::Wayland);
}

void TestCapturePortal::regionSavesThePortalPicture_data()
{
    QTest::addColumn<int>("scale");
    QTest::addColumn<QPoint>("from");
    QTest::addColumn<QPoint>("to");
    QTest::newRow("unscaled screen") << 1 << QPoint(100, 80) << QPoint(300, 230);
    QTest::newRow("unscaled, dragged up and left") << 1 << QPoint(300, 230) << QPoint(100, 80);
    // The portal's picture has twice the pixels of the logical screen the overlay covers.
    QTest::newRow("screen scaled by two") << 2 << QPoint(100, 80) << QPoint(300, 230);
}

void TestCapturePortal::regionSavesThePortalPicture()
{
    QFETCH(int, scale);
    QFETCH(QPoint, from);
    QFETCH(QPoint, to);
    const QSize logical = QGuiApplication::primaryScreen()->virtualGeometry().size();
    const QImage screen = Pattern(logical * scale);
    m_portal->setPicture(screen);
    QVERIFY(m_portal->publish());
    auto controller = makeController();
    QSignalSpy shown(controller.get(), &CaptureController::overlayShown);
    QSignalSpy saved(controller.get(), &CaptureController::pictureSaved);
    QSignalSpy message(controller.get(), &CaptureController::statusMessage);

    controller->captureRegion();
    QVERIFY(!m_main->isVisible());
    QVERIFY(shown.wait(WaitMs));
    QVERIFY(m_main->isVisible());
    QCOMPARE(m_portal->lastOptions().value(u"interactive"_s).toBool(), false);
    // The portal's file is read and gone: no picture of the screen stays in the shared folder.
    QVERIFY(!QFileInfo::exists(m_portal->pictureFile()));
    frmScreen* overlay = controller->overlay();
    QVERIFY(overlay != nullptr);
    QCOMPARE(overlay->size(), logical);
    QTest::mousePress(overlay, Qt::LeftButton, {}, from);
    QTest::mouseMove(overlay, (from + to) / 2);
    QTest::mouseMove(overlay, to);
    QTest::mouseRelease(overlay, Qt::LeftButton, {}, to);
    QVERIFY(saved.count() == 1 || saved.wait(WaitMs));
    QCOMPARE(message.last().at(0).toString(), Saved);
    QVERIFY(m_boxes.shown().isEmpty());

    // The saved pixels are the portal's under the dragged rectangle, in device pixels, inside its border.
    const QRect device(std::min(from.x(), to.x()) * scale, std::min(from.y(), to.y()) * scale,
                       std::abs(to.x() - from.x()) * scale, std::abs(to.y() - from.y()) * scale);
    const QRect inner(device.left() + 1, device.top() + 1, device.width() - 2, device.height() - 2);
    const QImage picture = QImage(saved.at(0).at(0).toString()).convertToFormat(QImage::Format_RGB32);
    QCOMPARE(picture.size(), inner.size());
    QCOMPARE(picture, screen.copy(inner));
}

void TestCapturePortal::failuresTellAndSaveNothing_data()
{
    QTest::addColumn<PortalImitation::Behaviour>("behaviour");
    QTest::addColumn<int>("portal");  // 0 no one on the bus, 1 no Screenshot interface, 2 the imitation
    QTest::addColumn<QString>("box"); // a part of the one box shown; empty: no box
    using B = PortalImitation::Behaviour;
    QTest::newRow("cancelled by the user") << B::Cancel << 2 << QString();
    QTest::newRow("failed (2)") << B::Fail << 2 << u"許可しませんでした"_s;
    QTest::newRow("call refused") << B::Deny << 2 << u"許可しませんでした"_s;
    QTest::newRow("no answer") << B::Never << 2 << u"30 秒以内に応答しませんでした"_s;
    QTest::newRow("missing file") << B::MissingFile << 2 << u"画像を読み込めませんでした"_s;
    QTest::newRow("link planted at the name") << B::PlantedLink << 2 << u"画像を読み込めませんでした"_s;
    QTest::newRow("no portal") << B::Picture << 0 << u"xdg-desktop-portal と"_s;
    QTest::newRow("no Screenshot interface") << B::Picture << 1 << u"xdg-desktop-portal と"_s;
}

void TestCapturePortal::failuresTellAndSaveNothing()
{
    QFETCH(PortalImitation::Behaviour, behaviour);
    QFETCH(int, portal);
    QFETCH(QString, box);
    const QImage screen = Pattern(QGuiApplication::primaryScreen()->virtualGeometry().size());
    m_portal->setPicture(screen);
    m_portal->setBehaviour(behaviour);
    if (portal > 0)
        QVERIFY(m_portal->publish(portal == 2));

    // Both commands: the window through the portal's own dialog, then the region after its wait,
    // each from a controller of its own, as a portal that keeps old request objects sees them.
    for (const bool region : {false, true}) {
        m_boxes.clear();
        auto controller = makeController();
        QSignalSpy done(controller.get(), &CaptureController::finished);
        QSignalSpy saved(controller.get(), &CaptureController::pictureSaved);
        QSignalSpy message(controller.get(), &CaptureController::statusMessage);
        if (region)
            controller->captureRegion();
        else
            controller->captureWindow();
        QVERIFY(!m_main->isVisible());
        QVERIFY(done.wait(WaitMs + ShortTimeoutMs));
        QVERIFY(controller->overlay() == nullptr);
        QVERIFY(controller->windowDialog() == nullptr);
        QVERIFY(m_main->isVisible());
        QVERIFY(saved.isEmpty());
        QVERIFY(message.isEmpty());
        QCOMPARE(savedFiles(), QStringList());
        if (box.isEmpty()) {
            QCOMPARE(m_boxes.texts(), QStringList());
        } else {
            QCOMPARE(m_boxes.shown().size(), 1);
            QVERIFY2(m_boxes.texts().first().startsWith(u"画面を取り込めませんでした。\n"_s) &&
                         m_boxes.texts().first().contains(box),
                     qPrintable(m_boxes.texts().first()));
        }
    }
    if (behaviour == PortalImitation::Behaviour::PlantedLink) {
        // Neither the link nor the file it points at was touched.
        QVERIFY(QFileInfo(m_portal->pictureFile()).isSymLink());
        QCOMPARE(QImage(m_portal->linkTarget()).convertToFormat(QImage::Format_RGB32), screen);
    }
}

void TestCapturePortal::windowSavesWhatThePortalHandsOver_data()
{
    QTest::addColumn<PortalImitation::Behaviour>("behaviour");
    QTest::addColumn<QSize>("handedOver"); // empty: the whole screen
    QTest::addColumn<int>("requests");
    QTest::addColumn<QString>("text");
    using B = PortalImitation::Behaviour;
    QTest::newRow("whole screen from the picker") << B::Picture << QSize() << 1 << WholeScreen;
    QTest::newRow("a window the user picked") << B::Picture << QSize(317, 211) << 1 << Saved;
    QTest::newRow("no picker: refused, then the whole screen (wlroots)")
        << B::NoPicker << QSize() << 2 << WholeScreen;
}

void TestCapturePortal::windowSavesWhatThePortalHandsOver()
{
    QFETCH(PortalImitation::Behaviour, behaviour);
    QFETCH(QSize, handedOver);
    QFETCH(int, requests);
    QFETCH(QString, text);
    m_portal->setBehaviour(behaviour);
    const QImage picture = Pattern(
        handedOver.isEmpty() ? QGuiApplication::primaryScreen()->virtualGeometry().size() : handedOver);
    m_portal->setPicture(picture);
    QVERIFY(m_portal->publish());
    auto controller = makeController();
    QSignalSpy saved(controller.get(), &CaptureController::pictureSaved);
    QSignalSpy message(controller.get(), &CaptureController::statusMessage);
    controller->captureWindow();
    QVERIFY(controller->windowDialog() == nullptr);
    QVERIFY(saved.wait(WaitMs));
    QCOMPARE(m_portal->requests(), requests);
    QCOMPARE(m_portal->lastOptions().value(u"interactive"_s).toBool(), requests == 1);
    QCOMPARE(message.last().at(0).toString(), text);
    QVERIFY(m_main->isVisible());
    QCOMPARE(QImage(saved.at(0).at(0).toString()).convertToFormat(QImage::Format_RGB32), picture);
    QCOMPARE(QImage(saved.at(0).at(1).toString()).convertToFormat(QImage::Format_RGB32), picture);
    QCOMPARE(QFileInfo(saved.at(0).at(0).toString()).fileName(), u"2026_12_07_9_05_07.png"_s);
}

QTEST_MAIN(TestCapturePortal)
#include "tst_captureportal.moc"
