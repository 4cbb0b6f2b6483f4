#include "conv/LiteralSearch.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <utility>

namespace linvera {

QString FoldRuleCase(QStringView text)
{
    QString folded(text.size(), Qt::Uninitialized);
    QChar* out = folded.data();
    for (qsizetype i = 0; i < text.size(); ++i)
        out[i] = QChar(FoldRuleCase(text[i].unicode()));
    return folded;
}

LiteralSearch::LiteralSearch(const QStringList& patterns)
    : m_patternCount(patterns.size())
{
    // All patterns folded into one buffer, then taken in unit order: so the trie grows along one path at
    // a time and every node's children appear sorted.
    std::u16string folded;
    std::vector<std::pair<size_t, size_t>> spans; // start and length in `folded`, by id
    spans.reserve(size_t(patterns.size()));
    for (const QString& pattern : patterns) {
        spans.emplace_back(folded.size(), size_t(pattern.size()));
        for (const QChar c : pattern)
            folded.push_back(FoldRuleCase(c.unicode()));
    }
    const auto text = [&](int32_t id) {
        return std::u16string_view(folded).substr(spans[size_t(id)].first, spans[size_t(id)].second);
    };
    std::vector<int32_t> order;
    order.reserve(spans.size());
    for (size_t id = 0; id < spans.size(); ++id) {
        if (spans[id].second > 0)
            order.push_back(int32_t(id));
    }
    std::sort(order.begin(), order.end(), [&](int32_t a, int32_t b) {
        const std::u16string_view x = text(a);
        const std::u16string_view y = text(b);
        return x != y ? x < y : a < b;
    });

    struct BuildNode
    {
        int32_t firstChild = -1;
        int32_t lastChild = -1;
        int32_t nextSibling = -1;
        char16_t unit = 0;
        int32_t output = -1;
    };
    std::vector<BuildNode> trie(1);
    trie.reserve(folded.size() + 1);
    for (const int32_t id : order) {
        int32_t node = 0;
        for (const char16_t c : text(id)) {
            const int32_t last = trie[size_t(node)].lastChild;
            if (last >= 0 && trie[size_t(last)].unit == c) {
                node = last;
                continue;
            }
            const auto created = int32_t(trie.size());
            trie.push_back({-1, -1, -1, c, -1});
            if (last >= 0)
                trie[size_t(last)].nextSibling = created;
            else
                trie[size_t(node)].firstChild = created;
            trie[size_t(node)].lastChild = created;
            node = created;
        }
        // A pattern equal to an earlier one after folding is found under the earlier one's id.
        if (trie[size_t(node)].output < 0)
            trie[size_t(node)].output = id;
    }

    m_nodes.resize(trie.size());
    m_edgeUnits.reserve(trie.size() - 1);
    m_edgeTargets.reserve(trie.size() - 1);
    for (size_t n = 0; n < trie.size(); ++n) {
        Node& node = m_nodes[n];
        node.output = trie[n].output;
        node.edgeBegin = int32_t(m_edgeUnits.size());
        for (int32_t c = trie[n].firstChild; c >= 0; c = trie[size_t(c)].nextSibling) {
            m_edgeUnits.push_back(trie[size_t(c)].unit);
            m_edgeTargets.push_back(c);
        }
        node.edgeCount = int32_t(m_edgeUnits.size()) - node.edgeBegin;
    }
    m_rootAscii.fill(-1);
    for (int32_t e = 0; e < m_nodes[0].edgeCount; ++e) {
        const char16_t c = m_edgeUnits[size_t(e)];
        if (c < m_rootAscii.size())
            m_rootAscii[c] = m_edgeTargets[size_t(e)];
    }

    // Breadth first, so that a node's fail target, always shallower, is complete before the node.
    std::vector<int32_t> queue{0};
    queue.reserve(m_nodes.size());
    for (size_t head = 0; head < queue.size(); ++head) {
        const int32_t parent = queue[head];
        const Node& p = m_nodes[size_t(parent)];
        for (int32_t e = p.edgeBegin; e < p.edgeBegin + p.edgeCount; ++e) {
            const char16_t c = m_edgeUnits[size_t(e)];
            const int32_t node = m_edgeTargets[size_t(e)];
            int32_t fail = 0;
            if (parent != 0) {
                for (int32_t f = p.fail;; f = m_nodes[size_t(f)].fail) {
                    const int32_t next = child(f, c);
                    if (next >= 0) {
                        fail = next;
                        break;
                    }
                    if (f == 0)
                        break;
                }
            }
            Node& n = m_nodes[size_t(node)];
            n.fail = fail;
            n.dictLink = m_nodes[size_t(fail)].output >= 0 ? fail : m_nodes[size_t(fail)].dictLink;
            queue.push_back(node);
        }
    }
}

int32_t LiteralSearch::child(int32_t node, char16_t c) const
{
    if (node == 0 && c < m_rootAscii.size())
        return m_rootAscii[c];
    const Node& n = m_nodes[size_t(node)];
    const auto begin = m_edgeUnits.begin() + n.edgeBegin;
    const auto end = begin + n.edgeCount;
    const auto it = std::lower_bound(begin, end, c);
    if (it == end || *it != c)
        return -1;
    return m_edgeTargets[size_t(it - m_edgeUnits.begin())];
}

} // namespace linvera
