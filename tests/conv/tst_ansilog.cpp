// The conversion log as the user reads it under a Shift_JIS code page: the bytes of log.txt after a
// conversion, written by the engine in-process and by the linvera program under a real Shift_JIS locale.
#include "conv/ConversionEngine.h"
#include "platform/AnsiCodec.h"
#include "platform/RegAccess.h"

#include "EngineBoxes.h"
#include "RecordingMessageBoxes.h"
#include "RecordingView.h"
#include "ShortenerService.h"
#include "TestEnvironment.h"
#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace linvera;
using namespace linvera::test;
using CodePage = platform::AnsiCodec::CodePage;

Q_DECLARE_METATYPE(CodePage)

namespace {

const QString kEndpointsKey = u"SOFTWARE\\HALVEX\\linvera\\endpoints"_s;

// Every best-fit character of code page 932 in one URL, between ordinary kanji and half-width kana.
const QString kBestFitUrl = u"https://ja.example/10〜20/−‖¢£¬—¥‾/東京ｶﾅ"_s;
// What Windows writes for it with its default best fit.
const QByteArray kBestFitUrlBytes = QByteArray("https://ja.example/10\x81\x60"
                                               "20/\x81\x7c\x81\x61\x81\x91\x81\x92\x81\xca\x81\x5c\\~/"
                                               "\x93\x8c\x8b\x9e\xb6\xc5");

} // namespace

class TestAnsiLog : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void engineWritesLogInCodePage_data();
    void engineWritesLogInCodePage();
    void programWritesBestFitUnderShiftJisLocale();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ShortenerService> m_shortener;
    CodePage m_codePageBefore = CodePage::Utf8;
};

void TestAnsiLog::init()
{
    m_codePageBefore = platform::AnsiCodec::current();
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_shortener = std::make_unique<ShortenerService>();
    QVERIFY(m_shortener->isListening());
    m_shortener->setShortUrl(u"http://s.example/j1"_s);
}

void TestAnsiLog::cleanup()
{
    platform::AnsiCodec::select(m_codePageBefore);
    m_shortener.reset();
    m_dir.reset();
}

void TestAnsiLog::engineWritesLogInCodePage_data()
{
    QTest::addColumn<CodePage>("codePage");
    QTest::addColumn<QString>("input");
    QTest::addColumn<QByteArray>("logged");
    QTest::newRow("windows-31j wave dash") << CodePage::Windows31J << u"https://ja.example/10〜20"_s
                                           << QByteArray("https://ja.example/10\x81\x60"
                                                         "20");
    QTest::newRow("windows-31j every best fit") << CodePage::Windows31J << kBestFitUrl << kBestFitUrlBytes;
    QTest::newRow("windows-31j no best fit for the euro")
        << CodePage::Windows31J << u"https://ja.example/€〜"_s << QByteArray("https://ja.example/?\x81\x60");
    QTest::newRow("UTF-8 keeps the wave dash") << CodePage::Utf8 << u"https://ja.example/10〜20"_s
                                               << QByteArray("https://ja.example/10\xe3\x80\x9c"
                                                             "20");
}

void TestAnsiLog::engineWritesLogInCodePage()
{
    QFETCH(CodePage, codePage);
    QFETCH(QString, input);
    QFETCH(QByteArray, logged);

    Endpoints endpoints;
    endpoints.set(Endpoints::ShortenerApiHost, m_shortener->hostAndPort());
    endpoints.set(Endpoints::ShortenerAltApiHost, m_shortener->hostAndPort());
    endpoints.set(Endpoints::LiveShortDomain, u"lv.example"_s);
    RecordingView view;
    RecordingMessageBoxes boxes;
    ConversionEngine engine(view, boxes);
    showEngineBoxes(engine, boxes);
    engine.setEndpoints(endpoints);
    const QString logPath = m_dir->filePath(u"log.txt"_s);
    engine.setLogFilePath(logPath);
    engine.setTempFolder(m_dir->path());
    const QDate today(2026, 12, 7);
    engine.setClock([today] { return today; });

    platform::AnsiCodec::select(codePage);
    QSignalSpy finished(&engine, &ConversionEngine::conversionFinished);
    view.setBeforeUrl(input);
    engine.StartConv();
    if (finished.isEmpty())
        QVERIFY(finished.wait(10000));
    QCOMPARE(engine.lConvMode(), int(ConversionEngine::Shorten));
    QCOMPARE(view.afterUrl(), u"http://s.example/j1"_s);

    const QByteArray date = QLocale::system().toString(today, QLocale::ShortFormat).toLatin1();
    QCOMPARE(readFile(logPath), date + ", " + logged + ", http://s.example/j1\r\n");
}

void TestAnsiLog::programWritesBestFitUnderShiftJisLocale()
{
    // A Shift_JIS locale of the test's own, compiled into its folder and found through LOCPATH, so
    // the machine's locales are left alone. localedef warns that Shift_JIS is not ASCII-compatible
    // (its 0x5C and 0x7E are the yen sign and overline) and still writes the locale.
    const QString localedef = QStandardPaths::findExecutable(u"localedef"_s);
    if (localedef.isEmpty())
        QSKIP("localedef is not installed");
    const QString localeRoot = m_dir->filePath(u"locales"_s);
    QVERIFY(QDir().mkpath(localeRoot));
    {
        QProcess compile;
        compile.start(localedef, {u"--no-warnings=ascii"_s, u"-f"_s, u"SHIFT_JIS"_s, u"-i"_s, u"ja_JP"_s,
                                  localeRoot + u"/ja_JP.SJIS"_s});
        QVERIFY(compile.waitForStarted(10000));
        QVERIFY(compile.waitForFinished(60000));
        if (!QFile::exists(localeRoot + u"/ja_JP.SJIS/LC_CTYPE"_s))
            QSKIP(qPrintable(u"no Shift_JIS locale could be compiled: "_s +
                             QString::fromLocal8Bit(compile.readAllStandardError())));
    }

    SetRegString(platform::RegRoot::LocalMachine, kEndpointsKey, u"ShortenerApiHost"_s,
                 m_shortener->hostAndPort());
    SetRegString(platform::RegRoot::LocalMachine, kEndpointsKey, u"ShortenerAltApiHost"_s,
                 m_shortener->hostAndPort());
    SetRegString(platform::RegRoot::LocalMachine, kEndpointsKey, u"LiveShortDomain"_s, u"lv.example"_s);
    // The designed service, which the shortener imitates; a fresh store would use is.gd.
    SetRegString(platform::RegRoot::LocalMachine, u"SOFTWARE\\HALVEX\\linvera\\param"_s, u"ShortURLType"_s,
                 u"0"_s);
    const QString home = m_dir->filePath(u"home"_s);
    const QString dataFolder = home + u"/Documents/halvex-linvera"_s;
    QVERIFY(QDir().mkpath(dataFolder));
    QVERIFY(writeFile(dataFolder + u"/tinyurls.txt"_s, QByteArray()));
    QVERIFY(writeFile(dataFolder + u"/picturls.txt"_s, QByteArray()));

    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"HOME"_s, home);
    env.remove(u"XDG_DOCUMENTS_DIR"_s);
    env.remove(u"LANG"_s);
    env.remove(u"LANGUAGE"_s);
    env.insert(u"LOCPATH"_s, localeRoot);
    env.insert(u"LC_ALL"_s, u"ja_JP.SJIS"_s);
    process.setProcessEnvironment(env);
    QSignalSpy done(&process, &QProcess::finished);
    // Qt reads the command line as UTF-8 whatever the locale says.
    process.start(programDir() + u"/linvera"_s, {kBestFitUrl});
    QVERIFY(process.waitForStarted(10000));
    // The shortener lives in this thread: keep serving it while the program runs.
    if (!done.wait(30000)) {
        process.kill();
        process.waitForFinished();
        QFAIL("linvera did not finish");
    }
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QVERIFY2(process.exitCode() == 0, process.readAllStandardError().constData());
    QCOMPARE(m_shortener->calls().size(), 1);

    const QByteArray log = readFile(dataFolder + u"/log.txt"_s);
    const QByteArray tail = ", " + kBestFitUrlBytes + ", http://s.example/j1\r\n";
    QVERIFY2(log.endsWith(tail), log.toHex(' ').constData());
    QCOMPARE(log.count("\r\n"), 1);
}

QTEST_GUILESS_MAIN(TestAnsiLog)
#include "tst_ansilog.moc"
