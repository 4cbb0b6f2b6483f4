#include "conv/HttpClient.h"

#include "net/RequestWriter.h"

#include <QNetworkProxy>
#include <QNetworkProxyFactory>
#include <QTimer>

#include <utility>

using namespace Qt::StringLiterals;

namespace linvera {
namespace {

constexpr int kMaxRedirects = 10;

void applyHeaders(HttpHeaders& list, const QString& headers)
{
    const QStringList lines = headers.split(u"\r\n"_s, Qt::SkipEmptyParts);
    for (const QString& line : lines) {
        const qsizetype colon = line.indexOf(u':');
        // A stray line break inside a line would start a header nobody asked for.
        if (colon <= 0 || line.contains(u'\r') || line.contains(u'\n'))
            continue;
        SetHeader(list, line.left(colon).trimmed().toLatin1(), line.mid(colon + 1).trimmed().toUtf8());
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
    connect(&m_connection, &HttpConnection::ready, this, &HttpFetch::sendRequest);
    connect(&m_connection, &HttpConnection::readyRead, this, [this] { process(false); });
    connect(&m_connection, &HttpConnection::closed, this, [this] { process(true); });
    connect(
        &m_connection, &HttpConnection::failed, this,
        [this](HttpConnection::Failure, const QString& description) { fail(Outcome::Failed, description); });
}

HttpFetch::~HttpFetch() = default;

void HttpFetch::start(const QString& url, const QString& headers, const QString& proxy)
{
    abort();
    m_headers = headers;
    m_proxy = proxy;
    m_redirectsLeft = kMaxRedirects;
    m_posting = m_post;
    m_current = m_limits;
    m_started.start();
    begin(url);
}

void HttpFetch::abort()
{
    ++m_generation;
    m_announcing = false;
    m_connection.close();
    if (m_outcome == Outcome::Running) {
        m_outcome = Outcome::Failed;
        m_error = u"aborted"_s;
    }
}

void HttpFetch::begin(const QString& url)
{
    m_connection.close();
    ++m_generation;
    m_announcing = false;
    m_outcome = Outcome::Running;
    m_status = 0;
    m_answerHeaders.clear();
    m_body.clear();
    m_error.clear();
    m_route = {};

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

    HttpRequest request;
    request.method = m_posting ? "POST" : "GET";
    request.origin = text.left(authorityEnd);
    request.target = withoutFragment.mid(authorityEnd);
    request.absoluteTarget = withoutFragment;
    if (!request.target.startsWith('/'))
        request.target.prepend('/');
    request.headers = {
        {"Host", text.mid(authorityStart, authorityEnd - authorityStart)},
        {"User-Agent", HttpAgentText().toLatin1()},
        {"Cache-Control", "no-cache"},
        {"Pragma", "no-cache"},
        {"Connection", "close"},
    };
    applyHeaders(request.headers, m_headers);
    if (m_posting) {
        SetHeader(request.headers, "Content-Length", QByteArray::number(m_postBody.size()));
        request.body = m_postBody;
    }
    // The total time counts from start(), across redirects.
    request.limits = m_current;
    if (m_current.total.count() > 0) {
        const auto left = m_current.total - std::chrono::milliseconds(m_started.elapsed());
        request.limits.total = qMax(left, std::chrono::milliseconds(1));
    }

    const bool secure = m_url.scheme() == u"https"_s;
    const QNetworkProxy proxy =
        m_direct && m_proxy.isEmpty() ? QNetworkProxy(QNetworkProxy::NoProxy) : proxyFor(m_url, m_proxy);
    const bool httpProxy =
        proxy.type() == QNetworkProxy::HttpProxy || proxy.type() == QNetworkProxy::HttpCachingProxy;

    ConnectionTarget target;
    target.host = m_url.host();
    target.port = quint16(m_url.port(secure ? 443 : 80));
    target.tls = secure;
    if (httpProxy) {
        // A plain request goes to an HTTP proxy with the whole URL; an encrypted one through a tunnel.
        target.via = ConnectionTarget::Via::HttpProxy;
        target.proxyHost = proxy.hostName();
        target.proxyPort = proxy.port();
        m_route = {true, target.proxyHost, target.proxyPort};
    } else if (proxy.type() != QNetworkProxy::NoProxy) {
        target.via = ConnectionTarget::Via::OtherProxy;
        target.otherProxy = proxy;
        m_route = {true, proxy.hostName(), proxy.port()};
    } else {
        m_route = {false, target.host, target.port};
    }
    m_request = WriteRequest(request, httpProxy && !secure ? RequestForm::Absolute : RequestForm::Origin);
    m_reader = std::make_unique<AnswerReader>(request.limits.headCap, request.limits.bodyCap);
    m_connection.open(target, request.limits);
}

void HttpFetch::sendRequest()
{
    m_connection.write(m_request);
}

void HttpFetch::process(bool closed)
{
    if (m_outcome != Outcome::Running || !m_reader)
        return;
    AnswerReader::State state = m_reader->feed(m_connection.readAll());
    if (closed && (state == AnswerReader::State::Head || state == AnswerReader::State::Body))
        state = m_reader->finish();
    if (state == AnswerReader::State::Failed)
        fail(Outcome::Failed, m_reader->errorText());
    else if (state == AnswerReader::State::Done)
        complete();
}

void HttpFetch::complete()
{
    m_connection.close();
    m_status = m_reader->status();
    m_answerHeaders = m_reader->headers();
    const QByteArray location = HeaderValue(m_answerHeaders, "Location");
    if (m_followRedirects && isRedirect(m_status) && !location.isEmpty()) {
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
    m_body = m_reader->takeBody();
    m_reader.reset();
    m_outcome = Outcome::Answered;
    announce();
}

QString HttpFetch::redirectTarget() const
{
    // A target the server wrote in a form we can send goes out as written; anything else is
    // resolved and encoded by QUrl.
    const QString location = QString::fromUtf8(HeaderValue(m_answerHeaders, "Location"));
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
    m_connection.close();
    if (m_reader)
        m_status = m_reader->status();
    m_reader.reset();
    m_outcome = outcome;
    m_error = error;
    m_body.clear();
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

HttpResult HttpFetch::result() const
{
    HttpResult result;
    result.outcome = m_outcome == Outcome::Answered ? HttpResult::Outcome::Answered
                     : m_outcome == Outcome::BadUrl ? HttpResult::Outcome::Refused
                                                    : HttpResult::Outcome::Failed;
    result.status = m_status;
    result.headers = m_answerHeaders;
    result.body = m_body;
    result.errorText = m_error;
    result.route = m_route;
    return result;
}

} // namespace linvera
