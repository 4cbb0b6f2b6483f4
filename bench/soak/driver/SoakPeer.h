#pragma once

#include <QByteArray>
#include <QSemaphore>
#include <QString>
#include <QThread>

#include <atomic>

namespace linvera::soak {

/// How the peer answers one request. A request asks for a fault by carrying the word
/// "sfk" + service + "_" + kind anywhere in its target (see `faultWord`).
enum class Fault {
    None,
    Reset,       // the connection is reset once the request has been read
    Close,       // closed without a byte of answer
    Cut,         // the answer stops half-way and the connection closes
    NotFound,    // 404 with an HTML body
    ServerError, // 500 with an HTML body
    Junk,        // 200 with a body that is no answer of the service
    Split,       // the whole answer in two writes 20 ms apart
    Drip,        // the whole answer in small writes a few milliseconds apart
};

/// The peer's services, named by the path a request asks for.
enum class Service { Shorten, Info, Rule, Probe, Live, Channel, Picture, Unknown };

QString serviceWord(Service service);
QString faultName(Fault fault);
/// The word a URL carries to make `service` answer with `fault`; only word characters, so it
/// survives percent encoding and "\w" rule groups.
QString faultWord(Service service, Fault fault);

/// The short link the peer's shortening API gives for `longUrl` (also computed by the driver).
QString soakShortUrl(const QString& longUrl);

/// Every loopback service H-Linvera talks to during a soak, on two ports of 127.0.0.1: the main
/// port (shortening and info API, rule API, redirect probe, channel pages, pictures) and the
/// live-link port (live short links answer with a channel location). One request per connection,
/// closed after the answer. Serves from its own thread, so it answers while the driver blocks in
/// a bus call.
class SoakPeer : public QThread
{
    Q_OBJECT

public:
    explicit SoakPeer(QObject* parent = nullptr);
    ~SoakPeer() override;

    /// Starts the thread and waits (bounded) until both ports listen. `closedPort` is a loopback
    /// port nobody listens on, named in the channel locations that must be refused.
    bool startListening(quint16 closedPort);
    quint16 mainPort() const { return m_mainPort.load(); }
    quint16 livePort() const { return m_livePort.load(); }

    int requests() const { return m_requests.load(); }
    int faultsServed() const { return m_faults.load(); }

    /// The answer to one request, before any fault of delivery is applied (for the tests).
    static QByteArray answerFor(Service service, const QByteArray& target, quint16 mainPort,
                                quint16 closedPort, Fault fault);
    static Service serviceFor(const QByteArray& target, bool livePort);
    static Fault faultFor(Service service, const QByteArray& target);

protected:
    void run() override;

private:
    QSemaphore m_ready;
    quint16 m_closedPort = 0;
    std::atomic<quint16> m_mainPort{0};
    std::atomic<quint16> m_livePort{0};
    std::atomic<int> m_requests{0};
    std::atomic<int> m_faults{0};
};

} // namespace linvera::soak
