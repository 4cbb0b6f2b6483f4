// Data dropped onto the main window or one of its four boxes: text starts a conversion, anything else
// changes nothing.
#include "app/ui/TextDrop.h"
#include "app/ui/frmMain.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>

using namespace linvera;
using namespace Qt::StringLiterals;

namespace {

enum class Payload { Text, TextWithCharset, FileUrl, TextAndUrl, Html };

std::unique_ptr<QMimeData> makeData(Payload payload, const QString& text)
{
    auto data = std::make_unique<QMimeData>();
    switch (payload) {
    case Payload::Text:
        data->setText(text);
        break;
    case Payload::TextWithCharset:
        data->setData(u"text/plain;charset=utf-8"_s, text.toUtf8());
        break;
    case Payload::FileUrl:
        data->setUrls({QUrl::fromLocalFile(u"/tmp/picture.png"_s)});
        break;
    case Payload::TextAndUrl:
        data->setUrls({QUrl(text)});
        data->setText(text);
        break;
    case Payload::Html:
        data->setHtml(u"<a href=\"http://html.example/\">link</a>"_s);
        break;
    }
    return data;
}

QWidget* dropTarget(frmMain& window, const QString& name)
{
    if (name == u"frmMain"_s)
        return &window;
    if (name == u"txtAfterDecode"_s)
        return window.txtAfterDecode()->viewport();
    return window.findChild<QWidget*>(name);
}

} // namespace

Q_DECLARE_METATYPE(Payload)

class TestMainDrops : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void droppedText_data();
    void droppedText();
    void drop_data();
    void drop();
    void moveOnlyDrag();
};

void TestMainDrops::droppedText_data()
{
    QTest::addColumn<Payload>("payload");
    QTest::addColumn<bool>("offersText");
    QTest::newRow("plain text") << Payload::Text << true;
    QTest::newRow("plain text with a charset") << Payload::TextWithCharset << true;
    QTest::newRow("file URL only") << Payload::FileUrl << false;
    QTest::newRow("text beside a URL list") << Payload::TextAndUrl << true;
    QTest::newRow("HTML only") << Payload::Html << false;
}

void TestMainDrops::droppedText()
{
    QFETCH(Payload, payload);
    QFETCH(bool, offersText);
    const QString text = u"http://drop.example/日本語"_s;
    const auto data = makeData(payload, text);
    const auto found = DroppedText(data.get());
    QCOMPARE(found.has_value(), offersText);
    if (offersText)
        QCOMPARE(*found, text);
    QVERIFY(!DroppedText(nullptr).has_value());
}

void TestMainDrops::drop_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<Payload>("payload");
    QTest::addColumn<bool>("converts");

    const QStringList targets{u"frmMain"_s, u"txtBeforeUrl"_s, u"txtBeforeDecode"_s, u"txtAfterUrl"_s,
                              u"txtAfterDecode"_s};
    for (const QString& target : targets) {
        QTest::addRow("text onto %s", qPrintable(target)) << target << Payload::Text << true;
        QTest::addRow("file URL onto %s", qPrintable(target)) << target << Payload::FileUrl << false;
    }
    QTest::newRow("browser selection with a URL list") << u"txtAfterUrl"_s << Payload::TextAndUrl << true;
    QTest::newRow("HTML without text") << u"frmMain"_s << Payload::Html << false;
}

void TestMainDrops::drop()
{
    QFETCH(QString, target);
    QFETCH(Payload, payload);
    QFETCH(bool, converts);

    frmMain window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.setBeforeUrl(u"before"_s);
    window.setBeforeInfo(u"decoded"_s);
    window.setAfterUrl(u"after"_s);
    window.setAfterInfo(u"info"_s);
    QSignalSpy conversions(&window, &frmMain::conversionRequested);

    QWidget* widget = dropTarget(window, target);
    QVERIFY(widget);
    const QString text = u"http://dropped.example/page?q=1"_s;
    const auto data = makeData(payload, text);
    const QPoint where(5, 5);

    QDragEnterEvent enter(where, Qt::CopyAction | Qt::MoveAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &enter);
    QCOMPARE(enter.isAccepted(), converts);

    QDropEvent dropEvent(QPointF(where), Qt::CopyAction | Qt::MoveAction, data.get(), Qt::LeftButton,
                         Qt::ControlModifier);
    QApplication::sendEvent(widget, &dropEvent);
    QCOMPARE(dropEvent.isAccepted(), converts);

    QCOMPARE(conversions.size(), converts ? 1 : 0);
    QCOMPARE(window.beforeUrl(), converts ? text : u"before"_s);
    // Only txtBeforeUrl changes; the box under the drop does not take the text itself.
    QCOMPARE(window.txtBeforeDecode()->text(), u"decoded"_s);
    QCOMPARE(window.afterUrl(), u"after"_s);
    QCOMPARE(window.txtAfterDecode()->toPlainText(), u"info"_s);
}

void TestMainDrops::moveOnlyDrag()
{
    frmMain window;
    QSignalSpy conversions(&window, &frmMain::conversionRequested);
    const auto data = makeData(Payload::Text, u"http://moved.example/"_s);
    QDragEnterEvent enter(QPoint(3, 3), Qt::MoveAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.txtBeforeUrl(), &enter);
    QVERIFY(enter.isAccepted());
    QCOMPARE(enter.dropAction(), Qt::MoveAction);
    QDropEvent dropEvent(QPointF(3, 3), Qt::MoveAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.txtBeforeUrl(), &dropEvent);
    QVERIFY(dropEvent.isAccepted());
    QCOMPARE(conversions.size(), 1);
    QCOMPARE(window.beforeUrl(), u"http://moved.example/"_s);
}

QTEST_MAIN(TestMainDrops)
#include "tst_maindrops.moc"
