#include "AwaitAnswer.h"
#include "HttpTestServer.h"
#include "NoticeHost.h"
#include "TempRegistry.h"
#include "TestEnvironment.h"
#include "TestFiles.h"
#include "TestSandbox.h"
#include "WaitLimits.h"
#include "conv/Endpoints.h"
#include "conv/HttpClient.h"
#include "notice/NoticeFeed.h"
#include "platform/AnsiCodec.h"
#include "platform/AppInfo.h"
#include "platform/AppPaths.h"
#include "platform/RegAccess.h"
#include "settings/SettingsTable.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;
using linvera::platform::RegRoot;
using linvera::test::NoticeHost;
using linvera::test::readFile;
using linvera::test::writeFile;

namespace {

const QString kParamKey = u"SOFTWARE\\HALVEX\\linvera\\param"_s;
const QString kEndpointsKey = u"SOFTWARE\\HALVEX\\linvera\\endpoints"_s;

QString storedLastNotify()
{
    QString text;
    linvera::GetRegValue(RegRoot::LocalMachine, kParamKey, u"lastnotify"_s, text);
    return text;
}

} // namespace

class TestNoticeFeed : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void cutDateSuffix_data();
    void cutDateSuffix();
    void dateTextReadsBack_data();
    void dateTextReadsBack();
    void japaneseDateText();
    void isNoticeDue_data();
    void isNoticeDue();
    void secondCallOnTheDueDayIsNotDue();

    void fetchReplacesAllThree();
    void fetchFailureKeepsOldFile_data();
    void fetchFailureKeepsOldFile();
    void fetchEndsOnSilentServer();
    void fetchWithoutServerKeepsFiles();
    void fetchIntoFolderWithTrailingSlashes_data();
    void fetchIntoFolderWithTrailingSlashes();
    void fetchUsesUserDataFolder();
    void downloadEndsOnEveryOutcome_data();
    void downloadEndsOnEveryOutcome();
    void droppedDownloadNeverAnswers_data();
    void droppedDownloadNeverAnswers();
    void limitsStayWithTheirDownload();

    void readNoticeFeed_data();
    void readNoticeFeed();
    void readKeepsOutputsOfMissingElements();
    void readMissingFile();
    void readNeverFetchesExternalEntities_data();
    void readNeverFetchesExternalEntities();
    void readsDefaultNoticeFile();

private:
    void writeOldFiles();
    QString dataFile(const QString& name) const { return m_data->filePath(name); }

    std::unique_ptr<linvera::test::TempRegistry> m_registry;
    std::unique_ptr<QTemporaryDir> m_data;
    std::unique_ptr<NoticeHost> m_host;
};

void TestNoticeFeed::init()
{
    linvera::platform::AnsiCodec::select(linvera::platform::AnsiCodec::CodePage::Utf8);
    m_registry = std::make_unique<linvera::test::TempRegistry>();
    m_data = std::make_unique<QTemporaryDir>();
    QVERIFY(m_registry->isValid() && m_data->isValid());
    m_host = std::make_unique<NoticeHost>();
    QVERIFY(m_host->isListening());
    QVERIFY(linvera::SetRegString(RegRoot::LocalMachine, kEndpointsKey, u"MakerNoticeHost"_s,
                                  m_host->noticeHost()));
}

void TestNoticeFeed::cleanup()
{
    m_host.reset();
    m_registry.reset();
    m_data.reset();
}

void TestNoticeFeed::writeOldFiles()
{
    QVERIFY(writeFile(dataFile(u"notice.xml"_s),
                      QByteArrayLiteral("<linvera><notice_msg>old</notice_msg></linvera>")));
    QVERIFY(writeFile(dataFile(u"tinyurls.txt"_s), QByteArrayLiteral("old.example/\tLocation:\t\r\n")));
    QVERIFY(writeFile(dataFile(u"picturls.txt"_s), QByteArrayLiteral("old pictures\r\n")));
}

void TestNoticeFeed::cutDateSuffix_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");

    QTest::newRow("weekday after a space") << u"2014/01/05 (日)"_s << u"2014/01/05"_s;
    QTest::newRow("weekday right after the date") << u"2014/01/05(Sun)"_s << u"2014/01/05"_s;
    QTest::newRow("spaces around the date") << u"  2014/01/05   (日)"_s << u"2014/01/05"_s;
    QTest::newRow("no parenthesis") << u"2014/01/05"_s << u"2014/01/05"_s;
    QTest::newRow("no parenthesis keeps its spaces") << u" 2014/01/05 "_s << u" 2014/01/05 "_s;
    QTest::newRow("parenthesis first") << u"(日) 2014/01/05"_s << u"(日) 2014/01/05"_s;
    QTest::newRow("parenthesis second") << u"x(y)"_s << u"x"_s;
    QTest::newRow("only a space before it") << u" (日)"_s << QString();
    QTest::newRow("cut at the first of two") << u"a (b) (c)"_s << u"a"_s;
    QTest::newRow("tabs are not trimmed") << u"\t2014/01/05\t(日)"_s << u"\t2014/01/05\t"_s;
    QTest::newRow("empty") << QString() << QString();
}

void TestNoticeFeed::cutDateSuffix()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(linvera::CutDateSuffix(text), expected);
}

void TestNoticeFeed::dateTextReadsBack_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QDate>("date");

    for (const QString& name : {u"ja_JP"_s, u"en_US"_s, u"en_GB"_s, u"de_DE"_s, u"C"_s}) {
        QTest::addRow("%s, new year", qPrintable(name)) << name << QDate(2014, 1, 5);
        QTest::addRow("%s, leap day", qPrintable(name)) << name << QDate(2016, 2, 29);
        QTest::addRow("%s, last day of a century", qPrintable(name)) << name << QDate(2099, 12, 31);
    }
}

void TestNoticeFeed::dateTextReadsBack()
{
    QFETCH(QString, locale);
    QFETCH(QDate, date);
    const QLocale loc(locale);
    const QString text = linvera::NoticeDateText(date, loc);
    QVERIFY2(text.contains(QString::number(date.year())), qPrintable(text));
    QCOMPARE(linvera::ReadNoticeDate(text, loc), date);
}

void TestNoticeFeed::japaneseDateText()
{
    QCOMPARE(linvera::NoticeDateText(QDate(2014, 1, 5), QLocale(u"ja_JP"_s)), u"2014/01/05"_s);
}

void TestNoticeFeed::isNoticeDue_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<bool>("present");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QDate>("today");
    QTest::addColumn<int>("interval");
    QTest::addColumn<bool>("due");
    QTest::addColumn<QString>("storedAfter");

    const QString ja = u"ja_JP"_s;
    const QDate today(2014, 1, 13);
    QTest::newRow("first run records today")
        << ja << false << QString() << today << 7 << false << u"2014/01/13"_s;
    QTest::newRow("empty value records today")
        << ja << true << QString() << today << 7 << false << u"2014/01/13"_s;
    QTest::newRow("same day") << ja << true << u"2014/01/13"_s << today << 7 << false << u"2014/01/13"_s;
    QTest::newRow("1 day before") << ja << true << u"2014/01/12"_s << today << 7 << false << u"2014/01/12"_s;
    QTest::newRow("7 days before") << ja << true << u"2014/01/06"_s << today << 7 << false << u"2014/01/06"_s;
    QTest::newRow("8 days before") << ja << true << u"2014/01/05"_s << today << 7 << true << u"2014/01/13"_s;
    QTest::newRow("a year before") << ja << true << u"2013/01/13"_s << today << 7 << true << u"2014/01/13"_s;
    QTest::newRow("8 days before with weekday")
        << ja << true << u"2014/01/05 (日)"_s << today << 7 << true << u"2014/01/13"_s;
    QTest::newRow("7 days before with weekday kept as stored")
        << ja << true << u"2014/01/06 (月)"_s << today << 7 << false << u"2014/01/06 (月)"_s;
    QTest::newRow("same day with weekday is stored cut")
        << ja << true << u"2014/01/13 (月)"_s << today << 7 << false << u"2014/01/13"_s;
    QTest::newRow("future date") << ja << true << u"2014/01/20"_s << today << 7 << false << u"2014/01/20"_s;
    QTest::newRow("future date, 7 days after it")
        << ja << true << u"2014/01/20"_s << QDate(2014, 1, 27) << 7 << false << u"2014/01/20"_s;
    QTest::newRow("future date, 8 days after it")
        << ja << true << u"2014/01/20"_s << QDate(2014, 1, 28) << 7 << true << u"2014/01/28"_s;
    QTest::newRow("8 days across the new year")
        << ja << true << u"2013/12/31"_s << QDate(2014, 1, 8) << 7 << true << u"2014/01/08"_s;
    QTest::newRow("7 days across a leap day")
        << ja << true << u"2016/02/23"_s << QDate(2016, 3, 1) << 7 << false << u"2016/02/23"_s;
    QTest::newRow("8 days across a leap day")
        << ja << true << u"2016/02/22"_s << QDate(2016, 3, 1) << 7 << true << u"2016/03/01"_s;
    QTest::newRow("7 days in a year without leap day")
        << ja << true << u"2015/02/22"_s << QDate(2015, 3, 1) << 7 << false << u"2015/02/22"_s;
    QTest::newRow("not a date is due") << ja << true << u"soon"_s << today << 7 << true << u"2014/01/13"_s;
    QTest::newRow("only a space is due") << ja << true << u" "_s << today << 7 << true << u"2014/01/13"_s;
    QTest::newRow("impossible date is due")
        << ja << true << u"2014/02/30"_s << today << 7 << true << u"2014/01/13"_s;
    QTest::newRow("interval 0, a day later")
        << ja << true << u"2014/01/12"_s << today << 0 << true << u"2014/01/13"_s;
    QTest::newRow("interval 30, 30 days later")
        << ja << true << u"2013/12/14"_s << today << 30 << false << u"2013/12/14"_s;
    QTest::newRow("interval 30, 31 days later")
        << ja << true << u"2013/12/13"_s << today << 30 << true << u"2014/01/13"_s;

    const QString us = u"en_US"_s;
    QTest::newRow("US form, 8 days before")
        << us << true << u"1/5/2014"_s << today << 7 << true << u"1/13/2014"_s;
    QTest::newRow("US form, 7 days before")
        << us << true << u"1/6/2014"_s << today << 7 << false << u"1/6/2014"_s;
    QTest::newRow("US form, first run") << us << false << QString() << today << 7 << false << u"1/13/2014"_s;
    QTest::newRow("US two-digit year, 7 days before")
        << us << true << u"1/6/14"_s << today << 7 << false << u"1/6/14"_s;
    QTest::newRow("US two-digit year, 8 days before")
        << us << true << u"1/5/14"_s << today << 7 << true << u"1/13/2014"_s;
    QTest::newRow("Japanese form read in the US")
        << us << true << u"2014/01/06"_s << today << 7 << false << u"2014/01/06"_s;
    QTest::newRow("ISO form read in the US")
        << us << true << u"2014-01-05"_s << today << 7 << true << u"1/13/2014"_s;
    const QString de = u"de_DE"_s;
    QTest::newRow("German form, 8 days before")
        << de << true << u"05.01.2014"_s << today << 7 << true << u"13.01.2014"_s;
}

void TestNoticeFeed::isNoticeDue()
{
    QFETCH(QString, locale);
    QFETCH(bool, present);
    QFETCH(QString, stored);
    QFETCH(QDate, today);
    QFETCH(int, interval);
    QFETCH(bool, due);
    QFETCH(QString, storedAfter);

    if (present)
        QVERIFY(linvera::SetRegString(RegRoot::LocalMachine, kParamKey, u"lastnotify"_s, stored));
    QCOMPARE(linvera::IsNoticeDue(interval, today, QLocale(locale)), due);
    QCOMPARE(storedLastNotify(), storedAfter);
}

void TestNoticeFeed::secondCallOnTheDueDayIsNotDue()
{
    const QLocale ja(u"ja_JP"_s);
    QVERIFY(linvera::SetRegString(RegRoot::LocalMachine, kParamKey, u"lastnotify"_s, u"2014/01/05"_s));
    QVERIFY(linvera::IsNoticeDue(7, QDate(2014, 1, 13), ja));
    QVERIFY(!linvera::IsNoticeDue(7, QDate(2014, 1, 13), ja));
    QCOMPARE(storedLastNotify(), u"2014/01/13"_s);
    QVERIFY(!linvera::IsNoticeDue(7, QDate(2014, 1, 20), ja));
    QVERIFY(linvera::IsNoticeDue(7, QDate(2014, 1, 21), ja));
    QCOMPARE(storedLastNotify(), u"2014/01/21"_s);
}

void TestNoticeFeed::fetchReplacesAllThree()
{
    writeOldFiles();
    const QByteArray notice = NoticeHost::noticeXml(NoticeHost::sampleNotice());
    m_host->setNotice(notice);

    QVERIFY(linvera::test::awaitEnd([&](auto done) {
        return linvera::FetchNoticeFiles(linvera::ReadEndpoints(), m_data->path(), done);
    }));

    QCOMPARE(readFile(dataFile(u"notice.xml"_s)), notice);
    QCOMPARE(readFile(dataFile(u"tinyurls.txt"_s)), NoticeHost::sampleShortLinkRules());
    QCOMPARE(readFile(dataFile(u"picturls.txt"_s)), NoticeHost::samplePictureRules());

    const QList<QByteArray> expectedNames{QByteArray(), QByteArrayLiteral("tinyurls.txt"),
                                          QByteArrayLiteral("picturls.txt")};
    QCOMPARE(m_host->namesRequested(), expectedNames);
    QCOMPARE(m_host->versionsRequested(), QStringList{linvera::AppVersionText()});
    const QList<linvera::test::HttpTestRequest> requests = m_host->requests();
    QCOMPARE(requests.size(), 3);
    QCOMPARE(requests.at(0).target, QByteArrayLiteral("/linvera/notice/?ver=2_1_0"));
    QCOMPARE(requests.at(1).target, QByteArrayLiteral("/linvera/notice/tinyurls.txt"));
    QCOMPARE(requests.at(2).target, QByteArrayLiteral("/linvera/notice/picturls.txt"));
    for (const auto& request : requests) {
        QCOMPARE(request.method, QByteArrayLiteral("GET"));
        QCOMPARE(QString::fromLatin1(request.header("User-Agent")), linvera::HttpAgentText());
    }
    // Only the three files: no temporary file stays behind.
    QCOMPARE(QDir(m_data->path()).entryList(QDir::Files | QDir::Hidden, QDir::Name),
             (QStringList{u"notice.xml"_s, u"picturls.txt"_s, u"tinyurls.txt"_s}));
}

void TestNoticeFeed::fetchFailureKeepsOldFile_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("failure");

    const std::pair<QByteArray, QString> files[] = {
        {QByteArray(), u"notice.xml"_s},
        {QByteArrayLiteral("tinyurls.txt"), u"tinyurls.txt"_s},
        {QByteArrayLiteral("picturls.txt"), u"picturls.txt"_s},
    };
    for (const auto& [name, file] : files) {
        for (const QString& failure : {u"404"_s, u"500"_s, u"301 without target"_s, u"broken midway"_s,
                                       u"larger than any notice file"_s, u"not text"_s}) {
            QTest::addRow("%s, %s", qPrintable(file), qPrintable(failure)) << name << file << failure;
        }
    }
}

void TestNoticeFeed::fetchFailureKeepsOldFile()
{
    QFETCH(QByteArray, name);
    QFETCH(QString, file);
    QFETCH(QString, failure);

    writeOldFiles();
    const QByteArray oldBytes = readFile(dataFile(file));
    const QByteArray fresh = QByteArrayLiteral("fresh content that must not arrive\r\n").repeated(40);
    if (failure == u"404"_s)
        m_host->setFile(name, fresh, 404);
    else if (failure == u"500"_s)
        m_host->setFile(name, fresh, 500);
    else if (failure == u"301 without target"_s)
        m_host->setFile(name, fresh, 301);
    else if (failure == u"broken midway"_s) {
        m_host->setFile(name, fresh);
        m_host->setBroken(name);
    } else if (failure == u"not text"_s) {
        m_host->setFile(name, QByteArrayLiteral("\x89PNG\r\n\x1a\n\0\0\0\rIHDR"));
    } else {
        m_host->setFile(name, QByteArray(9 * 1024 * 1024, 'x'));
    }

    QVERIFY(linvera::test::awaitEnd([&](auto done) {
        return linvera::FetchNoticeFiles(linvera::ReadEndpoints(), m_data->path(), done);
    }));

    QCOMPARE(readFile(dataFile(file)), oldBytes);
    // The failed one does not stop the others.
    QCOMPARE(m_host->namesRequested().size(), 3);
    if (file != u"notice.xml"_s)
        QCOMPARE(readFile(dataFile(u"notice.xml"_s)), m_host->body({}));
    if (file != u"tinyurls.txt"_s)
        QCOMPARE(readFile(dataFile(u"tinyurls.txt"_s)), NoticeHost::sampleShortLinkRules());
    if (file != u"picturls.txt"_s)
        QCOMPARE(readFile(dataFile(u"picturls.txt"_s)), NoticeHost::samplePictureRules());
    QCOMPARE(QDir(m_data->path()).entryList(QDir::Files | QDir::Hidden).size(), 3);
}

void TestNoticeFeed::fetchEndsOnSilentServer()
{
    writeOldFiles();
    const QByteArray oldNotice = readFile(dataFile(u"notice.xml"_s));
    linvera::test::HttpTestDelivery silent;
    silent.mode = linvera::test::HttpTestDelivery::Mode::Silent;
    m_host->setDelivery(silent);
    const linvera::HttpLimits limits =
        linvera::test::WaitLimits(std::chrono::milliseconds(300), std::chrono::milliseconds(1500));

    QElapsedTimer clock;
    clock.start();
    QVERIFY(linvera::test::awaitEnd([&](auto done) {
        return linvera::FetchNoticeFiles(linvera::ReadEndpoints(), m_data->path(), done, limits);
    }));
    QVERIFY2(clock.elapsed() < 10000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(readFile(dataFile(u"notice.xml"_s)), oldNotice);
    QCOMPARE(m_host->namesRequested().size(), 3);
}

void TestNoticeFeed::fetchWithoutServerKeepsFiles()
{
    writeOldFiles();
    const QByteArray oldNotice = readFile(dataFile(u"notice.xml"_s));
    const QByteArray oldRules = readFile(dataFile(u"tinyurls.txt"_s));
    const QString closedHost = u"127.0.0.1:"_s + QString::number(linvera::test::HttpTestServer::closedPort());
    QVERIFY(linvera::SetRegString(RegRoot::LocalMachine, kEndpointsKey, u"MakerNoticeHost"_s, closedHost));
    QVERIFY(linvera::test::awaitEnd([&](auto done) {
        return linvera::FetchNoticeFiles(linvera::ReadEndpoints(), m_data->path(), done);
    }));
    QCOMPARE(readFile(dataFile(u"notice.xml"_s)), oldNotice);
    QCOMPARE(readFile(dataFile(u"tinyurls.txt"_s)), oldRules);
}

void TestNoticeFeed::fetchIntoFolderWithTrailingSlashes_data()
{
    QTest::addColumn<QString>("suffix");
    QTest::newRow("no trailing slash") << QString();
    QTest::newRow("one trailing slash") << u"/"_s;
    QTest::newRow("two trailing slashes") << u"//"_s;
}

void TestNoticeFeed::fetchIntoFolderWithTrailingSlashes()
{
    QFETCH(QString, suffix);
    QVERIFY(linvera::test::awaitEnd([&](auto done) {
        return linvera::FetchNoticeFiles(linvera::ReadEndpoints(), m_data->path() + suffix, done);
    }));
    QCOMPARE(readFile(dataFile(u"notice.xml"_s)), m_host->body({}));
    QCOMPARE(readFile(dataFile(u"picturls.txt"_s)), NoticeHost::samplePictureRules());
}

void TestNoticeFeed::fetchUsesUserDataFolder()
{
    const QString folder = linvera::platform::AppPaths::fromEnvironment().dataFolder;
    QVERIFY2(folder.startsWith(QDir::homePath()), qPrintable(folder));
    QVERIFY2(folder.startsWith(linvera::test::sandboxRoot() + u'/'), qPrintable(folder));
    QVERIFY(QDir().mkpath(folder));
    QFile::remove(linvera::platform::JoinPath(folder, u"notice.xml"_s));

    QVERIFY(linvera::test::awaitEnd([&](auto done) { return linvera::FetchNoticeFiles(done); }));

    QCOMPARE(readFile(linvera::platform::JoinPath(folder, u"notice.xml"_s)), m_host->body({}));
    QCOMPARE(readFile(linvera::platform::JoinPath(folder, u"tinyurls.txt"_s)),
             NoticeHost::sampleShortLinkRules());
}

void TestNoticeFeed::downloadEndsOnEveryOutcome_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("replaced");
    QTest::newRow("answer") << QString() << true;
    QTest::newRow("error status") << u"status"_s << false;
    QTest::newRow("connection refused") << u"refused"_s << false;
    QTest::newRow("closed without answer") << u"closed"_s << false;
    QTest::newRow("silent server") << u"silent"_s << false;
    QTest::newRow("not a web address") << u"address"_s << false;
    QTest::newRow("target folder missing") << u"folder"_s << false;
}

// Every download answers exactly once, from the event loop, within its time-outs; only a whole
// answer replaces the file.
void TestNoticeFeed::downloadEndsOnEveryOutcome()
{
    QFETCH(QString, fault);
    QFETCH(bool, replaced);
    writeOldFiles();
    const QByteArray old = readFile(dataFile(u"tinyurls.txt"_s));
    const QByteArray fresh = QByteArrayLiteral("fresh.example/\tLocation:\t\r\n");
    m_host->setFile("tinyurls.txt", fresh, fault == u"status"_s ? 500 : 200);
    linvera::test::HttpTestDelivery delivery;
    if (fault == u"closed"_s)
        delivery.mode = linvera::test::HttpTestDelivery::Mode::CloseWithoutAnswer;
    if (fault == u"silent"_s)
        delivery.mode = linvera::test::HttpTestDelivery::Mode::Silent;
    m_host->setDelivery(delivery);
    const linvera::HttpLimits limits =
        linvera::test::WaitLimits(std::chrono::milliseconds(300), std::chrono::milliseconds(1500));

    QString url = u"http://"_s + m_host->noticeHost() + u"/linvera/notice/tinyurls.txt"_s;
    if (fault == u"refused"_s)
        url = u"http://127.0.0.1:"_s + QString::number(linvera::test::HttpTestServer::closedPort()) + u"/x"_s;
    if (fault == u"address"_s)
        url = u"file:///etc/hostname"_s;
    const QString target =
        fault == u"folder"_s ? m_data->filePath(u"none/tinyurls.txt"_s) : dataFile(u"tinyurls.txt"_s);

    QList<bool> answers;
    bool inStart = true;
    bool answeredInStart = false;
    QElapsedTimer clock;
    clock.start();
    const auto download = linvera::DownloadToFile(
        url, target,
        [&](bool result) {
            answers.append(result);
            answeredInStart = answeredInStart || inStart;
        },
        limits);
    inStart = false;
    QVERIFY(QTest::qWaitFor([&] { return !answers.isEmpty(); }, 5000));
    QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!answeredInStart);
    QVERIFY(!download->isRunning());
    QTest::qWait(200);
    QCOMPARE(answers, QList<bool>{replaced});
    QCOMPARE(readFile(dataFile(u"tinyurls.txt"_s)), replaced ? fresh : old);
    QCOMPARE(QDir(m_data->path()).entryList(QDir::Files | QDir::Hidden).size(), 3);
}

void TestNoticeFeed::droppedDownloadNeverAnswers_data()
{
    QTest::addColumn<bool>("whole");
    QTest::newRow("one file") << false;
    QTest::newRow("all three") << true;
}

// Dropped while the host has not answered yet: no answer ever comes, and the old files stay with no
// temporary file left beside them.
void TestNoticeFeed::droppedDownloadNeverAnswers()
{
    QFETCH(bool, whole);
    writeOldFiles();
    const QByteArray old = readFile(dataFile(u"notice.xml"_s));
    linvera::test::HttpTestDelivery slow;
    slow.mode = linvera::test::HttpTestDelivery::Mode::Split;
    slow.chunkSize = 8;
    slow.delayMs = 100;
    m_host->setDelivery(slow);

    int answers = 0;
    if (whole) {
        auto download =
            linvera::FetchNoticeFiles(linvera::ReadEndpoints(), m_data->path(), [&] { ++answers; });
        QVERIFY(QTest::qWaitFor([&] { return m_host->requestCount() > 0; }, 3000));
        download.reset();
    } else {
        const QString url = linvera::NoticeBaseUrl(linvera::ReadEndpoints()) + u"?ver=1"_s;
        auto download = linvera::DownloadToFile(url, dataFile(u"notice.xml"_s), [&](bool) { ++answers; });
        QVERIFY(QTest::qWaitFor([&] { return m_host->requestCount() > 0; }, 3000));
        download.reset();
    }
    QTest::qWait(1500);
    QCOMPARE(answers, 0);
    QCOMPARE(readFile(dataFile(u"notice.xml"_s)), old);
    QCOMPARE(m_host->requestCount(), 1);
    QCOMPARE(QDir(m_data->path()).entryList(QDir::Files | QDir::Hidden).size(), 3);
}

// Two downloads side by side from the same silent host, one with short waits and one with long
// ones: each ends by its own time-out, so what one was given never reaches the other.
void TestNoticeFeed::limitsStayWithTheirDownload()
{
    writeOldFiles();
    const QByteArray oldNotice = readFile(dataFile(u"notice.xml"_s));
    const QByteArray oldRules = readFile(dataFile(u"tinyurls.txt"_s));
    m_host->setDelivery(linvera::test::HttpTestDelivery::silent());
    const std::chrono::milliseconds waits[] = {std::chrono::milliseconds(300),
                                               std::chrono::milliseconds(2500)};
    const QString base = linvera::NoticeBaseUrl(linvera::ReadEndpoints());
    const QString files[] = {u"notice.xml"_s, u"tinyurls.txt"_s};

    QElapsedTimer clock;
    QList<qint64> endedAt(2, -1);
    QList<bool> replaced(2, true);
    std::unique_ptr<linvera::FileDownload> downloads[2];
    clock.start();
    // The long waits start first, so that the order of the starts cannot explain the order of the ends.
    for (int i : {1, 0}) {
        downloads[i] = linvera::DownloadToFile(
            base + files[i], dataFile(files[i]),
            [&, i](bool result) {
                endedAt[i] = clock.elapsed();
                replaced[i] = result;
            },
            linvera::test::WaitLimits(waits[i], 3 * waits[i]));
    }
    QTRY_COMPARE_WITH_TIMEOUT(m_host->requestCount(), qsizetype(2), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(endedAt[0] >= 0 && endedAt[1] >= 0, 15000);
    qInfo("ended after %lld and %lld ms", endedAt[0], endedAt[1]);
    // Qt's coarse timers may fire up to 5 % early; the bounds leave twice that.
    QVERIFY2(endedAt[0] >= waits[0].count() * 90 / 100, qPrintable(QString::number(endedAt[0])));
    QVERIFY2(endedAt[0] < waits[1].count() * 90 / 100, qPrintable(QString::number(endedAt[0])));
    QVERIFY2(endedAt[1] >= waits[1].count() * 90 / 100, qPrintable(QString::number(endedAt[1])));
    QCOMPARE(replaced, QList<bool>({false, false}));
    QCOMPARE(readFile(dataFile(u"notice.xml"_s)), oldNotice);
    QCOMPARE(readFile(dataFile(u"tinyurls.txt"_s)), oldRules);
}

void TestNoticeFeed::readNoticeFeed_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<QStringList>("expected");

    const NoticeHost::Notice sample = NoticeHost::sampleNotice();
    QTest::newRow("all five, UTF-8") << NoticeHost::noticeXml(sample)
                                     << QStringList{*sample.noticeMessage, *sample.noticeUrl, QString(),
                                                    QString(), *sample.account};

    NoticeHost::Notice japanese;
    japanese.noticeMessage = u"ｻｰﾋﾞｽ停止のお知らせ＆新機能"_s;
    japanese.noticeUrl = u"http://www.halvex.example/news?a=1&b=2"_s;
    japanese.warningMessage = u"重要：ルールを更新しました"_s;
    japanese.warningUrl = u"http://www.halvex.example/warn"_s;
    japanese.account = u"halvex"_s;
    const QStringList japaneseTexts{*japanese.noticeMessage, *japanese.noticeUrl, *japanese.warningMessage,
                                    *japanese.warningUrl, *japanese.account};
    QTest::newRow("all five, Shift_JIS") << NoticeHost::noticeXml(japanese, "Shift_JIS") << japaneseTexts;
    QTest::newRow("all five, UTF-8 Japanese") << NoticeHost::noticeXml(japanese) << japaneseTexts;

    NoticeHost::Notice noWarning = japanese;
    noWarning.warningMessage.reset();
    QTest::newRow("without warning_msg") << NoticeHost::noticeXml(noWarning)
                                         << QStringList{*japanese.noticeMessage, *japanese.noticeUrl,
                                                        QString(), *japanese.warningUrl, u"halvex"_s};
    NoticeHost::Notice emptyWarning = japanese;
    emptyWarning.warningMessage = QString();
    QTest::newRow("empty warning_msg") << NoticeHost::noticeXml(emptyWarning)
                                       << QStringList{*japanese.noticeMessage, *japanese.noticeUrl, QString(),
                                                      *japanese.warningUrl, u"halvex"_s};

    QTest::newRow("another root element")
        << QByteArrayLiteral("<?xml version=\"1.0\"?>\n<notice><notice_msg>a</notice_msg><halvextwitter>b"
                             "</halvextwitter></notice>")
        << QStringList(5);
    QTest::newRow("not well-formed")
        << QByteArrayLiteral("<?xml version=\"1.0\"?>\n<linvera>\n<notice_msg>a</notice_msg>\n<notice_url>")
        << QStringList(5);
    QTest::newRow("empty file") << QByteArray() << QStringList(5);
    QTest::newRow("first of two elements")
        << QByteArrayLiteral(
               "<linvera><notice_msg>first</notice_msg><notice_msg>second</notice_msg></linvera>")
        << QStringList{u"first"_s, QString(), QString(), QString(), QString()};
    QTest::newRow("element below another is not selected")
        << QByteArrayLiteral("<linvera><x><notice_msg>deep</notice_msg></x><halvextwitter>h</halvextwitter>"
                             "</linvera>")
        << QStringList{QString(), QString(), QString(), QString(), u"h"_s};
    QTest::newRow("text content of inner markup")
        << QByteArrayLiteral("<linvera><warning_msg>a<b>c</b>d<![CDATA[<e>]]></warning_msg></linvera>")
        << QStringList{QString(), QString(), u"acd<e>"_s, QString(), QString()};
    QTest::newRow("escaped characters")
        << QByteArrayLiteral(
               "<linvera><notice_url>http://h.example/?a=1&amp;b=&#x3042;</notice_url></linvera>")
        << QStringList{QString(), u"http://h.example/?a=1&b=あ"_s, QString(), QString(), QString()};
    QTest::newRow("internal entity is expanded")
        << QByteArrayLiteral("<?xml version=\"1.0\"?>\n<!DOCTYPE linvera [<!ENTITY n \"inner\">]>\n"
                             "<linvera><notice_msg>a&n;b</notice_msg></linvera>")
        << QStringList{u"ainnerb"_s, QString(), QString(), QString(), QString()};

    QByteArray laughs = "<?xml version=\"1.0\"?>\n<!DOCTYPE linvera [<!ENTITY l0 \"lol\">";
    for (int i = 1; i <= 9; ++i)
        laughs += "<!ENTITY l" + QByteArray::number(i) + " \"" +
                  QByteArray("&l" + QByteArray::number(i - 1) + ";").repeated(10) + "\">";
    laughs += "]>\n<linvera><notice_msg>&l9;</notice_msg><halvextwitter>h</halvextwitter></linvera>";
    QTest::newRow("entity expansion bomb is refused") << laughs << QStringList(5);
}

void TestNoticeFeed::readNoticeFeed()
{
    QFETCH(QByteArray, document);
    QFETCH(QStringList, expected);

    const QString path = dataFile(u"notice.xml"_s);
    QVERIFY(writeFile(path, document));
    QElapsedTimer clock;
    clock.start();
    QString texts[5];
    linvera::ReadNoticeFeed(path, texts[0], texts[1], texts[2], texts[3], texts[4]);
    QVERIFY(clock.elapsed() < 5000);
    QCOMPARE(QStringList(std::begin(texts), std::end(texts)), expected);

    const linvera::NoticeTexts read = linvera::ReadNoticeFeed(path);
    QCOMPARE(
        (QStringList{read.noticeMessage, read.noticeUrl, read.warningMessage, read.warningUrl, read.account}),
        expected);
}

void TestNoticeFeed::readKeepsOutputsOfMissingElements()
{
    const QString path = dataFile(u"notice.xml"_s);
    QVERIFY(writeFile(path, QByteArrayLiteral("<linvera><notice_url>u</notice_url></linvera>")));
    QString message = u"m"_s, url = u"x"_s, warning = u"w"_s, warningUrl = u"wu"_s, account = u"a"_s;
    linvera::ReadNoticeFeed(path, message, url, warning, warningUrl, account);
    QCOMPARE((QStringList{message, url, warning, warningUrl, account}),
             (QStringList{u"m"_s, u"u"_s, u"w"_s, u"wu"_s, u"a"_s}));
}

void TestNoticeFeed::readMissingFile()
{
    const linvera::NoticeTexts read = linvera::ReadNoticeFeed(dataFile(u"absent.xml"_s));
    QCOMPARE(
        (QStringList{read.noticeMessage, read.noticeUrl, read.warningMessage, read.warningUrl, read.account}),
        QStringList(5));
}

void TestNoticeFeed::readNeverFetchesExternalEntities_data()
{
    QTest::addColumn<QString>("doctype");
    QTest::addColumn<QString>("body");

    QTest::newRow("entity from a file")
        << u"<!DOCTYPE linvera [<!ENTITY x SYSTEM \"file://%SECRET%\">]>"_s << u"a&x;b"_s;
    QTest::newRow("entity from the network")
        << u"<!DOCTYPE linvera [<!ENTITY x SYSTEM \"%URL%\">]>"_s << u"a&x;b"_s;
    QTest::newRow("public entity from the network")
        << u"<!DOCTYPE linvera [<!ENTITY x PUBLIC \"-//X//Y\" \"%URL%\">]>"_s << u"a&x;b"_s;
    QTest::newRow("external DTD from the network") << u"<!DOCTYPE linvera SYSTEM \"%URL%\">"_s << u"ab"_s;
    QTest::newRow("parameter entity from the network")
        << u"<!DOCTYPE linvera [<!ENTITY % p SYSTEM \"%URL%\"> %p;]>"_s << u"ab"_s;
}

void TestNoticeFeed::readNeverFetchesExternalEntities()
{
    QFETCH(QString, doctype);
    QFETCH(QString, body);

    const QString secretPath = m_registry->filePath(u"secret.txt"_s);
    QVERIFY(writeFile(secretPath, QByteArrayLiteral("TOP-SECRET")));
    linvera::test::HttpTestServer server;
    server.setRoute("/entity", linvera::test::HttpTestResponse::ok("TOP-SECRET"));
    const QString url = server.url(u"/entity"_s).toString();
    doctype.replace(u"%SECRET%"_s, secretPath).replace(u"%URL%"_s, url);

    const QString document = u"<?xml version=\"1.0\"?>\n"_s + doctype + u"\n<linvera><notice_msg>"_s + body +
                             u"</notice_msg><halvextwitter>h</halvextwitter></linvera>"_s;
    const QString path = dataFile(u"notice.xml"_s);
    QVERIFY(writeFile(path, document.toUtf8()));

    const linvera::NoticeTexts read = linvera::ReadNoticeFeed(path);
    QVERIFY2(!read.noticeMessage.contains(u"SECRET"_s), qPrintable(read.noticeMessage));
    // Give a stray request time to arrive before saying none came.
    QVERIFY(!server.waitForConnections(1, 300));
    QCOMPARE(server.requestCount(), 0);
}

void TestNoticeFeed::readsDefaultNoticeFile()
{
    // The copy beside the executables that start-up places into a new data folder.
    const QString path = QDir(linvera::test::programDir()).filePath(u"notice.xml"_s);
    QVERIFY(QFile::exists(path));
    const linvera::NoticeTexts read = linvera::ReadNoticeFeed(path);
    QVERIFY(!read.noticeMessage.isEmpty());
    QVERIFY(read.noticeUrl.startsWith(u"http://"_s));
    QVERIFY(read.warningMessage.isEmpty());
    QVERIFY(!read.account.isEmpty());
}

QTEST_GUILESS_MAIN(TestNoticeFeed)
#include "tst_noticefeed.moc"
