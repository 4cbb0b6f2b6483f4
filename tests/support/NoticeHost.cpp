#include "NoticeHost.h"

#include <QStringEncoder>

namespace linvera::test {

NoticeHost::NoticeHost(QObject* parent)
    : HttpTestServer(parent)
{
    setNotice(noticeXml(sampleNotice()));
    setFile("tinyurls.txt", sampleShortLinkRules());
    setFile("picturls.txt", samplePictureRules());
}

void NoticeHost::setFile(const QByteArray& name, const QByteArray& body, int status)
{
    const QByteArray contentType = name.isEmpty() ? "text/xml" : "text/plain";
    HttpTestResponse response;
    switch (status) {
    case 200:
        response = HttpTestResponse::ok(body, contentType);
        break;
    case 404:
        response = HttpTestResponse::withStatus(status, "Not Found", body);
        break;
    case 500:
        response = HttpTestResponse::withStatus(status, "Internal Server Error", body);
        break;
    default:
        response = HttpTestResponse::withStatus(status, "Status", body);
    }
    m_files.insert(name, response);
}

void NoticeHost::setBroken(const QByteArray& name, bool broken)
{
    auto file = m_files.find(name);
    if (file != m_files.end())
        file->delivery = broken ? HttpTestDelivery::truncated() : HttpTestDelivery::whole();
}

std::optional<QByteArray> NoticeHost::nameOf(const HttpTestRequest& request) const
{
    const QByteArray path = request.path();
    if (!path.startsWith(m_basePath))
        return std::nullopt;
    return path.mid(m_basePath.size());
}

HttpTestResponse NoticeHost::respond(const HttpTestRequest& request)
{
    const std::optional<QByteArray> name = nameOf(request);
    if (!name || !m_files.contains(*name))
        return HttpTestServer::respond(request);
    return m_files.value(*name);
}

QStringList NoticeHost::versionsRequested() const
{
    QStringList result;
    for (const HttpTestRequest& request : requests()) {
        if (nameOf(request) == QByteArray())
            result.append(request.queryValue(QStringLiteral("ver")));
    }
    return result;
}

QList<QByteArray> NoticeHost::namesRequested() const
{
    QList<QByteArray> result;
    for (const HttpTestRequest& request : requests()) {
        if (const std::optional<QByteArray> name = nameOf(request))
            result.append(*name);
    }
    return result;
}

QByteArray NoticeHost::noticeXml(const Notice& notice, const QByteArray& encoding)
{
    const auto element = [](const char* name, const std::optional<QString>& text) -> QString {
        if (!text)
            return QString();
        QString escaped = text->toHtmlEscaped();
        const QString tag = QString::fromLatin1(name);
        return u'<' + tag + u'>' + escaped + QStringLiteral("</") + tag + QStringLiteral(">\r\n");
    };
    const QString document =
        QStringLiteral("<?xml version=\"1.0\" encoding=\"") + QString::fromLatin1(encoding) +
        QStringLiteral("\"?>\r\n<linvera>\r\n") + element("notice_msg", notice.noticeMessage) +
        element("notice_url", notice.noticeUrl) + element("warning_msg", notice.warningMessage) +
        element("warning_url", notice.warningUrl) + element("halvextwitter", notice.account) +
        QStringLiteral("</linvera>\r\n");
    QStringEncoder encoder(encoding.constData());
    if (!encoder.isValid())
        return document.toUtf8();
    return encoder.encode(document);
}

NoticeHost::Notice NoticeHost::sampleNotice()
{
    Notice notice;
    notice.noticeMessage = QStringLiteral(u"新しいバージョンを公開しました");
    notice.noticeUrl = QStringLiteral("http://maker.example/linvera/news.html");
    notice.warningMessage = QString();
    notice.warningUrl = QString();
    notice.account = QStringLiteral("halvex_info");
    return notice;
}

QByteArray NoticeHost::sampleShortLinkRules()
{
    return QByteArrayLiteral(
        "tny.example/\thttp://api.tny.example/expand?code=($)\t\"long_url\": \"(.*?)\"\r\n"
        "rd.example/\tLocation:\t\r\n");
}

QByteArray NoticeHost::samplePictureRules()
{
    return QByteArrayLiteral("http://pics\\.example/(\\w+)\thttp://pics.example/img/(1).jpg\r\n");
}

} // namespace linvera::test
