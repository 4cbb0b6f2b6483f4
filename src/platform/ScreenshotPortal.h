#pragma once

#include <QByteArray>
#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QVariantMap>

namespace linvera::platform {

/// The end of one screenshot request.
struct PortalAnswer
{
    enum class Status {
        Picture,   ///< uri names the picture file the portal wrote
        Cancelled, ///< the user dismissed the desktop's dialog
        NoPortal,  ///< nobody serves org.freedesktop.portal.Screenshot on the session bus
        Refused,   ///< the portal answered with an error or refused the request
        NoAnswer,  ///< no answer within the time-out
    };
    Status status = Status::NoAnswer;
    QString uri;
    /// The bus error or response code, for the log.
    QString detail;
};

/// One request at a time to the desktop's screenshot portal (org.freedesktop.portal.Screenshot at
/// /org/freedesktop/portal/desktop). Asynchronous: request() returns at once and answered() follows
/// exactly once, at the latest when the time-out runs out.
class ScreenshotPortal : public QObject
{
    Q_OBJECT

public:
    static constexpr int AnswerTimeoutMs = 30000;

    explicit ScreenshotPortal(const QDBusConnection& bus, QObject* parent = nullptr);
    ~ScreenshotPortal() override;

    void setAnswerTimeout(int ms) { m_timeoutMs = ms; }
    bool busy() const { return m_busy; }
    /// Asks for a picture of the whole screen; interactive lets the desktop show its own dialog.
    /// Ignored while a request is open.
    void request(bool interactive);

Q_SIGNALS:
    void answered(const linvera::platform::PortalAnswer& answer);

private Q_SLOTS:
    void onResponse(uint response, const QVariantMap& results);

private:
    void listenOn(const QString& handle);
    void stopListening();
    void finish(const PortalAnswer& answer);

    QDBusConnection m_bus;
    QTimer m_timer;
    int m_timeoutMs = AnswerTimeoutMs;
    bool m_busy = false;
    quint64 m_serial = 0;
    QString m_handle;
};

/// What reading the portal's picture file gave.
struct PortalFile
{
    bool ok = false;
    QByteArray bytes;
    QString error;
};

/// Reads the file a file: URI names, once: a regular file at most maxBytes long, never through a
/// link at its name. A file the portal left in a shared temporary folder (tempFolders) and owned by
/// this user is removed after reading, so no picture of the screen stays there.
PortalFile ReadPortalFile(const QString& uri, qint64 maxBytes, const QStringList& tempFolders);

} // namespace linvera::platform
