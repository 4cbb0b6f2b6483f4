#pragma once

#include <QImage>
#include <QString>

namespace linvera {

/// A decoded picture, or the loader's failure: error 481 with the description "エラー".
struct LoadedPicture
{
    QImage image;
    int errorNumber = 0;
    QString errorDescription;

    bool ok() const { return errorNumber == 0; }
};

/// Loads a picture from a file path, a file: URL or an http(s) URL.
LoadedPicture LoadPictureFromUrl(const QString& location);

} // namespace linvera
