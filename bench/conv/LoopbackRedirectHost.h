#pragma once

#include <QByteArray>
#include <QSemaphore>
#include <QThread>

#include <atomic>

namespace linvera::bench {

/// A short-link host on 127.0.0.1 that reads one request per connection, answers it with a fixed
/// HTTP/1.0 redirect and closes. It serves from its own thread and event loop, so it keeps answering
/// while the caller blocks on a child process.
class LoopbackRedirectHost : public QThread
{
    Q_OBJECT

public:
    explicit LoopbackRedirectHost(const QByteArray& location, QObject* parent = nullptr);
    ~LoopbackRedirectHost() override;

    /// Starts the thread and waits (bounded) until it listens. Returns the port, 0 on failure.
    quint16 startListening();
    quint16 port() const { return m_port.load(); }
    /// Answers sent so far.
    int answered() const { return m_answered.load(); }

protected:
    void run() override;

private:
    const QByteArray m_answer;
    QSemaphore m_ready;
    std::atomic<quint16> m_port{0};
    std::atomic<int> m_answered{0};
};

} // namespace linvera::bench
