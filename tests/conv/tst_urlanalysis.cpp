#include "conv/ConversionEngine.h"
#include "conv/RedirectProbe.h"
#include "conv/RuleRegex.h"
#include "conv/ServiceRules.h"
#include "conv/ShortenerClient.h"
#include "conv/UrlParts.h"

#include "platform/MessageBoxes.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace linvera;

namespace {

class CountingBoxes : public platform::MessageBoxes
{
public:
    Answer show(Icon icon, const QString& title, const QString& text, Buttons) override
    {
        icons.append(icon);
        titles.append(title);
        texts.append(text);
        return Answer::Ok;
    }
    QList<Icon> icons;
    QStringList titles;
    QStringList texts;
};

// The warnings of the rule loader, kept while it lives.
QStringList* g_ruleWarnings = nullptr;

class RuleWarnings
{
public:
    RuleWarnings()
    {
        g_ruleWarnings = &texts;
        m_previous = qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext& context, const QString& text) {
                if (type == QtWarningMsg && QByteArrayView(context.category) == "linvera.rules")
                    g_ruleWarnings->append(text);
            });
    }
    ~RuleWarnings()
    {
        qInstallMessageHandler(m_previous);
        g_ruleWarnings = nullptr;
    }
    QStringList texts;

private:
    QtMessageHandler m_previous = nullptr;
};

} // namespace

class TestUrlAnalysis : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void splitUrl_data();
    void splitUrl();
    void textBetween_data();
    void textBetween();
    void ruleLines_data();
    void ruleLines();
    void shortLinkRuleFile();
    void ruleColumnsLoseSpacesOnly_data();
    void ruleColumnsLoseSpacesOnly();
    void answerPatternsCompiledAtLoad_data();
    void answerPatternsCompiledAtLoad();
    void brokenExpressionsWarnedOfTenTimes_data();
    void brokenExpressionsWarnedOfTenTimes();
    void shortLinkMatching_data();
    void shortLinkMatching();
    void pictureMatching_data();
    void pictureMatching();
    void liveShortLink_data();
    void liveShortLink();
    void previewPicturePath_data();
    void previewPicturePath();
    void expressionDialect_data();
    void expressionDialect();
    void runawayExpressionIsBounded();
    void unescapeUnicode_data();
    void unescapeUnicode();
    void storeItemId_data();
    void storeItemId();
    void trimSpaces_data();
    void trimSpaces();
    void probeRequest_data();
    void probeRequest();
    void probeAnswer_data();
    void probeAnswer();
    void requestUrls();
};

void TestUrlAnalysis::splitUrl_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("scheme");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("query");
    QTest::newRow("host, port, path, query")
        << u"host:8080/a/b?x=1&y=2"_s << QString() << u"host"_s << 8080 << u"/a/b"_s << u"x=1&y=2"_s;
    QTest::newRow("with scheme") << u"http://host:8080/a/b?x=1&y=2"_s << u"http"_s << u"host"_s << 8080
                                 << u"/a/b"_s << u"x=1&y=2"_s;
    QTest::newRow("host alone") << u"host"_s << QString() << u"host"_s << 0 << u"/"_s << QString();
    QTest::newRow("port not numeric")
        << u"host:abc/p"_s << QString() << u"host"_s << 0 << u"/p"_s << QString();
    QTest::newRow("query without slash stays in host")
        << u"host?x=1"_s << QString() << u"host?x=1"_s << 0 << u"/"_s << QString();
    QTest::newRow("second question mark in query")
        << u"host/p?a?b"_s << QString() << u"host"_s << 0 << u"/p"_s << u"a?b"_s;
    QTest::newRow("port without slash stays in host")
        << u"http://host:8080"_s << u"http"_s << u"host:8080"_s << 0 << u"/"_s << QString();
    QTest::newRow("colon after the slash")
        << u"http://h/p:x"_s << u"http"_s << u"h"_s << 0 << u"/p:x"_s << QString();
    QTest::newRow("port too large") << u"h:99999999999/p"_s << QString() << u"h"_s << 0 << u"/p"_s
                                    << QString();
    QTest::newRow("empty") << QString() << QString() << QString() << 0 << u"/"_s << QString();
    QTest::newRow("Japanese path") << u"http://例え.example/パス?q=値"_s << u"http"_s << u"例え.example"_s
                                   << 0 << u"/パス"_s << u"q=値"_s;
}

void TestUrlAnalysis::splitUrl()
{
    QFETCH(QString, url);
    const UrlParts parts = SplitUrl(url);
    QTEST(parts.scheme, "scheme");
    QTEST(parts.host, "host");
    QTEST(int(parts.port), "port");
    QTEST(parts.path, "path");
    QTEST(parts.query, "query");
}

void TestUrlAnalysis::textBetween_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("result");
    QTest::newRow("header line") << u"HTTP/1.0 301 Moved\r\nLocation: http://t/x\r\n\r\n"_s
                                 << u"http://t/x"_s;
    QTest::newRow("no start marker") << u"HTTP/1.0 200 OK\r\n\r\n"_s << QString();
    QTest::newRow("no end after start") << u"Location: http://t/x"_s << QString();
    QTest::newRow("first of two") << u"Location: a\r\nLocation: b\r\n"_s << u"a"_s;
    QTest::newRow("other letter case") << u"location: a\r\n"_s << QString();
    QTest::newRow("empty value") << u"Location: \r\n"_s << QString();
}

void TestUrlAnalysis::textBetween()
{
    QFETCH(QString, text);
    QTEST(TextBetween(text, u"Location: "_s, u"\r\n"_s), "result");
}

void TestUrlAnalysis::ruleLines_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("CR LF") << u"a\r\nb\r\n"_s << QStringList{u"a"_s, u"b"_s};
    QTest::newRow("lone CR") << u"a\rb"_s << QStringList{u"a"_s, u"b"_s};
    QTest::newRow("lone LF ends a line") << u"a\nb\r\n"_s << QStringList{u"a"_s, u"b"_s};
    QTest::newRow("LF only") << u"a\nb\n"_s << QStringList{u"a"_s, u"b"_s};
    QTest::newRow("LF CR is two line ends") << u"a\n\rb"_s << QStringList{u"a"_s, QString(), u"b"_s};
    QTest::newRow("CR CR LF is two line ends") << u"a\r\r\nb"_s << QStringList{u"a"_s, QString(), u"b"_s};
    QTest::newRow("lone LF before column 1")
        << u"\na.example/\tLocation:\t\r\n"_s << QStringList{QString(), u"a.example/\tLocation:\t"_s};
    QTest::newRow("lone LF after column 3")
        << u"a\tT\t p(.)\n\r\n"_s << QStringList{u"a\tT\t p(.)"_s, QString()};
    QTest::newRow("empty line kept") << u"a\r\n\r\nb"_s << QStringList{u"a"_s, QString(), u"b"_s};
    QTest::newRow("no text") << QString() << QStringList();
}

void TestUrlAnalysis::ruleLines()
{
    QFETCH(QString, text);
    QTEST(SplitRuleLines(text), "lines");
}

void TestUrlAnalysis::shortLinkRuleFile()
{
    CountingBoxes boxes;
    ShortLinkRules rules;
    rules.loadFromText(
        u"only\tone tab\r\n a.example/ \t Location: \t \r\n\r\nbad\r\nb.example/\thttp://api/($)\t\"u\": \"(.*?)\"\tx\r\n"_s,
        boxes);
    // Three lines lack two TABs (one TAB, an empty line, no TAB): one message each.
    QCOMPARE(boxes.texts, QStringList(3, u"tinyurls読み込みエラー"_s));
    QCOMPARE(boxes.icons.first(), platform::MessageBoxes::Icon::Stop);
    QCOMPARE(rules.size(), 2);
    QCOMPARE(rules.at(0).matchText, u"a.example/"_s);
    QCOMPARE(rules.at(0).templ, u"Location:"_s);
    QCOMPARE(rules.at(0).pattern, QString());
    // Further TABs stay in the third column.
    QCOMPARE(rules.at(1).pattern, u"\"u\": \"(.*?)\"\tx"_s);

    CountingBoxes single;
    rules.loadFromText(u"x\t\r\n"_s, single);
    QCOMPARE(single.texts.size(), 1);
    QCOMPARE(rules.size(), 0);
}

void TestUrlAnalysis::ruleColumnsLoseSpacesOnly_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("matchText");
    QTest::addColumn<QString>("templ");
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<bool>("isLocation");
    QTest::newRow("outer spaces go") << u"  a.example/  \t  Location:  \t  p(.)  "_s << u"a.example/"_s
                                     << u"Location:"_s << u"p(.)"_s << true;
    QTest::newRow("trailing TAB of column 3 stays")
        << u"a\tT(1)\tp(.)\t"_s << u"a"_s << u"T(1)"_s << u"p(.)\t"_s << false;
    QTest::newRow("TAB between spaces at the end of column 3")
        << u"a\tT\t p(.) \t "_s << u"a"_s << u"T"_s << u"p(.) \t"_s << false;
    QTest::newRow("vertical tab leading column 1 stays")
        << u"\u000Ba.example/\tLocation:\t"_s << u"\u000Ba.example/"_s << u"Location:"_s << QString() << true;
    QTest::newRow("form feed ending column 3 stays")
        << u"a\tT\t p(.)\u000C"_s << u"a"_s << u"T"_s << u"p(.)\u000C"_s << false;
    QTest::newRow("ideographic spaces around column 1 stay")
        << u"\u3000a.example/\u3000\tLocation:\t"_s << u"\u3000a.example/\u3000"_s << u"Location:"_s
        << QString() << true;
    QTest::newRow("ideographic space after Location: makes a template")
        << u"a\tLocation:\u3000\t"_s << u"a"_s << u"Location:\u3000"_s << QString() << false;
    QTest::newRow("no-break space, vertical tab and form feed stay")
        << u"\u00A0a\u000B\t\u000CT\t"_s << u"\u00A0a\u000B"_s << u"\u000CT"_s << QString() << false;
    QTest::newRow("columns of spaces only become empty")
        << u"   \t   \t   "_s << QString() << QString() << QString() << false;
}

void TestUrlAnalysis::ruleColumnsLoseSpacesOnly()
{
    QFETCH(QString, line);
    CountingBoxes boxes;
    ShortLinkRules rules;
    rules.loadFromText(line + u"\r\n"_s, boxes);
    QCOMPARE(boxes.texts, QStringList());
    QCOMPARE(rules.size(), 1);
    QTEST(rules.at(0).matchText, "matchText");
    QTEST(rules.at(0).templ, "templ");
    QTEST(rules.at(0).pattern, "pattern");
    QTEST(rules.at(0).isLocation, "isLocation");
}

void TestUrlAnalysis::answerPatternsCompiledAtLoad_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QStringList>("brokenReported");
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("answerValid");
    QTest::addColumn<QString>("answerBody");
    QTest::addColumn<QString>("longUrl");
    QTest::newRow("valid answer pattern")
        << u"s.example/\thttp://api/($)\t<long>(.*?)</long>\r\n"_s << QStringList() << u"http://s.example/a"_s
        << true << u"x<long>http://l/1</long><long>2</long>"_s << u"http://l/1"_s;
    QTest::newRow("answer pattern used case-insensitively")
        << u"s.example/\thttp://api/($)\t<LONG>(.*?)</LONG>\r\n"_s << QStringList() << u"http://s.example/a"_s
        << true << u"<long>http://l/2</long>"_s << u"http://l/2"_s;
    QTest::newRow("broken answer pattern reported at load")
        << u"s.example/\thttp://api/($)\t<long>(.*?</long>\r\n"_s
        << QStringList{u"answer pattern \"<long>\\(\\.\\*\\?</long>\" does not compile"_s}
        << u"http://s.example/a"_s << false << u"<long>http://l/1</long>"_s << QString();
    QTest::newRow("one report for a broken pattern on two rules")
        << u"s.example/\thttp://api/($)\t([a\r\nt.example/\thttp://api2/($)\t([a\r\n"_s
        << QStringList{u"answer pattern \"\\(\\[a\" does not compile"_s} << u"http://t.example/b"_s << false
        << u"(["_s << QString();
    QTest::newRow("broken expression and broken answer pattern, each once")
        << u"[x\tLocation:\t\r\n[y\thttp://api/($)\t(z\r\nok.example/\thttp://api/($)\t\\d(\\d)\r\n"_s
        << QStringList{u"skipping rule \"\\[y\""_s, u"answer pattern \"\\(z\" does not compile"_s}
        << u"http://ok.example/"_s << true << u"a123"_s << u"2"_s;
    QTest::newRow("no answer pattern, nothing compiled")
        << u"u.example/\tLocation:\t\r\n"_s << QStringList() << u"http://u.example/a"_s << false << u"x"_s
        << QString();
}

void TestUrlAnalysis::answerPatternsCompiledAtLoad()
{
    QFETCH(QString, file);
    QFETCH(QStringList, brokenReported);
    QFETCH(QString, url);
    QFETCH(QString, answerBody);
    CountingBoxes boxes;
    ShortLinkRules rules;
    for (const QString& report : std::as_const(brokenReported))
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(report));
    rules.loadFromText(file, boxes);
    // Reported while loading, never again while matching.
    QTest::failOnWarning(QRegularExpression(u".*"_s));
    for (int i = 0; i < 3; ++i) {
        const ShortLinkRules::Match match = rules.MatchShortLinkRule(url);
        QVERIFY(match.matched);
        QCOMPARE(match.answer.pattern(), match.pattern);
        QTEST(match.answer.isValid(), "answerValid");
        QTEST(match.answer.firstGroup(answerBody), "longUrl");
    }
}

void TestUrlAnalysis::brokenExpressionsWarnedOfTenTimes_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("broken");
    QTest::addColumn<int>("warnings");
    QTest::addColumn<QString>("last");
    QTest::newRow("one broken expression") << u"match"_s << 1 << 1 << u"skipping rule"_s;
    QTest::newRow("ten broken expressions") << u"match"_s << 10 << 10 << u"skipping rule"_s;
    QTest::newRow("eleven broken expressions") << u"match"_s << 11 << 11 << u"and 1 more expressions"_s;
    QTest::newRow("50,000 broken expressions")
        << u"match"_s << 50000 << 11 << u"and 49990 more expressions"_s;
    QTest::newRow("50,000 broken answer patterns")
        << u"answer"_s << 50000 << 11 << u"and 49990 more expressions"_s;
    QTest::newRow("50,000 broken picture expressions")
        << u"picture"_s << 50000 << 11 << u"and 49990 more expressions"_s;
}

void TestUrlAnalysis::brokenExpressionsWarnedOfTenTimes()
{
    QFETCH(QString, kind);
    QFETCH(int, broken);
    QFETCH(int, warnings);
    QFETCH(QString, last);
    QString file;
    for (int i = 0; i < broken; ++i) {
        const QString n = QString::number(i);
        if (kind == u"match"_s)
            file += u"[b"_s + n + u"\thttp://x/(1)\t\r\n"_s;
        else if (kind == u"answer"_s)
            file += u"s"_s + n + u".example/\thttp://api/($)\t([a"_s + n + u"\r\n"_s;
        else
            file += u"[p"_s + n + u"\thttp://x/(1).png\r\n"_s;
    }
    file += u"ok.example/\thttp://ok/\t\r\n"_s;
    CountingBoxes boxes;
    RuleWarnings told;
    if (kind == u"picture"_s) {
        PictureRules rules;
        rules.loadFromText(file);
        QCOMPARE(rules.size(), qsizetype(broken + 1));
    } else {
        ShortLinkRules rules;
        rules.loadFromText(file, boxes);
        QCOMPARE(rules.size(), qsizetype(broken + 1));
        QVERIFY(rules.MatchShortLinkRule(u"http://ok.example/"_s).matched);
    }
    QCOMPARE(told.texts.size(), warnings);
    QVERIFY2(told.texts.last().contains(last), qPrintable(told.texts.last()));
    QCOMPARE(boxes.texts, QStringList());
}

void TestUrlAnalysis::shortLinkMatching_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("matched");
    QTest::addColumn<QString>("templ");
    QTest::addColumn<QString>("pattern");
    const QString file = u"bit.example/\tLocation:\t\r\n"
                         "svc.example/\thttp://api.example/x?c=($)\t\"long\": \"(.*?)\"\r\n"
                         "^https?://yt\\.example/([\\w-]+)\\?t=(\\d+)$\thttps://video.example/"
                         "watch?v=(1)&t=(2)s&again=(1)\t\r\n"
                         "([\\w]+\\tLocation:\t\r\n"_s;
    QTest::newRow("plain Location rule")
        << file << u"http://bit.example/abc"_s << true << u"Location:"_s << QString();
    QTest::newRow("plain text is case-sensitive")
        << file << u"http://BIT.example/abc"_s << false << QString() << QString();
    QTest::newRow("API rule") << file << u"http://svc.example/q1"_s << true << u"http://api.example/x?c=($)"_s
                              << u"\"long\": \"(.*?)\""_s;
    QTest::newRow("expression fills both groups")
        << file << u"https://yt.example/A-b_9?t=42"_s << true
        << u"https://video.example/watch?v=A-b_9&t=42s&again=A-b_9"_s << QString();
    QTest::newRow("expression is case-insensitive")
        << file << u"HTTPS://YT.EXAMPLE/x?t=1"_s << true << u"https://video.example/watch?v=x&t=1s&again=x"_s
        << QString();
    QTest::newRow("Location rule never as expression")
        << u"b.t\tLocation:\t\r\n"_s << u"http://bit/x"_s << false << QString() << QString();
    QTest::newRow("nothing matches") << file << u"http://long.example/page"_s << false << QString()
                                     << QString();
    QTest::newRow("empty match text matches any URL")
        << u"\thttp://x/($)\tp(.)\r\n"_s << u"http://a/b"_s << true << u"http://x/($)"_s << u"p(.)"_s;
    // An input of spaces only reaches the rules empty: nothing may claim it.
    QTest::newRow("empty match text never matches the empty URL")
        << u"\thttp://x/($)\tp(.)\r\n"_s << QString() << false << QString() << QString();
    QTest::newRow("empty Location rule never matches the empty URL")
        << u"\tLocation:\t\r\nok\tT\t\r\n"_s << u""_s << false << QString() << QString();
    QTest::newRow("ideographic space is part of the match text")
        << u"\u3000a.example/\tLocation:\t\r\n"_s << u"http://a.example/x"_s << false << QString()
        << QString();
    // The LF ends a line without TABs; the next line's empty match text is found in every URL.
    QTest::newRow("LF ends the line before the TABs")
        << u"a.example/\n\tLocation:\t\r\n"_s << u"http://other.example/x"_s << true << u"Location:"_s
        << QString();
    QTest::newRow("spaces are not part of the match text")
        << u"  a.example/  \tLocation:\t\r\n"_s << u"http://a.example/x"_s << true << u"Location:"_s
        << QString();
    QTest::newRow("broken expression is skipped")
        << u"([\tT(1)\t\r\nok.example\tLocation:\t\r\n"_s << u"http://ok.example/1"_s << true
        << u"Location:"_s << QString();
}

void TestUrlAnalysis::shortLinkMatching()
{
    QFETCH(QString, file);
    QFETCH(QString, url);
    CountingBoxes boxes;
    ShortLinkRules rules;
    rules.loadFromText(file, boxes);
    const ShortLinkRules::Match match = rules.MatchShortLinkRule(url);
    QTEST(match.matched, "matched");
    QTEST(match.templ, "templ");
    QTEST(match.pattern, "pattern");
}

void TestUrlAnalysis::pictureMatching_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("matched");
    QTest::addColumn<QString>("pictureUrl");
    QTest::newRow("page to picture") << u"http://pics.example/show/ab12"_s << true
                                     << u"http://img.example/ab12.jpg"_s;
    QTest::newRow("second rule, two groups")
        << u"https://snap.example/u/kei/p/77"_s << true << u"https://snap.example/raw/kei-77.png"_s;
    QTest::newRow("no rule") << u"http://other.example/a"_s << false << QString();
}

void TestUrlAnalysis::pictureMatching()
{
    QFETCH(QString, url);
    PictureRules rules;
    // A blank line must not turn every URL into a picture; a line without TAB is a rule without template.
    rules.loadFromText(u"^http://pics\\.example/show/(\\w+)$\thttp://img.example/(1).jpg\r\n"
                       "\r\n"
                       "snap\\.example/u/(\\w+)/p/(\\d+)\thttps://snap.example/raw/(1)-(2).png\r\n"
                       "[unclosed\r\n"_s);
    QCOMPARE(rules.size(), 3);
    QString pictureUrl = u"left over"_s;
    QTEST(rules.MatchPictureRule(url, pictureUrl), "matched");
    QTEST(pictureUrl, "pictureUrl");
}

void TestUrlAnalysis::liveShortLink_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("live");
    QTest::newRow("short link") << u"http://lv.example/lv123"_s << true;
    QTest::newRow("domain without slash") << u"http://lv.example"_s << false;
    QTest::newRow("other letter case") << u"http://LV.example/lv1"_s << false;
    QTest::newRow("anywhere in the text") << u"see lv.example/x"_s << true;
}

void TestUrlAnalysis::liveShortLink()
{
    QFETCH(QString, url);
    QTEST(IsLiveShortLink(url, u"lv.example"_s), "live");
}

void TestUrlAnalysis::previewPicturePath_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("name");
    QTest::newRow("PNG in capitals") << u"http://p/x.PNG"_s << u"hvxlinvera.png"_s;
    QTest::newRow("jpeg") << u"http://p/x.jpeg"_s << u"hvxlinvera.jpg"_s;
    QTest::newRow("bmp") << u"http://p/x.bmp"_s << u"hvxlinvera.bmp"_s;
    QTest::newRow("gif") << u"http://p/x.gif"_s << u"hvxlinvera.gif"_s;
    QTest::newRow("no extension") << u"http://p/show/1"_s << u"hvxlinvera.jpg"_s;
    QTest::newRow("short text") << u"g"_s << u"hvxlinvera.jpg"_s;
}

void TestUrlAnalysis::previewPicturePath()
{
    QFETCH(QString, url);
    QFETCH(QString, name);
    QCOMPARE(PreviewPicturePath(url, u"/tmp/"_s), u"/tmp/"_s + name);
    QCOMPARE(PreviewPicturePath(url, u"/var/tmp"_s), u"/var/tmp/"_s + name);
}

void TestUrlAnalysis::expressionDialect_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("subject");
    QTest::addColumn<bool>("matches");
    QTest::addColumn<QString>("group1");
    QTest::newRow("lazy group") << u"<t>(.*?)</t>"_s << u"<t>a</t><t>b</t>"_s << true << u"a"_s;
    QTest::newRow("dot stops at LF") << u"a(.*)z"_s << u"a1\nz"_s << false << QString();
    QTest::newRow("dot stops at CR") << u"a(.*)z"_s << u"a1\rz"_s << false << QString();
    QTest::newRow("greedy to last hash on the line")
        << u"Location: (.*)#"_s << u"Location: u#a#b\r\nX: #"_s << true << u"u#a"_s;
    QTest::newRow("case-insensitive") << u"ABC(\\d)"_s << u"xabc7"_s << true << u"7"_s;
    QTest::newRow("escaped slash") << u"\\/dp\\/(.*?)\\/"_s << u"/dp/B01/x"_s << true << u"B01"_s;
    QTest::newRow("Japanese") << u"タイトル:(.+)"_s << u"タイトル:ＡＢ"_s << true << u"ＡＢ"_s;
    QTest::newRow("does not compile") << u"(["_s << u"(["_s << false << QString();
    QTest::newRow("lone surrogate subject") << u"a"_s << (u"a"_s + QChar(0xD800)) << false << QString();
}

void TestUrlAnalysis::expressionDialect()
{
    QFETCH(QString, pattern);
    QFETCH(QString, subject);
    const RuleRegex regex(pattern);
    QStringList groups;
    QTEST(regex.match(subject, &groups), "matches");
    QTEST(groups.value(0), "group1");
}

void TestUrlAnalysis::runawayExpressionIsBounded()
{
    // A rule from the network that backtracks exponentially must not freeze the window.
    const RuleRegex regex(u"^(a+)+$"_s);
    QVERIFY(regex.isValid());
    const QString subject = QString(40, u'a') + u'!';
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!regex.match(subject));
    QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));
}

void TestUrlAnalysis::unescapeUnicode_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("result");
    QTest::newRow("backslash u") << u"A\\u3042B"_s << u"AあB"_s;
    QTest::newRow("percent u") << u"%u3042"_s << u"あ"_s;
    QTest::newRow("capital U stays") << u"\\U3042"_s << u"\\U3042"_s;
    QTest::newRow("five characters stay") << u"\\u304"_s << u"\\u304"_s;
    QTest::newRow("escape at the very end") << u"ab\\u3044"_s << u"abい"_s;
    QTest::newRow("upper-case digits") << u"x\\u30A2y"_s << u"xアy"_s;
    QTest::newRow("not hexadecimal stays") << u"\\uZZZZ-"_s << u"\\uZZZZ-"_s;
    QTest::newRow("title") << u"\\u30c6\\u30b9\\u30c8 page"_s << u"テスト page"_s;
}

void TestUrlAnalysis::unescapeUnicode()
{
    QFETCH(QString, text);
    QTEST(UnescapeUnicode(text), "result");
}

void TestUrlAnalysis::storeItemId_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("item");
    QTest::newRow("dp") << u"http://www.store.example/Some-Name/dp/4087/ref=sr_1"_s << u"4087"_s;
    QTest::newRow("product") << u"http://www.store.example/gp/product/B00X/ref"_s << u"B00X"_s;
    QTest::newRow("ASIN") << u"http://www.store.example/exec/obidos/ASIN/4101/x"_s << u"4101"_s;
    QTest::newRow("last segment without slash") << u"http://www.store.example/dp/4087"_s << QString();
    QTest::newRow("dp first") << u"http://s/product/P1/dp/D1/"_s << u"D1"_s;
}

void TestUrlAnalysis::storeItemId()
{
    QFETCH(QString, url);
    QTEST(ExtractStoreItemId(url), "item");
}

void TestUrlAnalysis::trimSpaces_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("result");
    QTest::newRow("outer spaces") << u"  a b  "_s << u"a b"_s;
    QTest::newRow("tab stays") << u"\t a "_s << u"\t a"_s;
    QTest::newRow("only spaces") << u"   "_s << QString();
    QTest::newRow("line break stays") << u" a\r\n"_s << u"a\r\n"_s;
}

void TestUrlAnalysis::trimSpaces()
{
    QFETCH(QString, text);
    QTEST(TrimSpaces(text), "result");
}

void TestUrlAnalysis::probeRequest_data()
{
    QTest::addColumn<bool>("viaProxy");
    QTest::addColumn<QByteArray>("request");
    QTest::newRow("direct") << false << QByteArray("GET /abc HTTP/1.0\r\nHost: h\r\n\r\n");
    QTest::newRow("through the proxy") << true << QByteArray("GET http://h/abc HTTP/1.0\r\nHost: h\r\n\r\n");
}

void TestUrlAnalysis::probeRequest()
{
    QFETCH(bool, viaProxy);
    QTEST(ProbeRequestText(u"h"_s, u"/abc"_s, viaProxy), "request");
}

void TestUrlAnalysis::probeAnswer_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("location");
    QTest::addColumn<bool>("liveFound");
    QTest::addColumn<QString>("liveLocation");
    QTest::newRow("redirect")
        << u"HTTP/1.0 301 Moved\r\nLocation: http://t.example/a#f\r\n\r\nbody Location: x\r\n"_s
        << u"http://t.example/a#f"_s << true << u"http://t.example/a"_s;
    QTest::newRow("no location") << u"HTTP/1.0 200 OK\r\n\r\n"_s << QString() << false << QString();
    QTest::newRow("location without hash")
        << u"HTTP/1.0 302 Found\r\nLocation: http://t/c\r\n\r\n"_s << u"http://t/c"_s << false << QString();
    QTest::newRow("closed before the blank line")
        << u"HTTP/1.0 301 Moved\r\nLocation: http://t/"_s << QString() << false << QString();
}

void TestUrlAnalysis::probeAnswer()
{
    QFETCH(QString, answer);
    const QString header = ProbeHeaderBlock(answer);
    QTEST(ProbeLocation(header), "location");
    bool found = false;
    const QString live = LiveProbeLocation(header, &found);
    QTEST(found, "liveFound");
    QTEST(live, "liveLocation");
}

void TestUrlAnalysis::requestUrls()
{
    Endpoints endpoints;
    endpoints.set(Endpoints::ShortenerApiHost, u"main.example"_s);
    endpoints.set(Endpoints::ShortenerAltApiHost, u"alt.example"_s);
    endpoints.set(Endpoints::ShortenerDomain, u"sh.example"_s);
    endpoints.set(Endpoints::ShortenerAltDomain, u"s.example"_s);
    const QString key = ShortenerApiKey();
    QCOMPARE(key.size(), 34);
    QCOMPARE(ShortenRequestUrl(u"http://a b/あ"_s, 0, endpoints),
             u"http://alt.example/shorten?version=2.0.1&login=clipurlx&apiKey="_s + key +
                 u"&longUrl=http%3A%2F%2Fa+b%2F%E3%81%82"_s);
    QVERIFY(ShortenRequestUrl(u"x"_s, 1, endpoints).startsWith(u"http://main.example/shorten?"_s));
    QVERIFY(ShortenRequestUrl(u"x"_s, -1, endpoints).startsWith(u"http://main.example/shorten?"_s));
    // The service's own links go to its info API, whatever the rule says; upper case counts too.
    QCOMPARE(ExpandRequestUrl(u"HTTP://S.EXAMPLE/Ab"_s, u"http://ignored/($)"_s, endpoints),
             u"http://alt.example/info?version=2.0.1&login=clipurlx&apiKey="_s + key +
                 u"&shortUrl=HTTP%3A%2F%2FS.EXAMPLE%2FAb"_s);
    QCOMPARE(ExpandRequestUrl(u"http://o.example/c d"_s, u"http://api/($)?again=($)"_s, endpoints),
             u"http://api/c+d?again=c+d"_s);
    QCOMPARE(ExpandRequestUrl(u"http://o.example/"_s, u"http://api/($)"_s, endpoints), u"http://api/"_s);
    QCOMPARE(ExpandRequestUrl(u"code"_s, u"http://api/($)"_s, endpoints), u"http://api/code"_s);
}

QTEST_GUILESS_MAIN(TestUrlAnalysis)
#include "tst_urlanalysis.moc"
