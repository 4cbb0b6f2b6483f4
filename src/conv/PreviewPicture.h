#pragma once

#include "conv/HttpClient.h"

#include <QByteArrayView>
#include <QObject>
#include <QString>

namespace linvera {

/// Whether the bytes begin as a picture file does (PNG, JPEG, GIF, BMP, WebP, TIFF or icon), read
/// from its signature alone: the download is told from an error page without decoding it.
bool LooksLikePicture(QByteArrayView head);

/// The window's picture download (`InetPict`): fetches a picture URL exactly as given (see HttpFetch)
/// and writes the whole body to the preview file (never leaving the tail of an older picture). It
/// decodes nothing: the view that shows the picture does. Only a success status counts as a
/// download.
class PictureDownload : public QObject
{
    Q_OBJECT

public:
    /// Saved: the preview file holds the picture.
    enum class Outcome { Saved, DownloadFailed, NotAPicture };

    explicit PictureDownload(QObject* parent = nullptr);
    ~PictureDownload() override;

    /// Starts the download of `url` into `previewPath`; a running download is dropped first.
    void start(const QString& url, const QString& previewPath);
    void cancel();
    bool isRunning() const { return m_fetch.isRunning(); }
    /// The caps and time-outs of every later download.
    void setLimits(const HttpLimits& limits) { m_fetch.setLimits(limits); }

Q_SIGNALS:
    void finished(linvera::PictureDownload::Outcome outcome);

private:
    void onFinished();

    HttpFetch m_fetch;
    QString m_previewPath;
};

} // namespace linvera
