#include "conv/RuleRegex.h"

#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace linvera {
namespace {

// Enough for any sensible URL rule; a runaway pattern gives up long before the window notices.
constexpr uint32_t kMatchLimit = 200000;
constexpr uint32_t kDepthLimit = 5000;

pcre2_match_context* matchContext()
{
    static pcre2_match_context* context = [] {
        pcre2_match_context* c = pcre2_match_context_create(nullptr);
        pcre2_set_match_limit(c, kMatchLimit);
        pcre2_set_depth_limit(c, kDepthLimit);
        return c;
    }();
    return context;
}

// One match buffer for every expression of the thread, grown to the most groups asked for. A buffer
// per expression cost each rule of a long list its own copy, which the interpreter also fills with
// its backtracking frames.
struct SharedMatchData
{
    pcre2_match_data* data = nullptr;
    uint32_t pairs = 0;
    ~SharedMatchData() { pcre2_match_data_free(data); }
    pcre2_match_data* forPairs(uint32_t needed)
    {
        if (!data || pairs < needed) {
            pcre2_match_data_free(data);
            pairs = std::max<uint32_t>(needed, 16);
            data = pcre2_match_data_create(pairs, nullptr);
        }
        return data;
    }
};

pcre2_code* compilePattern(const QString& pattern, QString* error)
{
    // One context for every compile: made once, never changed afterwards.
    static pcre2_compile_context* const context = [] {
        pcre2_compile_context* c = pcre2_compile_context_create(nullptr);
        pcre2_set_newline(c, PCRE2_NEWLINE_ANYCRLF);
        return c;
    }();
    int errorCode = 0;
    PCRE2_SIZE errorOffset = 0;
    pcre2_code* code =
        pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.utf16()), PCRE2_SIZE(pattern.size()),
                      PCRE2_CASELESS | PCRE2_UTF, &errorCode, &errorOffset, context);
    if (!code && error) {
        PCRE2_UCHAR buffer[256];
        const int len = pcre2_get_error_message(errorCode, buffer, 256);
        *error = len > 0 ? QString::fromUtf16(reinterpret_cast<const char16_t*>(buffer), len) : QString();
    }
    return code;
}

} // namespace

struct RuleRegex::Code
{
    QString pattern;
    QString error;
    // Compiled at load to be checked, then dropped, and compiled again on first use: a list of
    // thousands of rules holds its texts, not thousands of compiled expressions it never tries.
    pcre2_code* code = nullptr;
    uint32_t captures = 0;
    bool valid = false;
    // Machine code is made on first use too, and only for matches that run it.
    bool jitTried = false;
    bool jitReady = false;
    ~Code() { pcre2_code_free(code); }
};

RuleRegex::RuleRegex(const QString& pattern)
    : m_code(std::make_shared<Code>())
{
    m_code->pattern = pattern;
    m_code->valid = compiles(pattern, &m_code->error);
}

RuleRegex::RuleRegex(const QString& pattern, Checked)
    : m_code(std::make_shared<Code>())
{
    m_code->pattern = pattern;
    m_code->valid = true;
}

bool RuleRegex::compiles(const QString& pattern, QString* error)
{
    pcre2_code* code = compilePattern(pattern, error);
    pcre2_code_free(code);
    return code != nullptr;
}

bool RuleRegex::isValid() const
{
    return m_code && m_code->valid;
}

QString RuleRegex::pattern() const
{
    return m_code ? m_code->pattern : QString();
}

QString RuleRegex::errorString() const
{
    return m_code ? m_code->error : QString();
}

bool RuleRegex::match(QStringView subject, QStringList* groups) const
{
    return matchImpl(subject, groups, false);
}

bool RuleRegex::matchValid(QStringView subject, QStringList* groups) const
{
    return matchImpl(subject, groups, true);
}

bool RuleRegex::matchImpl(QStringView subject, QStringList* groups, bool checked) const
{
    if (!isValid())
        return false;
    if (!m_code->code) {
        m_code->code = compilePattern(m_code->pattern, nullptr);
        if (!m_code->code)
            return false;
        pcre2_pattern_info(m_code->code, PCRE2_INFO_CAPTURECOUNT, &m_code->captures);
    }
    if (checked && !m_code->jitTried) {
        m_code->jitTried = true;
        m_code->jitReady = pcre2_jit_compile(m_code->code, PCRE2_JIT_COMPLETE) == 0;
    }
    thread_local SharedMatchData shared;
    pcre2_match_data* data = shared.forPairs(m_code->captures + 1);
    if (!data)
        return false;
    // Invalid UTF-16 (a lone surrogate) is reported by PCRE2 as an error and counts as no match.
    const auto text = reinterpret_cast<PCRE2_SPTR>(subject.utf16());
    const int rc =
        checked && m_code->jitReady
            ? pcre2_jit_match(m_code->code, text, PCRE2_SIZE(subject.size()), 0, 0, data, matchContext())
            : pcre2_match(m_code->code, text, PCRE2_SIZE(subject.size()), 0, checked ? PCRE2_NO_UTF_CHECK : 0,
                          data, matchContext());
    if (rc < 0)
        return false;
    if (groups) {
        groups->clear();
        const uint32_t count = m_code->captures;
        const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(data);
        for (uint32_t k = 1; k <= count; ++k) {
            const PCRE2_SIZE start = ovector[2 * k];
            const PCRE2_SIZE end = ovector[2 * k + 1];
            if (int(k) < rc && start != PCRE2_UNSET && end >= start)
                groups->append(subject.mid(qsizetype(start), qsizetype(end - start)).toString());
            else
                groups->append(QString());
        }
    }
    return true;
}

QString RuleRegex::firstGroup(QStringView subject) const
{
    QStringList groups;
    if (!match(subject, &groups) || groups.isEmpty())
        return {};
    return groups.first();
}

QString RuleRegex::fillGroups(QString templ, const QStringList& groups)
{
    for (qsizetype k = 0; k < groups.size(); ++k)
        templ.replace(u'(' + QString::number(k + 1) + u')', groups[k]);
    return templ;
}

} // namespace linvera
