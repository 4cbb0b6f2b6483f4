#include "PreviewPicture.h"

#include "HttpClient.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSaveFile>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace linvera {
namespace {

LoadedPicture loaderError()
{
    LoadedPicture failed;
    failed.errorNumber = 481;
    failed.errorDescription = u"エラー"_s;
    return failed;
}

} // namespace

LoadedPicture LoadPictureFromUrl(const QString& location)
{
    QImage image;
    const QUrl url(location);
    const QString scheme = url.scheme().toLower();
    if (scheme == u"http"_s || scheme == u"https"_s) {
        QByteArray bytes;
        if (HttpGetBytes(location, bytes) > 0)
            image.loadFromData(bytes);
    } else {
        image.load(scheme == u"file"_s ? url.toLocalFile() : location);
    }
    if (image.isNull())
        return loaderError();
    LoadedPicture picture;
    picture.image = image;
    return picture;
}

PictureDownload::PictureDownload(QObject* parent)
    : QObject(parent)
{
    setObjectName(u"InetPict"_s);
    m_limit.setSingleShot(true);
    // A server that keeps dripping bytes must not keep the download alive for ever.
    connect(&m_limit, &QTimer::timeout, this, [this] {
        if (m_reply)
            m_reply->abort();
    });
}

PictureDownload::~PictureDownload()
{
    cancel();
}

void PictureDownload::cancel()
{
    if (!m_reply)
        return;
    m_limit.stop();
    QNetworkReply* reply = m_reply;
    m_reply = nullptr;
    reply->disconnect(this);
    reply->abort();
    reply->deleteLater();
}

void PictureDownload::start(const QString& url, const QString& previewPath)
{
    cancel();
    m_previewPath = previewPath;
    QNetworkRequest request(QUrl::fromUserInput(url));
    request.setHeader(QNetworkRequest::UserAgentHeader, HttpAgentText());
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setTransferTimeout(int(httpTimeouts().idle.count()));
    m_reply = sharedNetworkAccess().get(request);
    connect(m_reply.data(), &QNetworkReply::finished, this, &PictureDownload::onFinished);
    m_limit.start(httpTimeouts().total);
}

void PictureDownload::onFinished()
{
    m_limit.stop();
    QNetworkReply* reply = m_reply;
    m_reply = nullptr;
    if (!reply)
        return;
    reply->deleteLater();

    const QByteArray body = reply->readAll();
    if (reply->error() != QNetworkReply::NoError || IsCutShort(*reply, body.size())) {
        Q_EMIT finished(Outcome::DownloadFailed, QImage());
        return;
    }
    // Written whole or not at all: a shorter picture never keeps the tail of the one before.
    QSaveFile file(m_previewPath);
    if (!file.open(QIODevice::WriteOnly) || file.write(body) != body.size() || !file.commit()) {
        Q_EMIT finished(Outcome::DownloadFailed, QImage());
        return;
    }
    const LoadedPicture picture = LoadPictureFromUrl(m_previewPath);
    if (!picture.ok()) {
        Q_EMIT finished(Outcome::NotAPicture, QImage());
        return;
    }
    Q_EMIT finished(Outcome::Shown, picture.image);
}

} // namespace linvera
