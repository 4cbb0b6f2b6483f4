#include "verdict/CaselessPattern.h"

#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>

namespace linvera::verdict {
namespace {

// The options QRegularExpression compiles a case-insensitive expression with.
constexpr uint32_t kCompileOptions = PCRE2_UTF | PCRE2_CASELESS;

pcre2_code* compile(const QString& pattern)
{
    int errorCode = 0;
    PCRE2_SIZE errorOffset = 0;
    return pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.utf16()), PCRE2_SIZE(pattern.size()),
                         kCompileOptions, &errorCode, &errorOffset, nullptr);
}

} // namespace

struct CaselessPattern::Code
{
    Code(QString text, pcre2_code* compiled)
        : pattern(std::move(text))
        , code(compiled)
        , data(pcre2_match_data_create(1, nullptr))
    {}
    ~Code()
    {
        pcre2_match_data_free(data);
        pcre2_code_free(code);
    }
    Code(const Code&) = delete;
    Code& operator=(const Code&) = delete;

    const QString pattern;
    pcre2_code* const code;
    pcre2_match_data* const data;
    int matchesBeforeJit = kJitAfter;
};

CaselessPattern::CaselessPattern(const QString& pattern)
{
    if (pcre2_code* code = compile(pattern))
        m_code = std::make_shared<Code>(pattern, code);
}

QString CaselessPattern::pattern() const
{
    return m_code ? m_code->pattern : QString();
}

bool CaselessPattern::compiles(const QString& pattern)
{
    pcre2_code* code = compile(pattern);
    pcre2_code_free(code);
    return code != nullptr;
}

bool CaselessPattern::matches(QStringView subject) const
{
    if (!m_code || !m_code->data)
        return false;
    Code& c = *m_code;
    // Worth preparing only for an expression asked again and again; when the JIT is not available
    // the interpreter goes on.
    if (c.matchesBeforeJit > 0 && --c.matchesBeforeJit == 0)
        pcre2_jit_compile(c.code, PCRE2_JIT_COMPLETE);
    static const char16_t empty = 0;
    const auto* text = subject.isEmpty() ? reinterpret_cast<PCRE2_SPTR>(&empty)
                                         : reinterpret_cast<PCRE2_SPTR>(subject.utf16());
    // The subject's UTF-16 is checked: a lone surrogate is an error, not undefined behaviour.
    int rc = pcre2_match(c.code, text, PCRE2_SIZE(subject.size()), 0, 0, c.data, nullptr);
    // The JIT's own stack is small; the interpreter has the general limits.
    if (rc == PCRE2_ERROR_JIT_STACKLIMIT)
        rc = pcre2_match(c.code, text, PCRE2_SIZE(subject.size()), 0, PCRE2_NO_JIT, c.data, nullptr);
    return rc >= 0;
}

} // namespace linvera::verdict
