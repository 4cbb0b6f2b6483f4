#include "PictureHost.h"

namespace linvera::test {

using Format = TestPictures::Format;

PictureHost::PictureHost(QObject* parent)
    : HttpTestServer(parent)
{
    setFile("/small.png", TestPictures::makeExactly(Format::Png, smallPngSize), "image/png");
    setPicture("/large.png", Format::Png, largePngSize);
    setPicture("/photo.jpg", Format::Jpeg, QSize(64, 48));
    setPicture("/anim.gif", Format::Gif, QSize(40, 30));
    setPicture("/image.bmp", Format::Bmp, QSize(24, 16));
    setText("/text.png", "This is not a picture.\r\n");
    setBroken("/broken.png", TestPictures::make(Format::Png, largePngSize));
}

void PictureHost::setFile(const QByteArray& path, const QByteArray& bytes, const QByteArray& contentType)
{
    m_files.insert(path, HttpTestResponse::ok(bytes, contentType));
}

void PictureHost::setPicture(const QByteArray& path, TestPictures::Format format, QSize size)
{
    setFile(path, TestPictures::make(format, size), TestPictures::mimeType(format));
}

void PictureHost::setText(const QByteArray& path, const QByteArray& text)
{
    setFile(path, text, "text/plain");
}

void PictureHost::setBroken(const QByteArray& path, const QByteArray& bytes, qsizetype bytesSent)
{
    HttpTestResponse response = HttpTestResponse::ok(bytes, "image/png");
    response.delivery = HttpTestDelivery::truncated(bytesSent);
    m_files.insert(path, response);
}

HttpTestResponse PictureHost::respond(const HttpTestRequest& request)
{
    const auto file = m_files.constFind(request.path());
    return file == m_files.constEnd() ? HttpTestServer::respond(request) : *file;
}

} // namespace linvera::test
