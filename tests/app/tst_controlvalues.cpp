// Stored setting values applied to check boxes and lists.
#include "app/ui/ControlValues.h"

#include <QCheckBox>
#include <QComboBox>
#include <QSignalSpy>
#include <QTest>

using namespace linvera;
using namespace Qt::StringLiterals;

class TestControlValues : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void checkValue_data();
    void checkValue();
    void grayedBoxClicksBackToTwoStates();
    void listIndex_data();
    void listIndex();
};

void TestControlValues::checkValue_data()
{
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("value");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("changes");

    QTest::newRow("0 to 1") << 0 << 1 << true << 1 << 1;
    QTest::newRow("1 to 0") << 1 << 0 << true << 0 << 1;
    QTest::newRow("1 to 1 raises nothing") << 1 << 1 << true << 1 << 0;
    QTest::newRow("0 to grayed") << 0 << 2 << true << 2 << 1;
    QTest::newRow("3 is refused") << 1 << 3 << false << 1 << 0;
    QTest::newRow("-1 is refused") << 0 << -1 << false << 0 << 0;
    QTest::newRow("65535 is refused") << 0 << 65535 << false << 0 << 0;
}

void TestControlValues::checkValue()
{
    QFETCH(int, start);
    QFETCH(int, value);
    QCheckBox box;
    QVERIFY(SetCheckValue(box, start));
    QSignalSpy changes(&box, &QCheckBox::stateChanged);
    QTEST(SetCheckValue(box, value), "accepted");
    QTEST(CheckValue(box), "result");
    QTEST(int(changes.size()), "changes");
}

void TestControlValues::grayedBoxClicksBackToTwoStates()
{
    QCheckBox box;
    box.show();
    QVERIFY(SetCheckValue(box, 2));
    QCOMPARE(CheckValue(box), 2);
    box.click();
    QVERIFY(CheckValue(box) != 2);
    box.click();
    box.click();
    box.click();
    // Clicks never lead back into the grayed state.
    QVERIFY(CheckValue(box) != 2);
    QVERIFY(!box.isTristate());
}

void TestControlValues::listIndex_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<int>("current");
    QTest::newRow("first") << 0 << true << 0;
    QTest::newRow("second") << 1 << true << 1;
    QTest::newRow("none") << -1 << true << -1;
    QTest::newRow("past the end is refused") << 2 << false << 1;
    QTest::newRow("below -1 is refused") << -2 << false << 1;
}

void TestControlValues::listIndex()
{
    QFETCH(int, index);
    QComboBox list;
    list.addItems({u"PNG"_s, u"JPEG"_s});
    list.setCurrentIndex(1);
    QTEST(SetListIndex(list, index), "accepted");
    QTEST(list.currentIndex(), "current");
}

QTEST_MAIN(TestControlValues)
#include "tst_controlvalues.moc"
