// UnescapeUnicode over hostile page titles.
#include "FuzzSupport.h"
#include "conv/ShortenerClient.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = linvera::fuzz::utf8Text(data, size);
    const QString result = linvera::UnescapeUnicode(text);
    // Each escape of six units becomes one; nothing grows.
    FUZZ_CHECK(result.size() <= text.size(), text);
    if (!text.contains(u'\\') && !text.contains(u'%'))
        FUZZ_CHECK(result == text, text);
    return 0;
}
