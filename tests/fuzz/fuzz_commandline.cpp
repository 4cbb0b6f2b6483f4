// SplitArgs and StripBlanks over hostile command lines.
#include "FuzzSupport.h"
#include "mailbox/CommandLine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const int maxArgs = int(int8_t(data[0])); // negative counts too
    const QString text = linvera::fuzz::utf8Text(data + 1, size - 1);

    const QStringList args = linvera::SplitArgs(text, maxArgs);
    FUZZ_CHECK(!args.isEmpty() && args.first().isEmpty(), text);
    FUZZ_CHECK(args.size() - 1 <= qMax(maxArgs, 0), text);
    qsizetype total = 0;
    for (qsizetype i = 1; i < args.size(); ++i) {
        FUZZ_CHECK(!args[i].contains(u'"'), text);
        total += args[i].size();
    }
    FUZZ_CHECK(total <= text.size(), text);

    const QString stripped = linvera::StripBlanks(text);
    qsizetype from = 0;
    for (const QChar c : stripped) {
        FUZZ_CHECK(c != u'\0' && c != u'\n' && c != u'\r' && c != u' ', text);
        // What is left keeps its order: each character is found after the previous one.
        from = text.indexOf(c, from);
        FUZZ_CHECK(from >= 0, text);
        ++from;
    }
    qsizetype kept = 0;
    for (const QChar c : text)
        kept += c != u'\0' && c != u'\n' && c != u'\r' && c != u' ';
    FUZZ_CHECK(stripped.size() == kept, text);
    return 0;
}
