#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

#include <array>
#include <cstdint>
#include <vector>

namespace linvera {

/// The letter case folding under which the rule matcher compares case-insensitively, one UTF-16 unit at
/// a time: A-Z become a-z, and the two signs that the matcher also takes for an ASCII letter (KELVIN SIGN
/// for k, LONG S for s) become that letter. Every other unit stays as it is. A text that matches another
/// case-insensitively therefore contains it after both are folded.
constexpr char16_t FoldRuleCase(char16_t c)
{
    if (c >= u'A' && c <= u'Z')
        return char16_t(c + (u'a' - u'A'));
    if (c == u'\u212A')
        return u'k';
    if (c == u'\u017F')
        return u's';
    return c;
}

QString FoldRuleCase(QStringView text);

/// Finds all of a fixed set of texts in one pass over a subject (Aho–Corasick), comparing both after
/// `FoldRuleCase`.
class LiteralSearch
{
public:
    LiteralSearch() = default;
    /// The patterns must be non-empty and distinct after folding; a pattern's id is its index.
    explicit LiteralSearch(const QStringList& patterns);

    qsizetype patternCount() const { return m_patternCount; }

    /// Calls `found(id)` for every occurrence of every pattern in `text`, at the occurrence's end, in text
    /// order (a pattern found several times is reported each time).
    template <typename Found> void search(QStringView text, Found&& found) const
    {
        if (m_patternCount == 0)
            return;
        int32_t node = 0;
        for (const QChar qc : text) {
            const char16_t c = FoldRuleCase(qc.unicode());
            int32_t next = child(node, c);
            while (next < 0 && node != 0) {
                node = m_nodes[size_t(node)].fail;
                next = child(node, c);
            }
            node = next < 0 ? 0 : next;
            for (int32_t out = m_nodes[size_t(node)].output >= 0 ? node : m_nodes[size_t(node)].dictLink;
                 out >= 0; out = m_nodes[size_t(out)].dictLink)
                found(qsizetype(m_nodes[size_t(out)].output));
        }
    }

private:
    /// Nodes are numbered breadth first, so the children of a node are the nodes firstChild to
    /// firstChild + childCount - 1, in unit order.
    struct Node
    {
        int32_t firstChild = 0;
        int32_t childCount = 0;
        /// The node of the longest proper suffix of this node's text that is also in the trie.
        int32_t fail = 0;
        /// The id of the pattern that ends here, or -1.
        int32_t output = -1;
        /// The nearest node along the fail chain with an output, or -1.
        int32_t dictLink = -1;
    };

    int32_t child(int32_t node, char16_t c) const;

    std::vector<Node> m_nodes;
    /// The unit that leads to each node.
    std::vector<char16_t> m_units;
    // The root's children for ASCII, where nearly every search step starts again.
    std::array<int32_t, 128> m_rootAscii{};
    qsizetype m_patternCount = 0;
};

} // namespace linvera
