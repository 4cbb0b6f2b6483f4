#pragma once

#include <QByteArrayView>
#include <QString>

namespace linvera::platform {

/// Appends the bytes to the file in one write, creating it when missing. Cheaper than a QFile in
/// append mode (which stats and seeks), and the file is closed again before it returns.
bool AppendToFile(const QString& path, QByteArrayView bytes);

} // namespace linvera::platform
