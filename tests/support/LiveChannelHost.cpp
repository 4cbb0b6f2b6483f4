#include "LiveChannelHost.h"

#include "RedirectAnswer.h"

namespace linvera::test {

namespace {

const QByteArray byteOrderMark("\xEF\xBB\xBF");

} // namespace

LiveChannelHost::LiveChannelHost(QObject* parent)
    : HttpTestServer(parent)
{}

QByteArray LiveChannelHost::location() const
{
    if (!m_locationOverride.isEmpty())
        return m_locationOverride;
    return "http://" + hostAndPort().toLatin1() + channelPath() + '#' + m_fragment;
}

QByteArray LiveChannelHost::channelPage() const
{
    const QString channelUrl =
        m_channelUrlValue.isNull() ? QString::fromLatin1(m_channelName) : m_channelUrlValue;
    QByteArray title = m_title.toUtf8();
    if (m_bomInTitle) {
        const qsizetype half = m_title.size() / 2;
        title = m_title.left(half).toUtf8() + byteOrderMark + m_title.mid(half).toUtf8();
    }
    QByteArray page = m_leadingBom ? byteOrderMark : QByteArray();
    page += "<!DOCTYPE html>\r\n<html lang=\"ja\">\r\n<head>\r\n<meta charset=\"utf-8\">\r\n<title> " +
            title + " </title>\r\n</head>\r\n<body>\r\n<h1>" + m_title.toUtf8() +
            "</h1>\r\n<div id=\"player\" channelUrl=\"" + channelUrl.toUtf8() + "\"></div>\r\n<p>" +
            QStringLiteral(u"ただいま生放送中です").toUtf8() + "</p>\r\n</body>\r\n</html>\r\n";
    return page;
}

HttpTestResponse LiveChannelHost::respond(const HttpTestRequest& request)
{
    if (request.path() == m_shortPath)
        return RedirectAnswer::movedTo(location()).toResponse();
    if (request.path() == channelPath())
        return HttpTestResponse::ok(channelPage(), "text/html; charset=utf-8");
    return HttpTestServer::respond(request);
}

} // namespace linvera::test
