// Qt's own texts under the user's locale: Japanese in a Japanese session, as the program's own texts
// are; Qt's English otherwise.
#include "platform/QtTranslation.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTranslator>

using namespace Qt::StringLiterals;

class TestQtTranslation : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup();
    void qtTextsFollowTheLocale_data();
    void qtTextsFollowTheLocale();
};

void TestQtTranslation::cleanup()
{
    const QList<QTranslator*> installed = QCoreApplication::instance()->findChildren<QTranslator*>();
    for (QTranslator* translator : installed) {
        QCoreApplication::removeTranslator(translator);
        delete translator;
    }
}

void TestQtTranslation::qtTextsFollowTheLocale_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<bool>("installed");
    QTest::addColumn<QString>("cancel");  // a standard button's caption
    QTest::addColumn<QString>("refused"); // a socket's error description
    QTest::newRow("C") << QLocale::c() << false << u"Cancel"_s << u"Connection refused"_s;
    QTest::newRow("English (US)") << QLocale(QLocale::English, QLocale::UnitedStates) << false << u"Cancel"_s
                                  << u"Connection refused"_s;
    QTest::newRow("German") << QLocale(QLocale::German, QLocale::Germany) << false << u"Cancel"_s
                            << u"Connection refused"_s;
    QTest::newRow("Japanese (Japan)")
        << QLocale(QLocale::Japanese, QLocale::Japan) << true << u"キャンセル"_s << u"接続を拒否されました"_s;
    QTest::newRow("Japanese, no territory")
        << QLocale(QLocale::Japanese) << true << u"キャンセル"_s << u"接続を拒否されました"_s;
}

void TestQtTranslation::qtTextsFollowTheLocale()
{
    QFETCH(QLocale, locale);
    QFETCH(bool, installed);
    QCOMPARE(linvera::platform::InstallQtTranslation(locale), installed);
    QTEST(QCoreApplication::translate("QPlatformTheme", "Cancel"), "cancel");

    // A refused connection on loopback: a port that was just free.
    quint16 port = 0;
    {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        port = server.serverPort();
    }
    QTcpSocket socket;
    QSignalSpy failed(&socket, &QAbstractSocket::errorOccurred);
    socket.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(failed.wait(5000));
    QCOMPARE(socket.error(), QAbstractSocket::ConnectionRefusedError);
    QTEST(socket.errorString(), "refused");
}

QTEST_GUILESS_MAIN(TestQtTranslation)
#include "tst_qttranslation.moc"
