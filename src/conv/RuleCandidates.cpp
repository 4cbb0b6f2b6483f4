#include "conv/RuleCandidates.h"

#include <QHash>

#include <algorithm>
#include <utility>

namespace linvera {
namespace {

// A part of a needed text is needed too: short keys keep the automaton small when match texts are long
// (an expression's whole text is also a plain text to look for).
constexpr qsizetype kMaxKeyLength = 16;

} // namespace

int32_t RuleCandidates::Builder::keyId(QStringView text)
{
    const QString key = FoldRuleCase(text.left(kMaxKeyLength));
    const auto it = m_ids.constFind(key);
    if (it != m_ids.cend())
        return *it;
    const auto id = int32_t(m_keys.size());
    m_ids.insert(key, id);
    m_keys.append(key);
    m_users.push_back(0);
    return id;
}

void RuleCandidates::Builder::add(QStringView plainText, bool hasExpression,
                                  const QStringList& expressionLiterals)
{
    int32_t plain = -1;
    if (!plainText.isEmpty()) {
        plain = keyId(plainText);
        ++m_users[size_t(plain)];
    }
    m_plainKey.push_back(plain);
    m_built.m_hasExpression.push_back(hasExpression);
    std::vector<int32_t>& literalIds = m_built.m_literalIds;
    const auto begin = int32_t(literalIds.size());
    m_built.m_literalBegin.push_back(begin);
    if (!hasExpression)
        return;
    for (const QString& literal : expressionLiterals) {
        if (literal.isEmpty())
            continue;
        const int32_t id = keyId(literal);
        if (std::find(literalIds.begin() + begin, literalIds.end(), id) != literalIds.end())
            continue;
        literalIds.push_back(id);
        ++m_users[size_t(id)];
    }
}

RuleCandidates RuleCandidates::Builder::build()
{
    RuleCandidates& c = m_built;
    const auto count = int32_t(m_plainKey.size());
    c.m_literalBegin.push_back(int32_t(c.m_literalIds.size()));

    // A rule is triggered by its plain text and by one literal of its expression (the others are checked
    // before the expression runs): the literal fewest rules share, so that common texts such as "http"
    // trigger few rules.
    std::vector<std::pair<int32_t, int32_t>> triggers; // key, rule
    for (int32_t r = 0; r < count; ++r) {
        const int32_t begin = c.m_literalBegin[size_t(r)];
        const int32_t end = c.m_literalBegin[size_t(r) + 1];
        if (m_plainKey[size_t(r)] < 0 || (c.m_hasExpression[size_t(r)] && begin == end)) {
            c.m_always.push_back(r);
            continue;
        }
        triggers.emplace_back(m_plainKey[size_t(r)], r);
        if (begin == end)
            continue;
        const auto rarer = [&](int32_t a, int32_t b) {
            if (m_users[size_t(a)] != m_users[size_t(b)])
                return m_users[size_t(a)] < m_users[size_t(b)];
            return m_keys[a].size() > m_keys[b].size();
        };
        const int32_t anchor =
            *std::min_element(c.m_literalIds.begin() + begin, c.m_literalIds.begin() + end, rarer);
        if (anchor != m_plainKey[size_t(r)])
            triggers.emplace_back(anchor, r);
    }
    // Grouped by key; within a key the rules stay in ascending order.
    c.m_triggerBegin.assign(size_t(m_keys.size()) + 1, 0);
    for (const auto& trigger : triggers)
        ++c.m_triggerBegin[size_t(trigger.first) + 1];
    for (size_t k = 1; k < c.m_triggerBegin.size(); ++k)
        c.m_triggerBegin[k] += c.m_triggerBegin[k - 1];
    c.m_triggerRules.resize(triggers.size());
    std::vector<int32_t> next(c.m_triggerBegin.begin(), c.m_triggerBegin.end() - 1);
    for (const auto& [key, rule] : triggers)
        c.m_triggerRules[size_t(next[size_t(key)]++)] = rule;

    c.m_search = LiteralSearch(m_keys);
    c.m_seen.assign(size_t(m_keys.size()), 0);
    c.m_hasExpression.shrink_to_fit();
    c.m_literalBegin.shrink_to_fit();
    c.m_literalIds.shrink_to_fit();
    RuleCandidates built = std::move(m_built);
    *this = Builder();
    return built;
}

RuleCandidates::RuleCandidates(const std::vector<Needs>& rules)
{
    Builder builder;
    for (const Needs& needs : rules)
        builder.add(needs.plainText, needs.hasExpression, needs.expressionLiterals);
    *this = builder.build();
}

void RuleCandidates::findLiterals(QStringView url) const
{
    if (++m_searchNumber == 0) {
        std::fill(m_seen.begin(), m_seen.end(), 0);
        m_searchNumber = 1;
    }
    m_found.clear();
    m_search.search(url, [this](qsizetype key) {
        if (m_seen[size_t(key)] == m_searchNumber)
            return;
        m_seen[size_t(key)] = m_searchNumber;
        m_found.insert(m_found.end(), m_triggerRules.begin() + m_triggerBegin[size_t(key)],
                       m_triggerRules.begin() + m_triggerBegin[size_t(key) + 1]);
    });
    std::sort(m_found.begin(), m_found.end());
    m_found.erase(std::unique(m_found.begin(), m_found.end()), m_found.end());
}

bool RuleCandidates::expressionPossible(int32_t rule) const
{
    if (!m_hasExpression[size_t(rule)])
        return false;
    for (int32_t i = m_literalBegin[size_t(rule)]; i < m_literalBegin[size_t(rule) + 1]; ++i) {
        if (m_seen[size_t(m_literalIds[size_t(i)])] != m_searchNumber)
            return false;
    }
    return true;
}

} // namespace linvera
