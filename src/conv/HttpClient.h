#pragma once

#include "net/AnswerReader.h"
#include "net/HttpConnection.h"
#include "net/HttpRequest.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QUrl>

#include <chrono>
#include <memory>
#include <optional>

namespace linvera {

/// Agent text every fetch announces.
QString HttpAgentText();

/// The environment variable that names one more PEM file of trusted certificate authorities (a
/// private or test authority). Qt's OpenSSL backend reads the system store from its own list of
/// folders and honours neither SSL_CERT_FILE nor SSL_CERT_DIR.
inline constexpr char kExtraAuthoritiesVariable[] = "LINVERA_EXTRA_CA_FILE";

/// Trusts the authorities of a PEM file in every TLS connection of the process made after the call,
/// beside the system's own. False, with the reason, when the file cannot be read or holds no
/// certificate; nothing changes then.
bool TrustExtraAuthorities(const QString& pemFile, QString* problem = nullptr);

/// Largest answer a service API gives as text (shortening, expansion, a channel page); far below the
/// body cap of a download.
inline constexpr qint64 kServiceTextBodyCap = 4 * 1024 * 1024;
/// `limits` with its body cap brought down to what a service's text answer may take.
HttpLimits ServiceTextLimits(HttpLimits limits = {});

/// Why a URL the program assembled cannot be requested exactly as written, or empty text when it
/// can. Accepted: an http or https URL of printable ASCII without user info, every "%" followed by
/// two hexadecimal digits, valid in strict URL parsing. Spaces, control characters and non-ASCII
/// characters are refused, never encoded on the quiet.
QString RequestUrlProblem(const QString& url);

/// One GET whose request line carries the URL's bytes exactly as assembled: no re-encoding, no
/// decoding of escapes ("%7E" stays "%7E"), no case change, no removal of dot segments. (QUrl, and
/// so QNetworkAccessManager, rewrites all of these.) The fragment is not sent. Redirects are
/// followed; a move from https to http is refused. Runs on the event loop of its thread.
class HttpFetch : public QObject
{
    Q_OBJECT

public:
    enum class Outcome {
        Idle,
        Running,
        Answered, ///< a whole HTTP answer arrived (any status)
        BadUrl,   ///< RequestUrlProblem refused the URL; nothing was sent
        Failed,   ///< transport failure, time-out, a body cut short or over the limit
    };

    explicit HttpFetch(QObject* parent = nullptr);
    ~HttpFetch() override;

    /// Starts the fetch; a running one is dropped first. `headers` are extra "Name: value" lines
    /// separated by CR LF; `proxy` ("host:port") replaces the system proxy when not empty.
    /// finished() always comes later from the event loop, also for a refused URL.
    void start(const QString& url, const QString& headers = {}, const QString& proxy = {});
    /// Makes every later start() a POST of `body` with its Content-Length. A 301, 302 or 303 answer
    /// is followed with a GET; a 307 or 308 repeats the POST.
    void setPostBody(const QByteArray& body)
    {
        m_postBody = body;
        m_post = true;
    }
    /// The caps and time-outs every later start() puts on its requests (the defaults of HttpLimits
    /// until then).
    void setLimits(const HttpLimits& limits) { m_limits = limits; }
    /// false: a redirect is the answer itself, not followed.
    void setFollowRedirects(bool follow) { m_followRedirects = follow; }
    /// true: without a proxy given to start(), connect straight to the host whatever the system says.
    void setDirect(bool direct) { m_direct = direct; }
    /// Drops a running fetch without sending finished().
    void abort();

    /// True from start() until finished() has been sent.
    bool isRunning() const { return m_outcome == Outcome::Running || m_announcing; }
    Outcome outcome() const { return m_outcome; }
    /// Status code of the final answer (after redirects); 0 without an answer.
    int statusCode() const { return m_status; }
    QByteArray body() const { return m_body; }
    /// What went wrong, for BadUrl and Failed.
    QString errorText() const { return m_error; }
    /// Everything known of the final exchange, the route included.
    HttpResult result() const;

Q_SIGNALS:
    void finished();

private:
    void begin(const QString& url);
    void sendRequest();
    /// Reads what arrived; `closed` when the server has closed the connection.
    void process(bool closed);
    void complete();
    /// Where a redirect of the current answer leads.
    QString redirectTarget() const;
    void fail(Outcome outcome, const QString& error);
    void announce();

    QString m_headers;
    QByteArray m_postBody;
    bool m_post = false;
    bool m_posting = false;
    HttpLimits m_limits;
    /// The limits of the running fetch, taken at start().
    HttpLimits m_current;
    QElapsedTimer m_started;
    bool m_followRedirects = true;
    bool m_direct = false;
    QString m_proxy;
    QUrl m_url;
    /// Scheme and authority of the current URL, as written.
    QString m_origin;
    QByteArray m_request;
    ProbeRoute m_route;
    HttpConnection m_connection;
    std::unique_ptr<AnswerReader> m_reader;
    Outcome m_outcome = Outcome::Idle;
    quint64 m_generation = 0;
    bool m_announcing = false;
    int m_redirectsLeft = 0;

    int m_status = 0;
    HttpHeaders m_answerHeaders;
    QByteArray m_body;
    QString m_error;
};

} // namespace linvera
