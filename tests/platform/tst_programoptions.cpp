// The command-line conventions shared by every program: help, version, "--", unknown options.
#include "platform/ProgramOptions.h"

#include <QRegularExpression>
#include <QTest>

using namespace Qt::StringLiterals;
using linvera::platform::AnswerProgramOptions;
using linvera::platform::ProgramOptions;

Q_DECLARE_METATYPE(ProgramOptions::Action)

class TestProgramOptions : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void parse_data();
    void parse();
    void answer_data();
    void answer();
};

namespace {

ProgramOptions::Grammar grammarOf(bool beforeArguments)
{
    ProgramOptions::Grammar grammar;
    grammar.flags = {u"--json"_s};
    grammar.keptOptions = {u"-Embedding"_s};
    grammar.placement =
        beforeArguments ? ProgramOptions::Placement::BeforeArguments : ProgramOptions::Placement::Anywhere;
    return grammar;
}

} // namespace

void TestProgramOptions::parse_data()
{
    QTest::addColumn<bool>("beforeArguments");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<ProgramOptions::Action>("action");
    QTest::addColumn<QStringList>("flags");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("error");
    using A = ProgramOptions::Action;
    const QString url = u"http://s.example/a"_s;

    QTest::newRow("nothing") << false << QStringList() << A::Run << QStringList() << QStringList()
                             << QString();
    QTest::newRow("one URL") << false << QStringList{url} << A::Run << QStringList() << QStringList{url}
                             << QString();
    QTest::newRow("--help") << false << QStringList{u"--help"_s} << A::Help << QStringList() << QStringList()
                            << QString();
    QTest::newRow("-h after a URL") << false << QStringList{url, u"-h"_s} << A::Help << QStringList()
                                    << QStringList{url} << QString();
    QTest::newRow("--version") << false << QStringList{u"--version"_s} << A::Version << QStringList()
                               << QStringList() << QString();
    QTest::newRow("help wins over version") << false << QStringList{u"--version"_s, u"--help"_s} << A::Help
                                            << QStringList() << QStringList() << QString();
    QTest::newRow("own flag, given twice") << false << QStringList{u"--json"_s, url, u"--json"_s} << A::Run
                                           << QStringList{u"--json"_s} << QStringList{url} << QString();
    QTest::newRow("unknown long option") << false << QStringList{u"--jsn"_s, url} << A::UsageError
                                         << QStringList() << QStringList() << u"unknown option '--jsn'"_s;
    QTest::newRow("unknown short option") << false << QStringList{url, u"-x"_s} << A::UsageError
                                          << QStringList() << QStringList{url} << u"unknown option '-x'"_s;
    QTest::newRow("option with a value is not a flag")
        << false << QStringList{u"--json=yes"_s} << A::UsageError << QStringList() << QStringList()
        << u"unknown option '--json=yes'"_s;
    QTest::newRow("-- makes options arguments")
        << false << QStringList{u"--"_s, u"--help"_s, u"-x"_s, u"--"_s} << A::Run << QStringList()
        << QStringList{u"--help"_s, u"-x"_s, u"--"_s} << QString();
    QTest::newRow("flag before --, URL-like option after")
        << false << QStringList{u"--json"_s, u"--"_s, u"-http://x"_s} << A::Run << QStringList{u"--json"_s}
        << QStringList{u"-http://x"_s} << QString();
    QTest::newRow("a lone dash is an argument")
        << false << QStringList{u"-"_s} << A::Run << QStringList() << QStringList{u"-"_s} << QString();
    QTest::newRow("empty argument") << false << QStringList{QString()} << A::Run << QStringList()
                                    << QStringList{QString()} << QString();
    QTest::newRow("kept option stays in place") << false << QStringList{u"-Embedding"_s} << A::Run
                                                << QStringList() << QStringList{u"-Embedding"_s} << QString();
    QTest::newRow("kept option is case-sensitive")
        << false << QStringList{u"-embedding"_s} << A::UsageError << QStringList() << QStringList()
        << u"unknown option '-embedding'"_s;
    QTest::newRow("before arguments: options after a URL are arguments")
        << true << QStringList{url, u"--help"_s, u"-title"_s} << A::Run << QStringList()
        << QStringList{url, u"--help"_s, u"-title"_s} << QString();
    QTest::newRow("before arguments: after the kept option too")
        << true << QStringList{u"-Embedding"_s, u"--version"_s} << A::Run << QStringList()
        << QStringList{u"-Embedding"_s, u"--version"_s} << QString();
    QTest::newRow("before arguments: options first still count")
        << true << QStringList{u"--json"_s, u"--bad"_s, url} << A::UsageError << QStringList{u"--json"_s}
        << QStringList() << u"unknown option '--bad'"_s;
}

void TestProgramOptions::parse()
{
    QFETCH(bool, beforeArguments);
    QFETCH(QStringList, args);
    const ProgramOptions options = ProgramOptions::parse(args, grammarOf(beforeArguments));
    QTEST(options.action, "action");
    QTEST(options.flags, "flags");
    QTEST(options.arguments, "arguments");
    QTEST(options.error, "error");
}

void TestProgramOptions::answer_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("answered");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");
    const QString usage = u"使い方: prog URL\n"_s;
    QTest::newRow("run") << QStringList{u"x"_s} << false << -1 << QString() << QString();
    QTest::newRow("help on standard output") << QStringList{u"--help"_s} << true << 0 << usage << QString();
    QTest::newRow("version on standard output")
        << QStringList{u"--version"_s} << true << 0
        << (u"prog "_s + linvera::platform::ProgramVersion() + u'\n') << QString();
    QTest::newRow("usage error on standard error") << QStringList{u"--nope"_s} << true << 2 << QString()
                                                   << (u"prog: unknown option '--nope'\n"_s + usage);
}

void TestProgramOptions::answer()
{
    QFETCH(QStringList, args);
    QString out;
    QString err;
    QTextStream outStream(&out);
    QTextStream errStream(&err);
    const auto status = AnswerProgramOptions(ProgramOptions::parse(args), u"prog"_s, u"使い方: prog URL\n"_s,
                                             outStream, errStream);
    QTEST(status.has_value(), "answered");
    QTEST(status.value_or(-1), "status");
    QTEST(out, "out");
    QTEST(err, "err");
    // The version is the project's: three numbers.
    QVERIFY(
        QRegularExpression(u"^\\d+\\.\\d+\\.\\d+$"_s).match(linvera::platform::ProgramVersion()).hasMatch());
}

QTEST_GUILESS_MAIN(TestProgramOptions)
#include "tst_programoptions.moc"
