#include "HttpClient.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QTimer>
#include <QUrl>

#include <memory>

using namespace Qt::StringLiterals;

namespace linvera {
namespace {

HttpTimeouts g_timeouts;

void applyHeaders(QNetworkRequest& request, const QString& headers)
{
    const QStringList lines = headers.split(u"\r\n"_s, Qt::SkipEmptyParts);
    for (const QString& line : lines) {
        const qsizetype colon = line.indexOf(u':');
        if (colon <= 0)
            continue;
        request.setRawHeader(line.left(colon).trimmed().toLatin1(), line.mid(colon + 1).trimmed().toUtf8());
    }
}

QNetworkProxy namedProxy(const QString& proxy)
{
    const qsizetype colon = proxy.lastIndexOf(u':');
    const QString host = colon > 0 ? proxy.left(colon) : proxy;
    bool ok = false;
    const int port = colon > 0 ? proxy.mid(colon + 1).toInt(&ok) : 80;
    return QNetworkProxy(QNetworkProxy::HttpProxy, host, quint16(ok || colon <= 0 ? port : 80));
}

} // namespace

bool IsCutShort(const QNetworkReply& reply, qint64 received)
{
    bool ok = false;
    const qint64 announced = reply.header(QNetworkRequest::ContentLengthHeader).toLongLong(&ok);
    return ok && received < announced;
}

QString HttpAgentText()
{
    return u"Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1; .NET CLR 1.1.4322; .NET CLR 2.0.50727)"_s;
}

QNetworkAccessManager& sharedNetworkAccess()
{
    static QNetworkAccessManager* manager = [] {
        QNetworkProxyFactory::setUseSystemConfiguration(true);
        auto* m = new QNetworkAccessManager;
        m->setAutoDeleteReplies(false);
        return m;
    }();
    return *manager;
}

HttpTimeouts httpTimeouts()
{
    return g_timeouts;
}

void setHttpTimeouts(HttpTimeouts timeouts)
{
    g_timeouts = timeouts;
}

qint64 HttpGetBytes(const QString& url, QByteArray& body, const QString& headers, const QString& proxy)
{
    body.clear();
    if (url.isEmpty())
        return 0;
    const QUrl target = QUrl::fromUserInput(url);
    if (!target.isValid() || (target.scheme() != u"http"_s && target.scheme() != u"https"_s))
        return 0;

    QNetworkRequest request(target);
    request.setHeader(QNetworkRequest::UserAgentHeader, HttpAgentText());
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setTransferTimeout(int(g_timeouts.idle.count()));
    applyHeaders(request, headers);

    // A named proxy gets a manager of its own, so the shared one keeps the system's proxy.
    std::unique_ptr<QNetworkAccessManager> proxied;
    if (!proxy.isEmpty()) {
        proxied = std::make_unique<QNetworkAccessManager>();
        proxied->setProxy(namedProxy(proxy));
    }
    QNetworkAccessManager& manager = proxied ? *proxied : sharedNetworkAccess();
    QPointer<QNetworkReply> reply = manager.get(request);

    QEventLoop loop;
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, reply.data(), &QNetworkReply::abort);
    QObject::connect(reply.data(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    limit.start(g_timeouts.total);
    if (!reply->isFinished())
        loop.exec();

    if (!reply)
        return 0;
    const QNetworkReply::NetworkError error = reply->error();
    const bool httpAnswer = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid();
    // An error page is still an answer (its body is shown to the patterns); a broken or timed-out
    // transfer is not.
    const bool contentError = error >= QNetworkReply::ContentAccessDenied &&
                              error <= QNetworkReply::UnknownContentError &&
                              error != QNetworkReply::ContentReSendError;
    const bool serverError =
        error >= QNetworkReply::InternalServerError && error <= QNetworkReply::UnknownServerError;
    const bool answered = error == QNetworkReply::NoError || (httpAnswer && (contentError || serverError));
    if (answered) {
        body = reply->readAll();
        // A connection closed before the announced length is a broken transfer, not an answer.
        if (IsCutShort(*reply, body.size()))
            body.clear();
    }
    delete reply.data();
    return body.size();
}

} // namespace linvera
