// Finding the rules that can match a URL: the multi-pattern search, the literals an expression needs,
// and the first match over candidates against trying every rule in order.
#include "conv/LiteralSearch.h"
#include "conv/RuleLiterals.h"
#include "conv/RuleRegex.h"
#include "conv/ServiceRules.h"

#include "platform/MessageBoxes.h"

#include <QLoggingCategory>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTest>

#include <algorithm>

using namespace Qt::StringLiterals;
using namespace linvera;

namespace {

class SilentBoxes : public platform::MessageBoxes
{
public:
    Answer show(Icon, const QString&, const QString&, Buttons) override { return Answer::Ok; }
};

// Fixed, so that a failure can be run again; printed by the tests that use it.
constexpr quint32 kSeed = 20240611;

QStringList foundTexts(const QStringList& patterns, const QString& text)
{
    const LiteralSearch search(patterns);
    QStringList found;
    search.search(text, [&](qsizetype id) { found.append(patterns[id]); });
    found.sort();
    return found;
}

// Every occurrence of every pattern, by comparing at each position after folding; a pattern equal to an
// earlier one after folding counts for the earlier one, as the search reports it.
QStringList naiveFoundTexts(const QStringList& patterns, const QString& text)
{
    const QString folded = FoldRuleCase(text);
    QStringList seen;
    QStringList found;
    for (const QString& pattern : patterns) {
        const QString key = FoldRuleCase(pattern);
        if (key.isEmpty() || seen.contains(key))
            continue;
        seen.append(key);
        for (qsizetype at = folded.indexOf(key); at >= 0; at = folded.indexOf(key, at + 1))
            found.append(pattern);
    }
    found.sort();
    return found;
}

// The designed matching, every rule tried in file order; `index` receives the matching rule's.
ShortLinkRules::Match scanAllRules(const ShortLinkRules& rules, const QString& url,
                                   qsizetype* index = nullptr)
{
    const bool validText = QStringView(url).isValidUtf16();
    QStringList groups;
    // The empty URL (an input of spaces only) is claimed by no rule.
    for (qsizetype i = 0; !url.isEmpty() && i < rules.size(); ++i) {
        const ShortLinkRules::Rule& rule = rules.at(i);
        if (index)
            *index = i;
        if (url.contains(rule.matchText))
            return {true, rule.templ, rule.pattern, {}};
        if (!rule.isLocation && validText && rule.regex.matchValid(url, &groups))
            return {true, RuleRegex::fillGroups(rule.templ, groups), QString(), {}};
    }
    if (index)
        *index = -1;
    return {};
}

// Pieces that rule texts and URLs share, so that generated URLs often meet generated rules.
const QStringList kWords = {u"http"_s, u"https"_s, u"://"_s, u"svc"_s,   u"Sh"_s, u"example"_s, u".jp"_s,
                            u"/"_s,    u"k"_s,     u"S"_s,   u"go.to"_s, u"x"_s,  u"aa"_s,      u"短縮"_s,
                            u"?id="_s, u"42"_s,    u"-"_s,   u"abc"_s,   u"ks"_s, u"www."_s,    u"é"_s};

// Expression pieces, hostile ones included: quantifiers on literals and groups, alternation, classes with
// brackets inside, options, verbs, quoting, escapes with arguments, back references, runaway nesting.
const QStringList kAtoms = {
    u"\\."_s,     u"\\/"_s,       u"\\d+"_s,   u"\\w*"_s,     u"\\b"_s,         u"."_s,
    u".*?"_s,     u"[a-z]+"_s,    u"[]k]"_s,   u"[^/]*"_s,    u"[[:alpha:]]"_s, u"[\\]s]"_s,
    u"(\\w+)"_s,  u"(?:ab|cd)"_s, u"(a|)"_s,   u"|"_s,        u"^"_s,           u"$"_s,
    u"(?i)"_s,    u"(?-i)"_s,     u"(?x) "_s,  u"(*UTF)"_s,   u"\\Qa.b\\E"_s,   u"\\x41"_s,
    u"\\x{6B}"_s, u"(a)\\1"_s,    u"\\K"_s,    u"(?=s)"_s,    u"(?<=k)"_s,      u"(a+)+$"_s,
    u"(x*)*y"_s,  u"[\\c]z]"_s,   u"a{,2}"_s,  u"{"_s,        u"}"_s,           u"(?<n>\\d)"_s,
    u"\\N"_s,     u"(?#(c)"_s,    u"\\E"_s,    u"\\"_s,       u"("_s,           u")"_s,
    u"[[:x]"_s,   u"\\p{L}"_s,    u"\u212A"_s, u"(?P<q>s)"_s, u"[\\x{5D}k]"_s};
const QStringList kQuantifiers = {u"?"_s,  u"*"_s,  u"+"_s,    u"{2}"_s, u"{0}"_s, u"{1,3}"_s,
                                  u"+?"_s, u"?+"_s, u"{1,}"_s, u"??"_s,  u"{x}"_s, u"**"_s};

class Generator
{
public:
    explicit Generator(quint32 seed)
        : m_random(seed)
    {}

    int below(int n) { return int(m_random.bounded(n)); }
    bool chance(int percent) { return below(100) < percent; }
    template <typename T> const T& pick(const QList<T>& list) { return list[below(int(list.size()))]; }

    // Flips letter case and swaps in the signs that case-insensitive matching takes for k and s.
    QString mangle(QString text)
    {
        for (QChar& c : text) {
            if (chance(15))
                c = c.isUpper() ? c.toLower() : c.toUpper();
            if (c == u'k' && chance(20))
                c = QChar(0x212A);
            else if (c == u's' && chance(20))
                c = QChar(0x017F);
        }
        return text;
    }

    QString expression()
    {
        QString text;
        bool hasWord = false;
        const int parts = 1 + below(6);
        for (int i = 0; i < parts; ++i) {
            const bool word = chance(55);
            hasWord = hasWord || word;
            text += word ? QString(pick(kWords)) : QString(pick(kAtoms));
            if (chance(20))
                text += pick(kQuantifiers);
        }
        // Mostly with a word somewhere: expressions of signs alone match nearly every URL.
        if (!hasWord && chance(80))
            text += pick(kWords);
        return text;
    }

    QString matchText()
    {
        switch (below(6)) {
        case 0: // a plain host, sometimes holding expression signs
            return pick(kWords) + pick(kWords) + (chance(30) ? u"."_s : QString()) + pick(kWords);
        case 1:
            return chance(2) ? QString() : pick(kWords);
        default:
            return expression();
        }
    }

    QString ruleFile(int count, QStringList* matchTexts)
    {
        QString file;
        for (int i = 0; i < count; ++i) {
            QString text = matchText();
            // No TAB, CR or LF: they would end the column or the line.
            text.remove(u'\t').remove(u'\r').remove(u'\n');
            matchTexts->append(text);
            const QString number = QString::number(i);
            if (chance(25))
                file += text + u"\tLocation:\tp"_s + number + u"\r\n"_s;
            else
                file += text + u"\tT"_s + number + u"/(1)/(2)\t"_s +
                        (chance(30) ? u"p"_s + number : QString()) + u"\r\n"_s;
        }
        return file;
    }

    QString url(const QStringList& matchTexts)
    {
        switch (below(10)) {
        case 0:
            return chance(50) ? QString() : pick(kWords);
        case 1: // a rule's own text inside a URL
            return u"http://"_s + mangle(pick(matchTexts)) + u"/x"_s;
        case 2: // broken UTF-16
            return u"http://svc.example/"_s + QChar(0xD800) + pick(kWords);
        default: {
            QString text = chance(70) ? u"http://"_s : QString();
            const int parts = 1 + below(7);
            for (int i = 0; i < parts; ++i)
                text += pick(kWords);
            return mangle(text);
        }
        }
    }

private:
    QRandomGenerator m_random;
};

} // namespace

class TestRuleCandidates : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void foldRuleCase_data();
    void foldRuleCase();
    void literalSearch_data();
    void literalSearch();
    void literalSearchAgainstNaive();
    void requiredLiterals_data();
    void requiredLiterals();
    void requiredLiteralsAreInEveryMatch();
    void firstMatchInOrder_data();
    void firstMatchInOrder();
    void sameResultAsTryingEveryRule();
};

void TestRuleCandidates::foldRuleCase_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("folded");
    QTest::newRow("ASCII letters") << u"AbZ@[`{"_s << u"abz@[`{"_s;
    QTest::newRow("kelvin sign and long s") << u"\u212A\u017F"_s << u"ks"_s;
    QTest::newRow("other letters stay") << u"ÉßİΣ"_s << u"ÉßİΣ"_s;
    QTest::newRow("Japanese stays") << u"短縮ＵＲＬ"_s << u"短縮ＵＲＬ"_s;
    QTest::newRow("lone surrogate stays") << QString(QChar(0xD800)) << QString(QChar(0xD800));
}

void TestRuleCandidates::foldRuleCase()
{
    QFETCH(QString, text);
    QTEST(FoldRuleCase(text), "folded");
}

void TestRuleCandidates::literalSearch_data()
{
    QTest::addColumn<QStringList>("patterns");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("found");
    QTest::newRow("overlapping patterns") << QStringList{u"he"_s, u"she"_s, u"his"_s, u"hers"_s}
                                          << u"ushers"_s << QStringList{u"he"_s, u"hers"_s, u"she"_s};
    QTest::newRow("every occurrence") << QStringList{u"aa"_s} << u"aaaa"_s << QStringList(3, u"aa"_s);
    QTest::newRow("pattern inside another")
        << QStringList{u"abc"_s, u"b"_s} << u"xabcx"_s << QStringList{u"abc"_s, u"b"_s};
    QTest::newRow("found after a failed longer path")
        << QStringList{u"abcd"_s, u"bcx"_s, u"cxy"_s} << u"abcxy"_s << QStringList{u"bcx"_s, u"cxy"_s};
    QTest::newRow("letter case ignored") << QStringList{u"Abc"_s} << u"xaBC"_s << QStringList{u"Abc"_s};
    QTest::newRow("kelvin sign in the text") << QStringList{u"k"_s} << u"\u212A"_s << QStringList{u"k"_s};
    QTest::newRow("long s in the pattern") << QStringList{u"\u017F"_s} << u"S"_s << QStringList{u"\u017F"_s};
    QTest::newRow("other letters keep their case") << QStringList{u"é"_s} << u"É"_s << QStringList();
    QTest::newRow("Japanese") << QStringList{u"短縮"_s, u"縮化"_s} << u"URL短縮化"_s
                              << QStringList{u"短縮"_s, u"縮化"_s};
    QTest::newRow("surrogate pair") << QStringList{u"😀"_s} << u"a😀b"_s << QStringList{u"😀"_s};
    QTest::newRow("same after folding: the first")
        << QStringList{u"ab"_s, u"AB"_s} << u"xAb"_s << QStringList{u"ab"_s};
    QTest::newRow("empty pattern never found")
        << QStringList{QString(), u"a"_s} << u"a"_s << QStringList{u"a"_s};
    QTest::newRow("no patterns") << QStringList() << u"abc"_s << QStringList();
    QTest::newRow("empty text") << QStringList{u"a"_s} << QString() << QStringList();
}

void TestRuleCandidates::literalSearch()
{
    QFETCH(QStringList, patterns);
    QFETCH(QString, text);
    QTEST(foundTexts(patterns, text), "found");
}

void TestRuleCandidates::literalSearchAgainstNaive()
{
    qInfo("seed %u", kSeed);
    Generator generate(kSeed);
    // A small alphabet makes many overlaps and shared prefixes.
    const QString alphabet = u"abAB\u212Ak\u017Fsé"_s;
    const auto word = [&](int maxLength) {
        QString text;
        const int length = generate.below(maxLength + 1);
        for (int i = 0; i < length; ++i)
            text += alphabet[generate.below(int(alphabet.size()))];
        return text;
    };
    for (int round = 0; round < 2000; ++round) {
        QStringList patterns;
        const int count = generate.below(12);
        for (int i = 0; i < count; ++i)
            patterns.append(word(5));
        const QString text = word(30);
        QCOMPARE(foundTexts(patterns, text), naiveFoundTexts(patterns, text));
    }
}

void TestRuleCandidates::requiredLiterals_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QStringList>("literals");
    QTest::newRow("plain text") << u"abc"_s << QStringList{u"abc"_s};
    QTest::newRow("dot splits") << u"svc001.example/"_s << QStringList{u"svc001"_s, u"example/"_s};
    QTest::newRow("escaped dot joins") << u"svc\\.example/"_s << QStringList{u"svc.example/"_s};
    QTest::newRow("letters folded") << u"ABC\u212A"_s << QStringList{u"abc"_s};
    QTest::newRow("optional letter left out") << u"^https?://x$"_s << QStringList{u"http"_s, u"://x"_s};
    QTest::newRow("star") << u"ab*c"_s << QStringList{u"a"_s, u"c"_s};
    QTest::newRow("plus") << u"ab+c"_s << QStringList{u"a"_s, u"c"_s};
    QTest::newRow("count") << u"ab{2}c"_s << QStringList{u"a"_s, u"c"_s};
    QTest::newRow("open count") << u"ab{2,}c"_s << QStringList{u"a"_s, u"c"_s};
    QTest::newRow("count range") << u"ab{0,5}c"_s << QStringList{u"a"_s, u"c"_s};
    QTest::newRow("lazy") << u"ab+?c"_s << QStringList{u"a"_s, u"c"_s};
    QTest::newRow("possessive") << u"ab?+c"_s << QStringList{u"a"_s, u"c"_s};
    QTest::newRow("group") << u"x(abc)y"_s << QStringList{u"x"_s, u"y"_s};
    QTest::newRow("optional group") << u"x(abc)?y"_s << QStringList{u"x"_s, u"y"_s};
    QTest::newRow("alternation inside a group") << u"x(a|b)y"_s << QStringList{u"x"_s, u"y"_s};
    QTest::newRow("nested groups") << u"x((a)|(b(c)))y"_s << QStringList{u"x"_s, u"y"_s};
    QTest::newRow("closing bracket escaped in a group") << u"x(\\))y"_s << QStringList{u"x"_s, u"y"_s};
    QTest::newRow("closing bracket in a class in a group") << u"x([)])y"_s << QStringList{u"x"_s, u"y"_s};
    QTest::newRow("plain group openings")
        << u"a(?:b)c(?=d)e(?!f)g(?<=h)i(?<!j)k(?<n>l)m(?P<o>p)q(?'r's)t"_s
        << QStringList{u"a"_s, u"c"_s, u"e"_s, u"g"_s, u"i"_s, u"k"_s, u"m"_s, u"q"_s, u"t"_s};
    QTest::newRow("class") << u"a[bc]d"_s << QStringList{u"a"_s, u"d"_s};
    QTest::newRow("bracket first in a class") << u"a[]b]c"_s << QStringList{u"a"_s, u"c"_s};
    QTest::newRow("bracket first in a negated class") << u"a[^]b]c"_s << QStringList{u"a"_s, u"c"_s};
    QTest::newRow("escaped bracket in a class") << u"a[\\]]b"_s << QStringList{u"a"_s, u"b"_s};
    QTest::newRow("named class") << u"a[[:alpha:]]b"_s << QStringList{u"a"_s, u"b"_s};
    QTest::newRow("bracket that opens no named class") << u"a[[:x]b"_s << QStringList{u"a"_s, u"b"_s};
    QTest::newRow("anchors") << u"^abc$"_s << QStringList{u"abc"_s};
    QTest::newRow("escapes of one letter split")
        << u"a\\d+b\\wc\\bd\\Ne\\Kf"_s << QStringList{u"a"_s, u"b"_s, u"c"_s, u"d"_s, u"e"_s, u"f"_s};
    QTest::newRow("escaped signs join") << u"a\\/b\\-c\\?d\\ e"_s << QStringList{u"a/b-c?d e"_s};
    QTest::newRow("line break in the expression") << u"a\nb"_s << QStringList{u"a\nb"_s};
    QTest::newRow("letters beyond ASCII split") << u"aéb短縮c"_s << QStringList{u"a"_s, u"b"_s, u"c"_s};
    QTest::newRow("quantified letter beyond ASCII") << u"aé?b"_s << QStringList{u"a"_s, u"b"_s};
    QTest::newRow("escaped letter beyond ASCII") << u"a\\éb"_s << QStringList{u"a"_s, u"b"_s};
    QTest::newRow("no letters") << u"\\d+"_s << QStringList();
    QTest::newRow("top-level alternation") << u"abc|def"_s << QStringList();
    QTest::newRow("empty branch") << u"abc|"_s << QStringList();
    QTest::newRow("hexadecimal escape") << u"ab\\x41cd"_s << QStringList();
    QTest::newRow("hexadecimal escape with braces") << u"ab\\x{41}cd"_s << QStringList();
    QTest::newRow("named character") << u"ab\\N{U+41}cd"_s << QStringList();
    QTest::newRow("property") << u"ab\\pLcd"_s << QStringList();
    QTest::newRow("quoting") << u"x\\Qa.b|c\\Ey"_s << QStringList();
    QTest::newRow("quoting in a group") << u"x(\\Q)\\E)y"_s << QStringList();
    QTest::newRow("back reference") << u"(a)\\1b"_s << QStringList();
    QTest::newRow("control escape") << u"ab\\cAcd"_s << QStringList();
    QTest::newRow("control escape eats a bracket in a class") << u"[\\c]abc]"_s << QStringList();
    QTest::newRow("control escape eats a bracket in a group") << u"x(\\c))y"_s << QStringList();
    QTest::newRow("option") << u"(?i)abc"_s << QStringList();
    QTest::newRow("extended option") << u"(?x)a b # c"_s << QStringList();
    QTest::newRow("option in a group") << u"x((?x)a#)\n)y"_s << QStringList();
    QTest::newRow("comment") << u"a(?#x)b"_s << QStringList();
    QTest::newRow("verb") << u"(*UTF)abc"_s << QStringList();
    QTest::newRow("recursion") << u"a(?R)?b"_s << QStringList();
    QTest::newRow("brace without count") << u"a{,3}b"_s << QStringList();
    QTest::newRow("brace with letters") << u"x{ab}"_s << QStringList();
}

void TestRuleCandidates::requiredLiterals()
{
    QFETCH(QString, pattern);
    QVERIFY2(RuleRegex(pattern).isValid(), qPrintable(RuleRegex(pattern).errorString()));
    QTEST(RequiredLiterals(pattern), "literals");
}

void TestRuleCandidates::requiredLiteralsAreInEveryMatch()
{
    qInfo("seed %u", kSeed);
    Generator generate(kSeed + 1);
    int matches = 0;
    int withLiterals = 0;
    QStringList texts{u"http://svc.example/x"_s};
    for (int round = 0; round < 3000; ++round) {
        const QString pattern = generate.expression();
        const RuleRegex regex(pattern);
        if (!regex.isValid())
            continue;
        const QStringList literals = RequiredLiterals(pattern);
        withLiterals += !literals.isEmpty();
        for (int i = 0; i < 20; ++i) {
            const QString subject = generate.url(texts);
            if (!regex.match(subject))
                continue;
            ++matches;
            const QString folded = FoldRuleCase(subject);
            for (const QString& literal : literals)
                QVERIFY2(folded.contains(literal), qPrintable(u"pattern "_s + pattern + u", subject "_s +
                                                              subject + u", literal "_s + literal));
        }
        texts.append(pattern);
    }
    // The generator must reach both kinds, or the check says nothing.
    QVERIFY2(matches > 1000, qPrintable(QString::number(matches)));
    QVERIFY2(withLiterals > 500, qPrintable(QString::number(withLiterals)));
}

void TestRuleCandidates::firstMatchInOrder_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("matched");
    QTest::addColumn<QString>("templ");
    QTest::newRow("rule without a literal before a triggered one")
        << u"^h.*|^q\tALWAYS\t\r\na.example/\tLocation:\t\r\n"_s << u"http://a.example/"_s << true
        << u"ALWAYS"_s;
    QTest::newRow("triggered rule before one without a literal")
        << u"a.example/\tLocation:\t\r\n^h.*|^q\tALWAYS\t\r\n"_s << u"http://a.example/"_s << true
        << u"Location:"_s;
    QTest::newRow("earliest of two triggered rules")
        << u"example\tFIRST\t\r\na.example\tSECOND\t\r\n"_s << u"http://a.example/"_s << true << u"FIRST"_s;
    QTest::newRow("expression triggered before a plain rule found later")
        << u"zzz\tZ\t\r\nA\\.EXAMPLE/(\\w+)\tT(1)\t\r\na.example/\tLocation:\t\r\n"_s
        << u"http://a.example/q"_s << true << u"Tq"_s;
    QTest::newRow("expression literal in the kelvin sign")
        << u"\\.k(\\w)/\tK(1)\t\r\n"_s << u"http://a.\u212Ay/"_s << true << u"Ky"_s;
    QTest::newRow("expression lacking one of its literals")
        << u"abc.*xyz\tT\t\r\n"_s << u"http://abc/"_s << false << QString();
    QTest::newRow("plain text needs its letter case")
        << u"Sh.example/\tLocation:\t\r\n"_s << u"http://sh.example/"_s << false << QString();
    QTest::newRow("plain text longer than the search keys")
        << u"a-very-long-service-host.example/\tLocation:\t\r\n"_s
        << u"http://a-very-long-service-host.example/"_s << true << u"Location:"_s;
    QTest::newRow("long text only begins alike")
        << u"a-very-long-service-host.example/\tLocation:\t\r\n"_s << u"http://a-very-long-service-hose/"_s
        << false << QString();
    QTest::newRow("empty match text matches a non-empty URL")
        << u"x.example\tX\t\r\n\tEMPTY\t\r\n"_s << u"http://a/"_s << true << u"EMPTY"_s;
    QTest::newRow("empty expression never matches the empty URL")
        << u"x\tX\t\r\n\tEMPTY\t\r\n"_s << QString() << false << QString();
    QTest::newRow("no rules") << QString() << u"http://a/"_s << false << QString();
}

void TestRuleCandidates::firstMatchInOrder()
{
    QFETCH(QString, file);
    QFETCH(QString, url);
    SilentBoxes boxes;
    ShortLinkRules rules;
    rules.loadFromText(file, boxes);
    const ShortLinkRules::Match match = rules.MatchShortLinkRule(url);
    QTEST(match.matched, "matched");
    QTEST(match.templ, "templ");
    const ShortLinkRules::Match scanned = scanAllRules(rules, url);
    QCOMPARE(scanned.matched, match.matched);
    QCOMPARE(scanned.templ, match.templ);
}

void TestRuleCandidates::sameResultAsTryingEveryRule()
{
    qInfo("seed %u", kSeed);
    Generator generate(kSeed + 2);
    SilentBoxes boxes;
    // Broken expressions are common here; their reports are not the subject.
    QLoggingCategory::setFilterRules(u"linvera.rules.warning=false"_s);
    const auto restore = qScopeGuard([] { QLoggingCategory::setFilterRules(QString()); });
    int matched = 0;
    int matchedLater = 0; // by a rule after the fifth
    int compared = 0;
    for (int list = 0; list < 300; ++list) {
        QStringList matchTexts;
        const QString file = generate.ruleFile(1 + generate.below(60), &matchTexts);
        ShortLinkRules rules;
        rules.loadFromText(file, boxes);
        for (int u = 0; u < 100; ++u) {
            const QString url = generate.url(matchTexts);
            const ShortLinkRules::Match fast = rules.MatchShortLinkRule(url);
            qsizetype index = -1;
            const ShortLinkRules::Match scanned = scanAllRules(rules, url, &index);
            ++compared;
            matched += scanned.matched;
            matchedLater += index >= 5;
            if (fast.matched != scanned.matched || fast.templ != scanned.templ ||
                fast.pattern != scanned.pattern)
                QFAIL(qPrintable(u"list "_s + QString::number(list) + u", URL \""_s + url + u"\": "_s +
                                 (fast.matched ? fast.templ : u"no match"_s) + u" instead of "_s +
                                 (scanned.matched ? scanned.templ : u"no match"_s) + u"\nrules:\n"_s + file));
        }
    }
    qInfo("%d URLs compared, %d matched a rule, %d of them a rule after the fifth", compared, matched,
          matchedLater);
    // Each outcome must be common, or the comparison says little.
    QVERIFY2(matched > compared / 10 && matched < compared * 9 / 10, qPrintable(QString::number(matched)));
    QVERIFY2(matchedLater > compared / 10, qPrintable(QString::number(matchedLater)));
}

QTEST_GUILESS_MAIN(TestRuleCandidates)
#include "tst_rulecandidates.moc"
