#include "TempRegistry.h"
#include "TestEnvironment.h"
#include "TestFiles.h"
#include "platform/AnsiCodec.h"
#include "platform/ProgramOptions.h"
#include "platform/RegAccess.h"
#include "platform/RegistryStore.h"
#include "platform/regtool/RegTool.h"

#include <QFile>
#include <QProcess>
#include <QTest>

#include <memory>
#include <sys/stat.h>

using namespace Qt::StringLiterals;
using linvera::RegTool;
using linvera::platform::AnsiCodec;
using linvera::platform::RegistryStore;
using linvera::platform::RegRoot;
using linvera::test::DumpRegistry;
using CodePage = AnsiCodec::CodePage;

Q_DECLARE_METATYPE(CodePage)

namespace {

constexpr quint32 kAbsent = 0xFFFFFFFFu;
const QString kKey = u"Software\\HALVEX\\linvera"_s;
const QString kShown = u"HKEY_CURRENT_USER\\Software\\HALVEX\\linvera"_s;
const QString kDone = u"The operation completed successfully.\n"_s;
const QString kNotFound = u"ERROR: The system was unable to find the specified registry key or value.\n"_s;

QString syntax(const QString& detail)
{
    return u"ERROR: Invalid syntax. "_s + detail + u" Type \"linvera-reg /?\" for usage.\n"_s;
}

struct Outcome
{
    int exitCode = -1;
    QString out;
    QString err;
};

} // namespace

class TestRegTool : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void query_data();
    void query();
    void syntaxErrors_data();
    void syntaxErrors();
    void changes_data();
    void changes();
    void formatData_data();
    void formatData();
    void commandLine_data();
    void commandLine();
    void conventions_data();
    void conventions();
    void programReadsWhatToolWrote();
    void toolReadsWhatProgramWrote();
    void brokenStoreIsReported();

private:
    Outcome runInProcess(const QStringList& args, int answer = -1);
    Outcome runProgram(const QStringList& args);
    /// The program's own configuration folder: a store apart from the one the tool runs on in-process.
    QString programConfigHome() const { return m_registry->filePath(u"program/config"_s); }
    QString programStorePath() const { return programConfigHome() + u"/halvex-linvera/registry.sqlite3"_s; }

    std::unique_ptr<linvera::test::TempRegistry> m_registry;
    CodePage m_savedCodePage = CodePage::Utf8;
};

void TestRegTool::init()
{
    m_savedCodePage = AnsiCodec::current();
    AnsiCodec::select(CodePage::Utf8);
    m_registry = std::make_unique<linvera::test::TempRegistry>();
    QVERIFY(m_registry->isValid());
    const auto create = RegistryStore::CreateMode::CreateMissingKeys;
    RegistryStore& s = m_registry->store();
    QCOMPARE(s.setValue(RegRoot::CurrentUser, kKey, u"name"_s, RegistryStore::RegSz, "Linvera", create), 0);
    QCOMPARE(s.setValue(RegRoot::CurrentUser, kKey, u"count"_s, RegistryStore::RegDword,
                        QByteArray("\x05\x01\0\0", 4)),
             0);
    QCOMPARE(
        s.setValue(RegRoot::CurrentUser, kKey, QString(), RegistryStore::RegSz, u"既定"_s.toUtf8() + '\0'),
        0);
    QCOMPARE(s.setValue(RegRoot::CurrentUser, kKey, u"raw"_s, RegistryStore::RegBinary, "\x01\xab"), 0);
    QCOMPARE(s.createKey(RegRoot::CurrentUser, kKey + u"\\param"_s), 0);
    QCOMPARE(s.setValue(RegRoot::CurrentUser, kKey + u"\\Zeta"_s, u"z"_s, RegistryStore::RegSz, "z", create),
             0);
    QCOMPARE(s.setValue(RegRoot::LocalMachine, u"SOFTWARE\\HALVEX\\linvera\\param"_s, u"_Dummy"_s,
                        RegistryStore::RegSz, QByteArray(" \0", 2), create),
             0);
}

void TestRegTool::cleanup()
{
    m_registry.reset();
    AnsiCodec::select(m_savedCodePage);
}

Outcome TestRegTool::runInProcess(const QStringList& args, int answer)
{
    QString out;
    QString err;
    QTextStream outStream(&out);
    QTextStream errStream(&err);
    RegTool::Confirm confirm;
    if (answer >= 0)
        confirm = [answer](const QString&) { return answer == 1; };
    RegTool tool(m_registry->store(), outStream, errStream, confirm);
    Outcome outcome;
    outcome.exitCode = tool.run(args);
    outStream.flush();
    errStream.flush();
    outcome.out = out;
    outcome.err = err;
    return outcome;
}

Outcome TestRegTool::runProgram(const QStringList& args)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"XDG_CONFIG_HOME"_s, programConfigHome());
    env.insert(u"LC_ALL"_s, u"C.UTF-8"_s);
    process.setProcessEnvironment(env);
    process.start(linvera::test::programDir() + u"/linvera-reg"_s, args);
    Outcome outcome;
    if (!process.waitForStarted(10000)) {
        outcome.err = process.errorString();
        return outcome;
    }
    process.closeWriteChannel(); // no terminal, nobody to answer
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished(5000);
        outcome.err = u"timed out"_s;
        return outcome;
    }
    outcome.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    outcome.out = QString::fromUtf8(process.readAllStandardOutput());
    outcome.err = QString::fromUtf8(process.readAllStandardError());
    return outcome;
}

void TestRegTool::query_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");
    const QString values = u"    name    REG_SZ    Linvera\n"
                           u"    count    REG_DWORD    0x105\n"
                           u"    (Default)    REG_SZ    既定\n"
                           u"    raw    REG_BINARY    01AB\n"_s;
    QTest::newRow("key with values and subkeys")
        << QStringList{u"query"_s, u"HKCU\\"_s + kKey} << 0
        << (u"\n"_s + kShown + u"\n"_s + values + u"\n"_s + kShown + u"\\param\n"_s + kShown + u"\\Zeta\n"_s)
        << QString();
    QTest::newRow("root in full, operation in capitals")
        << QStringList{u"QUERY"_s, u"HKEY_CURRENT_USER\\"_s + kKey + u"\\Zeta"_s} << 0
        << (u"\n"_s + kShown + u"\\Zeta\n    z    REG_SZ    z\n\n"_s) << QString();
    QTest::newRow("names in other case")
        << QStringList{u"query"_s, u"hkcu\\software\\halvex"_s} << 0
        << u"\nHKEY_CURRENT_USER\\software\\halvex\n\nHKEY_CURRENT_USER\\software\\halvex\\linvera\n"_s
        << QString();
    QTest::newRow("one value") << QStringList{u"query"_s, u"HKCU\\"_s + kKey, u"/v"_s, u"count"_s} << 0
                               << (u"\n"_s + kShown + u"\n    count    REG_DWORD    0x105\n\n"_s)
                               << QString();
    QTest::newRow("one value with dash switch")
        << QStringList{u"query"_s, u"HKCU\\"_s + kKey, u"-V"_s, u"name"_s} << 0
        << (u"\n"_s + kShown + u"\n    name    REG_SZ    Linvera\n\n"_s) << QString();
    QTest::newRow("default value") << QStringList{u"query"_s, u"HKCU\\"_s + kKey, u"/ve"_s} << 0
                                   << (u"\n"_s + kShown + u"\n    (Default)    REG_SZ    既定\n\n"_s)
                                   << QString();
    QTest::newRow("default value not set")
        << QStringList{u"query"_s, u"HKCU\\"_s + kKey + u"\\param"_s, u"/ve"_s} << 0
        << (u"\n"_s + kShown + u"\\param\n    (Default)    REG_SZ    (value not set)\n\n"_s) << QString();
    QTest::newRow("empty key") << QStringList{u"query"_s, u"HKCU\\"_s + kKey + u"\\param\\"_s} << 0
                               << (u"\n"_s + kShown + u"\\param\n\n"_s) << QString();
    QTest::newRow("HKLM is its own tree")
        << QStringList{u"query"_s, u"HKLM\\SOFTWARE\\HALVEX\\linvera\\param"_s} << 0
        << u"\nHKEY_LOCAL_MACHINE\\SOFTWARE\\HALVEX\\linvera\\param\n    _Dummy    REG_SZ     \n\n"_s
        << QString();
    QTest::newRow("HKCR has nothing")
        << QStringList{u"query"_s, u"HKCR"_s} << 0 << u"\nHKEY_CLASSES_ROOT\n\n"_s << QString();
    QTest::newRow("key missing in HKLM")
        << QStringList{u"query"_s, u"HKLM\\"_s + kKey + u"\\Zeta"_s} << 1 << QString() << kNotFound;
    QTest::newRow("missing key") << QStringList{u"query"_s, u"HKCU\\Software\\Nowhere"_s} << 1 << QString()
                                 << kNotFound;
    QTest::newRow("missing value") << QStringList{u"query"_s, u"HKCU\\"_s + kKey, u"/v"_s, u"nope"_s} << 1
                                   << QString() << kNotFound;
    QTest::newRow("default value of a missing key")
        << QStringList{u"query"_s, u"HKCU\\Software\\Nowhere"_s, u"/ve"_s} << 1 << QString() << kNotFound;
    QTest::newRow("help") << QStringList{u"/?"_s} << 0 << RegTool::usage() << QString();
}

void TestRegTool::query()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QString, err);
    const QStringList before = DumpRegistry(m_registry->store());
    const Outcome outcome = runInProcess(args);
    QCOMPARE(outcome.err, err);
    QCOMPARE(outcome.out, out);
    QCOMPARE(outcome.exitCode, exitCode);
    QCOMPARE(DumpRegistry(m_registry->store()), before);
}

void TestRegTool::syntaxErrors_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("err");
    const QString key = u"HKCU\\"_s + kKey;
    QTest::newRow("nothing") << QStringList() << syntax(u"No operation given."_s);
    QTest::newRow("unknown operation")
        << QStringList{u"copy"_s, key} << syntax(u"Unknown operation \"copy\"; use query, add or delete."_s);
    QTest::newRow("no key") << QStringList{u"query"_s} << syntax(u"No key given."_s);
    QTest::newRow("unknown root")
        << QStringList{u"query"_s, u"HKU\\x"_s}
        << syntax(u"Invalid key name \"HKU\\x\"; it must start with HKCR, HKCU or HKLM."_s);
    QTest::newRow("no root")
        << QStringList{u"query"_s, u"Software\\HALVEX"_s}
        << syntax(u"Invalid key name \"Software\\HALVEX\"; it must start with HKCR, HKCU or HKLM."_s);
    QTest::newRow("empty name inside the key")
        << QStringList{u"query"_s, u"HKCU\\a\\\\b"_s}
        << syntax(u"Invalid key name \"HKCU\\a\\\\b\"; it contains an empty key name."_s);
    QTest::newRow("unknown switch") << QStringList{u"query"_s, key, u"/x"_s}
                                    << syntax(u"Unknown switch \"/x\"."_s);
    QTest::newRow("stray argument") << QStringList{u"query"_s, key, u"count"_s}
                                    << syntax(u"Unexpected argument \"count\"."_s);
    QTest::newRow("/v without a name")
        << QStringList{u"query"_s, key, u"/v"_s} << syntax(u"The switch /v needs a value."_s);
    QTest::newRow("/v and /ve") << QStringList{u"delete"_s, key, u"/v"_s, u"a"_s, u"/ve"_s, u"/f"_s}
                                << syntax(u"Give either /v or /ve, not both."_s);
    QTest::newRow("/v twice") << QStringList{u"add"_s, key, u"/v"_s, u"a"_s, u"/v"_s, u"b"_s}
                              << syntax(u"The switch /v is given twice."_s);
    QTest::newRow("/d with query") << QStringList{u"query"_s, key, u"/d"_s, u"x"_s}
                                   << syntax(u"The switch /d does not go with query."_s);
    QTest::newRow("/f with query") << QStringList{u"query"_s, key, u"/f"_s}
                                   << syntax(u"The switch /f does not go with query."_s);
    QTest::newRow("/t with delete") << QStringList{u"delete"_s, key, u"/t"_s, u"REG_SZ"_s}
                                    << syntax(u"The switch /t does not go with delete."_s);
    QTest::newRow("unknown type")
        << QStringList{u"add"_s, key, u"/v"_s, u"q"_s, u"/t"_s, u"REG_QWORD"_s}
        << syntax(u"Unknown type \"REG_QWORD\"; use REG_SZ, REG_EXPAND_SZ, REG_DWORD or REG_BINARY."_s);
    const QString dwordHint = u"; give a number from 0 to 4294967295 or 0x0 to 0xFFFFFFFF."_s;
    QTest::newRow("REG_DWORD too large")
        << QStringList{u"add"_s,       key,     u"/v"_s,         u"count"_s, u"/t"_s,
                       u"REG_DWORD"_s, u"/d"_s, u"4294967296"_s, u"/f"_s}
        << syntax(u"Invalid REG_DWORD data \"4294967296\""_s + dwordHint);
    QTest::newRow("REG_DWORD negative")
        << QStringList{u"add"_s, key, u"/v"_s, u"count"_s, u"/t"_s, u"REG_DWORD"_s, u"/d"_s, u"-1"_s, u"/f"_s}
        << syntax(u"Invalid REG_DWORD data \"-1\""_s + dwordHint);
    QTest::newRow("REG_DWORD not a number")
        << QStringList{u"add"_s,       key,     u"/v"_s,  u"count"_s, u"/t"_s,
                       u"REG_DWORD"_s, u"/d"_s, u"ten"_s, u"/f"_s}
        << syntax(u"Invalid REG_DWORD data \"ten\""_s + dwordHint);
    QTest::newRow("REG_DWORD hex too long")
        << QStringList{u"add"_s, key, u"/v"_s, u"count"_s, u"/t"_s, u"REG_DWORD"_s, u"/d"_s, u"0x100000000"_s}
        << syntax(u"Invalid REG_DWORD data \"0x100000000\""_s + dwordHint);
    QTest::newRow("REG_BINARY odd digits")
        << QStringList{u"add"_s, key, u"/v"_s, u"raw"_s, u"/t"_s, u"REG_BINARY"_s, u"/d"_s, u"abc"_s, u"/f"_s}
        << syntax(u"Invalid REG_BINARY data \"abc\"; give pairs of hex digits."_s);
    QTest::newRow("REG_BINARY not hex")
        << QStringList{u"add"_s, key, u"/v"_s, u"raw"_s, u"/t"_s, u"REG_BINARY"_s, u"/d"_s, u"zz"_s, u"/f"_s}
        << syntax(u"Invalid REG_BINARY data \"zz\"; give pairs of hex digits."_s);
}

void TestRegTool::syntaxErrors()
{
    QFETCH(QStringList, args);
    QFETCH(QString, err);
    const QStringList before = DumpRegistry(m_registry->store());
    const Outcome outcome = runInProcess(args, 1);
    QCOMPARE(outcome.err, err);
    QCOMPARE(outcome.err.count(u'\n'), 1);
    QCOMPARE(outcome.out, QString());
    QCOMPARE(outcome.exitCode, int(RegTool::BadSyntax));
    QCOMPARE(DumpRegistry(m_registry->store()), before);
}

void TestRegTool::changes_data()
{
    QTest::addColumn<CodePage>("codePage");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("answer"); // -1: no terminal to ask on; 0: answers no; 1: answers yes
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("err");
    QTest::addColumn<QString>("key"); // checked afterwards under HKCU
    QTest::addColumn<bool>("keyExists");
    QTest::addColumn<QString>("name"); // "-": not checked; empty: the default value
    QTest::addColumn<quint32>("type"); // kAbsent: the value must not exist
    QTest::addColumn<QByteArray>("data");
    const auto utf8 = CodePage::Utf8;
    const auto sjis = CodePage::Windows31J;
    const QString key = u"HKCU\\"_s + kKey;
    const QString newKey = u"Software\\New\\Deep"_s;
    const quint32 sz = RegistryStore::RegSz;
    const quint32 dw = RegistryStore::RegDword;
    const QByteArray countBytes("\x05\x01\0\0", 4);

    QTest::newRow("add text to a new key path")
        << utf8 << QStringList{u"add"_s, u"HKCU\\"_s + newKey, u"/v"_s, u"s"_s, u"/d"_s, u"text"_s} << -1 << 0
        << QString() << newKey << true << u"s"_s << sz << QByteArray("text\0", 5);
    QTest::newRow("add text without /d is empty")
        << utf8 << QStringList{u"add"_s, u"HKCU\\"_s + newKey, u"/v"_s, u"s"_s} << -1 << 0 << QString()
        << newKey << true << u"s"_s << sz << QByteArray("\0", 1);
    QTest::newRow("add Japanese in UTF-8")
        << utf8 << QStringList{u"add"_s, u"HKCU\\"_s + newKey, u"/v"_s, u"名前"_s, u"/d"_s, u"日本語"_s} << -1
        << 0 << QString() << newKey << true << u"名前"_s << sz << (u"日本語"_s.toUtf8() + '\0');
    QTest::newRow("add Japanese in windows-31j")
        << sjis << QStringList{u"add"_s, u"HKCU\\"_s + newKey, u"/v"_s, u"名前"_s, u"/d"_s, u"日本語ｶﾅ"_s}
        << -1 << 0 << QString() << newKey << true << u"名前"_s << sz
        << QByteArray("\x93\xfa\x96\x7b\x8c\xea\xb6\xc5\0", 9);
    QTest::newRow("add REG_DWORD in decimal")
        << utf8 << QStringList{u"add"_s, u"HKCU\\"_s + newKey, u"/v"_s, u"n"_s,
                               u"/t"_s,  u"reg_dword"_s,       u"/d"_s, u"261"_s}
        << -1 << 0 << QString() << newKey << true << u"n"_s << dw << countBytes;
    QTest::newRow("add REG_DWORD in hex")
        << utf8 << QStringList{u"add"_s, u"HKCU\\"_s + newKey, u"/v"_s, u"n"_s,
                               u"/t"_s,  u"REG_DWORD"_s,       u"/d"_s, u"0xFFFFFFFF"_s}
        << -1 << 0 << QString() << newKey << true << u"n"_s << dw << QByteArray(4, '\xff');
    QTest::newRow("add REG_DWORD without /d is 0")
        << utf8 << QStringList{u"add"_s, u"HKCU\\"_s + newKey, u"/v"_s, u"n"_s, u"/t"_s, u"REG_DWORD"_s} << -1
        << 0 << QString() << newKey << true << u"n"_s << dw << QByteArray(4, '\0');
    QTest::newRow("add REG_EXPAND_SZ")
        << utf8 << QStringList{u"add"_s, u"HKCU\\"_s + newKey, u"/v"_s, u"e"_s,
                               u"/t"_s,  u"REG_EXPAND_SZ"_s,   u"/d"_s, u"%TEMP%"_s}
        << -1 << 0 << QString() << newKey << true << u"e"_s << quint32(RegistryStore::RegExpandSz)
        << QByteArray("%TEMP%\0", 7);
    QTest::newRow("add REG_BINARY") << utf8
                                    << QStringList{u"add"_s, u"HKCU\\"_s + newKey, u"/v"_s, u"b"_s,
                                                   u"/t"_s,  u"REG_BINARY"_s,      u"/d"_s, u"00ff10"_s}
                                    << -1 << 0 << QString() << newKey << true << u"b"_s
                                    << quint32(RegistryStore::RegBinary) << QByteArray("\x00\xff\x10", 3);
    QTest::newRow("add default value with /ve")
        << utf8 << QStringList{u"add"_s, u"HKCU\\"_s + newKey, u"/ve"_s, u"/d"_s, u"d"_s} << -1 << 0
        << QString() << newKey << true << QString() << sz << QByteArray("d\0", 2);
    QTest::newRow("add /d without a name sets the default value")
        << utf8 << QStringList{u"add"_s, u"HKCU\\"_s + newKey, u"/d"_s, u"d"_s} << -1 << 0 << QString()
        << newKey << true << QString() << sz << QByteArray("d\0", 2);
    QTest::newRow("add key only") << utf8 << QStringList{u"add"_s, u"HKCU\\"_s + newKey} << -1 << 0
                                  << QString() << newKey << true << u"-"_s << sz << QByteArray();
    QTest::newRow("add over a value without /f and no terminal is refused")
        << utf8 << QStringList{u"add"_s, key, u"/v"_s, u"COUNT"_s, u"/d"_s, u"x"_s} << -1 << 1
        << u"ERROR: The value COUNT already exists; add /f to overwrite it.\n"_s << kKey << true << u"count"_s
        << dw << countBytes;
    QTest::newRow("add over the default value without /f is refused")
        << utf8 << QStringList{u"add"_s, key, u"/ve"_s, u"/d"_s, u"x"_s} << -1 << 1
        << u"ERROR: The value (Default) already exists; add /f to overwrite it.\n"_s << kKey << true
        << QString() << sz << (u"既定"_s.toUtf8() + '\0');
    QTest::newRow("add over a value answered no")
        << utf8 << QStringList{u"add"_s, key, u"/v"_s, u"count"_s, u"/d"_s, u"x"_s} << 0 << 1
        << u"ERROR: The operation was cancelled by the user.\n"_s << kKey << true << u"count"_s << dw
        << countBytes;
    QTest::newRow("add over a value answered yes")
        << utf8 << QStringList{u"add"_s, key, u"/v"_s, u"count"_s, u"/d"_s, u"x"_s} << 1 << 0 << QString()
        << kKey << true << u"count"_s << sz << QByteArray("x\0", 2);
    QTest::newRow("add over a value with /f")
        << utf8
        << QStringList{u"add"_s, key, u"/v"_s, u"count"_s, u"/t"_s, u"REG_DWORD"_s, u"/d"_s, u"7"_s, u"/F"_s}
        << -1 << 0 << QString() << kKey << true << u"count"_s << dw << QByteArray("\x07\0\0\0", 4);
    QTest::newRow("delete value with /f")
        << utf8 << QStringList{u"delete"_s, key, u"/v"_s, u"Count"_s, u"/f"_s} << -1 << 0 << QString() << kKey
        << true << u"count"_s << kAbsent << QByteArray();
    QTest::newRow("delete default value with /f")
        << utf8 << QStringList{u"delete"_s, key, u"/ve"_s, u"/f"_s} << -1 << 0 << QString() << kKey << true
        << QString() << kAbsent << QByteArray();
    QTest::newRow("delete value without /f and no terminal is refused")
        << utf8 << QStringList{u"delete"_s, key, u"/v"_s, u"count"_s} << -1 << 1
        << u"ERROR: Deleting needs /f when there is no terminal to confirm on.\n"_s << kKey << true
        << u"count"_s << dw << countBytes;
    QTest::newRow("delete value answered yes")
        << utf8 << QStringList{u"delete"_s, key, u"/v"_s, u"count"_s} << 1 << 0 << QString() << kKey << true
        << u"count"_s << kAbsent << QByteArray();
    QTest::newRow("delete key answered no") << utf8 << QStringList{u"delete"_s, key} << 0 << 1
                                            << u"ERROR: The operation was cancelled by the user.\n"_s
                                            << kKey + u"\\Zeta"_s << true << u"z"_s << sz << QByteArray("z");
    QTest::newRow("delete key with its subkeys")
        << utf8 << QStringList{u"delete"_s, key, u"/f"_s} << -1 << 0 << QString() << kKey + u"\\Zeta"_s
        << false << u"-"_s << sz << QByteArray();
    QTest::newRow("delete missing value")
        << utf8 << QStringList{u"delete"_s, key, u"/v"_s, u"nope"_s, u"/f"_s} << -1 << 1 << kNotFound << kKey
        << true << u"count"_s << dw << countBytes;
    QTest::newRow("delete missing key")
        << utf8 << QStringList{u"delete"_s, u"HKCU\\Software\\Nowhere"_s, u"/f"_s} << -1 << 1 << kNotFound
        << kKey << true << u"count"_s << dw << countBytes;
    QTest::newRow("delete value of a missing key")
        << utf8 << QStringList{u"delete"_s, u"HKCU\\Software\\Nowhere"_s, u"/v"_s, u"count"_s, u"/f"_s} << -1
        << 1 << kNotFound << kKey << true << u"count"_s << dw << countBytes;
    QTest::newRow("delete a root key") << utf8 << QStringList{u"delete"_s, u"HKCU"_s, u"/f"_s} << 1 << 1
                                       << u"ERROR: The root key HKEY_CURRENT_USER cannot be deleted.\n"_s
                                       << kKey << true << u"count"_s << dw << countBytes;
    QTest::newRow("delete in HKLM leaves HKCU")
        << utf8 << QStringList{u"delete"_s, u"HKLM\\SOFTWARE\\HALVEX"_s, u"/f"_s} << -1 << 0 << QString()
        << kKey << true << u"count"_s << dw << countBytes;
}

void TestRegTool::changes()
{
    QFETCH(CodePage, codePage);
    QFETCH(QStringList, args);
    QFETCH(int, answer);
    QFETCH(int, exitCode);
    QFETCH(QString, err);
    QFETCH(QString, key);
    QFETCH(bool, keyExists);
    QFETCH(QString, name);
    QFETCH(quint32, type);
    QFETCH(QByteArray, data);
    AnsiCodec::select(codePage);
    const QStringList before = DumpRegistry(m_registry->store());
    const Outcome outcome = runInProcess(args, answer);
    QCOMPARE(outcome.err, err);
    QCOMPARE(outcome.exitCode, exitCode);
    QCOMPARE(outcome.out, exitCode == 0 ? kDone : QString());
    if (exitCode != 0)
        QCOMPARE(DumpRegistry(m_registry->store()), before);
    QCOMPARE(m_registry->store().keyExists(RegRoot::CurrentUser, key), keyExists);
    if (name != u"-") {
        quint32 storedType = 0;
        QByteArray stored;
        const qint32 status =
            m_registry->store().queryValue(RegRoot::CurrentUser, key, name, storedType, stored);
        if (type == kAbsent) {
            QCOMPARE(status, qint32(RegistryStore::FileNotFound));
        } else {
            QCOMPARE(status, qint32(RegistryStore::Success));
            QCOMPARE(storedType, type);
            QCOMPARE(stored, data);
        }
    }
    // What the tool writes, the tool shows back as written.
    if (exitCode == 0 && name != u"-" && type == RegistryStore::RegSz && args.first() == u"add") {
        QStringList queryArgs{u"query"_s, u"HKCU\\"_s + key};
        if (name.isEmpty())
            queryArgs << u"/ve"_s;
        else
            queryArgs << u"/v"_s << name;
        const Outcome shown = runInProcess(queryArgs);
        const qsizetype dIndex = args.indexOf(u"/d"_s);
        const QString text = dIndex < 0 ? QString() : args.at(dIndex + 1);
        QVERIFY2(shown.out.contains(u"    REG_SZ    "_s + text + u'\n'), qPrintable(shown.out));
    }
}

void TestRegTool::formatData_data()
{
    QTest::addColumn<quint32>("type");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("typeName");
    QTest::addColumn<QString>("text");
    QTest::newRow("REG_SZ stops at NUL") << quint32(1) << QByteArray("ab\0cd\0", 6) << u"REG_SZ"_s << u"ab"_s;
    QTest::newRow("REG_SZ without NUL") << quint32(1) << QByteArray("abc") << u"REG_SZ"_s << u"abc"_s;
    QTest::newRow("REG_DWORD 1") << quint32(4) << QByteArray("\x01\0\0\0", 4) << u"REG_DWORD"_s << u"0x1"_s;
    QTest::newRow("REG_DWORD -1") << quint32(4) << QByteArray(4, '\xff') << u"REG_DWORD"_s << u"0xffffffff"_s;
    QTest::newRow("REG_DWORD short") << quint32(4) << QByteArray("\x2a", 1) << u"REG_DWORD"_s << u"0x2a"_s;
    QTest::newRow("REG_DWORD_BIG_ENDIAN")
        << quint32(5) << QByteArray("\0\0\x01\x05", 4) << u"REG_DWORD_BIG_ENDIAN"_s << u"0x105"_s;
    QTest::newRow("REG_QWORD") << quint32(11) << QByteArray("\x01\0\0\0\x02\0\0\0", 8) << u"REG_QWORD"_s
                               << u"0x200000001"_s;
    QTest::newRow("REG_MULTI_SZ") << quint32(7) << QByteArray("one\0two\0\0", 9) << u"REG_MULTI_SZ"_s
                                  << u"one\\0two"_s;
    QTest::newRow("REG_BINARY") << quint32(3) << QByteArray("\x00\x7f\xab", 3) << u"REG_BINARY"_s
                                << u"007FAB"_s;
    QTest::newRow("REG_NONE empty") << quint32(0) << QByteArray() << u"REG_NONE"_s << QString();
    QTest::newRow("unknown type") << quint32(0x1234) << QByteArray("\x01", 1) << u"REG_TYPE_4660"_s
                                  << u"01"_s;
}

void TestRegTool::formatData()
{
    QFETCH(quint32, type);
    QFETCH(QByteArray, data);
    QFETCH(QString, typeName);
    QFETCH(QString, text);
    QCOMPARE(RegTool::typeName(type), typeName);
    QCOMPARE(RegTool::formatData(type, data), text);
}

void TestRegTool::commandLine_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");
    const QString key = u"HKCU\\Software\\HALVEX\\linvera"_s;
    QTest::newRow("query shows Japanese and REG_DWORD in hex")
        << QStringList{u"query"_s, key} << 0
        << (u"\n"_s + kShown +
            u"\n    名前    REG_SZ    日本語のテキスト\n    count    REG_DWORD    0x105\n\n"_s)
        << QString();
    QTest::newRow("query one Japanese value")
        << QStringList{u"query"_s, key, u"/v"_s, u"名前"_s} << 0
        << (u"\n"_s + kShown + u"\n    名前    REG_SZ    日本語のテキスト\n\n"_s) << QString();
    QTest::newRow("missing key") << QStringList{u"query"_s, u"HKCU\\Software\\Nowhere"_s} << 1 << QString()
                                 << kNotFound;
    QTest::newRow("invalid syntax") << QStringList{u"query"_s, key, u"/x"_s} << 2 << QString()
                                    << syntax(u"Unknown switch \"/x\"."_s);
    QTest::newRow("add over a value is refused without a terminal")
        << QStringList{u"add"_s, key, u"/v"_s, u"名前"_s, u"/d"_s, u"x"_s} << 1 << QString()
        << u"ERROR: The value 名前 already exists; add /f to overwrite it.\n"_s;
    QTest::newRow("delete is refused without a terminal")
        << QStringList{u"delete"_s, key} << 1 << QString()
        << u"ERROR: Deleting needs /f when there is no terminal to confirm on.\n"_s;
    QTest::newRow("delete a value with /f")
        << QStringList{u"delete"_s, key, u"/v"_s, u"count"_s, u"/f"_s} << 0 << kDone << QString();
    QTest::newRow("help") << QStringList{u"--help"_s} << 0 << RegTool::usage() << QString();
    QTest::newRow("version") << QStringList{u"--version"_s} << 0
                             << (u"linvera-reg "_s + linvera::platform::ProgramVersion() + u'\n')
                             << QString();
    QTest::newRow("unknown option") << QStringList{u"--force"_s, u"delete"_s, key} << 2 << QString()
                                    << (u"linvera-reg: unknown option '--force'\n"_s + RegTool::usage());
}

void TestRegTool::conventions_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");
    QTest::addColumn<QString>("stored"); // the data of HKCU\<key>\neg afterwards, empty when absent
    const QString key = u"HKCU\\"_s + kKey;
    const QString usage = RegTool::usage();
    QTest::newRow("/? answers with the usage")
        << QStringList{u"/?"_s} << 0 << usage << QString() << QString();
    QTest::newRow("-? too") << QStringList{u"-?"_s} << 0 << usage << QString() << QString();
    QTest::newRow("-h too") << QStringList{u"-h"_s} << 0 << usage << QString() << QString();
    QTest::newRow("unknown option before the operation")
        << QStringList{u"-f"_s, u"add"_s, key, u"/v"_s, u"neg"_s, u"/f"_s} << 2 << QString()
        << (u"linvera-reg: unknown option '-f'\n"_s + usage) << QString();
    QTest::newRow("-- before the operation")
        << QStringList{u"--"_s, u"add"_s, key, u"/v"_s, u"neg"_s, u"/d"_s, u"x"_s, u"/f"_s} << 0
        << u"The operation completed successfully.\n"_s << QString() << u"x"_s;
    QTest::newRow("data that looks like an option stays data")
        << QStringList{u"add"_s, key, u"/v"_s, u"neg"_s, u"/d"_s, u"-5"_s, u"/f"_s} << 0
        << u"The operation completed successfully.\n"_s << QString() << u"-5"_s;
    QTest::newRow("--help after the operation is reg's syntax, not help")
        << QStringList{u"query"_s, key, u"--help"_s} << 2 << QString()
        << syntax(u"Unknown switch \"--help\"."_s) << QString();
}

void TestRegTool::conventions()
{
    QFETCH(QStringList, args);
    const Outcome outcome = runInProcess(args, 1);
    QTEST(outcome.out, "out");
    QTEST(outcome.err, "err");
    QTEST(outcome.exitCode, "exitCode");
    QByteArray data;
    quint32 type = 0;
    m_registry->store().queryValue(RegRoot::CurrentUser, kKey, u"neg"_s, type, data);
    QTEST(QString::fromUtf8(data).remove(QChar()), "stored");
}

void TestRegTool::commandLine()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QString, err);
    const QString key = u"HKCU\\Software\\HALVEX\\linvera"_s;
    Outcome setup = runProgram({u"add"_s, key, u"/v"_s, u"名前"_s, u"/d"_s, u"日本語のテキスト"_s});
    QCOMPARE(setup.err, QString());
    QCOMPARE(setup.exitCode, 0);
    setup = runProgram({u"add"_s, key, u"/v"_s, u"count"_s, u"/t"_s, u"REG_DWORD"_s, u"/d"_s, u"0x105"_s});
    QCOMPARE(setup.exitCode, 0);

    const QByteArray before = linvera::test::fileDigest(programStorePath());
    const Outcome outcome = runProgram(args);
    QCOMPARE(outcome.err, err);
    QCOMPARE(outcome.out, out);
    QCOMPARE(outcome.exitCode, exitCode);
    if (exitCode != 0) {
        // A refused or failed command leaves the store as it was (the log was folded in on exit).
        QCOMPARE(linvera::test::fileDigest(programStorePath()), before);
    }
}

void TestRegTool::programReadsWhatToolWrote()
{
    const QString key = u"HKLM\\SOFTWARE\\HALVEX\\linvera\\param"_s;
    QCOMPARE(runProgram({u"add"_s, key, u"/v"_s, u"txtLogin"_s, u"/d"_s, u"ユーザー①"_s}).exitCode, 0);
    QCOMPARE(runProgram({u"add"_s, key, u"/v"_s, u"Left"_s, u"/t"_s, u"REG_DWORD"_s, u"/d"_s, u"0x105"_s})
                 .exitCode,
             0);
    QCOMPARE(runProgram({u"add"_s, key, u"/v"_s, u"Neg"_s, u"/t"_s, u"REG_DWORD"_s, u"/d"_s, u"4294967295"_s})
                 .exitCode,
             0);
    QCOMPARE(
        runProgram({u"add"_s, key, u"/v"_s, u"Path"_s, u"/t"_s, u"REG_EXPAND_SZ"_s, u"/d"_s, u"%HOME%"_s})
            .exitCode,
        0);

    QCOMPARE(linvera::test::fileMode(programConfigHome() + u"/halvex-linvera"_s), 0700);
    QCOMPARE(linvera::test::fileMode(programStorePath()), 0600);

    RegistryStore programStore(programStorePath());
    RegistryStore::SharedOverride scope(programStore);
    const auto root = RegRoot::LocalMachine;
    const QString path = u"SOFTWARE\\HALVEX\\linvera\\param"_s;
    QString text;
    QVERIFY(linvera::GetRegValue(root, path, u"txtLogin"_s, text));
    QCOMPARE(text, u"ユーザー①"_s);
    QVERIFY(linvera::GetRegValue(root, path, u"left"_s, text));
    QCOMPARE(text, u"261"_s);
    QVERIFY(linvera::GetRegValue(root, path, u"Neg"_s, text));
    QCOMPARE(text, u"-1"_s);
    text = u"unchanged"_s;
    QVERIFY(linvera::GetRegValue(root, path, u"Path"_s, text));
    QCOMPARE(text, u"unchanged"_s);
}

void TestRegTool::toolReadsWhatProgramWrote()
{
    {
        RegistryStore programStore(programStorePath());
        RegistryStore::SharedOverride scope(programStore);
        QVERIFY(linvera::SetRegString(RegRoot::ClassesRoot, u"http\\shell\\open\\command"_s, QString(),
                                      u"\"/usr/bin/ブラウザ\" %1"_s));
        QVERIFY(linvera::SetRegNumber(RegRoot::ClassesRoot, u"http\\shell\\open\\command"_s, u"n"_s, -2));
    }
    const Outcome outcome = runProgram({u"query"_s, u"HKEY_CLASSES_ROOT\\http\\shell\\open\\command"_s});
    QCOMPARE(outcome.err, QString());
    QCOMPARE(outcome.out, u"\nHKEY_CLASSES_ROOT\\http\\shell\\open\\command\n"
                          u"    (Default)    REG_SZ    \"/usr/bin/ブラウザ\" %1\n"
                          u"    n    REG_DWORD    0xfffffffe\n\n"_s);
    QCOMPARE(outcome.exitCode, 0);
}

void TestRegTool::brokenStoreIsReported()
{
    QVERIFY(linvera::test::writeFile(programStorePath(), "user's notes, not a database\n"));
    const QByteArray before = linvera::test::fileDigest(programStorePath());
    for (const QStringList& args :
         {QStringList{u"query"_s, u"HKCU\\Software"_s},
          QStringList{u"add"_s, u"HKCU\\Software\\X"_s, u"/v"_s, u"a"_s, u"/d"_s, u"b"_s},
          QStringList{u"delete"_s, u"HKCU\\Software\\X"_s, u"/f"_s}}) {
        const Outcome outcome = runProgram(args);
        QCOMPARE(outcome.exitCode, 1);
        QCOMPARE(outcome.out, QString());
        QCOMPARE(outcome.err,
                 u"ERROR: The registry store file is not a registry store or is damaged. (status 1015, "_s +
                     programStorePath() + u")\n"_s);
    }
    QCOMPARE(linvera::test::fileDigest(programStorePath()), before);
}

QTEST_GUILESS_MAIN(TestRegTool)
#include "tst_regtool.moc"
