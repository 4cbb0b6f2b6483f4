// The settings dialog: its controls and captions, hide-on-close, the registration boxes and the log buttons.
#include "RecordingMessageBoxes.h"
#include "app/ui/ControlValues.h"
#include "app/ui/frmSettings.h"
#include "platform/AppInfo.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace linvera;
using namespace Qt::StringLiterals;

using Box = RecordingMessageBoxes;

class TestSettingsDialog : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void captions_data();
    void captions();
    void frames_data();
    void frames();
    void lists();
    void shortUrlItemsFollowEndpoints();
    void passwordIsMasked();
    void serviceFieldsFollowChoice_data();
    void serviceFieldsFollowChoice();
    void serviceFieldsKeepEachService();
    void closeOnlyHides_data();
    void closeOnlyHides();
    void registrationBoxes_data();
    void registrationBoxes();
    void showLog();
    void deleteLog_data();
    void deleteLog();
};

void TestSettingsDialog::captions_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<bool>("checked");

    QTest::newRow("btnDeleteLog") << u"btnDeleteLog"_s << u"ログ削除"_s << false;
    QTest::newRow("btnShowLog") << u"btnShowLog"_s << u"ログ表示"_s << false;
    QTest::newRow("chkLoginSave") << u"chkLoginSave"_s << u"ﾚｼﾞｽﾄﾘに保存"_s << false;
    QTest::newRow("chkPassSave") << u"chkPassSave"_s << u"ﾚｼﾞｽﾄﾘに保存"_s << false;
    QTest::newRow("chkToolBarIcon") << u"chkToolBarIcon"_s << u"ｲﾝﾀｰﾈｯﾄｴｸｽﾌﾟﾛｰﾗｰにﾂｰﾙﾊﾞｰｱｲｺﾝを登録"_s
                                    << false;
    QTest::newRow("chkMenuExt") << u"chkMenuExt"_s << u"ｲﾝﾀｰﾈｯﾄｴｸｽﾌﾟﾛｰﾗｰの右ｸﾘｯｸﾒﾆｭｰに登録"_s << false;
    QTest::newRow("chkFollowRedirects")
        << u"chkFollowRedirects"_s << u"リダイレクトを最後までたどる"_s << false;
    QTest::newRow("OKButton") << u"OKButton"_s << u"閉じる"_s << false;
}

void TestSettingsDialog::captions()
{
    QFETCH(QString, name);
    QFETCH(bool, checked);
    RecordingMessageBoxes boxes;
    frmSettings dialog(boxes);
    QCOMPARE(dialog.objectName(), u"frmSettings"_s);
    QCOMPARE(dialog.windowTitle(), u"各種設定"_s);
    auto* button = dialog.findChild<QAbstractButton*>(name);
    QVERIFY(button);
    QTEST(button->text(), "caption");
    QCOMPARE(button->isChecked(), checked);
}

void TestSettingsDialog::frames_data()
{
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QStringList>("controls");
    QTest::addColumn<QStringList>("labels");

    QTest::newRow("capture format") << u"画面キャプチャの出力形式"_s << QStringList{u"lstImageType"_s}
                                    << QStringList{};
    QTest::newRow("short url form") << u"短縮URLの形式"_s << QStringList{u"lstShortURLType"_s}
                                    << QStringList{};
    QTest::newRow("log") << u"URL変換ﾛｸﾞの設定"_s << QStringList{u"btnDeleteLog"_s, u"btnShowLog"_s}
                         << QStringList{};
    QTest::newRow("login") << u"Twitter ログイン設定"_s
                           << QStringList{u"txtLogin"_s, u"txtPass"_s, u"chkLoginSave"_s, u"chkPassSave"_s}
                           << QStringList{u"ログイン名"_s, u"パスワード"_s};
    QTest::newRow("browser plug-in") << u"ｲﾝﾀｰﾈｯﾄｴｸｽﾌﾟﾛｰﾗｰ用ﾌﾟﾗｸﾞｲﾝ設定"_s
                                     << QStringList{u"chkToolBarIcon"_s, u"chkMenuExt"_s}
                                     << QStringList{u"※設定変更時はｲﾝﾀｰﾈｯﾄｴｸｽﾌﾟﾛｰﾗｰを再起動してください"_s};
}

void TestSettingsDialog::frames()
{
    QFETCH(QString, caption);
    QFETCH(QStringList, controls);
    QFETCH(QStringList, labels);
    RecordingMessageBoxes boxes;
    frmSettings dialog(boxes);
    QGroupBox* frame = nullptr;
    for (QGroupBox* candidate : dialog.findChildren<QGroupBox*>()) {
        if (candidate->title() == caption)
            frame = candidate;
    }
    QVERIFY2(frame, qPrintable(caption));
    for (const QString& name : controls)
        QVERIFY2(frame->findChild<QWidget*>(name), qPrintable(name));
    QStringList texts;
    for (QLabel* label : frame->findChildren<QLabel*>())
        texts.append(label->text());
    for (const QString& text : labels)
        QVERIFY2(texts.contains(text), qPrintable(text));
}

void TestSettingsDialog::lists()
{
    RecordingMessageBoxes boxes;
    frmSettings dialog(boxes);
    QComboBox* imageType = dialog.lstImageType();
    QCOMPARE(imageType->objectName(), u"lstImageType"_s);
    QCOMPARE(imageType->count(), 2);
    QCOMPARE(imageType->itemText(0), u"PNG"_s);
    QCOMPARE(imageType->itemText(1), u"JPEG"_s);
    QVERIFY(!imageType->isEditable());
    QCOMPARE(dialog.lstShortURLType()->count(), 6);
    QCOMPARE(dialog.lstShortURLType()->itemText(2), u"is.gd（登録不要）"_s);
    QCOMPARE(dialog.lstShortURLType()->itemText(3), u"v.gd（登録不要）"_s);
    QCOMPARE(dialog.lstShortURLType()->itemText(4), u"YOURLS（自分のサーバー）"_s);
    QCOMPARE(dialog.lstShortURLType()->itemText(5), u"Shlink（自分のサーバー）"_s);
    QCOMPARE(dialog.lstShortURLType()->itemText(0),
             u"http://"_s + Endpoints::defaultValue(Endpoints::ShortenerAltDomain) + u"/****"_s);
    QCOMPARE(dialog.lstShortURLType()->itemText(1),
             u"http://"_s + Endpoints::defaultValue(Endpoints::ShortenerDomain) + u"/****"_s);
}

void TestSettingsDialog::shortUrlItemsFollowEndpoints()
{
    RecordingMessageBoxes boxes;
    frmSettings dialog(boxes);
    QVERIFY(SetListIndex(*dialog.lstShortURLType(), 1));
    Endpoints endpoints;
    endpoints.set(Endpoints::ShortenerAltDomain, u"j.test"_s);
    endpoints.set(Endpoints::ShortenerDomain, u"short.test:8081"_s);
    dialog.setEndpoints(endpoints);
    QCOMPARE(dialog.lstShortURLType()->itemText(0), u"http://j.test/****"_s);
    QCOMPARE(dialog.lstShortURLType()->itemText(1), u"http://short.test:8081/****"_s);
    QCOMPARE(dialog.lstShortURLType()->currentIndex(), 1);
}

void TestSettingsDialog::serviceFieldsFollowChoice_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<bool>("shown");
    QTest::addColumn<QString>("keyLabel");
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("key");
    QTest::newRow("designed entry") << 1 << false << QString() << QString() << QString();
    QTest::newRow("is.gd needs nothing") << 2 << false << QString() << QString() << QString();
    QTest::newRow("v.gd needs nothing") << 3 << false << QString() << QString() << QString();
    QTest::newRow("YOURLS") << 4 << true << u"署名トークン"_s << u"https://y.test"_s << u"sig"_s;
    QTest::newRow("Shlink") << 5 << true << u"APIキー"_s << u"https://s.test"_s << u"key"_s;
}

void TestSettingsDialog::serviceFieldsFollowChoice()
{
    QFETCH(int, index);
    RecordingMessageBoxes boxes;
    frmSettings dialog(boxes);
    dialog.setAccounts({u"https://y.test"_s, u"sig"_s, u"https://s.test"_s, u"key"_s});
    dialog.show();
    QVERIFY(SetListIndex(*dialog.lstShortURLType(), index));
    QFETCH(bool, shown);
    QCOMPARE(dialog.txtServiceUrl()->isVisible(), shown);
    QCOMPARE(dialog.txtServiceKey()->isVisible(), shown);
    QCOMPARE(dialog.txtServiceKey()->echoMode(), QLineEdit::Password);
    if (shown) {
        auto* label = dialog.findChild<QLabel*>(u"lblServiceKey"_s);
        QVERIFY(label);
        QTEST(label->text(), "keyLabel");
        QTEST(dialog.txtServiceUrl()->text(), "url");
        QTEST(dialog.txtServiceKey()->text(), "key");
    }
}

void TestSettingsDialog::serviceFieldsKeepEachService()
{
    RecordingMessageBoxes boxes;
    frmSettings dialog(boxes);
    QVERIFY(SetListIndex(*dialog.lstShortURLType(), 4));
    dialog.txtServiceUrl()->setText(u" https://y.test "_s);
    dialog.txtServiceKey()->setText(u"sig"_s);
    QVERIFY(SetListIndex(*dialog.lstShortURLType(), 5));
    QCOMPARE(dialog.txtServiceUrl()->text(), QString());
    dialog.txtServiceUrl()->setText(u"https://s.test"_s);
    dialog.txtServiceKey()->setText(u"key"_s);
    // Read while Shlink is shown: what was typed for YOURLS is kept, what is in the fields is Shlink's.
    const ShortenerAccounts accounts = dialog.accounts();
    QCOMPARE(accounts.yourlsUrl, u"https://y.test"_s);
    QCOMPARE(accounts.yourlsSignature, u"sig"_s);
    QCOMPARE(accounts.shlinkUrl, u"https://s.test"_s);
    QCOMPARE(accounts.shlinkApiKey, u"key"_s);
    QVERIFY(SetListIndex(*dialog.lstShortURLType(), 4));
    QCOMPARE(dialog.txtServiceUrl()->text(), u"https://y.test"_s);
}

void TestSettingsDialog::passwordIsMasked()
{
    RecordingMessageBoxes boxes;
    frmSettings dialog(boxes);
    QCOMPARE(dialog.txtPass()->echoMode(), QLineEdit::Password);
    QCOMPARE(dialog.txtLogin()->echoMode(), QLineEdit::Normal);
    dialog.txtPass()->setText(u"secret pass"_s);
    QCOMPARE(dialog.txtPass()->text(), u"secret pass"_s);
    QCOMPARE(dialog.txtPass()->displayText(), u"***********"_s);
}

void TestSettingsDialog::closeOnlyHides_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("close box") << u"close"_s;
    QTest::newRow("OKButton") << u"ok"_s;
    QTest::newRow("escape key") << u"escape"_s;
}

void TestSettingsDialog::closeOnlyHides()
{
    QFETCH(QString, how);
    RecordingMessageBoxes boxes;
    QPointer<frmSettings> dialog = new frmSettings(boxes);
    dialog->setAttribute(Qt::WA_DeleteOnClose, false);
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog));
    dialog->txtLogin()->setText(u"halvex user"_s);
    QVERIFY(SetListIndex(*dialog->lstImageType(), 1));
    QVERIFY(SetCheckValue(*dialog->chkPassSave(), 1));

    if (how == u"close"_s)
        QVERIFY(!dialog->close());
    else if (how == u"ok"_s)
        dialog->OKButton()->click();
    else
        QTest::keyClick(dialog, Qt::Key_Escape);
    QCoreApplication::processEvents();
    QVERIFY(dialog);
    QVERIFY(!dialog->isVisible());

    dialog->show();
    QCOMPARE(dialog->txtLogin()->text(), u"halvex user"_s);
    QCOMPARE(dialog->lstImageType()->currentIndex(), 1);
    QVERIFY(dialog->chkPassSave()->isChecked());
    delete dialog;
}

void TestSettingsDialog::registrationBoxes_data()
{
    QTest::addColumn<QString>("box");
    QTest::newRow("chkMenuExt") << u"chkMenuExt"_s;
    QTest::newRow("chkToolBarIcon") << u"chkToolBarIcon"_s;
}

void TestSettingsDialog::registrationBoxes()
{
    QFETCH(QString, box);
    RecordingMessageBoxes boxes;
    frmSettings dialog(boxes);
    dialog.show();
    QSignalSpy menuExt(&dialog, &frmSettings::menuExtToggled);
    QSignalSpy toolbar(&dialog, &frmSettings::toolbarIconToggled);
    QSignalSpy& mine = box == u"chkMenuExt"_s ? menuExt : toolbar;
    QSignalSpy& other = box == u"chkMenuExt"_s ? toolbar : menuExt;
    auto* check = dialog.findChild<QCheckBox*>(box);
    QVERIFY(check);

    // A click registers, the next removes.
    check->click();
    QCOMPARE(mine.size(), 1);
    QCOMPARE(mine.at(0).at(0).toBool(), true);
    check->click();
    QCOMPARE(mine.size(), 2);
    QCOMPARE(mine.at(1).at(0).toBool(), false);
    // Start-up setting the same value raises nothing; another value raises the handling.
    QVERIFY(SetCheckValue(*check, 0));
    QCOMPARE(mine.size(), 2);
    QVERIFY(SetCheckValue(*check, 1));
    QCOMPARE(mine.size(), 3);
    QCOMPARE(mine.at(2).at(0).toBool(), true);
    // Any value but 1 removes the registration.
    QVERIFY(SetCheckValue(*check, 2));
    QCOMPARE(mine.size(), 4);
    QCOMPARE(mine.at(3).at(0).toBool(), false);
    QVERIFY(!SetCheckValue(*check, 7));
    QCOMPARE(mine.size(), 4);
    QCOMPARE(other.size(), 0);
}

void TestSettingsDialog::showLog()
{
    RecordingMessageBoxes boxes;
    frmSettings dialog(boxes);
    dialog.setLogFilePath(u"/home/user/Documents/halvex-linvera/log.txt"_s);
    QSignalSpy shows(&dialog, &frmSettings::showLogRequested);
    dialog.btnShowLog()->click();
    QCOMPARE(shows.size(), 1);
    QCOMPARE(shows.at(0).at(0).toString(), u"/home/user/Documents/halvex-linvera/log.txt"_s);
    QVERIFY(boxes.shown().isEmpty());
}

void TestSettingsDialog::deleteLog_data()
{
    QTest::addColumn<bool>("logExists");
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("asked");
    QTest::addColumn<bool>("remains");

    QTest::newRow("no log: no question") << false << int(Box::Answer::Yes) << false << false;
    QTest::newRow("answer No keeps the log") << true << int(Box::Answer::No) << true << true;
    QTest::newRow("answer Yes deletes the log") << true << int(Box::Answer::Yes) << true << false;
}

void TestSettingsDialog::deleteLog()
{
    QFETCH(bool, logExists);
    QFETCH(int, answer);
    QFETCH(bool, asked);
    QFETCH(bool, remains);

    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString logPath = folder.filePath(u"ログ/log.txt"_s);
    QVERIFY(QDir(folder.path()).mkpath(u"ログ"_s));
    if (logExists) {
        QFile log(logPath);
        QVERIFY(log.open(QIODevice::WriteOnly));
        log.write("2024/01/02 http://a.example/ http://b.example/\r\n");
    }

    RecordingMessageBoxes boxes;
    boxes.queueAnswer(Box::Answer(answer));
    frmSettings dialog(boxes);
    dialog.setLogFilePath(logPath);
    dialog.btnDeleteLog()->click();

    QCOMPARE(boxes.shown().size(), asked ? 1 : 0);
    if (asked) {
        const Box::Shown& shown = boxes.shown().first();
        QCOMPARE(shown.text, logPath + u" を削除しますよろしいですか？"_s);
        QCOMPARE(shown.title, AppTitle());
        QCOMPARE(shown.icon, Box::Icon::Exclamation);
        QCOMPARE(shown.buttons, Box::Buttons::YesNo);
    }
    QCOMPARE(QFile::exists(logPath), remains);
}

QTEST_MAIN(TestSettingsDialog)
#include "tst_settingsdialog.moc"
