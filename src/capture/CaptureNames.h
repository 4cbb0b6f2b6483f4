#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>

namespace linvera::capture {

enum class PictureFormat { Png, Jpeg };

/// The extension of a capture file without the dot: "png" or "jpg".
QString PictureExtension(PictureFormat format);

/// The dated name of a capture, without folder and extension: the date in the locale's short date
/// form with every "/" made "_", "_", then the time with seconds with every ":" made "_"
/// (2014/01/05 9:05:07 on a Japanese locale gives "2014_01_05_9_05_07").
QString DatedCaptureStem(const QDateTime& when, const QLocale& locale);

/// The fixed name of the preview copy in the temporary folder.
QString PreviewFileName(PictureFormat format);

/// A coordinate rounded to the nearest whole pixel, halves to the even neighbour.
int RoundHalfEven(double value);

/// The leading part of a text that fits in maxBytes of the ANSI code page, never cutting a
/// character in two.
QString TruncateToAnsiBytes(const QString& text, int maxBytes);

} // namespace linvera::capture
