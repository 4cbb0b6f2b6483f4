#include "verdict/DestinationCheck.h"

#include <QDir>

namespace linvera::verdict {

QStringList DestinationCheck::load(const QString& dataFolder)
{
    const QDir folder(dataFolder);
    QStringList messages;
    EnsureBlockListFile(dataFolder);
    EnsureImitatedSitesFile(dataFolder);

    m_blockList = HostSet();
    const HostListRead blocked = m_blockList.loadFile(folder.filePath(kBlockListFileName.toString()));
    if (const QString text = HostListMessage(kBlockListFileName, blocked); !text.isEmpty())
        messages.append(text);

    m_sites = ImitatedSites();
    const HostListRead sites = m_sites.loadFile(folder.filePath(kImitatedSitesFileName.toString()));
    if (const QString text = HostListMessage(kImitatedSitesFileName, sites); !text.isEmpty())
        messages.append(text);

    const TrackerRulesRead rules = m_trackers.loadFile(folder.filePath(kTrackerRulesFileName.toString()));
    if (const QString text = TrackerRulesMessage(rules); !text.isEmpty())
        messages.append(text);
    return messages;
}

DestinationCheck::Review DestinationCheck::review(const QString& afterUrl, bool stripTrackers) const
{
    Review review;
    review.afterUrl = afterUrl;
    if (afterUrl.trimmed().isEmpty())
        return review;
    if (stripTrackers) {
        review.stripped = m_trackers.strip(afterUrl);
        review.afterUrl = review.stripped.url;
        if (const QString line = TrackerLine(review.stripped); !line.isEmpty())
            review.infoLines.append(line);
    }
    review.verdict = JudgeDestination(review.afterUrl, {&m_blockList, &m_sites});
    review.infoLines.append(VerdictLine(review.verdict));
    return review;
}

} // namespace linvera::verdict
