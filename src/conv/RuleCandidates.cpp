#include "RuleCandidates.h"

#include <QHash>

#include <algorithm>
#include <utility>

namespace linvera {
namespace {

// A part of a needed text is needed too: short keys keep the automaton small when match texts are long
// (an expression's whole text is also a plain text to look for).
constexpr qsizetype kMaxKeyLength = 16;

} // namespace

RuleCandidates::RuleCandidates(const std::vector<Needs>& rules)
{
    QHash<QString, int32_t> ids;
    ids.reserve(qsizetype(rules.size()) * 2);
    QStringList keys;
    keys.reserve(qsizetype(rules.size()) * 2);
    std::vector<int32_t> users; // how many rules need each key
    users.reserve(rules.size() * 2);
    const auto keyId = [&](const QString& text) {
        const QString key = FoldRuleCase(QStringView(text).left(kMaxKeyLength));
        const auto it = ids.constFind(key);
        if (it != ids.cend())
            return *it;
        const auto id = int32_t(keys.size());
        ids.insert(key, id);
        keys.append(key);
        users.push_back(0);
        return id;
    };

    const auto count = int32_t(rules.size());
    std::vector<int32_t> plainKey(size_t(count), -1);
    m_hasExpression.reserve(size_t(count));
    m_literalBegin.reserve(size_t(count) + 1);
    for (int32_t r = 0; r < count; ++r) {
        const Needs& needs = rules[size_t(r)];
        if (!needs.plainText.isEmpty()) {
            plainKey[size_t(r)] = keyId(needs.plainText);
            ++users[size_t(plainKey[size_t(r)])];
        }
        m_hasExpression.push_back(needs.hasExpression);
        const auto begin = int32_t(m_literalIds.size());
        m_literalBegin.push_back(begin);
        if (!needs.hasExpression)
            continue;
        for (const QString& literal : needs.expressionLiterals) {
            if (literal.isEmpty())
                continue;
            const int32_t id = keyId(literal);
            if (std::find(m_literalIds.begin() + begin, m_literalIds.end(), id) != m_literalIds.end())
                continue;
            m_literalIds.push_back(id);
            ++users[size_t(id)];
        }
    }
    m_literalBegin.push_back(int32_t(m_literalIds.size()));

    // A rule is triggered by its plain text and by one literal of its expression (the others are checked
    // before the expression runs): the literal fewest rules share, so that common texts such as "http"
    // trigger few rules.
    std::vector<std::pair<int32_t, int32_t>> triggers; // key, rule
    for (int32_t r = 0; r < count; ++r) {
        const int32_t begin = m_literalBegin[size_t(r)];
        const int32_t end = m_literalBegin[size_t(r) + 1];
        if (plainKey[size_t(r)] < 0 || (m_hasExpression[size_t(r)] && begin == end)) {
            m_always.push_back(r);
            continue;
        }
        triggers.emplace_back(plainKey[size_t(r)], r);
        if (begin == end)
            continue;
        const auto rarer = [&](int32_t a, int32_t b) {
            if (users[size_t(a)] != users[size_t(b)])
                return users[size_t(a)] < users[size_t(b)];
            return keys[a].size() > keys[b].size();
        };
        const int32_t anchor =
            *std::min_element(m_literalIds.begin() + begin, m_literalIds.begin() + end, rarer);
        if (anchor != plainKey[size_t(r)])
            triggers.emplace_back(anchor, r);
    }
    // Grouped by key; within a key the rules stay in ascending order.
    m_triggerBegin.assign(size_t(keys.size()) + 1, 0);
    for (const auto& trigger : triggers)
        ++m_triggerBegin[size_t(trigger.first) + 1];
    for (size_t k = 1; k < m_triggerBegin.size(); ++k)
        m_triggerBegin[k] += m_triggerBegin[k - 1];
    m_triggerRules.resize(triggers.size());
    std::vector<int32_t> next(m_triggerBegin.begin(), m_triggerBegin.end() - 1);
    for (const auto& [key, rule] : triggers)
        m_triggerRules[size_t(next[size_t(key)]++)] = rule;

    m_search = LiteralSearch(keys);
    m_seen.assign(size_t(keys.size()), 0);
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
