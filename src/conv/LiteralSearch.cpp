#include "conv/LiteralSearch.h"

#include <algorithm>
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
    // The patterns in folded unit order: the distinct prefixes of one length then come in order, those
    // of one parent together, so the trie is built a level at a time with every node's children next
    // to each other. Nothing is copied for it: with ten thousand rules the memory first touched is most
    // of the cost.
    const auto unit = [&](int32_t id, qsizetype at) { return FoldRuleCase(patterns[id][at].unicode()); };
    // The patterns still longer than the depth, in that order, with the node each has reached.
    std::vector<std::pair<int32_t, int32_t>> reaching;
    reaching.reserve(size_t(patterns.size()));
    size_t units = 0;
    for (qsizetype id = 0; id < patterns.size(); ++id) {
        if (!patterns[id].isEmpty())
            reaching.emplace_back(int32_t(id), 0);
        units += size_t(patterns[id].size());
    }
    std::sort(reaching.begin(), reaching.end(), [&](const auto& x, const auto& y) {
        const int32_t a = x.first;
        const int32_t b = y.first;
        const qsizetype common = qMin(patterns[a].size(), patterns[b].size());
        for (qsizetype i = 0; i < common; ++i) {
            if (unit(a, i) != unit(b, i))
                return unit(a, i) < unit(b, i);
        }
        return patterns[a].size() != patterns[b].size() ? patterns[a].size() < patterns[b].size() : a < b;
    });

    m_nodes.reserve(units + 1);
    m_units.reserve(units + 1);
    m_nodes.emplace_back();
    m_units.push_back(0);
    for (qsizetype depth = 0; !reaching.empty(); ++depth) {
        size_t kept = 0;
        int32_t lastParent = -1;
        char16_t lastUnit = 0;
        for (const auto& [id, parent] : reaching) {
            const char16_t c = unit(id, depth);
            if (parent != lastParent || c != lastUnit) {
                Node& p = m_nodes[size_t(parent)];
                if (p.childCount++ == 0)
                    p.firstChild = int32_t(m_nodes.size());
                m_nodes.emplace_back();
                m_units.push_back(c);
                lastParent = parent;
                lastUnit = c;
            }
            const auto node = int32_t(m_nodes.size()) - 1;
            if (patterns[id].size() == depth + 1) {
                // A pattern equal to an earlier one after folding is found under the earlier one's id.
                if (m_nodes[size_t(node)].output < 0)
                    m_nodes[size_t(node)].output = id;
            } else {
                reaching[kept++] = {id, node};
            }
        }
        reaching.resize(kept);
    }

    m_rootAscii.fill(-1);
    const Node& root = m_nodes[0];
    for (int32_t n = root.firstChild; n < root.firstChild + root.childCount; ++n) {
        if (m_units[size_t(n)] < m_rootAscii.size())
            m_rootAscii[m_units[size_t(n)]] = n;
    }
    // In node order, which is breadth first: a node's fail target, always shallower, is complete
    // before the node.
    for (int32_t parent = 0; parent < int32_t(m_nodes.size()); ++parent) {
        const Node p = m_nodes[size_t(parent)];
        for (int32_t node = p.firstChild; node < p.firstChild + p.childCount; ++node) {
            const char16_t c = m_units[size_t(node)];
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
        }
    }
}

int32_t LiteralSearch::child(int32_t node, char16_t c) const
{
    if (node == 0 && c < m_rootAscii.size())
        return m_rootAscii[c];
    const Node& n = m_nodes[size_t(node)];
    const auto begin = m_units.begin() + n.firstChild;
    const auto end = begin + n.childCount;
    const auto it = std::lower_bound(begin, end, c);
    if (it == end || *it != c)
        return -1;
    return int32_t(it - m_units.begin());
}

} // namespace linvera
