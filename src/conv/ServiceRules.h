#pragma once

#include "conv/RuleCandidates.h"
#include "conv/RuleRegex.h"

#include <QDeadlineTimer>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <unordered_map>
#include <vector>

namespace linvera {
namespace platform {
class MessageBoxes;
}

/// Splits a rule file's text into lines: a line ends at CR LF, a lone CR or a lone LF (files written on
/// Linux end their lines with LF alone).
QStringList SplitRuleLines(const QString& text);

/// A rule file lists a few hundred services at most; anything far larger is not a rule file, and is
/// refused before it is read rather than held in memory whole.
inline constexpr qint64 kMaxRuleFileBytes = 8 * 1024 * 1024;

/// A rule file as read, and what kept it from being read as one.
struct RuleFileText
{
    enum class Problem { None, Missing, Unreadable, TooLarge, NotText };
    QString text;
    Problem problem = Problem::None;
    /// Some bytes were not valid in the ANSI code page (they read as U+FFFD).
    bool invalidBytes = false;
};

/// Reads a rule file through the ANSI code page. A missing, unreadable or too large file, or one
/// holding NUL bytes (not a text file), reads as no text with its problem set.
RuleFileText ReadRuleFile(const QString& path);

/// The message for a rule file that was refused or holds invalid bytes, headed by `head`
/// ("tinyurls読み込みエラー"); empty when there is nothing to tell.
QString RuleFileMessage(const QString& head, const RuleFileText& read);

/// The compiled expressions of a rule list, made when a rule is first tried. Only the rules a URL
/// reaches are compiled, and a list tried over and over keeps at most kMaxKept of them.
class RuleExpressions
{
public:
    static constexpr qsizetype kMaxKept = 4096;
    /// The expression of rule `index`, whose pattern is known to compile.
    const RuleRegex& of(qsizetype index, QStringView pattern);
    void clear() { m_kept.clear(); }

private:
    std::unordered_map<qsizetype, RuleRegex> m_kept;
};

/// Shows what loading a rule list reported: one box each, in order, with the stop icon.
void ShowRuleProblems(platform::MessageBoxes& boxes, const QStringList& problems);

/// The short-link services of "tinyurls.txt": match text, template ("Location:" or a URL with "($)" or
/// "(1)", "(2)", …) and the answer pattern of a service API.
class ShortLinkRules
{
public:
    struct Rule
    {
        QString matchText;
        QString templ;
        QString pattern;
        /// The match text as an expression; only compiled for rules that are not "Location:".
        RuleRegex regex;
        /// The answer pattern, compiled once when it is not empty.
        RuleRegex answer;
        bool isLocation = false;
    };

    struct Match
    {
        bool matched = false;
        QString templ;
        QString pattern;
        /// `pattern` compiled (shared with the rule); invalid when the pattern is empty or broken.
        RuleRegex answer;
        /// The deadline passed before a rule matched: the rules after it were not tried.
        bool outOfTime = false;
    };

    /// Replaces the rules by the file's. Each line without two TABs is skipped after the message
    /// "tinyurls読み込みエラー" (for the first kMaxLineMessages such lines; one more message counts the
    /// rest). Columns lose their leading and trailing spaces (spaces only). An expression in the first
    /// or the third column that does not compile is warned of once, here (the first kMaxLineMessages
    /// of them; one more warning counts the rest). A file that is not a rule
    /// file (too large, not text) leaves the list empty after one message.
    /// Returns the messages, in order, for the caller to show (stop icon).
    QStringList LoadShortLinkRules(const QString& path);
    static constexpr int kMaxLineMessages = 10;
    /// The same from text already read.
    QStringList loadFromText(const QString& text);
    /// The same, showing the messages at once.
    void LoadShortLinkRules(const QString& path, platform::MessageBoxes& boxes);
    void loadFromText(const QString& text, platform::MessageBoxes& boxes);

    /// First rule whose match text the URL contains, or whose expression matches it (then the template's
    /// group placeholders are filled and the pattern is empty). Only rules that can match are tried: those
    /// whose match text or whose expression's required literals the URL holds. Once `deadline` has passed
    /// no further expression is tried: no match, with `outOfTime` set.
    Match MatchShortLinkRule(const QString& url,
                             const QDeadlineTimer& deadline = QDeadlineTimer(QDeadlineTimer::Forever)) const;

    qsizetype size() const { return qsizetype(m_slots.size()); }
    /// A copy of one rule, made when asked.
    Rule at(qsizetype index) const;

private:
    // Where a rule's columns are in the file's text. The rules keep that text once: a string and an
    // expression object per rule made a list of 200,000 rules take sixteen times its file.
    struct Slot
    {
        uint32_t matchBegin = 0;
        uint32_t matchSize = 0;
        uint32_t templBegin = 0;
        uint32_t templSize = 0;
        uint32_t patternBegin = 0;
        uint32_t patternSize = 0;
        /// Index in m_answers; -1 without an answer pattern.
        int32_t answer = -1;
        bool isLocation = false;
        /// The match text compiles as an expression (checked at load).
        bool hasExpression = false;
    };
    QStringView text(uint32_t begin, uint32_t size) const { return QStringView(m_text).mid(begin, size); }

    QString m_text;
    std::vector<Slot> m_slots;
    std::vector<RuleRegex> m_answers;
    RuleCandidates m_candidates;
    mutable RuleExpressions m_expressions;
};

/// The picture sites of "picturls.txt": an expression over the page URL and the picture URL template.
class PictureRules
{
public:
    struct Rule
    {
        QString pattern;
        QString templ;
        RuleRegex regex;
    };

    /// Replaces the rules by the file's; lines are never rejected (expressions that do not compile are
    /// warned of as for short-link rules). A file that is not a rule file
    /// (too large, not text) leaves the list empty, with one message when `boxes` is given.
    /// Returns the message, when there is one, for the caller to show (stop icon).
    QStringList LoadPictureRules(const QString& path);
    /// The same, showing the message at once when `boxes` is given.
    void LoadPictureRules(const QString& path, platform::MessageBoxes* boxes);
    void loadFromText(const QString& text);

    /// The picture URL built by the first rule that matches, or an empty text. Once `deadline` has passed
    /// no further rule is tried: no match, with `outOfTime` set.
    bool MatchPictureRule(const QString& url, QString& pictureUrl,
                          const QDeadlineTimer& deadline = QDeadlineTimer(QDeadlineTimer::Forever),
                          bool* outOfTime = nullptr) const;

    qsizetype size() const { return qsizetype(m_slots.size()); }
    /// A copy of one rule, made when asked.
    Rule at(qsizetype index) const;

private:
    // Where a rule's columns are in the file's text (see ShortLinkRules).
    struct Slot
    {
        uint32_t patternBegin = 0;
        uint32_t patternSize = 0;
        uint32_t templBegin = 0;
        uint32_t templSize = 0;
        /// The pattern compiles (checked at load).
        bool valid = false;
    };
    QStringView text(uint32_t begin, uint32_t size) const { return QStringView(m_text).mid(begin, size); }

    QString m_text;
    std::vector<Slot> m_slots;
    mutable RuleExpressions m_expressions;
};

/// True when the URL holds the live-video short domain followed by "/".
bool IsLiveShortLink(const QString& url, const QString& liveShortDomain);

/// The preview file for a picture page URL: "hvxlinvera.png", ".bmp", ".gif" or ".jpg" by the URL's
/// last three letters, in the temporary folder.
QString PreviewPicturePath(const QString& url, const QString& tempFolder);

} // namespace linvera
