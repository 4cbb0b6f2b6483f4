#include "JsonText.h"

namespace linvera::test {

QByteArray jsonQuote(const QString& text, bool escapeSlashes)
{
    QByteArray out = "\"";
    for (const QChar ch : text) {
        const char16_t unit = ch.unicode();
        switch (unit) {
        case u'"':
            out += "\\\"";
            break;
        case u'\\':
            out += "\\\\";
            break;
        case u'/':
            out += escapeSlashes ? "\\/" : "/";
            break;
        case u'\n':
            out += "\\n";
            break;
        case u'\r':
            out += "\\r";
            break;
        case u'\t':
            out += "\\t";
            break;
        default:
            if (unit >= 0x20 && unit < 0x7f)
                out += char(unit);
            else
                out += "\\u" + QByteArray::number(unit, 16).rightJustified(4, '0');
        }
    }
    out += '"';
    return out;
}

} // namespace linvera::test
