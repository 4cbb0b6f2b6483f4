#include "capture/CaptureSaver.h"

#include "platform/AppPaths.h"

#include <QDir>
#include <QFile>
#include <QImageWriter>
#include <QRect>

#include <limits>

namespace linvera::capture {

namespace {

// More captures than this within one second come from a runaway loop, not from a user.
constexpr int MaxCounter = 9999;
constexpr int PngSpeedQuality = 70;

// The inner area, or an empty rectangle when it is empty or cannot come from a real screen.
QRect InnerArea(int left, int top, int right, int bottom)
{
    const qint64 x = qint64(left) + 1;
    const qint64 y = qint64(top) + 1;
    const qint64 w = qint64(right) - left - 2;
    const qint64 h = qint64(bottom) - top - 2;
    constexpr qint64 limit = std::numeric_limits<int>::max() / 2;
    if (w <= 0 || h <= 0 || w > limit || h > limit || x > limit || y > limit || x < -limit || y < -limit)
        return {};
    return QRect(int(x), int(y), int(w), int(h));
}

// Opens a file under the first free name, so a capture never replaces an earlier one.
bool OpenFreeName(const QString& stem, const QString& extension, QFile& file)
{
    for (int n = 1; n <= MaxCounter; ++n) {
        const QString suffix = n == 1 ? QString() : u'_' + QString::number(n);
        file.setFileName(stem + suffix + u'.' + extension);
        if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            return true;
        if (!file.exists())
            return false;
    }
    return false;
}

bool WritePicture(QFile& file, const QImage& picture, PictureFormat format)
{
    QImageWriter writer(&file,
                        format == PictureFormat::Png ? QByteArrayLiteral("png") : QByteArrayLiteral("jpeg"));
    // For PNG the quality picks the zlib level: a light level wrote screen pictures here four to
    // seven times faster than the default one, and no larger.
    writer.setQuality(format == PictureFormat::Jpeg ? JpegQuality : PngSpeedQuality);
    const bool written = writer.write(picture);
    file.close();
    return written && file.error() == QFileDevice::NoError;
}

// Replaces the preview by a copy of the picture; the old preview stays when the copy fails.
bool CopyOver(const QString& from, const QString& to)
{
    const QString part = to + QStringLiteral(".part");
    QFile::remove(part);
    if (!QFile::copy(from, part))
        return false;
    QFile::remove(to);
    if (!QFile::rename(part, to)) {
        QFile::remove(part);
        return false;
    }
    return true;
}

} // namespace

SaveResult SaveCaptureRect(const QImage& screen, QPoint screenOrigin, int left, int top, int right,
                           int bottom, const CaptureTarget& target, const QDateTime& now,
                           const QLocale& locale)
{
    SaveResult result;
    const QRect inner = InnerArea(left, top, right, bottom);
    // A maximised window reaches past the screen's edges: only what the screen shows is read.
    const QRect area = inner.isEmpty() ? QRect() : inner.translated(-screenOrigin) & screen.rect();
    if (area.isEmpty())
        return result;

    const QImage picture = screen.copy(area);
    if (!QDir().mkpath(target.desktopFolder)) {
        result.status = SaveResult::Status::WriteFailed;
        result.failedPath = target.desktopFolder;
        return result;
    }
    QFile file;
    const QString stem = platform::JoinPath(target.desktopFolder, DatedCaptureStem(now, locale));
    if (!OpenFreeName(stem, PictureExtension(target.format), file)) {
        result.status = SaveResult::Status::WriteFailed;
        result.failedPath = file.fileName();
        return result;
    }
    if (!WritePicture(file, picture, target.format)) {
        file.remove();
        result.status = SaveResult::Status::WriteFailed;
        result.failedPath = file.fileName();
        return result;
    }

    const QString display = platform::JoinPath(target.tempFolder, PreviewFileName(target.format));
    if (!QDir().mkpath(target.tempFolder) || !CopyOver(file.fileName(), display)) {
        result.status = SaveResult::Status::WriteFailed;
        result.failedPath = display;
        return result;
    }
    result.status = SaveResult::Status::Saved;
    result.postPath = file.fileName();
    result.displayPath = display;
    return result;
}

} // namespace linvera::capture
