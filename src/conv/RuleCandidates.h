#pragma once

#include "conv/LiteralSearch.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <cstdint>
#include <vector>

namespace linvera {

/// The rules of an ordered list that can match a URL at all, found in one pass over the URL, so that a
/// first-match scan tries those alone, in their order, and gives the same first match as trying all.
/// The search keeps its working state between calls: use one object from one thread.
class RuleCandidates
{
public:
    /// What one rule needs before it can match.
    struct Needs
    {
        /// The rule matches when the URL contains this text as it is; an empty one needs no text.
        QString plainText;
        /// Whether the rule is also tried as an expression.
        bool hasExpression = false;
        /// Texts that every match of the expression contains (`RequiredLiterals`); none means any URL may
        /// match.
        QStringList expressionLiterals;
    };

    RuleCandidates() = default;
    explicit RuleCandidates(const std::vector<Needs>& rules);

    /// Makes the candidates rule by rule, in list order, so that a long list needs no list of Needs.
    class Builder;

    /// Calls `tryRule(index, expressionPossible)` for every rule that can match `url`, in ascending order,
    /// until it returns true; returns that rule's index, or -1. `expressionPossible` is false when the URL
    /// lacks one of the expression's literals, so the expression cannot match.
    template <typename TryRule> qsizetype firstMatch(QStringView url, TryRule&& tryRule) const
    {
        findLiterals(url);
        auto found = m_found.cbegin();
        auto always = m_always.cbegin();
        while (found != m_found.cend() || always != m_always.cend()) {
            int32_t rule = 0;
            // The two lists never share a rule.
            if (always == m_always.cend() || (found != m_found.cend() && *found < *always))
                rule = *found++;
            else
                rule = *always++;
            if (tryRule(qsizetype(rule), expressionPossible(rule)))
                return rule;
        }
        return -1;
    }

private:
    void findLiterals(QStringView url) const;
    bool expressionPossible(int32_t rule) const;

    LiteralSearch m_search;
    // For each literal: the rules it makes candidates (its index range in m_triggerRules).
    std::vector<int32_t> m_triggerBegin;
    std::vector<int32_t> m_triggerRules;
    // For each rule: whether it has an expression, and that expression's literals (range in m_literalIds).
    std::vector<bool> m_hasExpression;
    std::vector<int32_t> m_literalBegin;
    std::vector<int32_t> m_literalIds;
    // Rules that need no text at all: always tried, never triggered.
    std::vector<int32_t> m_always;

    // Working state of the last search: literals seen (marked with the search's number), rules triggered.
    mutable std::vector<uint32_t> m_seen;
    mutable uint32_t m_searchNumber = 0;
    mutable std::vector<int32_t> m_found;
};

class RuleCandidates::Builder
{
public:
    void add(QStringView plainText, bool hasExpression, const QStringList& expressionLiterals);
    /// The candidates of the rules added; the builder is empty again afterwards.
    RuleCandidates build();

private:
    int32_t keyId(QStringView text);

    QHash<QString, int32_t> m_ids;
    QStringList m_keys;
    std::vector<int32_t> m_users; // how many rules need each key
    std::vector<int32_t> m_plainKey;
    RuleCandidates m_built;
};

} // namespace linvera
