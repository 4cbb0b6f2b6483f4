#pragma once

#include "conv/HttpClient.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

namespace linvera {

/// One request to a service's API.
struct ServiceRequest
{
    QString url;
    /// Extra "Name: value" lines separated by CR LF.
    QString headers;
    /// Sent as a POST when set.
    std::optional<QByteArray> postBody;
    /// "host:port" instead of the system proxy when not empty.
    QString proxy;
    /// Caps and time-outs of the request; a service answers in text, well under a download's cap.
    HttpLimits limits = ServiceTextLimits();
};

/// One service request under way. `done` gets the answer body from the event loop: also that of an
/// error status, since that is where a service explains itself; empty on a transport failure, a
/// time-out, a refused URL or an answer over the request's limit. Destroying the call drops the
/// request, and `done` then never runs.
class ServiceCall : public QObject
{
    Q_OBJECT

public:
    using Done = std::function<void(const QByteArray& body)>;

    explicit ServiceCall(QObject* parent = nullptr);
    ~ServiceCall() override;

    /// An empty URL sends nothing and answers with an empty body.
    void start(const ServiceRequest& request, Done done);
    /// Drops the request; `done` never runs.
    void cancel();
    bool isRunning() const { return m_running; }

Q_SIGNALS:
    /// After `done` has run.
    void ended();

private:
    void finish(const QByteArray& body);

    HttpFetch m_fetch;
    Done m_done;
    bool m_running = false;
};

} // namespace linvera
