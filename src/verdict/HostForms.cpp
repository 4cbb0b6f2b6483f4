#include "verdict/HostForms.h"

#include <QList>

#include <unicode/uidna.h>

#include <memory>

namespace linvera::verdict {
namespace {

struct IdnaClose
{
    void operator()(UIDNA* idna) const { uidna_close(idna); }
};

// Read only after it is made; ICU's IDNA objects may be shared by threads for conversions.
const UIDNA* idna()
{
    static const std::unique_ptr<UIDNA, IdnaClose> shared = [] {
        UErrorCode status = U_ZERO_ERROR;
        UIDNA* made = uidna_openUTS46(UIDNA_NONTRANSITIONAL_TO_ASCII | UIDNA_NONTRANSITIONAL_TO_UNICODE |
                                          UIDNA_CHECK_BIDI | UIDNA_CHECK_CONTEXTJ,
                                      &status);
        return std::unique_ptr<UIDNA, IdnaClose>(U_SUCCESS(status) ? made : nullptr);
    }();
    return shared.get();
}

enum class Direction { ToAscii, ToUnicode };

bool convert(const QString& name, Direction direction, QString& out)
{
    const UIDNA* converter = idna();
    if (!converter || name.isEmpty())
        return false;
    // Punycode grows a label by a handful of units; four times the length is far beyond any real case.
    QString buffer(name.size() * 4 + 64, Qt::Uninitialized);
    UErrorCode status = U_ZERO_ERROR;
    UIDNAInfo info = UIDNA_INFO_INITIALIZER;
    const auto source = reinterpret_cast<const UChar*>(name.utf16());
    auto target = reinterpret_cast<UChar*>(buffer.data());
    const int32_t length = direction == Direction::ToAscii
                               ? uidna_nameToASCII(converter, source, int32_t(name.size()), target,
                                                   int32_t(buffer.size()), &info, &status)
                               : uidna_nameToUnicode(converter, source, int32_t(name.size()), target,
                                                     int32_t(buffer.size()), &info, &status);
    if (U_FAILURE(status) || length > buffer.size())
        return false;
    buffer.truncate(length);
    out = buffer;
    return info.errors == 0;
}

bool isNumberLabel(QStringView label)
{
    if (label.isEmpty())
        return false;
    if (label.size() >= 2 && label[0] == u'0' && (label[1] == u'x' || label[1] == u'X')) {
        for (const QChar c : label.mid(2)) {
            if (!(c.isDigit() || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F')))
                return false;
        }
        return true;
    }
    for (const QChar c : label) {
        if (c < u'0' || c > u'9')
            return false;
    }
    return true;
}

// A name of letters, digits and hyphens that UTS #46 leaves as it is (lower-cased) and accepts: no
// punycode label to decode, every label 1 to 63 long without a hyphen at either end or at places 3
// and 4, at most 253 in all. Most hosts are such names; the converter is asked about the others.
bool isPlainAsciiName(const QString& name, QString& lower)
{
    if (name.isEmpty() || name.size() > 253)
        return false;
    lower = name;
    qsizetype labelStart = 0;
    for (qsizetype i = 0; i <= lower.size(); ++i) {
        if (i == lower.size() || lower[i] == u'.') {
            const QStringView label = QStringView(lower).mid(labelStart, i - labelStart);
            if (label.isEmpty() || label.size() > 63 || label.front() == u'-' || label.back() == u'-' ||
                (label.size() >= 4 && label[2] == u'-' && label[3] == u'-'))
                return false;
            labelStart = i + 1;
            continue;
        }
        const char16_t c = lower[i].unicode();
        if (c >= u'A' && c <= u'Z')
            lower[i] = QChar(c + (u'a' - u'A'));
        else if (!((c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'-'))
            return false;
    }
    return true;
}

} // namespace

HostForms HostInBothForms(const QString& host)
{
    QString name = host;
    if (name.endsWith(u'.'))
        name.chop(1);
    HostForms forms;
    if (QString lower; isPlainAsciiName(name, lower)) {
        forms.ascii = forms.unicode = lower;
        forms.valid = true;
        return forms;
    }
    QString ascii;
    QString unicode;
    if (convert(name, Direction::ToAscii, ascii) && convert(ascii, Direction::ToUnicode, unicode)) {
        forms.ascii = ascii;
        forms.unicode = unicode;
        forms.valid = true;
        return forms;
    }
    forms.ascii = forms.unicode = name.toLower();
    return forms;
}

bool IsIpLiteral(const QString& host)
{
    if (host.startsWith(u'[') || host.contains(u':'))
        return true;
    QStringView name(host);
    if (name.endsWith(u'.'))
        name.chop(1);
    // The URL standard's IPv4 parser: one to four parts, each a decimal, octal or hexadecimal number.
    const QList<QStringView> parts = name.split(u'.');
    if (parts.size() > 4)
        return false;
    for (const QStringView part : parts) {
        if (!isNumberLabel(part))
            return false;
    }
    return true;
}

bool EndsInNumber(const QString& host)
{
    QStringView name(host);
    if (name.endsWith(u'.'))
        name.chop(1);
    const qsizetype dot = name.lastIndexOf(u'.');
    return isNumberLabel(dot < 0 ? name : name.mid(dot + 1));
}

} // namespace linvera::verdict
