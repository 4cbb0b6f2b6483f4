#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstddef>
#include <cstdint>

// Shared by the fuzz targets; each target defines LLVMFuzzerTestOneInput, which libFuzzer calls in
// the fuzz build and CorpusDriver.cpp calls over the seed corpus in the test build.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace linvera::fuzz {

/// The input as UTF-8 text; invalid bytes become U+FFFD as in text read from outside.
QString utf8Text(const uint8_t* data, size_t size);
/// The input as raw UTF-16 code units (an odd last byte is dropped): reaches lone surrogates and
/// NULs that UTF-8 text cannot.
QString utf16Text(const uint8_t* data, size_t size);
/// The input cut at NUL bytes into at most `maxParts` parts (the last keeps any further NULs).
QList<QByteArray> splitAtNul(const uint8_t* data, size_t size, qsizetype maxParts);
/// A folder only this process uses (0700), made on first use under the temporary folder.
QString privateFolder();
/// Reports a broken property and aborts, so that libFuzzer keeps the input and the corpus run fails.
[[noreturn]] void fail(const char* property, const QString& detail);

} // namespace linvera::fuzz

#define FUZZ_CHECK(condition, detail)                                                                        \
    do {                                                                                                     \
        if (!(condition))                                                                                    \
            ::linvera::fuzz::fail(#condition, (detail));                                                     \
    } while (false)
