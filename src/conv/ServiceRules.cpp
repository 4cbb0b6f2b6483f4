#include "conv/ServiceRules.h"

#include "conv/RuleLiterals.h"
#include "conv/UrlParts.h"
#include "platform/AnsiCodec.h"
#include "platform/AppInfo.h"
#include "platform/AppPaths.h"
#include "platform/FileAppend.h"
#include "platform/MessageBoxes.h"

#include <QFile>
#include <QHash>
#include <QLoggingCategory>

#include <limits>
#include <tuple>

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

bool checkRule(const QString& pattern, BrokenExpressions& broken)
{
    QString error;
    const bool compiles = RuleRegex::compiles(pattern, &error);
    if (!compiles && broken.tell())
        qCWarning(lcRules) << "skipping rule" << pattern << ":" << error;
    return compiles;
}

// A column without its leading and trailing spaces (spaces only), as offsets into the text.
std::pair<uint32_t, uint32_t> trimmedColumn(QStringView column, qsizetype offset)
{
    qsizetype start = 0;
    qsizetype end = column.size();
    while (start < end && column[start] == u' ')
        ++start;
    while (end > start && column[end - 1] == u' ')
        --end;
    return {uint32_t(offset + start), uint32_t(end - start)};
}

// Answer patterns repeat from rule to rule (services of one kind answer alike): each is compiled once.
int32_t compileAnswer(const QString& pattern, QHash<QString, int32_t>& known, std::vector<RuleRegex>& answers,
                      BrokenExpressions& broken)
{
    if (const auto it = known.constFind(pattern); it != known.cend())
        return *it;
    RuleRegex regex(pattern);
    if (!regex.isValid() && broken.tell())
        qCWarning(lcRules) << "rule answer pattern" << pattern << "does not compile:" << regex.errorString();
    const auto index = int32_t(answers.size());
    answers.push_back(regex);
    known.insert(pattern, index);
    return index;
}

} // namespace

namespace {

// Calls `line` with each line of the text, a view into it, and where it starts: a list of copies of
// every line would hold the whole file a second time while the rules are made.
template <typename Line> void forEachRuleLine(QStringView text, Line&& line)
{
    qsizetype start = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        if (text[i] != u'\r' && text[i] != u'\n')
            continue;
        line(text.mid(start, i - start), start);
        if (text[i] == u'\r' && i + 1 < n && text[i + 1] == u'\n')
            ++i;
        start = i + 1;
    }
    if (start < n)
        line(text.mid(start), start);
}

qsizetype countRuleLines(QStringView text)
{
    qsizetype count = 0;
    forEachRuleLine(text, [&count](QStringView, qsizetype) { ++count; });
    return count;
}

} // namespace

QStringList SplitRuleLines(const QString& text)
{
    QStringList lines;
    forEachRuleLine(text, [&lines](QStringView line, qsizetype) { lines.append(line.toString()); });
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

void ShortLinkRules::loadFromText(const QString& fileText, platform::MessageBoxes& boxes)
{
    ShowRuleProblems(boxes, loadFromText(fileText));
}

QStringList ShortLinkRules::loadFromText(const QString& fileText)
{
    QStringList problems;
    m_slots.clear();
    m_slots.shrink_to_fit();
    m_answers.clear();
    m_expressions.clear();
    m_candidates = RuleCandidates();
    m_text = fileText;
    // The offsets are 32-bit: far more than a rule file's cap.
    static_assert(kMaxRuleFileBytes < std::numeric_limits<uint32_t>::max() / 2);
    m_slots.reserve(size_t(countRuleLines(m_text)));
    RuleCandidates::Builder candidates;
    QHash<QString, int32_t> answers;
    BrokenExpressions broken;
    qsizetype badLines = 0;
    forEachRuleLine(m_text, [&](QStringView line, qsizetype offset) {
        const qsizetype tab1 = line.indexOf(u'\t');
        const qsizetype tab2 = tab1 >= 0 ? line.indexOf(u'\t', tab1 + 1) : -1;
        if (tab2 < 0) {
            // One box per line, but a file of thousands of such lines must not bury the user.
            if (++badLines <= kMaxLineMessages)
                problems.append(u"tinyurls読み込みエラー"_s);
            return;
        }
        Slot slot;
        std::tie(slot.matchBegin, slot.matchSize) = trimmedColumn(line.left(tab1), offset);
        std::tie(slot.templBegin, slot.templSize) =
            trimmedColumn(line.mid(tab1 + 1, tab2 - tab1 - 1), offset + tab1 + 1);
        std::tie(slot.patternBegin, slot.patternSize) = trimmedColumn(line.mid(tab2 + 1), offset + tab2 + 1);
        const QStringView matchText = text(slot.matchBegin, slot.matchSize);
        slot.isLocation = text(slot.templBegin, slot.templSize) == u"Location:"_s;
        if (!slot.isLocation)
            slot.hasExpression = checkRule(matchText.toString(), broken);
        if (slot.patternSize > 0)
            slot.answer = compileAnswer(text(slot.patternBegin, slot.patternSize).toString(), answers,
                                        m_answers, broken);
        candidates.add(matchText, slot.hasExpression,
                       slot.hasExpression ? RequiredLiterals(matchText.toString()) : QStringList());
        m_slots.push_back(slot);
    });
    m_candidates = candidates.build();
    if (badLines > kMaxLineMessages)
        problems.append(u"tinyurls読み込みエラー(ほかに"_s + QString::number(badLines - kMaxLineMessages) +
                        u"行)"_s);
    return problems;
}

ShortLinkRules::Rule ShortLinkRules::at(qsizetype index) const
{
    const Slot& slot = m_slots[size_t(index)];
    Rule rule;
    rule.matchText = text(slot.matchBegin, slot.matchSize).toString();
    rule.templ = text(slot.templBegin, slot.templSize).toString();
    rule.pattern = text(slot.patternBegin, slot.patternSize).toString();
    rule.isLocation = slot.isLocation;
    if (!slot.isLocation)
        rule.regex = RuleRegex(rule.matchText);
    if (slot.answer >= 0)
        rule.answer = m_answers[size_t(slot.answer)];
    return rule;
}

const RuleRegex& RuleExpressions::of(qsizetype index, QStringView pattern)
{
    if (const auto it = m_kept.find(index); it != m_kept.end())
        return it->second;
    if (qsizetype(m_kept.size()) >= kMaxKept)
        m_kept.clear();
    return m_kept.emplace(index, RuleRegex(pattern.toString(), RuleRegex::Checked{})).first->second;
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
        const Slot& slot = m_slots[size_t(index)];
        const QStringView matchText = text(slot.matchBegin, slot.matchSize);
        // An empty match text is found in every text. A plain search: a matcher kept per rule cost
        // each rule a table of 256 bytes.
        if (url.contains(matchText)) {
            result = {true, text(slot.templBegin, slot.templSize).toString(),
                      text(slot.patternBegin, slot.patternSize).toString(),
                      slot.answer >= 0 ? m_answers[size_t(slot.answer)] : RuleRegex()};
            return true;
        }
        if (expressionPossible && slot.hasExpression && validText) {
            if (m_expressions.of(index, matchText).matchValid(url, &groups)) {
                result = {true,
                          RuleRegex::fillGroups(text(slot.templBegin, slot.templSize).toString(), groups),
                          QString(), RuleRegex()};
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

void PictureRules::loadFromText(const QString& fileText)
{
    m_slots.clear();
    m_slots.shrink_to_fit();
    m_expressions.clear();
    m_text = fileText;
    m_slots.reserve(size_t(countRuleLines(m_text)));
    BrokenExpressions broken;
    forEachRuleLine(m_text, [&](QStringView line, qsizetype offset) {
        // A blank line would match every URL and turn every conversion into a picture preview.
        if (line.isEmpty())
            return;
        const qsizetype tab = line.indexOf(u'\t');
        Slot slot;
        slot.patternBegin = uint32_t(offset);
        slot.patternSize = uint32_t(tab >= 0 ? tab : line.size());
        if (tab >= 0) {
            slot.templBegin = uint32_t(offset + tab + 1);
            slot.templSize = uint32_t(line.size() - tab - 1);
        }
        slot.valid = checkRule(text(slot.patternBegin, slot.patternSize).toString(), broken);
        m_slots.push_back(slot);
    });
}

PictureRules::Rule PictureRules::at(qsizetype index) const
{
    const Slot& slot = m_slots[size_t(index)];
    Rule rule;
    rule.pattern = text(slot.patternBegin, slot.patternSize).toString();
    rule.templ = text(slot.templBegin, slot.templSize).toString();
    rule.regex = RuleRegex(rule.pattern);
    return rule;
}

bool PictureRules::MatchPictureRule(const QString& url, QString& pictureUrl, const QDeadlineTimer& deadline,
                                    bool* outOfTime) const
{
    pictureUrl.clear();
    if (outOfTime)
        *outOfTime = false;
    QStringList groups;
    for (size_t index = 0; index < m_slots.size(); ++index) {
        const Slot& slot = m_slots[index];
        if (!slot.valid)
            continue;
        if (m_expressions.of(qsizetype(index), text(slot.patternBegin, slot.patternSize))
                .match(url, &groups)) {
            pictureUrl = RuleRegex::fillGroups(text(slot.templBegin, slot.templSize).toString(), groups);
            return true;
        }
        if (deadline.hasExpired()) {
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
