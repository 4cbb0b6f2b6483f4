#include "SoakDriver.h"

#include "ProcessFigures.h"
#include "SoakPeer.h"
#include "automation/LinveraAutomation.h"
#include "conv/Endpoints.h"
#include "mailbox/MailboxNames.h"
#include "platform/RegAccess.h"
#include "platform/RegistryStore.h"
#include "verdict/Verdict.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QMap>
#include <QProcess>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <memory>
#include <optional>

#include <csignal>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace linvera::soak {
namespace {

using bench::closedPort;
using bench::residentMb;

constexpr int kCallTimeoutMs = 30000;
constexpr int kStartWaitMs = 60000;
constexpr int kAsyncWaitMs = 10000;
constexpr int kHandOffWaitMs = 30000;
constexpr int kSettleMs = 5000;
constexpr int kInFlightWaitMs = 3000;
// Conversions before the descriptor count is first read: every kind has run by then.
constexpr int kWarmUp = 60;

const QString kLinvera = QString::fromLatin1(LinveraAutomation::kServiceName);
const QString kLinveraPath = QString::fromLatin1(LinveraAutomation::kObjectPath);

enum class Kind {
    Local,
    Shorten,
    Japanese,
    Store,
    Info,
    Rule,
    RuleGone,
    Probe,
    Live,
    Picture,
    PictureGone,
    Empty,
};

struct Plan
{
    Kind kind = Kind::Local;
    QString input;
    bool faulted = false;
    /// After URL when StartConv returns (checked unless a hand-off overlapped).
    QString after;
    /// A piece the after or before information must hold.
    QString afterInfoPart;
    QString beforeInfo;
    /// After URL (and information) once the probe has answered; empty when not waited for.
    QString later;
    QString laterInfo;
};

/// What each open descriptor of a process refers to (a socket with its inode).
QStringList openDescriptors(qint64 pid)
{
    QStringList targets;
    const QString folder = u"/proc/%1/fd"_s.arg(pid);
    const QStringList names = QDir(folder).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& name : names) {
        char buffer[512];
        const QByteArray path = (folder + u'/' + name).toLocal8Bit();
        const ssize_t length = ::readlink(path.constData(), buffer, sizeof buffer - 1);
        if (length >= 0) // else closed meanwhile
            targets.append(QString::fromLocal8Bit(buffer, length));
    }
    return targets;
}

/// Sockets and pipes without their inode numbers, which differ from run to run.
QString kindOf(const QString& target)
{
    if (target.startsWith(u"socket:"_s))
        return u"socket"_s;
    if (target.startsWith(u"pipe:"_s))
        return u"pipe"_s;
    return target;
}

/// A socket named by its inode in /proc/PID/net: protocol, addresses and TCP state.
QString describeSocket(qint64 pid, const QString& target)
{
    const QString inode = target.mid(8, target.size() - 9);
    for (const QString& table : {u"tcp"_s, u"tcp6"_s, u"udp"_s, u"unix"_s}) {
        QFile file(u"/proc/%1/net/%2"_s.arg(pid).arg(table));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray& line : file.readAll().split('\n')) {
            const QList<QByteArray> fields = line.simplified().split(' ');
            if (table == u"unix"_s) {
                if (fields.size() > 6 && QString::fromLatin1(fields[6]) == inode)
                    return u"unix socket "_s + QString::fromLatin1(fields.value(7));
            } else if (fields.size() > 9 && QString::fromLatin1(fields[9]) == inode) {
                return u"%1 %2 -> %3 state %4"_s.arg(table, QString::fromLatin1(fields[1]),
                                                     QString::fromLatin1(fields[2]),
                                                     QString::fromLatin1(fields[3]));
            }
        }
    }
    return target;
}

/// The descriptors of `later` beyond those of `earlier`, compared by kind, described.
QStringList added(qint64 pid, const QStringList& later, const QStringList& earlier)
{
    QStringList left;
    for (const QString& target : earlier)
        left.append(kindOf(target));
    QStringList extra;
    for (const QString& target : later) {
        if (!left.removeOne(kindOf(target)))
            extra.append(target.startsWith(u"socket:"_s) ? describeSocket(pid, target) : target);
    }
    return extra;
}

double median(QList<double> values)
{
    if (values.isEmpty())
        return -1;
    std::sort(values.begin(), values.end());
    const qsizetype mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

/// The conversion log, read as it grows: each complete line's input, counted.
class LogTail
{
public:
    explicit LogTail(QString path)
        : m_path(std::move(path))
    {}

    /// Reads what was appended since the last look; returns the inputs of the new lines.
    QStringList drain()
    {
        QStringList inputs;
        QFile file(m_path);
        if (!file.open(QIODevice::ReadOnly) || file.size() <= m_offset)
            return inputs;
        file.seek(m_offset);
        const QByteArray bytes = file.readAll();
        m_offset += bytes.size();
        m_partial += bytes;
        qsizetype end;
        while ((end = m_partial.indexOf("\r\n")) >= 0) {
            const QString line = QString::fromUtf8(m_partial.left(end));
            m_partial.remove(0, end + 2);
            ++m_lines;
            // date, ", ", input, ", ", after URL: the soak's inputs and results hold no ", ".
            const qsizetype last = line.lastIndexOf(u", "_s);
            const qsizetype before = last > 0 ? line.lastIndexOf(u", "_s, last - 1) : -1;
            const QString input = before >= 0 ? line.mid(before + 2, last - before - 2) : QString();
            ++m_counts[input];
            inputs.append(input);
        }
        return inputs;
    }

    int count(const QString& input) const { return m_counts.value(input); }
    qint64 lines() const { return m_lines; }
    const QHash<QString, int>& counts() const { return m_counts; }

private:
    QString m_path;
    qint64 m_offset = 0;
    QByteArray m_partial;
    qint64 m_lines = 0;
    QHash<QString, int> m_counts;
};

class Soak
{
public:
    explicit Soak(const SoakOptions& options)
        : m_options(options)
        , m_random(options.seed)
    {}
    ~Soak();

    SoakResult run();

private:
    void print(const QString& line) const
    {
        if (m_options.print)
            m_options.print(line);
    }
    QString program(const QString& name) const { return m_options.programFolder + u'/' + name; }
    QString dataFolder() const { return m_home.path() + u"/Documents/halvex-linvera"_s; }
    QString logFile() const { return dataFolder() + u"/log.txt"_s; }

    bool startBus();
    bool prepareHome();
    QProcessEnvironment environment() const;
    bool startProgram();
    QDBusMessage call(const QString& method, const QVariantList& arguments = {});
    QString text(const QString& method);

    Plan plan(int index);
    void convert(int index);
    void pumpHandOff(bool waitForIt);
    void startHandOff();
    /// Reads the log; true when a handed-over URL's line arrived.
    bool drainLog();
    void checkResult(const Plan& plan, bool overlapped);
    /// True when a handed-over URL's conversion ran alongside (its line arrives within a moment).
    bool handOffInFlight();
    void mismatch(const QString& what);
    int settledDescriptors(int atMost);
    void finish();

    SoakOptions m_options;
    QRandomGenerator m_random;
    SoakResult m_result;
    SoakFigures& m_figures = m_result.figures;

    QTemporaryDir m_home;
    QTemporaryDir m_busHome;
    QProcess m_bus;
    QString m_busAddress;
    std::optional<QDBusConnection> m_connection;
    SoakPeer m_peer;
    quint16 m_closed = 0;
    QProcess m_main;
    std::unique_ptr<LogTail> m_log;
    QStringList m_fdsAtStart;

    // Hand-offs: at most one second start at a time, since the mailbox holds one command.
    std::unique_ptr<QProcess> m_second;
    QString m_handed;
    QElapsedTimer m_handClock;
    bool m_secondEnded = false;
    bool m_handedSeen = false;
    QHash<QString, int> m_handedUrls;
    QList<double> m_handOffMs;
    int m_handOffsDone = 0;

    QHash<QString, int> m_convertedInputs;
    int m_expectedLines = 0;
};

Soak::~Soak()
{
    m_second.reset();
    if (m_main.state() != QProcess::NotRunning) {
        m_main.kill();
        m_main.waitForFinished(10000);
    }
    m_connection.reset();
    QDBusConnection::disconnectFromBus(u"linvera-soak"_s);
    if (m_bus.state() != QProcess::NotRunning) {
        m_bus.terminate();
        if (!m_bus.waitForFinished(5000)) {
            m_bus.kill();
            m_bus.waitForFinished(5000);
        }
    }
}

bool Soak::startBus()
{
    // A bus of its own: nothing of the user's session is touched, and the tests' bus configuration
    // activates no installed service (a standard session bus would, whatever XDG_DATA_DIRS says).
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"HOME"_s, m_busHome.path());
    env.insert(u"XDG_DATA_HOME"_s, m_busHome.path() + u"/share"_s);
    m_bus.setProcessEnvironment(env);
    m_bus.setStandardErrorFile(QProcess::nullDevice());
    m_bus.start(u"dbus-daemon"_s, {u"--config-file="_s + QStringLiteral(LINVERA_TEST_BUS_CONFIG),
                                   u"--nofork"_s, u"--print-address=1"_s});
    if (!m_bus.waitForStarted(10000))
        return false;
    QByteArray line;
    const QDeadlineTimer deadline(10000);
    while (!line.contains('\n') && !deadline.hasExpired() && m_bus.waitForReadyRead(1000))
        line += m_bus.readAllStandardOutput();
    m_busAddress = QString::fromUtf8(line.trimmed());
    if (m_busAddress.isEmpty())
        return false;
    m_connection = QDBusConnection::connectToBus(m_busAddress, u"linvera-soak"_s);
    return m_connection->isConnected();
}

bool Soak::prepareHome()
{
    const QString root = m_home.path();
    for (const QString& folder : {u"/.config"_s, u"/.local/share"_s, u"/.cache"_s, u"/tmp"_s, u"/run"_s,
                                  u"/Documents/halvex-linvera"_s}) {
        if (!QDir().mkpath(root + folder))
            return false;
    }
    QFile::setPermissions(root + u"/run"_s,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    const QString main = u"127.0.0.1:"_s + QString::number(m_peer.mainPort());
    const QString live = u"127.0.0.1:"_s + QString::number(m_peer.livePort());
    const QString nowhere = u"127.0.0.1:"_s + QString::number(m_closed);
    {
        platform::RegistryStore store(root + u"/.config/halvex-linvera/registry.sqlite3"_s);
        platform::RegistryStore::SharedOverride use(store);
        const QString key = QString::fromLatin1(Endpoints::kRegistryKey);
        const QList<std::pair<Endpoints::Name, QString>> hosts{
            {Endpoints::ShortenerApiHost, main},
            {Endpoints::ShortenerAltApiHost, main},
            {Endpoints::LiveShortDomain, live},
            {Endpoints::LiveHost, u"live.soak.example"_s},
            {Endpoints::StoreHost, u"www.store.example"_s},
            {Endpoints::StoreHostPrefix, u"www.store."_s},
            {Endpoints::MicroblogHost, nowhere},
            {Endpoints::PictureHost, nowhere},
            {Endpoints::MakerSiteHost, nowhere},
            {Endpoints::MakerNoticeHost, nowhere},
            {Endpoints::MakerLiveHost, nowhere},
            {Endpoints::IsgdApiBase, u"http://"_s + nowhere},
            {Endpoints::VgdApiBase, u"http://"_s + nowhere},
        };
        for (const auto& [name, host] : hosts) {
            if (!SetRegString(platform::RegRoot::LocalMachine, key, Endpoints::registryName(name), host))
                return false;
        }
        // Not a first run: no first-run message waits for a user.
        if (!SetRegString(platform::RegRoot::LocalMachine, u"SOFTWARE\\HALVEX\\linvera\\param"_s,
                          u"Version"_s, u"2_1_0"_s))
            return false;
        // The designed service, which the peer imitates; a fresh store would use is.gd.
        if (!SetRegString(platform::RegRoot::LocalMachine, u"SOFTWARE\\HALVEX\\linvera\\param"_s,
                          u"ShortURLType"_s, u"0"_s))
            return false;
    }

    const QString escapedMain = u"127\\.0\\.0\\.1:"_s + QString::number(m_peer.mainPort());
    const QString shortLinkRules =
        u"shrt.example/\thttp://api.shrt.example/info\t\"longUrl\": \"(.*?)\"\r\n"_s +
        u"gone.soak.example/\thttp://"_s + nowhere + u"/forward?shorturl=($)\t\"url\": ?\"(.*?)\"\r\n"_s +
        u"rule.soak.example/\thttp://"_s + main + u"/forward?shorturl=($)\t\"url\": ?\"(.*?)\"\r\n"_s +
        u"^http://local\\.soak\\.example/(\\w+)$\thttp://target.soak.example/local/(1)\t\r\n"_s + main +
        u"/p/\tLocation:\t\r\n"_s + nowhere + u"/p/\tLocation:\t\r\n"_s;
    const QString pictureRules = u"^http://"_s + escapedMain + u"/show/(\\w+)$\thttp://"_s + main +
                                 u"/img/(1).png\r\n^http://"_s + escapedMain + u"/gone/(\\w+)$\thttp://"_s +
                                 nowhere + u"/img/(1).png\r\n"_s;
    return writeFile(dataFolder() + u"/tinyurls.txt"_s, shortLinkRules.toUtf8()) &&
           writeFile(dataFolder() + u"/picturls.txt"_s, pictureRules.toUtf8());
}

QProcessEnvironment Soak::environment() const
{
    const QString root = m_home.path();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"HOME"_s, root);
    env.insert(u"XDG_CONFIG_HOME"_s, root + u"/.config"_s);
    env.insert(u"XDG_DATA_HOME"_s, root + u"/.local/share"_s);
    env.insert(u"XDG_CACHE_HOME"_s, root + u"/.cache"_s);
    env.insert(u"TMPDIR"_s, root + u"/tmp"_s);
    env.insert(u"XDG_RUNTIME_DIR"_s, root + u"/run"_s);
    env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
    env.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, m_busAddress);
    // The loopback peers are reached directly, whatever proxy the machine names.
    for (const QString& name : {u"http_proxy"_s, u"HTTP_PROXY"_s, u"https_proxy"_s, u"HTTPS_PROXY"_s,
                                u"all_proxy"_s, u"ALL_PROXY"_s})
        env.remove(name);
    env.insert(u"no_proxy"_s, u"127.0.0.1,localhost"_s);
    for (const auto& [name, value] : m_options.programEnvironment)
        env.insert(name, value);
    return env;
}

QDBusMessage Soak::call(const QString& method, const QVariantList& arguments)
{
    QDBusMessage message = QDBusMessage::createMethodCall(kLinvera, kLinveraPath, kLinvera, method);
    message.setArguments(arguments);
    return m_connection->call(message, QDBus::Block, kCallTimeoutMs);
}

QString Soak::text(const QString& method)
{
    const QDBusMessage reply = call(method);
    return reply.arguments().value(0).value<QDBusVariant>().variant().toString();
}

bool Soak::startProgram()
{
    m_main.setProcessEnvironment(environment());
    m_main.setStandardOutputFile(QProcess::nullDevice());
    m_main.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_main.start(program(u"H-Linvera"_s), {});
    if (!m_main.waitForStarted(10000))
        return false;
    const QDeadlineTimer deadline(kStartWaitMs);
    while (!deadline.hasExpired() && m_main.state() == QProcess::Running) {
        if (call(u"getMainWindowState"_s).type() == QDBusMessage::ReplyMessage)
            return m_connection->interface()->servicePid(kLinvera).value() == quint32(m_main.processId());
        m_main.waitForFinished(20);
    }
    return false;
}

Plan Soak::plan(int index)
{
    Plan p;
    // Every kind in the first round, then a weighted mix.
    static const QList<Kind> firstRound{Kind::Local, Kind::Shorten, Kind::Japanese,    Kind::Store,
                                        Kind::Info,  Kind::Rule,    Kind::RuleGone,    Kind::Probe,
                                        Kind::Live,  Kind::Picture, Kind::PictureGone, Kind::Empty};
    static const QList<std::pair<Kind, int>> weights{
        {Kind::Local, 10}, {Kind::Shorten, 14}, {Kind::Japanese, 4},    {Kind::Store, 8},
        {Kind::Info, 10},  {Kind::Rule, 10},    {Kind::RuleGone, 4},    {Kind::Probe, 14},
        {Kind::Live, 10},  {Kind::Picture, 12}, {Kind::PictureGone, 3}, {Kind::Empty, 1}};
    if (index < firstRound.size()) {
        p.kind = firstRound[index];
    } else {
        int total = 0;
        for (const auto& weight : weights)
            total += weight.second;
        int pick = int(m_random.bounded(total));
        for (const auto& [kind, weight] : weights) {
            if (pick < weight) {
                p.kind = kind;
                break;
            }
            pick -= weight;
        }
    }
    // A fault in about a third of the conversions that reach the network.
    const bool fault = index >= firstRound.size() && m_random.bounded(100) < 35;
    const auto choose = [&](const QList<Fault>& faults) {
        return fault ? faults[int(m_random.bounded(qsizetype(faults.size())))] : Fault::None;
    };
    static const QList<Fault> all{Fault::Reset,       Fault::Close, Fault::Cut,   Fault::NotFound,
                                  Fault::ServerError, Fault::Junk,  Fault::Split, Fault::Drip};
    // A probe that ends in a socket error shows a message box that waits for a user; those faults
    // are left to the tests of the probe.
    static const QList<Fault> answered{Fault::Cut, Fault::NotFound, Fault::Junk, Fault::Split, Fault::Drip};
    const auto deliveredWhole = [](Fault f) {
        return f == Fault::None || f == Fault::Split || f == Fault::Drip;
    };

    const QString code = u"c"_s + QString::number(index);
    const QString main = u"127.0.0.1:"_s + QString::number(m_peer.mainPort());
    switch (p.kind) {
    case Kind::Local:
        p.input = u"http://local.soak.example/"_s + code;
        p.after = u"http://target.soak.example/local/"_s + code;
        break;
    case Kind::Shorten:
    case Kind::Store:
    case Kind::Japanese: {
        const Fault f = p.kind == Kind::Japanese ? Fault::None : choose(all);
        p.faulted = f != Fault::None;
        const QString word = faultWord(Service::Shorten, f);
        if (p.kind == Kind::Shorten) {
            p.input = u"http://long.soak.example/a/"_s + code + u'/' + (word.isEmpty() ? u"ok"_s : word) +
                      u"?ref=soak&n="_s + QString::number(index);
        } else if (p.kind == Kind::Store) {
            p.input = u"http://www.store.example/dp/B0"_s + code.toUpper() + u"X/ref=sr_"_s +
                      (word.isEmpty() ? u"ok"_s : word);
            p.afterInfoPart = u"http://www.store.example/dp/B0"_s + code.toUpper() + u'X';
        } else {
            p.input = u"http://long.soak.example/%E6%97%A5%E6%9C%AC/"_s + code;
            p.beforeInfo = u"http://long.soak.example/日本/"_s + code;
        }
        p.after = deliveredWhole(f) ? soakShortUrl(p.input) : QString();
        break;
    }
    case Kind::Info:
    case Kind::Rule: {
        const Service service = p.kind == Kind::Info ? Service::Info : Service::Rule;
        const Fault f = choose(all);
        p.faulted = f != Fault::None;
        const QString linkCode = code + faultWord(service, f);
        p.input =
            (p.kind == Kind::Info ? u"http://shrt.example/"_s : u"http://rule.soak.example/"_s) + linkCode;
        // An expansion that yields nothing falls back to shortening the short link.
        if (!deliveredWhole(f)) {
            p.after = soakShortUrl(p.input);
        } else if (p.kind == Kind::Info) {
            p.after = u"http://target.soak.example/info/"_s + linkCode;
            p.afterInfoPart = u"Title "_s + linkCode;
        } else {
            p.after = u"http://target.soak.example/rule/"_s + linkCode;
        }
        break;
    }
    case Kind::RuleGone:
        p.input = u"http://gone.soak.example/"_s + code;
        p.faulted = true;
        p.after = soakShortUrl(p.input);
        break;
    case Kind::Probe: {
        if (fault && m_options.probeSocketErrors && m_random.bounded(2) == 0) {
            // Reset, closed without an answer, or refused: each shows its message box.
            const quint32 how = m_random.bounded(3);
            p.faulted = true;
            if (how == 2)
                p.input = u"http://127.0.0.1:"_s + QString::number(m_closed) + u"/p/"_s + code;
            else
                p.input = u"http://"_s + main + u"/p/"_s + code +
                          faultWord(Service::Probe, how == 0 ? Fault::Reset : Fault::Close);
            break;
        }
        const Fault f = choose(answered);
        p.faulted = f != Fault::None;
        const QString linkCode = code + faultWord(Service::Probe, f);
        p.input = u"http://"_s + main + u"/p/"_s + linkCode;
        if (deliveredWhole(f))
            p.later = u"http://target.soak.example/probe/"_s + linkCode;
        break;
    }
    case Kind::Live: {
        QString word;
        bool whole = true;
        // A channel page that never came whole leaves the live link's own target as the result.
        QString pageHost;
        if (fault) {
            // The live link's own answer, the channel page, or a channel page nobody serves.
            const quint32 where = m_random.bounded(3);
            if (where == 0) {
                const Fault f = answered[int(m_random.bounded(qsizetype(answered.size())))];
                word = faultWord(Service::Live, f);
                whole = f == Fault::Split || f == Fault::Drip;
            } else if (where == 1) {
                const Fault f = all[int(m_random.bounded(qsizetype(all.size())))];
                word = faultWord(Service::Channel, f);
                whole = f == Fault::Split || f == Fault::Drip;
                if (f == Fault::Reset || f == Fault::Close || f == Fault::Cut)
                    pageHost = main;
            } else {
                word = u"deadchannel"_s;
                whole = false;
                pageHost = u"127.0.0.1:"_s + QString::number(m_closed);
            }
            p.faulted = true;
        }
        const QString linkCode = code + word;
        p.input = u"http://127.0.0.1:"_s + QString::number(m_peer.livePort()) + u'/' + linkCode;
        if (whole) {
            p.later = u"http://live.soak.example/channel/ch"_s + linkCode;
            p.laterInfo = u"Live "_s + linkCode;
        } else if (!pageHost.isEmpty()) {
            p.later = u"http://"_s + pageHost + u"/channel/"_s + linkCode;
        }
        break;
    }
    case Kind::Picture: {
        const Fault f = choose(all);
        p.faulted = f != Fault::None;
        const QString linkCode = code + faultWord(Service::Picture, f);
        p.input = u"http://"_s + main + u"/show/"_s + linkCode;
        p.after = u"http://"_s + main + u"/img/"_s + linkCode + u".png"_s;
        break;
    }
    case Kind::PictureGone:
        p.input = u"http://"_s + main + u"/gone/"_s + code;
        p.faulted = true;
        p.after = u"http://127.0.0.1:"_s + QString::number(m_closed) + u"/img/"_s + code + u".png"_s;
        break;
    case Kind::Empty:
        break;
    }
    return p;
}

void Soak::mismatch(const QString& what)
{
    ++m_figures.resultMismatches;
    if (m_figures.mismatchSamples.size() < 10)
        m_figures.mismatchSamples.append(what);
}

bool Soak::drainLog()
{
    bool handOff = false;
    for (const QString& input : m_log->drain()) {
        if (m_handedUrls.contains(input)) {
            handOff = true;
            if (input == m_handed && !m_handedSeen) {
                m_handedSeen = true;
                m_handOffMs.append(double(m_handClock.nsecsElapsed()) / 1e6);
            }
        }
    }
    return handOff;
}

void Soak::startHandOff()
{
    const int number = m_figures.handOffsStarted++;
    m_handed = number % 2 ? u"http://long.soak.example/h/"_s + QString::number(number)
                          : u"http://local.soak.example/h"_s + QString::number(number);
    m_handedUrls.insert(m_handed, 0);
    m_secondEnded = false;
    m_handedSeen = false;
    m_second = std::make_unique<QProcess>();
    m_second->setProcessEnvironment(environment());
    m_second->setStandardOutputFile(QProcess::nullDevice());
    m_second->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_handClock.start();
    m_second->start(program(u"H-Linvera"_s), {m_handed});
}

void Soak::pumpHandOff(bool waitForIt)
{
    if (!m_second)
        return;
    do {
        if (!m_secondEnded &&
            (m_second->state() == QProcess::NotRunning || m_second->waitForFinished(waitForIt ? 5 : 0))) {
            m_secondEnded = true;
            if (m_second->exitStatus() != QProcess::NormalExit || m_second->exitCode() != 0 ||
                m_second->error() == QProcess::FailedToStart)
                ++m_figures.secondStartFailures;
        }
        drainLog();
        if (m_secondEnded && m_handedSeen) {
            ++m_handOffsDone;
            m_second.reset();
            return;
        }
        if (m_handClock.elapsed() > kHandOffWaitMs) {
            // Not seen in time: counted as lost at the end unless its line still comes.
            if (!m_secondEnded) {
                m_second->kill();
                m_second->waitForFinished(5000);
                ++m_figures.secondStartFailures;
            }
            ++m_handOffsDone;
            m_second.reset();
            return;
        }
        if (waitForIt)
            QThread::msleep(2);
    } while (waitForIt);
}

bool Soak::handOffInFlight()
{
    // The main program may be converting a handed-over URL whose line is not in the log yet: one
    // that waits inside a fetch has emptied the boxes. Its line shows when it is done.
    if (!m_second || m_handedSeen)
        return false;
    const QDeadlineTimer deadline(kInFlightWaitMs);
    while (!deadline.hasExpired()) {
        if (drainLog())
            return true;
        QThread::msleep(2);
    }
    return false;
}

void Soak::checkResult(const Plan& p, bool overlapped)
{
    if (overlapped) {
        ++m_figures.resultsNotCheckable;
        return;
    }
    const QString after = text(u"GetAfterUrl"_s);
    QString afterInfo;
    QString beforeInfo;
    if (!p.afterInfoPart.isEmpty())
        afterInfo = text(u"GetAfterInfo"_s);
    if (!p.beforeInfo.isEmpty())
        beforeInfo = text(u"GetBeforeInfo"_s);
    // A handed-over URL converted meanwhile replaces the boxes.
    if (drainLog()) {
        ++m_figures.resultsNotCheckable;
        return;
    }
    QStringList wrong;
    // A probe may have answered already.
    if (after != p.after && !(p.after.isEmpty() && !p.later.isEmpty() && after == p.later))
        wrong.append(u"%1: after URL \"%2\", expected \"%3\""_s.arg(p.input, after, p.after));
    if (!p.afterInfoPart.isEmpty() && !afterInfo.contains(p.afterInfoPart))
        wrong.append(u"%1: after information \"%2\" lacks \"%3\""_s.arg(p.input, afterInfo, p.afterInfoPart));
    if (!p.beforeInfo.isEmpty() && beforeInfo != p.beforeInfo)
        wrong.append(
            u"%1: before information \"%2\", expected \"%3\""_s.arg(p.input, beforeInfo, p.beforeInfo));
    if (!wrong.isEmpty() && handOffInFlight()) {
        ++m_figures.resultsNotCheckable;
        return;
    }
    ++m_figures.resultsChecked;
    for (const QString& what : wrong)
        mismatch(what);
    if (!wrong.isEmpty())
        return;

    if (p.later.isEmpty())
        return;
    // The probe answers after StartConv has returned.
    QElapsedTimer clock;
    clock.start();
    QString now;
    while (clock.elapsed() < kAsyncWaitMs) {
        now = text(u"GetAfterUrl"_s);
        if (drainLog()) {
            ++m_figures.resultsNotCheckable;
            return;
        }
        if (!now.isEmpty())
            break;
        QThread::msleep(2);
    }
    if (now != p.later && handOffInFlight()) {
        ++m_figures.resultsNotCheckable;
        return;
    }
    ++m_figures.resultsCheckedLater;
    if (now != p.later) {
        mismatch(u"%1: after URL once answered \"%2\", expected \"%3\""_s.arg(p.input, now, p.later));
        return;
    }
    if (!p.laterInfo.isEmpty()) {
        // The designed lines; the verdict that follows them is not the peers' answer.
        const QString info = verdict::WithoutReviewLines(text(u"GetAfterInfo"_s));
        if (info != p.laterInfo && (drainLog() || handOffInFlight())) {
            --m_figures.resultsCheckedLater;
            ++m_figures.resultsNotCheckable;
        } else if (info != p.laterInfo) {
            mismatch(u"%1: after information once answered \"%2\", expected \"%3\""_s.arg(p.input, info,
                                                                                          p.laterInfo));
        }
    }
}

void Soak::convert(int index)
{
    const Plan p = plan(index);
    if (p.faulted)
        ++m_figures.faultsAsked;
    if (p.kind == Kind::Empty)
        ++m_figures.emptyInputs;
    else
        ++m_convertedInputs[p.input];
    const bool before = drainLog();
    const QDBusMessage reply = call(u"StartConv"_s, {p.input});
    ++m_figures.conversionsRun;
    if (reply.type() != QDBusMessage::ReplyMessage) {
        mismatch(u"%1: StartConv failed: %2"_s.arg(p.input, reply.errorMessage()));
        return;
    }
    if (p.kind != Kind::Empty)
        checkResult(p, before);
    // Now and then a picture download is let run to its end before the next conversion.
    if (p.kind == Kind::Picture && index % 4 == 0)
        QThread::msleep(20);
}

int Soak::settledDescriptors(int atMost)
{
    // Sockets of the last transfers close a moment after their answers.
    QDeadlineTimer deadline(kSettleMs);
    int count = int(openDescriptors(m_main.processId()).size());
    while (count > atMost && !deadline.hasExpired()) {
        QThread::msleep(50);
        count = int(openDescriptors(m_main.processId()).size());
    }
    return count;
}

SoakResult Soak::run()
{
    QElapsedTimer total;
    total.start();
    if (!m_home.isValid() || !m_busHome.isValid()) {
        m_result.setupError = u"cannot make a private home folder"_s;
        return m_result;
    }
    for (const QString& name : {u"H-Linvera"_s, u"H-LinveraHelper"_s}) {
        if (!QFileInfo(program(name)).isExecutable()) {
            m_result.setupError = program(name) + u" is not built"_s;
            return m_result;
        }
    }
    m_closed = closedPort();
    if (m_closed == 0 || !m_peer.startListening(m_closed)) {
        m_result.setupError = u"the loopback peers do not listen"_s;
        return m_result;
    }
    if (!startBus()) {
        m_result.setupError = u"cannot start a private session bus (dbus-daemon)"_s;
        return m_result;
    }
    if (!prepareHome()) {
        m_result.setupError = u"cannot prepare the private home and registry store"_s;
        return m_result;
    }
    m_log = std::make_unique<LogTail>(logFile());
    if (!startProgram()) {
        m_result.setupError = u"H-Linvera did not start and answer on the private bus"_s;
        return m_result;
    }
    print(u"H-Linvera runs as process %1; peers on 127.0.0.1:%2 and :%3, refused port %4"_s
              .arg(m_main.processId())
              .arg(m_peer.mainPort())
              .arg(m_peer.livePort())
              .arg(m_closed));

    const int conversions = std::max(1, m_options.conversions);
    const int secondStarts = std::max(0, m_options.secondStarts);
    m_figures.baselineAt = m_options.memoryBaselineAt > 0 ? std::min(m_options.memoryBaselineAt, conversions)
                                                          : std::max(1, std::min(1000, conversions / 5));
    const int warmUp = std::min(kWarmUp, m_figures.baselineAt);
    const int progressEvery = std::max(100, conversions / 10);

    for (int i = 0; i < conversions; ++i) {
        // Second starts spread over the conversions, one at a time.
        if (m_second)
            pumpHandOff(false);
        if (!m_second && m_figures.handOffsStarted < secondStarts &&
            qint64(m_figures.handOffsStarted) * conversions <= qint64(i) * secondStarts)
            startHandOff();
        convert(i);
        if (m_main.state() != QProcess::Running || m_main.waitForFinished(0))
            break;
        if (i + 1 == warmUp) {
            QThread::msleep(300);
            if (m_second)
                pumpHandOff(true);
            m_fdsAtStart = openDescriptors(m_main.processId());
            m_figures.fdsAtStart = int(m_fdsAtStart.size());
        }
        if (i + 1 == m_figures.baselineAt)
            m_figures.baselineRssMb = residentMb(m_main.processId());
        if ((i + 1) % progressEvery == 0) {
            print(u"  %1 conversions, %2 second starts, VmRSS %3 MB, %4 descriptors, %5 s"_s.arg(i + 1)
                      .arg(m_figures.handOffsStarted)
                      .arg(residentMb(m_main.processId()), 0, 'f', 1)
                      .arg(openDescriptors(m_main.processId()).size())
                      .arg(double(total.elapsed()) / 1000.0, 0, 'f', 1));
        }
    }
    // The second starts left over, one after another.
    while (m_main.state() == QProcess::Running && (m_second || m_figures.handOffsStarted < secondStarts)) {
        if (!m_second)
            startHandOff();
        pumpHandOff(true);
    }
    finish();
    m_figures.seconds = double(total.elapsed()) / 1000.0;
    return m_result;
}

void Soak::finish()
{
    QStringList& failures = m_result.failures;
    // What the last conversion left running (a probe, a download) ends well within this.
    QThread::msleep(1000);
    drainLog();

    m_figures.aliveAtEnd = m_main.state() == QProcess::Running && !m_main.waitForFinished(0) &&
                           call(u"getMainWindowState"_s).type() == QDBusMessage::ReplyMessage &&
                           call(u"isProcessing"_s).type() == QDBusMessage::ReplyMessage;
    if (!m_figures.aliveAtEnd) {
        failures.append(
            u"H-Linvera is not running or does not answer (exit code %1)"_s.arg(m_main.exitCode()));
        return;
    }
    m_figures.endRssMb = residentMb(m_main.processId());
    const double growth = m_figures.baselineRssMb > 0 ? (m_figures.endRssMb - m_figures.baselineRssMb) /
                                                            m_figures.baselineRssMb * 100.0
                                                      : 100.0;
    if (growth >= m_options.memoryGrowthGoalPercent)
        failures.append(u"resident memory grew %1 % (goal < %2 %)"_s.arg(growth, 0, 'f', 1)
                            .arg(m_options.memoryGrowthGoalPercent));

    m_figures.fdsAtEnd = settledDescriptors(m_figures.fdsAtStart);
    if (m_figures.fdsAtEnd > m_figures.fdsAtStart) {
        m_figures.fdsAdded = added(m_main.processId(), openDescriptors(m_main.processId()), m_fdsAtStart);
        failures.append(u"open descriptors %1 at the start, %2 at the end"_s.arg(m_figures.fdsAtStart)
                            .arg(m_figures.fdsAtEnd));
    }

    // The log: one line per conversion of a non-empty input, each handed-over URL at least once.
    drainLog();
    const QHash<QString, int>& counts = m_log->counts();
    for (auto it = m_convertedInputs.cbegin(); it != m_convertedInputs.cend(); ++it) {
        const int seen = counts.value(it.key());
        if (seen < it.value())
            m_figures.logMissing += it.value() - seen;
        else if (seen > it.value())
            m_figures.logDuplicates += seen - it.value();
    }
    int handOffExtra = 0;
    for (auto it = m_handedUrls.cbegin(); it != m_handedUrls.cend(); ++it) {
        const int seen = counts.value(it.key());
        if (seen == 0)
            ++m_figures.handOffsLost;
        else
            ++m_figures.handOffsSeen;
        if (seen > 1) {
            // The mailbox's designed race: a command written between the reader's clear and read
            // is handled twice.
            ++m_figures.handOffsSeenTwice;
            handOffExtra += seen - 1;
        }
    }
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        if (!m_convertedInputs.contains(it.key()) && !m_handedUrls.contains(it.key()))
            m_figures.logUnknownLines += it.value();
    }
    int expected = 0;
    for (int count : m_convertedInputs)
        expected += count;
    m_figures.logLinesExpected = expected + m_figures.handOffsSeen + handOffExtra;
    m_figures.logLines = m_log->lines();
    if (m_figures.logLines != m_figures.logLinesExpected || m_figures.logMissing || m_figures.logDuplicates ||
        m_figures.logUnknownLines) {
        failures.append(u"the log holds %1 lines for %2 conversions (%3 missing, %4 twice, %5 unknown)"_s
                            .arg(m_figures.logLines)
                            .arg(m_figures.logLinesExpected)
                            .arg(m_figures.logMissing)
                            .arg(m_figures.logDuplicates)
                            .arg(m_figures.logUnknownLines));
    }
    if (m_figures.handOffsLost > 0)
        failures.append(
            u"%1 of %2 handed-over URLs were lost"_s.arg(m_figures.handOffsLost).arg(m_handedUrls.size()));
    if (m_figures.secondStartFailures > 0)
        failures.append(
            u"%1 second starts did not end with exit code 0"_s.arg(m_figures.secondStartFailures));
    if (m_figures.resultMismatches > 0)
        failures.append(u"%1 results differed from the peers' answers"_s.arg(m_figures.resultMismatches));
    m_figures.handOffMedianMs = median(m_handOffMs);
    m_figures.handOffMaxMs =
        m_handOffMs.isEmpty() ? -1 : *std::max_element(m_handOffMs.begin(), m_handOffMs.end());
    m_figures.peerRequests = m_peer.requests();
    m_figures.peerFaults = m_peer.faultsServed();

    // Ends as a client would end it; a process with sanitizers reports its leaks on the way out.
    const qint64 helper = m_connection->interface()->servicePid(MailboxNames::service()).value();
    call(u"Quit"_s);
    if (!m_main.waitForFinished(30000)) {
        failures.append(u"H-Linvera did not end after Quit"_s);
        m_main.kill();
        m_main.waitForFinished(10000);
    } else {
        m_figures.quitExitCode = m_main.exitStatus() == QProcess::NormalExit ? m_main.exitCode() : -1;
        if (m_figures.quitExitCode != 0)
            failures.append(u"H-Linvera ended with exit code %1 after Quit"_s.arg(m_figures.quitExitCode));
    }
    // The mailbox server ends by itself once its last client has gone.
    if (helper > 0) {
        const QDeadlineTimer deadline(20000);
        while (!deadline.hasExpired() && QFile::exists(u"/proc/%1"_s.arg(helper)) &&
               m_connection->interface()->isServiceRegistered(MailboxNames::service()).value())
            QThread::msleep(50);
        if (m_connection->interface()->isServiceRegistered(MailboxNames::service()).value()) {
            failures.append(u"H-LinveraHelper still runs after H-Linvera ended"_s);
            ::kill(pid_t(helper), SIGKILL);
        }
    }
}

} // namespace

SoakResult runSoak(const SoakOptions& options)
{
    Soak soak(options);
    return soak.run();
}

QStringList describe(const SoakResult& result, const SoakOptions& options)
{
    const SoakFigures& f = result.figures;
    QStringList lines;
    if (!result.setupError.isEmpty()) {
        lines.append(u"soak could not run: "_s + result.setupError);
        return lines;
    }
    const double growth = f.baselineRssMb > 0 ? (f.endRssMb - f.baselineRssMb) / f.baselineRssMb * 100.0 : -1;
    lines.append(
        u"conversions: %1 through the automation interface (%2 of empty input), %3 with a fault asked for"_s
            .arg(f.conversionsRun)
            .arg(f.emptyInputs)
            .arg(f.faultsAsked));
    lines.append(u"loopback peers: %1 requests answered, %2 of them with a fault"_s.arg(f.peerRequests)
                     .arg(f.peerFaults));
    lines.append(
        u"results checked: %1 when StartConv returned, %2 once the probe answered, %3 overlapped by a "
        u"hand-off; mismatches: %4"_s.arg(f.resultsChecked)
            .arg(f.resultsCheckedLater)
            .arg(f.resultsNotCheckable)
            .arg(f.resultMismatches));
    for (const QString& sample : f.mismatchSamples)
        lines.append(u"  "_s + sample);
    lines.append(
        u"second starts: %1 started, %2 handed-over URLs converted, %3 lost, %4 handled twice, %5 did "
        u"not exit 0; hand-off to log line median %6 ms, max %7 ms"_s.arg(f.handOffsStarted)
            .arg(f.handOffsSeen)
            .arg(f.handOffsLost)
            .arg(f.handOffsSeenTwice)
            .arg(f.secondStartFailures)
            .arg(f.handOffMedianMs, 0, 'f', 1)
            .arg(f.handOffMaxMs, 0, 'f', 1));
    lines.append(u"alive and answering at the end: %1"_s.arg(f.aliveAtEnd ? u"yes"_s : u"NO"_s));
    lines.append(
        u"VmRSS after %1 conversions: %2 MB; at the end: %3 MB; growth %4 % (goal < %5 %)"_s.arg(f.baselineAt)
            .arg(f.baselineRssMb, 0, 'f', 1)
            .arg(f.endRssMb, 0, 'f', 1)
            .arg(growth, 0, 'f', 1)
            .arg(options.memoryGrowthGoalPercent));
    lines.append(u"open descriptors: %1 at the start, %2 at the end"_s.arg(f.fdsAtStart).arg(f.fdsAtEnd));
    if (!f.fdsAdded.isEmpty())
        lines.append(u"  added: "_s + f.fdsAdded.join(u", "_s));
    lines.append(u"log lines: %1, expected %2 (%3 missing, %4 extra, %5 unknown)"_s.arg(f.logLines)
                     .arg(f.logLinesExpected)
                     .arg(f.logMissing)
                     .arg(f.logDuplicates)
                     .arg(f.logUnknownLines));
    lines.append(u"exit code after Quit: %1"_s.arg(f.quitExitCode));
    lines.append(u"time: %1 s"_s.arg(f.seconds, 0, 'f', 1));
    if (result.failures.isEmpty()) {
        lines.append(u"all checks held"_s);
    } else {
        for (const QString& failure : result.failures)
            lines.append(u"FAILED: "_s + failure);
    }
    return lines;
}

} // namespace linvera::soak
