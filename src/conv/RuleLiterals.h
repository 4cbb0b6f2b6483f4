#pragma once

#include <QStringList>
#include <QStringView>

namespace linvera {

/// Texts that every match of a rule expression (in `RuleRegex`'s dialect) contains, folded by
/// `FoldRuleCase`: the runs of plain ASCII characters at the top level of the expression that no
/// quantifier makes optional or repeatable. Empty when none is certain: an alternation at the top level,
/// or syntax this reading does not follow (inline options, verbs, quoting, references, braces that are
/// not a plain count). The expression must compile; a broken one gives nothing useful.
QStringList RequiredLiterals(QStringView pattern);

} // namespace linvera
