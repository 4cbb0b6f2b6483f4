#include "TempRegistry.h"
#include "TestFiles.h"
#include "platform/AnsiCodec.h"
#include "platform/RegAccess.h"
#include "platform/RegistryStore.h"

#include <QTest>

#include <cmath>
#include <limits>
#include <memory>

using namespace Qt::StringLiterals;
using linvera::platform::AnsiCodec;
using linvera::platform::RegistryStore;
using linvera::platform::RegRoot;
using CodePage = AnsiCodec::CodePage;

Q_DECLARE_METATYPE(CodePage)

namespace {

const QString kKey = u"Software\\HALVEX\\test"_s;
constexpr quint32 kAbsent = 0xFFFFFFFFu; // "no such value" in the rows below

QByteArray dword(quint32 value)
{
    QByteArray bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[i] = char((value >> (8 * i)) & 0xFF);
    return bytes;
}

QByteArray withNul(const QByteArray& bytes)
{
    return bytes + '\0';
}

} // namespace

class TestRegAccess : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void getRegValue_data();
    void getRegValue();
    void getRegValueMissing_data();
    void getRegValueMissing();
    void setRegString_data();
    void setRegString();
    void setRegNumber_data();
    void setRegNumber();
    void writesCreateTheKeyPath_data();
    void writesCreateTheKeyPath();
    void createRegKey_data();
    void createRegKey();
    void deleteRegValue_data();
    void deleteRegValue();
    void deleteRegKey_data();
    void deleteRegKey();
    void namesCrossTheAnsiCodePage_data();
    void namesCrossTheAnsiCodePage();
    void trailByteBackslashDoesNotSplitKeys();
    void japaneseRoundTrip_data();
    void japaneseRoundTrip();
    void brokenStoreFailsQuietly();

private:
    RegistryStore& store() { return m_registry->store(); }
    quint32 storedType(RegRoot root, const QString& path, const QString& name, QByteArray* data = nullptr);

    std::unique_ptr<linvera::test::TempRegistry> m_registry;
    CodePage m_savedCodePage = CodePage::Utf8;
};

void TestRegAccess::init()
{
    m_savedCodePage = AnsiCodec::current();
    AnsiCodec::select(CodePage::Utf8);
    m_registry = std::make_unique<linvera::test::TempRegistry>();
    QVERIFY(m_registry->isValid());
}

void TestRegAccess::cleanup()
{
    m_registry.reset();
    AnsiCodec::select(m_savedCodePage);
}

quint32 TestRegAccess::storedType(RegRoot root, const QString& path, const QString& name, QByteArray* data)
{
    quint32 type = 0;
    QByteArray bytes;
    if (store().queryValue(root, path, name, type, bytes) != RegistryStore::Success)
        return kAbsent;
    if (data)
        *data = bytes;
    return type;
}

void TestRegAccess::getRegValue_data()
{
    QTest::addColumn<CodePage>("codePage");
    QTest::addColumn<quint32>("type");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("before");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QString>("text");
    const quint32 sz = RegistryStore::RegSz;
    const quint32 dw = RegistryStore::RegDword;
    const auto utf8 = CodePage::Utf8;
    const auto sjis = CodePage::Windows31J;
    const QString old = u"caller's text"_s;

    QTest::newRow("REG_SZ") << utf8 << sz << QByteArray("abc\0", 4) << old << true << u"abc"_s;
    QTest::newRow("REG_SZ abc NUL def reads abc")
        << utf8 << sz << QByteArray("abc\0def\0", 8) << old << true << u"abc"_s;
    QTest::newRow("REG_SZ without NUL reads completely")
        << utf8 << sz << QByteArray("abcdef") << old << true << u"abcdef"_s;
    QTest::newRow("REG_SZ with two trailing NULs")
        << utf8 << sz << QByteArray("ab\0\0", 4) << old << true << u"ab"_s;
    QTest::newRow("REG_SZ of one NUL") << utf8 << sz << QByteArray("\0", 1) << old << true << QString();
    QTest::newRow("REG_SZ of no bytes") << utf8 << sz << QByteArray() << old << true << QString();
    QTest::newRow("1024 bytes: 1023 letters and NUL")
        << utf8 << sz << withNul(QByteArray(1023, 'a')) << old << true << QString(1023, u'a');
    QTest::newRow("1024 bytes: 1024 letters without NUL")
        << utf8 << sz << QByteArray(1024, 'a') << old << true << QString(1024, u'a');
    QTest::newRow("1025 bytes: 1024 letters and NUL")
        << utf8 << sz << withNul(QByteArray(1024, 'a')) << old << false << QString();
    QTest::newRow("1025 bytes without NUL")
        << utf8 << sz << QByteArray(1025, 'a') << old << false << QString();
    QTest::newRow("REG_BINARY of 1025 bytes")
        << utf8 << quint32(RegistryStore::RegBinary) << QByteArray(1025, 'b') << old << false << QString();
    QTest::newRow("REG_DWORD 1") << utf8 << dw << dword(1) << old << true << u"1"_s;
    QTest::newRow("REG_DWORD 0x105") << utf8 << dw << dword(0x105) << old << true << u"261"_s;
    QTest::newRow("REG_DWORD 0") << utf8 << dw << dword(0) << old << true << u"0"_s;
    QTest::newRow("REG_DWORD 0xFFFFFFFF is -1") << utf8 << dw << dword(0xFFFFFFFFu) << old << true << u"-1"_s;
    QTest::newRow("REG_DWORD 0x80000000")
        << utf8 << dw << dword(0x80000000u) << old << true << u"-2147483648"_s;
    QTest::newRow("REG_DWORD 0x7FFFFFFF")
        << utf8 << dw << dword(0x7FFFFFFFu) << old << true << u"2147483647"_s;
    QTest::newRow("REG_DWORD 0x01000000 ends in NULs")
        << utf8 << dw << dword(0x01000000u) << old << true << u"16777216"_s;
    QTest::newRow("REG_DWORD of one byte") << utf8 << dw << QByteArray("\x05", 1) << old << true << u"5"_s;
    QTest::newRow("REG_DWORD of no bytes") << utf8 << dw << QByteArray() << old << true << u"0"_s;
    QTest::newRow("REG_DWORD of six bytes reads the first four")
        << utf8 << dw << QByteArray("\x01\0\0\0\x07\x07", 6) << old << true << u"1"_s;
    QTest::newRow("REG_EXPAND_SZ leaves the empty text empty")
        << utf8 << quint32(RegistryStore::RegExpandSz) << withNul("%TEMP%") << QString() << true << QString();
    QTest::newRow("REG_EXPAND_SZ leaves the caller's text")
        << utf8 << quint32(RegistryStore::RegExpandSz) << withNul("%TEMP%") << old << true << old;
    QTest::newRow("REG_BINARY leaves the caller's text")
        << utf8 << quint32(RegistryStore::RegBinary) << QByteArray("\x01\x02") << old << true << old;
    QTest::newRow("REG_MULTI_SZ leaves the caller's text")
        << utf8 << quint32(RegistryStore::RegMultiSz) << QByteArray("a\0b\0\0", 5) << old << true << old;
    QTest::newRow("REG_DWORD_BIG_ENDIAN leaves the caller's text")
        << utf8 << quint32(RegistryStore::RegDwordBigEndian) << QByteArray("\0\0\0\x01", 4) << old << true
        << old;
    QTest::newRow("REG_NONE leaves the caller's text")
        << utf8 << quint32(RegistryStore::RegNone) << QByteArray() << old << true << old;
    QTest::newRow("windows-31j text")
        << sjis << sz << QByteArray("\x93\xfa\x96\x7b\x8c\xea\0", 7) << old << true << u"日本語"_s;
    QTest::newRow("windows-31j half-width kana")
        << sjis << sz << QByteArray("\xb8\xd8\xaf\xcc\xdf\0", 6) << old << true << u"ｸﾘｯﾌﾟ"_s;
    QTest::newRow("windows-31j 0x5C trail byte")
        << sjis << sz << QByteArray("\x83\x5c\x95\x5c\0", 5) << old << true << u"ソ表"_s;
    QTest::newRow("UTF-8 text") << utf8 << sz << withNul(u"日本語"_s.toUtf8()) << old << true << u"日本語"_s;
    QTest::newRow("1024 bytes of Japanese") << utf8 << sz << QByteArray(u"あ"_s.toUtf8().repeated(341) + "a")
                                            << old << true << QString(u"あ"_s.repeated(341) + u"a");
}

void TestRegAccess::getRegValue()
{
    QFETCH(CodePage, codePage);
    QFETCH(quint32, type);
    QFETCH(QByteArray, data);
    QFETCH(QString, before);
    QFETCH(bool, result);
    QFETCH(QString, text);
    AnsiCodec::select(codePage);
    QCOMPARE(store().setValue(RegRoot::CurrentUser, kKey, u"v"_s, type, data,
                              RegistryStore::CreateMode::CreateMissingKeys),
             qint32(RegistryStore::Success));
    QString read = before;
    QCOMPARE(linvera::GetRegValue(RegRoot::CurrentUser, kKey, u"v"_s, read), result);
    QCOMPARE(read, text);
}

void TestRegAccess::getRegValueMissing_data()
{
    QTest::addColumn<RegRoot>("root");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("name");
    QTest::newRow("key does not exist") << RegRoot::CurrentUser << u"Software\\Nowhere"_s << u"v"_s;
    QTest::newRow("value does not exist") << RegRoot::CurrentUser << kKey << u"other"_s;
    QTest::newRow("default value not set") << RegRoot::CurrentUser << kKey << QString();
    QTest::newRow("value is on the child key") << RegRoot::CurrentUser << u"Software\\HALVEX"_s << u"v"_s;
    QTest::newRow("same path under HKLM") << RegRoot::LocalMachine << kKey << u"v"_s;
    QTest::newRow("same path under HKCR") << RegRoot::ClassesRoot << kKey << u"v"_s;
    QTest::newRow("empty name inside the path")
        << RegRoot::CurrentUser << u"Software\\\\HALVEX\\test"_s << u"v"_s;
}

void TestRegAccess::getRegValueMissing()
{
    QFETCH(RegRoot, root);
    QFETCH(QString, path);
    QFETCH(QString, name);
    QVERIFY(linvera::SetRegString(RegRoot::CurrentUser, kKey, u"v"_s, u"here"_s));
    QString text = u"caller's text"_s;
    QCOMPARE(linvera::GetRegValue(root, path, name, text), false);
    QCOMPARE(text, QString());
}

void TestRegAccess::setRegString_data()
{
    QTest::addColumn<CodePage>("codePage");
    QTest::addColumn<QVariant>("data");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("readBack");
    const auto utf8 = CodePage::Utf8;
    const auto sjis = CodePage::Windows31J;
    QTest::newRow("text") << utf8 << QVariant(u"abc"_s) << withNul("abc") << u"abc"_s;
    QTest::newRow("empty text") << utf8 << QVariant(QString()) << withNul("") << QString();
    QTest::newRow("blank text") << utf8 << QVariant(u" "_s) << withNul(" ") << u" "_s;
    QTest::newRow("number 7 is one character and NUL") << utf8 << QVariant(7) << withNul("7") << u"7"_s;
    QTest::newRow("negative number") << utf8 << QVariant(-15) << withNul("-15") << u"-15"_s;
    QTest::newRow("window position in twips")
        << utf8 << QVariant(qint16(4320)) << withNul("4320") << u"4320"_s;
    QTest::newRow("64-bit number") << utf8 << QVariant(qint64(1234567890123)) << withNul("1234567890123")
                                   << u"1234567890123"_s;
    QTest::newRow("double 1.5") << utf8 << QVariant(1.5) << withNul("1.5") << u"1.5"_s;
    QTest::newRow("whole double") << utf8 << QVariant(3.0) << withNul("3") << u"3"_s;
    QTest::newRow("double 1E+20") << utf8 << QVariant(1e20) << withNul("1E+20") << u"1E+20"_s;
    QTest::newRow("boolean") << utf8 << QVariant(true) << withNul("True") << u"True"_s;
    QTest::newRow("no data") << utf8 << QVariant() << withNul("") << QString();
    QTest::newRow("NUL inside is written, read stops there")
        << utf8 << QVariant(u"abc\0def"_s) << QByteArray("abc\0def\0", 8) << u"abc"_s;
    QTest::newRow("Japanese in windows-31j")
        << sjis << QVariant(u"日本語"_s) << QByteArray("\x93\xfa\x96\x7b\x8c\xea\0", 7) << u"日本語"_s;
    QTest::newRow("half-width kana in windows-31j")
        << sjis << QVariant(u"ｸﾘｯﾌﾟ"_s) << QByteArray("\xb8\xd8\xaf\xcc\xdf\0", 6) << u"ｸﾘｯﾌﾟ"_s;
    QTest::newRow("unmappable in windows-31j becomes ?")
        << sjis << QVariant(u"a€b"_s) << withNul("a?b") << u"a?b"_s;
    QTest::newRow("Japanese in UTF-8")
        << utf8 << QVariant(u"日本語"_s) << withNul(u"日本語"_s.toUtf8()) << u"日本語"_s;
    QTest::newRow("euro in UTF-8") << utf8 << QVariant(u"a€b"_s)
                                   << withNul("a\xe2\x82\xac"
                                              "b")
                                   << u"a€b"_s;
}

void TestRegAccess::setRegString()
{
    QFETCH(CodePage, codePage);
    QFETCH(QVariant, data);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, readBack);
    AnsiCodec::select(codePage);
    QVERIFY(linvera::SetRegString(RegRoot::LocalMachine, kKey, u"v"_s, data));
    QByteArray stored;
    QCOMPARE(storedType(RegRoot::LocalMachine, kKey, u"v"_s, &stored), quint32(RegistryStore::RegSz));
    QCOMPARE(stored, bytes);
    QString text = u"before"_s;
    QVERIFY(linvera::GetRegValue(RegRoot::LocalMachine, kKey, u"v"_s, text));
    QCOMPARE(text, readBack);
}

void TestRegAccess::setRegNumber_data()
{
    QTest::addColumn<double>("number");
    QTest::addColumn<bool>("written");
    QTest::addColumn<QString>("text");
    QTest::newRow("7") << 7.0 << true << u"7"_s;
    QTest::newRow("0") << 0.0 << true << u"0"_s;
    QTest::newRow("-1") << -1.0 << true << u"-1"_s;
    QTest::newRow("0.5 rounds to 0") << 0.5 << true << u"0"_s;
    QTest::newRow("1.5 rounds to 2") << 1.5 << true << u"2"_s;
    QTest::newRow("2.5 rounds to 2") << 2.5 << true << u"2"_s;
    QTest::newRow("3.5 rounds to 4") << 3.5 << true << u"4"_s;
    QTest::newRow("-2.5 rounds to -2") << -2.5 << true << u"-2"_s;
    QTest::newRow("-0.5 rounds to 0") << -0.5 << true << u"0"_s;
    QTest::newRow("2.4999 rounds to 2") << 2.4999 << true << u"2"_s;
    QTest::newRow("2.5001 rounds to 3") << 2.5001 << true << u"3"_s;
    QTest::newRow("largest") << 2147483647.0 << true << u"2147483647"_s;
    QTest::newRow("smallest") << -2147483648.0 << true << u"-2147483648"_s;
    QTest::newRow("-2147483648.5 rounds to even inside") << -2147483648.5 << true << u"-2147483648"_s;
    QTest::newRow("2147483647.5 rounds outside") << 2147483647.5 << false << QString();
    QTest::newRow("2147483648 does not fit") << 2147483648.0 << false << QString();
    QTest::newRow("-2147483649 does not fit") << -2147483649.0 << false << QString();
    QTest::newRow("NaN") << std::numeric_limits<double>::quiet_NaN() << false << QString();
    QTest::newRow("infinity") << std::numeric_limits<double>::infinity() << false << QString();
}

void TestRegAccess::setRegNumber()
{
    QFETCH(double, number);
    QFETCH(bool, written);
    QFETCH(QString, text);
    QCOMPARE(linvera::SetRegNumber(RegRoot::LocalMachine, kKey, u"n"_s, number), written);
    QByteArray stored;
    const quint32 type = storedType(RegRoot::LocalMachine, kKey, u"n"_s, &stored);
    if (!written) {
        QCOMPARE(type, kAbsent);
        return;
    }
    QCOMPARE(type, quint32(RegistryStore::RegDword));
    QCOMPARE(stored, dword(quint32(text.toInt())));
    QString read;
    QVERIFY(linvera::GetRegValue(RegRoot::LocalMachine, kKey, u"n"_s, read));
    QCOMPARE(read, text);
}

void TestRegAccess::writesCreateTheKeyPath_data()
{
    QTest::addColumn<bool>("number");
    QTest::newRow("SetRegString") << false;
    QTest::newRow("SetRegNumber") << true;
}

void TestRegAccess::writesCreateTheKeyPath()
{
    QFETCH(bool, number);
    const QString path = u"SOFTWARE\\HALVEX\\linvera\\param"_s;
    QCOMPARE(store().openKey(RegRoot::LocalMachine, u"SOFTWARE"_s), qint32(RegistryStore::FileNotFound));
    QVERIFY(number ? linvera::SetRegNumber(RegRoot::LocalMachine, path, u"Left"_s, 120)
                   : linvera::SetRegString(RegRoot::LocalMachine, path, u"Left"_s, 120));
    for (const QString& level : {u"SOFTWARE"_s, u"SOFTWARE\\HALVEX"_s, u"SOFTWARE\\HALVEX\\linvera"_s, path})
        QCOMPARE(store().openKey(RegRoot::LocalMachine, level), qint32(RegistryStore::Success));
    QString text;
    QVERIFY(
        linvera::GetRegValue(RegRoot::LocalMachine, u"software\\halvex\\LINVERA\\Param"_s, u"LEFT"_s, text));
    QCOMPARE(text, u"120"_s);
}

void TestRegAccess::createRegKey_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("opened");
    QTest::addColumn<qint32>("status");
    QTest::newRow("nested path") << u"Software\\A\\B\\C"_s << u"Software\\A\\B\\C"_s
                                 << qint32(RegistryStore::Success);
    QTest::newRow("existing key keeps its values") << kKey << kKey << qint32(RegistryStore::Success);
    QTest::newRow("trailing backslash")
        << u"Software\\T\\"_s << u"Software\\T"_s << qint32(RegistryStore::Success);
    QTest::newRow("empty name inside creates nothing")
        << u"Software\\\\X"_s << u"Software\\X"_s << qint32(RegistryStore::FileNotFound);
}

void TestRegAccess::createRegKey()
{
    QFETCH(QString, path);
    QFETCH(QString, opened);
    QFETCH(qint32, status);
    QVERIFY(linvera::SetRegString(RegRoot::CurrentUser, kKey, u"v"_s, u"kept"_s));
    linvera::CreateRegKey(RegRoot::CurrentUser, path);
    QCOMPARE(store().openKey(RegRoot::CurrentUser, opened), status);
    QString text;
    QVERIFY(linvera::GetRegValue(RegRoot::CurrentUser, kKey, u"v"_s, text));
    QCOMPARE(text, u"kept"_s);
}

void TestRegAccess::deleteRegValue_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("name");
    QTest::addColumn<qint32>("status");
    QTest::addColumn<QString>("gone"); // the value that must be gone afterwards; empty: nothing changes
    QTest::newRow("named value") << kKey << u"v"_s << 0 << u"v"_s;
    QTest::newRow("named value, other case") << kKey.toUpper() << u"V"_s << 0 << u"v"_s;
    QTest::newRow("default value") << kKey << QString() << 0 << QString();
    QTest::newRow("missing value") << kKey << u"nope"_s << 2 << QString();
    QTest::newRow("missing key") << u"Software\\Nowhere"_s << u"v"_s << 2 << QString();
}

void TestRegAccess::deleteRegValue()
{
    QFETCH(QString, path);
    QFETCH(QString, name);
    QFETCH(qint32, status);
    QFETCH(QString, gone);
    QVERIFY(linvera::SetRegString(RegRoot::CurrentUser, kKey, u"v"_s, u"1"_s));
    QVERIFY(linvera::SetRegString(RegRoot::CurrentUser, kKey, QString(), u"default"_s));
    QVERIFY(linvera::SetRegString(RegRoot::CurrentUser, kKey, u"w"_s, u"2"_s));
    QCOMPARE(linvera::DeleteRegValue(RegRoot::CurrentUser, path, name), status);
    const bool defaultGone = status == 0 && name.isEmpty();
    QCOMPARE(storedType(RegRoot::CurrentUser, kKey, u"v"_s),
             gone == u"v" ? kAbsent : quint32(RegistryStore::RegSz));
    QCOMPARE(storedType(RegRoot::CurrentUser, kKey, QString()),
             defaultGone ? kAbsent : quint32(RegistryStore::RegSz));
    QCOMPARE(storedType(RegRoot::CurrentUser, kKey, u"w"_s), quint32(RegistryStore::RegSz));
    QCOMPARE(store().openKey(RegRoot::CurrentUser, u"Software\\Nowhere"_s),
             qint32(RegistryStore::FileNotFound));
}

void TestRegAccess::deleteRegKey_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<qint32>("status");
    QTest::newRow("key with a subkey stays") << u"Software\\HALVEX"_s << qint32(RegistryStore::AccessDenied);
    QTest::newRow("leaf key goes with its values") << kKey << qint32(RegistryStore::Success);
    QTest::newRow("leaf key in other case") << kKey.toLower() << qint32(RegistryStore::Success);
    QTest::newRow("missing key") << u"Software\\Nowhere"_s << qint32(RegistryStore::FileNotFound);
}

void TestRegAccess::deleteRegKey()
{
    QFETCH(QString, path);
    QFETCH(qint32, status);
    QVERIFY(linvera::SetRegString(RegRoot::CurrentUser, u"Software\\HALVEX"_s, u"top"_s, u"t"_s));
    QVERIFY(linvera::SetRegString(RegRoot::CurrentUser, kKey, u"v"_s, u"1"_s));
    QCOMPARE(linvera::DeleteRegKey(RegRoot::CurrentUser, path), status);
    QCOMPARE(storedType(RegRoot::CurrentUser, u"Software\\HALVEX"_s, u"top"_s),
             quint32(RegistryStore::RegSz));
    const bool leafGone = status == RegistryStore::Success;
    QCOMPARE(store().openKey(RegRoot::CurrentUser, kKey),
             qint32(leafGone ? RegistryStore::FileNotFound : RegistryStore::Success));
    QCOMPARE(storedType(RegRoot::CurrentUser, kKey, u"v"_s),
             leafGone ? kAbsent : quint32(RegistryStore::RegSz));
}

void TestRegAccess::namesCrossTheAnsiCodePage_data()
{
    QTest::addColumn<CodePage>("codePage");
    QTest::addColumn<QString>("writtenKey");
    QTest::addColumn<QString>("writtenName");
    QTest::addColumn<QString>("readKey");
    QTest::addColumn<QString>("readName");
    QTest::addColumn<bool>("same");
    const auto utf8 = CodePage::Utf8;
    const auto sjis = CodePage::Windows31J;
    QTest::newRow("windows-31j: unmappable key character is ?")
        << sjis << u"Software\\a€b"_s << u"v"_s << u"Software\\a?b"_s << u"v"_s << true;
    QTest::newRow("windows-31j: unmappable value name character is ?")
        << sjis << kKey << u"値€"_s << kKey << u"値?"_s << true;
    QTest::newRow("UTF-8 keeps the euro")
        << utf8 << u"Software\\a€b"_s << u"v"_s << u"Software\\a?b"_s << u"v"_s << false;
    QTest::newRow("windows-31j: Japanese key")
        << sjis << u"Software\\設定"_s << u"名前"_s << u"Software\\設定"_s << u"名前"_s << true;
    QTest::newRow("windows-31j: full-width letters ignore case")
        << sjis << u"Software\\ＡＢＣ"_s << u"Ｖ"_s << u"Software\\ａｂｃ"_s << u"ｖ"_s << true;
    QTest::newRow("UTF-8: full-width letters ignore case")
        << utf8 << u"Software\\ＡＢＣ"_s << u"Ｖ"_s << u"Software\\ａｂｃ"_s << u"ｖ"_s << true;
    QTest::newRow("windows-31j: hiragana is not katakana")
        << sjis << u"Software\\かな"_s << u"v"_s << u"Software\\カナ"_s << u"v"_s << false;
    QTest::newRow("default value: empty name and null name")
        << utf8 << kKey << u""_s << kKey << QString() << true;
    QTest::newRow("name ends at a NUL")
        << utf8 << u"Software\\abc\0def"_s << u"x\0y"_s << u"Software\\abc"_s << u"x"_s << true;
}

void TestRegAccess::namesCrossTheAnsiCodePage()
{
    QFETCH(CodePage, codePage);
    QFETCH(QString, writtenKey);
    QFETCH(QString, writtenName);
    QFETCH(QString, readKey);
    QFETCH(QString, readName);
    QFETCH(bool, same);
    AnsiCodec::select(codePage);
    QVERIFY(linvera::SetRegString(RegRoot::CurrentUser, writtenKey, writtenName, u"data"_s));
    QString text = u"before"_s;
    QCOMPARE(linvera::GetRegValue(RegRoot::CurrentUser, readKey, readName, text), same);
    QCOMPARE(text, same ? u"data"_s : QString());
}

void TestRegAccess::trailByteBackslashDoesNotSplitKeys()
{
    // "ソ" and "表" end in byte 0x5C in windows-31j; the key is still one name.
    AnsiCodec::select(CodePage::Windows31J);
    QVERIFY(linvera::SetRegString(RegRoot::CurrentUser, u"Software\\ソフト表示"_s, u"v"_s, u"x"_s));
    QStringList subkeys;
    QCOMPARE(store().enumSubKeys(RegRoot::CurrentUser, u"Software"_s, subkeys),
             qint32(RegistryStore::Success));
    QCOMPARE(subkeys, QStringList{u"ソフト表示"_s});
    QCOMPARE(store().enumSubKeys(RegRoot::CurrentUser, u"Software\\ソフト表示"_s, subkeys),
             qint32(RegistryStore::Success));
    QVERIFY(subkeys.isEmpty());
}

void TestRegAccess::japaneseRoundTrip_data()
{
    QTest::addColumn<CodePage>("codePage");
    QTest::newRow("windows-31j") << CodePage::Windows31J;
    QTest::newRow("UTF-8") << CodePage::Utf8;
}

void TestRegAccess::japaneseRoundTrip()
{
    QFETCH(CodePage, codePage);
    AnsiCodec::select(codePage);
    const QString key = u"Software\\はるべっくす\\設定"_s;
    const QString name = u"最終通知"_s;
    const QString data = u"日本語のﾃｷｽﾄ、ＵＲＬ短縮化"_s;
    QVERIFY(linvera::SetRegString(RegRoot::CurrentUser, key, name, data));
    QByteArray stored;
    QCOMPARE(storedType(RegRoot::CurrentUser, key, name, &stored), quint32(RegistryStore::RegSz));
    QCOMPARE(stored, withNul(AnsiCodec::encode(data, codePage)));
    QString text;
    QVERIFY(linvera::GetRegValue(RegRoot::CurrentUser, key, name, text));
    QCOMPARE(text, data);
    QCOMPARE(linvera::DeleteRegValue(RegRoot::CurrentUser, key, name), 0);
    QCOMPARE(linvera::DeleteRegKey(RegRoot::CurrentUser, key), 0);
    QCOMPARE(store().openKey(RegRoot::CurrentUser, u"Software\\はるべっくす"_s),
             qint32(RegistryStore::Success));
}

void TestRegAccess::brokenStoreFailsQuietly()
{
    const QString path = m_registry->filePath(u"broken.sqlite3"_s);
    QVERIFY(linvera::test::writeFile(
        path, QByteArray("this is not a database, and it is the user's file\n").repeated(40)));
    const QByteArray before = linvera::test::fileDigest(path);
    QVERIFY(!before.isEmpty());
    RegistryStore broken(path);
    RegistryStore::SharedOverride scope(broken);
    QString text = u"caller's text"_s;
    QCOMPARE(linvera::GetRegValue(RegRoot::LocalMachine, kKey, u"v"_s, text), false);
    QCOMPARE(text, QString());
    linvera::CreateRegKey(RegRoot::LocalMachine, kKey);
    QCOMPARE(linvera::SetRegString(RegRoot::LocalMachine, kKey, u"v"_s, u"x"_s), false);
    QCOMPARE(linvera::SetRegNumber(RegRoot::LocalMachine, kKey, u"v"_s, 1), false);
    QCOMPARE(linvera::DeleteRegValue(RegRoot::LocalMachine, kKey, u"v"_s),
             qint32(RegistryStore::RegistryCorrupt));
    QCOMPARE(linvera::DeleteRegKey(RegRoot::LocalMachine, kKey), qint32(RegistryStore::RegistryCorrupt));
    QCOMPARE(linvera::test::fileDigest(path), before);
}

QTEST_GUILESS_MAIN(TestRegAccess)
#include "tst_regaccess.moc"
