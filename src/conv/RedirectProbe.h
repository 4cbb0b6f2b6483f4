#pragma once

#include "net/HttpConnection.h"
#include "net/ProxySetting.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <chrono>

class QSslError;

namespace linvera {

/// The hand-built HTTP/1.0 request: the path alone, or the absolute URL when a proxy carries it.
/// Through a proxy a port other than 80 is kept in the request line and the Host header, since the
/// proxy has no other way to learn it.
QByteArray ProbeRequestText(const QString& host, const QString& path, bool viaProxy, quint16 port = 80);

/// The header block of a gathered answer: everything up to the blank line, or all of it when the
/// connection closed before the blank line came.
QString ProbeHeaderBlock(const QString& answer);

/// Mode 4: the value of the first header line named Location (in any case), as sent up to its CR LF.
QString ProbeLocation(const QString& headerBlock);

/// Mode 3: the location up to the last "#" of its header line; `found` tells whether it matched.
QString LiveProbeLocation(const QString& headerBlock, bool* found);

/// Why the server's certificate was refused, in the user's words; one reason a line.
QString CertificateFailureText(const QList<QSslError>& errors);

/// The port of `location` when it is only the HTTPS form of the link `host` + `path` (same host,
/// same path), else 0.
quint16 HttpsUpgradePort(const QString& location, const QString& host, const QString& path);

/// One probe over the window's raw socket (`WinsockHeader`). The answer is gathered across arrivals
/// and read once the header block is complete, or at close. Every wait is bounded.
class RedirectProbe : public QObject
{
    Q_OBJECT

public:
    explicit RedirectProbe(QObject* parent = nullptr);
    ~RedirectProbe() override;

    /// The most of an answer that is gathered: a header block that has not ended by then fails the
    /// probe, so a host cannot fill the memory.
    static constexpr qsizetype kMaxAnswerBytes = 64 * 1024;

    /// `connect` bounds the connection; `answer` the whole answer from the connection on, however
    /// slowly it drips.
    struct Timeouts
    {
        std::chrono::milliseconds connect{15000};
        std::chrono::milliseconds answer{20000};
    };
    /// The bounds of every later probe of this object.
    void setTimeouts(Timeouts timeouts) { m_timeouts = timeouts; }
    Timeouts timeouts() const { return m_timeouts; }

    /// Starts a probe of `host` and `path`; `port` is the URL's own port, 80 when it names none.
    /// `secure` speaks TLS (verified against the process's trust store, server name sent); through
    /// a proxy it opens a CONNECT tunnel first. The request text is the same either way.
    /// A running probe is dropped first. Returns once the connection is under way.
    void StartRedirectProbe(const QString& host, const QString& path, quint16 port = 80, bool secure = false);
    void setProxy(const ProxySetting& proxy) { m_proxy = proxy; }
    /// Where the last probe connected (the host or the proxy).
    ProbeRoute lastRoute() const { return m_route; }

    /// Drops the running probe without a report.
    void cancel();
    bool isRunning() const;

    /// What was sent last (for the record; tests compare it byte for byte).
    QByteArray lastRequest() const { return m_request; }

Q_SIGNALS:
    /// The answer's header block, decoded through the ANSI code page.
    void answered(const QString& headerBlock);
    /// The probe failed; `description` is what the message box shows.
    void failed(const QString& description);

private:
    void onReady();
    /// Reads what arrived, up to one byte past the cap; true once the header block has ended within it.
    bool gather();
    void onReadyRead();
    void onClosed();
    void onFailed(HttpConnection::Failure failure, const QString& description);
    void finishWithAnswer();
    void fail(const QString& description);

    HttpConnection m_connection;
    Timeouts m_timeouts;
    bool m_secure = false;
    ProxySetting m_proxy;
    ProbeRoute m_route;
    QByteArray m_request;
    QByteArray m_answer;
    bool m_done = true;
};

} // namespace linvera
