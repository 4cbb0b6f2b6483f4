#include "verdict/TrackerRules.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace linvera::verdict;

namespace {

// A list in the community list's form, with one provider of each kind the tests need.
const QByteArray kOwnRules =
    "{\"providers\": {"
    " \"everywhere\": {\"urlPattern\": \".*\", \"rules\": [\"utm_[a-z]+\", \"ref\"], \"exceptions\": "
    "[\"^https?://keep\\\\.example/\"]},"
    " \"wrapper\": {\"urlPattern\": \"^https?://out\\\\.example/\", \"redirections\": "
    "[\"^https?://out\\\\.example/go\\\\?(?:[^#]*&)?to=([^&#]+)\"]},"
    " \"shop\": {\"urlPattern\": \"^https?://shop\\\\.example/\", \"rules\": [\"sid\"], \"rawRules\": [\"/track=[^/?#]*\"]}}}"_ba;

} // namespace

class TestTrackerRules : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void shipped_data();
    void shipped();
    void ownRules_data();
    void ownRules();
    void patternsOfEveryForm_data();
    void patternsOfEveryForm();
    void malformed_data();
    void malformed();
    void fileProblems();
    void line();
};

void TestTrackerRules::shipped_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("removed");
    QTest::addColumn<bool>("unwrapped");

    QTest::newRow("utm_* removed, order of the rest kept")
        << u"https://e.example/p?a=1&utm_source=x&b=2&utm_medium=y&c=3#top"_s
        << u"https://e.example/p?a=1&b=2&c=3#top"_s << 2 << false;
    QTest::newRow("percent-encoding kept as it was")
        << u"https://e.example/?q=%E6%97%A5%e6%9c%ac&fbclid=IwAR0&r=a%2Bb%2fc"_s
        << u"https://e.example/?q=%E6%97%A5%e6%9c%ac&r=a%2Bb%2fc"_s << 1 << false;
    QTest::newRow("raw Unicode in the query kept")
        << u"https://e.example/?q=日本語&gclid=1"_s << u"https://e.example/?q=日本語"_s << 1 << false;
    QTest::newRow("empty values, bare keys and empty parts kept")
        << u"https://e.example/?a=&b&&gclid=1&c="_s << u"https://e.example/?a=&b&&c="_s << 1 << false;
    QTest::newRow("plus and semicolon kept")
        << u"https://e.example/?q=a+b;c=d&mc_eid=1f2e"_s << u"https://e.example/?q=a+b;c=d"_s << 1 << false;
    QTest::newRow("only trackers: the ? goes too")
        << u"https://e.example/p?utm_source=a&fbclid=b#f"_s << u"https://e.example/p#f"_s << 2 << false;
    QTest::newRow("tracker-like text in the fragment untouched")
        << u"https://e.example/p#x?utm_source=a"_s << u"https://e.example/p#x?utm_source=a"_s << 0 << false;
    QTest::newRow("encoded name removed")
        << u"https://e.example/?utm%5Fsource=a&x=1"_s << u"https://e.example/?x=1"_s << 1 << false;
    QTest::newRow("name case ignored")
        << u"https://e.example/?UTM_Source=a&x=1"_s << u"https://e.example/?x=1"_s << 1 << false;
    QTest::newRow("similar names kept")
        << u"https://e.example/?utm=1&fbclids=2&xgclid=3&utm_=4"_s
        << u"https://e.example/?utm=1&fbclids=2&xgclid=3&utm_=4"_s << 0 << false;
    QTest::newRow("value naming a tracker kept")
        << u"https://e.example/?next=utm_source&x=gclid"_s << u"https://e.example/?next=utm_source&x=gclid"_s
        << 0 << false;
    QTest::newRow("no query") << u"https://e.example/path;x=1"_s << u"https://e.example/path;x=1"_s << 0
                              << false;
    QTest::newRow("exception honoured")
        << u"https://analytics.google.com/report?utm_source=x"_s
        << u"https://analytics.google.com/report?utm_source=x"_s << 0 << false;
    QTest::newRow("redirection unwrapped, then stripped")
        << u"https://www.google.com/url?sa=t&url=https%3A%2F%2Fnews.example%2Fa%3Fid%3D7%26utm_source%3Dg&ved=2a"_s
        << u"https://news.example/a?id=7"_s << 1 << true;
    QTest::newRow("redirection to a script address not taken")
        << u"https://www.google.com/url?q=javascript%3Aalert(1)"_s
        << u"https://www.google.com/url?q=javascript%3Aalert(1)"_s << 0 << false;
    QTest::newRow("raw rule cuts a path part")
        << u"https://www.amazon.co.jp/dp/B00X/ref=sr_1_1?keywords=k&qid=17"_s
        << u"https://www.amazon.co.jp/dp/B00X?keywords=k"_s << 2 << false;
    QTest::newRow("provider without names keeps every parameter")
        << u"https://steamcommunity.com/linkfilter/?id=5&lang=ja"_s
        << u"https://steamcommunity.com/linkfilter/?id=5&lang=ja"_s << 0 << false;
    QTest::newRow("wrapper whose target is not taken keeps its parameters")
        << u"https://slack-redir.net/link?team=t1&url=ftp%3A%2F%2Ffiles.example%2F"_s
        << u"https://slack-redir.net/link?team=t1&url=ftp%3A%2F%2Ffiles.example%2F"_s << 0 << false;
}

void TestTrackerRules::shipped()
{
    QFETCH(QString, url);
    QFETCH(QString, expected);
    QFETCH(int, removed);
    QFETCH(bool, unwrapped);

    TrackerRules rules;
    const TrackerRulesRead read = rules.loadFile(QStringLiteral(LINVERA_SHIPPED_TRACKERS));
    QCOMPARE(read.problem, TrackerRulesRead::Problem::None);
    QCOMPARE(read.brokenPatterns, 0);
    QVERIFY(TrackerRulesMessage(read).isEmpty());

    const StrippedUrl stripped = rules.strip(url);
    QCOMPARE(stripped.url, expected);
    QCOMPARE(stripped.removed, removed);
    QCOMPARE(stripped.unwrapped, unwrapped);
    // Stripping twice takes nothing more.
    QCOMPARE(rules.strip(stripped.url).url, stripped.url);
}

void TestTrackerRules::ownRules_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("removed");

    QTest::newRow("global rule") << u"https://a.example/?ref=x&utm_medium=y&k=v"_s
                                 << u"https://a.example/?k=v"_s << 2;
    QTest::newRow("exception: nothing removed") << u"https://keep.example/?ref=x&utm_medium=y"_s
                                                << u"https://keep.example/?ref=x&utm_medium=y"_s << 0;
    QTest::newRow("exception is the provider's alone")
        << u"https://shop.example/?sid=1&ref=2&k=3"_s << u"https://shop.example/?k=3"_s << 2;
    QTest::newRow("provider rule outside its pattern kept")
        << u"https://a.example/?sid=1"_s << u"https://a.example/?sid=1"_s << 0;
    QTest::newRow("raw rule") << u"https://shop.example/item/track=abc/?k=1"_s
                              << u"https://shop.example/item/?k=1"_s << 1;
    QTest::newRow("redirection unwrapped into an excepted site")
        << u"https://out.example/go?to=https%3A%2F%2Fkeep.example%2F%3Fref%3D1"_s
        << u"https://keep.example/?ref=1"_s << 0;
    QTest::newRow("wrap within a wrap")
        << u"https://out.example/go?to=https%3A%2F%2Fout.example%2Fgo%3Fto%3Dhttps%253A%252F%252Fz.example%252F%253Futm_x%253D1"_s
        << u"https://z.example/"_s << 1;
}

void TestTrackerRules::ownRules()
{
    QFETCH(QString, url);
    QFETCH(QString, expected);
    QFETCH(int, removed);

    TrackerRules rules;
    const TrackerRulesRead read = rules.loadJson(kOwnRules);
    QCOMPARE(read.problem, TrackerRulesRead::Problem::None);
    QCOMPARE(read.providers, 3);
    const StrippedUrl stripped = rules.strip(url);
    QCOMPARE(stripped.url, expected);
    QCOMPARE(stripped.removed, removed);
}

void TestTrackerRules::patternsOfEveryForm_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("expected");

    QTest::newRow("group number in the pattern")
        << u"https://ab.ab.example/?sid=1&k=2"_s << u"https://ab.ab.example/?k=2"_s;
    QTest::newRow("pattern that does not repeat its group")
        << u"https://ab.cd.example/?sid=1&k=2"_s << u"https://ab.cd.example/?sid=1&k=2"_s;
    QTest::newRow("group name in the pattern")
        << u"https://named.example/?sid=1"_s << u"https://named.example/"_s;
    QTest::newRow("option for the whole pattern")
        << u"https://CASE.example/?SID=1&k=2"_s << u"https://CASE.example/?k=2"_s;
    QTest::newRow("plain pattern") << u"https://plain.example/?k=2&sid=1"_s
                                   << u"https://plain.example/?k=2"_s;
    QTest::newRow("no provider's address")
        << u"https://other.example/?sid=1"_s << u"https://other.example/?sid=1"_s;
}

// Every provider is asked whatever its pattern's form, whether or not it can share one expression with
// the others.
void TestTrackerRules::patternsOfEveryForm()
{
    QFETCH(QString, url);
    QFETCH(QString, expected);

    const QByteArray json =
        "{\"providers\": {"
        " \"twice\": {\"urlPattern\": \"^https?://(\\\\w+)\\\\.\\\\1\\\\.example/\", \"rules\": [\"sid\"]},"
        " \"named\": {\"urlPattern\": \"^https?://(?<h>named)\\\\.example/\", \"rules\": [\"sid\"]},"
        " \"option\": {\"urlPattern\": \"(?i)^https?://case\\\\.example/\", \"rules\": [\"sid\"]},"
        " \"plain\": {\"urlPattern\": \"^https?://plain\\\\.example/\", \"rules\": [\"sid\"]}}}"_ba;
    TrackerRules rules;
    const TrackerRulesRead read = rules.loadJson(json);
    QCOMPARE(read.problem, TrackerRulesRead::Problem::None);
    QCOMPARE(read.brokenPatterns, 0);
    QCOMPARE(read.providers, 4);
    QCOMPARE(rules.strip(url).url, expected);
}

void TestTrackerRules::malformed_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<int>("problem");
    QTest::addColumn<int>("providers");

    QTest::newRow("not JSON") << "{\"providers\": {"_ba << int(TrackerRulesRead::Problem::NotJson) << 0;
    QTest::newRow("empty file") << QByteArray() << int(TrackerRulesRead::Problem::NotJson) << 0;
    QTest::newRow("an array") << "[1, 2]"_ba << int(TrackerRulesRead::Problem::NotRules) << 0;
    QTest::newRow("providers not an object")
        << "{\"providers\": []}"_ba << int(TrackerRulesRead::Problem::NotRules) << 0;
    QTest::newRow("broken expressions left out")
        << "{\"providers\": {\"a\": {\"urlPattern\": \"(\", \"rules\": [\"x\"]}, \"b\": {\"urlPattern\": \".*\", \"rules\": [\"utm_source\", \"(\", 7], \"rawRules\": [\"[\"]}, \"c\": {\"rules\": [\"x\"]}}}"_ba
        << int(TrackerRulesRead::Problem::None) << 1;
}

void TestTrackerRules::malformed()
{
    QFETCH(QByteArray, json);
    QFETCH(int, problem);
    QFETCH(int, providers);

    TrackerRules rules;
    QCOMPARE(rules.loadJson(kOwnRules).providers, 3);
    const TrackerRulesRead read = rules.loadJson(json);
    QCOMPARE(int(read.problem), problem);
    QCOMPARE(read.providers, providers);
    QCOMPARE(rules.size(), providers);
    // One message tells it all, once, when the rules are read; stripping never reports.
    const QString message = TrackerRulesMessage(read);
    QVERIFY(message.startsWith(u"trackers.json読み込みエラー"_s));
    QVERIFY(!message.contains(u'\n'));
    const QString url = u"https://a.example/?utm_source=1&k=2"_s;
    const StrippedUrl stripped = rules.strip(url);
    if (providers == 0) {
        QCOMPARE(stripped.url, url);
        QCOMPARE(stripped.removed, 0);
    } else {
        QCOMPARE(read.brokenPatterns, 5);
        QVERIFY(message.contains(u"5"_s));
        QCOMPARE(stripped.url, u"https://a.example/?k=2"_s);
    }
}

void TestTrackerRules::fileProblems()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    TrackerRules rules;
    const TrackerRulesRead missing = rules.loadFile(folder.filePath(kTrackerRulesFileName.toString()));
    QCOMPARE(missing.problem, TrackerRulesRead::Problem::Missing);
    QVERIFY(TrackerRulesMessage(missing).isEmpty());

    QFile large(folder.filePath(u"large.json"_s));
    QVERIFY(large.open(QIODevice::WriteOnly));
    QVERIFY(large.resize(kMaxTrackerRulesBytes + 1));
    large.close();
    const TrackerRulesRead tooLarge = rules.loadFile(large.fileName());
    QCOMPARE(tooLarge.problem, TrackerRulesRead::Problem::TooLarge);
    QVERIFY(!TrackerRulesMessage(tooLarge).isEmpty());
}

void TestTrackerRules::line()
{
    StrippedUrl none;
    QVERIFY(TrackerLine(none).isEmpty());
    StrippedUrl two;
    two.removed = 2;
    QCOMPARE(TrackerLine(two), u"追跡用パラメータを2個取り除きました"_s);
    StrippedUrl unwrapped;
    unwrapped.unwrapped = true;
    QVERIFY(TrackerLine(unwrapped).contains(u"本当の行き先"_s));
}

QTEST_GUILESS_MAIN(TestTrackerRules)
#include "tst_trackerrules.moc"
