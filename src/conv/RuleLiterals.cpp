#include "conv/RuleLiterals.h"

#include "conv/LiteralSearch.h"

using namespace Qt::StringLiterals;

namespace linvera {
namespace {

bool isAsciiAlnum(char16_t c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

bool isDigit(char16_t c)
{
    return c >= u'0' && c <= u'9';
}

// Escapes of one letter that stand for one item and take nothing after them.
bool isSimpleEscape(char16_t c)
{
    return QStringView(u"dDwWsSbBhHvVRXNAzZGKnrtfea").contains(QChar(c));
}

// Reads an expression the way PCRE2 does as far as it matters for its top-level literals, and gives up
// (returns false) wherever it is not certain to read it the same way.
class Reader
{
public:
    explicit Reader(QStringView pattern)
        : m_p(pattern)
    {}

    bool read(QStringList& literals)
    {
        QString run;
        const auto endRun = [&] {
            if (!run.isEmpty())
                literals.append(run);
            run.clear();
        };
        while (m_i < size()) {
            const char16_t c = at(m_i);
            char16_t literal = 0;
            bool isLiteral = false;
            switch (c) {
            case u'|': // any of two or more branches: nothing is certain
            case u')':
            case u'?':
            case u'*':
            case u'+':
            case u'{':
                return false;
            case u'(':
                if (!skipGroup())
                    return false;
                break;
            case u'[':
                if (!skipClass())
                    return false;
                break;
            case u'.':
            case u'^':
            case u'$':
                ++m_i;
                break;
            case u'\\': {
                if (m_i + 1 >= size())
                    return false;
                const char16_t e = at(m_i + 1);
                if (e < 0x80 && !isAsciiAlnum(e)) {
                    isLiteral = true;
                    literal = e;
                } else if (e < 0x80 &&
                           (!isSimpleEscape(e) || (e == u'N' && m_i + 2 < size() && at(m_i + 2) == u'{'))) {
                    return false;
                }
                m_i += 2;
                break;
            }
            default:
                // Characters beyond ASCII are left out: their case equivalents are the matcher's business.
                isLiteral = c < 0x80;
                literal = c;
                ++m_i;
                break;
            }
            bool quantified = false;
            if (!skipQuantifier(quantified))
                return false;
            if (isLiteral && !quantified)
                run.append(QChar(FoldRuleCase(literal)));
            else
                endRun();
        }
        endRun();
        return true;
    }

private:
    qsizetype size() const { return m_p.size(); }
    char16_t at(qsizetype i) const { return m_p[i].unicode(); }

    // Only groups whose opening is common and plain; options such as (?x) change how the rest reads.
    bool groupOpeningAllowed(qsizetype i) const
    {
        if (i + 1 >= size())
            return false;
        if (at(i + 1) == u'*')
            return false;
        if (at(i + 1) != u'?')
            return true;
        if (i + 2 >= size())
            return false;
        const char16_t c = at(i + 2);
        if (c == u':' || c == u'=' || c == u'!' || c == u'\'')
            return true;
        if (i + 3 >= size())
            return false;
        const char16_t d = at(i + 3);
        if (c == u'<')
            return d == u'=' || d == u'!' || d == u'_' || (isAsciiAlnum(d) && !isDigit(d));
        return c == u'P' && d == u'<';
    }

    // An escape inside a group or a class: skipped, unless it can swallow a closing bracket.
    bool skipInnerEscape(qsizetype& i) const
    {
        if (i + 1 >= size())
            return false;
        const char16_t e = at(i + 1);
        if (e == u'Q' || e == u'E' || e == u'c')
            return false;
        i += 2;
        return true;
    }

    bool skipGroup()
    {
        int depth = 0;
        while (m_i < size()) {
            const char16_t c = at(m_i);
            if (c == u'\\') {
                if (!skipInnerEscape(m_i))
                    return false;
            } else if (c == u'[') {
                if (!skipClass())
                    return false;
            } else if (c == u'(') {
                if (!groupOpeningAllowed(m_i))
                    return false;
                ++depth;
                ++m_i;
            } else if (c == u')') {
                ++m_i;
                if (--depth == 0)
                    return true;
            } else {
                ++m_i;
            }
        }
        return false;
    }

    // PCRE2's test for "[:name:]" inside a class; `i` is at the "[".
    bool posixClassEnd(qsizetype i, qsizetype& end) const
    {
        const char16_t terminator = at(i + 1);
        for (qsizetype k = i + 2; size() - k >= 2; ++k) {
            if (at(k) == u'\\' && (at(k + 1) == u']' || at(k + 1) == u'\\'))
                ++k;
            else if ((at(k) == u'[' && at(k + 1) == terminator) || at(k) == u']')
                return false;
            else if (at(k) == terminator && at(k + 1) == u']') {
                end = k + 2;
                return true;
            }
        }
        return false;
    }

    bool skipClass()
    {
        qsizetype j = m_i + 1;
        if (j < size() && at(j) == u'^')
            ++j;
        if (j < size() && at(j) == u']')
            ++j;
        while (j < size()) {
            const char16_t c = at(j);
            if (c == u'\\') {
                if (!skipInnerEscape(j))
                    return false;
                continue;
            }
            qsizetype end = 0;
            if (c == u'[' && j + 1 < size() &&
                (at(j + 1) == u':' || at(j + 1) == u'.' || at(j + 1) == u'=') && posixClassEnd(j, end)) {
                j = end;
                continue;
            }
            if (c == u']') {
                m_i = j + 1;
                return true;
            }
            ++j;
        }
        return false;
    }

    // "{n}", "{n,}" or "{n,m}"; anything else after an item is read differently by PCRE2 versions.
    bool skipCount()
    {
        qsizetype j = m_i + 1;
        const qsizetype digits = j;
        while (j < size() && isDigit(at(j)))
            ++j;
        if (j == digits)
            return false;
        if (j < size() && at(j) == u',') {
            ++j;
            while (j < size() && isDigit(at(j)))
                ++j;
        }
        if (j >= size() || at(j) != u'}')
            return false;
        m_i = j + 1;
        return true;
    }

    bool skipQuantifier(bool& quantified)
    {
        quantified = false;
        if (m_i >= size())
            return true;
        const char16_t c = at(m_i);
        if (c == u'?' || c == u'*' || c == u'+') {
            ++m_i;
        } else if (c == u'{') {
            if (!skipCount())
                return false;
        } else {
            return true;
        }
        quantified = true;
        // Lazy or possessive.
        if (m_i < size() && (at(m_i) == u'?' || at(m_i) == u'+'))
            ++m_i;
        return !(m_i < size() && (at(m_i) == u'?' || at(m_i) == u'*' || at(m_i) == u'+' || at(m_i) == u'{'));
    }

    QStringView m_p;
    qsizetype m_i = 0;
};

} // namespace

QStringList RequiredLiterals(QStringView pattern)
{
    QStringList literals;
    if (!Reader(pattern).read(literals))
        return {};
    return literals;
}

} // namespace linvera
