#pragma once

#include "conv/Endpoints.h"
#include "microblog/MicroblogRequests.h"
#include "net/ProxySetting.h"

#include <QByteArray>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>

class QTcpSocket;

namespace linvera {

namespace platform {
class MessageBoxes;
}

/// The file's whole content; an unreadable file is reported (title "ERROR") and gives no bytes.
QByteArray ReadFileBytes(const QString& path, platform::MessageBoxes& boxes);

/// The posting window's connection to the microblog and picture services. The uploads go over one
/// raw socket (`Winsock1`): a send hands the request over and returns; the reply is gathered until
/// the server closes the connection and then reported once by `replyComplete`. The status update
/// and the follow request are blocking form posts that keep the window's events running.
class MicroblogClient : public QObject
{
    Q_OBJECT

public:
    struct Timeouts
    {
        std::chrono::milliseconds connect{30000};
        /// From the send until the server has closed the connection.
        std::chrono::milliseconds reply{60000};
        /// The whole status update or follow request.
        std::chrono::milliseconds form{60000};
    };
    /// The longest reply accepted; a longer one fails the request.
    static constexpr qsizetype kReplyCap = 1 << 20;

    explicit MicroblogClient(platform::MessageBoxes& boxes, QObject* parent = nullptr);
    ~MicroblogClient() override;

    void setEndpoints(const Endpoints& endpoints) { m_endpoints = endpoints; }
    /// Read before every request, so a changed proxy applies to the next one.
    void setProxySource(std::function<ProxySetting()> source) { m_proxySource = std::move(source); }
    void setTimeouts(Timeouts timeouts) { m_timeouts = timeouts; }
    /// The title of the status requests' message boxes.
    void setTitle(const QString& title) { m_title = title; }

    /// Uploads the picture to the picture host (the status is posted later with its address, so it
    /// is not sent here). True when the request was handed to the socket.
    bool SendPictureUpload(const QString& status, const QString& login, const QString& password,
                           const QString& picturePath);
    bool SendProfileImage(ProfileImageKind kind, const QString& login, const QString& password,
                          const QString& picturePath);
    /// True when the service answered without an error element.
    bool PostStatusUpdate(const QString& status, const QString& login, const QString& password);
    /// True once the request has ended, whatever the answer.
    bool Twitter_Create_Friendship(const QString& account, const QString& twlogin, const QString& twpass);

    /// True from the connection until the server closes it (or the wait gives up).
    bool isSocketBusy() const { return m_busy; }
    ProbeRoute lastRoute() const { return m_route; }
    QByteArray lastRequest() const { return m_request; }
    /// The last form post: its URL and body.
    QString lastFormUrl() const { return m_formUrl; }

Q_SIGNALS:
    /// The request bytes as ANSI text, once they are handed to the socket.
    void requestSent(const QString& text);
    /// The text of the reply that arrived since the last part; the parts together are the reply.
    void responsePart(const QString& text);
    /// The whole reply once the server closed the connection.
    void replyComplete(const QString& reply);
    /// The reply ended in a socket error, ran out of time or grew past kReplyCap; the error was
    /// already shown.
    void replyFailed(const QString& description);

private:
    using Builder =
        std::function<QByteArray(const QByteArray& picture, const UploadTarget& target, qint32 proxyFlag)>;

    bool sendUpload(const UploadTarget& target, const QString& picturePath, const Builder& build);
    bool postForm(const QString& path, const QString& body, const QString& login, const QString& password,
                  bool* apiError);
    void finishReply();
    /// Sends the reply's new bytes as text; `all` also those that may end inside a character.
    void emitNewText(bool all);
    void failReply(const QString& description);
    ProxySetting proxy() const;

    platform::MessageBoxes& m_boxes;
    Endpoints m_endpoints;
    std::function<ProxySetting()> m_proxySource;
    Timeouts m_timeouts;
    QString m_title;
    QTcpSocket* m_socket = nullptr;
    QTimer m_replyTimer;
    ProbeRoute m_route;
    QByteArray m_request;
    QByteArray m_reply;
    /// How much of m_reply went out as text.
    qsizetype m_decoded = 0;
    QString m_formUrl;
    bool m_busy = false;
    bool m_awaitingReply = false;
};

} // namespace linvera
