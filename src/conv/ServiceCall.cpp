#include "conv/ServiceCall.h"

#include <QPointer>
#include <QTimer>

#include <utility>

namespace linvera {

ServiceCall::ServiceCall(QObject* parent)
    : QObject(parent)
{
    connect(&m_fetch, &HttpFetch::finished, this, [this] {
        if (m_fetch.outcome() == HttpFetch::Outcome::BadUrl)
            qWarning("ServiceCall: %s", qUtf8Printable(m_fetch.errorText()));
        finish(m_fetch.outcome() == HttpFetch::Outcome::Answered ? m_fetch.body() : QByteArray());
    });
}

ServiceCall::~ServiceCall() = default;

void ServiceCall::start(const ServiceRequest& request, Done done)
{
    m_fetch.abort();
    m_done = std::move(done);
    m_running = true;
    if (request.url.isEmpty()) {
        QTimer::singleShot(0, this, [this] { finish({}); });
        return;
    }
    if (request.postBody)
        m_fetch.setPostBody(*request.postBody);
    m_fetch.setLimits(request.limits);
    m_fetch.start(request.url, request.headers, request.proxy);
}

void ServiceCall::cancel()
{
    m_fetch.abort();
    m_done = {};
    m_running = false;
}

void ServiceCall::finish(const QByteArray& body)
{
    if (!m_running)
        return;
    m_running = false;
    // Taken first: `done` may start this call again or end its owner's interest in it.
    const Done done = std::exchange(m_done, {});
    const QPointer<ServiceCall> alive(this);
    if (done)
        done(body);
    if (alive)
        Q_EMIT ended();
}

} // namespace linvera
