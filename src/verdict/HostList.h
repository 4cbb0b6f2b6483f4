#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <string>
#include <string_view>
#include <unordered_set>

namespace linvera::verdict {

/// The file names in the data folder.
inline constexpr QStringView kBlockListFileName = u"blocklist.txt";
inline constexpr QStringView kImitatedSitesFileName = u"imitated-sites.txt";

/// The cap of the rule files holds here too: a public hosts list of some 150,000 hosts is about 5 MB.
inline constexpr qint64 kMaxHostListBytes = 8 * 1024 * 1024;

/// How reading a host list went.
struct HostListRead
{
    enum class Problem { None, Missing, Unreadable, TooLarge, NotText };
    Problem problem = Problem::None;
    /// Hosts added (a host listed twice counts once).
    qsizetype added = 0;
    /// Lines that hold something but name no usable host.
    qsizetype skippedLines = 0;
};

/// The message for a host list that could not be read, headed by the file's name; empty when there is
/// nothing to tell (a missing file is a first run, skipped lines are only counted).
QString HostListMessage(QStringView fileName, const HostListRead& read);

/// A set of hosts in the form common block lists use: `0.0.0.0 host`, `127.0.0.1 host` (any address
/// first, several hosts after it), or a bare host per line; `#` starts a comment; lines end at LF, CR LF
/// or a lone CR. Hosts are kept in their `xn--` form, lower case, so that a lookup is one hash per label.
class HostSet
{
public:
    /// Adds the hosts of the file (UTF-8). A file that is not read adds nothing.
    HostListRead loadFile(const QString& path);
    /// Adds the hosts of the text.
    HostListRead loadBytes(QByteArrayView bytes);
    /// Adds one host in either form; false when it is no host name.
    bool add(QStringView host);

    /// The listed entry that is the host or its nearest listed parent domain (`ads.example` matches
    /// `x.ads.example`), or empty. `asciiHost` is the lower-case `xn--` form (`HostForms::ascii`).
    QString matchOf(QStringView asciiHost) const;
    bool matches(QStringView asciiHost) const { return !matchOf(asciiHost).isEmpty(); }

    /// The listed hosts, in no particular order.
    QStringList hosts() const;

    qsizetype size() const { return qsizetype(m_hosts.size()); }
    bool isEmpty() const { return m_hosts.empty(); }

private:
    struct Hash
    {
        using is_transparent = void;
        size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
    };
    bool addAscii(std::string_view host);
    std::unordered_set<std::string, Hash, std::equal_to<>> m_hosts;
};

/// How making a list file on first run went.
enum class ListFileOutcome { Created, Existed, Failed };

/// Makes the empty block list in the data folder, holding only a comment that says what the file is and
/// where such lists come from. An existing file (or a link, even a dangling one) at the name is left as
/// it is; a file half written is taken away again.
ListFileOutcome EnsureBlockListFile(const QString& dataFolder);
/// The same for the user's list of often-imitated sites, which adds to the shipped one.
ListFileOutcome EnsureImitatedSitesFile(const QString& dataFolder);

} // namespace linvera::verdict
