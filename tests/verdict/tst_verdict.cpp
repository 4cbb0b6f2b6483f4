#include "verdict/Verdict.h"

#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace linvera::verdict;

class TestVerdict : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void judge_data();
    void judge();
    void hostForms_data();
    void hostForms();
    void asciiHostLimits_data();
    void asciiHostLimits();
    void line_data();
    void line();
    void json();
    void userImitatedSites();
};

void TestVerdict::judge_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QByteArray>("blockList");
    QTest::addColumn<QString>("level");
    QTest::addColumn<QStringList>("codes");

    const QByteArray list = "# a list\n0.0.0.0 ads.example\n127.0.0.1 phish.example.net\nbare.example\n"_ba;
    QTest::newRow("plain https host")
        << u"https://www.example.com/a?b=1"_s << list << u"ok"_s << QStringList();
    QTest::newRow("mixed Latin/Cyrillic host (Cyrillic a)")
        << u"https://p\u0430ypal-login.example/"_s << list << u"warn"_s << QStringList{u"mixed-script"_s};
    QTest::newRow("mixed Latin/Greek host (omicron) imitating google")
        << u"https://g\u03BF\u03BFgle.com/"_s << list << u"warn"_s
        << QStringList{u"mixed-script"_s, u"lookalike"_s};
    QTest::newRow("whole-script Cyrillic confusable of listed yahoo.com")
        << u"https://\u0443\u0430\u04BB\u043E\u043E.com/"_s << list << u"warn"_s
        << QStringList{u"whole-script-confusable"_s, u"lookalike"_s};
    QTest::newRow("whole-script Cyrillic confusable, site not listed")
        << u"https://\u0441\u043E\u0441\u043E\u0430.example/"_s << list << u"warn"_s
        << QStringList{u"whole-script-confusable"_s};
    QTest::newRow("ASCII digit for letter imitating paypal")
        << u"https://paypa1.com/signin"_s << list << u"warn"_s << QStringList{u"lookalike"_s};
    QTest::newRow("lookalike as a parent domain")
        << u"https://login.paypa1.com/"_s << list << u"warn"_s << QStringList{u"lookalike"_s};
    QTest::newRow("listed site's own subdomain")
        << u"https://accounts.google.com/"_s << list << u"ok"_s << QStringList();
    QTest::newRow("legitimate Japanese host") << u"https://日本語.jp/"_s << list << u"ok"_s << QStringList();
    QTest::newRow("legitimate Japanese host mixing kana and Latin")
        << u"https://ソニーstore.example/"_s << list << u"ok"_s << QStringList();
    QTest::newRow("legitimate Cyrillic host") << u"https://пример.рф/"_s << list << u"ok"_s << QStringList();
    QTest::newRow("legitimate German IDN")
        << u"https://bücher.example/"_s << list << u"ok"_s << QStringList();
    QTest::newRow("blocked host, zero-address line")
        << u"https://ads.example/x"_s << list << u"warn"_s << QStringList{u"blocked"_s};
    QTest::newRow("blocked by parent domain")
        << u"https://a.b.ads.example/"_s << list << u"warn"_s << QStringList{u"blocked"_s};
    QTest::newRow("blocked bare-host line, upper case in URL")
        << u"https://WWW.Bare.Example./"_s << list << u"warn"_s << QStringList{u"blocked"_s};
    QTest::newRow("parent of a listed host not blocked")
        << u"https://example.net/"_s << list << u"ok"_s << QStringList();
    QTest::newRow("same ending without a dot not blocked")
        << u"https://notads.example/"_s << list << u"ok"_s << QStringList();
    QTest::newRow("commented host not blocked")
        << u"https://evil.example/"_s << "# evil.example\n0.0.0.0 other.example # evil.example\n"_ba
        << u"ok"_s << QStringList();
    QTest::newRow("no block list") << u"https://ads.example/"_s << QByteArray() << u"ok"_s << QStringList();
    QTest::newRow("http is noted") << u"http://www.example.com/"_s << list << u"note"_s
                                   << QStringList{u"no-encryption"_s};
    QTest::newRow("http and blocked: warn wins")
        << u"http://ads.example/"_s << list << u"warn"_s << QStringList{u"no-encryption"_s, u"blocked"_s};
    QTest::newRow("IPv4 literal") << u"https://192.0.2.10/login"_s << list << u"note"_s
                                  << QStringList{u"ip-address"_s};
    QTest::newRow("IPv4 as one number")
        << u"https://3221225994/"_s << list << u"note"_s << QStringList{u"ip-address"_s};
    QTest::newRow("IPv4 in hex, short form")
        << u"http://0x7f.1/"_s << list << u"note"_s << QStringList{u"no-encryption"_s, u"ip-address"_s};
    QTest::newRow("IPv6 literal") << u"https://[2001:db8::1]:8443/"_s << list << u"note"_s
                                  << QStringList{u"ip-address"_s};
    QTest::newRow("name ending in a number is no host")
        << u"https://www.example.123/"_s << list << u"warn"_s << QStringList{u"bad-host"_s};
    QTest::newRow("a name before @ is no host")
        << u"https://www.google.com@evil.example/login"_s << list << u"warn"_s << QStringList{u"user-info"_s};
    QTest::newRow("a name before @ an IP address")
        << u"http://paypal.com:x@192.0.2.7/"_s << list << u"warn"_s
        << QStringList{u"user-info"_s, u"no-encryption"_s, u"ip-address"_s};
    QTest::newRow("not a web address")
        << u"mailto:someone@example.com"_s << list << u"note"_s << QStringList{u"not-web"_s};
    QTest::newRow("no host") << u"https:///path"_s << list << u"warn"_s << QStringList{u"bad-host"_s};
}

void TestVerdict::judge()
{
    QFETCH(QString, url);
    QFETCH(QByteArray, blockList);
    QFETCH(QString, level);
    QFETCH(QStringList, codes);

    HostSet blocked;
    blocked.loadBytes(blockList);
    const ImitatedSites sites;
    const Verdict verdict = JudgeDestination(url, {&blocked, &sites});
    QVERIFY(verdict.judged);
    QStringList got;
    for (const VerdictReason& reason : verdict.reasons) {
        got.append(reason.code);
        QVERIFY2(!reason.message.isEmpty(), qPrintable(reason.code));
    }
    got.sort();
    codes.sort();
    QVERIFY2(got == codes, qPrintable(got.join(u' ') + u" / "_s + VerdictLine(verdict)));
    QCOMPARE(LevelName(verdict.level), level);
}

void TestVerdict::hostForms_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("unicode");
    QTest::addColumn<QString>("ascii");
    QTest::addColumn<bool>("idn");

    QTest::newRow("Unicode host given")
        << u"https://bücher.example/"_s << u"bücher.example"_s << u"xn--bcher-kva.example"_s << true;
    QTest::newRow("punycode host given, shown in Unicode")
        << u"https://xn--bcher-kva.example/"_s << u"bücher.example"_s << u"xn--bcher-kva.example"_s << true;
    QTest::newRow("Japanese host") << u"https://日本語.jp/"_s << u"日本語.jp"_s << u"xn--wgv71a119e.jp"_s
                                   << true;
    QTest::newRow("Cyrillic host and top-level domain")
        << u"https://пример.рф/"_s << u"пример.рф"_s << u"xn--e1afmkfd.xn--p1ai"_s << true;
    QTest::newRow("full-width letters fold to ASCII")
        << u"https://ｅｘａｍｐｌｅ.com/"_s << u"example.com"_s << u"example.com"_s << false;
    QTest::newRow("ASCII host, upper case")
        << u"https://WWW.Example.COM/"_s << u"www.example.com"_s << u"www.example.com"_s << false;
}

void TestVerdict::hostForms()
{
    QFETCH(QString, url);
    QFETCH(QString, unicode);
    QFETCH(QString, ascii);
    QFETCH(bool, idn);

    const Verdict verdict = JudgeDestination(url, {});
    QCOMPARE(verdict.host.unicode, unicode);
    QCOMPARE(verdict.host.ascii, ascii);
    QCOMPARE(verdict.host.isIdn(), idn);
    const QString line = VerdictLine(verdict);
    QCOMPARE(line.contains(ascii) && line.contains(unicode), idn);
}

void TestVerdict::asciiHostLimits_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("ascii"); // both forms, when valid
    QTest::addColumn<bool>("valid");

    const QString label63(63, u'a');
    const QString name253 = label63 + u'.' + label63 + u'.' + label63 + u'.' + QString(61, u'b');
    QTest::newRow("plain") << u"www.example.com"_s << u"www.example.com"_s << true;
    QTest::newRow("upper case") << u"WWW.Example.COM"_s << u"www.example.com"_s << true;
    QTest::newRow("trailing dot") << u"example.com."_s << u"example.com"_s << true;
    QTest::newRow("digits and inner hyphens") << u"a-1.b-2-c.example"_s << u"a-1.b-2-c.example"_s << true;
    QTest::newRow("label of 63") << label63 + u".example"_s << label63 + u".example"_s << true;
    QTest::newRow("label of 64") << label63 + u"a.example"_s << QString() << false;
    QTest::newRow("name of 253") << name253 << name253 << true;
    QTest::newRow("name of 254") << name253 + u'b' << QString() << false;
    QTest::newRow("leading hyphen") << u"-a.example"_s << QString() << false;
    QTest::newRow("trailing hyphen") << u"a-.example"_s << QString() << false;
    QTest::newRow("hyphens at 3 and 4") << u"ab--c.example"_s << QString() << false;
    QTest::newRow("hyphens elsewhere") << u"a--b.example"_s << u"a--b.example"_s << true;
    QTest::newRow("empty label") << u"a..example"_s << QString() << false;
    QTest::newRow("punycode label") << u"xn--bcher-kva.example"_s << u"xn--bcher-kva.example"_s << true;
    QTest::newRow("broken punycode label") << u"xn--zz.example"_s << QString() << false;
    QTest::newRow("underscore") << u"a_b.example"_s << u"a_b.example"_s << true;
}

// ASCII names are most hosts: their forms and validity are exactly what UTS #46 gives, at its limits.
void TestVerdict::asciiHostLimits()
{
    QFETCH(QString, host);
    QFETCH(QString, ascii);
    QFETCH(bool, valid);

    const HostForms forms = HostInBothForms(host);
    QCOMPARE(forms.valid, valid);
    if (valid) {
        QCOMPARE(forms.ascii, ascii);
        QCOMPARE(forms.unicode, ascii.startsWith(u"xn--"_s) ? u"bücher.example"_s : ascii);
    }
}

void TestVerdict::line_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("head");
    QTest::addColumn<QStringList>("parts");

    QTest::newRow("ok") << u"https://www.example.com/"_s << u"行き先の確認: 問題は見つかりませんでした"_s
                        << QStringList();
    QTest::newRow("note: http") << u"http://www.example.com/"_s << u"【注意】行き先の確認: "_s
                                << QStringList{u"暗号化されない接続(http:)です"_s};
    QTest::newRow("warn first, then note")
        << u"http://p\u0430ypal.example/"_s << u"【警告】行き先の確認: "_s
        << QStringList{u"見分けにくい複数の文字体系"_s, u"。暗号化されない接続"_s};
}

void TestVerdict::line()
{
    QFETCH(QString, url);
    QFETCH(QString, head);
    QFETCH(QStringList, parts);

    const QString text = VerdictLine(JudgeDestination(url, {}));
    QVERIFY2(text.startsWith(head), qPrintable(text));
    QVERIFY(!text.contains(u'\n'));
    for (const QString& part : parts)
        QVERIFY2(text.contains(part), qPrintable(text));
    QVERIFY(VerdictLine(JudgeDestination(QString(), {})).isEmpty());
}

void TestVerdict::json()
{
    const Verdict verdict = JudgeDestination(u"http://bücher.example/"_s, {});
    const QJsonObject object = VerdictJson(verdict);
    QCOMPARE(object.value("level"_L1).toString(), u"note"_s);
    const QJsonArray reasons = object.value("reasons"_L1).toArray();
    QCOMPARE(reasons.size(), 1);
    QCOMPARE(reasons[0].toObject().value("code"_L1).toString(), u"no-encryption"_s);
    QCOMPARE(reasons[0].toObject().value("message"_L1).toString(), verdict.reasons[0].message);
    QCOMPARE(object.value("host"_L1).toString(), u"bücher.example"_s);
    QCOMPARE(object.value("asciiHost"_L1).toString(), u"xn--bcher-kva.example"_s);

    const QJsonObject ok = VerdictJson(JudgeDestination(u"https://example.com/"_s, {}));
    QCOMPARE(ok.value("level"_L1).toString(), u"ok"_s);
    QVERIFY(ok.value("reasons"_L1).isArray());
    QVERIFY(ok.value("reasons"_L1).toArray().isEmpty());
}

void TestVerdict::userImitatedSites()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    QCOMPARE(EnsureImitatedSitesFile(folder.path()), ListFileOutcome::Created);
    QFile file(folder.filePath(kImitatedSitesFileName.toString()));
    QVERIFY(file.open(QIODevice::Append));
    file.write("mybank.example\r\n# other.example\r\n");
    file.close();

    const QString lookalike = u"https://myb\u0430nk.example/"_s; // Cyrillic a
    const QString spelledWithOne = u"https://mybank1.example/"_s;
    ImitatedSites sites;
    QVERIFY(!JudgeDestination(lookalike, {nullptr, &sites}).hasReason(u"lookalike"));
    const HostListRead read = sites.loadFile(file.fileName());
    QCOMPARE(read.added, 1);
    QCOMPARE(read.skippedLines, 0);
    QCOMPARE(sites.size(), ImitatedSites::shippedSites().size() + 1);

    const Verdict verdict = JudgeDestination(lookalike, {nullptr, &sites});
    QVERIFY(verdict.hasReason(u"lookalike"));
    QVERIFY(verdict.reasons.constLast().message.contains(u"mybank.example"_s));
    QVERIFY(!JudgeDestination(u"https://www.mybank.example/"_s, {nullptr, &sites}).hasReason(u"lookalike"));
    QVERIFY(!JudgeDestination(spelledWithOne, {nullptr, &sites}).hasReason(u"lookalike"));
}

QTEST_GUILESS_MAIN(TestVerdict)
#include "tst_verdict.moc"
