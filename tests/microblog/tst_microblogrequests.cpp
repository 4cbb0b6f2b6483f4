// The hand-built requests of the microblog client, byte for byte, and read back by Python's own
// parsers (an independent check that a server can read them); the reply judging.
#include "PythonCheck.h"
#include "microblog/MicroblogReplies.h"
#include "microblog/MicroblogRequests.h"
#include "platform/AnsiCodec.h"

#include <QSet>
#include <QTest>

using namespace linvera;
using namespace linvera::test;
using namespace Qt::StringLiterals;
using platform::AnsiCodec;

namespace {

const QString kBoundary = u"0123456789ABCDEFGHIJabcdefghijKL"_s;

// Bytes that look like the parts' own syntax, so a parser that does not use the length or the
// boundary properly would cut the picture short.
QByteArray trickyPicture()
{
    QByteArray bytes("\x89PNG\r\n\x1a\n", 8);
    bytes += QByteArray("\0\xff\r\n--", 7);
    bytes += "0123456789ABCDEFGHIJabcdefghij\r\n\r\nContent-Type: x\r\n";
    bytes += "\r";
    return bytes;
}

UploadTarget target(const QString& host, quint16 port, const QString& path)
{
    UploadTarget t;
    t.host = host;
    t.port = port;
    t.path = path;
    return t;
}

// The head and the body of a request, split at the first empty line.
std::pair<QByteArray, QByteArray> split(const QByteArray& request)
{
    const qsizetype end = request.indexOf("\r\n\r\n");
    return {request.left(end + 4), request.mid(end + 4)};
}

} // namespace

class TestMicroblogRequests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { AnsiCodec::select(AnsiCodec::CodePage::Utf8); }
    void cleanup() { AnsiCodec::select(AnsiCodec::CodePage::Utf8); }

    void boundary_data();
    void boundary();
    void boundaryAlphabet();
    void targetFor_data();
    void targetFor();
    void formFileName_data();
    void formFileName();
    void contentType_data();
    void contentType();
    void pictureUploadBytes_data();
    void pictureUploadBytes();
    void profileImageBytes_data();
    void profileImageBytes();
    void fileNameInAnsiCodePage();
    void credentialsFromAnsiBytes_data();
    void credentialsFromAnsiBytes();
    void pythonReadsPictureUpload_data();
    void pythonReadsPictureUpload();
    void pythonReadsProfileImage_data();
    void pythonReadsProfileImage();
    void pythonReadsStatusBody_data();
    void pythonReadsStatusBody();
    void utf8Bin_data();
    void utf8Bin();
    void socketVerdict_data();
    void socketVerdict();
    void apiError_data();
    void apiError();
};

void TestMicroblogRequests::boundary_data()
{
    QTest::addColumn<int>("length");
    QTest::newRow("none") << 0;
    QTest::newRow("one") << 1;
    QTest::newRow("the boundary's 32") << 32;
    QTest::newRow("long") << 500;
}

void TestMicroblogRequests::boundary()
{
    QFETCH(int, length);
    const QString b = MakeBoundary(length);
    QCOMPARE(b.size(), length);
    for (const QChar c : b)
        QVERIFY2(c.isDigit() || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'), qPrintable(b));
}

// Every one of the 62 characters is drawn, and boundaries differ from call to call.
void TestMicroblogRequests::boundaryAlphabet()
{
    QSet<QChar> seen;
    QSet<QString> boundaries;
    for (int i = 0; i < 300; ++i) {
        const QString b = MakeBoundary(32);
        boundaries.insert(b);
        for (const QChar c : b)
            seen.insert(c);
    }
    QCOMPARE(seen.size(), 62);
    QCOMPARE(boundaries.size(), 300);
}

void TestMicroblogRequests::targetFor_data()
{
    QTest::addColumn<QString>("endpoint");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::newRow("host alone") << u"pic.example"_s << u"pic.example"_s << 80;
    QTest::newRow("host and port") << u"127.0.0.1:8081"_s << u"127.0.0.1"_s << 8081;
    QTest::newRow("port 65535") << u"h:65535"_s << u"h"_s << 65535;
    QTest::newRow("port out of range stays in the host") << u"h:65536"_s << u"h:65536"_s << 80;
    QTest::newRow("port not numeric") << u"h:x"_s << u"h:x"_s << 80;
}

void TestMicroblogRequests::targetFor()
{
    QFETCH(QString, endpoint);
    const UploadTarget t = TargetFor(endpoint, u"/api/upload"_s);
    QTEST(t.host, "host");
    QTEST(int(t.port), "port");
    QCOMPARE(t.path, u"/api/upload"_s);
    QVERIFY(t.query.isEmpty());
}

void TestMicroblogRequests::formFileName_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("name");
    QTest::newRow("folders dropped") << u"/home/taro/Desktop/cap.png"_s << u"cap.png"_s;
    QTest::newRow("no folder") << u"cap.png"_s << u"cap.png"_s;
    QTest::newRow("Japanese") << u"/home/太郎/写真 1.jpg"_s << u"写真 1.jpg"_s;
    QTest::newRow("quote") << u"/t/a\"b.png"_s << u"a%22b.png"_s;
    QTest::newRow("CR LF injecting a header")
        << u"/t/x.png\"\r\nX-Injected: 1\r\n.png"_s << u"x.png%22%0D%0AX-Injected: 1%0D%0A.png"_s;
    QTest::newRow("percent stays") << u"/t/100%.gif"_s << u"100%.gif"_s;
    QTest::newRow("empty") << QString() << QString();
}

void TestMicroblogRequests::formFileName()
{
    QFETCH(QString, path);
    QTEST(FormFileName(path), "name");
}

void TestMicroblogRequests::contentType_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("type");
    QTest::newRow("png") << u"a.png"_s << u"image/png"_s;
    QTest::newRow("PNG upper case") << u"A.PNG"_s << u"image/png"_s;
    QTest::newRow("jpg") << u"a.jpg"_s << u"image/jpeg"_s;
    QTest::newRow("jpeg ends in peg") << u"a.jpeg"_s << u"application/octet-stream"_s;
    QTest::newRow("gif") << u"a.Gif"_s << u"image/gif"_s;
    QTest::newRow("bmp") << u"a.bmp"_s << u"application/octet-stream"_s;
    QTest::newRow("no dot, ends in png") << u"screenpng"_s << u"image/png"_s;
    QTest::newRow("shorter than three") << u"pn"_s << u"application/octet-stream"_s;
}

void TestMicroblogRequests::contentType()
{
    QFETCH(QString, fileName);
    QTEST(ProfileContentType(fileName), "type");
}

void TestMicroblogRequests::pictureUploadBytes_data()
{
    QTest::addColumn<int>("proxyFlag");
    QTest::addColumn<quint16>("port");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QByteArray>("picture");
    QTest::addColumn<QByteArray>("requestLine");
    QTest::addColumn<QByteArray>("hostLine");
    QTest::addColumn<QByteArray>("messagePart");

    const QByteArray pic = trickyPicture();
    QTest::newRow("direct") << 0 << quint16(80) << QString() << pic
                            << QByteArray("POST /api/upload? HTTP/1.0\r\n")
                            << QByteArray("Host: pic.example\r\n") << QByteArray();
    QTest::newRow("proxy flag 1") << 1 << quint16(80) << QString() << pic
                                  << QByteArray("POST http://pic.example:80/api/upload? HTTP/1.0\r\n")
                                  << QByteArray("Host: pic.example\r\n") << QByteArray();
    QTest::newRow("proxy flag 2 is not a proxy")
        << 2 << quint16(80) << QString() << pic << QByteArray("POST /api/upload? HTTP/1.0\r\n")
        << QByteArray("Host: pic.example\r\n") << QByteArray();
    QTest::newRow("other port is named in Host")
        << 1 << quint16(8080) << QString() << pic
        << QByteArray("POST http://pic.example:8080/api/upload? HTTP/1.0\r\n")
        << QByteArray("Host: pic.example:8080\r\n") << QByteArray();
    QTest::newRow("message in UTF-8")
        << 0 << quint16(80) << u"写真です 😀"_s << pic << QByteArray("POST /api/upload? HTTP/1.0\r\n")
        << QByteArray("Host: pic.example\r\n")
        << QByteArray("--0123456789ABCDEFGHIJabcdefghijKL\r\nContent-Disposition: form-data; "
                      "name=\"message\"\r\n\r\n"
                      "\xe5\x86\x99\xe7\x9c\x9f\xe3\x81\xa7\xe3\x81\x99 \xf0\x9f\x98\x80\r\n");
    QTest::newRow("empty picture") << 0 << quint16(80) << QString() << QByteArray()
                                   << QByteArray("POST /api/upload? HTTP/1.0\r\n")
                                   << QByteArray("Host: pic.example\r\n") << QByteArray();
}

void TestMicroblogRequests::pictureUploadBytes()
{
    QFETCH(int, proxyFlag);
    QFETCH(quint16, port);
    QFETCH(QString, message);
    QFETCH(QByteArray, picture);
    QFETCH(QByteArray, requestLine);
    QFETCH(QByteArray, hostLine);
    QFETCH(QByteArray, messagePart);

    const QByteArray request =
        BuildPictureUploadRequest(picture, target(u"pic.example"_s, port, u"/api/upload"_s), u"cap.png"_s,
                                  u"taro"_s, u"p@ss w"_s, message, proxyFlag, kBoundary);
    const QByteArray body = "--0123456789ABCDEFGHIJabcdefghijKL\r\n"
                            "Content-Disposition: form-data; name=\"username\"\r\n\r\ntaro\r\n"
                            "--0123456789ABCDEFGHIJabcdefghijKL\r\n"
                            "Content-Disposition: form-data; name=\"password\"\r\n\r\np@ss w\r\n" +
                            messagePart +
                            "--0123456789ABCDEFGHIJabcdefghijKL\r\n"
                            "Content-Disposition: form-data; name=\"media\"; filename=\"cap.png\"\r\n"
                            "Content-Type: application/octet-stream\r\n\r\n" +
                            picture + "\r\n--0123456789ABCDEFGHIJabcdefghijKL--";
    const QByteArray head = requestLine + hostLine +
                            "Content-Type: multipart/form-data; boundary=0123456789ABCDEFGHIJabcdefghijKL\r\n"
                            "Content-Length: " +
                            QByteArray::number(body.size()) + "\r\n\r\n";
    QCOMPARE(request, head + body);
    QCOMPARE(split(request).second.size(), body.size());
    QVERIFY(!request.contains("Authorization"));
}

void TestMicroblogRequests::profileImageBytes_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("proxyFlag");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("requestLine");
    QTest::addColumn<QByteArray>("tilePart");
    QTest::addColumn<QByteArray>("contentType");

    const QByteArray tile =
        "--0123456789ABCDEFGHIJabcdefghijKL\r\nContent-Disposition: form-data; name=\"tile\"\r\n\r\n";
    QTest::newRow("icon, direct") << u"icon"_s << 0 << u"me.jpg"_s
                                  << QByteArray("POST /account/update_profile_image.xml? HTTP/1.0\r\n")
                                  << QByteArray() << QByteArray("image/jpeg");
    QTest::newRow("back through a proxy")
        << u"back"_s << 1 << u"bg.PNG"_s
        << QByteArray("POST http://mb.example:80/account/update_profile_background_image.xml? HTTP/1.0\r\n")
        << QByteArray(tile + "false\r\n") << QByteArray("image/png");
    QTest::newRow("backtile") << u"backtile"_s << 0 << u"t.jpeg"_s
                              << QByteArray("POST /account/update_profile_background_image.xml? HTTP/1.0\r\n")
                              << QByteArray(tile + "true\r\n") << QByteArray("application/octet-stream");
}

void TestMicroblogRequests::profileImageBytes()
{
    QFETCH(QString, kind);
    QFETCH(int, proxyFlag);
    QFETCH(QString, fileName);
    QFETCH(QByteArray, requestLine);
    QFETCH(QByteArray, tilePart);
    QFETCH(QByteArray, contentType);

    ProfileImageKind k{};
    QVERIFY(ProfileImageKindFromText(kind, &k));
    const QByteArray picture = trickyPicture();
    const QByteArray request =
        BuildProfileImageRequest(picture, target(u"mb.example"_s, 80, ProfileImagePath(k)), fileName,
                                 u"taro"_s, u"secret"_s, k, proxyFlag, kBoundary);
    const QByteArray body = tilePart +
                            "--0123456789ABCDEFGHIJabcdefghijKL\r\n"
                            "Content-Disposition: form-data; name=\"image\"; filename=\"" +
                            fileName.toUtf8() + "\"\r\nContent-Type: " + contentType + "\r\n\r\n" + picture +
                            "\r\n--0123456789ABCDEFGHIJabcdefghijKL--";
    // "taro:secret" in Base64.
    const QByteArray head = requestLine +
                            "Host: mb.example\r\nAuthorization: Basic dGFybzpzZWNyZXQ=\r\n"
                            "Content-Type: multipart/form-data; boundary=0123456789ABCDEFGHIJabcdefghijKL\r\n"
                            "Content-Length: " +
                            QByteArray::number(body.size()) + "\r\n\r\n";
    QCOMPARE(request, head + body);
}

void TestMicroblogRequests::fileNameInAnsiCodePage()
{
    AnsiCodec::select(AnsiCodec::CodePage::Windows31J);
    const QByteArray request = BuildPictureUploadRequest(
        {}, target(u"h"_s, 80, u"/api/upload"_s), u"写真.png"_s, u"u"_s, u"p"_s, QString(), 0, kBoundary);
    QVERIFY(request.contains("filename=\"\x8e\xca\x90\x5e.png\""));
}

void TestMicroblogRequests::credentialsFromAnsiBytes_data()
{
    QTest::addColumn<bool>("shiftJis");
    QTest::addColumn<QString>("login");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("ASCII") << false << u"taro"_s << u"pass"_s << QByteArray("taro:pass");
    QTest::newRow("empty both") << false << QString() << QString() << QByteArray(":");
    QTest::newRow("kana in windows-31j")
        << true << u"たろう"_s << u"ﾊﾟｽ"_s << QByteArray("\x82\xbd\x82\xeb\x82\xa4:\xca\xdf\xbd");
    QTest::newRow("kana in UTF-8") << false << u"た"_s << u"x"_s << QByteArray("\xe3\x81\x9f:x");
    QTest::newRow("not in the code page becomes ?") << true << u"😀"_s << u"x"_s << QByteArray("?:x");
}

void TestMicroblogRequests::credentialsFromAnsiBytes()
{
    QFETCH(bool, shiftJis);
    QFETCH(QString, login);
    QFETCH(QString, password);
    QFETCH(QByteArray, bytes);
    AnsiCodec::select(shiftJis ? AnsiCodec::CodePage::Windows31J : AnsiCodec::CodePage::Utf8);
    QCOMPARE(BasicCredentials(login, password), QString::fromLatin1(bytes.toBase64()));
}

void TestMicroblogRequests::pythonReadsPictureUpload_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QByteArray>("picture");
    QTest::addColumn<QByteArray>("sentName");

    QTest::newRow("plain") << u"/home/u/cap.png"_s << QString() << trickyPicture() << QByteArray("cap.png");
    QTest::newRow("Japanese name and message")
        << u"/home/u/画像 ｷｬﾌﾟ.jpg"_s << u"ありがとう 😀"_s << trickyPicture()
        << QByteArray("\xe7\x94\xbb\xe5\x83\x8f \xef\xbd\xb7\xef\xbd\xac"
                      "\xef\xbe\x8c\xef\xbe\x9f.jpg");
    QTest::newRow("quote and line breaks in the name")
        << u"/tmp/a\"b\r\nX-Injected: 1\n.gif"_s << QString() << trickyPicture()
        << QByteArray("a%22b%0D%0AX-Injected: 1%0A.gif");
    QTest::newRow("empty picture") << u"/tmp/empty.png"_s << QString() << QByteArray()
                                   << QByteArray("empty.png");
    QTest::newRow("all byte values") << u"/tmp/all.bin"_s << u"m"_s << []() -> QByteArray {
        QByteArray all;
        for (int i = 0; i < 256; ++i)
            all += char(i);
        return all + all;
    }() << QByteArray("all.bin");
}

void TestMicroblogRequests::pythonReadsPictureUpload()
{
    QFETCH(QString, path);
    QFETCH(QString, message);
    QFETCH(QByteArray, picture);
    QFETCH(QByteArray, sentName);

    const QByteArray request =
        BuildPictureUploadRequest(picture, target(u"pic.example"_s, 80, u"/api/upload"_s), FormFileName(path),
                                  u"ユーザー"_s, u"pa\"ss"_s, message, 0, MakeBoundary(32));
    const ParsedMultipart parsed = ParseMultipartWithPython(request);
    QVERIFY(parsed.ok);
    QVERIFY(parsed.multipart);
    QCOMPARE(parsed.defects, QStringList());
    QList<QString> names;
    for (const ParsedPart& part : parsed.parts) {
        names << part.name;
        QCOMPARE(part.defects, QStringList());
    }
    QStringList expectedNames{u"username"_s, u"password"_s};
    if (!message.isEmpty())
        expectedNames << u"message"_s;
    expectedNames << u"media"_s;
    QCOMPARE(names, expectedNames);
    QCOMPARE(parsed.parts[0].payload, u"ユーザー"_s.toUtf8());
    QCOMPARE(parsed.parts[1].payload, QByteArray("pa\"ss"));
    if (!message.isEmpty())
        QCOMPARE(parsed.parts[2].payload, message.toUtf8());
    const ParsedPart& media = parsed.parts.last();
    QVERIFY(media.hasFileName);
    QCOMPARE(media.fileName, sentName);
    // A line break in the name must not have given the part a header of its own.
    QCOMPARE(media.headerCount, 2);
    QCOMPARE(media.contentType, u"application/octet-stream"_s);
    QCOMPARE(media.payload, picture);
}

void TestMicroblogRequests::pythonReadsProfileImage_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QByteArray>("tile");
    QTest::addColumn<QString>("type");
    QTest::newRow("icon") << u"icon"_s << u"/p/顔.png"_s << QStringList{u"image"_s} << QByteArray()
                          << u"image/png"_s;
    QTest::newRow("back") << u"back"_s << u"/p/b\"g\r\n.JPG"_s << QStringList{u"tile"_s, u"image"_s}
                          << QByteArray("false") << u"image/jpeg"_s;
    QTest::newRow("backtile") << u"backtile"_s << u"t.gif"_s << QStringList{u"tile"_s, u"image"_s}
                              << QByteArray("true") << u"image/gif"_s;
}

void TestMicroblogRequests::pythonReadsProfileImage()
{
    QFETCH(QString, kind);
    QFETCH(QString, path);
    QFETCH(QStringList, names);
    QFETCH(QByteArray, tile);
    QFETCH(QString, type);
    ProfileImageKind k{};
    QVERIFY(ProfileImageKindFromText(kind, &k));
    const QByteArray picture = trickyPicture();
    const QByteArray request =
        BuildProfileImageRequest(picture, target(u"mb.example"_s, 80, ProfileImagePath(k)),
                                 FormFileName(path), u"u"_s, u"p"_s, k, 1, MakeBoundary(32));
    const ParsedMultipart parsed = ParseMultipartWithPython(request);
    QVERIFY(parsed.ok);
    QVERIFY(parsed.multipart);
    QCOMPARE(parsed.defects, QStringList());
    QStringList got;
    for (const ParsedPart& part : parsed.parts)
        got << part.name;
    QCOMPARE(got, names);
    if (!tile.isEmpty())
        QCOMPARE(parsed.parts.first().payload, tile);
    QCOMPARE(parsed.parts.last().contentType, type);
    QCOMPARE(parsed.parts.last().headerCount, 2);
    QCOMPARE(parsed.parts.last().fileName, FormFileName(path).toUtf8());
    QCOMPARE(parsed.parts.last().payload, picture);
}

void TestMicroblogRequests::pythonReadsStatusBody_data()
{
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("body");
    QTest::newRow("two words") << u"hello world"_s << u"status=hello+world"_s;
    QTest::newRow("empty") << QString() << u"status="_s;
    QTest::newRow("Japanese") << u"あ"_s << u"status=%E3%81%82"_s;
    QTest::newRow("emoji is one four-byte sequence") << u"😀!"_s << u"status=%F0%9F%98%80%21"_s;
    QTest::newRow("form characters") << u"a&b=c+d%"_s << u"status=a%26b%3Dc%2Bd%25"_s;
    QTest::newRow("mixed")
        << u"ﾃｽﾄ 𠮷野家 http://x.example/?q=1"_s
        << u"status=%EF%BE%83%EF%BD%BD%EF%BE%84+%F0%A0%AE%B7%E9%87%8E%E5%AE%B6+http%3A%2F%2Fx.example"
           u"%2F%3Fq%3D1"_s;
}

void TestMicroblogRequests::pythonReadsStatusBody()
{
    QFETCH(QString, status);
    QFETCH(QString, body);
    QCOMPARE(StatusUpdateBody(status), body);
    const auto fields = ParseFormWithPython("POST / HTTP/1.0\r\n\r\n" + body.toLatin1());
    QCOMPARE(fields.size(), 1);
    QCOMPARE(fields[0].first, u"status"_s);
    QCOMPARE(fields[0].second, status.toUtf8());
    QCOMPARE(FollowBody(status), u"screen_name="_s + body.mid(7));
}

void TestMicroblogRequests::utf8Bin_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("empty") << QString() << QByteArray();
    QTest::newRow("one kanji") << u"漢"_s << QByteArray("\xe6\xbc\xa2");
    QTest::newRow("surrogate pair") << u"😀"_s << QByteArray("\xf0\x9f\x98\x80");
    QTest::newRow("lone surrogate") << QString(QChar(char16_t(0xD800))) << QByteArray("\xef\xbf\xbd");
}

void TestMicroblogRequests::utf8Bin()
{
    QFETCH(QString, text);
    QTEST(EncodeUTF8Bin(text), "bytes");
}

void TestMicroblogRequests::socketVerdict_data()
{
    QTest::addColumn<QString>("reply");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("value");
    QTest::newRow("picture address") << u"HTTP/1.0 200 OK\r\n\r\n<rsp stat=\"ok\"><mediaid>1</mediaid>"
                                        u"<mediaurl>http://p.example/1</mediaurl></rsp>"_s
                                     << int(SocketVerdict::PictureUrl) << u"http://p.example/1"_s;
    QTest::newRow("address before error wins") << u"<err code=\"1\" msg=\"no\" /><mediaurl>u</mediaurl>"_s
                                               << int(SocketVerdict::PictureUrl) << u"u"_s;
    QTest::newRow("upper-case tags") << u"<MEDIAURL>U</MEDIAURL>"_s << int(SocketVerdict::PictureUrl)
                                     << u"U"_s;
    QTest::newRow("line break inside the address")
        << u"<mediaurl>a\nb</mediaurl><err code=\"1\" msg=\"x\" />"_s << int(SocketVerdict::ServiceError)
        << u"x"_s;
    QTest::newRow("first of two addresses")
        << u"<mediaurl>a</mediaurl><mediaurl>b</mediaurl>"_s << int(SocketVerdict::PictureUrl) << u"a"_s;
    QTest::newRow("account") << u"<user><screen_name>taro</screen_name></user>"_s
                             << int(SocketVerdict::ScreenName) << u"taro"_s;
    QTest::newRow("picture host error")
        << u"<rsp stat=\"fail\"><err code=\"1001\" msg=\"Invalid twitter username or password\" /></rsp>"_s
        << int(SocketVerdict::ServiceError) << u"Invalid twitter username or password"_s;
    QTest::newRow("API error hash is unknown here")
        << u"<hash><request>/x</request><error>Could not authenticate you.</error></hash>"_s
        << int(SocketVerdict::Unknown) << QString();
    QTest::newRow("nothing") << QString() << int(SocketVerdict::Unknown) << QString();
}

void TestMicroblogRequests::socketVerdict()
{
    QFETCH(QString, reply);
    const SocketVerdict verdict = JudgeSocketReply(reply);
    QTEST(int(verdict.kind), "kind");
    QTEST(verdict.value, "value");
}

void TestMicroblogRequests::apiError_data()
{
    QTest::addColumn<QString>("reply");
    QTest::addColumn<bool>("hasError");
    QTest::addColumn<QString>("text");
    QTest::newRow("account") << u"<user><screen_name>t</screen_name></user>"_s << false << QString();
    QTest::newRow("error") << u"<hash><error>Could not authenticate you.</error></hash>"_s << true
                           << u"Could not authenticate you."_s;
    QTest::newRow("empty error") << u"<ERROR></ERROR>"_s << true << QString();
    QTest::newRow("error across lines") << u"<error>a\nb</error>"_s << false << QString();
}

void TestMicroblogRequests::apiError()
{
    QFETCH(QString, reply);
    QFETCH(bool, hasError);
    const auto error = ApiReplyError(reply);
    QCOMPARE(error.has_value(), hasError);
    if (hasError)
        QTEST(*error, "text");
}

QTEST_GUILESS_MAIN(TestMicroblogRequests)
#include "tst_microblogrequests.moc"
