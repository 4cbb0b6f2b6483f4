#include "microblog/MicroblogClient.h"

#include "conv/HttpClient.h"
#include "microblog/MicroblogReplies.h"
#include "platform/AnsiCodec.h"

#include <QFile>
#include <QFileInfo>
#include <QNetworkProxy>
#include <QPointer>
#include <QTcpSocket>

using namespace Qt::StringLiterals;

namespace linvera {
namespace {

const QString kProxyMessage = u"プロキシサーバーの設定が正しくありません。"_s;
const QString kTimedOut = u"Socket operation timed out"_s;

QString tooLongReply()
{
    return u"The reply is larger than %1 bytes"_s.arg(MicroblogClient::kReplyCap);
}

} // namespace

FileBytes ReadFileBytes(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {{}, file.errorString()};
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return {{}, file.errorString()};
    return {bytes, std::nullopt};
}

MicroblogClient::MicroblogClient(QObject* parent)
    : QObject(parent)
    , m_socket(new QTcpSocket(this))
{
    m_socket->setObjectName(u"Winsock1"_s);
    // The upload goes straight to the host or to the proxy of the user's settings, which the route
    // names itself: never through a proxy the application or the environment would choose.
    m_socket->setProxy(QNetworkProxy::NoProxy);
    m_connectTimer.setSingleShot(true);
    connect(&m_connectTimer, &QTimer::timeout, this, [this] {
        if (m_connecting)
            failReply(kTimedOut);
    });
    m_replyTimer.setSingleShot(true);
    connect(&m_replyTimer, &QTimer::timeout, this, [this] {
        if (m_awaitingReply)
            failReply(kTimedOut);
    });
    connect(m_socket, &QTcpSocket::connected, this, &MicroblogClient::onConnected);
    connect(m_socket, &QTcpSocket::readyRead, this, [this] {
        const QByteArray arrived = m_socket->readAll();
        if (!m_awaitingReply)
            return;
        if (m_reply.size() + arrived.size() > kReplyCap) {
            // No reply of these services is that long; reading on would only feed the host.
            failReply(tooLongReply());
            return;
        }
        m_reply += arrived;
        emitNewText(false);
    });
    connect(m_socket, &QTcpSocket::disconnected, this, &MicroblogClient::finishReply);
    connect(m_socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        if (m_connecting) {
            failReply(m_socket->errorString());
            return;
        }
        if (!m_awaitingReply)
            return;
        // An HTTP/1.0 server closes after its reply: that close ends the reply, it is no failure.
        if (error == QAbstractSocket::RemoteHostClosedError) {
            finishReply();
            return;
        }
        failReply(m_socket->errorString());
    });
}

MicroblogClient::~MicroblogClient() = default;

ProxySetting MicroblogClient::proxy() const
{
    return m_proxySource ? m_proxySource() : ProxySetting{};
}

bool MicroblogClient::SendPictureUpload(const QString& status, const QString& login, const QString& password,
                                        const QString& picturePath)
{
    Q_UNUSED(status); // posted afterwards with the picture's address in it
    const UploadTarget target = TargetFor(m_endpoints.value(Endpoints::PictureHost), u"/api/upload"_s);
    const QString fileName = FormFileName(picturePath);
    return sendUpload(target, picturePath,
                      [&](const QByteArray& picture, const UploadTarget& t, qint32 flag) {
                          return BuildPictureUploadRequest(picture, t, fileName, login, password, QString(),
                                                           flag, MakeBoundary(32));
                      });
}

bool MicroblogClient::SendProfileImage(ProfileImageKind kind, const QString& login, const QString& password,
                                       const QString& picturePath)
{
    const UploadTarget target =
        TargetFor(m_endpoints.value(Endpoints::MicroblogHost), ProfileImagePath(kind));
    const QString fileName = FormFileName(picturePath);
    return sendUpload(target, picturePath,
                      [&](const QByteArray& picture, const UploadTarget& t, qint32 flag) {
                          return BuildProfileImageRequest(picture, t, fileName, login, password, kind, flag,
                                                          MakeBoundary(32));
                      });
}

bool MicroblogClient::sendUpload(const UploadTarget& target, const QString& picturePath, const Builder& build)
{
    if (m_busy)
        return false;
    if (picturePath.isEmpty() || !QFileInfo(picturePath).isFile()) {
        Q_EMIT reported(
            {MicroblogOutcome::Kind::NoPicture, u"ｱｯﾌﾟﾛｰﾄﾞすべき画像が見つかりません:"_s + picturePath});
        return false;
    }
    // An empty file gives a media part without bytes, which the services answer for themselves.
    const FileBytes picture = ReadFileBytes(picturePath);
    if (picture.error)
        Q_EMIT reported({MicroblogOutcome::Kind::UnreadableFile, *picture.error});

    const ProxySetting proxySetting = proxy();
    m_request = build(picture.bytes, target, proxySetting.enabled ? 1 : 0);
    m_route = RouteFor(proxySetting, target.host, target.port);
    if (m_route.connectHost.isEmpty() || m_route.connectPort == 0) {
        Q_EMIT reported({MicroblogOutcome::Kind::BadProxy, kProxyMessage});
        return false;
    }

    m_busy = true;
    m_reply.clear();
    m_decoded = 0;
    m_socket->abort();
    // The request goes out once connected; an error or the time-out ends the upload before that.
    m_connecting = true;
    m_connectTimer.start(m_timeouts.connect);
    m_socket->connectToHost(m_route.connectHost, m_route.connectPort);
    return true;
}

void MicroblogClient::onConnected()
{
    if (!m_connecting)
        return;
    m_connecting = false;
    m_connectTimer.stop();
    Q_EMIT requestSent(platform::AnsiCodec::decode(m_request));
    m_awaitingReply = true;
    m_replyTimer.start(m_timeouts.reply);
    m_socket->write(m_request);
}

void MicroblogClient::emitNewText(bool all)
{
    // Only what is new is decoded, and a piece never ends inside a character: a byte below 0x40
    // stands alone in UTF-8 and in windows-31j alike. Text without such a byte waits until a
    // good deal of it has come (or the reply ends).
    constexpr qsizetype kUndivided = 64 * 1024;
    qsizetype end = m_reply.size();
    if (!all) {
        qsizetype cut = end;
        while (cut > m_decoded && uchar(m_reply.at(cut - 1)) >= 0x40)
            --cut;
        if (cut > m_decoded)
            end = cut;
        else if (end - m_decoded < kUndivided)
            return;
    }
    if (end <= m_decoded)
        return;
    const QString text =
        platform::AnsiCodec::decode(QByteArrayView(m_reply).sliced(m_decoded, end - m_decoded));
    m_decoded = end;
    Q_EMIT responsePart(text);
}

void MicroblogClient::failReply(const QString& description)
{
    emitNewText(true);
    m_connecting = false;
    m_awaitingReply = false;
    m_connectTimer.stop();
    m_replyTimer.stop();
    m_socket->abort();
    m_busy = false;
    Q_EMIT reported({MicroblogOutcome::Kind::Transport, description});
    Q_EMIT replyFailed(description);
}

void MicroblogClient::finishReply()
{
    if (!m_awaitingReply)
        return;
    const QByteArray rest = m_socket->readAll();
    if (m_reply.size() + rest.size() > kReplyCap) {
        failReply(tooLongReply());
        return;
    }
    m_awaitingReply = false;
    m_replyTimer.stop();
    m_reply += rest;
    m_socket->abort();
    m_busy = false;
    emitNewText(true);
    Q_EMIT replyComplete(platform::AnsiCodec::decode(m_reply));
}

void MicroblogClient::PostStatusUpdate(const QString& status, const QString& login, const QString& password,
                                       FormDone done)
{
    postForm(u"/statuses/update.xml"_s, StatusUpdateBody(status), login, password, std::move(done));
}

void MicroblogClient::Twitter_Create_Friendship(const QString& account, const QString& twlogin,
                                                const QString& twpass, FormDone done)
{
    postForm(u"/friendships/create.xml"_s, FollowBody(account), twlogin, twpass, std::move(done));
}

void MicroblogClient::postForm(const QString& path, const QString& body, const QString& login,
                               const QString& password, FormDone done)
{
    m_formUrl = u"http://"_s + m_endpoints.value(Endpoints::MicroblogHost) + path;
    ++m_formPosts;
    // Every answer comes from the event loop, the refusals too, so the caller has gone on first.
    auto finish = [this, done = std::move(done)](const MicroblogOutcome& outcome) {
        --m_formPosts;
        if (!outcome.text.isEmpty())
            Q_EMIT reported(outcome);
        if (done)
            done(outcome);
    };

    QString proxyServer;
    const ProxySetting proxySetting = proxy();
    if (proxySetting.enabled) {
        const ProbeRoute route = RouteFor(proxySetting, QString(), 80);
        if (route.connectHost.isEmpty() || route.connectPort == 0) {
            QTimer::singleShot(0, this, [finish] {
                finish({MicroblogOutcome::Kind::BadProxy, kProxyMessage});
            });
            return;
        }
        proxyServer = route.connectHost + u':' + QString::number(route.connectPort);
    }

    // Our own fetch, not the network access manager: its answer head, body and time are bounded.
    auto* fetch = new HttpFetch(this);
    fetch->setPostBody(body.toLatin1());
    fetch->setBodyLimit(kReplyCap);
    fetch->setFollowRedirects(false);
    // Without a proxy in the user's own settings, there is none.
    fetch->setDirect(true);
    auto* timer = new QTimer(fetch);
    timer->setSingleShot(true);
    auto end = [fetch = QPointer<HttpFetch>(fetch), finish] {
        // Ends once: the answer or the time-out, whichever comes first.
        if (!fetch || fetch->property("ended").toBool())
            return;
        fetch->setProperty("ended", true);
        // A reply with a status line is an answer, error statuses included: their body says what
        // went wrong.
        const bool answered = fetch->outcome() == HttpFetch::Outcome::Answered;
        const QByteArray answer = fetch->body();
        fetch->abort();
        fetch->deleteLater();
        if (!answered) {
            finish({MicroblogOutcome::Kind::NoAnswer, {}});
            return;
        }
        if (const auto error = ApiReplyError(platform::AnsiCodec::decode(answer)))
            finish({MicroblogOutcome::Kind::ServiceError, u"エラーが発生しました: "_s + *error});
        else
            finish({MicroblogOutcome::Kind::Answered, {}});
    };
    // Queued: a fetch refused at its start answers from the event loop as well.
    connect(fetch, &HttpFetch::finished, this, end, Qt::QueuedConnection);
    connect(timer, &QTimer::timeout, this, end);
    timer->start(m_timeouts.form);
    fetch->start(m_formUrl,
                 u"Content-Type: application/x-www-form-urlencoded\r\nAuthorization: Basic "_s +
                     BasicCredentials(login, password),
                 proxyServer);
}

} // namespace linvera
