#pragma once

#include "capture/CaptureNames.h"

#include <QDateTime>
#include <QImage>
#include <QLocale>
#include <QPoint>
#include <QString>

namespace linvera::capture {

/// Where and how a capture is written; the application hands these over from its settings.
struct CaptureTarget
{
    QString desktopFolder;
    QString tempFolder;
    PictureFormat format = PictureFormat::Png;
};

/// What became of one save.
struct SaveResult
{
    enum class Status { Saved, NothingInside, WriteFailed };
    Status status = Status::NothingInside;
    /// The dated picture and its preview copy, when saved.
    QString postPath;
    QString displayPath;
    /// The file that could not be written, when writing failed.
    QString failedPath;
};

/// The JPEG quality of capture files.
inline constexpr int JpegQuality = 80;

/// Saves the area inside the one-pixel border of the outer rectangle (left, top, right, bottom;
/// right and bottom exclusive, screen device pixels) from a picture of the screen whose top-left
/// corner lies at screenOrigin. The area is clipped to the picture. The picture goes to the dated
/// name on the desktop folder (made when missing; "_2", "_3", … when the name is taken), then is
/// copied over the preview file in the temporary folder. Nothing is written when the area is empty.
SaveResult SaveCaptureRect(const QImage& screen, QPoint screenOrigin, int left, int top, int right,
                           int bottom, const CaptureTarget& target, const QDateTime& now,
                           const QLocale& locale = QLocale::system());

} // namespace linvera::capture
