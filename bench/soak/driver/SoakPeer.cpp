#include "SoakPeer.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QHostAddress>
#include <QImage>
#include <QPainter>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>
#include <QUrlQuery>

#include <cctype>
#include <memory>

#include <sys/socket.h>

using namespace Qt::StringLiterals;

namespace linvera::soak {
namespace {

// A client that connects and never finishes its request is dropped after this long.
constexpr int kIdleLimitMs = 10000;
constexpr int kListenWaitMs = 10000;
constexpr qsizetype kMaxRequestBytes = 64 * 1024;
constexpr int kSplitGapMs = 20;
constexpr int kDripGapMs = 2;
constexpr qsizetype kDripChunk = 48;

const QByteArray kHtmlError = "<html><body><h1>Sorry</h1></body></html>";

QByteArray response(const QByteArray& status, const QByteArray& type, const QByteArray& body)
{
    return "HTTP/1.0 " + status + "\r\nContent-Type: " + type +
           "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

/// The last path segment of a short link, or of the target itself.
QString codeOf(const QString& link)
{
    QString code = link;
    if (const qsizetype query = code.indexOf(u'?'); query >= 0)
        code.truncate(query);
    return code.mid(code.lastIndexOf(u'/') + 1);
}

QString queryValue(const QByteArray& target, const QString& name)
{
    const qsizetype mark = target.indexOf('?');
    if (mark < 0)
        return {};
    const QUrlQuery query(QString::fromLatin1(target.mid(mark + 1)));
    // The value as the program encoded it, decoded once.
    return QUrl::fromPercentEncoding(query.queryItemValue(name, QUrl::FullyEncoded).toLatin1());
}

QByteArray picture()
{
    static const QByteArray bytes = [] {
        QImage image(96, 64, QImage::Format_RGB32);
        image.fill(QColor(40, 90, 160));
        QPainter painter(&image);
        painter.fillRect(16, 16, 64, 32, QColor(230, 200, 40));
        painter.end();
        QByteArray out;
        QBuffer buffer(&out);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        return out;
    }();
    return bytes;
}

void reset(QTcpSocket* socket)
{
    // A zero linger time makes the close send RST instead of FIN.
    const linger noLinger{1, 0};
    ::setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &noLinger, sizeof noLinger);
    socket->abort();
}

/// Writes `pieces` one by one, `gapMs` apart, then closes.
void writeSlowly(QTcpSocket* socket, const QList<QByteArray>& pieces, int gapMs)
{
    auto left = std::make_shared<QList<QByteArray>>(pieces);
    auto* timer = new QTimer(socket);
    timer->setInterval(gapMs);
    QObject::connect(timer, &QTimer::timeout, socket, [socket, timer, left] {
        if (left->isEmpty()) {
            timer->stop();
            socket->disconnectFromHost();
            return;
        }
        socket->write(left->takeFirst());
    });
    socket->write(left->takeFirst());
    timer->start();
}

} // namespace

QString serviceWord(Service service)
{
    switch (service) {
    case Service::Shorten:
        return u"shorten"_s;
    case Service::Info:
        return u"info"_s;
    case Service::Rule:
        return u"rule"_s;
    case Service::Probe:
        return u"probe"_s;
    case Service::Live:
        return u"live"_s;
    case Service::Channel:
        return u"channel"_s;
    case Service::Picture:
        return u"img"_s;
    case Service::Unknown:
        break;
    }
    return u"unknown"_s;
}

QString faultName(Fault fault)
{
    switch (fault) {
    case Fault::None:
        return u"none"_s;
    case Fault::Reset:
        return u"reset"_s;
    case Fault::Close:
        return u"close"_s;
    case Fault::Cut:
        return u"cut"_s;
    case Fault::NotFound:
        return u"e404"_s;
    case Fault::ServerError:
        return u"e500"_s;
    case Fault::Junk:
        return u"junk"_s;
    case Fault::Split:
        return u"split"_s;
    case Fault::Drip:
        return u"drip"_s;
    }
    return {};
}

QString faultWord(Service service, Fault fault)
{
    if (fault == Fault::None)
        return {};
    return u"sfk"_s + serviceWord(service) + u'_' + faultName(fault);
}

QString soakShortUrl(const QString& longUrl)
{
    const QByteArray hash = QCryptographicHash::hash(longUrl.toUtf8(), QCryptographicHash::Sha1).toHex();
    return u"http://s.soak.example/"_s + QString::fromLatin1(hash.left(12));
}

Service SoakPeer::serviceFor(const QByteArray& target, bool livePort)
{
    if (livePort)
        return Service::Live;
    if (target.startsWith("/shorten?"))
        return Service::Shorten;
    if (target.startsWith("/info?"))
        return Service::Info;
    if (target.startsWith("/forward?"))
        return Service::Rule;
    if (target.startsWith("/p/"))
        return Service::Probe;
    if (target.startsWith("/channel/"))
        return Service::Channel;
    if (target.startsWith("/img/"))
        return Service::Picture;
    return Service::Unknown;
}

Fault SoakPeer::faultFor(Service service, const QByteArray& target)
{
    const QByteArray word = "sfk" + serviceWord(service).toLatin1() + '_';
    const qsizetype at = target.indexOf(word);
    if (at < 0)
        return Fault::None;
    qsizetype end = at + word.size();
    while (end < target.size() && std::isalnum(static_cast<unsigned char>(target.at(end))))
        ++end;
    const QString kind = QString::fromLatin1(target.mid(at + word.size(), end - at - word.size()));
    for (Fault fault : {Fault::Reset, Fault::Close, Fault::Cut, Fault::NotFound, Fault::ServerError,
                        Fault::Junk, Fault::Split, Fault::Drip}) {
        if (faultName(fault) == kind)
            return fault;
    }
    return Fault::None;
}

QByteArray SoakPeer::answerFor(Service service, const QByteArray& target, quint16 mainPort,
                               quint16 closedPort, Fault fault)
{
    if (fault == Fault::NotFound)
        return response("404 Not Found", "text/html", kHtmlError);
    if (fault == Fault::ServerError)
        return response("500 Internal Server Error", "text/html", kHtmlError);
    const QString main = u"127.0.0.1:"_s + QString::number(mainPort);
    switch (service) {
    case Service::Shorten: {
        if (fault == Fault::Junk)
            return response("200 OK", "application/json", "{\"shortUrl\": \x01\xff{{[\"");
        const QString longUrl = queryValue(target, u"longUrl"_s);
        return response("200 OK", "application/json",
                        "{\"errorCode\": 0, \"results\": {\"x\": {\"hash\": \"h\", \"shortUrl\": \"" +
                            soakShortUrl(longUrl).toUtf8() + "\"}}, \"statusCode\": \"OK\"}");
    }
    case Service::Info: {
        if (fault == Fault::Junk)
            return response("200 OK", "application/json", "<<<\"longUrl\" : nothing");
        const QByteArray code = codeOf(queryValue(target, u"shortUrl"_s)).toUtf8();
        return response("200 OK", "application/json",
                        "{\"results\": {\"" + code + "\": {\"longUrl\": \"http://target.soak.example/info/" +
                            code + "\", \"htmlTitle\": \"Title " + code +
                            "\", \"urlFetched\": \"http://target.soak.example/fetched/" + code +
                            "\"}}, \"statusCode\": \"OK\"}");
    }
    case Service::Rule: {
        if (fault == Fault::Junk)
            return response("200 OK", "application/json", "{\"error\": \"\\u0000\"");
        const QByteArray code = queryValue(target, u"shorturl"_s).toUtf8();
        return response("200 OK", "application/json",
                        "{ \"url\": \"http:\\/\\/target.soak.example\\/rule\\/" + code + "\" }");
    }
    case Service::Probe: {
        if (fault == Fault::Junk)
            return "garbage without a status line\r\n\r\n";
        const QByteArray code = codeOf(QString::fromLatin1(target)).toLatin1();
        return "HTTP/1.0 301 Moved Permanently\r\nLocation: http://target.soak.example/probe/" + code +
               "\r\nContent-Length: 0\r\n\r\n";
    }
    case Service::Live: {
        if (fault == Fault::Junk)
            return "HTTP/1.0 302 Found\r\nLocation: http://nowhere.soak.example/plain\r\n\r\n";
        const QByteArray code = codeOf(QString::fromLatin1(target)).toLatin1();
        // A channel page on a port nobody listens on, when the link asks for it.
        const QString host =
            target.contains("deadchannel") ? u"127.0.0.1:"_s + QString::number(closedPort) : main;
        return "HTTP/1.0 302 Found\r\nLocation: http://" + host.toLatin1() + "/channel/" + code +
               "#live\r\n\r\n";
    }
    case Service::Channel: {
        if (fault == Fault::Junk)
            return response("200 OK", "text/html", "\x01\x02<title");
        const QByteArray code = codeOf(QString::fromLatin1(target)).toLatin1();
        return response("200 OK", "text/html; charset=UTF-8",
                        "<html><head><title>Live " + code + "</title></head><body><embed channelUrl=\"ch" +
                            code + "\"></body></html>");
    }
    case Service::Picture:
        if (fault == Fault::Junk)
            return response("200 OK", "image/png", "\x89PNG but not really a picture");
        return response("200 OK", "image/png", picture());
    case Service::Unknown:
        break;
    }
    return response("404 Not Found", "text/html", kHtmlError);
}

SoakPeer::SoakPeer(QObject* parent)
    : QThread(parent)
{}

SoakPeer::~SoakPeer()
{
    quit();
    wait();
}

bool SoakPeer::startListening(quint16 closedPort)
{
    m_closedPort = closedPort;
    start();
    if (!m_ready.tryAcquire(1, kListenWaitMs))
        return false;
    return m_mainPort.load() != 0 && m_livePort.load() != 0;
}

void SoakPeer::run()
{
    QTcpServer mainServer;
    QTcpServer liveServer;
    if (!mainServer.listen(QHostAddress::LocalHost, 0) || !liveServer.listen(QHostAddress::LocalHost, 0)) {
        m_ready.release();
        return;
    }
    m_mainPort.store(mainServer.serverPort());
    m_livePort.store(liveServer.serverPort());
    const quint16 mainPort = mainServer.serverPort();
    const quint16 closedPort = m_closedPort;

    const auto serve = [this, mainPort, closedPort](QTcpServer& server, bool live) {
        while (QTcpSocket* socket = server.nextPendingConnection()) {
            auto request = std::make_shared<QByteArray>();
            auto* idle = new QTimer(socket);
            idle->setSingleShot(true);
            QObject::connect(idle, &QTimer::timeout, socket, &QTcpSocket::abort);
            idle->start(kIdleLimitMs);
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            // The whole request first: closing with unread bytes would reset the connection.
            QObject::connect(
                socket, &QTcpSocket::readyRead, socket, [this, socket, request, live, mainPort, closedPort] {
                    const bool complete = request->contains("\r\n\r\n");
                    *request += socket->read(kMaxRequestBytes);
                    if (complete || !request->contains("\r\n\r\n")) {
                        if (request->size() >= kMaxRequestBytes)
                            socket->abort();
                        return;
                    }
                    m_requests.fetch_add(1);
                    const qsizetype lineEnd = request->indexOf("\r\n");
                    const QList<QByteArray> parts = request->left(lineEnd).split(' ');
                    const QByteArray target = parts.value(1);
                    const Service service = serviceFor(target, live);
                    const Fault fault = faultFor(service, target);
                    if (fault != Fault::None)
                        m_faults.fetch_add(1);
                    const QByteArray answer = answerFor(service, target, mainPort, closedPort, fault);
                    switch (fault) {
                    case Fault::Reset:
                        reset(socket);
                        return;
                    case Fault::Close:
                        socket->disconnectFromHost();
                        return;
                    case Fault::Cut:
                        socket->write(answer.left(qMax(qsizetype(1), answer.size() / 2)));
                        socket->disconnectFromHost();
                        return;
                    case Fault::Split:
                        writeSlowly(socket, {answer.left(answer.size() / 3), answer.mid(answer.size() / 3)},
                                    kSplitGapMs);
                        return;
                    case Fault::Drip: {
                        QList<QByteArray> pieces;
                        for (qsizetype at = 0; at < answer.size(); at += kDripChunk)
                            pieces.append(answer.mid(at, kDripChunk));
                        writeSlowly(socket, pieces, kDripGapMs);
                        return;
                    }
                    default:
                        socket->write(answer);
                        socket->disconnectFromHost();
                        return;
                    }
                });
        }
    };
    QObject::connect(&mainServer, &QTcpServer::newConnection, &mainServer, [&] { serve(mainServer, false); });
    QObject::connect(&liveServer, &QTcpServer::newConnection, &liveServer, [&] { serve(liveServer, true); });
    m_ready.release();
    exec();
}

} // namespace linvera::soak
