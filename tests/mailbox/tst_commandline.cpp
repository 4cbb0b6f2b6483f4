#include "mailbox/CommandLine.h"
#include "mailbox/MailboxPoller.h"

#include <QTest>

using namespace Qt::StringLiterals;

class TestCommandLine : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void splitArgs_data();
    void splitArgs();
    void splitArgsLimit_data();
    void splitArgsLimit();
    void defaultLimitIsTen();
    void commandInput_data();
    void commandInput();
    void stripBlanks_data();
    void stripBlanks();
};

void TestCommandLine::splitArgs_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("empty text: no arguments") << QString() << QStringList{u""_s};
    QTest::newRow("only blanks: no arguments") << u"  \t  "_s << QStringList{u""_s};
    QTest::newRow("bare URL") << u"http://example.com/a"_s << QStringList{u""_s, u"http://example.com/a"_s};
    QTest::newRow("three words, last two quoted")
        << u"one \"two three\""_s << QStringList{u""_s, u"one"_s, u"two three"_s};
    QTest::newRow("only two quotes: one empty argument") << u"\"\""_s << QStringList{u""_s, u""_s};
    QTest::newRow("empty quotes between words") << u"a \"\" b"_s << QStringList{u""_s, u"a"_s, u""_s, u"b"_s};
    QTest::newRow("tabs separate like spaces")
        << u"a\tb\t\tc"_s << QStringList{u""_s, u"a"_s, u"b"_s, u"c"_s};
    QTest::newRow("tab inside quotes stays") << u"\"a\tb\""_s << QStringList{u""_s, u"a\tb"_s};
    QTest::newRow("leading and trailing blanks") << u"   a   b   "_s << QStringList{u""_s, u"a"_s, u"b"_s};
    QTest::newRow("quote in the middle joins words")
        << u"ab\"c d\"ef g"_s << QStringList{u""_s, u"abc def"_s, u"g"_s};
    QTest::newRow("unclosed quote runs to the end")
        << u"a \"b c   d"_s << QStringList{u""_s, u"a"_s, u"b c   d"_s};
    QTest::newRow("line break is not a separator") << u"a\nb c"_s << QStringList{u""_s, u"a\nb"_s, u"c"_s};
    QTest::newRow("full-width space is not a separator")
        << u"あ　い う"_s << QStringList{u""_s, u"あ　い"_s, u"う"_s};
    QTest::newRow("one quoted URL") << u"\"http://example.com/?q=a b\""_s
                                    << QStringList{u""_s, u"http://example.com/?q=a b"_s};
    QTest::newRow("quoted URL and quoted title")
        << u"\"http://example.com/x\" \"My page title\""_s
        << QStringList{u""_s, u"http://example.com/x"_s, u"My page title"_s};
    QTest::newRow("quoted URL and unquoted title of two words")
        << u"\"http://example.com/x\" My title"_s
        << QStringList{u""_s, u"http://example.com/x"_s, u"My"_s, u"title"_s};
    QTest::newRow("one quote inside the title splits it")
        << u"\"http://example.com/x\" \"27\" monitor review\""_s
        << QStringList{u""_s, u"http://example.com/x"_s, u"27"_s, u"monitor"_s, u"review"_s};
    QTest::newRow("two quotes inside the title keep it whole")
        << u"\"http://example.com/x\" \"say \"hi\" now\""_s
        << QStringList{u""_s, u"http://example.com/x"_s, u"say hi now"_s};
    QTest::newRow("quoted path with a space")
        << u"\"C:\\Program Files\\a.html\""_s << QStringList{u""_s, u"C:\\Program Files\\a.html"_s};
    QTest::newRow("eleven words: the first ten")
        << u"1 2 3 4 5 6 7 8 9 10 11"_s << QStringList{u""_s,  u"1"_s, u"2"_s, u"3"_s, u"4"_s, u"5"_s,
                                                       u"6"_s, u"7"_s, u"8"_s, u"9"_s, u"10"_s};
    QTest::newRow("ten words exactly")
        << u"1 2 3 4 5 6 7 8 9 10"_s << QStringList{u""_s,  u"1"_s, u"2"_s, u"3"_s, u"4"_s, u"5"_s,
                                                    u"6"_s, u"7"_s, u"8"_s, u"9"_s, u"10"_s};
    QTest::newRow("tenth argument is kept whole, text after it dropped")
        << u"1 2 3 4 5 6 7 8 9 \"ten ten\" \"eleven\" twelve"_s
        << QStringList{u""_s,  u"1"_s, u"2"_s, u"3"_s, u"4"_s,      u"5"_s,
                       u"6"_s, u"7"_s, u"8"_s, u"9"_s, u"ten ten"_s};
}

void TestCommandLine::splitArgs()
{
    QFETCH(QString, text);
    QFETCH(QStringList, expected);
    const QStringList args = linvera::SplitArgs(text, 10);
    QCOMPARE(args, expected);
    QVERIFY(args.constFirst().isEmpty());
}

void TestCommandLine::splitArgsLimit_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("maxArgs");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("limit 2 of three") << u"a b c"_s << 2 << QStringList{u""_s, u"a"_s, u"b"_s};
    QTest::newRow("limit 1 of one") << u"a"_s << 1 << QStringList{u""_s, u"a"_s};
    QTest::newRow("limit 0 takes nothing") << u"a b"_s << 0 << QStringList{u""_s};
    QTest::newRow("negative limit takes nothing") << u"a b"_s << -3 << QStringList{u""_s};
}

void TestCommandLine::splitArgsLimit()
{
    QFETCH(QString, text);
    QFETCH(int, maxArgs);
    QFETCH(QStringList, expected);
    QCOMPARE(linvera::SplitArgs(text, maxArgs), expected);
}

void TestCommandLine::defaultLimitIsTen()
{
    const QStringList args = linvera::SplitArgs(u"1 2 3 4 5 6 7 8 9 10 11 12"_s);
    QCOMPARE(args.size(), 11);
    QCOMPARE(args.constLast(), u"10"_s);
}

void TestCommandLine::commandInput_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("beforeUrl");
    QTest::newRow("one quoted URL") << u"\"http://example.com/a b\""_s << u"http://example.com/a b"_s;
    QTest::newRow("bare URL") << u"http://example.com/"_s << u"http://example.com/"_s;
    QTest::newRow("quoted URL and quoted title with spaces")
        << u"\"http://example.com/\" \"A title with spaces\""_s << u"http://example.com/"_s;
    QTest::newRow("unquoted title of two words empties the input")
        << u"\"http://example.com/\" A title"_s << QString();
    QTest::newRow("quote inside title: more than two arguments")
        << u"\"http://example.com/\" \"27\" monitor\""_s << QString();
    QTest::newRow("two quotes inside title: still two arguments")
        << u"\"http://example.com/\" \"say \"hi\" now\""_s << u"http://example.com/"_s;
    QTest::newRow("quote inside title that still gives two arguments")
        << u"\"http://example.com/\" \"say\"hi\"\""_s << u"http://example.com/"_s;
    QTest::newRow("empty command") << QString() << QString();
    QTest::newRow("blank command") << u" \t "_s << QString();
    QTest::newRow("empty quoted URL") << u"\"\""_s << QString();
    QTest::newRow("ten arguments") << u"a b c d e f g h i j"_s << QString();
    QTest::newRow("more than ten arguments") << u"a b c d e f g h i j k l"_s << QString();
}

void TestCommandLine::commandInput()
{
    QFETCH(QString, command);
    QFETCH(QString, beforeUrl);
    const QString input = linvera::MailboxPoller::beforeUrlFor(linvera::SplitArgs(command, 10));
    QCOMPARE(input, beforeUrl);
}

void TestCommandLine::stripBlanks_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("one space is blank") << u" "_s << QString();
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("CR LF and NUL go") << (u"1\r\n"_s + QChar(u'\0') + u"2"_s) << u"12"_s;
    QTest::newRow("inner spaces go") << u" 2_1_0 "_s << u"2_1_0"_s;
    QTest::newRow("tabs stay") << u"\ta\t"_s << u"\ta\t"_s;
    QTest::newRow("full-width space stays") << u"　あ "_s << u"　あ"_s;
    QTest::newRow("order kept") << u"b a\rc"_s << u"bac"_s;
}

void TestCommandLine::stripBlanks()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(linvera::StripBlanks(text), expected);
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
