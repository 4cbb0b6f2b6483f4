#pragma once

#include <QByteArrayView>
#include <QString>

namespace linvera {

/// Standard Base64 (RFC 4648 alphabet, "=" padding) on one line, never broken. No bytes give
/// empty text.
QString Base64Encode(QByteArrayView bytes);

} // namespace linvera
