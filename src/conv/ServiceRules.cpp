#include "ServiceRules.h"

#include "AnsiCodec.h"
#include "AppInfo.h"
#include "AppPaths.h"
#include "FileAppend.h"
#include "MessageBoxes.h"
#include "RuleLiterals.h"
#include "UrlParts.h"

#include <QFile>
#include <QHash>
#include <QLoggingCategory>

using namespace Qt::StringLiterals;

namespace linvera {
namespace {

Q_LOGGING_CATEGORY(lcRules, "linvera.rules")

// What is wrong with a file's expressions is told for the first few; a file of thousands of broken
// lines would otherwise write thousands of warnings. The rest are counted in one warning at the end.
class BrokenExpressions
{
public:
    ~BrokenExpressions()
    {
        if (m_count > ShortLinkRules::kMaxLineMessages)
            qCWarning(lcRules) << "and" << m_count - ShortLinkRules::kMaxLineMessages
                               << "more expressions that do not compile";
    }
    bool tell() { return ++m_count <= ShortLinkRules::kMaxLineMessages; }

private:
    qsizetype m_count = 0;
};

RuleRegex compileRule(const QString& pattern, BrokenExpressions& broken)
{
    RuleRegex regex(pattern);
    if (!regex.isValid() && broken.tell())
        qCWarning(lcRules) << "skipping rule" << pattern << ":" << regex.errorString();
    return regex;
}

// Answer patterns repeat from rule to rule (services of one kind answer alike): each is compiled once.
RuleRegex compileAnswer(const QString& pattern, QHash<QString, RuleRegex>& compiled,
                        BrokenExpressions& broken)
{
    if (const auto it = compiled.constFind(pattern); it != compiled.cend())
        return *it;
    RuleRegex regex(pattern);
    if (!regex.isValid() && broken.tell())
        qCWarning(lcRules) << "rule answer pattern" << pattern << "does not compile:" << regex.errorString();
    compiled.insert(pattern, regex);
    return regex;
}

} // namespace

namespace {

// Calls `line` with each line of the text, a view into it: a list of copies of every line would
// hold the whole file a second time while the rules are made.
template <typename Line> void forEachRuleLine(QStringView text, Line&& line)
{
    qsizetype start = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        if (text[i] != u'\r' && text[i] != u'\n')
            continue;
        line(text.mid(start, i - start));
        if (text[i] == u'\r' && i + 1 < n && text[i + 1] == u'\n')
            ++i;
        start = i + 1;
    }
    if (start < n)
        line(text.mid(start));
}

qsizetype countRuleLines(QStringView text)
{
    qsizetype count = 0;
    forEachRuleLine(text, [&count](QStringView) { ++count; });
    return count;
}

} // namespace

QStringList SplitRuleLines(const QString& text)
{
    QStringList lines;
    forEachRuleLine(text, [&lines](QStringView line) { lines.append(line.toString()); });
    return lines;
}

RuleFileText ReadRuleFile(const QString& path)
{
    RuleFileText read;
    QByteArray bytes;
    switch (platform::ReadSmallFile(path, kMaxRuleFileBytes, bytes)) {
    case platform::ReadOutcome::Read:
        break;
    case platform::ReadOutcome::Missing:
        read.problem = RuleFileText::Problem::Missing;
        return read;
    case platform::ReadOutcome::Unreadable:
        read.problem = RuleFileText::Problem::Unreadable;
        return read;
    case platform::ReadOutcome::TooLarge:
        read.problem = RuleFileText::Problem::TooLarge;
        return read;
    }
    // No text file holds NUL bytes: this is a picture, an archive or a broken download.
    if (bytes.contains('\0')) {
        read.problem = RuleFileText::Problem::NotText;
        return read;
    }
    read.text = platform::AnsiCodec::decode(bytes, read.invalidBytes);
    return read;
}

QString RuleFileMessage(const QString& head, const RuleFileText& read)
{
    switch (read.problem) {
    case RuleFileText::Problem::Missing:
        return {}; // a first run without default files: nothing to tell
    case RuleFileText::Problem::Unreadable:
        return head + u"(ファイルを読めません)"_s;
    case RuleFileText::Problem::TooLarge:
        return head + u"(ファイルが大きすぎます。上限は"_s +
               QString::number(kMaxRuleFileBytes / (1024 * 1024)) + u"MBです)"_s;
    case RuleFileText::Problem::NotText:
        return head + u"(テキストファイルではありません)"_s;
    case RuleFileText::Problem::None:
        break;
    }
    return read.invalidBytes ? head + u"(文字コードの誤りがあります)"_s : QString();
}

void ShowRuleProblems(platform::MessageBoxes& boxes, const QStringList& problems)
{
    for (const QString& problem : problems)
        boxes.show(platform::MessageBoxes::Icon::Stop, AppTitle(), problem);
}

QStringList ShortLinkRules::LoadShortLinkRules(const QString& path)
{
    const RuleFileText read = ReadRuleFile(path);
    QStringList problems;
    if (const QString message = RuleFileMessage(u"tinyurls読み込みエラー"_s, read); !message.isEmpty())
        problems.append(message);
    problems += loadFromText(read.text);
    return problems;
}

void ShortLinkRules::LoadShortLinkRules(const QString& path, platform::MessageBoxes& boxes)
{
    ShowRuleProblems(boxes, LoadShortLinkRules(path));
}

void ShortLinkRules::loadFromText(const QString& text, platform::MessageBoxes& boxes)
{
    ShowRuleProblems(boxes, loadFromText(text));
}

QStringList ShortLinkRules::loadFromText(const QString& text)
{
    QStringList problems;
    m_rules.clear();
    m_rules.shrink_to_fit();
    const qsizetype lineCount = countRuleLines(text);
    m_rules.reserve(size_t(lineCount));
    std::vector<RuleCandidates::Needs> needs;
    needs.reserve(size_t(lineCount));
    QHash<QString, RuleRegex> answers;
    BrokenExpressions broken;
    qsizetype badLines = 0;
    forEachRuleLine(text, [&](QStringView line) {
        const qsizetype tab1 = line.indexOf(u'\t');
        const qsizetype tab2 = tab1 >= 0 ? line.indexOf(u'\t', tab1 + 1) : -1;
        if (tab2 < 0) {
            // One box per line, but a file of thousands of such lines must not bury the user.
            if (++badLines <= kMaxLineMessages)
                problems.append(u"tinyurls読み込みエラー"_s);
            return;
        }
        Rule rule;
        rule.matchText = TrimSpaces(line.left(tab1).toString());
        rule.templ = TrimSpaces(line.mid(tab1 + 1, tab2 - tab1 - 1).toString());
        rule.pattern = TrimSpaces(line.mid(tab2 + 1).toString());
        rule.isLocation = rule.templ == u"Location:"_s;
        if (!rule.isLocation)
            rule.regex = compileRule(rule.matchText, broken);
        if (!rule.pattern.isEmpty())
            rule.answer = compileAnswer(rule.pattern, answers, broken);
        RuleCandidates::Needs& need = needs.emplace_back();
        need.plainText = rule.matchText;
        need.hasExpression = rule.regex.isValid();
        if (need.hasExpression)
            need.expressionLiterals = RequiredLiterals(rule.matchText);
        m_rules.push_back(std::move(rule));
    });
    m_candidates = RuleCandidates(needs);
    if (badLines > kMaxLineMessages)
        problems.append(u"tinyurls読み込みエラー(ほかに"_s + QString::number(badLines - kMaxLineMessages) +
                        u"行)"_s);
    return problems;
}

ShortLinkRules::Match ShortLinkRules::MatchShortLinkRule(const QString& url,
                                                         const QDeadlineTimer& deadline) const
{
    // An input of spaces only arrives empty: no rule claims it, not even one that matches anything.
    if (url.isEmpty())
        return {};
    QStringList groups;
    // Checked once here rather than by PCRE2 on every expression.
    const bool validText = QStringView(url).isValidUtf16();
    Match result;
    m_candidates.firstMatch(url, [&](qsizetype index, bool expressionPossible) {
        const Rule& rule = m_rules[size_t(index)];
        // An empty match text is found in every text. A plain search: a matcher kept per rule cost
        // each rule a table of 256 bytes.
        if (url.contains(rule.matchText)) {
            result = {true, rule.templ, rule.pattern, rule.answer};
            return true;
        }
        if (expressionPossible && !rule.isLocation && validText) {
            if (rule.regex.matchValid(url, &groups)) {
                result = {true, RuleRegex::fillGroups(rule.templ, groups), QString(), RuleRegex()};
                return true;
            }
            // Each expression is bounded, but a list of thousands of costly ones is not.
            if (deadline.hasExpired()) {
                result.outOfTime = true;
                return true;
            }
        }
        return false;
    });
    return result;
}

QStringList PictureRules::LoadPictureRules(const QString& path)
{
    const RuleFileText read = ReadRuleFile(path);
    const QString message = RuleFileMessage(u"picturls読み込みエラー"_s, read);
    loadFromText(read.text);
    return message.isEmpty() ? QStringList() : QStringList{message};
}

void PictureRules::LoadPictureRules(const QString& path, platform::MessageBoxes* boxes)
{
    const QStringList problems = LoadPictureRules(path);
    if (boxes)
        ShowRuleProblems(*boxes, problems);
}

void PictureRules::loadFromText(const QString& text)
{
    m_rules.clear();
    m_rules.shrink_to_fit();
    m_rules.reserve(size_t(countRuleLines(text)));
    BrokenExpressions broken;
    forEachRuleLine(text, [&](QStringView line) {
        // A blank line would match every URL and turn every conversion into a picture preview.
        if (line.isEmpty())
            return;
        Rule rule;
        const qsizetype tab = line.indexOf(u'\t');
        rule.pattern = (tab >= 0 ? line.left(tab) : line).toString();
        rule.templ = tab >= 0 ? line.mid(tab + 1).toString() : QString();
        rule.regex = compileRule(rule.pattern, broken);
        m_rules.push_back(std::move(rule));
    });
}

bool PictureRules::MatchPictureRule(const QString& url, QString& pictureUrl, const QDeadlineTimer& deadline,
                                    bool* outOfTime) const
{
    pictureUrl.clear();
    if (outOfTime)
        *outOfTime = false;
    QStringList groups;
    for (const Rule& rule : m_rules) {
        if (rule.regex.match(url, &groups)) {
            pictureUrl = RuleRegex::fillGroups(rule.templ, groups);
            return true;
        }
        if (rule.regex.isValid() && deadline.hasExpired()) {
            if (outOfTime)
                *outOfTime = true;
            return false;
        }
    }
    return false;
}

bool IsLiveShortLink(const QString& url, const QString& liveShortDomain)
{
    return url.contains(liveShortDomain + u'/');
}

QString PreviewPicturePath(const QString& url, const QString& tempFolder)
{
    // No private folder: no preview file at all rather than one in the file system's root.
    if (tempFolder.isEmpty())
        return {};
    const QString ending = url.right(3).toLower();
    QString name = u"hvxlinvera.jpg"_s;
    if (ending == u"png"_s)
        name = u"hvxlinvera.png"_s;
    else if (ending == u"bmp"_s)
        name = u"hvxlinvera.bmp"_s;
    else if (ending == u"gif"_s)
        name = u"hvxlinvera.gif"_s;
    return platform::JoinPath(tempFolder, name);
}

} // namespace linvera
