#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace linvera {

/// Bytes in a Windows code page to text: 65001 is UTF-8, 932 windows-31j, 0 (and 1, 3) the
/// process-wide ANSI code page; a few other common numbers map to their codecs. Invalid bytes never
/// fail the conversion, they become U+FFFD. An unknown code page or no bytes give empty text.
QString DecodeBytesWithCodePage(int codePage, QByteArrayView bytes);

/// UTF-8 bytes to text (code page 65001).
QString Utf8BytesToText(QByteArrayView bytes);

/// Removes every occurrence of pattern from source, scanning left to right; the scan resumes after
/// a removed occurrence, so overlapping occurrences are not both removed. An empty pattern removes
/// nothing.
QByteArray RemoveByteSequence(QByteArrayView source, QByteArrayView pattern);

/// The body of a fetched page to text: every UTF-8 byte-order mark is dropped, the rest is UTF-8.
QString PageBytesToText(QByteArrayView bytes);

} // namespace linvera
