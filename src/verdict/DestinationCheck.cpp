#include "verdict/DestinationCheck.h"

#include <QDir>

namespace linvera::verdict {
namespace {

// More sites than a long list of addresses visits; past it the kept verdicts start again.
constexpr qsizetype kKeptVerdicts = 1024;

} // namespace

QStringList DestinationCheck::load(const QString& dataFolder)
{
    const QDir folder(dataFolder);
    QStringList messages;
    EnsureBlockListFile(dataFolder);
    EnsureImitatedSitesFile(dataFolder);

    m_judged.clear();
    // A fresh object already holds the shipped sites; building them is the costly part of a start.
    if (m_loaded) {
        m_blockList = HostSet();
        m_sites = ImitatedSites();
    }
    m_loaded = true;
    const HostListRead blocked = m_blockList.loadFile(folder.filePath(kBlockListFileName.toString()));
    if (const QString text = HostListMessage(kBlockListFileName, blocked); !text.isEmpty())
        messages.append(text);

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
    const Judgement& judged = judge(review.afterUrl);
    review.verdict = judged.verdict;
    review.infoLines.append(judged.line);
    return review;
}

const DestinationCheck::Judgement& DestinationCheck::judge(const QString& url) const
{
    const QString destination = DestinationPart(url);
    if (const auto it = m_judged.constFind(destination); it != m_judged.cend())
        return *it;
    if (m_judged.size() >= kKeptVerdicts)
        m_judged.clear();
    Judgement judged;
    judged.verdict = JudgeDestination(destination, {&m_blockList, &m_sites});
    judged.line = VerdictLine(judged.verdict);
    return *m_judged.insert(destination, std::move(judged));
}

} // namespace linvera::verdict
