#include "capture/CaptureNames.h"

#include "platform/AnsiCodec.h"

#include <cmath>

namespace linvera::capture {

QString PictureExtension(PictureFormat format)
{
    return format == PictureFormat::Png ? QStringLiteral("png") : QStringLiteral("jpg");
}

QString DatedCaptureStem(const QDateTime& when, const QLocale& locale)
{
    QString date = locale.toString(when.date(), QLocale::ShortFormat);
    date.replace(u'/', u'_');

    // The short time form rarely carries seconds, and two captures a minute apart must not share a
    // name: seconds are added right after the minutes when the form lacks them.
    QString timeFormat = locale.timeFormat(QLocale::ShortFormat);
    if (!timeFormat.contains(u's')) {
        const qsizetype minutes = timeFormat.indexOf(QStringLiteral("mm"));
        if (minutes >= 0)
            timeFormat.insert(minutes + 2, QStringLiteral(":ss"));
        else
            timeFormat.append(QStringLiteral(":ss"));
    }
    QString time = locale.toString(when.time(), timeFormat);
    time.replace(u':', u'_');
    // A "/" cannot stand in a file name, whatever the locale writes.
    time.replace(u'/', u'_');
    return date + u'_' + time;
}

QString PreviewFileName(PictureFormat format)
{
    return QStringLiteral("hvxLinveraPreview.") + PictureExtension(format);
}

int RoundHalfEven(double value)
{
    return static_cast<int>(std::nearbyint(value));
}

QString TruncateToAnsiBytes(const QString& text, int maxBytes)
{
    int used = 0;
    qsizetype end = 0;
    while (end < text.size()) {
        qsizetype next = end + 1;
        if (text.at(end).isHighSurrogate() && next < text.size() && text.at(next).isLowSurrogate())
            ++next;
        const int bytes = int(platform::AnsiCodec::encode(QStringView(text).mid(end, next - end)).size());
        if (used + bytes > maxBytes)
            break;
        used += bytes;
        end = next;
    }
    return text.left(end);
}

} // namespace linvera::capture
