#include "TestPictures.h"

#include <QBuffer>
#include <QRandomGenerator>
#include <QtEndian>

#include <array>

namespace linvera::test {

namespace {

quint32 crc32(const QByteArray& data)
{
    static const std::array<quint32, 256> table = [] {
        std::array<quint32, 256> t{};
        for (quint32 n = 0; n < 256; ++n) {
            quint32 c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    quint32 crc = 0xFFFFFFFFu;
    for (const char byte : data)
        crc = table[(crc ^ quint8(byte)) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

QByteArray bigEndian32(quint32 value)
{
    QByteArray bytes(4, '\0');
    qToBigEndian(value, bytes.data());
    return bytes;
}

QByteArray littleEndian16(quint16 value)
{
    QByteArray bytes(2, '\0');
    qToLittleEndian(value, bytes.data());
    return bytes;
}

QByteArray encodeWithQt(const QImage& image, const char* format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, format))
        return {};
    return bytes;
}

} // namespace

QImage TestPictures::pattern(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    QRandomGenerator noise(20140105);
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            const int base = (x * 255) / qMax(1, size.width() - 1);
            const int grain = int(noise.bounded(64));
            image.setPixel(x, y,
                           qRgb((base + grain) & 0xFF, (y * 255) / qMax(1, size.height() - 1), grain * 4));
        }
    }
    return image;
}

QByteArray TestPictures::make(Format format, QSize size)
{
    const QImage image = pattern(size);
    switch (format) {
    case Format::Png:
        return encodeWithQt(image, "PNG");
    case Format::Jpeg:
        return encodeWithQt(image, "JPEG");
    case Format::Bmp:
        return encodeWithQt(image, "BMP");
    case Format::Gif:
        return encodeGif(image); // Qt reads GIF but cannot write it
    }
    return {};
}

QByteArray TestPictures::makeExactly(Format format, qsizetype bytes)
{
    const QByteArray picture = make(format, QSize(8, 8));
    if (picture.isEmpty())
        return {};
    return padded(format, picture, bytes);
}

QByteArray TestPictures::padded(Format format, const QByteArray& picture, qsizetype bytes)
{
    const qsizetype extra = bytes - picture.size();
    if (extra == 0)
        return picture;
    if (extra < 0)
        return {};
    switch (format) {
    case Format::Png: {
        // A tEXt chunk before IEND: length, type, keyword, NUL, text, CRC.
        const qsizetype textSize = extra - 12 - 8;
        if (textSize < 0)
            return {};
        const QByteArray data = "Comment" + QByteArray(1, '\0') + QByteArray(textSize, 'x');
        const QByteArray typeAndData = "tEXt" + data;
        const QByteArray chunk =
            bigEndian32(quint32(data.size())) + typeAndData + bigEndian32(crc32(typeAndData));
        QByteArray result = picture;
        result.insert(picture.size() - 12, chunk); // IEND is the last 12 bytes
        return result;
    }
    case Format::Jpeg: {
        // COM segments after SOI, each at most 65535 bytes long (its length field included).
        QByteArray segments;
        qsizetype left = extra;
        while (left > 0) {
            if (left < 4)
                return {};
            qsizetype payload = qMin<qsizetype>(left - 4, 65533);
            if (left - 4 - payload > 0 && left - 4 - payload < 4)
                payload -= 4; // keep room for a whole next segment
            segments += QByteArray("\xFF\xFE", 2);
            segments += char((payload + 2) >> 8);
            segments += char((payload + 2) & 0xFF);
            segments += QByteArray(payload, 'x');
            left -= payload + 4;
        }
        QByteArray result = picture;
        result.insert(2, segments);
        return result;
    }
    case Format::Gif: {
        // One comment extension: 21 FE, sub-blocks of 1 to 255 bytes, 00.
        const qsizetype inner = extra - 3;
        if (inner < 2)
            return {};
        const qsizetype blocks = (inner + 255) / 256;
        qsizetype data = inner - blocks;
        QByteArray extension("\x21\xFE", 2);
        for (qsizetype i = 0; i < blocks; ++i) {
            const qsizetype size = (data - (blocks - 1 - i) > 255) ? 255 : data - (blocks - 1 - i);
            extension += char(size);
            extension += QByteArray(size, 'x');
            data -= size;
        }
        extension += '\0';
        QByteArray result = picture;
        result.insert(picture.size() - 1, extension); // before the trailer 3B
        return result;
    }
    case Format::Bmp: {
        // Bytes after the pixel data, counted in the file size field.
        QByteArray result = picture + QByteArray(extra, '\0');
        qToLittleEndian(quint32(result.size()), result.data() + 2);
        return result;
    }
    }
    return {};
}

QByteArray TestPictures::encodeGif(const QImage& source)
{
    // 128 colours (4 red x 8 green x 4 blue levels) and 8-bit codes: a clear code before every
    // 100 literals keeps the LZW code width at 8 bits, so no compression logic is needed.
    const QImage image = source.convertToFormat(QImage::Format_RGB32);
    QByteArray gif = "GIF89a";
    gif += littleEndian16(quint16(image.width()));
    gif += littleEndian16(quint16(image.height()));
    gif += char(0xF6); // global table, 8-bit colour resolution, 2^(6+1) entries
    gif += '\0';
    gif += '\0';
    for (int i = 0; i < 128; ++i) {
        gif += char(((i >> 5) & 3) * 85);
        gif += char(((i >> 2) & 7) * 255 / 7);
        gif += char((i & 3) * 85);
    }
    gif += '\x2C';
    gif += littleEndian16(0);
    gif += littleEndian16(0);
    gif += littleEndian16(quint16(image.width()));
    gif += littleEndian16(quint16(image.height()));
    gif += '\0';
    gif += char(7); // minimum code size

    QByteArray codes;
    int sinceClear = 100;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (sinceClear == 100) {
                codes += char(128);
                sinceClear = 0;
            }
            const QRgb rgb = image.pixel(x, y);
            codes += char(((qRed(rgb) >> 6) << 5) | ((qGreen(rgb) >> 5) << 2) | (qBlue(rgb) >> 6));
            ++sinceClear;
        }
    }
    codes += char(129); // end of information
    for (qsizetype at = 0; at < codes.size(); at += 255) {
        const QByteArray block = codes.mid(at, 255);
        gif += char(block.size());
        gif += block;
    }
    gif += '\0';
    gif += '\x3B';
    return gif;
}

QByteArray TestPictures::extension(Format format)
{
    switch (format) {
    case Format::Png:
        return "png";
    case Format::Jpeg:
        return "jpg";
    case Format::Gif:
        return "gif";
    case Format::Bmp:
        return "bmp";
    }
    return {};
}

QByteArray TestPictures::mimeType(Format format)
{
    switch (format) {
    case Format::Png:
        return "image/png";
    case Format::Jpeg:
        return "image/jpeg";
    case Format::Gif:
        return "image/gif";
    case Format::Bmp:
        return "image/bmp";
    }
    return {};
}

} // namespace linvera::test
