#include "HttpClient.h"

#include <QNetworkProxy>
#include <QNetworkProxyFactory>
#include <QTcpSocket>
#if QT_CONFIG(ssl)
#include <QSslSocket>
#endif

#include <utility>

using namespace Qt::StringLiterals;

namespace linvera {
namespace {

constexpr int kMaxRedirects = 10;
// An answer head longer than this is not an answer we want to read.
constexpr qsizetype kMaxHeadBytes = 64 * 1024;
// What the socket takes from the system before we have read it: a fast host then waits for us,
// and no single arrival is so large that handling it holds up the window's events.
constexpr qint64 kSocketReadBuffer = 256 * 1024;

using HeaderList = QList<std::pair<QByteArray, QByteArray>>;

void setHeader(HeaderList& headers, const QByteArray& name, const QByteArray& value)
{
    for (auto& header : headers) {
        if (header.first.compare(name, Qt::CaseInsensitive) == 0) {
            header.second = value;
            return;
        }
    }
    headers.append({name, value});
}

void applyHeaders(HeaderList& list, const QString& headers)
{
    const QStringList lines = headers.split(u"\r\n"_s, Qt::SkipEmptyParts);
    for (const QString& line : lines) {
        const qsizetype colon = line.indexOf(u':');
        // A stray line break inside a line would start a header nobody asked for.
        if (colon <= 0 || line.contains(u'\r') || line.contains(u'\n'))
            continue;
        setHeader(list, line.left(colon).trimmed().toLatin1(), line.mid(colon + 1).trimmed().toUtf8());
    }
}

QNetworkProxy namedProxy(const QString& proxy)
{
    const qsizetype colon = proxy.lastIndexOf(u':');
    const QString host = colon > 0 ? proxy.left(colon) : proxy;
    bool ok = false;
    const int port = colon > 0 ? proxy.mid(colon + 1).toInt(&ok) : 80;
    return QNetworkProxy(QNetworkProxy::HttpProxy, host, quint16(ok || colon <= 0 ? port : 80));
}

QNetworkProxy proxyFor(const QUrl& url, const QString& named)
{
    if (!named.isEmpty())
        return namedProxy(named);
    static const bool systemConfiguration = [] {
        QNetworkProxyFactory::setUseSystemConfiguration(true);
        return true;
    }();
    Q_UNUSED(systemConfiguration);
    const QList<QNetworkProxy> proxies = QNetworkProxyFactory::proxyForQuery(QNetworkProxyQuery(url));
    if (proxies.isEmpty() || proxies.first().type() == QNetworkProxy::DefaultProxy)
        return QNetworkProxy(QNetworkProxy::NoProxy);
    return proxies.first();
}

bool isRedirect(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

} // namespace

HttpFetch::HttpFetch(QObject* parent)
    : QObject(parent)
{
    m_idle.setSingleShot(true);
    m_total.setSingleShot(true);
    connect(&m_idle, &QTimer::timeout, this, [this] {
        fail(Outcome::Failed, u"no answer bytes for %1 ms"_s.arg(httpTimeouts().idle.count()));
    });
    connect(&m_total, &QTimer::timeout, this, [this] {
        fail(Outcome::Failed, u"no whole answer within %1 ms"_s.arg(httpTimeouts().total.count()));
    });
}

HttpFetch::~HttpFetch()
{
    if (m_socket) {
        // Never destroyed from inside a signal of its own socket: finished() comes from a timer.
        m_socket->disconnect(this);
        m_socket->abort();
        delete m_socket;
        m_socket = nullptr;
    }
}

void HttpFetch::start(const QString& url, const QString& headers, const QString& proxy)
{
    abort();
    m_headers = headers;
    m_proxy = proxy;
    m_redirectsLeft = kMaxRedirects;
    m_posting = m_post;
    m_total.start(httpTimeouts().total);
    begin(url);
}

void HttpFetch::abort()
{
    ++m_generation;
    m_announcing = false;
    m_idle.stop();
    m_total.stop();
    dropSocket();
    if (m_outcome == Outcome::Running) {
        m_outcome = Outcome::Failed;
        m_error = u"aborted"_s;
    }
}

void HttpFetch::begin(const QString& url)
{
    dropSocket();
    ++m_generation;
    m_announcing = false;
    m_outcome = Outcome::Running;
    m_buffer.clear();
    m_headDone = false;
    m_status = 0;
    m_contentLength = -1;
    m_chunked = false;
    m_chunksDone = false;
    m_location.clear();
    m_body.clear();
    m_pieces.clear();
    m_bodySize = 0;
    m_error.clear();

    const QString problem = RequestUrlProblem(url);
    if (!problem.isEmpty()) {
        fail(Outcome::BadUrl, url + u": "_s + problem);
        return;
    }
    // Only the host and port are taken from the parsed URL; the request carries the text itself.
    m_url = QUrl(url, QUrl::StrictMode);
    const QByteArray text = url.toLatin1();
    const qsizetype authorityStart = text.indexOf("://") + 3;
    qsizetype authorityEnd = authorityStart;
    while (authorityEnd < text.size() && !QByteArrayView("/?#").contains(text[authorityEnd]))
        ++authorityEnd;
    m_origin = url.left(authorityEnd);
    const qsizetype fragment = text.indexOf('#');
    const QByteArray withoutFragment = fragment < 0 ? text : text.left(fragment);
    QByteArray originForm = withoutFragment.mid(authorityEnd);
    if (!originForm.startsWith('/'))
        originForm.prepend('/');

    const bool secure = m_url.scheme() == u"https"_s;
    const QNetworkProxy proxy =
        m_direct && m_proxy.isEmpty() ? QNetworkProxy(QNetworkProxy::NoProxy) : proxyFor(m_url, m_proxy);
    const bool httpProxy =
        proxy.type() == QNetworkProxy::HttpProxy || proxy.type() == QNetworkProxy::HttpCachingProxy;
    // A plain request goes to an HTTP proxy with the whole URL; an encrypted one through a tunnel.
    const bool absoluteForm = httpProxy && !secure;

    HeaderList headers{
        {"Host", text.mid(authorityStart, authorityEnd - authorityStart)},
        {"User-Agent", HttpAgentText().toLatin1()},
        {"Cache-Control", "no-cache"},
        {"Pragma", "no-cache"},
        {"Connection", "close"},
    };
    applyHeaders(headers, m_headers);
    if (m_posting)
        setHeader(headers, "Content-Length", QByteArray::number(m_postBody.size()));
    m_request =
        (m_posting ? "POST " : "GET ") + (absoluteForm ? withoutFragment : originForm) + " HTTP/1.1\r\n";
    for (const auto& [name, value] : std::as_const(headers))
        m_request += name + ": " + value + "\r\n";
    m_request += "\r\n";
    if (m_posting)
        m_request += m_postBody;

    if (secure) {
#if QT_CONFIG(ssl)
        m_socket = new QSslSocket;
#else
        fail(Outcome::Failed, u"this build has no TLS support"_s);
        return;
#endif
    } else {
        m_socket = new QTcpSocket;
    }
    QString host = m_url.host();
    quint16 port = quint16(m_url.port(secure ? 443 : 80));
    if (absoluteForm) {
        m_socket->setProxy(QNetworkProxy::NoProxy);
        host = proxy.hostName();
        port = proxy.port();
    } else if (proxy.type() == QNetworkProxy::NoProxy) {
        m_socket->setProxy(QNetworkProxy::NoProxy);
    } else {
        QNetworkProxy tunnel = proxy;
        if (tunnel.type() == QNetworkProxy::HttpCachingProxy)
            tunnel.setType(QNetworkProxy::HttpProxy);
        m_socket->setProxy(tunnel);
    }

    m_socket->setReadBufferSize(kSocketReadBuffer);
    connect(m_socket, &QTcpSocket::readyRead, this, [this] { process(false); });
    connect(m_socket, &QTcpSocket::bytesWritten, this, &HttpFetch::touch);
    connect(m_socket, &QTcpSocket::disconnected, this, [this] { process(true); });
    connect(m_socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        if (error == QAbstractSocket::RemoteHostClosedError)
            process(true);
        else
            fail(Outcome::Failed, m_socket->errorString());
    });
    touch();
#if QT_CONFIG(ssl)
    if (secure) {
        auto* tls = static_cast<QSslSocket*>(m_socket);
        connect(tls, &QSslSocket::encrypted, this, &HttpFetch::sendRequest);
        tls->connectToHostEncrypted(host, port);
        return;
    }
#endif
    connect(m_socket, &QTcpSocket::connected, this, &HttpFetch::sendRequest);
    m_socket->connectToHost(host, port);
}

void HttpFetch::sendRequest()
{
    touch();
    m_socket->write(m_request);
}

void HttpFetch::addToBody(QByteArray piece)
{
    if (piece.isEmpty())
        return;
    m_bodySize += piece.size();
    m_pieces.append(std::move(piece));
}

qint64 HttpFetch::bodyLimit() const
{
    return m_bodyLimit > 0 ? m_bodyLimit : httpBodyLimit();
}

void HttpFetch::touch()
{
    m_idle.start(httpTimeouts().idle);
}

void HttpFetch::process(bool closed)
{
    if (m_outcome != Outcome::Running || !m_socket)
        return;
    m_buffer += m_socket->readAll();
    touch();
    while (!m_headDone) {
        const qsizetype headEnd = m_buffer.indexOf("\r\n\r\n");
        if (headEnd < 0) {
            if (m_buffer.size() > kMaxHeadBytes)
                fail(Outcome::Failed, u"the answer head is too long"_s);
            else if (closed)
                fail(Outcome::Failed, m_buffer.isEmpty() ? u"the connection closed without an answer"_s
                                                         : u"the connection closed inside the answer head"_s);
            return;
        }
        const QByteArray head = m_buffer.left(headEnd);
        m_buffer.remove(0, headEnd + 4);
        if (!parseHead(head))
            return;
    }

    if (m_status == 204 || m_status == 304) {
        complete();
        return;
    }
    if (m_chunked) {
        if (!takeChunks())
            return;
        if (m_chunksDone)
            complete();
        else if (closed)
            fail(Outcome::Failed, u"the connection closed inside a chunked body"_s);
        return;
    }
    addToBody(std::exchange(m_buffer, {}));
    if (m_bodySize > bodyLimit()) {
        fail(Outcome::Failed, u"the body is larger than %1 bytes"_s.arg(bodyLimit()));
        return;
    }
    if (m_contentLength >= 0 && m_bodySize >= m_contentLength) {
        // Whatever came after the announced length is not part of the body.
        while (m_bodySize > m_contentLength) {
            QByteArray& last = m_pieces.last();
            const qint64 excess = qMin<qint64>(m_bodySize - m_contentLength, last.size());
            last.chop(excess);
            m_bodySize -= excess;
            if (last.isEmpty())
                m_pieces.removeLast();
        }
        complete();
    } else if (closed) {
        // A connection closed before the announced length is a broken transfer, not an answer.
        if (m_contentLength >= 0)
            fail(Outcome::Failed, u"the body is shorter than its Content-Length"_s);
        else
            complete();
    }
}

bool HttpFetch::parseHead(const QByteArray& head)
{
    QList<QByteArray> lines = head.split('\n');
    for (QByteArray& line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    const QList<QByteArray> statusLine = lines.value(0).split(' ');
    bool ok = false;
    const int status = statusLine.value(1).toInt(&ok);
    if (!statusLine.value(0).startsWith("HTTP/") || !ok || status < 100 || status > 999) {
        fail(Outcome::Failed, u"not an HTTP answer"_s);
        return false;
    }
    // An interim answer (100 Continue) is followed by the real one.
    if (status < 200)
        return true;
    m_status = status;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray& line = lines.at(i);
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray name = line.left(colon).trimmed();
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (name.compare("Content-Length", Qt::CaseInsensitive) == 0) {
            const qint64 length = value.toLongLong(&ok);
            if (!ok || length < 0 || (m_contentLength >= 0 && m_contentLength != length)) {
                fail(Outcome::Failed, u"the answer has an invalid Content-Length"_s);
                return false;
            }
            m_contentLength = length;
        } else if (name.compare("Transfer-Encoding", Qt::CaseInsensitive) == 0) {
            m_chunked = m_chunked || value.toLower().contains("chunked");
        } else if (name.compare("Location", Qt::CaseInsensitive) == 0 && m_location.isEmpty()) {
            m_location = value;
        }
    }
    if (m_chunked)
        m_contentLength = -1;
    if (m_contentLength > bodyLimit()) {
        fail(Outcome::Failed, u"the body is larger than %1 bytes"_s.arg(bodyLimit()));
        return false;
    }
    m_headDone = true;
    return true;
}

bool HttpFetch::takeChunks()
{
    while (!m_chunksDone) {
        const qsizetype lineEnd = m_buffer.indexOf("\r\n");
        if (lineEnd < 0) {
            if (m_buffer.size() <= 1024)
                return true;
            fail(Outcome::Failed, u"a chunk size line is too long"_s);
            return false;
        }
        QByteArray sizeText = m_buffer.left(lineEnd);
        const qsizetype extension = sizeText.indexOf(';');
        if (extension >= 0)
            sizeText.truncate(extension);
        bool ok = false;
        const qint64 size = sizeText.trimmed().toLongLong(&ok, 16);
        if (!ok || size < 0) {
            fail(Outcome::Failed, u"a chunk size is not hexadecimal"_s);
            return false;
        }
        if (size == 0) {
            // Trailers, if any, are of no use here.
            m_chunksDone = true;
            return true;
        }
        if (m_bodySize + size > bodyLimit()) {
            fail(Outcome::Failed, u"the body is larger than %1 bytes"_s.arg(bodyLimit()));
            return false;
        }
        if (m_buffer.size() < lineEnd + 2 + size + 2)
            return true;
        if (m_buffer.mid(lineEnd + 2 + size, 2) != "\r\n") {
            fail(Outcome::Failed, u"a chunk does not end with CR LF"_s);
            return false;
        }
        addToBody(m_buffer.mid(lineEnd + 2, size));
        m_buffer.remove(0, lineEnd + 2 + size + 2);
    }
    return true;
}

void HttpFetch::complete()
{
    m_idle.stop();
    dropSocket();
    if (m_followRedirects && isRedirect(m_status) && !m_location.isEmpty()) {
        if (m_redirectsLeft-- <= 0) {
            fail(Outcome::Failed, u"too many redirects"_s);
            return;
        }
        const QString next = redirectTarget();
        if (m_status != 307 && m_status != 308)
            m_posting = false;
        if (m_url.scheme() == u"https"_s && !next.startsWith(u"https:"_s, Qt::CaseInsensitive)) {
            fail(Outcome::Failed, u"a redirect from https to another scheme is refused"_s);
            return;
        }
        // The caller's headers may carry a key meant for this server alone.
        const QUrl target(next);
        if (target.host() != m_url.host() || target.port(-1) != m_url.port(-1))
            m_headers.clear();
        begin(next);
        return;
    }
    m_total.stop();
    if (m_bodySize > 0)
        m_body.reserve(m_bodySize);
    for (const QByteArray& piece : std::as_const(m_pieces))
        m_body += piece;
    m_pieces.clear();
    m_outcome = Outcome::Answered;
    announce();
}

QString HttpFetch::redirectTarget() const
{
    // A target the server wrote in a form we can send goes out as written; anything else is
    // resolved and encoded by QUrl.
    const QString location = QString::fromUtf8(m_location);
    if (RequestUrlProblem(location).isEmpty())
        return location;
    if (location.startsWith(u'/') && !location.startsWith(u"//"_s) &&
        RequestUrlProblem(m_origin + location).isEmpty())
        return m_origin + location;
    return m_url.resolved(QUrl(location)).toString(QUrl::FullyEncoded);
}

void HttpFetch::fail(Outcome outcome, const QString& error)
{
    if (m_outcome != Outcome::Running)
        return;
    m_idle.stop();
    m_total.stop();
    dropSocket();
    m_outcome = outcome;
    m_error = error;
    m_body.clear();
    m_pieces.clear();
    m_bodySize = 0;
    announce();
}

void HttpFetch::announce()
{
    // Always from the event loop, so that a caller never sees finished() inside start().
    m_announcing = true;
    QTimer::singleShot(0, this, [this, generation = m_generation] {
        if (generation != m_generation)
            return;
        m_announcing = false;
        Q_EMIT finished();
    });
}

void HttpFetch::dropSocket()
{
    if (!m_socket)
        return;
    QTcpSocket* socket = std::exchange(m_socket, nullptr);
    socket->disconnect(this);
    socket->abort();
    // Possibly inside one of its own signals.
    socket->deleteLater();
}

} // namespace linvera
