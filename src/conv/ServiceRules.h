#pragma once

#include "RuleCandidates.h"
#include "RuleRegex.h"

#include <QString>
#include <QStringMatcher>

#include <vector>

namespace linvera {
namespace platform {
class MessageBoxes;
}

/// Splits a rule file's text into lines: a line ends at CR LF or a lone CR; a lone LF stays in the line.
QStringList SplitRuleLines(const QString& text);

/// Reads a rule file through the ANSI code page. A missing file reads as no text.
QString ReadRuleFile(const QString& path);

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
        QStringMatcher matcher;
        bool isLocation = false;
    };

    struct Match
    {
        bool matched = false;
        QString templ;
        QString pattern;
        /// `pattern` compiled (shared with the rule); invalid when the pattern is empty or broken.
        RuleRegex answer;
    };

    /// Replaces the rules by the file's. Each line without two TABs is skipped after the message
    /// "tinyurls読み込みエラー". Columns lose their leading and trailing spaces (spaces only). An expression
    /// in the first or the third column that does not compile is reported once, here.
    void LoadShortLinkRules(const QString& path, platform::MessageBoxes& boxes);
    /// The same from text already read.
    void loadFromText(const QString& text, platform::MessageBoxes& boxes);

    /// First rule whose match text the URL contains, or whose expression matches it (then the template's
    /// group placeholders are filled and the pattern is empty). Only rules that can match are tried: those
    /// whose match text or whose expression's required literals the URL holds.
    Match MatchShortLinkRule(const QString& url) const;

    qsizetype size() const { return qsizetype(m_rules.size()); }
    const Rule& at(qsizetype index) const { return m_rules[size_t(index)]; }

private:
    std::vector<Rule> m_rules;
    RuleCandidates m_candidates;
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

    void LoadPictureRules(const QString& path);
    void loadFromText(const QString& text);

    /// The picture URL built by the first rule that matches, or an empty text.
    bool MatchPictureRule(const QString& url, QString& pictureUrl) const;

    qsizetype size() const { return qsizetype(m_rules.size()); }
    const Rule& at(qsizetype index) const { return m_rules[size_t(index)]; }

private:
    std::vector<Rule> m_rules;
};

/// True when the URL holds the live-video short domain followed by "/".
bool IsLiveShortLink(const QString& url, const QString& liveShortDomain);

/// The preview file for a picture page URL: "hvxlinvera.png", ".bmp", ".gif" or ".jpg" by the URL's
/// last three letters, in the temporary folder.
QString PreviewPicturePath(const QString& url, const QString& tempFolder);

} // namespace linvera
