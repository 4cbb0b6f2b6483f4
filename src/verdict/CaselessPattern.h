#pragma once

#include <QString>
#include <QStringView>

#include <memory>

namespace linvera::verdict {

/// A case-insensitive expression that is only asked whether it matches, by PCRE2 itself: compiled
/// once, its match data kept between matches, and prepared for the JIT only after kJitAfter
/// matches, so that neither a short run nor a single match pays for more than it uses. Matches as a
/// QRegularExpression with CaseInsensitiveOption does. Copies share the compiled form; like the
/// rest of the review, not for use from two threads at once.
class CaselessPattern
{
public:
    CaselessPattern() = default;
    /// isNull() when the pattern does not compile.
    explicit CaselessPattern(const QString& pattern);

    bool isNull() const { return !m_code; }
    QString pattern() const;
    /// Whether the expression matches somewhere in `subject`. A subject that is not valid UTF-16,
    /// or a match that runs out of its limits, matches nothing.
    bool matches(QStringView subject) const;

    /// Whether `pattern` compiles as these do, without keeping it.
    static bool compiles(const QString& pattern);
    static constexpr int kJitAfter = 256;

private:
    struct Code;
    std::shared_ptr<Code> m_code;
};

} // namespace linvera::verdict
