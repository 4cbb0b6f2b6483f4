// H-Linvera's command line: its designed forms stay arguments, the conventions answer the rest, and
// Qt's own options go to the application object.
#include "app/shell/ShellCommandLine.h"

#include <QTest>

using namespace Qt::StringLiterals;
using linvera::ShellCommandLine;
using linvera::platform::ProgramOptions;

Q_DECLARE_METATYPE(ProgramOptions::Action)

class TestShellCommandLine : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void classify_data();
    void classify();
    void usageNamesTheForms();
};

void TestShellCommandLine::classify_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<ProgramOptions::Action>("action");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("qtOptions");
    using A = ProgramOptions::Action;
    const QString url = u"http://s.example/a"_s;
    const QString title = u"ページ の タイトル"_s;

    // The designed forms.
    QTest::newRow("no arguments") << QStringList() << A::Run << QStringList() << QStringList();
    QTest::newRow("a URL") << QStringList{url} << A::Run << QStringList{url} << QStringList();
    QTest::newRow("a URL and a title")
        << QStringList{url, title} << A::Run << QStringList{url, title} << QStringList();
    QTest::newRow("a title that starts with a dash")
        << QStringList{url, u"-- 速報 --"_s} << A::Run << QStringList{url, u"-- 速報 --"_s} << QStringList();
    QTest::newRow("an option-like title")
        << QStringList{url, u"--help"_s} << A::Run << QStringList{url, u"--help"_s} << QStringList();
    QTest::newRow("capture switch stays for start-up") << QStringList{u"--capture-region"_s} << A::Run
                                                       << QStringList{u"--capture-region"_s} << QStringList();
    QTest::newRow("window capture switch stays for start-up")
        << QStringList{u"--capture-window"_s} << A::Run << QStringList{u"--capture-window"_s}
        << QStringList();
    QTest::newRow("-Embedding from the bus")
        << QStringList{u"-Embedding"_s} << A::Run << QStringList{u"-Embedding"_s} << QStringList();
    QTest::newRow("an empty argument")
        << QStringList{QString()} << A::Run << QStringList{QString()} << QStringList();
    QTest::newRow("eleven words") << QStringList(11, url) << A::Run << QStringList(11, url) << QStringList();

    // The conventions.
    QTest::newRow("--help") << QStringList{u"--help"_s} << A::Help << QStringList() << QStringList();
    QTest::newRow("-h") << QStringList{u"-h"_s} << A::Help << QStringList() << QStringList();
    QTest::newRow("--version") << QStringList{u"--version"_s} << A::Version << QStringList() << QStringList();
    QTest::newRow("unknown option") << QStringList{u"--capture"_s, url} << A::UsageError << QStringList()
                                    << QStringList();
    QTest::newRow("-embedding is not -Embedding")
        << QStringList{u"-embedding"_s} << A::UsageError << QStringList() << QStringList();
    QTest::newRow("-- then a dash URL")
        << QStringList{u"--"_s, u"-x"_s} << A::Run << QStringList{u"-x"_s} << QStringList();
    QTest::newRow("-- then --help") << QStringList{u"--"_s, u"--help"_s, title} << A::Run
                                    << QStringList{u"--help"_s, title} << QStringList();

    // Qt's options.
    QTest::newRow("Qt option with its value")
        << QStringList{u"-platform"_s, u"offscreen"_s, url} << A::Run << QStringList{url}
        << QStringList{u"-platform"_s, u"offscreen"_s};
    QTest::newRow("Qt option with two dashes and =")
        << QStringList{u"--style=fusion"_s, u"-reverse"_s, u"--help"_s} << A::Help << QStringList()
        << QStringList{u"--style=fusion"_s, u"-reverse"_s};
    QTest::newRow("Qt option value that looks like ours")
        << QStringList{u"-qwindowtitle"_s, u"--version"_s, url} << A::Run << QStringList{url}
        << QStringList{u"-qwindowtitle"_s, u"--version"_s};
    QTest::newRow("Qt option after -Embedding")
        << QStringList{u"-Embedding"_s, u"-platform"_s, u"xcb"_s} << A::Run << QStringList{u"-Embedding"_s}
        << QStringList{u"-platform"_s, u"xcb"_s};
    QTest::newRow("a Qt option name after the URL is an argument")
        << QStringList{url, u"-style"_s, u"x"_s} << A::Run << QStringList{url, u"-style"_s, u"x"_s}
        << QStringList();
    QTest::newRow("a Qt option name after -- is an argument")
        << QStringList{u"--"_s, u"-reverse"_s} << A::Run << QStringList{u"-reverse"_s} << QStringList();
    QTest::newRow("a Qt flag with a value is unknown")
        << QStringList{u"-reverse=1"_s} << A::UsageError << QStringList() << QStringList();
}

void TestShellCommandLine::classify()
{
    QFETCH(QStringList, args);
    const ShellCommandLine commandLine = ShellCommandLine::classify(args);
    QTEST(commandLine.options.action, "action");
    QTEST(commandLine.options.arguments, "arguments");
    QTEST(commandLine.qtOptions, "qtOptions");
    QCOMPARE(commandLine.options.flags, QStringList());
    QCOMPARE(commandLine.options.error.isEmpty(),
             commandLine.options.action != ProgramOptions::Action::UsageError);
}

void TestShellCommandLine::usageNamesTheForms()
{
    const QString usage = ShellCommandLine::usage();
    for (const QString& word : {u"--help"_s, u"--version"_s, u"-Embedding"_s, u"URL"_s, u"--"_s})
        QVERIFY2(usage.contains(word), qPrintable(word));
    QVERIFY(usage.endsWith(u'\n'));
}

QTEST_GUILESS_MAIN(TestShellCommandLine)
#include "tst_shellcommandline.moc"
