#pragma once

#include <QByteArray>
#include <QString>

namespace linvera::test {

/// The file's bytes, or the text "<missing>" when it cannot be read, so that a missing file never
/// compares equal to an empty one.
QByteArray readFile(const QString& path);
/// Replaces the file with these bytes, making missing parent folders first.
bool writeFile(const QString& path, const QByteArray& bytes);
/// SHA-256 of the file's bytes; empty when it cannot be read.
QByteArray fileDigest(const QString& path);
/// The permission bits of the file or folder (links followed); -1 when there is none.
int fileMode(const QString& path);

} // namespace linvera::test
