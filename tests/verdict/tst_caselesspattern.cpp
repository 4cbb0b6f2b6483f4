// The review's match-only expressions against QRegularExpression, whose matching they stand in for.
#include "verdict/CaselessPattern.h"

#include <QRegularExpression>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace linvera::verdict;

class TestCaselessPattern : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void matchesAsQRegularExpression_data();
    void matchesAsQRegularExpression();
    void brokenPatternMatchesNothing();
    void invalidSubjectMatchesNothing();
    void deepMatchOutgrowsTheJitStack();
};

void TestCaselessPattern::matchesAsQRegularExpression_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("subject");
    QTest::newRow("ASCII case") << u"^https?://(?:[a-z0-9-]+\\.)*google\\."_s << u"HTTPS://WWW.Google.COM/"_s;
    QTest::newRow("elsewhere") << u"google"_s << u"https://example.com/"_s;
    QTest::newRow("whole name") << u"\\A(?:(?:utm_source)|(?:fbclid))\\z"_s << u"UTM_Source"_s;
    QTest::newRow("whole name, longer") << u"\\A(?:(?:utm_source)|(?:fbclid))\\z"_s << u"utm_sourcex"_s;
    QTest::newRow("non-ASCII case") << u"straße|ÄÖ"_s << u"äö"_s;
    QTest::newRow("Kelvin sign") << u"k"_s << u"\u212A"_s;
    QTest::newRow("empty subject") << u"^$"_s << QString();
    QTest::newRow("empty pattern") << QString() << u"x"_s;
    QTest::newRow("beyond the BMP") << u"\\x{1F600}"_s << u"a\U0001F600b"_s;
    QTest::newRow("lookbehind") << u"(?<=/)ref="_s << u"/dp/ref=x"_s;
}

void TestCaselessPattern::matchesAsQRegularExpression()
{
    QFETCH(QString, pattern);
    QFETCH(QString, subject);
    const CaselessPattern caseless(pattern);
    QVERIFY(!caseless.isNull());
    QCOMPARE(caseless.pattern(), pattern);
    const bool expected =
        QRegularExpression(pattern, QRegularExpression::CaseInsensitiveOption).match(subject).hasMatch();
    // Before and after the expression is prepared for the JIT.
    for (int i = 0; i < CaselessPattern::kJitAfter + 2; ++i)
        QCOMPARE(caseless.matches(subject), expected);
    const CaselessPattern copy = caseless;
    QCOMPARE(copy.matches(subject), expected);
}

void TestCaselessPattern::brokenPatternMatchesNothing()
{
    for (const QString& broken : {u"(unclosed"_s, u"a{2,1}"_s, u"\\"_s}) {
        QVERIFY2(!CaselessPattern::compiles(broken), qPrintable(broken));
        const CaselessPattern pattern(broken);
        QVERIFY(pattern.isNull());
        QVERIFY(!pattern.matches(u"anything"_s));
    }
    QVERIFY(!CaselessPattern().matches(QString()));
}

void TestCaselessPattern::invalidSubjectMatchesNothing()
{
    // A lone surrogate can reach the review from a typed address.
    const QString lone = u"https://a.example/"_s + QChar(0xD800) + u"utm_source"_s;
    const CaselessPattern pattern(u"utm_source"_s);
    for (int i = 0; i < CaselessPattern::kJitAfter + 2; ++i)
        QVERIFY(!pattern.matches(lone));
    QVERIFY(pattern.matches(u"https://a.example/?utm_source"_s));
}

void TestCaselessPattern::deepMatchOutgrowsTheJitStack()
{
    // Each repetition of the capturing group takes JIT stack; the answer must not change when the
    // JIT's small stack runs out.
    const CaselessPattern pattern(u"^(?:(a)|b)*c$"_s);
    const QString subject = u"ab"_s.repeated(50000) + u'c';
    for (int i = 0; i < CaselessPattern::kJitAfter + 2; ++i)
        QVERIFY(pattern.matches(subject));
    QVERIFY(!pattern.matches(QString(u"ab"_s.repeated(50000) + u'd')));
}

QTEST_APPLESS_MAIN(TestCaselessPattern)
#include "tst_caselesspattern.moc"
