// Every built program answers --help, --version and a wrong option by the same conventions, without
// a display or a session bus, and without touching the user's files.
#include "TestEnvironment.h"
#include "platform/ProgramOptions.h"

#include <QDir>
#include <QDirIterator>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

/// Everything under a folder, so that a run that wrote anything (a log, a data folder) shows.
QStringList contentsOf(const QString& folder)
{
    QStringList names;
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        names.append(it.next());
    names.sort();
    return names;
}

} // namespace

class TestProgramCommandLines : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void conventions_data();
    void conventions();

private:
    Run run(const QString& program, const QStringList& args, const QString& home);
};

Run TestProgramCommandLines::run(const QString& program, const QStringList& args, const QString& home)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // No display and no bus: an answer to the command line must need neither.
    env.remove(u"DISPLAY"_s);
    env.remove(u"WAYLAND_DISPLAY"_s);
    env.insert(u"QT_QPA_PLATFORM"_s, u"xcb"_s);
    env.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, u"unix:path="_s + home + u"/no-bus"_s);
    env.insert(u"HOME"_s, home);
    env.insert(u"XDG_CONFIG_HOME"_s, home + u"/.config"_s);
    env.insert(u"XDG_DOCUMENTS_DIR"_s, home + u"/Documents"_s);
    env.insert(u"TMPDIR"_s, home);
    env.insert(u"LC_ALL"_s, u"C.UTF-8"_s);
    process.setProcessEnvironment(env);
    process.start(linvera::test::programDir() + u'/' + program, args);
    Run result;
    if (!process.waitForStarted(10000))
        return result;
    process.closeWriteChannel();
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished(5000);
        return result;
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

void TestProgramCommandLines::conventions_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("expectOut"); // "usage", "version" or "" (nothing)
    QTest::addColumn<QString>("expectErr");
    const QStringList programs{u"H-Linvera"_s, u"H-LinveraHelper"_s, u"linvera"_s, u"linvera-reg"_s,
                               u"linvera-native-host"_s};
    for (const QString& program : programs) {
        const QByteArray name = program.toUtf8();
        QTest::newRow(QByteArray(name + " --help").constData())
            << program << QStringList{u"--help"_s} << 0 << u"usage"_s << QString();
        QTest::newRow(QByteArray(name + " -h").constData())
            << program << QStringList{u"-h"_s} << 0 << u"usage"_s << QString();
        QTest::newRow(QByteArray(name + " --version").constData())
            << program << QStringList{u"--version"_s} << 0 << u"version"_s << QString();
        QTest::newRow(QByteArray(name + " unknown option").constData())
            << program << QStringList{u"--no-such-option"_s, u"http://s.example/a"_s} << 2 << QString()
            << u"usage"_s;
        QTest::newRow(QByteArray(name + " unknown short option").constData())
            << program << QStringList{u"-Z"_s} << 2 << QString() << u"usage"_s;
    }
    QTest::newRow("linvera with no URL") << u"linvera"_s << QStringList() << 2 << QString() << u"usage"_s;
    QTest::newRow("linvera --json with no URL")
        << u"linvera"_s << QStringList{u"--json"_s, u"--"_s} << 2 << QString() << u"usage"_s;
    QTest::newRow("H-Linvera help before an option-like value")
        << u"H-Linvera"_s << QStringList{u"--help"_s, u"--bogus"_s} << 2 << QString() << u"usage"_s;
    QTest::newRow("H-LinveraHelper stray argument")
        << u"H-LinveraHelper"_s << QStringList{u"--"_s, u"x"_s} << 2 << QString() << u"usage"_s;
}

void TestProgramCommandLines::conventions()
{
    QFETCH(QString, program);
    QFETCH(QStringList, args);
    QFETCH(QString, expectOut);
    QFETCH(QString, expectErr);
    QTemporaryDir home;
    QVERIFY(home.isValid());
    const QStringList before = contentsOf(home.path());
    const Run r = run(program, args, home.path());
    QTEST(r.exitCode, "exitCode");

    const auto check = [&program](const QString& text, const QString& expect) {
        if (expect == u"usage"_s)
            return text.contains(u"Usage:"_s) && text.endsWith(u'\n');
        if (expect == u"version"_s)
            return text == program + u' ' + linvera::platform::ProgramVersion() + u'\n';
        return text.isEmpty();
    };
    QVERIFY2(check(r.out, expectOut), qPrintable(r.out));
    QVERIFY2(check(r.err, expectErr), qPrintable(r.err));
    if (r.exitCode == 2)
        QVERIFY2(r.err.startsWith(program + u": "_s) || r.err.startsWith(u"linvera: "_s), qPrintable(r.err));
    // Nothing converted, nothing logged, no data folder, no store.
    QCOMPARE(contentsOf(home.path()), before);
}

QTEST_GUILESS_MAIN(TestProgramCommandLines)
#include "tst_programcommandlines.moc"
