#pragma once

#include "platform/RegistryStore.h"

#include <QString>
#include <QVariant>

namespace linvera {

// The program's only way into the registry store. Key paths, value names and text data cross in
// the ANSI code page (a character it cannot hold arrives as '?'); every value read comes back as
// text. Nothing here throws; failures show in the results. Each call uses
// platform::RegistryStore::shared() and keeps nothing between calls.

/// Creates the key and every missing parent. Nothing is reported.
void CreateRegKey(platform::RegRoot root, const QString& keyPath);
/// 0 when deleted; 2 when missing; 5 while the key still has subkeys (nothing is changed then).
qint32 DeleteRegKey(platform::RegRoot root, const QString& keyPath);
/// 0 when deleted; otherwise the status of the failed open or delete (2 for a missing key or value).
qint32 DeleteRegValue(platform::RegRoot root, const QString& keyPath, const QString& valueName);
/// Writes a REG_SZ value (ANSI bytes and one NUL), creating the key path when missing. A number is
/// written as its text. False only when the value could not be written.
bool SetRegString(platform::RegRoot root, const QString& keyPath, const QString& valueName,
                  const QVariant& data);
/// Writes a REG_DWORD value: the number rounded half to even to a signed 32-bit integer. False when
/// the number does not fit or the value could not be written.
bool SetRegNumber(platform::RegRoot root, const QString& keyPath, const QString& valueName, double data);
/// Reads a value as text: REG_SZ up to its first NUL, REG_DWORD as signed decimal. Any other type
/// leaves text unchanged and returns true. A missing key or value, or data over 1024 bytes, gives
/// false and the empty text.
bool GetRegValue(platform::RegRoot root, const QString& keyPath, const QString& valueName, QString& text);

/// The read buffer of GetRegValue, in bytes.
inline constexpr int kRegReadBufferSize = 1024;

/// The text of SetRegString's data: numbers as the program's runtime writes them.
QString RegDataText(const QVariant& data);

} // namespace linvera
