#include "conv/PreviewPicture.h"

#include "conv/HttpClient.h"

#include <QSaveFile>

using namespace Qt::StringLiterals;

namespace linvera {

bool LooksLikePicture(QByteArrayView head)
{
    const auto startsWith = [head](QByteArrayView signature, qsizetype at = 0) {
        return head.size() >= at + signature.size() && head.sliced(at, signature.size()) == signature;
    };
    return startsWith("\x89PNG\r\n\x1a\n") || startsWith("\xff\xd8\xff") || startsWith("GIF87a") ||
           startsWith("GIF89a") || startsWith("BM") || (startsWith("RIFF") && startsWith("WEBP", 8)) ||
           startsWith(QByteArrayView("II*\0", 4)) || startsWith(QByteArrayView("MM\0*", 4)) ||
           startsWith(QByteArrayView("\0\0\1\0", 4));
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
        Q_EMIT finished(Outcome::DownloadFailed);
        return;
    }
    const QByteArray body = m_fetch.body();
    // Written whole or not at all: a shorter picture never keeps the tail of the one before.
    QSaveFile file(m_previewPath);
    if (!file.open(QIODevice::WriteOnly) || file.write(body) != body.size() || !file.commit()) {
        Q_EMIT finished(Outcome::DownloadFailed);
        return;
    }
    Q_EMIT finished(LooksLikePicture(body) ? Outcome::Saved : Outcome::NotAPicture);
}

} // namespace linvera
