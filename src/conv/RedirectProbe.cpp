#include "conv/RedirectProbe.h"

#include "conv/RuleRegex.h"
#include "conv/UrlParts.h"
#include "platform/AnsiCodec.h"

#include <algorithm>
#if QT_CONFIG(ssl)
#include <QSslError>
#endif

using namespace Qt::StringLiterals;

namespace linvera {
namespace {

QString tooLargeMessage()
{
    return u"The answer's header block is larger than %1 bytes"_s.arg(RedirectProbe::kMaxAnswerBytes);
}

} // namespace

QByteArray ProbeRequestText(const QString& host, const QString& path, bool viaProxy, quint16 port)
{
    const QString authority = viaProxy && port != 80 ? host + u':' + QString::number(port) : host;
    const QString target = viaProxy ? u"http://"_s + authority + path : path;
    const QString request = u"GET "_s + target + u" HTTP/1.0\r\nHost: "_s + authority + u"\r\n\r\n"_s;
    return platform::AnsiCodec::encode(request);
}

QString ProbeHeaderBlock(const QString& answer)
{
    const qsizetype end = answer.indexOf(u"\r\n\r\n"_s);
    return end >= 0 ? answer.left(end + 2) : answer;
}

QString ProbeLocation(const QString& headerBlock)
{
    // Header names are case-insensitive ("location:" from many frameworks); the value stays as sent,
    // up to its line's CR LF, without the blanks that may follow the colon.
    static const QString name = u"Location:"_s;
    qsizetype lineStart = 0;
    for (;;) {
        const qsizetype lineEnd = headerBlock.indexOf(u"\r\n"_s, lineStart);
        if (lineEnd < 0)
            return {};
        const QStringView line = QStringView(headerBlock).mid(lineStart, lineEnd - lineStart);
        if (line.startsWith(name, Qt::CaseInsensitive)) {
            QStringView value = line.mid(name.size());
            while (!value.isEmpty() && (value.front() == u' ' || value.front() == u'\t'))
                value = value.mid(1);
            return value.toString();
        }
        lineStart = lineEnd + 2;
    }
}

QString LiveProbeLocation(const QString& headerBlock, bool* found)
{
    static const RuleRegex location(u"Location: (.*)#"_s);
    QStringList groups;
    const bool matched = location.match(headerBlock, &groups);
    if (found)
        *found = matched;
    return matched ? groups.value(0) : QString();
}

QString CertificateFailureText(const QList<QSslError>& errors)
{
    QStringList reasons;
#if QT_CONFIG(ssl)
    for (const QSslError& error : errors) {
        QString reason;
        switch (error.error()) {
        case QSslError::UnableToGetIssuerCertificate:
        case QSslError::UnableToGetLocalIssuerCertificate:
        case QSslError::UnableToVerifyFirstCertificate:
        case QSslError::SelfSignedCertificate:
        case QSslError::SelfSignedCertificateInChain:
        case QSslError::CertificateUntrusted:
        case QSslError::InvalidCaCertificate:
            reason = u"証明書の発行元を信頼できません。"_s;
            break;
        case QSslError::CertificateExpired:
            reason = u"証明書の有効期限が切れています。"_s;
            break;
        case QSslError::CertificateNotYetValid:
            reason = u"証明書はまだ有効期間になっていません。"_s;
            break;
        case QSslError::HostNameMismatch:
            reason = u"証明書が接続先のホスト名と一致しません。"_s;
            break;
        case QSslError::CertificateRevoked:
            reason = u"証明書は失効しています。"_s;
            break;
        case QSslError::NoPeerCertificate:
            reason = u"サーバーが証明書を提示しませんでした。"_s;
            break;
        case QSslError::CertificateSignatureFailed:
        case QSslError::CertificateRejected:
        case QSslError::InvalidPurpose:
            reason = u"証明書が正しくありません。"_s;
            break;
        default:
            reason = u"証明書を検証できませんでした。"_s;
            break;
        }
        if (!reasons.contains(reason))
            reasons.append(reason);
    }
#else
    Q_UNUSED(errors);
#endif
    if (reasons.isEmpty())
        reasons.append(u"証明書を検証できませんでした。"_s);
    return u"サーバー証明書を検証できなかったため、接続を中止しました。\n"_s + reasons.join(u'\n');
}

quint16 HttpsUpgradePort(const QString& location, const QString& host, const QString& path)
{
    const UrlParts parts = SplitUrl(location);
    if (parts.scheme.compare(u"https"_s, Qt::CaseInsensitive) != 0)
        return 0;
    if (parts.host.compare(host, Qt::CaseInsensitive) != 0 || parts.path != path)
        return 0;
    return parts.port > 0 && parts.port <= 65535 ? quint16(parts.port) : quint16(443);
}

RedirectProbe::RedirectProbe(QObject* parent)
    : QObject(parent)
{
    connect(&m_connection, &HttpConnection::ready, this, &RedirectProbe::onReady);
    connect(&m_connection, &HttpConnection::readyRead, this, &RedirectProbe::onReadyRead);
    connect(&m_connection, &HttpConnection::closed, this, &RedirectProbe::onClosed);
    connect(&m_connection, &HttpConnection::failed, this, &RedirectProbe::onFailed);
}

RedirectProbe::~RedirectProbe() = default;

bool RedirectProbe::isRunning() const
{
    return !m_done;
}

void RedirectProbe::cancel()
{
    m_done = true;
    m_connection.close();
}

void RedirectProbe::StartRedirectProbe(const QString& host, const QString& path, quint16 port, bool secure)
{
    cancel();
    m_answer.clear();
    m_done = false;
    m_secure = secure;

    // A line break would let the input write its own request headers; no other control character
    // (a NUL from a Location) belongs in a request line either.
    const auto hasLineBreak = [](const QString& s) { return s.contains(u'\r') || s.contains(u'\n'); };
    const auto hasControl = [](const QString& s) {
        return std::any_of(s.cbegin(), s.cend(),
                           [](QChar c) { return c.category() == QChar::Other_Control; });
    };
    if (hasLineBreak(host) || hasLineBreak(path)) {
        m_request.clear();
        fail(u"URLに改行文字が含まれているため、接続しませんでした。"_s);
        return;
    }
    if (hasControl(host) || hasControl(path)) {
        m_request.clear();
        fail(u"URLに制御文字が含まれているため、接続しませんでした。"_s);
        return;
    }

    m_route = RouteFor(m_proxy, host, port);
    const ProbeRoute& route = m_route;
    // Inside a tunnel the request is the same as to the host itself.
    m_request = ProbeRequestText(host, path, route.viaProxy && !secure, port);
    if (route.connectHost.isEmpty() || route.connectPort == 0) {
        fail(u"プロキシサーバーの設定が正しくありません。"_s);
        return;
    }
#if !QT_CONFIG(ssl)
    if (secure) {
        fail(u"このプログラムはTLSに対応していないため、https のリンクを調べられません。"_s);
        return;
    }
#endif
    ConnectionTarget target;
    target.host = host;
    target.port = port;
    target.tls = secure;
    target.via = route.viaProxy ? ConnectionTarget::Via::HttpProxy : ConnectionTarget::Via::Direct;
    target.proxyHost = route.connectHost;
    target.proxyPort = route.connectPort;
    target.socketName = u"WinsockHeader"_s;
    // The answer has a time of its own from the connection on (set in onReady), however slowly
    // it drips; no idle bound, since a trickle must not outlast it either.
    HttpLimits limits;
    limits.headCap = kMaxAnswerBytes;
    limits.connect = m_timeouts.connect;
    limits.idle = std::chrono::milliseconds(0);
    limits.total = std::chrono::milliseconds(0);
    m_connection.open(target, limits);
}

void RedirectProbe::onReady()
{
    if (m_done)
        return;
    m_connection.restartTotal(m_timeouts.answer);
    m_connection.write(m_request);
}

bool RedirectProbe::gather()
{
    // Only the new bytes, with the three before them, can complete the blank line; and no more than
    // one byte past the cap is ever kept.
    const qsizetype from = qMax(qsizetype(0), m_answer.size() - 3);
    m_answer += m_connection.read(kMaxAnswerBytes + 1 - m_answer.size());
    const qsizetype blank = m_answer.indexOf("\r\n\r\n", from);
    return blank >= 0 && blank + 4 <= kMaxAnswerBytes;
}

void RedirectProbe::onReadyRead()
{
    if (m_done) {
        m_connection.readAll();
        return;
    }
    if (gather())
        finishWithAnswer();
    else if (m_answer.size() > kMaxAnswerBytes)
        fail(tooLargeMessage());
}

void RedirectProbe::onClosed()
{
    if (m_done)
        return;
    const bool complete = gather();
    if (m_answer.isEmpty())
        fail(u"The remote host closed the connection without an answer"_s);
    else if (!complete && m_answer.size() > kMaxAnswerBytes)
        fail(tooLargeMessage());
    else
        finishWithAnswer();
}

void RedirectProbe::onFailed(HttpConnection::Failure failure, const QString& description)
{
    if (m_done)
        return;
    switch (failure) {
    case HttpConnection::Failure::Certificate:
        fail(CertificateFailureText(m_connection.certificateErrors()));
        return;
    case HttpConnection::Failure::Tls:
        fail(u"TLSによる安全な接続を確立できませんでした。("_s + description + u")"_s);
        return;
    case HttpConnection::Failure::Timeout:
        // A header block still open at the time-out is no answer, whatever part of it came: a host
        // that drips it must not have its first lines taken for the whole.
        fail(u"Socket operation timed out"_s);
        return;
    case HttpConnection::Failure::Proxy:
    case HttpConnection::Failure::Socket:
    case HttpConnection::Failure::Unsupported:
        fail(description);
        return;
    }
}

void RedirectProbe::finishWithAnswer()
{
    m_done = true;
    const QString answer = platform::AnsiCodec::decode(m_answer);
    m_connection.close();
    Q_EMIT answered(ProbeHeaderBlock(answer));
}

void RedirectProbe::fail(const QString& description)
{
    m_done = true;
    m_connection.close();
    Q_EMIT failed(description);
}

} // namespace linvera
