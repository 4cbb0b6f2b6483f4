// The real message boxes: icon, title, text and buttons as asked, and the button pressed as the answer.
#include "app/ui/WidgetMessageBoxes.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

using namespace linvera;
using namespace Qt::StringLiterals;
using Boxes = platform::MessageBoxes;

Q_DECLARE_METATYPE(Boxes::Icon)
Q_DECLARE_METATYPE(Boxes::Buttons)
Q_DECLARE_METATYPE(Boxes::Answer)

class TestWidgetMessageBoxes : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void answers_data();
    void answers();
};

void TestWidgetMessageBoxes::answers_data()
{
    QTest::addColumn<Boxes::Icon>("icon");
    QTest::addColumn<Boxes::Buttons>("buttons");
    QTest::addColumn<int>("qtIcon");
    QTest::addColumn<QList<int>>("qtButtons");
    QTest::addColumn<int>("press"); // a button; -1 Escape; -2 the box ends with none pressed
    QTest::addColumn<Boxes::Answer>("answer");

    QTest::newRow("information OK") << Boxes::Icon::Information << Boxes::Buttons::Ok
                                    << int(QMessageBox::Information) << QList<int>{QMessageBox::Ok}
                                    << int(QMessageBox::Ok) << Boxes::Answer::Ok;
    QTest::newRow("exclamation Yes") << Boxes::Icon::Exclamation << Boxes::Buttons::YesNo
                                     << int(QMessageBox::Warning)
                                     << QList<int>{QMessageBox::Yes, QMessageBox::No} << int(QMessageBox::Yes)
                                     << Boxes::Answer::Yes;
    QTest::newRow("exclamation No") << Boxes::Icon::Exclamation << Boxes::Buttons::YesNo
                                    << int(QMessageBox::Warning)
                                    << QList<int>{QMessageBox::Yes, QMessageBox::No} << int(QMessageBox::No)
                                    << Boxes::Answer::No;
    QTest::newRow("stop Cancel") << Boxes::Icon::Stop << Boxes::Buttons::OkCancel
                                 << int(QMessageBox::Critical)
                                 << QList<int>{QMessageBox::Ok, QMessageBox::Cancel}
                                 << int(QMessageBox::Cancel) << Boxes::Answer::Cancel;
    QTest::newRow("question closed with Escape")
        << Boxes::Icon::Question << Boxes::Buttons::YesNo << int(QMessageBox::Question)
        << QList<int>{QMessageBox::Yes, QMessageBox::No} << -1 << Boxes::Answer::No;
    QTest::newRow("Yes/No ended unanswered: No")
        << Boxes::Icon::Exclamation << Boxes::Buttons::YesNo << int(QMessageBox::Warning)
        << QList<int>{QMessageBox::Yes, QMessageBox::No} << -2 << Boxes::Answer::No;
    QTest::newRow("OK/Cancel ended unanswered: Cancel")
        << Boxes::Icon::Stop << Boxes::Buttons::OkCancel << int(QMessageBox::Critical)
        << QList<int>{QMessageBox::Ok, QMessageBox::Cancel} << -2 << Boxes::Answer::Cancel;
    QTest::newRow("OK ended unanswered: OK")
        << Boxes::Icon::Information << Boxes::Buttons::Ok << int(QMessageBox::Information)
        << QList<int>{QMessageBox::Ok} << -2 << Boxes::Answer::Ok;
    QTest::newRow("no icon") << Boxes::Icon::None << Boxes::Buttons::Ok << int(QMessageBox::NoIcon)
                             << QList<int>{QMessageBox::Ok} << int(QMessageBox::Ok) << Boxes::Answer::Ok;
}

void TestWidgetMessageBoxes::answers()
{
    QFETCH(Boxes::Icon, icon);
    QFETCH(Boxes::Buttons, buttons);
    QFETCH(int, qtIcon);
    QFETCH(QList<int>, qtButtons);
    QFETCH(int, press);

    const QString title = u"Kemo 　(Halvex URL短縮変換)"_s;
    const QString text = u"/home/user/log.txt を削除しますよろしいですか？\r\n<b>not markup</b>"_s;
    bool inspected = false;
    QString failure;
    QTimer::singleShot(0, this, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) {
            failure = u"no modal message box"_s;
            return;
        }
        inspected = true;
        if (box->icon() != QMessageBox::Icon(qtIcon))
            failure = u"icon"_s;
        else if (box->windowTitle() != title)
            failure = u"title"_s;
        else if (box->text() != text)
            failure = u"text"_s;
        else if (box->textFormat() != Qt::PlainText)
            failure = u"text format"_s;
        QList<int> shownButtons;
        for (QAbstractButton* button : box->buttons())
            shownButtons.append(int(box->standardButton(button)));
        std::sort(shownButtons.begin(), shownButtons.end());
        QList<int> wanted = qtButtons;
        std::sort(wanted.begin(), wanted.end());
        if (failure.isEmpty() && shownButtons != wanted)
            failure = u"buttons"_s;
        if (press == -2)
            box->hide(); // ends its loop as leaving the program's event loops does
        else if (press < 0)
            QTest::keyClick(box, Qt::Key_Escape);
        else
            box->button(QMessageBox::StandardButton(press))->click();
    });

    WidgetMessageBoxes boxes;
    const Boxes::Answer answer = boxes.show(icon, title, text, buttons);
    QVERIFY(inspected);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    QTEST(answer, "answer");
}

QTEST_MAIN(TestWidgetMessageBoxes)
#include "tst_widgetmessageboxes.moc"
