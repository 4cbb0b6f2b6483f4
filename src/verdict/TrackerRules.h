#pragma once

#include "verdict/CaselessPattern.h"

#include <QByteArrayView>
#include <QList>
#include <QRegularExpression>
#include <QString>
#include <QStringView>

namespace linvera::verdict {

/// The rules file in the data folder (the JSON form of the ClearURLs project's list).
inline constexpr QStringView kTrackerRulesFileName = u"trackers.json";
/// The community list is some 200 KB; the rule files' cap is far above it.
inline constexpr qint64 kMaxTrackerRulesBytes = 8 * 1024 * 1024;
/// A redirection may wrap another; past this depth the address is left as the last unwrap gave it.
inline constexpr int kMaxUnwraps = 5;

/// How reading the rules went. One message tells all of it (`TrackerRulesMessage`).
struct TrackerRulesRead
{
    enum class Problem { None, Missing, Unreadable, TooLarge, NotJson, NotRules };
    Problem problem = Problem::None;
    /// Providers taken.
    qsizetype providers = 0;
    /// Expressions that do not compile, and providers without a usable `urlPattern`: left out.
    qsizetype brokenPatterns = 0;
    /// The JSON parser's words for a file that is not JSON.
    QString detail;
};

/// The one message for a rules file that was refused or had parts left out; empty when there is
/// nothing to tell (a missing file is a first run).
QString TrackerRulesMessage(const TrackerRulesRead& read);

/// An address with its trackers removed.
struct StrippedUrl
{
    QString url;
    /// Query parameters and raw-rule matches taken out.
    int removed = 0;
    /// A redirection gave the address wrapped inside the original one.
    bool unwrapped = false;
    bool changed() const { return removed > 0 || unwrapped; }
};

/// Tracking-parameter rules: providers with `urlPattern`, `rules` (parameter names), `rawRules`
/// (expressions cut out of the address), `exceptions` and `redirections` (group 1 is the real address,
/// percent-encoded). Expressions are JavaScript's as the list writes them, matched ignoring case.
class TrackerRules
{
public:
    /// Replaces the rules by the file's. A file that is not read leaves no rules.
    TrackerRulesRead loadFile(const QString& path);
    TrackerRulesRead loadJson(QByteArrayView json);

    /// The address without the parameters the rules name; every other character stays as it was
    /// (order, percent-encoding, empty values, "+", ";", the fragment). A redirection is unwrapped first
    /// and the real address stripped in turn; only an `http:` or `https:` address is taken as real.
    StrippedUrl strip(const QString& url) const;

    qsizetype size() const { return m_providers.size(); }

private:
    struct Provider
    {
        CaselessPattern urlPattern;
        /// ".*" and the like: every address is the provider's.
        bool everyAddress = false;
        /// The pattern is one branch of m_anyPattern.
        bool inAnyPattern = false;
        /// The parameter names in one expression, anchored at both ends; no pattern when there are none.
        CaselessPattern parameters;
        QList<QRegularExpression> rawRules;
        QList<CaselessPattern> exceptions;
        QList<QRegularExpression> redirections;
    };
    QList<Provider> m_providers;
    /// The providers' patterns as one expression (no pattern when they cannot be joined): an address
    /// it does not match is none of theirs, which spares a match per provider (a community list has
    /// hundreds).
    CaselessPattern m_anyPattern;
};

/// The information-area line for removed parameters, or empty when none were removed.
QString TrackerLine(const StrippedUrl& stripped);

} // namespace linvera::verdict
