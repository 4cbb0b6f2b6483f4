#include "microblog/MicroblogClient.h"

#include "conv/HttpClient.h"
#include "microblog/MicroblogReplies.h"
#include "net/AnswerReader.h"
#include "net/HttpConnection.h"
#include "net/RequestWriter.h"
#include "platform/AnsiCodec.h"

#include <QFile>
#include <QFileInfo>
#include <QTimer>

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
    , m_upload(new HttpConnection(this))
{
    connect(m_upload, &HttpConnection::ready, this, &MicroblogClient::onConnected);
    connect(m_upload, &HttpConnection::readyRead, this, [this] {
        const QByteArray arrived = m_upload->readAll();
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
    // An HTTP/1.0 server closes after its reply: that close ends the reply, it is no failure.
    connect(m_upload, &HttpConnection::closed, this, &MicroblogClient::finishReply);
    connect(m_upload, &HttpConnection::failed, this,
            [this](HttpConnection::Failure failure, const QString& description) {
                failReply(failure == HttpConnection::Failure::Timeout ? kTimedOut : description);
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
    // The upload goes straight to the host or to the proxy of the user's settings, which the route
    // names itself (the request line is already in the form for it): the connection is pinned to
    // no proxy, never one the application or the environment would choose.
    ConnectionTarget connection;
    connection.host = m_route.connectHost;
    connection.port = m_route.connectPort;
    connection.via = ConnectionTarget::Via::Direct;
    connection.socketName = u"Winsock1"_s;
    // The reply's own time starts once the request is out; until then only the connection's.
    HttpLimits limits;
    limits.bodyCap = kReplyCap;
    limits.connect = m_timeouts.connect;
    limits.idle = std::chrono::milliseconds(0);
    limits.total = m_timeouts.connect + m_timeouts.reply;
    m_connecting = true;
    m_upload->open(connection, limits);
    return true;
}

void MicroblogClient::onConnected()
{
    if (!m_connecting)
        return;
    m_connecting = false;
    m_upload->restartTotal(m_timeouts.reply);
    Q_EMIT requestSent(platform::AnsiCodec::decode(m_request));
    m_awaitingReply = true;
    m_upload->write(m_request);
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
    m_upload->close();
    m_busy = false;
    Q_EMIT reported({MicroblogOutcome::Kind::Transport, description});
    Q_EMIT replyFailed(description);
}

void MicroblogClient::finishReply()
{
    if (!m_awaitingReply)
        return;
    const QByteArray rest = m_upload->readAll();
    if (m_reply.size() + rest.size() > kReplyCap) {
        failReply(tooLongReply());
        return;
    }
    m_awaitingReply = false;
    m_reply += rest;
    m_upload->close();
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
    auto later = [this](std::function<void()> step) { QTimer::singleShot(0, this, std::move(step)); };

    ConnectionTarget connection;
    const ProxySetting proxySetting = proxy();
    if (proxySetting.enabled) {
        const ProbeRoute route = RouteFor(proxySetting, QString(), 80);
        if (route.connectHost.isEmpty() || route.connectPort == 0) {
            later([finish] { finish({MicroblogOutcome::Kind::BadProxy, kProxyMessage}); });
            return;
        }
        // Without a proxy in the user's own settings, there is none.
        connection.via = ConnectionTarget::Via::HttpProxy;
        connection.proxyHost = route.connectHost;
        connection.proxyPort = route.connectPort;
    }
    const QString problem = RequestUrlProblem(m_formUrl);
    if (!problem.isEmpty()) {
        qWarning("MicroblogClient: %s: %s", qPrintable(m_formUrl), qPrintable(problem));
        later([finish] { finish({MicroblogOutcome::Kind::NoAnswer, {}}); });
        return;
    }
    const UploadTarget target = TargetFor(m_endpoints.value(Endpoints::MicroblogHost), path);
    connection.host = target.host;
    connection.port = target.port;

    HttpRequest request;
    request.method = "POST";
    request.origin = "http://" + m_endpoints.value(Endpoints::MicroblogHost).toLatin1();
    request.target = path.toLatin1();
    request.absoluteTarget = m_formUrl.toLatin1();
    request.body = body.toLatin1();
    request.headers = {
        {"Host", m_endpoints.value(Endpoints::MicroblogHost).toLatin1()},
        {"User-Agent", HttpAgentText().toLatin1()},
        {"Content-Type", "application/x-www-form-urlencoded"},
        {"Authorization", "Basic " + BasicCredentials(login, password).toLatin1()},
        {"Content-Length", QByteArray::number(request.body.size())},
        {"Connection", "close"},
    };
    // The designed 60 seconds bound the whole request; the answer has the same cap as the uploads'.
    request.limits.bodyCap = kReplyCap;
    request.limits.connect = qMin(m_timeouts.connect, m_timeouts.form);
    request.limits.idle = std::chrono::milliseconds(0);
    request.limits.total = m_timeouts.form;
    const QByteArray bytes =
        WriteRequest(request, connection.via == ConnectionTarget::Via::HttpProxy ? RequestForm::Absolute
                                                                                 : RequestForm::Origin);

    // The connection and its reader live until the answer is in, the post failed or the client goes.
    auto* exchange = new HttpConnection(this);
    auto reader = std::make_shared<AnswerReader>(request.limits.headCap, request.limits.bodyCap);
    auto end = [exchange, reader, finish](bool answered) {
        exchange->close();
        exchange->deleteLater();
        if (!answered) {
            finish({MicroblogOutcome::Kind::NoAnswer, {}});
            return;
        }
        // A reply with a status line is an answer, error statuses included: their body says what
        // went wrong.
        if (const auto error = ApiReplyError(platform::AnsiCodec::decode(reader->takeBody())))
            finish({MicroblogOutcome::Kind::ServiceError, u"エラーが発生しました: "_s + *error});
        else
            finish({MicroblogOutcome::Kind::Answered, {}});
    };
    auto read = [exchange, reader, end](bool closed) {
        AnswerReader::State state = reader->feed(exchange->readAll());
        if (closed && (state == AnswerReader::State::Head || state == AnswerReader::State::Body))
            state = reader->finish();
        if (state == AnswerReader::State::Done || state == AnswerReader::State::Failed)
            end(state == AnswerReader::State::Done);
    };
    connect(exchange, &HttpConnection::ready, exchange, [exchange, bytes] { exchange->write(bytes); });
    connect(exchange, &HttpConnection::readyRead, this, [read] { read(false); });
    connect(exchange, &HttpConnection::closed, this, [read] { read(true); });
    connect(exchange, &HttpConnection::failed, this, [end] { end(false); });
    exchange->open(connection, request.limits);
}

} // namespace linvera
