#include "platform/RegAccess.h"

#include "platform/AnsiCodec.h"

#include <QtEndian>

#include <cmath>
#include <limits>

namespace linvera {
namespace {

using platform::AnsiCodec;
using platform::RegistryStore;

// Names cross as C strings in the ANSI code page: they end at a NUL, and a character the code
// page cannot hold comes back as '?'.
QString throughAnsi(const QString& text)
{
    const qsizetype nul = text.indexOf(QChar(u'\0'));
    const QStringView name = nul < 0 ? QStringView(text) : QStringView(text).left(nul);
    return AnsiCodec::decode(AnsiCodec::encode(name));
}

bool setValue(platform::RegRoot root, const QString& keyPath, const QString& valueName, quint32 type,
              const QByteArray& data)
{
    // Opening a missing key for writing fails; the key path is then created and the value written.
    // The store does both in one transaction.
    return RegistryStore::shared().setValue(root, throughAnsi(keyPath), throughAnsi(valueName), type, data,
                                            RegistryStore::CreateMode::CreateMissingKeys) ==
           RegistryStore::Success;
}

} // namespace

QString RegDataText(const QVariant& data)
{
    switch (data.typeId()) {
    case QMetaType::UnknownType:
    case QMetaType::Nullptr:
        return QString();
    case QMetaType::Bool:
        return data.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    case QMetaType::Double:
        // Fifteen significant digits with a capital exponent mark, as the runtime's text conversion.
        return QString::number(data.toDouble(), 'g', 15).toUpper();
    case QMetaType::Float:
        return QString::number(double(data.toFloat()), 'g', 7).toUpper();
    default:
        return data.toString();
    }
}

void CreateRegKey(platform::RegRoot root, const QString& keyPath)
{
    RegistryStore::shared().createKey(root, throughAnsi(keyPath));
}

qint32 DeleteRegKey(platform::RegRoot root, const QString& keyPath)
{
    return RegistryStore::shared().deleteKey(root, throughAnsi(keyPath));
}

qint32 DeleteRegValue(platform::RegRoot root, const QString& keyPath, const QString& valueName)
{
    return RegistryStore::shared().deleteValue(root, throughAnsi(keyPath), throughAnsi(valueName));
}

bool SetRegString(platform::RegRoot root, const QString& keyPath, const QString& valueName,
                  const QVariant& data)
{
    QByteArray bytes = AnsiCodec::encode(RegDataText(data));
    bytes.append('\0');
    return setValue(root, keyPath, valueName, RegistryStore::RegSz, bytes);
}

bool SetRegNumber(platform::RegRoot root, const QString& keyPath, const QString& valueName, double data)
{
    // nearbyint rounds half to even in the default rounding mode.
    const double rounded = std::nearbyint(data);
    if (!std::isfinite(rounded) || rounded < double(std::numeric_limits<qint32>::min()) ||
        rounded > double(std::numeric_limits<qint32>::max()))
        return false; // the runtime's conversion would overflow: nothing is written
    QByteArray bytes(4, '\0');
    qToLittleEndian<qint32>(qint32(rounded), bytes.data());
    return setValue(root, keyPath, valueName, RegistryStore::RegDword, bytes);
}

bool GetRegValue(platform::RegRoot root, const QString& keyPath, const QString& valueName, QString& text)
{
    quint32 type = 0;
    QByteArray data;
    const qint32 status =
        RegistryStore::shared().queryValue(root, throughAnsi(keyPath), throughAnsi(valueName), type, data);
    if (status != RegistryStore::Success || data.size() > kRegReadBufferSize) {
        text.clear();
        return false;
    }
    if (!data.isEmpty() && data.endsWith('\0'))
        data.chop(1);
    switch (type) {
    case RegistryStore::RegSz: {
        const qsizetype nul = data.indexOf('\0');
        text = AnsiCodec::decode(nul < 0 ? QByteArrayView(data) : QByteArrayView(data).first(nul));
        break;
    }
    case RegistryStore::RegDword: {
        // The buffer beyond the returned bytes is NULs, so short data reads as a smaller number.
        QByteArray word = data.left(4);
        while (word.size() < 4)
            word.append('\0');
        text = QString::number(qFromLittleEndian<qint32>(word.constData()));
        break;
    }
    default:
        break; // other types leave the caller's text as it was
    }
    return true;
}

} // namespace linvera
