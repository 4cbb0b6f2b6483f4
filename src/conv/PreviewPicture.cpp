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

LoadedPicture decoded(const QImage& image)
{
    if (image.isNull())
        return loaderError();
    LoadedPicture picture;
    picture.image = image;
    return picture;
}

bool isWeb(const QString& scheme)
{
    return scheme == u"http"_s || scheme == u"https"_s;
}

} // namespace

LoadedPicture LoadPictureFromUrl(const QString& location)
{
    QImage image;
    const QUrl url(location);
    const QString scheme = url.scheme().toLower();
    if (!isWeb(scheme))
        image.load(scheme == u"file"_s ? url.toLocalFile() : location);
    return decoded(image);
}

std::unique_ptr<ServiceCall> LoadPictureFromWeb(const QString& location,
                                                std::function<void(const LoadedPicture&)> done)
{
    auto call = std::make_unique<ServiceCall>();
    const bool web = isWeb(QUrl(location).scheme().toLower());
    call->start({web ? location : QString(), QString(), std::nullopt, httpBodyLimit(), QString()},
                [web, location, done = std::move(done)](const QByteArray& bytes) {
                    if (!web) {
                        done(LoadPictureFromUrl(location));
                        return;
                    }
                    QImage image;
                    if (!bytes.isEmpty())
                        image.loadFromData(bytes);
                    done(decoded(image));
                });
    return call;
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
