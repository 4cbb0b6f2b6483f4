#include "mailbox/CommandLine.h"

#include <algorithm>

namespace linvera {

QStringList SplitArgs(const QString& text, int maxArgs)
{
    maxArgs = std::max(maxArgs, 0);
    QStringList args(qsizetype(maxArgs) + 1);
    int count = 0;
    bool inArg = false;
    bool inQuote = false;
    for (const QChar ch : text) {
        const bool quote = ch == u'"';
        if (quote) {
            inQuote = !inQuote;
        }
        if ((ch != u' ' && ch != u'\t') || inQuote) {
            if (!inArg) {
                if (count == maxArgs) {
                    break;
                }
                ++count;
                inArg = true;
            }
            if (!quote) {
                args[count].append(ch);
            }
        } else {
            inArg = false;
        }
    }
    args.resize(qsizetype(count) + 1);
    return args;
}

QString StripBlanks(const QString& text)
{
    QString result;
    result.reserve(text.size());
    for (const QChar ch : text) {
        if (ch != QChar(u'\0') && ch != u'\n' && ch != u'\r' && ch != u' ') {
            result.append(ch);
        }
    }
    return result;
}

} // namespace linvera
