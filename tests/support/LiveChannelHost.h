#pragma once

#include "HttpTestServer.h"

namespace linvera::test {

/// The live-video service in one server: its short link answers an HTTP/1.0 301 to
/// "http://<this server>/channel/<name>#<fragment>", and "/channel/<name>" is a UTF-8 page that
/// starts with a byte-order mark and holds channelUrl="<value>" and "<title> <title> </title>".
class LiveChannelHost : public HttpTestServer
{
    Q_OBJECT

public:
    explicit LiveChannelHost(QObject* parent = nullptr);

    /// Path of the short link ("/lv1234" until set).
    void setShortPath(const QByteArray& path) { m_shortPath = path; }
    QByteArray shortPath() const { return m_shortPath; }
    /// Channel name in the redirect and the page's path ("ch0001" until set; ASCII).
    void setChannelName(const QByteArray& name) { m_channelName = name; }
    QByteArray channelName() const { return m_channelName; }
    /// Fragment after "#" in the redirect ("ref=top" until set).
    void setFragment(const QByteArray& fragment) { m_fragment = fragment; }
    /// Replaces the whole Location value of the redirect.
    void setLocation(const QByteArray& location) { m_locationOverride = location; }
    /// Value written between the quotes of channelUrl="…" (the channel name until set).
    void setChannelUrlValue(const QString& value) { m_channelUrlValue = value; }
    /// Text of the title element, written with one space on each side.
    void setTitle(const QString& title) { m_title = title; }
    QString title() const { return m_title; }
    /// Byte-order mark at the very start of the page (on until set off).
    void setLeadingBom(bool on) { m_leadingBom = on; }
    /// A second byte-order mark in the middle of the title text.
    void setBomInTitle(bool on) { m_bomInTitle = on; }

    /// The Location value of the redirect.
    QByteArray location() const;
    QByteArray channelPath() const { return "/channel/" + m_channelName; }
    QUrl shortLinkUrl() const { return url(QString::fromLatin1(m_shortPath)); }
    /// The exact bytes of the channel page's body.
    QByteArray channelPage() const;

protected:
    HttpTestResponse respond(const HttpTestRequest& request) override;

private:
    QByteArray m_shortPath = QByteArrayLiteral("/lv1234");
    QByteArray m_channelName = QByteArrayLiteral("ch0001");
    QByteArray m_fragment = QByteArrayLiteral("ref=top");
    QByteArray m_locationOverride;
    QString m_channelUrlValue;
    QString m_title = QStringLiteral(u"テスト生放送チャンネル【公式】");
    bool m_leadingBom = true;
    bool m_bomInTitle = false;
};

} // namespace linvera::test
