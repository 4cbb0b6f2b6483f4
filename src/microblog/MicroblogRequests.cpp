#include "microblog/MicroblogRequests.h"

#include "codec/Base64.h"
#include "codec/PercentCoding.h"
#include "platform/AnsiCodec.h"

#include <QRandomGenerator>

using namespace Qt::StringLiterals;

namespace linvera {
namespace {

using platform::AnsiCodec;

QByteArray ansi(const QString& text)
{
    return AnsiCodec::encode(text);
}

// One form field: its delimiter, its disposition line and its value.
void appendField(QByteArray& body, const QByteArray& delimiter, QStringView name, const QByteArray& value)
{
    body += delimiter;
    body += ansi(u"Content-Disposition: form-data; name=\""_s + name.toString() + u"\"\r\n\r\n"_s);
    body += value;
    body += "\r\n";
}

void appendFile(QByteArray& body, const QByteArray& delimiter, QStringView name, const QString& fileName,
                const QString& contentType, const QByteArray& content, const QString& boundary)
{
    body += delimiter;
    body += ansi(u"Content-Disposition: form-data; name=\""_s + name.toString() + u"\"; filename=\""_s +
                 fileName + u"\"\r\nContent-Type: "_s + contentType + u"\r\n\r\n"_s);
    body += content;
    // The closing delimiter ends the body: nothing follows it.
    body += ansi(u"\r\n--"_s + boundary + u"--"_s);
}

QString requestLine(const UploadTarget& target, qint32 proxyFlag)
{
    const QString absolute =
        proxyFlag == 1 ? u"http://"_s + target.host + u':' + QString::number(target.port) : QString();
    return u"POST "_s + absolute + target.path + u'?' + target.query + u" HTTP/1.0\r\n"_s;
}

QString hostHeader(const UploadTarget& target)
{
    // A port other than 80 must be named, or a server on it cannot tell which site is meant.
    const QString host = target.port == 80 ? target.host : target.host + u':' + QString::number(target.port);
    return u"Host: "_s + host + u"\r\n"_s;
}

QString multipartHeaders(const QString& boundary, qsizetype bodyLength)
{
    return u"Content-Type: multipart/form-data; boundary="_s + boundary + u"\r\nContent-Length: "_s +
           QString::number(bodyLength) + u"\r\n\r\n"_s;
}

} // namespace

UploadTarget TargetFor(const QString& endpoint, const QString& path)
{
    UploadTarget target;
    target.host = endpoint;
    target.path = path;
    const qsizetype colon = endpoint.lastIndexOf(u':');
    if (colon > 0) {
        bool ok = false;
        const uint port = endpoint.mid(colon + 1).toUInt(&ok);
        if (ok && port > 0 && port <= 65535) {
            target.host = endpoint.left(colon);
            target.port = quint16(port);
        }
    }
    return target;
}

QString MakeBoundary(int length)
{
    QString boundary;
    boundary.reserve(qMax(length, 0));
    QRandomGenerator* rng = QRandomGenerator::global();
    while (boundary.size() < length) {
        const auto code = char16_t(rng->generateDouble() * 127);
        if ((code >= u'0' && code <= u'9') || (code >= u'A' && code <= u'Z') ||
            (code >= u'a' && code <= u'z'))
            boundary += QChar(code);
    }
    return boundary;
}

QByteArray EncodeUTF8Bin(QStringView text)
{
    if (text.isEmpty())
        return {};
    // A lone surrogate has no UTF-8 form; the platform converter writes U+FFFD for it.
    QString sound = text.toString();
    for (qsizetype i = 0; i < sound.size(); ++i) {
        const QChar c = sound[i];
        if (c.isHighSurrogate() && i + 1 < sound.size() && sound[i + 1].isLowSurrogate())
            ++i;
        else if (c.isSurrogate())
            sound[i] = QChar::ReplacementCharacter;
    }
    return sound.toUtf8();
}

QString FormFileName(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(u'/');
    QString name = slash >= 0 ? path.mid(slash + 1) : path;
    name.replace(u'"', u"%22"_s);
    name.replace(u'\r', u"%0D"_s);
    name.replace(u'\n', u"%0A"_s);
    return name;
}

QString ProfileContentType(const QString& fileName)
{
    const QString ending = fileName.right(3).toLower();
    if (ending == u"png"_s)
        return u"image/png"_s;
    if (ending == u"jpg"_s)
        return u"image/jpeg"_s;
    if (ending == u"gif"_s)
        return u"image/gif"_s;
    return u"application/octet-stream"_s;
}

QString BasicCredentials(const QString& login, const QString& password)
{
    return Base64Encode(ansi(login + u':' + password));
}

bool ProfileImageKindFromText(QStringView text, ProfileImageKind* kind)
{
    ProfileImageKind found;
    if (text == u"icon")
        found = ProfileImageKind::Icon;
    else if (text == u"back")
        found = ProfileImageKind::Back;
    else if (text == u"backtile")
        found = ProfileImageKind::BackTile;
    else
        return false;
    if (kind)
        *kind = found;
    return true;
}

QString ProfileImagePath(ProfileImageKind kind)
{
    return kind == ProfileImageKind::Icon ? u"/account/update_profile_image.xml"_s
                                          : u"/account/update_profile_background_image.xml"_s;
}

QByteArray BuildPictureUploadRequest(const QByteArray& picture, const UploadTarget& target,
                                     const QString& fileName, const QString& userName,
                                     const QString& password, const QString& message, qint32 proxyFlag,
                                     const QString& boundary)
{
    const QByteArray delimiter = ansi(u"--"_s + boundary + u"\r\n"_s);
    QByteArray body;
    appendField(body, delimiter, u"username", ansi(userName));
    appendField(body, delimiter, u"password", ansi(password));
    if (!message.isEmpty())
        appendField(body, delimiter, u"message", EncodeUTF8Bin(message));
    appendFile(body, delimiter, u"media", fileName, u"application/octet-stream"_s, picture, boundary);

    const QString head =
        requestLine(target, proxyFlag) + hostHeader(target) + multipartHeaders(boundary, body.size());
    return ansi(head) + body;
}

QByteArray BuildProfileImageRequest(const QByteArray& picture, const UploadTarget& target,
                                    const QString& fileName, const QString& login, const QString& password,
                                    ProfileImageKind kind, qint32 proxyFlag, const QString& boundary)
{
    const QByteArray delimiter = ansi(u"--"_s + boundary + u"\r\n"_s);
    QByteArray body;
    if (kind != ProfileImageKind::Icon)
        appendField(body, delimiter, u"tile", kind == ProfileImageKind::BackTile ? "true" : "false");
    appendFile(body, delimiter, u"image", fileName, ProfileContentType(fileName), picture, boundary);

    const QString head = requestLine(target, proxyFlag) + hostHeader(target) + u"Authorization: Basic "_s +
                         BasicCredentials(login, password) + u"\r\n"_s +
                         multipartHeaders(boundary, body.size());
    return ansi(head) + body;
}

QString StatusUpdateBody(const QString& status)
{
    return u"status="_s + PercentEncode(status);
}

QString FollowBody(const QString& account)
{
    return u"screen_name="_s + PercentEncode(account);
}

} // namespace linvera
