#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

namespace linvera {

/// Where a hand-built request goes: host and port of the service, path and query.
struct UploadTarget
{
    QString host;
    quint16 port = 80;
    QString path;
    QString query;
};

/// The target for an endpoint value ("host" or "host:port") and a path.
UploadTarget TargetFor(const QString& endpoint, const QString& path);

/// A random text of `length` characters from "0"-"9", "A"-"Z", "a"-"z": codes 0 to 126 are drawn
/// and everything else is drawn again.
QString MakeBoundary(int length);

/// The UTF-8 bytes of a text; a lone surrogate becomes U+FFFD, as the platform converter writes it.
QByteArray EncodeUTF8Bin(QStringView text);

/// The file name a multipart part carries: the base name only (the folders are nobody's business),
/// with `"`, CR and LF written as %22, %0D and %0A so that they cannot break the part header.
QString FormFileName(const QString& path);

/// "image/png", "image/jpeg", "image/gif" by the last three characters (lower-cased), else
/// "application/octet-stream".
QString ProfileContentType(const QString& fileName);

/// Base64 of the ANSI bytes of login ":" password, for "Authorization: Basic".
QString BasicCredentials(const QString& login, const QString& password);

enum class ProfileImageKind { Icon, Back, BackTile };
/// "icon", "back", "backtile"; anything else is no kind.
bool ProfileImageKindFromText(QStringView text, ProfileImageKind* kind);
QString ProfileImagePath(ProfileImageKind kind);

/// The picture upload: head and multipart body. `proxyFlag` 1 writes the absolute request line.
QByteArray BuildPictureUploadRequest(const QByteArray& picture, const UploadTarget& target,
                                     const QString& fileName, const QString& userName,
                                     const QString& password, const QString& message, qint32 proxyFlag,
                                     const QString& boundary);

/// The profile image update: head with Basic credentials and multipart body.
QByteArray BuildProfileImageRequest(const QByteArray& picture, const UploadTarget& target,
                                    const QString& fileName, const QString& login, const QString& password,
                                    ProfileImageKind kind, qint32 proxyFlag, const QString& boundary);

/// "status=" and the percent-encoded text.
QString StatusUpdateBody(const QString& status);
/// "screen_name=" and the percent-encoded account.
QString FollowBody(const QString& account);

} // namespace linvera
