#include "capture/CaptureNames.h"
#include "capture/CaptureSaver.h"
#include "platform/AnsiCodec.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QTemporaryDir>
#include <QTest>

using namespace linvera::capture;
using linvera::platform::AnsiCodec;

namespace {

// A screen picture whose every pixel is unique enough that a shifted crop never matches.
QImage ScreenPicture(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x)
            image.setPixel(x, y,
                           qRgb((x * 7 + y * 3) & 0xff, (x * 13 + y * 5) & 0xff, (x * 3 + y * 11) & 0xff));
    }
    return image;
}

const QDateTime Moment(QDate(2014, 1, 5), QTime(9, 5, 7));
const QLocale Japanese(QLocale::Japanese, QLocale::Japan);

} // namespace

class TestCaptureSaver : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();

    void datedStem_data();
    void datedStem();
    void roundHalfEven_data();
    void roundHalfEven();
    void truncateToAnsiBytes_data();
    void truncateToAnsiBytes();

    void savesInsideTheBorder_data();
    void savesInsideTheBorder();
    void formatFollowsTheSetting_data();
    void formatFollowsTheSetting();
    void secondCaptureInTheSameSecondGetsACounter();
    void missingDesktopFolderIsMade();
    void failedWriteChangesNoPreview();

private:
    CaptureTarget target(PictureFormat format = PictureFormat::Png) const
    {
        return CaptureTarget{m_dir->filePath(QStringLiteral("Desktop")),
                             m_dir->filePath(QStringLiteral("tmp")), format};
    }
    QStringList desktopFiles() const
    {
        return QDir(target().desktopFolder).entryList(QDir::Files, QDir::Name);
    }

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestCaptureSaver::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestCaptureSaver::datedStem_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QDateTime>("when");
    QTest::addColumn<QString>("stem");
    QTest::newRow("Japanese, single-digit hour")
        << Japanese << Moment << QStringLiteral("2014_01_05_9_05_07");
    QTest::newRow("Japanese, afternoon") << Japanese << QDateTime(QDate(2026, 12, 31), QTime(23, 59, 59))
                                         << QStringLiteral("2026_12_31_23_59_59");
    QTest::newRow("Japanese, midnight")
        << Japanese << QDateTime(QDate(2026, 1, 1), QTime(0, 0, 0)) << QStringLiteral("2026_01_01_0_00_00");
}

void TestCaptureSaver::datedStem()
{
    QFETCH(QLocale, locale);
    QFETCH(QDateTime, when);
    QFETCH(QString, stem);
    QCOMPARE(DatedCaptureStem(when, locale), stem);
}

void TestCaptureSaver::roundHalfEven_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("rounded");
    QTest::newRow("half down to even") << 0.5 << 0;
    QTest::newRow("half up to even") << 1.5 << 2;
    QTest::newRow("two and a half") << 2.5 << 2;
    QTest::newRow("negative half") << -0.5 << 0;
    QTest::newRow("negative one and a half") << -1.5 << -2;
    QTest::newRow("below half") << 2.49 << 2;
    QTest::newRow("above half") << 2.51 << 3;
}

void TestCaptureSaver::roundHalfEven()
{
    QFETCH(double, value);
    QFETCH(int, rounded);
    QCOMPARE(RoundHalfEven(value), rounded);
}

void TestCaptureSaver::truncateToAnsiBytes_data()
{
    QTest::addColumn<int>("codePage");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("maxBytes");
    QTest::addColumn<QString>("kept");
    const QString kanji = QString(1000, QChar(u'窓'));
    const int sjis = int(AnsiCodec::CodePage::Windows31J);
    const int utf8 = int(AnsiCodec::CodePage::Utf8);
    QTest::newRow("short title unchanged")
        << sjis << QStringLiteral(u"メモ帳") << 999 << QStringLiteral(u"メモ帳");
    QTest::newRow("ASCII at the limit") << utf8 << QString(999, u'a') << 999 << QString(999, u'a');
    QTest::newRow("ASCII over the limit") << utf8 << QString(1000, u'a') << 999 << QString(999, u'a');
    // Two bytes a character in windows-31j: 499 whole characters fit in 999 bytes.
    QTest::newRow("double-byte never split") << sjis << kanji << 999 << QString(499, QChar(u'窓'));
    // Three bytes a character in UTF-8: 333 fit exactly.
    QTest::newRow("UTF-8 three-byte characters") << utf8 << kanji << 999 << QString(333, QChar(u'窓'));
    QTest::newRow("half-width kana one byte")
        << sjis << QString(1200, QChar(u'ｱ')) << 999 << QString(999, QChar(u'ｱ'));
    QTest::newRow("surrogate pair kept whole")
        << utf8 << QStringLiteral(u"ab😀") << 5 << QStringLiteral(u"ab");
}

void TestCaptureSaver::truncateToAnsiBytes()
{
    QFETCH(int, codePage);
    QFETCH(QString, text);
    QFETCH(int, maxBytes);
    QFETCH(QString, kept);
    AnsiCodec::select(AnsiCodec::CodePage(codePage));
    QCOMPARE(TruncateToAnsiBytes(text, maxBytes), kept);
}

void TestCaptureSaver::savesInsideTheBorder_data()
{
    QTest::addColumn<QPoint>("origin");
    QTest::addColumn<QRect>("outer");    // left, top, right, bottom as x, y, x2, y2 of the call
    QTest::addColumn<QRect>("expected"); // in screen coordinates; empty: nothing saved
    QTest::newRow("inside the screen")
        << QPoint(0, 0) << QRect(QPoint(10, 20), QPoint(110, 70)) << QRect(11, 21, 98, 48);
    QTest::newRow("3 x 3 keeps one pixel")
        << QPoint(0, 0) << QRect(QPoint(5, 5), QPoint(8, 8)) << QRect(6, 6, 1, 1);
    QTest::newRow("2 pixels wide saves nothing")
        << QPoint(0, 0) << QRect(QPoint(5, 5), QPoint(7, 50)) << QRect();
    QTest::newRow("2 pixels high saves nothing")
        << QPoint(0, 0) << QRect(QPoint(5, 5), QPoint(50, 7)) << QRect();
    QTest::newRow("maximised window past every edge")
        << QPoint(0, 0) << QRect(QPoint(-4, -4), QPoint(324, 244)) << QRect(0, 0, 320, 240);
    QTest::newRow("partly right of the screen")
        << QPoint(0, 0) << QRect(QPoint(300, 200), QPoint(400, 300)) << QRect(301, 201, 19, 39);
    QTest::newRow("wholly outside saves nothing")
        << QPoint(0, 0) << QRect(QPoint(500, 500), QPoint(600, 600)) << QRect();
    QTest::newRow("desktop left of the primary screen")
        << QPoint(-100, 0) << QRect(QPoint(-50, 10), QPoint(50, 60)) << QRect(-49, 11, 98, 48);
    QTest::newRow("arithmetic beyond any screen")
        << QPoint(0, 0) << QRect(QPoint(-2147483647, 0), QPoint(2147483647, 50)) << QRect();
}

void TestCaptureSaver::savesInsideTheBorder()
{
    QFETCH(QPoint, origin);
    QFETCH(QRect, outer);
    QFETCH(QRect, expected);
    const QImage screen = ScreenPicture(QSize(320, 240));
    const SaveResult result = SaveCaptureRect(screen, origin, outer.left(), outer.top(), outer.right(),
                                              outer.bottom(), target(), Moment, Japanese);
    if (expected.isEmpty()) {
        QCOMPARE(result.status, SaveResult::Status::NothingInside);
        QVERIFY(result.postPath.isEmpty());
        QVERIFY(desktopFiles().isEmpty());
        QVERIFY(!QFile::exists(target().tempFolder + QStringLiteral("/hvxLinveraPreview.png")));
        return;
    }
    QCOMPARE(result.status, SaveResult::Status::Saved);
    QCOMPARE(result.postPath, target().desktopFolder + QStringLiteral("/2014_01_05_9_05_07.png"));
    QCOMPARE(result.displayPath, target().tempFolder + QStringLiteral("/hvxLinveraPreview.png"));
    const QImage saved(result.postPath);
    QCOMPARE(saved.size(), expected.size());
    QCOMPARE(saved.convertToFormat(QImage::Format_RGB32), screen.copy(expected.translated(-origin)));
    QCOMPARE(QImage(result.displayPath).convertToFormat(QImage::Format_RGB32),
             saved.convertToFormat(QImage::Format_RGB32));
}

void TestCaptureSaver::formatFollowsTheSetting_data()
{
    QTest::addColumn<PictureFormat>("format");
    QTest::addColumn<QString>("extension");
    QTest::addColumn<QByteArray>("readAs");
    QTest::newRow("PNG") << PictureFormat::Png << QStringLiteral("png") << QByteArray("png");
    QTest::newRow("JPEG") << PictureFormat::Jpeg << QStringLiteral("jpg") << QByteArray("jpeg");
}

void TestCaptureSaver::formatFollowsTheSetting()
{
    QFETCH(PictureFormat, format);
    QFETCH(QString, extension);
    QFETCH(QByteArray, readAs);
    const QImage screen = ScreenPicture(QSize(200, 200));
    const SaveResult result =
        SaveCaptureRect(screen, QPoint(), 0, 0, 102, 82, target(format), Moment, Japanese);
    QCOMPARE(result.status, SaveResult::Status::Saved);
    QVERIFY(result.postPath.endsWith(u'.' + extension));
    QVERIFY(result.displayPath.endsWith(QStringLiteral("hvxLinveraPreview.") + extension));
    QImageReader reader(result.postPath);
    QCOMPARE(reader.format(), readAs);
    QCOMPARE(reader.size(), QSize(100, 80));
    if (format == PictureFormat::Jpeg) {
        // Quality 80 on this busy pattern lands well between the extremes: compare with both ends.
        const qint64 size = QFileInfo(result.postPath).size();
        QBuffer low, high;
        QImageWriter(&low, "jpeg").write(screen.copy(1, 1, 100, 80)); // default quality 75 for reference
        QImageWriter w100(&high, "jpeg");
        w100.setQuality(100);
        w100.write(screen.copy(1, 1, 100, 80));
        QVERIFY2(size > low.size() && size < high.size(), qPrintable(QString::number(size)));
    }
}

void TestCaptureSaver::secondCaptureInTheSameSecondGetsACounter()
{
    const QImage screen = ScreenPicture(QSize(100, 100));
    QImage other = screen;
    other.fill(Qt::red);
    QStringList posts;
    for (const QImage& picture : {screen, other, screen}) {
        const SaveResult result =
            SaveCaptureRect(picture, QPoint(), 0, 0, 50, 50, target(), Moment, Japanese);
        QCOMPARE(result.status, SaveResult::Status::Saved);
        posts.append(QFileInfo(result.postPath).fileName());
    }
    QCOMPARE(posts, (QStringList{QStringLiteral("2014_01_05_9_05_07.png"),
                                 QStringLiteral("2014_01_05_9_05_07_2.png"),
                                 QStringLiteral("2014_01_05_9_05_07_3.png")}));
    // The first picture is still the first one; the preview is the last one.
    QCOMPARE(QImage(target().desktopFolder + u'/' + posts[0]).convertToFormat(QImage::Format_RGB32),
             screen.copy(1, 1, 48, 48));
    QCOMPARE(QImage(target().desktopFolder + u'/' + posts[1]).pixel(0, 0), qRgb(255, 0, 0));
    QCOMPARE(QImage(target().tempFolder + QStringLiteral("/hvxLinveraPreview.png"))
                 .convertToFormat(QImage::Format_RGB32),
             screen.copy(1, 1, 48, 48));
}

void TestCaptureSaver::missingDesktopFolderIsMade()
{
    CaptureTarget deep = target();
    deep.desktopFolder = m_dir->filePath(QStringLiteral("home/user/デスクトップ"));
    const SaveResult result =
        SaveCaptureRect(ScreenPicture(QSize(40, 40)), QPoint(), 0, 0, 20, 20, deep, Moment, Japanese);
    QCOMPARE(result.status, SaveResult::Status::Saved);
    QVERIFY(QFile::exists(deep.desktopFolder + QStringLiteral("/2014_01_05_9_05_07.png")));
}

void TestCaptureSaver::failedWriteChangesNoPreview()
{
    // An earlier capture's preview, then a desktop "folder" that is a file.
    const QImage screen = ScreenPicture(QSize(40, 40));
    QCOMPARE(SaveCaptureRect(screen, QPoint(), 0, 0, 20, 20, target(), Moment, Japanese).status,
             SaveResult::Status::Saved);
    const QString preview = target().tempFolder + QStringLiteral("/hvxLinveraPreview.png");
    const QImage before(preview);
    CaptureTarget blocked = target();
    blocked.desktopFolder = m_dir->filePath(QStringLiteral("not-a-folder"));
    QFile blocker(blocked.desktopFolder);
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QImage red = screen;
    red.fill(Qt::red);
    const SaveResult result = SaveCaptureRect(red, QPoint(), 0, 0, 20, 20, blocked, Moment, Japanese);
    QCOMPARE(result.status, SaveResult::Status::WriteFailed);
    QVERIFY(result.postPath.isEmpty());
    QVERIFY(!result.failedPath.isEmpty());
    QCOMPARE(QImage(preview), before);
}

QTEST_GUILESS_MAIN(TestCaptureSaver)
#include "tst_capturesaver.moc"
