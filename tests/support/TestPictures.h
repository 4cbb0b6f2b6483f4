#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>

namespace linvera::test {

/// Real picture files made in memory for download and decoding tests.
class TestPictures
{
public:
    enum class Format { Png, Jpeg, Gif, Bmp };

    /// A picture of this size in this format. The content is a deterministic pattern with noise,
    /// so larger pictures also make larger files. Empty when the format cannot be written.
    static QByteArray make(Format format, QSize size);
    /// A small picture (8 x 8) padded with a comment to exactly this many bytes; it still decodes
    /// to the same 8 x 8 picture. Empty when the size is too small for the format.
    static QByteArray makeExactly(Format format, qsizetype bytes);
    /// The image that make() encodes.
    static QImage pattern(QSize size);
    /// File name extension of the format ("png", "jpg", "gif", "bmp").
    static QByteArray extension(Format format);
    /// MIME type of the format.
    static QByteArray mimeType(Format format);

private:
    static QByteArray encodeGif(const QImage& image);
    static QByteArray padded(Format format, const QByteArray& picture, qsizetype bytes);
};

} // namespace linvera::test
