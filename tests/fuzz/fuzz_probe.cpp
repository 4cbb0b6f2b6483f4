// The probe's answer as a stranger's host could send it, arriving in pieces: gathered as the probe
// gathers it (until the blank line, or all of it at close), decoded, then its header block and
// Location read. The first byte picks the code page, the next ones where the answer is cut.
#include "FuzzSupport.h"
#include "conv/RedirectProbe.h"
#include "platform/AnsiCodec.h"

using namespace Qt::StringLiterals;
using linvera::platform::AnsiCodec;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 4)
        return 0;
    AnsiCodec::select(data[0] & 1 ? AnsiCodec::CodePage::Windows31J : AnsiCodec::CodePage::Utf8);
    const size_t cuts[] = {data[1], size_t(data[2]) * 7};
    const QByteArray answer(reinterpret_cast<const char*>(data + 3), qsizetype(size - 3));

    QByteArray gathered;
    qsizetype from = 0;
    for (const size_t cut : cuts) {
        const qsizetype to = qMin(answer.size(), from + qsizetype(cut));
        gathered += answer.mid(from, to - from);
        from = to;
        if (gathered.contains("\r\n\r\n"))
            break;
    }
    if (!gathered.contains("\r\n\r\n"))
        gathered += answer.mid(from); // the rest, then the close

    const QString text = AnsiCodec::decode(gathered);
    const QString headerBlock = linvera::ProbeHeaderBlock(text);
    FUZZ_CHECK(text.startsWith(headerBlock), text);
    FUZZ_CHECK(!headerBlock.contains(u"\r\n\r\n"), text);

    const QString location = linvera::ProbeLocation(headerBlock);
    FUZZ_CHECK(location.isEmpty() || headerBlock.contains(location), headerBlock);
    // The value ends at the line's CR LF; a lone CR or LF inside it is sent on as it came.
    FUZZ_CHECK(!location.contains(u"\r\n"_s), headerBlock);
    bool found = false;
    const QString live = linvera::LiveProbeLocation(headerBlock, &found);
    FUZZ_CHECK(found || live.isEmpty(), headerBlock);
    FUZZ_CHECK(!live.contains(u"\r\n"_s), headerBlock);
    return 0;
}
