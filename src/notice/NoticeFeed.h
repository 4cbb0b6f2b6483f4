#pragma once

#include "conv/HttpClient.h"

#include <QDate>
#include <QLocale>
#include <QObject>
#include <QSaveFile>
#include <QString>

#include <functional>
#include <memory>

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

/// One URL fetched into a file through a temporary file beside it. `done` tells, from the event
/// loop and never from inside start(), whether the file was replaced; a failure of any kind leaves
/// the old file exactly as it was. Destroying the download drops it, and `done` then never runs.
class FileDownload : public QObject
{
    Q_OBJECT

public:
    using Done = std::function<void(bool replaced)>;

    explicit FileDownload(QObject* parent = nullptr);
    ~FileDownload() override;

    void start(const QString& url, const QString& filePath, Done done);
    bool isRunning() const { return m_running; }
    /// The caps and time-outs of every later download; the body stays within a notice file's cap.
    void setHttpLimits(HttpLimits limits);

private:
    void finish(bool replaced);
    bool keepBody();

    HttpFetch m_fetch;
    std::unique_ptr<QSaveFile> m_file;
    Done m_done;
    bool m_running = false;
};

/// The notice document and the two rule files fetched into the data folder, one after the other.
/// `done` runs from the event loop once all three have ended, whatever each one's outcome; results
/// are not reported. Destroying it drops what is left, and `done` then never runs.
class NoticeDownload : public QObject
{
    Q_OBJECT

public:
    using Done = std::function<void()>;

    explicit NoticeDownload(QObject* parent = nullptr);
    ~NoticeDownload() override;

    void start(const Endpoints& endpoints, const QString& dataFolder, Done done);
    bool isRunning() const { return m_running; }
    /// The caps and time-outs of each of the three downloads started after the call.
    void setHttpLimits(const HttpLimits& limits) { m_download.setHttpLimits(limits); }

private:
    void next();

    FileDownload m_download;
    QList<std::pair<QString, QString>> m_left;
    Done m_done;
    bool m_running = false;
};

/// Starts the notice download (see NoticeDownload) with `limits` on each request.
std::unique_ptr<NoticeDownload> FetchNoticeFiles(const Endpoints& endpoints, const QString& dataFolder,
                                                 NoticeDownload::Done done = {},
                                                 const HttpLimits& limits = {});
/// The same with the registry's endpoints and the user's data folder.
std::unique_ptr<NoticeDownload> FetchNoticeFiles(NoticeDownload::Done done = {});

/// Starts one download of a URL into a file (see FileDownload) with `limits` on its request.
std::unique_ptr<FileDownload> DownloadToFile(const QString& url, const QString& filePath,
                                             FileDownload::Done done, const HttpLimits& limits = {});

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
