#include "PictureFile.h"

#include "HttpClient.h"

#include <QUrl>

using namespace Qt::StringLiterals;

namespace linvera {

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
    LoadedPicture picture;
    if (image.isNull()) {
        picture.errorNumber = 481;
        picture.errorDescription = u"エラー"_s;
        return picture;
    }
    picture.image = image;
    return picture;
}

} // namespace linvera
