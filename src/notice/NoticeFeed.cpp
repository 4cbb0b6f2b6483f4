#include "notice/NoticeFeed.h"

#include "conv/Endpoints.h"
#include "conv/HttpClient.h"
#include "platform/AppInfo.h"
#include "platform/AppPaths.h"
#include "platform/ShellOpen.h"
#include "settings/SettingsTable.h"

#include <QDomDocument>
#include <QFile>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTimer>
#include <QUrl>

#include <utility>

using namespace Qt::StringLiterals;

namespace linvera {
namespace {

const QString kLastNotify = u"lastnotify"_s;

/// The notice document and the rule lists are a few kilobytes; anything far larger is not theirs
/// and must not fill the disk.
constexpr qint64 kMaxNoticeFileBytes = 8 * 1024 * 1024;

QString fourDigitYearFormat(const QLocale& locale)
{
    static const QRegularExpression years(u"y+"_s);
    QString format = locale.dateFormat(QLocale::ShortFormat);
    format.replace(years, u"yyyy"_s);
    return format;
}

} // namespace

QString CutDateSuffix(const QString& text)
{
    const qsizetype open = text.indexOf(u'(');
    if (open < 1)
        return text;
    QStringView kept = QStringView(text).left(open);
    while (kept.startsWith(u' '))
        kept = kept.mid(1);
    while (kept.endsWith(u' '))
        kept.chop(1);
    return kept.toString();
}

QString NoticeDateText(QDate date, const QLocale& locale)
{
    return locale.toString(date, fourDigitYearFormat(locale));
}

QDate ReadNoticeDate(const QString& text, const QLocale& locale)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return {};
    QDate date = locale.toDate(trimmed, fourDigitYearFormat(locale));
    if (date.isValid())
        return date;
    // A two-digit year as the locale's own short form writes it: read it in this century.
    const QString shortFormat = locale.dateFormat(QLocale::ShortFormat);
    if (!shortFormat.contains(u"yyyy"_s)) {
        date = locale.toDate(trimmed, shortFormat);
        if (date.isValid())
            return date.year() < 2000 ? date.addYears(100) : date;
    }
    for (const QString& format : {u"yyyy-MM-dd"_s, u"yyyy/M/d"_s, u"yyyy.M.d"_s}) {
        date = QDate::fromString(trimmed, format);
        if (date.isValid())
            return date;
    }
    return {};
}

bool IsNoticeDue(qint32 intervalDays, QDate today, const QLocale& locale)
{
    QString stored = ReadSetting(kLastNotify);
    const QString todayText = CutDateSuffix(NoticeDateText(today, locale));
    if (stored.isEmpty())
        stored = todayText;
    const QString lastText = CutDateSuffix(stored);

    // A text that is not a date makes each test below count as passed.
    const QDate last = ReadNoticeDate(lastText, locale);
    const bool readable = last.isValid() && today.isValid();
    const qint64 days = readable ? last.daysTo(today) : 0;
    if (!readable || days == 0)
        WriteSetting(kLastNotify, lastText);
    if (!readable || days > intervalDays) {
        WriteSetting(kLastNotify, todayText);
        return true;
    }
    return false;
}

bool IsNoticeDue(qint32 intervalDays)
{
    return IsNoticeDue(intervalDays, QDate::currentDate());
}

QString NoticeBaseUrl(const Endpoints& endpoints)
{
    return u"http://"_s + endpoints.value(Endpoints::MakerNoticeHost) + u"/linvera/notice/"_s;
}

FileDownload::FileDownload(QObject* parent)
    : QObject(parent)
{
    connect(&m_fetch, &HttpFetch::finished, this, [this] { finish(keepBody()); });
    setHttpLimits({});
}

FileDownload::~FileDownload() = default;

void FileDownload::setHttpLimits(HttpLimits limits)
{
    limits.bodyCap = qMin(limits.bodyCap, kMaxNoticeFileBytes);
    m_fetch.setLimits(limits);
}

void FileDownload::start(const QString& url, const QString& filePath, Done done)
{
    m_fetch.abort();
    // Dropping an unfinished save file throws its temporary file away.
    m_file.reset();
    m_done = std::move(done);
    m_running = true;

    const QUrl target(url);
    const bool webAddress =
        target.isValid() && (target.scheme() == u"http"_s || target.scheme() == u"https"_s);
    // The body goes into a temporary file beside the target, which replaces the target only at
    // the end; a failed, refused or broken transfer leaves the old file as it was.
    if (webAddress) {
        m_file = std::make_unique<QSaveFile>(filePath);
        if (!m_file->open(QIODevice::WriteOnly))
            m_file.reset();
    }
    if (!m_file) {
        QTimer::singleShot(0, this, [this] { finish(false); });
        return;
    }
    // Our own fetch: its answer head, its body and its whole time are bounded, and it never answers
    // from a cache.
    m_fetch.start(url);
}

bool FileDownload::keepBody()
{
    const std::unique_ptr<QSaveFile> file = std::move(m_file);
    if (!file)
        return false;
    const int status = m_fetch.statusCode();
    if (m_fetch.outcome() != HttpFetch::Outcome::Answered || status < 200 || status > 299)
        return false;
    const QByteArray body = m_fetch.body();
    // Every file of the feed is text; one with NUL bytes (a picture, an archive, a broken answer)
    // would be refused when read, so the old file stays.
    if (body.contains('\0'))
        return false;
    return file->write(body) == body.size() && file->commit();
}

void FileDownload::finish(bool replaced)
{
    if (!m_running)
        return;
    m_running = false;
    // Taken first: `done` may start this download again or drop its owner.
    const Done done = std::exchange(m_done, {});
    if (done)
        done(replaced);
}

NoticeDownload::NoticeDownload(QObject* parent)
    : QObject(parent)
{}

NoticeDownload::~NoticeDownload() = default;

void NoticeDownload::start(const Endpoints& endpoints, const QString& dataFolder, Done done)
{
    QString folder = dataFolder;
    NormalizeFolderPath(folder);
    const QString base = NoticeBaseUrl(endpoints);
    m_left = {
        {base + u"?ver="_s + AppVersionText(), folder + u"notice.xml"_s},
        {base + u"tinyurls.txt"_s, folder + u"tinyurls.txt"_s},
        {base + u"picturls.txt"_s, folder + u"picturls.txt"_s},
    };
    m_done = std::move(done);
    m_running = true;
    next();
}

void NoticeDownload::next()
{
    if (m_left.isEmpty()) {
        m_running = false;
        const Done done = std::exchange(m_done, {});
        if (done)
            done();
        return;
    }
    const auto [url, path] = m_left.takeFirst();
    // Each file's outcome is its own: a failed one does not stop the others.
    m_download.start(url, path, [this](bool) { next(); });
}

std::unique_ptr<NoticeDownload> FetchNoticeFiles(const Endpoints& endpoints, const QString& dataFolder,
                                                 NoticeDownload::Done done, const HttpLimits& limits)
{
    auto download = std::make_unique<NoticeDownload>();
    download->setHttpLimits(limits);
    download->start(endpoints, dataFolder, std::move(done));
    return download;
}

std::unique_ptr<NoticeDownload> FetchNoticeFiles(NoticeDownload::Done done)
{
    return FetchNoticeFiles(ReadEndpoints(), platform::AppPaths::fromEnvironment().dataFolder,
                            std::move(done));
}

std::unique_ptr<FileDownload> DownloadToFile(const QString& url, const QString& filePath,
                                             FileDownload::Done done, const HttpLimits& limits)
{
    auto download = std::make_unique<FileDownload>();
    download->setHttpLimits(limits);
    download->start(url, filePath, std::move(done));
    return download;
}

void ReadNoticeFeed(const QString& path, QString& noticeMessage, QString& noticeUrl, QString& warningMessage,
                    QString& warningUrl, QString& account)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    // Sized by the file, not by the cap: a read of cap + 1 would reserve the whole cap every time.
    if (file.size() > kMaxNoticeFileBytes)
        return;
    const QByteArray bytes = file.read(file.size() + 1);
    if (bytes.size() > kMaxNoticeFileBytes)
        return;
    // The parser reads an internal DTD but never fetches anything: external entities stay
    // unresolved and a DTD named by address is not loaded.
    QDomDocument document;
    if (!document.setContent(bytes))
        return;
    const QDomElement root = document.documentElement();
    if (root.tagName() != u"linvera"_s)
        return;
    const std::pair<QString, QString*> fields[] = {
        {u"notice_msg"_s, &noticeMessage},   {u"notice_url"_s, &noticeUrl},
        {u"warning_msg"_s, &warningMessage}, {u"warning_url"_s, &warningUrl},
        {u"halvextwitter"_s, &account},
    };
    for (const auto& [name, output] : fields) {
        const QDomElement element = root.firstChildElement(name);
        if (!element.isNull())
            *output = element.text();
    }
}

NoticeTexts ReadNoticeFeed(const QString& path)
{
    NoticeTexts texts;
    ReadNoticeFeed(path, texts.noticeMessage, texts.noticeUrl, texts.warningMessage, texts.warningUrl,
                   texts.account);
    return texts;
}

} // namespace linvera
