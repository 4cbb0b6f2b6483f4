#pragma once

#include <QDate>
#include <QLocale>
#include <QString>

namespace linvera {

class Endpoints;

/// The text up to its first "(", trimmed of spaces, when there is text before that "(";
/// otherwise the text unchanged. Strips a weekday that some date forms append.
QString CutDateSuffix(const QString& text);

/// A date in the locale's short form, always with a four-digit year (a two-digit year would not
/// read back as the same date).
QString NoticeDateText(QDate date, const QLocale& locale = QLocale::system());
/// Reads a date text written by NoticeDateText (in this or another locale) or in ISO form;
/// an invalid date when it is not one.
QDate ReadNoticeDate(const QString& text, const QLocale& locale = QLocale::system());

/// Whether a fetch on schedule is due: more than `intervalDays` calendar days since the recorded
/// date. Records the first date on the very first run and today's date when it answers true.
bool IsNoticeDue(qint32 intervalDays, QDate today, const QLocale& locale = QLocale::system());
/// The same with today's date.
bool IsNoticeDue(qint32 intervalDays);

/// "http://" + the notice host + "/linvera/notice/".
QString NoticeBaseUrl(const Endpoints& endpoints);

/// Fetches the notice document and the two rule files into the data folder, one after the other.
/// Each file is replaced only when its whole body arrived with a success status; any failure leaves
/// the old file exactly as it was. Results are not reported.
void FetchNoticeFiles(const Endpoints& endpoints, const QString& dataFolder);
/// The same with the registry's endpoints and the user's data folder.
void FetchNoticeFiles();

/// Fetches one URL into a file through a temporary file beside it; true when the file was replaced.
bool DownloadToFile(const QString& url, const QString& filePath);

/// The five texts of the notice document.
struct NoticeTexts
{
    QString noticeMessage;
    QString noticeUrl;
    QString warningMessage;
    QString warningUrl;
    QString account;
};

/// Reads the five texts of the notice document at `path`. Whatever cannot be read (no file, a
/// document that does not parse, another root element, a missing element) leaves its output as
/// it was. External entities and DTDs are never fetched.
void ReadNoticeFeed(const QString& path, QString& noticeMessage, QString& noticeUrl, QString& warningMessage,
                    QString& warningUrl, QString& account);
NoticeTexts ReadNoticeFeed(const QString& path);

} // namespace linvera
