#include "verdict/DestinationCheck.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace linvera::verdict;

namespace {

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

class TestDestinationCheck : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void firstRun();
    void review_data();
    void review();
    void brokenRulesToldOnce();
    void keptVerdictsAreFreshOnes();
    void reloadForgetsKeptVerdicts();
};

void TestDestinationCheck::firstRun()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    DestinationCheck check;
    QCOMPARE(check.load(folder.path()), QStringList());
    QVERIFY(QFileInfo(folder.filePath(kBlockListFileName.toString())).isFile());
    QVERIFY(QFileInfo(folder.filePath(kImitatedSitesFileName.toString())).isFile());
    QVERIFY(check.blockList().isEmpty());
    QCOMPARE(check.imitatedSites().size(), ImitatedSites::shippedSites().size());
    // No rules file yet: nothing is removed, and nothing is said about it.
    const DestinationCheck::Review review = check.review(u"https://e.example/?utm_source=a"_s, true);
    QCOMPARE(review.afterUrl, u"https://e.example/?utm_source=a"_s);
    QCOMPARE(review.infoLines, QStringList{VerdictLine(review.verdict)});
}

void TestDestinationCheck::review_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("strip");
    QTest::addColumn<QString>("afterUrl");
    QTest::addColumn<int>("lines");
    QTest::addColumn<QString>("level");

    QTest::newRow("stripped, then judged")
        << u"https://e.example/a?utm_source=x&k=1"_s << true << u"https://e.example/a?k=1"_s << 2 << u"ok"_s;
    QTest::newRow("removal off") << u"https://e.example/a?utm_source=x&k=1"_s << false
                                 << u"https://e.example/a?utm_source=x&k=1"_s << 1 << u"ok"_s;
    QTest::newRow("nothing to strip: verdict alone")
        << u"https://e.example/a?k=1"_s << true << u"https://e.example/a?k=1"_s << 1 << u"ok"_s;
    QTest::newRow("the unwrapped address is judged")
        << u"https://out.example/go?to=http%3A%2F%2Fads.example%2F"_s << true << u"http://ads.example/"_s << 2
        << u"warn"_s;
    QTest::newRow("user's block list")
        << u"https://x.ads.example/"_s << false << u"https://x.ads.example/"_s << 1 << u"warn"_s;
    QTest::newRow("user's imitated site")
        << u"https://myb\u0430nk.example/"_s << false << u"https://myb\u0430nk.example/"_s << 1 << u"warn"_s;
    QTest::newRow("empty after URL") << QString() << true << QString() << 0 << u"ok"_s;
}

void TestDestinationCheck::review()
{
    QFETCH(QString, url);
    QFETCH(bool, strip);
    QFETCH(QString, afterUrl);
    QFETCH(int, lines);
    QFETCH(QString, level);

    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    QVERIFY(writeFile(folder.filePath(kBlockListFileName.toString()), "0.0.0.0 ads.example\n"_ba));
    QVERIFY(writeFile(folder.filePath(kImitatedSitesFileName.toString()), "mybank.example\n"_ba));
    QVERIFY(writeFile(folder.filePath(kTrackerRulesFileName.toString()),
                      "{\"providers\": {\"all\": {\"urlPattern\": \".*\", \"rules\": [\"utm_[a-z]+\"]},"
                      " \"out\": {\"urlPattern\": \"^https://out\\\\.example/\","
                      " \"redirections\": [\"[?&]to=([^&]+)\"]}}}"_ba));
    DestinationCheck check;
    QCOMPARE(check.load(folder.path()), QStringList());

    const DestinationCheck::Review review = check.review(url, strip);
    QCOMPARE(review.afterUrl, afterUrl);
    QCOMPARE(review.infoLines.size(), lines);
    QCOMPARE(LevelName(review.verdict.level), level);
    if (lines > 0)
        QCOMPARE(review.infoLines.constLast(), VerdictLine(review.verdict));
    if (lines == 2)
        QCOMPARE(review.infoLines.constFirst(), TrackerLine(review.stripped));
}

void TestDestinationCheck::brokenRulesToldOnce()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    QVERIFY(writeFile(folder.filePath(kTrackerRulesFileName.toString()), "{\"providers\": "_ba));
    DestinationCheck check;
    const QStringList messages = check.load(folder.path());
    QCOMPARE(messages.size(), 1);
    QVERIFY(messages[0].startsWith(u"trackers.json読み込みエラー"_s));
    // Each conversion afterwards shows its verdict and nothing about the file.
    for (int i = 0; i < 3; ++i) {
        const DestinationCheck::Review review = check.review(u"https://e.example/?utm_source=1"_s, true);
        QCOMPARE(review.afterUrl, u"https://e.example/?utm_source=1"_s);
        QCOMPARE(review.infoLines, QStringList{VerdictLine(review.verdict)});
    }
}

// A site's verdict is kept and given again for its other addresses: it must be exactly the one judging
// the address afresh would give, whatever differs after the authority or within it.
void TestDestinationCheck::keptVerdictsAreFreshOnes()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    QVERIFY(writeFile(folder.filePath(kBlockListFileName.toString()), "0.0.0.0 ads.example\n"_ba));
    DestinationCheck check;
    QCOMPARE(check.load(folder.path()), QStringList());
    const QStringList urls = {
        u"http://ads.example/a"_s,
        u"http://ads.example/b?utm_source=1"_s,
        u"http://ads.example?q=1"_s,
        u"http://ads.example#top"_s,
        u"HTTP://ADS.example/"_s,
        u"https://ads.example/"_s,
        u"https://bank.example@ads.example/"_s,
        u"https://bank.example:pw@ads.example/"_s,
        u"https://ads.example:8443/x"_s,
        u"https://e.example/ads.example"_s,
        u"https://e.example\\@ads.example/"_s,
        u"  https://ads.example/x  "_s,
        u"https://e.example/%zz bad path"_s,
        u"https://e.example/?next=http://ads.example/"_s,
        u"mailto:someone@ads.example"_s,
        u"ftp://ads.example/file"_s,
        u"https://[::1]:8080/"_s,
        u"http://10.0.0.1/x"_s,
        u"http://0x7f.1/"_s,
        u"https://p\u0430ypal.com/login"_s,
        u"https://xn--pypal-4ve.com/login"_s,
        u"https://日本語.jp/ページ"_s,
        u"https://bad_host!.example/"_s,
        u"https:///nohost"_s,
        u"http://ads.example/a"_s,
    };
    const VerdictSources sources{&check.blockList(), &check.imitatedSites()};
    for (int round = 0; round < 2; ++round) {
        for (const QString& url : urls) {
            const Verdict fresh = JudgeDestination(url, sources);
            const DestinationCheck::Review review = check.review(url, false);
            QCOMPARE(review.afterUrl, url);
            QVERIFY2(VerdictJson(review.verdict) == VerdictJson(fresh), qPrintable(url));
            QCOMPARE(review.infoLines, QStringList{VerdictLine(fresh)});
        }
    }
}

void TestDestinationCheck::reloadForgetsKeptVerdicts()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    DestinationCheck check;
    QCOMPARE(check.load(folder.path()), QStringList());
    const QString url = u"https://later.example/a"_s;
    QCOMPARE(check.review(url, false).verdict.level, VerdictLevel::Ok);
    QVERIFY(writeFile(folder.filePath(kBlockListFileName.toString()), "later.example\n"_ba));
    QCOMPARE(check.load(folder.path()), QStringList());
    QCOMPARE(check.review(url, false).verdict.level, VerdictLevel::Warn);
    // The shipped sites are still there after a second load.
    QCOMPARE(check.imitatedSites().size(), ImitatedSites::shippedSites().size());
}

QTEST_GUILESS_MAIN(TestDestinationCheck)
#include "tst_destinationcheck.moc"
