// Window titles, which any other program sets, cut to the room the capture window's caption has.
#include "FuzzSupport.h"
#include "capture/CaptureNames.h"

#include "platform/AnsiCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    // As the window system hands titles over: STRING is Latin-1, everything else UTF-8.
    const bool latin1 = (data[0] & 1) != 0;
    const int maxBytes = data[1] * 4; // reaches the caption's 999 bytes
    const QByteArray bytes(reinterpret_cast<const char*>(data + 2), qsizetype(size - 2));
    const QString title = latin1 ? QString::fromLatin1(bytes) : QString::fromUtf8(bytes);

    const QString cut = linvera::capture::TruncateToAnsiBytes(title, maxBytes);
    FUZZ_CHECK(title.startsWith(cut), title);
    const qsizetype used = linvera::platform::AnsiCodec::encode(cut).size();
    FUZZ_CHECK(used <= maxBytes, title);
    if (cut.size() < title.size()) {
        // Cut only where the next character no longer fits, and never inside a surrogate pair.
        FUZZ_CHECK(!(cut.size() > 0 && cut.back().isHighSurrogate() && title.at(cut.size()).isLowSurrogate()),
                   title);
        qsizetype next = cut.size() + 1;
        if (title.at(cut.size()).isHighSurrogate() && next < title.size() && title.at(next).isLowSurrogate())
            ++next;
        FUZZ_CHECK(linvera::platform::AnsiCodec::encode(QStringView(title).left(next)).size() > maxBytes,
                   title);
    }
    return 0;
}
