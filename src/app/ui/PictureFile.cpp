#include "app/ui/PictureFile.h"

#include "conv/HttpClient.h"

#include <QUrl>

using namespace Qt::StringLiterals;

namespace linvera {
namespace {

LoadedPicture decoded(const QImage& image)
{
    LoadedPicture picture;
    if (image.isNull()) {
        picture.errorNumber = 481;
        picture.errorDescription = u"エラー"_s;
        return picture;
    }
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
    call->start({web ? location : QString(), QString(), std::nullopt, QString(), HttpLimits()},
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

} // namespace linvera
