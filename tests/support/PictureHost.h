#pragma once

#include "HttpTestServer.h"
#include "TestPictures.h"

#include <QHash>

namespace linvera::test {

/// A picture site. Ready-made paths (any other path is a 404):
/// "/small.png" (exactly smallPngSize bytes), "/large.png" (largePngSize pixels), "/photo.jpg",
/// "/anim.gif", "/image.bmp", "/text.png" (200 with a text body), and "/broken.png" (announces the
/// large PNG's length, sends half of it, then closes).
class PictureHost : public HttpTestServer
{
    Q_OBJECT

public:
    static constexpr qsizetype smallPngSize = 2500;
    static constexpr QSize largePngSize{320, 240};

    explicit PictureHost(QObject* parent = nullptr);

    /// Serves these bytes with 200 at path.
    void setFile(const QByteArray& path, const QByteArray& bytes, const QByteArray& contentType);
    void setPicture(const QByteArray& path, TestPictures::Format format, QSize size);
    /// Serves a text body with 200 under a picture's name, for "cannot decode" cases.
    void setText(const QByteArray& path, const QByteArray& text);
    /// Announces the full length of bytes, sends bytesSent of them (-1: half), then closes.
    void setBroken(const QByteArray& path, const QByteArray& bytes, qsizetype bytesSent = -1);
    void remove(const QByteArray& path) { m_files.remove(path); }

    /// The body served at path (for a broken path the full body it announces).
    QByteArray bytesAt(const QByteArray& path) const { return m_files.value(path).body; }

protected:
    HttpTestResponse respond(const HttpTestRequest& request) override;

private:
    QHash<QByteArray, HttpTestResponse> m_files;
};

} // namespace linvera::test
