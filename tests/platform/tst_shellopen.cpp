#include "AwaitAnswer.h"
#include "RecordingMessageBoxes.h"
#include "TestFiles.h"
#include "platform/AppInfo.h"
#include "platform/MessageBoxes.h"
#include "platform/ProcessRunner.h"
#include "platform/ShellOpen.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <climits>
#include <memory>

using namespace Qt::StringLiterals;
using linvera::ProcessRunner;
using linvera::platform::MessageBoxes;

namespace {

/// Answers like the system runner would, without starting anything.
class ScriptedRunner final : public ProcessRunner
{
public:
    struct Call
    {
        QString program;
        QStringList arguments;
        QString folder;
    };

    void run(const QString& program, const QStringList& arguments, const QString& folder,
             std::chrono::milliseconds, Done done) override
    {
        calls.append({program, arguments, folder});
        const Result result = installed.contains(program)
                                  ? answers.value(program, Result{Result::Outcome::Finished, 0})
                                  : Result{};
        QTimer::singleShot(0, [done, result] { done(result); });
    }
    bool startDetached(const QString& program, const QStringList& arguments, const QString& folder) override
    {
        calls.append({program, arguments, folder});
        return installed.contains(program);
    }
    QString findExecutable(const QString& program) override
    {
        return installed.contains(program) ? u"/usr/bin/"_s + program : QString();
    }

    QStringList installed;
    QHash<QString, Result> answers;
    QList<Call> calls;
};

ProcessRunner::Result exited(int code)
{
    return {ProcessRunner::Result::Outcome::Finished, code};
}

// The code an open or a play answered with; -1000 when no answer came.
qint32 opened(linvera::ShellOpener& opener, const QString& file, const QString& folder)
{
    return linvera::test::awaitAnswer<qint32>([&](auto done) {
               opener.open(file, folder, done);
               return 0;
           })
        .value_or(-1000);
}

qint32 played(linvera::ShellOpener& opener, const QString& file, const QString& folder)
{
    return linvera::test::awaitAnswer<qint32>([&](auto done) {
               opener.play(file, folder, done);
               return 0;
           })
        .value_or(-1000);
}

// The code after a reported open; -1000 when the report did not end.
qint32 reported(qint32 code, const QString& file, const QString& folder, MessageBoxes& boxes,
                linvera::ShellOpener& opener)
{
    return linvera::test::awaitAnswer<qint32>([&](auto done) {
               linvera::ReportShellOpenError(code, file, folder, boxes, opener, done);
               return 0;
           })
        .value_or(-1000);
}

} // namespace

class TestShellOpen : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void systemRunnerEndsOnEveryOutcome_data();
    void systemRunnerEndsOnEveryOutcome();
    void reportMessages_data();
    void reportMessages();
    void reportRetriesWithPlay_data();
    void reportRetriesWithPlay();

    void openMapsXdgOpenResults_data();
    void openMapsXdgOpenResults();
    void openPassesTheFileAsOneArgument_data();
    void openPassesTheFileAsOneArgument();
    void openChecksTheFileFirst_data();
    void openChecksTheFileFirst();
    void openWithoutXdgOpen();
    void openStillRunningCountsAsOpened();
    void playMapsGioResults_data();
    void playMapsGioResults();
    void shellOpenFileChain_data();
    void shellOpenFileChain();

    void normalizeFolderPath_data();
    void normalizeFolderPath();

private:
    /// Writes a fake program into the fake bin folder that records its arguments and working
    /// folder, then exits with the code in the environment variable `exitVariable`.
    void installFake(const QString& name, const QString& exitVariable);
    QStringList recordedArguments(const QString& name) const;
    QString recordedFolder(const QString& name) const;
    QString makeFile(const QString& name) const;

    std::unique_ptr<QTemporaryDir> m_bin;
    std::unique_ptr<QTemporaryDir> m_files;
    QByteArray m_savedPath;
};

void TestShellOpen::init()
{
    m_bin = std::make_unique<QTemporaryDir>();
    m_files = std::make_unique<QTemporaryDir>();
    QVERIFY(m_bin->isValid() && m_files->isValid());
    // Only the fakes can be found: nothing real is ever opened.
    m_savedPath = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(m_bin->path()));
    qunsetenv("FAKE_XDG_OPEN_EXIT");
    qunsetenv("FAKE_GIO_EXIT");
    qunsetenv("FAKE_SLEEP");
}

void TestShellOpen::cleanup()
{
    qputenv("PATH", m_savedPath);
    m_bin.reset();
    m_files.reset();
}

void TestShellOpen::installFake(const QString& name, const QString& exitVariable)
{
    const QString path = m_bin->filePath(name);
    QFile script(path);
    QVERIFY(script.open(QIODevice::WriteOnly));
    // Only shell built-ins: PATH holds nothing but this folder.
    const QString text =
        u"#!/bin/sh\n"
        "printf '%s\\0' \"$@\" > \"${0%/*}/"_s +
        name + u".argv\"\npwd > \"${0%/*}/"_s + name +
        u".cwd\"\nif [ -n \"$FAKE_SLEEP\" ]; then /bin/sleep \"$FAKE_SLEEP\"; fi\nexit ${"_s + exitVariable +
        u":-0}\n"_s;
    script.write(text.toUtf8());
    script.close();
    QVERIFY(script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
}

QStringList TestShellOpen::recordedArguments(const QString& name) const
{
    QFile file(m_bin->filePath(name + u".argv"_s));
    if (!file.open(QIODevice::ReadOnly))
        return {u"<not started>"_s};
    QByteArray bytes = file.readAll();
    QStringList arguments;
    if (bytes.isEmpty())
        return arguments;
    bytes.chop(1); // the last NUL
    for (const QByteArray& argument : bytes.split('\0'))
        arguments.append(QString::fromUtf8(argument));
    return arguments;
}

QString TestShellOpen::recordedFolder(const QString& name) const
{
    QFile file(m_bin->filePath(name + u".cwd"_s));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).trimmed();
}

QString TestShellOpen::makeFile(const QString& name) const
{
    const QString path = m_files->filePath(name);
    linvera::test::writeFile(path, "picture");
    return path;
}

void TestShellOpen::systemRunnerEndsOnEveryOutcome_data()
{
    QTest::addColumn<QString>("script"); // the fake's body; empty: no such program
    QTest::addColumn<bool>("executable");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<int>("exitCode");

    using Outcome = ProcessRunner::Result::Outcome;
    QTest::newRow("exits 0") << u"exit 0"_s << true << int(Outcome::Finished) << 0;
    QTest::newRow("exits 3") << u"exit 3"_s << true << int(Outcome::Finished) << 3;
    QTest::newRow("no such program") << QString() << true << int(Outcome::FailedToStart) << -1;
    QTest::newRow("not executable") << u"exit 0"_s << false << int(Outcome::FailedToStart) << -1;
    QTest::newRow("killed by a signal") << u"kill -9 $$"_s << true << int(Outcome::Crashed) << -1;
    QTest::newRow("outlives the limit") << u"/bin/sleep 3"_s << true << int(Outcome::StillRunning) << -1;
}

// The real runner answers once for each way a program can end, from the event loop and within its
// limit, while the events keep running.
void TestShellOpen::systemRunnerEndsOnEveryOutcome()
{
    QFETCH(QString, script);
    QFETCH(bool, executable);
    QFETCH(int, outcome);
    QFETCH(int, exitCode);

    const QString program = m_bin->filePath(u"fake-program"_s);
    if (!script.isEmpty()) {
        QFile file(program);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray("#!/bin/sh\n") + script.toUtf8() + '\n');
        file.close();
        QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner;
        if (executable)
            permissions |= QFile::ExeOwner;
        QVERIFY(file.setPermissions(permissions));
    }

    QList<ProcessRunner::Result> answers;
    bool inRun = true;
    bool answeredInRun = false;
    int ticks = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, this, [&ticks] { ++ticks; });
    ticker.start(20);
    QElapsedTimer clock;
    clock.start();
    ProcessRunner::system().run(program, {}, m_files->path(), std::chrono::milliseconds(500),
                                [&](const ProcessRunner::Result& result) {
                                    answers.append(result);
                                    answeredInRun = answeredInRun || inRun;
                                });
    inRun = false;
    QVERIFY(QTest::qWaitFor([&] { return !answers.isEmpty(); }, 5000));
    QVERIFY2(clock.elapsed() < 2500, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!answeredInRun);
    QTest::qWait(100);
    QCOMPARE(answers.size(), 1);
    QCOMPARE(int(answers.constFirst().outcome), outcome);
    QCOMPARE(answers.constFirst().exitCode, exitCode);
    if (outcome == int(ProcessRunner::Result::Outcome::StillRunning))
        QVERIFY2(ticks >= 10, qPrintable(QString::number(ticks)));
}

void TestShellOpen::reportMessages_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");

    QTest::newRow("42 is success") << 42 << QString();
    QTest::newRow("33 is success") << 33 << QString();
    QTest::newRow("largest code is success") << INT_MAX << QString();
    QTest::newRow("32") << 32 << u"ファイルを開けません。"_s;
    QTest::newRow("0") << 0 << u"メモリまたはリソースが足りません。"_s;
    QTest::newRow("2") << 2 << u"ファイルが見つかりません。"_s;
    QTest::newRow("3") << 3 << u"パスが見つかりません。"_s;
    QTest::newRow("5") << 5 << u"アクセスは拒否されました。"_s;
    QTest::newRow("11") << 11 << u"不正な形式の実行ファイルです。"_s;
    QTest::newRow("27") << 27 << u"関連付けが不完全です。"_s;
    for (int code : {1, 4, 6, 10, 12, 26, 28, 30})
        QTest::addRow("%d", code) << code << u"ファイルを開けません。"_s;
    QTest::newRow("-1") << -1 << u"ファイルを開けません。"_s;
    QTest::newRow("smallest code") << INT_MIN << u"ファイルを開けません。"_s;
}

void TestShellOpen::reportMessages()
{
    QFETCH(int, code);
    QFETCH(QString, message);

    ScriptedRunner runner;
    runner.installed = {u"xdg-open"_s, u"gio"_s};
    linvera::ShellOpener opener(runner);
    RecordingMessageBoxes boxes;
    const qint32 result = reported(code, makeFile(u"a.png"_s), m_files->path(), boxes, opener);

    QCOMPARE(result, code);
    QVERIFY(runner.calls.isEmpty());
    if (message.isEmpty()) {
        QVERIFY(boxes.shown().isEmpty());
        return;
    }
    QCOMPARE(boxes.shown().size(), 1);
    QCOMPARE(boxes.shown().at(0).text, message);
    QCOMPARE(boxes.shown().at(0).title, linvera::AppTitle());
    QCOMPARE(boxes.shown().at(0).icon, MessageBoxes::Icon::Exclamation);
    QCOMPARE(boxes.shown().at(0).buttons, MessageBoxes::Buttons::Ok);
}

void TestShellOpen::reportRetriesWithPlay_data()
{
    QTest::addColumn<bool>("gioInstalled");
    QTest::addColumn<int>("gioExit");
    QTest::addColumn<bool>("fileExists");
    QTest::addColumn<int>("codeAfter");
    QTest::addColumn<QString>("message");

    QTest::newRow("play works") << true << 0 << true << 42 << QString();
    QTest::newRow("play fails too") << true << 1 << true << 31 << u"関連付けが指定されていません。"_s;
    QTest::newRow("no gio") << false << 0 << true << 31 << u"関連付けが指定されていません。"_s;
    QTest::newRow("file gone before the retry") << true << 0 << false << 2 << QString();
}

void TestShellOpen::reportRetriesWithPlay()
{
    QFETCH(bool, gioInstalled);
    QFETCH(int, gioExit);
    QFETCH(bool, fileExists);
    QFETCH(int, codeAfter);
    QFETCH(QString, message);

    ScriptedRunner runner;
    runner.installed = {u"xdg-open"_s};
    if (gioInstalled)
        runner.installed.append(u"gio"_s);
    runner.answers.insert(u"gio"_s, exited(gioExit));
    linvera::ShellOpener opener(runner);
    RecordingMessageBoxes boxes;
    const QString file = fileExists ? makeFile(u"song.xyz"_s) : m_files->filePath(u"gone.xyz"_s);

    const qint32 code = reported(31, file, m_files->path(), boxes, opener);
    QCOMPARE(code, codeAfter);
    if (gioInstalled && fileExists) {
        QCOMPARE(runner.calls.size(), 1);
        QCOMPARE(runner.calls.at(0).program, u"gio"_s);
        QCOMPARE(runner.calls.at(0).arguments, (QStringList{u"open"_s, file}));
        QCOMPARE(runner.calls.at(0).folder, m_files->path());
    } else {
        QVERIFY(runner.calls.isEmpty());
    }
    QCOMPARE(boxes.shown().size(), message.isEmpty() ? 0 : 1);
    if (!message.isEmpty()) {
        QCOMPARE(boxes.shown().at(0).text, message);
        QCOMPARE(boxes.shown().at(0).icon, MessageBoxes::Icon::Exclamation);
        QCOMPARE(boxes.shown().at(0).title, linvera::AppTitle());
    }
}

void TestShellOpen::openMapsXdgOpenResults_data()
{
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<int>("code");

    QTest::newRow("opened") << 0 << 42;
    QTest::newRow("syntax error") << 1 << 32;
    QTest::newRow("file not found") << 2 << 2;
    QTest::newRow("no program for the file") << 3 << 31;
    QTest::newRow("action failed") << 4 << 32;
    QTest::newRow("unknown status") << 77 << 32;
}

void TestShellOpen::openMapsXdgOpenResults()
{
    QFETCH(int, exitCode);
    QFETCH(int, code);

    installFake(u"xdg-open"_s, u"FAKE_XDG_OPEN_EXIT"_s);
    qputenv("FAKE_XDG_OPEN_EXIT", QByteArray::number(exitCode));
    const QString file = makeFile(u"preview.png"_s);
    linvera::ShellOpener opener;
    QCOMPARE(opened(opener, file, m_files->path()), code);
    QCOMPARE(recordedArguments(u"xdg-open"_s), QStringList{file});
    QCOMPARE(recordedFolder(u"xdg-open"_s), QDir(m_files->path()).canonicalPath());
}

void TestShellOpen::openPassesTheFileAsOneArgument_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("relative");

    QTest::newRow("spaces") << u"my picture 1.png"_s << false;
    QTest::newRow("shell characters") << u"a;b&c|d$(touch pwned)`id`'q\"*.png"_s << false;
    QTest::newRow("Japanese name") << u"画像ﾌﾟﾚﾋﾞｭｰ.png"_s << false;
    QTest::newRow("relative name against the folder") << u"log.txt"_s << true;
    QTest::newRow("relative name starting with a dash") << u"-rf.png"_s << true;
    QTest::newRow("relative name with spaces") << u"  two  spaces .txt"_s << true;
}

void TestShellOpen::openPassesTheFileAsOneArgument()
{
    QFETCH(QString, name);
    QFETCH(bool, relative);

    installFake(u"xdg-open"_s, u"FAKE_XDG_OPEN_EXIT"_s);
    const QString absolute = makeFile(name);
    QVERIFY(QFile::exists(absolute));
    linvera::ShellOpener opener;
    QCOMPARE(opened(opener, relative ? name : absolute, m_files->path()), 42);
    QCOMPARE(recordedArguments(u"xdg-open"_s), QStringList{absolute});
    QVERIFY(!QFile::exists(m_bin->filePath(u"pwned"_s)));
    QVERIFY(!QFile::exists(m_files->filePath(u"pwned"_s)));
}

void TestShellOpen::openChecksTheFileFirst_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("code");

    QTest::newRow("missing file") << u"missing.png"_s << 2;
    QTest::newRow("missing folder") << u"no/such/folder/missing.png"_s << 3;
}

void TestShellOpen::openChecksTheFileFirst()
{
    QFETCH(QString, file);
    QFETCH(int, code);

    installFake(u"xdg-open"_s, u"FAKE_XDG_OPEN_EXIT"_s);
    installFake(u"gio"_s, u"FAKE_GIO_EXIT"_s);
    linvera::ShellOpener opener;
    QCOMPARE(opened(opener, m_files->filePath(file), m_files->path()), code);
    QCOMPARE(played(opener, m_files->filePath(file), m_files->path()), code);
    QCOMPARE(recordedArguments(u"xdg-open"_s), QStringList{u"<not started>"_s});
    QCOMPARE(recordedArguments(u"gio"_s), QStringList{u"<not started>"_s});
}

void TestShellOpen::openWithoutXdgOpen()
{
    linvera::ShellOpener opener;
    QCOMPARE(opened(opener, makeFile(u"a.png"_s), m_files->path()), 31);
}

void TestShellOpen::openStillRunningCountsAsOpened()
{
    installFake(u"xdg-open"_s, u"FAKE_XDG_OPEN_EXIT"_s);
    qputenv("FAKE_XDG_OPEN_EXIT", "4");
    qputenv("FAKE_SLEEP", "2");
    linvera::ShellOpener opener;
    opener.setWaitLimit(std::chrono::milliseconds(200));
    QCOMPARE(opened(opener, makeFile(u"a.png"_s), m_files->path()), 42);
}

void TestShellOpen::playMapsGioResults_data()
{
    QTest::addColumn<bool>("installed");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<int>("code");

    QTest::newRow("played") << true << 0 << 42;
    QTest::newRow("gio fails") << true << 1 << 31;
    QTest::newRow("gio fails otherwise") << true << 2 << 31;
    QTest::newRow("no gio") << false << 0 << 31;
}

void TestShellOpen::playMapsGioResults()
{
    QFETCH(bool, installed);
    QFETCH(int, exitCode);
    QFETCH(int, code);

    if (installed)
        installFake(u"gio"_s, u"FAKE_GIO_EXIT"_s);
    qputenv("FAKE_GIO_EXIT", QByteArray::number(exitCode));
    const QString file = makeFile(u"song.mid"_s);
    linvera::ShellOpener opener;
    QCOMPARE(played(opener, file, m_files->path()), code);
    if (installed)
        QCOMPARE(recordedArguments(u"gio"_s), (QStringList{u"open"_s, file}));
}

void TestShellOpen::shellOpenFileChain_data()
{
    QTest::addColumn<bool>("xdgInstalled");
    QTest::addColumn<int>("xdgExit");
    QTest::addColumn<bool>("gioInstalled");
    QTest::addColumn<int>("gioExit");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("gioStarted");

    QTest::newRow("opened") << true << 0 << true << 0 << QString() << false;
    QTest::newRow("no program, played") << true << 3 << true << 0 << QString() << true;
    QTest::newRow("no program, play fails")
        << true << 3 << true << 1 << u"関連付けが指定されていません。"_s << true;
    QTest::newRow("no program, no gio")
        << true << 3 << false << 0 << u"関連付けが指定されていません。"_s << false;
    QTest::newRow("no xdg-open, played") << false << 0 << true << 0 << QString() << true;
    QTest::newRow("no xdg-open, no gio")
        << false << 0 << false << 0 << u"関連付けが指定されていません。"_s << false;
    QTest::newRow("other failure") << true << 4 << true << 0 << u"ファイルを開けません。"_s << false;
    QTest::newRow("file not found") << true << 2 << true << 0 << u"ファイルが見つかりません。"_s << false;
}

void TestShellOpen::shellOpenFileChain()
{
    QFETCH(bool, xdgInstalled);
    QFETCH(int, xdgExit);
    QFETCH(bool, gioInstalled);
    QFETCH(int, gioExit);
    QFETCH(QString, message);
    QFETCH(bool, gioStarted);

    if (xdgInstalled)
        installFake(u"xdg-open"_s, u"FAKE_XDG_OPEN_EXIT"_s);
    if (gioInstalled)
        installFake(u"gio"_s, u"FAKE_GIO_EXIT"_s);
    qputenv("FAKE_XDG_OPEN_EXIT", QByteArray::number(xdgExit));
    qputenv("FAKE_GIO_EXIT", QByteArray::number(gioExit));
    const QString file = makeFile(u"log.txt"_s);

    RecordingMessageBoxes boxes;
    linvera::ShellOpener opener;
    QVERIFY(linvera::test::awaitAnswer<qint32>([&](auto done) {
        linvera::ShellOpenFile(file, m_files->path(), boxes, opener, done);
        return 0;
    }));

    QCOMPARE(boxes.shown().size(), message.isEmpty() ? 0 : 1);
    if (!message.isEmpty())
        QCOMPARE(boxes.shown().at(0).text, message);
    QCOMPARE(recordedArguments(u"gio"_s),
             gioStarted ? (QStringList{u"open"_s, file}) : QStringList{u"<not started>"_s});
}

void TestShellOpen::normalizeFolderPath_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");

    QTest::newRow("no trailing slash")
        << u"/home/user/Documents/halvex-linvera"_s << u"/home/user/Documents/halvex-linvera/"_s;
    QTest::newRow("one trailing slash") << u"/a/b/"_s << u"/a/b/"_s;
    QTest::newRow("two trailing slashes") << u"/a/b//"_s << u"/a/b/"_s;
    QTest::newRow("root") << u"/"_s << u"/"_s;
    QTest::newRow("double root") << u"//"_s << u"/"_s;
    QTest::newRow("empty") << QString() << u"/"_s;
    QTest::newRow("relative") << u"a"_s << u"a/"_s;
    QTest::newRow("backslash is a name character") << u"/a\\b"_s << u"/a\\b/"_s;
    QTest::newRow("inner slashes stay") << u"/a//b"_s << u"/a//b/"_s;
}

void TestShellOpen::normalizeFolderPath()
{
    QFETCH(QString, path);
    QFETCH(QString, expected);

    QString text = path;
    QString& returned = linvera::NormalizeFolderPath(text);
    QCOMPARE(&returned, &text);
    QCOMPARE(text, expected);
}

QTEST_GUILESS_MAIN(TestShellOpen)
#include "tst_shellopen.moc"
