#include "verdict/HostList.h"

#include "platform/FileAppend.h"
#include "verdict/HostForms.h"

#include <QByteArray>
#include <QDir>
#include <QFile>

#include <array>

#include <fcntl.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace linvera::verdict {
namespace {

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

bool isAsciiLetterOrDigit(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

// The first column of a hosts line: an address the list points the host to.
bool isAddress(std::string_view token)
{
    if (token.find(':') != std::string_view::npos)
        return true;
    for (const char c : token) {
        if (!(c == '.' || (c >= '0' && c <= '9')))
            return false;
    }
    return true;
}

// Names every hosts file starts with; blocking them would flag the machine itself.
bool isHostsFileHeaderName(std::string_view host)
{
    static constexpr std::array<std::string_view, 12> names = {
        "localhost",     "localhost.localdomain", "local",        "broadcasthost",
        "ip6-localhost", "ip6-loopback",          "ip6-localnet", "ip6-mcastprefix",
        "ip6-allnodes",  "ip6-allrouters",        "ip6-allhosts", "0.0.0.0",
    };
    for (const std::string_view name : names) {
        if (host == name)
            return true;
    }
    return false;
}

// Lower-case letters, digits, "-" and "_" in labels of 1 to 63, at most 253 in all.
bool isAsciiHostName(std::string_view host)
{
    if (host.empty() || host.size() > 253)
        return false;
    size_t label = 0;
    for (const char c : host) {
        if (c == '.') {
            if (label == 0)
                return false;
            label = 0;
            continue;
        }
        if (!(isAsciiLetterOrDigit(c) || c == '-' || c == '_') || ++label > 63)
            return false;
    }
    return label > 0;
}

// Calls `line` with each line of the bytes: a line ends at LF, CR LF or a lone CR.
template <typename Line> void forEachLine(QByteArrayView bytes, Line&& line)
{
    const char* data = bytes.data();
    const qsizetype n = bytes.size();
    qsizetype start = 0;
    for (qsizetype i = 0; i < n; ++i) {
        if (data[i] != '\r' && data[i] != '\n')
            continue;
        line(std::string_view(data + start, size_t(i - start)));
        if (data[i] == '\r' && i + 1 < n && data[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < n)
        line(std::string_view(data + start, size_t(n - start)));
}

// The host a block-list token names: the forms of adblock lists ("||host^") and wildcards ("*.host")
// are taken as the host itself, since a parent domain matches its subdomains anyway.
std::string_view hostOfToken(std::string_view token)
{
    if (token.starts_with("||"))
        token.remove_prefix(2);
    if (token.ends_with('^'))
        token.remove_suffix(1);
    if (token.starts_with("*."))
        token.remove_prefix(2);
    if (token.ends_with('.'))
        token.remove_suffix(1);
    return token;
}

ListFileOutcome ensureListFile(const QString& dataFolder, QStringView name, QByteArrayView text)
{
    const QString path = QDir(dataFolder).filePath(name.toString());
    // O_EXCL with O_CREAT never follows a link at the name and never opens a file that exists.
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0)
        return errno == EEXIST ? ListFileOutcome::Existed : ListFileOutcome::Failed;
    qsizetype written = 0;
    while (written < text.size()) {
        const ssize_t n = ::write(fd, text.data() + written, size_t(text.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        written += n;
    }
    const bool closed = ::close(fd) == 0;
    if (written < text.size() || !closed) {
        // Ours alone, made a moment ago: a half comment would stay there for good otherwise.
        ::unlink(QFile::encodeName(path).constData());
        return ListFileOutcome::Failed;
    }
    return ListFileOutcome::Created;
}

} // namespace

QString HostListMessage(QStringView fileName, const HostListRead& read)
{
    const QString head = fileName.toString() + u"読み込みエラー"_s;
    switch (read.problem) {
    case HostListRead::Problem::None:
    case HostListRead::Problem::Missing:
        return {};
    case HostListRead::Problem::Unreadable:
        return head + u"(ファイルを読めません)"_s;
    case HostListRead::Problem::TooLarge:
        return head + u"(ファイルが大きすぎます。上限は"_s +
               QString::number(kMaxHostListBytes / (1024 * 1024)) + u"MBです)"_s;
    case HostListRead::Problem::NotText:
        return head + u"(テキストファイルではありません)"_s;
    }
    return {};
}

HostListRead HostSet::loadFile(const QString& path)
{
    HostListRead read;
    QByteArray bytes;
    switch (platform::ReadSmallFile(path, kMaxHostListBytes, bytes)) {
    case platform::ReadOutcome::Read:
        break;
    case platform::ReadOutcome::Missing:
        read.problem = HostListRead::Problem::Missing;
        return read;
    case platform::ReadOutcome::Unreadable:
        read.problem = HostListRead::Problem::Unreadable;
        return read;
    case platform::ReadOutcome::TooLarge:
        read.problem = HostListRead::Problem::TooLarge;
        return read;
    }
    // No text file holds NUL bytes: this is a picture, an archive or a broken download.
    if (bytes.contains('\0')) {
        read.problem = HostListRead::Problem::NotText;
        return read;
    }
    return loadBytes(bytes);
}

HostListRead HostSet::loadBytes(QByteArrayView bytes)
{
    HostListRead read;
    const size_t before = m_hosts.size();
    std::string lowered;
    forEachLine(bytes, [&](std::string_view line) {
        if (const size_t hash = line.find('#'); hash != std::string_view::npos)
            line = line.substr(0, hash);
        bool first = true;
        bool afterAddress = false;
        bool named = false;
        bool anyToken = false;
        size_t i = 0;
        while (i < line.size()) {
            while (i < line.size() && isSpace(line[i]))
                ++i;
            const size_t start = i;
            while (i < line.size() && !isSpace(line[i]))
                ++i;
            if (start == i)
                break;
            const std::string_view token = line.substr(start, i - start);
            anyToken = true;
            if (first && isAddress(token)) {
                first = false;
                afterAddress = true;
                continue;
            }
            first = false;
            const std::string_view host = hostOfToken(token);
            lowered.assign(host);
            for (char& c : lowered) {
                if (c >= 'A' && c <= 'Z')
                    c = char(c - 'A' + 'a');
            }
            if (isHostsFileHeaderName(lowered) || (afterAddress && isAddress(lowered))) {
                named = true;
                continue;
            }
            if (addAscii(lowered)) {
                named = true;
                continue;
            }
            // Not plain ASCII: an internationalised name written in Unicode.
            if (add(QString::fromUtf8(host.data(), qsizetype(host.size()))))
                named = true;
        }
        if (anyToken && !named)
            ++read.skippedLines;
    });
    read.added = qsizetype(m_hosts.size() - before);
    return read;
}

bool HostSet::add(QStringView host)
{
    const HostForms forms = HostInBothForms(host.toString());
    if (!forms.valid)
        return false;
    const QByteArray ascii = forms.ascii.toLatin1();
    return addAscii(std::string_view(ascii.constData(), size_t(ascii.size())));
}

bool HostSet::addAscii(std::string_view host)
{
    if (!isAsciiHostName(host))
        return false;
    m_hosts.emplace(host);
    return true;
}

QString HostSet::matchOf(QStringView asciiHost) const
{
    if (m_hosts.empty() || asciiHost.isEmpty() || asciiHost.size() > 253)
        return {};
    // Lower-case ASCII is all a listed host holds; a name with anything else matches nothing.
    std::array<char, 256> buffer{};
    qsizetype n = asciiHost.size();
    if (asciiHost.endsWith(u'.'))
        --n;
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = asciiHost[i].unicode();
        if (c >= 0x80)
            return {};
        buffer[size_t(i)] = (c >= u'A' && c <= u'Z') ? char(c - u'A' + u'a') : char(c);
    }
    std::string_view name(buffer.data(), size_t(n));
    for (;;) {
        if (const auto it = m_hosts.find(name); it != m_hosts.end())
            return QString::fromLatin1(it->data(), qsizetype(it->size()));
        const size_t dot = name.find('.');
        if (dot == std::string_view::npos)
            return {};
        name.remove_prefix(dot + 1);
    }
}

QStringList HostSet::hosts() const
{
    QStringList list;
    list.reserve(qsizetype(m_hosts.size()));
    for (const std::string& host : m_hosts)
        list.append(QString::fromLatin1(host.data(), qsizetype(host.size())));
    return list;
}

ListFileOutcome EnsureBlockListFile(const QString& dataFolder)
{
    const QString text =
        u"# Kemo (H-Linvera) のブロックリスト / block list\n"
        u"#\n"
        u"# 変換した行き先のホスト、またはその親ドメインがここにあると、結果に【警告】が出ます。\n"
        u"# 書き方は hosts ファイルと同じです。1行に1つ:\n"
        u"#   0.0.0.0 ads.example\n"
        u"#   127.0.0.1 tracker.example\n"
        u"#   phishing.example\n"
        u"# 「#」から行末まではコメントです。ads.example と書けば x.ads.example も対象です。\n"
        u"# 公開されている hosts 形式のリストをこのファイルに写して使えます。たとえば:\n"
        u"#   StevenBlack/hosts      https://github.com/StevenBlack/hosts\n"
        u"#   URLhaus (abuse.ch)     https://urlhaus.abuse.ch/downloads/hostfile/\n"
        u"#   Phishing Army          https://phishing.army/\n"
        u"# 8 MB を超えるファイルは読みません。プログラムは何もダウンロードしません。\n"
        u"#\n"
        u"# A destination whose host (or a parent domain) is listed here is flagged. One host a line, in\n"
        u"# hosts-file form (\"0.0.0.0 host\", \"127.0.0.1 host\") or bare; \"#\" starts a comment. Copy a\n"
        u"# public hosts-format list (such as those above) into this file; files over 8 MB are not read.\n"_s;
    return ensureListFile(dataFolder, kBlockListFileName, text.toUtf8());
}

ListFileOutcome EnsureImitatedSitesFile(const QString& dataFolder)
{
    const QString text =
        u"# Kemo (H-Linvera) のなりすまされやすいサイトの一覧 / often-imitated sites\n"
        u"#\n"
        u"# 行き先のホスト名がここにあるサイト（と組み込みの一覧のサイト）と見分けにくい文字で\n"
        u"# 書かれていると、結果に【警告】が出ます。1行に1つ、ホスト名を書きます（例: mybank.example）。\n"
        u"# 「#」から行末まではコメントです。\n"
        u"#\n"
        u"# A destination whose host looks like one of these sites (or of the shipped list) but is not it\n"
        u"# is flagged. One host a line; \"#\" starts a comment.\n"_s;
    return ensureListFile(dataFolder, kImitatedSitesFileName, text.toUtf8());
}

} // namespace linvera::verdict
