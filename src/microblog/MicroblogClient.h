#pragma once

#include "conv/Endpoints.h"
#include "microblog/MicroblogOutcome.h"
#include "microblog/MicroblogRequests.h"
#include "net/ProxySetting.h"

#include <QByteArray>
#include <QObject>

#include <chrono>
#include <functional>
#include <optional>

namespace linvera {

class HttpConnection;

/// The file's whole content, or the reason it could not be read.
struct FileBytes
{
    QByteArray bytes;
    std::optional<QString> error;
};
FileBytes ReadFileBytes(const QString& path);

/// The posting window's connection to the microblog and picture services, on the network layer's
/// connection driver. Nothing here waits and nothing is shown: what the user should read goes out
/// by `reported`, at the moment it arises. The uploads go over one raw connection (its socket
/// named `Winsock1`): a send starts connecting and returns; the hand-built request goes out once connected,
/// and the reply is gathered until the server closes the connection and then reported once by `replyComplete`
/// (or `replyFailed`). The status update and the follow request are form posts that answer through their
/// `done`.
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

    using FormDone = std::function<void(const MicroblogOutcome& outcome)>;

    explicit MicroblogClient(QObject* parent = nullptr);
    ~MicroblogClient() override;

    void setEndpoints(const Endpoints& endpoints) { m_endpoints = endpoints; }
    /// Read before every request, so a changed proxy applies to the next one.
    void setProxySource(std::function<ProxySetting()> source) { m_proxySource = std::move(source); }
    void setTimeouts(Timeouts timeouts) { m_timeouts = timeouts; }

    /// Uploads the picture to the picture host (the status is posted later with its address, so it
    /// is not sent here). True when the upload started: it then ends with `replyComplete` or
    /// `replyFailed`. False when it was refused (reported) or another upload is running (silent).
    bool SendPictureUpload(const QString& status, const QString& login, const QString& password,
                           const QString& picturePath);
    bool SendProfileImage(ProfileImageKind kind, const QString& login, const QString& password,
                          const QString& picturePath);
    /// The status update: `done` runs once, from the event loop, with Answered when the service
    /// answered without an error element. Form posts run side by side; destroying the client drops
    /// them and their `done`.
    void PostStatusUpdate(const QString& status, const QString& login, const QString& password,
                          FormDone done);
    /// The follow request; `done` as for the status update (the designed caller goes on whatever it is).
    void Twitter_Create_Friendship(const QString& account, const QString& twlogin, const QString& twpass,
                                   FormDone done);
    /// Form posts not yet answered.
    int runningFormPosts() const { return m_formPosts; }

    /// True from the start of an upload until its reply is complete or it failed.
    bool isSocketBusy() const { return m_busy; }
    ProbeRoute lastRoute() const { return m_route; }
    QByteArray lastRequest() const { return m_request; }
    /// The last form post: its URL and body.
    QString lastFormUrl() const { return m_formUrl; }

Q_SIGNALS:
    /// Something the user should read, in the order it arose (a refused send, an unreadable file,
    /// a failed upload, the service's error element).
    void reported(const linvera::MicroblogOutcome& outcome);
    /// The request bytes as ANSI text, once they are handed to the socket.
    void requestSent(const QString& text);
    /// The text of the reply that arrived since the last part; the parts together are the reply.
    void responsePart(const QString& text);
    /// The whole reply once the server closed the connection.
    void replyComplete(const QString& reply);
    /// The connection or the reply ended in a socket error, ran out of time or grew past kReplyCap;
    /// the error was reported just before.
    void replyFailed(const QString& description);

private:
    using Builder =
        std::function<QByteArray(const QByteArray& picture, const UploadTarget& target, qint32 proxyFlag)>;

    bool sendUpload(const UploadTarget& target, const QString& picturePath, const Builder& build);
    void postForm(const QString& path, const QString& body, const QString& login, const QString& password,
                  FormDone done);
    void onConnected();
    void finishReply();
    /// Sends the reply's new bytes as text; `all` also those that may end inside a character.
    void emitNewText(bool all);
    void failReply(const QString& description);
    ProxySetting proxy() const;

    Endpoints m_endpoints;
    std::function<ProxySetting()> m_proxySource;
    Timeouts m_timeouts;
    HttpConnection* m_upload = nullptr;
    ProbeRoute m_route;
    QByteArray m_request;
    QByteArray m_reply;
    /// How much of m_reply went out as text.
    qsizetype m_decoded = 0;
    QString m_formUrl;
    int m_formPosts = 0;
    bool m_busy = false;
    bool m_connecting = false;
    bool m_awaitingReply = false;
};

} // namespace linvera
