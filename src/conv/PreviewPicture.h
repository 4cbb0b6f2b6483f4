#pragma once

#include "HttpClient.h"
#include "ServiceCall.h"

#include <QImage>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

namespace linvera {

/// A decoded picture, or the loader's failure: error 481 with the description "エラー".
struct LoadedPicture
{
    QImage image;
    int errorNumber = 0;
    QString errorDescription;

    bool ok() const { return errorNumber == 0; }
};

/// Loads a picture from a file path or a file: URL.
LoadedPicture LoadPictureFromUrl(const QString& location);
/// Loads a picture from an http(s) URL (or, as LoadPictureFromUrl, a file); `done` gets it from the
/// event loop.
std::unique_ptr<ServiceCall> LoadPictureFromWeb(const QString& location,
                                                std::function<void(const LoadedPicture&)> done);

/// The window's picture download (`InetPict`): fetches a picture URL exactly as given (see HttpFetch),
/// writes the whole body to the preview file (never leaving the tail of an older picture) and
/// decodes it. Only a success status counts as a download.
class PictureDownload : public QObject
{
    Q_OBJECT

public:
    enum class Outcome { Shown, DownloadFailed, NotAPicture };

    explicit PictureDownload(QObject* parent = nullptr);
    ~PictureDownload() override;

    /// Starts the download of `url` into `previewPath`; a running download is dropped first.
    void start(const QString& url, const QString& previewPath);
    void cancel();
    bool isRunning() const { return m_fetch.isRunning(); }

Q_SIGNALS:
    void finished(linvera::PictureDownload::Outcome outcome, const QImage& picture);

private:
    void onFinished();

    HttpFetch m_fetch;
    QString m_previewPath;
};

} // namespace linvera
