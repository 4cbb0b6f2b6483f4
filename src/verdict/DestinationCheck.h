#pragma once

#include "verdict/HostList.h"
#include "verdict/TrackerRules.h"
#include "verdict/Verdict.h"

#include <QHash>
#include <QString>
#include <QStringList>

namespace linvera::verdict {

/// The verdict and tracker removal as the engine and the front ends use them: the lists are read once
/// at start-up, then every after URL goes through `review`. The verdicts of recent destinations are
/// kept, so one object serves one thread.
class DestinationCheck
{
public:
    /// Reads `blocklist.txt`, `imitated-sites.txt` and `trackers.json` from the data folder, making the
    /// first two (a comment only) when missing. Returns the messages to show once, one line each; none
    /// when all is well or the files are simply not there yet.
    QStringList load(const QString& dataFolder);

    struct Review
    {
        /// The after URL to show, copy and log: stripped when asked, else as given.
        QString afterUrl;
        StrippedUrl stripped;
        Verdict verdict;
        /// For the information area after the designed lines: what stripping did (when it did
        /// anything), then the verdict.
        QStringList infoLines;
    };

    /// Strips the trackers of the URL when `stripTrackers` (the setting "追跡用パラメータを取り除く")
    /// and judges what is left. An empty URL gives no lines.
    Review review(const QString& afterUrl, bool stripTrackers) const;

    const HostSet& blockList() const { return m_blockList; }
    const ImitatedSites& imitatedSites() const { return m_sites; }
    const TrackerRules& trackerRules() const { return m_trackers; }

    struct Judgement
    {
        Verdict verdict;
        /// The verdict's line for the information area; empty when there was nothing to judge.
        QString line;
    };
    /// The verdict of an address without stripping it. A verdict depends on the scheme and the
    /// authority alone, so a list of addresses of one site is judged once. Valid until the next call.
    const Judgement& judge(const QString& url) const;

private:
    mutable QHash<QString, Judgement> m_judged;
    bool m_loaded = false;
    HostSet m_blockList;
    ImitatedSites m_sites;
    TrackerRules m_trackers;
};

} // namespace linvera::verdict
