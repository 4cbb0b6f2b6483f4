#pragma once

#include "conv/ServiceCall.h"

#include <QImage>
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

} // namespace linvera
