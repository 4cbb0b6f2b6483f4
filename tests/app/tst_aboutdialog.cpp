// The about dialog: title, version text and its fixed labels.
#include "app/ui/AboutDialog.h"
#include "platform/AppInfo.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

using namespace linvera;
using namespace Qt::StringLiterals;

class TestAboutDialog : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void versionText_data();
    void versionText();
    void content();
    void okCloses();
};

void TestAboutDialog::versionText_data()
{
    QTest::addColumn<QString>("appVersion");
    QTest::addColumn<QString>("shown");
    QTest::newRow("this version") << u"2_1_0"_s << u"Kemo　Ver.2.1"_s;
    QTest::newRow("two-digit parts") << u"10_12_3"_s << u"Kemo　Ver.10.12"_s;
    QTest::newRow("major only") << u"3"_s << u"Kemo　Ver.3"_s;
}

void TestAboutDialog::versionText()
{
    QFETCH(QString, appVersion);
    QTEST(AboutVersionText(appVersion), "shown");
}

void TestAboutDialog::content()
{
    AboutDialog dialog;
    QCOMPARE(dialog.objectName(), u"AboutDialog"_s);
    QCOMPARE(dialog.windowTitle(), AppTitle());
    QCOMPARE(dialog.lblVersion()->objectName(), u"lblVersion"_s);
    // One ideographic space (U+3000) between the name and the version.
    QCOMPARE(dialog.lblVersion()->text(), QString(u"Kemo" + QString(QChar(0x3000)) + u"Ver.2.1"));
    auto* label1 = dialog.findChild<QLabel*>(u"Label1"_s);
    QVERIFY(label1);
    QCOMPARE(label1->text(), u"(別名：Halvex URL短縮変換)"_s);
    auto* icon = dialog.findChild<QLabel*>(u"IconImage"_s);
    QVERIFY(icon);
    QVERIFY(!icon->pixmap().isNull());
    QCOMPARE(dialog.OKButton()->text(), u"OK"_s);
    QCOMPARE(dialog.OKButton()->objectName(), u"OKButton"_s);
}

void TestAboutDialog::okCloses()
{
    AboutDialog dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    dialog.OKButton()->click();
    QVERIFY(!dialog.isVisible());
}

QTEST_MAIN(TestAboutDialog)
#include "tst_aboutdialog.moc"
