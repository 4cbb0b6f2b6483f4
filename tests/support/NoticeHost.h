#pragma once

#include "HttpTestServer.h"

#include <QHash>

#include <optional>

namespace linvera::test {

/// The maker's notice host: the notice document at the base path ("/linvera/notice/", asked for
/// with "?ver=…") and the rule files "tinyurls.txt" and "picturls.txt" beside it. Each file has a
/// configurable body and status, or can break off midway.
class NoticeHost : public HttpTestServer
{
    Q_OBJECT

public:
    /// The five texts of a notice document; an absent one leaves its element out.
    struct Notice
    {
        std::optional<QString> noticeMessage;
        std::optional<QString> noticeUrl;
        std::optional<QString> warningMessage;
        std::optional<QString> warningUrl;
        std::optional<QString> account;
    };

    explicit NoticeHost(QObject* parent = nullptr);

    void setBasePath(const QByteArray& path) { m_basePath = path; }
    QByteArray basePath() const { return m_basePath; }
    /// "127.0.0.1:<port>", the value to use as the notice host.
    QString noticeHost() const { return hostAndPort(); }

    /// Body and status of a file; the notice document is the file named "" (the base path).
    void setFile(const QByteArray& name, const QByteArray& body, int status = 200);
    void setNotice(const QByteArray& body, int status = 200) { setFile({}, body, status); }
    /// Sends the head with the full length and half of the body, then closes.
    void setBroken(const QByteArray& name, bool broken = true);
    QByteArray body(const QByteArray& name) const { return m_files.value(name).body; }

    /// The "ver" values of the notice requests received, in order.
    QStringList versionsRequested() const;
    /// Names ("" for the notice) of the files requested, in order.
    QList<QByteArray> namesRequested() const;

    /// A notice document in the usual eight lines, encoded as named in its declaration
    /// ("UTF-8" or "Shift_JIS").
    static QByteArray noticeXml(const Notice& notice, const QByteArray& encoding = "UTF-8");
    static Notice sampleNotice();
    static QByteArray sampleShortLinkRules();
    static QByteArray samplePictureRules();

protected:
    HttpTestResponse respond(const HttpTestRequest& request) override;

private:
    std::optional<QByteArray> nameOf(const HttpTestRequest& request) const;

    QByteArray m_basePath = QByteArrayLiteral("/linvera/notice/");
    QHash<QByteArray, HttpTestResponse> m_files;
};

} // namespace linvera::test
