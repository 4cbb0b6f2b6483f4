#include "MicroblogHosts.h"

#include <QEventLoop>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace linvera::test {
namespace {

// The value of a simple form field of a multipart body (good enough for fields without a file).
QByteArray multipartField(const HttpTestRequest& request, const QByteArray& name)
{
    const QByteArray marker = "name=\"" + name + "\"\r\n\r\n";
    const qsizetype at = request.body.indexOf(marker);
    if (at < 0)
        return {};
    const qsizetype start = at + marker.size();
    const qsizetype end = request.body.indexOf("\r\n", start);
    return request.body.mid(start, end < 0 ? -1 : end - start);
}

HttpTestResponse xml(int status, const QByteArray& reason, const QString& body)
{
    HttpTestResponse response = HttpTestResponse::withStatus(status, reason, body.toUtf8());
    response.addHeader("Content-Type", "application/xml; charset=utf-8");
    response.version = "HTTP/1.0";
    return response;
}

} // namespace

PictureUploadHost::PictureUploadHost(QObject* parent)
    : HttpTestServer(parent)
{}

void PictureUploadHost::setAccount(const QByteArray& userName, const QByteArray& password)
{
    m_userName = userName;
    m_password = password;
}

HttpTestResponse PictureUploadHost::respond(const HttpTestRequest& request)
{
    if (request.method != "POST" || request.path() != "/api/upload")
        return HttpTestResponse::notFound();
    const auto fail = [](const QString& msg) {
        return xml(200, "OK",
                   u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rsp stat=\"fail\">\n"
                   u"  <err code=\"1001\" msg=\""_s +
                       msg + u"\" />\n</rsp>\n"_s);
    };
    if (multipartField(request, "username") != m_userName ||
        multipartField(request, "password") != m_password)
        return fail(u"Invalid twitter username or password"_s);
    if (!request.body.contains("name=\"media\""))
        return fail(u"No media provided"_s);
    ++m_uploads;
    const QString id = u"m"_s + QString::number(m_uploads);
    m_lastMediaUrl = m_mediaUrl.isEmpty() ? u"http://pic.example/"_s + id : m_mediaUrl;
    return xml(200, "OK",
               u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rsp stat=\"ok\">\n <mediaid>"_s + id +
                   u"</mediaid>\n <mediaurl>"_s + m_lastMediaUrl + u"</mediaurl>\n</rsp>\n"_s);
}

MicroblogApiHost::MicroblogApiHost(QObject* parent)
    : HttpTestServer(parent)
{}

void MicroblogApiHost::setAccount(const QByteArray& login, const QByteArray& password)
{
    m_login = login;
    m_password = password;
}

HttpTestResponse MicroblogApiHost::respond(const HttpTestRequest& request)
{
    static const QList<QByteArray> paths = {"/statuses/update.xml", "/friendships/create.xml",
                                            "/account/update_profile_image.xml",
                                            "/account/update_profile_background_image.xml"};
    if (request.method != "POST" || !paths.contains(request.path()))
        return HttpTestResponse::notFound();
    const QString requestText = QString::fromUtf8(request.path());
    const auto error = [&](int status, const QByteArray& reason, const QString& text) {
        return xml(status, reason,
                   u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<hash>\n  <request>"_s + requestText +
                       u"</request>\n  <error>"_s + text + u"</error>\n</hash>\n"_s);
    };
    if (request.header("Authorization") != "Basic " + QByteArray(m_login + ':' + m_password).toBase64())
        return error(401, "Unauthorized", u"Could not authenticate you."_s);
    if (!m_forcedError.isEmpty())
        return error(403, "Forbidden", m_forcedError);
    return xml(200, "OK",
               u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<user>\n  <id>1</id>\n  <screen_name>"_s +
                   QString::fromUtf8(m_login) + u"</screen_name>\n</user>\n"_s);
}

ForwardingProxy::ForwardingProxy(QObject* parent)
    : HttpTestServer(parent)
{}

HttpTestResponse ForwardingProxy::respond(const HttpTestRequest& request)
{
    if (!request.isAbsoluteForm())
        return HttpTestResponse::withStatus(400, "Bad Request");
    const QUrl url(QString::fromLatin1(request.target));
    if (url.host() != u"127.0.0.1"_s)
        return HttpTestResponse::withStatus(502, "Bad Gateway");

    // The request as the origin server expects it: only the request line changes.
    const qsizetype lineEnd = request.raw.indexOf("\r\n");
    QByteArray target = url.path(QUrl::FullyEncoded).toLatin1();
    if (url.hasQuery() || request.target.endsWith('?'))
        target += '?' + url.query(QUrl::FullyEncoded).toLatin1();
    const QByteArray forwarded =
        request.method + ' ' + target + ' ' + request.version + request.raw.mid(lineEnd);

    // The origin runs on this thread too, so the wait turns the event loop; it is bounded.
    QTcpSocket upstream;
    QByteArray answer;
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    connect(&upstream, &QTcpSocket::connected, &loop, [&] { upstream.write(forwarded); });
    connect(&upstream, &QTcpSocket::readyRead, &loop, [&] { answer += upstream.readAll(); });
    connect(&upstream, &QTcpSocket::disconnected, &loop, &QEventLoop::quit);
    connect(&upstream, &QTcpSocket::errorOccurred, &loop, &QEventLoop::quit);
    connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(10000);
    upstream.connectToHost(u"127.0.0.1"_s, quint16(url.port(80)));
    loop.exec();
    answer += upstream.readAll();
    if (answer.isEmpty())
        return HttpTestResponse::withStatus(502, "Bad Gateway");
    return HttpTestResponse::raw(answer);
}

} // namespace linvera::test
