#include "FuzzSupport.h"

#include <QDir>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace linvera::fuzz {

QString utf8Text(const uint8_t* data, size_t size)
{
    return QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
}

QString utf16Text(const uint8_t* data, size_t size)
{
    QString text(qsizetype(size / 2), Qt::Uninitialized);
    if (size >= 2)
        std::memcpy(text.data(), data, size / 2 * 2);
    return text;
}

QList<QByteArray> splitAtNul(const uint8_t* data, size_t size, qsizetype maxParts)
{
    QList<QByteArray> parts;
    if (size == 0)
        return {QByteArray()};
    const char* p = reinterpret_cast<const char*>(data);
    const char* const end = p + size;
    while (p != end && parts.size() + 1 < maxParts) {
        const char* nul = static_cast<const char*>(std::memchr(p, 0, size_t(end - p)));
        if (!nul)
            break;
        parts.append(QByteArray(p, nul - p));
        p = nul + 1;
    }
    parts.append(QByteArray(p, end - p));
    return parts;
}

QString privateFolder()
{
    static const QString folder = [] {
        // mkdtemp makes the folder 0700 under a name nobody else can have taken.
        QByteArray name = QDir::tempPath().toLocal8Bit() + "/linvera-fuzz-XXXXXX";
        if (!mkdtemp(name.data())) {
            std::perror("mkdtemp");
            std::abort();
        }
        return QString::fromLocal8Bit(name);
    }();
    return folder;
}

void fail(const char* property, const QString& detail)
{
    std::fprintf(stderr, "Broken property: %s\n%s\n", property, detail.toUtf8().constData());
    std::abort();
}

} // namespace linvera::fuzz
