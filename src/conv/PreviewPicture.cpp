#include "PreviewPicture.h"

#include "HttpClient.h"

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
    connect(&m_fetch, &HttpFetch::finished, this, &PictureDownload::onFinished);
}

PictureDownload::~PictureDownload() = default;

void PictureDownload::cancel()
{
    m_fetch.abort();
}

void PictureDownload::start(const QString& url, const QString& previewPath)
{
    m_previewPath = previewPath;
    m_fetch.start(url);
}

void PictureDownload::onFinished()
{
    const int status = m_fetch.statusCode();
    if (m_fetch.outcome() == HttpFetch::Outcome::BadUrl)
        qWarning("PictureDownload: %s", qUtf8Printable(m_fetch.errorText()));
    if (m_fetch.outcome() != HttpFetch::Outcome::Answered || status < 200 || status > 299) {
        Q_EMIT finished(Outcome::DownloadFailed, QImage());
        return;
    }
    const QByteArray body = m_fetch.body();
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
