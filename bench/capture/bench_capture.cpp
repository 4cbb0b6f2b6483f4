// Prints, as medians of repeated runs on the X display it is started on (meant for Xvfb at
// 1920x1080: xvfb-run -a -s "-screen 0 1920x1080x24" bench_capture):
//  - the own work of the region capture from the button press to the overlay on the screen: the
//    whole time less the designed 750 ms wait for the hidden windows to leave the screen;
//  - from the release of the drag to both files written (the dated file and the preview copy), for
//    PNG and for JPEG, of a 1280x720 rectangle over a busy picture;
//  - beside it ImageMagick's `import -window root -crop WxH+X+Y` writing the same rectangle, and the
//    ratio of the two.
// Each figure is printed beside its goal.
#include "BenchStats.h"
#include "CaptureBench.h"
#include "capture/CaptureController.h"
#include "capture/frmScreen.h"
#include "platform/MessageBoxes.h"
#include "platform/WindowSystem.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QMouseEvent>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <cstdio>

using namespace Qt::StringLiterals;
using namespace linvera;
using linvera::bench::median;

namespace {

constexpr int kRuns = 7;
constexpr double kOverlayGoalMs = 250;
constexpr double kSaveRatioGoal = 1.0;
constexpr int kWaitMs = 30000;
const QRect kArea(200, 150, 1280, 720);

class PrintedBoxes : public platform::MessageBoxes
{
public:
    Answer show(Icon, const QString&, const QString& text, Buttons) override
    {
        std::fprintf(stderr, "message box: %s\n", qPrintable(text));
        return Answer::Ok;
    }
};

// A full-screen window of noise with some structure, so the encoders have real work.
class BusyWindow : public QWidget
{
public:
    BusyWindow()
        : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint)
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
        setGeometry(QGuiApplication::primaryScreen()->geometry());
    }

protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).drawImage(0, 0, m_picture); }

private:
    QImage m_picture;
};

// Events keep running while the bench waits; bounded.
bool waitFor(const std::function<bool()>& done)
{
    return bench::waitFor(done, kWaitMs);
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    if (QGuiApplication::platformName() != u"xcb"_s) {
        std::fprintf(stderr, "bench_capture needs an X11 display (run it under xvfb-run)\n");
        return 1;
    }
    QTemporaryDir dir;
    PrintedBoxes boxes;
    BusyWindow busy;
    busy.show();
    QWidget mainWindow;
    mainWindow.setGeometry(100, 100, 640, 200);
    mainWindow.show();
    if (!waitFor([&] { return busy.windowHandle()->isExposed() && mainWindow.windowHandle()->isExposed(); }))
        return 1;

    capture::CaptureTarget target{dir.filePath(u"Desktop"_s), dir.filePath(u"tmp"_s),
                                  capture::PictureFormat::Png};
    capture::CaptureController controller(platform::CreateWindowSystem());
    QObject::connect(&controller, &capture::CaptureController::problem, &controller,
                     [&boxes](const QString& text) {
                         boxes.show(platform::MessageBoxes::Icon::Exclamation, {}, text,
                                    platform::MessageBoxes::Buttons::Ok);
                     });
    controller.setWindowsToHide([&] { return QList<QWidget*>{&mainWindow}; });
    controller.setTarget(target);

    const QSize screen = QGuiApplication::primaryScreen()->size();
    std::printf("Screen %dx%d, build %s, %d runs each\n", screen.width(), screen.height(),
                LINVERA_BENCH_BUILD_TYPE, kRuns);

    QList<double> overlay;
    QList<double> save[2];
    QList<double> savedKb[2];
    for (int run = 0; run < kRuns * 2; ++run) {
        const bool png = run % 2 == 0;
        target.format = png ? capture::PictureFormat::Png : capture::PictureFormat::Jpeg;
        controller.setTarget(target);
        QElapsedTimer timer;
        timer.start();
        controller.captureRegion();
        if (!waitFor([&] {
                return controller.overlay() != nullptr && controller.overlay()->windowHandle() != nullptr &&
                       controller.overlay()->windowHandle()->isExposed();
            })) {
            std::fprintf(stderr, "the overlay did not show\n");
            return 1;
        }
        overlay.append(double(timer.nsecsElapsed()) / 1e6 - capture::CaptureController::RegionHideWaitMs);

        QString saved;
        QObject::connect(
            &controller, &capture::CaptureController::pictureSaved, &controller,
            [&](const QString& post) { saved = post; }, Qt::SingleShotConnection);
        capture::frmScreen* overlayWindow = controller.overlay();
        bench::sendMouse(overlayWindow, QEvent::MouseButtonPress, kArea.topLeft());
        bench::sendMouse(overlayWindow, QEvent::MouseMove,
                         kArea.topLeft() + QPoint(kArea.width(), kArea.height()));
        timer.restart();
        bench::sendMouse(overlayWindow, QEvent::MouseButtonRelease,
                         kArea.topLeft() + QPoint(kArea.width(), kArea.height()));
        if (saved.isEmpty()) {
            std::fprintf(stderr, "nothing was saved\n");
            return 1;
        }
        save[png ? 0 : 1].append(double(timer.nsecsElapsed()) / 1e6);
        savedKb[png ? 0 : 1].append(double(QFileInfo(saved).size()) / 1024.0);
        QFile::remove(saved);
        waitFor([&] { return controller.overlay() == nullptr; });
    }

    // The same rectangle as the inside of the drag's border, written by ImageMagick.
    const QRect inner(kArea.x() + 1, kArea.y() + 1, kArea.width() - 2, kArea.height() - 2);
    QList<double> imported[2];
    QList<double> importedKb[2];
    const QString import = QStandardPaths::findExecutable(u"import"_s);
    for (int run = 0; run < kRuns * 2 && !import.isEmpty(); ++run) {
        const bool png = run % 2 == 0;
        const QString file = dir.filePath(png ? u"import.png"_s : u"import.jpg"_s);
        QStringList arguments{
            u"-window"_s, u"root"_s, u"-crop"_s,
            u"%1x%2+%3+%4"_s.arg(inner.width()).arg(inner.height()).arg(inner.x()).arg(inner.y())};
        if (!png)
            arguments << u"-quality"_s << u"80"_s;
        arguments << file;
        QElapsedTimer timer;
        timer.start();
        QProcess process;
        process.start(import, arguments);
        if (!process.waitForFinished(kWaitMs) || process.exitCode() != 0) {
            std::fprintf(stderr, "import failed: %s\n", process.readAllStandardError().constData());
            return 1;
        }
        imported[png ? 0 : 1].append(double(timer.nsecsElapsed()) / 1e6);
        importedKb[png ? 0 : 1].append(double(QFileInfo(file).size()) / 1024.0);
        QFile::remove(file);
    }

    std::printf("Press to overlay shown, own work beyond the %d ms wait: %s  (goal <= %.0f ms)\n",
                capture::CaptureController::RegionHideWaitMs, qPrintable(bench::figuresLine(overlay)),
                kOverlayGoalMs);
    const char* names[2] = {"PNG ", "JPEG"};
    for (int f = 0; f < 2; ++f) {
        std::printf("Release to both files, %s %dx%d: %s, file %.0f KiB\n", names[f], inner.width(),
                    inner.height(), qPrintable(bench::figuresLine(save[f])), median(savedKb[f]));
        if (import.isEmpty()) {
            std::printf("  import not found: install ImageMagick for the comparison\n");
            continue;
        }
        std::printf("  import -window root -crop, %s: %s, file %.0f KiB\n", names[f],
                    qPrintable(bench::figuresLine(imported[f])), median(importedKb[f]));
        std::printf("  ratio %.2f  (goal <= %.1f)\n", median(save[f]) / median(imported[f]), kSaveRatioGoal);
    }
    return 0;
}
