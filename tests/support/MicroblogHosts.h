#pragma once

#include "HttpTestServer.h"

namespace linvera::test {

/// The picture host's upload API ("/api/upload"): it checks the username and password fields of
/// the multipart body and answers `<rsp stat="ok">` with a media id and address, or
/// `<rsp stat="fail"><err code="1001" msg="…" /></rsp>` for wrong credentials or no media part.
class PictureUploadHost : public HttpTestServer
{
    Q_OBJECT

public:
    explicit PictureUploadHost(QObject* parent = nullptr);

    void setAccount(const QByteArray& userName, const QByteArray& password);
    /// The address answered for the next upload (numbered from 1 when empty).
    void setMediaUrl(const QString& url) { m_mediaUrl = url; }
    QString lastMediaUrl() const { return m_lastMediaUrl; }

protected:
    HttpTestResponse respond(const HttpTestRequest& request) override;

private:
    QByteArray m_userName;
    QByteArray m_password;
    QString m_mediaUrl;
    QString m_lastMediaUrl;
    int m_uploads = 0;
};

/// The microblog XML API: status update, follow and the two profile-image paths. Basic credentials
/// are checked; a good request gets an account record with `<screen_name>`, a bad one
/// `<hash><request>…</request><error>…</error></hash>` with status 401 (or 403 for a forced error).
class MicroblogApiHost : public HttpTestServer
{
    Q_OBJECT

public:
    explicit MicroblogApiHost(QObject* parent = nullptr);

    void setAccount(const QByteArray& login, const QByteArray& password);
    /// Every answer carries this error text (403) until it is cleared.
    void setForcedError(const QString& error) { m_forcedError = error; }

protected:
    HttpTestResponse respond(const HttpTestRequest& request) override;

private:
    QByteArray m_login;
    QByteArray m_password;
    QString m_forcedError;
};

/// An HTTP proxy: requests in absolute form are passed on to the host and port they name (over
/// loopback only) with an origin-form request line, and the answer is handed back unchanged.
/// Every request stays recorded as it came; origin-form requests get 400.
class ForwardingProxy : public HttpTestServer
{
    Q_OBJECT

public:
    explicit ForwardingProxy(QObject* parent = nullptr);

protected:
    HttpTestResponse respond(const HttpTestRequest& request) override;
};

} // namespace linvera::test
