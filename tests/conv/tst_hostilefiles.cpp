// Rule files, the log and the preview picture against full disks, unwritable folders and files
// that are not what they claim to be.
#include "AwaitAnswer.h"
#include "conv/ConversionEngine.h"
#include "conv/ServiceRules.h"
#include "notice/NoticeFeed.h"
#include "platform/AnsiCodec.h"
#include "platform/FileAppend.h"

#include "EngineBoxes.h"
#include "HostileFiles.h"
#include "HttpTestServer.h"
#include "NoticeHost.h"
#include "PictureHost.h"
#include "RecordingMessageBoxes.h"
#include "RecordingView.h"
#include "TestEnvironment.h"
#include "TestFiles.h"
#include "TestPictures.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>

#include <atomic>
#include <fcntl.h>
#include <malloc.h>
#if defined(__SANITIZE_ADDRESS__)
// From the sanitizer's allocator interface (its header is not installed with the compiler).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace linvera;
using namespace linvera::test;
using platform::AnsiCodec;

namespace {

const QString kTiny = u"tinyurls読み込みエラー"_s;
const QString kPict = u"picturls読み込みエラー"_s;
const QString kLogFailed = u"ログファイルに書き込めません。変換の記録は残りません。\n"_s;

long peakResidentKiB()
{
    rusage usage = {};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

QStringList texts(const RecordingMessageBoxes& boxes)
{
    return boxes.texts();
}

/// Files in the folder other than the ones named.
QStringList othersIn(const QString& folder, const QStringList& known)
{
    QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& name : known)
        names.removeAll(name);
    return names;
}

} // namespace

class TestHostileFiles : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void shortLinkRuleFiles_data();
    void shortLinkRuleFiles();
    void pictureRuleFiles_data();
    void pictureRuleFiles();
    void hugeRuleFileNeverInMemory();
    void appendIsAllOrNothing_data();
    void appendIsAllOrNothing();
    void appendsOfTwoProgramsOnFullDisk_data();
    void appendsOfTwoProgramsOnFullDisk();
    void logRecordStaysOneLine_data();
    void logRecordStaysOneLine();
    void logThatIsNotAFile_data();
    void logThatIsNotAFile();
    void ruleMatchingHasOneBudget_data();
    void ruleMatchingHasOneBudget();
    void loadedRulesStaySmall_data();
    void loadedRulesStaySmall();
    void logFailureToldOnce_data();
    void logFailureToldOnce();
    void previewPictureOnFullDisk_data();
    void previewPictureOnFullDisk();
    void downloadOnFullDisk_data();
    void downloadOnFullDisk();

private:
    QString file(const QString& name) const { return m_dir->filePath(name); }
    std::unique_ptr<QTemporaryDir> m_dir;
    AnsiCodec::CodePage m_codePage = AnsiCodec::CodePage::Utf8;
};

void TestHostileFiles::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_codePage = AnsiCodec::current();
}

void TestHostileFiles::cleanup()
{
    AnsiCodec::select(m_codePage);
    ::chmod(QFile::encodeName(m_dir->path()).constData(), 0700);
    m_dir.reset();
}

// What a rule file holds: "sparse:<bytes>" for a file of NUL bytes after one good line, "folder",
// "missing", else the bytes themselves.
static void makeRuleFile(const QString& path, const QByteArray& content)
{
    if (content.startsWith("sparse:")) {
        QVERIFY(makeSparseFile(path, content.mid(7).toLongLong(), "a.example/\tLocation:\t\r\n"));
    } else if (content == "folder") {
        QVERIFY(QDir().mkpath(path));
    } else if (content != "missing") {
        QVERIFY(writeFile(path, content));
    }
}

void TestHostileFiles::shortLinkRuleFiles_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("windows31j");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<int>("rules");

    const QByteArray good = "a.example/\tLocation:\t\r\n";
    const QString tooLarge = kTiny + u"(ファイルが大きすぎます。上限は8MBです)"_s;
    const QString notText = kTiny + u"(テキストファイルではありません)"_s;
    const QString badBytes = kTiny + u"(文字コードの誤りがあります)"_s;
    const qint64 cap = kMaxRuleFileBytes;

    QTest::newRow("missing: nothing to tell") << QByteArray("missing") << false << QStringList() << 0;
    QTest::newRow("a folder in its place")
        << QByteArray("folder") << false << QStringList{kTiny + u"(ファイルを読めません)"_s} << 0;
    QTest::newRow("100 MB") << "sparse:" + QByteArray::number(100 * 1024 * 1024) << false
                            << QStringList{tooLarge} << 0;
    QTest::newRow("one byte over the cap")
        << "sparse:" + QByteArray::number(cap + 1) << false << QStringList{tooLarge} << 0;
    // One rule whose third column, spaces only, pads the file to the cap exactly.
    QTest::newRow("exactly the cap") << good.left(good.size() - 2) + QByteArray(int(cap - good.size()), ' ') +
                                            "\r\n"
                                     << false << QStringList() << 1;
    QTest::newRow("a NUL byte among good lines")
        << good + "b.exa" + QByteArray(1, '\0') + "mple/\tLocation:\t\r\n"
        << false << QStringList{notText} << 0;
    QTest::newRow("invalid Shift_JIS")
        << good + "c\x82\xff\x81.example/\tLocation:\t\x83" << true << QStringList{badBytes} << 2;
    QTest::newRow("valid Shift_JIS") << good + "\x82\xa0.example/\tLocation:\t\r\n"
                                     << true << QStringList() << 2;
    QTest::newRow("invalid UTF-8") << good + "c\xc3\x28.example/\tLocation:\t\r\n"
                                   << false << QStringList{badBytes} << 2;
    QTest::newRow("UTF-8 spelling out U+FFFD") << good + "\xEF\xBF\xBD.example/\tLocation:\t\r\n"
                                               << false << QStringList() << 2;
    QStringList ten;
    for (int i = 0; i < 10; ++i)
        ten.append(kTiny);
    QTest::newRow("ten lines without TABs")
        << QByteArray("no tab\r\n").repeated(10) + good << false << ten << 1;
    // Files written on Linux end their lines with LF alone; every rule of them counts.
    QTest::newRow("LF line ends") << QByteArray("a.example/\tLocation:\t\nb.example/\tLocation:\t\n"
                                                "c.example/\tLocation:\t\n")
                                  << false << QStringList() << 3;
    QTest::newRow("LF line ends, no line end at the end")
        << QByteArray("a.example/\tLocation:\t\nb.example/\tLocation:\t") << false << QStringList() << 2;
    QTest::newRow("CR LF and LF mixed")
        << QByteArray("a.example/\tLocation:\t\r\nb.example/\tLocation:\t\nc.example/\tLocation:\t\r\n")
        << false << QStringList() << 3;
    QTest::newRow("LF line ends, a line without TABs among them")
        << QByteArray("a.example/\tLocation:\t\nno tab\nb.example/\tLocation:\t\n") << false
        << QStringList{kTiny} << 2;
    QTest::newRow("five thousand lines without TABs")
        << QByteArray("no tab\r\n").repeated(5000) + good << false
        << QStringList(ten) + QStringList{kTiny + u"(ほかに4990行)"_s} << 1;
}

void TestHostileFiles::shortLinkRuleFiles()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, windows31j);
    QFETCH(QStringList, messages);
    QFETCH(int, rules);
    AnsiCodec::select(windows31j ? AnsiCodec::CodePage::Windows31J : AnsiCodec::CodePage::Utf8);
    const QString path = file(u"tinyurls.txt"_s);
    makeRuleFile(path, content);
    const QByteArray before = fileDigest(path);

    RecordingMessageBoxes boxes;
    ShortLinkRules list;
    list.LoadShortLinkRules(path, boxes);
    QCOMPARE(texts(boxes), messages);
    QCOMPARE(list.size(), qsizetype(rules));
    if (rules > 0)
        QVERIFY(list.MatchShortLinkRule(u"http://a.example/x"_s).matched);
    QCOMPARE(fileDigest(path), before);
}

void TestHostileFiles::pictureRuleFiles_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<int>("rules");
    const QByteArray good = "^http://p\\.example/(\\w+)$\thttp://img.example/(1).png\r\n";
    QTest::newRow("good") << good << QStringList() << 1;
    QTest::newRow("100 MB") << "sparse:" + QByteArray::number(100 * 1024 * 1024)
                            << QStringList{kPict + u"(ファイルが大きすぎます。上限は8MBです)"_s} << 0;
    QTest::newRow("NUL bytes") << good + QByteArray(64, '\0')
                               << QStringList{kPict + u"(テキストファイルではありません)"_s} << 0;
    QTest::newRow("invalid UTF-8") << good + "^http://q\xff\\.example/\tx\r\n"
                                   << QStringList{kPict + u"(文字コードの誤りがあります)"_s} << 2;
    QTest::newRow("lines without TABs are rules, no message") << good + "no tab\r\n" << QStringList() << 2;
    QTest::newRow("LF line ends") << QByteArray("^http://p\\.example/(\\w+)$\thttp://img.example/(1).png\n"
                                                "^http://q\\.example/(\\w+)$\thttp://img.example/(1).png\n")
                                  << QStringList() << 2;
}

void TestHostileFiles::pictureRuleFiles()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, messages);
    QFETCH(int, rules);
    AnsiCodec::select(AnsiCodec::CodePage::Utf8);
    const QString path = file(u"picturls.txt"_s);
    makeRuleFile(path, content);
    RecordingMessageBoxes boxes;
    PictureRules list;
    list.LoadPictureRules(path, &boxes);
    QCOMPARE(texts(boxes), messages);
    QCOMPARE(list.size(), qsizetype(rules));
    QString picture;
    QCOMPARE(list.MatchPictureRule(u"http://p.example/k1"_s, picture), rules > 0);
}

void TestHostileFiles::hugeRuleFileNeverInMemory()
{
    // 400 MB of NUL bytes would take 400 MB to read and twice that to decode.
    const QString path = file(u"tinyurls.txt"_s);
    QVERIFY(makeSparseFile(path, qint64(400) * 1024 * 1024, "a.example/\tLocation:\t\r\n"));
    const long before = peakResidentKiB();
    RecordingMessageBoxes boxes;
    ShortLinkRules list;
    list.LoadShortLinkRules(path, boxes);
    PictureRules pictures;
    pictures.LoadPictureRules(path, &boxes);
    QCOMPARE(boxes.shown().size(), 2);
    QVERIFY2(peakResidentKiB() - before < 64 * 1024,
             qPrintable(u"peak grew by %1 KiB"_s.arg(peakResidentKiB() - before)));
}

void TestHostileFiles::appendIsAllOrNothing_data()
{
    QTest::addColumn<int>("room");
    QTest::addColumn<bool>("written");
    QTest::newRow("no room at all") << 0 << false;
    QTest::newRow("room for one byte") << 1 << false;
    QTest::newRow("room for all but one byte") << 29 << false;
    QTest::newRow("room for exactly the line") << 30 << true;
    QTest::newRow("room to spare") << 4096 << true;
}

void TestHostileFiles::appendIsAllOrNothing()
{
    QFETCH(int, room);
    QFETCH(bool, written);
    const QString path = file(u"log.txt"_s);
    const QByteArray old = QByteArray("2026/12/07, http://a, http://b\r\n").repeated(100);
    QVERIFY(writeFile(path, old));
    const QByteArray line = "2026/12/08, http://c, http://d";
    QCOMPARE(line.size(), 30);
    bool ok = false;
    {
        FileSizeLimit full(rlim_t(old.size() + room));
        QVERIFY(full.isActive());
        ok = platform::AppendToFile(path, line);
    }
    QCOMPARE(ok, written);
    // Never half a line: the old bytes, with the whole line or without it.
    QCOMPARE(readFile(path), written ? old + line : old);
}

void TestHostileFiles::appendsOfTwoProgramsOnFullDisk_data()
{
    // Lines of the second program, and the first program's lines that never fit: each of its tries
    // writes part of a line before the disk is full, and gives that part back.
    QTest::addColumn<int>("bigLine");
    QTest::addColumn<int>("room");
    QTest::newRow("4 MiB of room, 8 MiB lines") << 8 * 1024 * 1024 << 4 * 1024 * 1024;
    QTest::newRow("64 KiB of room, 128 KiB lines") << 128 * 1024 << 64 * 1024;
}

void TestHostileFiles::appendsOfTwoProgramsOnFullDisk()
{
    QFETCH(int, bigLine);
    QFETCH(int, room);
    const QString path = file(u"log.txt"_s);
    const QByteArray old = QByteArray("2026/12/07, http://a, http://b\r\n").repeated(32);
    QVERIFY(writeFile(path, old));
    const QString appender = programDir() + u"/log_appender"_s;
    QProcess full;
    QProcess roomy;
    // Both append for the same second and a half; only the first meets a full disk.
    full.start(appender,
               {path, u"A"_s, QString::number(bigLine), u"1500"_s, QString::number(old.size() + room)});
    roomy.start(appender, {path, u"B"_s, u"40"_s, u"1500"_s});
    QVERIFY(full.waitForFinished(60000) && roomy.waitForFinished(60000));
    QCOMPARE(full.exitCode(), 0);
    QCOMPARE(roomy.exitCode(), 0);
    QVERIFY2(full.readAllStandardOutput().isEmpty(), "a line larger than the room was written");
    const QList<QByteArray> written = roomy.readAllStandardOutput().split('\n');
    QVERIFY(written.size() > 10);

    const QByteArray log = readFile(path);
    QVERIFY(log.startsWith(old));
    QVERIFY2(log.endsWith("\r\n"), "the log ends in half a line");
    QList<QByteArray> lines = log.mid(old.size()).split('\n');
    lines.removeLast();
    QSet<QByteArray> found;
    for (const QByteArray& line : std::as_const(lines)) {
        QVERIFY2(line.startsWith('B') && line.endsWith('\r') && line.size() == 39, line.left(60).constData());
        found.insert(line.mid(1, line.indexOf(' ') - 1));
    }
    // Every line the second program was told it wrote is there.
    int lost = 0;
    for (const QByteArray& number : written) {
        if (!number.isEmpty() && !found.contains(number))
            ++lost;
    }
    QCOMPARE(lost, 0);
    QCOMPARE(lines.size(), written.size() - 1);
}

void TestHostileFiles::logRecordStaysOneLine_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("written");
    const QString forged = u"1 Jan 2020, http://forged.example/, http://forged.example/evil"_s;
    QTest::newRow("CR LF and a forged record")
        << u"http://yt.example/ok\r\n"_s + forged << u"http://yt.example/ok%0D%0A"_s + forged;
    QTest::newRow("LF alone") << u"http://yt.example/ok\n"_s + forged
                              << u"http://yt.example/ok%0A"_s + forged;
    QTest::newRow("CR alone") << u"http://yt.example/ok\r"_s + forged
                              << u"http://yt.example/ok%0D"_s + forged;
    QTest::newRow("NUL, TAB and DEL")
        << u"http://yt.example/a\u0000b\tc\u007Fd"_s << u"http://yt.example/a%00b%09c%7Fd"_s;
    QTest::newRow("next line and line separator") << u"http://yt.example/a\u0085b\u2028c\u2029d"_s
                                                  << u"http://yt.example/a%C2%85b%E2%80%A8c%E2%80%A9d"_s;
    QTest::newRow("escapes already in the URL stay as they are")
        << u"http://yt.example/a%0D%0Ab"_s << u"http://yt.example/a%0D%0Ab"_s;
    QTest::newRow("kanji and half-width kana stay")
        << u"http://yt.example/東京ｶﾅ"_s << u"http://yt.example/東京ｶﾅ"_s;
}

void TestHostileFiles::logRecordStaysOneLine()
{
    QFETCH(QString, input);
    QFETCH(QString, written);
    AnsiCodec::select(AnsiCodec::CodePage::Utf8);
    const QString log = file(u"log.txt"_s);
    RecordingView view;
    RecordingMessageBoxes boxes;
    ConversionEngine engine(view, boxes);
    showEngineBoxes(engine, boxes);
    engine.setLogFilePath(log);
    engine.setTempFolder(m_dir->path());
    engine.setClock([] { return QDate(2026, 12, 8); });
    // The after URL takes the whole path, control characters and all.
    engine.shortLinkRules().loadFromText(
        u"^http://yt\\.example/([\\s\\S]+)$\thttp://video.example/(1)\t\r\n"_s, boxes);
    view.setBeforeUrl(input);
    engine.StartConv();
    QCOMPARE(view.afterUrl(), u"http://video.example/"_s + input.mid(18));
    const QByteArray bytes = readFile(log);
    QCOMPARE(bytes.count('\n'), 1);
    QCOMPARE(bytes.count('\r'), 1);
    QVERIFY(bytes.endsWith("\r\n"));
    const QString record = QString::fromUtf8(bytes.chopped(2));
    QVERIFY2(record.endsWith(u", "_s + written + u", http://video.example/"_s + written.mid(18)),
             qPrintable(record));
    QCOMPARE(texts(boxes), QStringList());
}

void TestHostileFiles::logThatIsNotAFile_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("named pipe nobody reads") << u"pipe"_s;
    QTest::newRow("named pipe with a reader") << u"pipe-read"_s;
    QTest::newRow("link to a named pipe") << u"pipe-link"_s;
    QTest::newRow("link to a device") << u"device"_s;
}

void TestHostileFiles::logThatIsNotAFile()
{
    QFETCH(QString, kind);
    const QString log = file(u"log.txt"_s);
    const QString pipe = kind == u"pipe-link"_s ? file(u"fifo"_s) : log;
    if (kind == u"device"_s) {
        QVERIFY(QFile::link(u"/dev/null"_s, log));
    } else {
        QVERIFY(::mkfifo(QFile::encodeName(pipe).constData(), 0600) == 0);
        if (pipe != log)
            QVERIFY(QFile::link(pipe, log));
    }
    int reader = -1;
    if (kind == u"pipe-read"_s)
        reader = ::open(QFile::encodeName(pipe).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    // A program that would wait on the pipe for ever is let go after ten seconds, to fail below.
    std::atomic<bool> done = false;
    std::thread rescue;
    if (kind != u"device"_s) {
        rescue = std::thread([&done, path = QFile::encodeName(pipe)] {
            for (int i = 0; i < 1000 && !done; ++i)
                ::usleep(10000);
            if (!done) {
                const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
                while (!done)
                    ::usleep(10000);
                ::close(fd);
            }
        });
    }
    RecordingView view;
    RecordingMessageBoxes boxes;
    ConversionEngine engine(view, boxes);
    showEngineBoxes(engine, boxes);
    engine.setLogFilePath(log);
    engine.setTempFolder(m_dir->path());
    engine.shortLinkRules().loadFromText(u"^http://yt\\.example/(\\w+)$\thttp://video.example/(1)\t\r\n"_s,
                                         boxes);
    QElapsedTimer clock;
    clock.start();
    for (const QString& url : {u"http://yt.example/a"_s, u"http://yt.example/b"_s}) {
        view.setBeforeUrl(url);
        engine.StartConv();
        QCOMPARE(view.afterUrl(), u"http://video.example/"_s + url.right(1));
    }
    const qint64 elapsed = clock.elapsed();
    done = true;
    if (rescue.joinable())
        rescue.join();
    QVERIFY2(elapsed < 2000, qPrintable(u"the conversions took %1 ms"_s.arg(elapsed)));
    // Told once, and nothing went into the pipe.
    QCOMPARE(texts(boxes), QStringList{kLogFailed + log});
    if (reader >= 0) {
        char byte = 0;
        QVERIFY(::read(reader, &byte, 1) <= 0);
        ::close(reader);
    }
}

void TestHostileFiles::ruleMatchingHasOneBudget_data()
{
    QTest::addColumn<QString>("shortLinkRules");
    QTest::addColumn<QString>("pictureRules");
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("afterUrl");
    // Each expression gives up at its own bound; 20,000 of them took minutes.
    const QString costly = u"^http://s\\.example/(a|aa)+$"_s;
    const QString slowUrl = u"http://s.example/"_s + QString(28, u'a') + u'b';
    QStringList many;
    for (int i = 0; i < 20000; ++i)
        many.append(costly);
    QTest::newRow("20,000 costly short-link expressions")
        << many.join(u"\thttp://x/(1)\t\r\n"_s) + u"\thttp://x/(1)\t\r\n"_s << QString() << slowUrl
        << QString();
    QTest::newRow("20,000 costly picture expressions")
        << QString() << many.join(u"\thttp://x/(1).png\r\n"_s) + u"\thttp://x/(1).png\r\n"_s << slowUrl
        << QString();
    // Within the budget a long list is tried to its end.
    // (The picture is asked of a closed loopback port.)
    const QString closed = u"http://127.0.0.1:"_s + QString::number(HttpTestServer::closedPort());
    QStringList cheap;
    for (int i = 0; i < 20000; ++i)
        cheap.append(u"^http://c\\.example/"_s + QString::number(i) + u"/(\\w+)$\t"_s + closed +
                     u"/(1).png"_s);
    QTest::newRow("20,000 cheap picture expressions, the last one matches")
        << QString() << cheap.join(u"\r\n"_s) << u"http://c.example/19999/k"_s << closed + u"/k.png"_s;
}

void TestHostileFiles::ruleMatchingHasOneBudget()
{
    QFETCH(QString, shortLinkRules);
    QFETCH(QString, pictureRules);
    QFETCH(QString, url);
    QFETCH(QString, afterUrl);
    RecordingView view;
    RecordingMessageBoxes boxes;
    ConversionEngine engine(view, boxes);
    showEngineBoxes(engine, boxes);
    engine.setLogFilePath(file(u"log.txt"_s));
    engine.setTempFolder(m_dir->path());
    // No shortening service is asked: a shortened URL would come from the closed port as nothing.
    engine.shortLinkRules().loadFromText(shortLinkRules, boxes);
    engine.pictureRules().loadFromText(pictureRules);
    view.setBeforeUrl(url);
    QElapsedTimer clock;
    clock.start();
    engine.StartConv();
    const qint64 elapsed = clock.elapsed();
    const bool cut = afterUrl.isEmpty();
    if (cut) {
        QCOMPARE(view.message, u"規則ファイルの照合が2秒で終わらないため、変換をやめました。"_s);
        QCOMPARE(view.afterUrl(), QString());
        QCOMPARE(engine.lConvMode(), int(ConversionEngine::Shorten));
    } else {
        QVERIFY2(view.afterUrl() == afterUrl, qPrintable(view.message));
    }
    // The budget and one expression beyond it.
    QVERIFY2(elapsed < ConversionEngine::kRuleMatchBudgetMs + 1500,
             qPrintable(u"the conversion took %1 ms"_s.arg(elapsed)));
    QCOMPARE(texts(boxes), QStringList());
}

// Bytes the program has allocated and not freed.
static qint64 allocatedBytes()
{
#if defined(__SANITIZE_ADDRESS__)
    return qint64(__sanitizer_get_current_allocated_bytes());
#else
    const struct mallinfo2 info = mallinfo2();
    return qint64(info.uordblks + info.hblkhd);
#endif
}

void TestHostileFiles::loadedRulesStaySmall_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("short-link expressions")
        << u"short"_s << QByteArray("^http://s\\.example/(a|aa)+$\thttp://(1)\t\r\n");
    QTest::newRow("short-link texts") << u"short"_s << QByteArray("s.example/x\thttp://long.example/x\t\r\n");
    QTest::newRow("picture expressions")
        << u"picture"_s << QByteArray("^http://p\\.example/(\\w+)$\thttp://(1).png\r\n");
}

// A long rule list is held in a small multiple of its file, whatever the rules are.
void TestHostileFiles::loadedRulesStaySmall()
{
    QFETCH(QString, kind);
    QFETCH(QByteArray, line);
    const QString path = file(u"rules.txt"_s);
    QVERIFY(writeFile(path, line.repeated(40000)));
    const qint64 fileSize = QFileInfo(path).size();
    RecordingMessageBoxes boxes;
    ShortLinkRules shortLinks;
    PictureRules pictures;
    const qint64 before = allocatedBytes();
    if (kind == u"short"_s)
        shortLinks.LoadShortLinkRules(path, boxes);
    else
        pictures.LoadPictureRules(path, &boxes);
    const qint64 held = allocatedBytes() - before;
    QCOMPARE(shortLinks.size() + pictures.size(), 40000);
    QVERIFY2(held <= 4 * fileSize, qPrintable(u"%1 bytes held for a file of %2"_s.arg(held).arg(fileSize)));
    // Trying the rules keeps no more than a bounded number of compiled expressions.
    QString picture;
    shortLinks.MatchShortLinkRule(u"http://s.example/aaa"_s);
    pictures.MatchPictureRule(u"http://q.example/nothing"_s, picture);
    const qint64 afterMatching = allocatedBytes() - before;
    QVERIFY2(afterMatching <= 4 * fileSize + 8 * 1024 * 1024,
             qPrintable(u"%1 bytes held after matching"_s.arg(afterMatching)));
    QCOMPARE(boxes.texts(), QStringList());
}

void TestHostileFiles::logFailureToldOnce_data()
{
    QTest::addColumn<QString>("cause");
    QTest::newRow("full disk") << u"full"_s;
    QTest::newRow("read-only data folder") << u"readonly"_s;
    QTest::newRow("a folder in place of the log") << u"folder"_s;
}

void TestHostileFiles::logFailureToldOnce()
{
    QFETCH(QString, cause);
    const QString data = file(u"data"_s);
    QVERIFY(QDir().mkpath(data));
    const QString log = data + u"/log.txt"_s;
    const QByteArray old = "2026/12/07, http://a, http://b\r\n";
    if (cause == u"folder")
        QVERIFY(QDir().mkpath(log));
    else
        QVERIFY(writeFile(log, old));
    if (cause == u"readonly") {
        QVERIFY(::chmod(QFile::encodeName(log).constData(), 0400) == 0);
        QVERIFY(::chmod(QFile::encodeName(data).constData(), 0500) == 0);
    }

    RecordingView view;
    RecordingMessageBoxes boxes;
    ConversionEngine engine(view, boxes);
    showEngineBoxes(engine, boxes);
    engine.setLogFilePath(log);
    engine.setTempFolder(m_dir->path());
    engine.setClock([] { return QDate(2026, 12, 8); });
    engine.shortLinkRules().loadFromText(u"^http://yt\\.example/(\\w+)$\thttp://video.example/(1)\t\r\n"_s,
                                         boxes);
    {
        HonourFileModes modes;
        if (!modes.isActive())
            QSKIP("file modes cannot be enforced for this test");
        FileSizeLimit full(cause == u"full" ? rlim_t(old.size()) : RLIM_INFINITY);
        QVERIFY(full.isActive());
        for (const QString& url :
             {u"http://yt.example/a"_s, u"http://yt.example/b"_s, u"http://yt.example/c"_s}) {
            view.setBeforeUrl(url);
            engine.StartConv();
            // The conversion itself still happens.
            QCOMPARE(view.afterUrl(), u"http://video.example/"_s + url.right(1));
        }
    }
    QCOMPARE(texts(boxes), QStringList{kLogFailed + log});
    if (cause != u"folder")
        QCOMPARE(readFile(log), old);
}

void TestHostileFiles::previewPictureOnFullDisk_data()
{
    QTest::addColumn<bool>("full");
    QTest::newRow("room for it") << false;
    QTest::newRow("disk full") << true;
}

void TestHostileFiles::previewPictureOnFullDisk()
{
    QFETCH(bool, full);
    PictureHost pictures;
    const QByteArray fresh = TestPictures::make(TestPictures::Format::Png, QSize(300, 300));
    const QByteArray old = TestPictures::make(TestPictures::Format::Png, QSize(20, 20));
    QVERIFY(fresh.size() > old.size() + 100);
    pictures.setFile("/p.png", fresh, "image/png");
    const QString preview = file(u"hvxlinvera.png"_s);
    QVERIFY(writeFile(preview, old));

    PictureDownload download;
    QSignalSpy finished(&download, &PictureDownload::finished);
    {
        FileSizeLimit limit(full ? rlim_t(old.size()) : RLIM_INFINITY);
        QVERIFY(limit.isActive());
        download.start(u"http://"_s + pictures.hostAndPort() + u"/p.png"_s, preview);
        QVERIFY(finished.wait(10000));
    }
    const auto outcome = finished.first().first().value<PictureDownload::Outcome>();
    QCOMPARE(outcome, full ? PictureDownload::Outcome::DownloadFailed : PictureDownload::Outcome::Saved);
    // The old picture whole, or the new one whole; no leftover of the attempt beside it.
    QCOMPARE(readFile(preview), full ? old : fresh);
    QCOMPARE(othersIn(m_dir->path(), {u"hvxlinvera.png"_s}), QStringList());
}

void TestHostileFiles::downloadOnFullDisk_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("rule file") << u"tinyurls.txt"_s;
    QTest::newRow("notice file") << u"notice.xml"_s;
}

void TestHostileFiles::downloadOnFullDisk()
{
    QFETCH(QString, name);
    NoticeHost host;
    QVERIFY(host.isListening());
    const QByteArray fresh = QByteArray("b.example/\tLocation:\t\r\n").repeated(2000);
    host.setFile(name.toLatin1(), fresh);
    const QString target = file(name);
    const QByteArray old = "a.example/\tLocation:\t\r\n";
    QVERIFY(writeFile(target, old));
    const QString url = u"http://"_s + host.noticeHost() + u"/linvera/notice/"_s + name;
    {
        FileSizeLimit full(rlim_t(fresh.size() / 2));
        QVERIFY(full.isActive());
        QCOMPARE(test::awaitAnswer<bool>([&](auto done) { return DownloadToFile(url, target, done); }),
                 std::optional<bool>(false));
    }
    QCOMPARE(readFile(target), old);
    QCOMPARE(othersIn(m_dir->path(), {name}), QStringList());
    // With room again the same download goes through.
    QCOMPARE(test::awaitAnswer<bool>([&](auto done) { return DownloadToFile(url, target, done); }),
             std::optional<bool>(true));
    QCOMPARE(readFile(target), fresh);
}

QTEST_GUILESS_MAIN(TestHostileFiles)
#include "tst_hostilefiles.moc"
