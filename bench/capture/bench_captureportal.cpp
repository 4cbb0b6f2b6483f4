// Prints, as medians of repeated runs on a Wayland desktop with the screenshot portal (meant for the
// headless sway of tests/support/wayland-session.sh, all on one line:
//   tests/support/wayland-session.sh --copy build/rel/bin/bench_captureportal --
//   QT_QPA_PLATFORM=wayland build/rel/bin/bench_captureportal):
//  - from the portal request to the picture loaded (the call, the portal's answer, reading and
//    decoding its file), beside `grim` writing the same screen to a file, and the ratio;
//  - from the release of the drag to both files written (the dated file and the preview copy), for
//    PNG and JPEG, on the portal's picture, beside the same on the pixels an X11 grab of the same
//    screen gives.
// Each figure is printed beside its goal.
#include "BenchStats.h"
#include "CaptureBench.h"
#include "capture/CaptureController.h"
#include "capture/ScreenReader.h"
#include "capture/frmScreen.h"
#include "platform/MessageBoxes.h"
#include "platform/WindowSystem.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QScreen>
#include <QTemporaryDir>
#include <QWidget>
#include <QWindow>

#include <cstdio>
#include <functional>

using namespace Qt::StringLiterals;
using namespace linvera;
using linvera::bench::median;

namespace {

constexpr int kRuns = 7;
constexpr double kPortalGoalRatio = 1.5;
constexpr double kSaveGoalSpread = 0.2;
constexpr int kWaitMs = 60000;

class PrintedBoxes : public platform::MessageBoxes
{
public:
    Answer show(Icon, const QString&, const QString& text, Buttons) override
    {
        std::fprintf(stderr, "message box: %s\n", qPrintable(text));
        return Answer::Ok;
    }
};

// Noise with some structure over the whole screen, so the encoders have real work.
class BusyWindow : public QWidget
{
public:
    BusyWindow()
    {
        m_picture = QImage(QGuiApplication::primaryScreen()->size(), QImage::Format_RGB32);
        QRandomGenerator random(20261207);
        for (int y = 0; y < m_picture.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(m_picture.scanLine(y));
            for (int x = 0; x < m_picture.width(); ++x) {
                const int noise = int(random.bounded(48));
                line[x] = qRgb((x / 4 + noise) & 0xff, (y / 3 + noise) & 0xff, ((x + y) / 8) & 0xff);
            }
        }
    }
    const QImage& picture() const { return m_picture; }

protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).drawImage(0, 0, m_picture); }

private:
    QImage m_picture;
};

// What an X11 grab of the same screen gives: the pixels the busy window shows, on the spot.
class ShownPixels : public capture::ScreenReader
{
public:
    explicit ShownPixels(const QImage& pixels)
        : m_pixels(pixels)
    {}
    bool available() const override { return true; }
    bool choosesWindows() const override { return false; }
    bool busy() const override { return false; }
    void read(bool) override { Q_EMIT answered(Outcome::Read, capture::DesktopPicture{m_pixels, {}, true}); }

private:
    QImage m_pixels;
};

// Events keep running while the bench waits; bounded.
bool waitFor(const std::function<bool()>& done)
{
    return bench::waitFor(done, kWaitMs);
}

// Release to both files, through the overlay of a region capture read by the reader given.
bool releaseToFiles(capture::CaptureController& controller, capture::CaptureTarget& target,
                    capture::PictureFormat format, QList<double>& times)
{
    target.format = format;
    controller.setTarget(target);
    bool shown = false;
    bool saved = false;
    const auto a =
        QObject::connect(&controller, &capture::CaptureController::overlayShown, [&] { shown = true; });
    const auto b =
        QObject::connect(&controller, &capture::CaptureController::pictureSaved, [&] { saved = true; });
    controller.captureRegion();
    bool ok = waitFor([&] { return shown; });
    if (!ok)
        std::fprintf(stderr, "no overlay\n");
    if (ok) {
        capture::frmScreen* overlay = controller.overlay();
        bench::sendMouse(overlay, QEvent::MouseButtonPress, QPoint(100, 100));
        bench::sendMouse(overlay, QEvent::MouseMove, QPoint(700, 500));
        QElapsedTimer timer;
        timer.start();
        bench::sendMouse(overlay, QEvent::MouseButtonRelease, QPoint(700, 500));
        ok = waitFor([&] { return saved; });
        if (!ok)
            std::fprintf(stderr, "no picture saved\n");
        times.append(double(timer.nsecsElapsed()) / 1e6);
    }
    QObject::disconnect(a);
    QObject::disconnect(b);
    return ok;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        std::fprintf(stderr, "bench_captureportal needs a Wayland desktop with the screenshot portal "
                             "(run it through tests/support/wayland-session.sh)\n");
        return 1;
    }
    QTemporaryDir dir;
    PrintedBoxes boxes;
    BusyWindow busy;
    busy.showFullScreen();
    QWidget mainWindow;
    mainWindow.resize(640, 200);
    mainWindow.show();
    if (!waitFor([&] { return busy.windowHandle()->isExposed() && mainWindow.windowHandle()->isExposed(); }))
        return 1;
    const QSize screen = QGuiApplication::primaryScreen()->size();
    std::printf("Screen %dx%d, platform %s, build %s, %d runs each\n", screen.width(), screen.height(),
                qPrintable(QGuiApplication::platformName()), LINVERA_BENCH_BUILD_TYPE, kRuns);

    // Portal request to picture loaded, beside grim.
    QList<double> portal;
    QList<double> own;
    {
        capture::PortalScreenReader reader(QDBusConnection::sessionBus());
        // The program's own part: from the portal's answer to the picture loaded.
        QElapsedTimer sinceAnswer;
        QObject::connect(&reader.portal(), &platform::ScreenshotPortal::answered,
                         [&](const platform::PortalAnswer&) { sinceAnswer.start(); });
        for (int i = 0; i < kRuns; ++i) {
            bool done = false;
            capture::ScreenReader::Outcome outcome = capture::ScreenReader::Outcome::Failed;
            const auto c =
                QObject::connect(&reader, &capture::ScreenReader::answered,
                                 [&](capture::ScreenReader::Outcome o, const capture::DesktopPicture&) {
                                     outcome = o;
                                     done = true;
                                 });
            QElapsedTimer timer;
            timer.start();
            reader.read(false);
            if (!waitFor([&] { return done; }) || outcome != capture::ScreenReader::Outcome::Read) {
                std::fprintf(stderr, "the portal gave no picture\n");
                return 1;
            }
            portal.append(double(timer.nsecsElapsed()) / 1e6);
            own.append(double(sinceAnswer.nsecsElapsed()) / 1e6);
            QObject::disconnect(c);
        }
    }
    QList<double> grim;
    for (int i = 0; i < kRuns; ++i) {
        QProcess process;
        QElapsedTimer timer;
        timer.start();
        process.start(u"grim"_s, {dir.filePath(u"grim.png"_s)});
        if (!process.waitForFinished(kWaitMs) || process.exitCode() != 0) {
            std::fprintf(stderr, "grim failed: %s\n", process.readAllStandardError().constData());
            return 1;
        }
        grim.append(double(timer.nsecsElapsed()) / 1e6);
    }
    const double portalRatio = median(portal) / median(grim);
    std::printf("Portal request to picture loaded: %s\n", qPrintable(bench::figuresLine(portal)));
    std::printf("  of which answer to picture loaded (read, decode): %s\n",
                qPrintable(bench::figuresLine(own)));
    std::printf("grim writing the same screen:     %s\n", qPrintable(bench::figuresLine(grim)));
    std::printf("  ratio %.2f (goal <= %.1f): %s\n", portalRatio, kPortalGoalRatio,
                portalRatio <= kPortalGoalRatio ? "met" : "NOT met");

    // Release to both files: the portal's picture, and the pixels an X11 grab gives of the same screen.
    capture::CaptureTarget target{dir.filePath(u"Desktop"_s), dir.filePath(u"tmp"_s),
                                  capture::PictureFormat::Png};
    const QImage shown = busy.picture();
    for (const auto format : {capture::PictureFormat::Png, capture::PictureFormat::Jpeg}) {
        QList<double> times[2];
        for (int path = 0; path < 2; ++path) {
            capture::CaptureController controller(std::make_unique<platform::NullWindowSystem>());
            QObject::connect(&controller, &capture::CaptureController::problem, &controller,
                             [&boxes](const QString& text) {
                                 boxes.show(platform::MessageBoxes::Icon::Exclamation, {}, text,
                                            platform::MessageBoxes::Buttons::Ok);
                             });
            if (path == 0) {
                controller.setScreenReader(
                    std::make_unique<capture::PortalScreenReader>(QDBusConnection::sessionBus()));
            } else {
                controller.setScreenReader(std::make_unique<ShownPixels>(shown));
            }
            controller.setWindowsToHide([&] { return QList<QWidget*>{&mainWindow}; });
            for (int i = 0; i < kRuns; ++i) {
                if (!releaseToFiles(controller, target, format, times[path])) {
                    std::fprintf(stderr, "a region capture did not end\n");
                    return 1;
                }
            }
        }
        const double spread = median(times[0]) / median(times[1]) - 1.0;
        const char* name = format == capture::PictureFormat::Png ? "PNG" : "JPEG";
        std::printf("Release to both files, %s, 600x400, portal picture: %s\n", name,
                    qPrintable(bench::figuresLine(times[0])));
        std::printf("Release to both files, %s, 600x400, X11 grab pixels: %s\n", name,
                    qPrintable(bench::figuresLine(times[1])));
        std::printf("  difference %+.0f %% (goal within %.0f %%): %s\n", spread * 100, kSaveGoalSpread * 100,
                    std::abs(spread) <= kSaveGoalSpread ? "met" : "NOT met");
    }
    return 0;
}
