#pragma once

#include "verdict/HostForms.h"
#include "verdict/HostList.h"

#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

namespace linvera::verdict {

/// How much a destination asks for care: nothing found, worth knowing, or likely not what it claims.
enum class VerdictLevel { Ok, Note, Warn };

/// One finding: a stable code for scripts (`mixed-script`, `blocked`, …) and its Japanese message.
struct VerdictReason
{
    QString code;
    QString message;
    VerdictLevel level = VerdictLevel::Note;
};

/// What is known about one destination.
struct Verdict
{
    /// False when there was no destination to judge (an empty after URL): nothing is shown.
    bool judged = false;
    VerdictLevel level = VerdictLevel::Ok;
    QList<VerdictReason> reasons;
    /// The destination's host in both forms; empty when it has none.
    HostForms host;

    bool hasReason(QStringView code) const;
};

/// Sites that lookalike hosts imitate: a shipped list, extended by the user's file. A host imitates a
/// site when ICU's confusable skeleton of the host (or of a parent domain) is the site's and the host is
/// not the site or one of its subdomains.
class ImitatedSites
{
public:
    /// Starts with the shipped list.
    ImitatedSites();
    static QStringList shippedSites();

    /// Adds the hosts of a file in the block list's form.
    HostListRead loadFile(const QString& path);
    bool add(QStringView host);

    /// The site the host imitates (Unicode form), or empty.
    QString imitatedBy(const HostForms& host) const;
    qsizetype size() const { return m_sites.size(); }

private:
    void addSkeletons(const QStringList& asciiHosts);
    HostSet m_sites;
    QHash<QString, QString> m_bySkeleton;
};

/// What a verdict is judged against; either list may be missing.
struct VerdictSources
{
    const HostSet* blockList = nullptr;
    const ImitatedSites* imitatedSites = nullptr;
};

/// Judges the destination of a conversion without any network access: the host's scripts (UTS #39
/// through ICU's spoof checker: restriction level, mixed numbers, invisible marks; a label wholly in a
/// script other than Latin that reads as a Latin word), a likeness to an often-imitated site, the block
/// list (the host or a parent domain), a name before "@" that is not the host, an unencrypted `http:`
/// address and an IP address as the host.
Verdict JudgeDestination(const QString& afterUrl, const VerdictSources& sources);

/// What of an address the verdict looks at: the scheme and the authority ("https://user@host:port"),
/// trimmed; an address without "scheme://" whole.
QString DestinationPart(const QString& afterUrl);

/// "ok", "note" or "warn".
QString LevelName(VerdictLevel level);

/// The verdict as one line for the information area and for `linvera`: "【警告】" or "【注意】" first
/// when flagged, then the findings; the host in both forms when it is internationalised. Empty when the
/// verdict was not judged.
QString VerdictLine(const Verdict& verdict);

/// The verdict for `linvera --json`: `level`, `reasons` ([{code, message}]), `host` and `asciiHost`.
QJsonObject VerdictJson(const Verdict& verdict);

/// Whether an information line is one the review adds (a verdict line or what tracker removal did),
/// and the text without those lines: for what compares the designed lines alone.
bool IsReviewLine(QStringView line);
QString WithoutReviewLines(const QString& text);
QStringList WithoutReviewLines(const QStringList& lines);

} // namespace linvera::verdict
