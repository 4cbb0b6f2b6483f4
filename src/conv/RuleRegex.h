#pragma once

#include <QString>
#include <QStringList>

#include <memory>

namespace linvera {

/// One compiled rule expression with the matching rules of the program: case-insensitive, first match
/// only, "." never matching CR or LF, lazy quantifiers and groups numbered from 1. Patterns come from
/// files that the network refreshes, so a match is bounded: an expression that backtracks without end
/// stops at a fixed budget and counts as no match. Copies share one compiled expression (and its match
/// buffer: use them from one thread).
class RuleRegex
{
public:
    RuleRegex() = default;
    explicit RuleRegex(const QString& pattern);
    /// A pattern already found to compile: nothing is compiled until the first match.
    struct Checked
    {};
    RuleRegex(const QString& pattern, Checked);

    /// Whether `pattern` compiles, with the reason when it does not; nothing is kept.
    static bool compiles(const QString& pattern, QString* error = nullptr);

    bool isValid() const;
    QString pattern() const;
    QString errorString() const;

    /// True when the expression matches somewhere in `subject`; `groups` (when given) receives the
    /// texts of groups 1..n of the first match (an unset group gives an empty text).
    bool match(QStringView subject, QStringList* groups = nullptr) const;
    /// The same for a subject the caller has found valid UTF-16, without checking it again.
    bool matchValid(QStringView subject, QStringList* groups = nullptr) const;

    /// Group 1 of the first match, or an empty text.
    QString firstGroup(QStringView subject) const;

    /// Replaces "(1)", "(2)", … in `templ` by the groups, in ascending order.
    static QString fillGroups(QString templ, const QStringList& groups);

private:
    bool matchImpl(QStringView subject, QStringList* groups, bool checked) const;
    struct Code;
    std::shared_ptr<Code> m_code;
};

} // namespace linvera
