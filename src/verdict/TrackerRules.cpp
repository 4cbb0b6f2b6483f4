#include "verdict/TrackerRules.h"

#include "platform/FileAppend.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>
#include <QVarLengthArray>

#include <algorithm>
#include <optional>

using namespace Qt::StringLiterals;

namespace linvera::verdict {
namespace {

QRegularExpression compiled(const QString& pattern)
{
    return QRegularExpression(pattern, QRegularExpression::CaseInsensitiveOption);
}

// The strings of an array member; anything else in it counts as broken.
QStringList strings(const QJsonObject& provider, QLatin1StringView key, qsizetype& broken)
{
    QStringList list;
    const QJsonValue value = provider.value(key);
    if (value.isUndefined() || value.isNull())
        return list;
    if (!value.isArray()) {
        ++broken;
        return list;
    }
    for (const QJsonValue item : value.toArray()) {
        if (item.isString())
            list.append(item.toString());
        else
            ++broken;
    }
    return list;
}

// Checked as they compile, not by QRegularExpression::isValid, which also prepares the expression
// for matching: most redirections and raw rules are never reached, and are prepared at their first match.
QList<QRegularExpression> expressions(const QStringList& patterns, qsizetype& broken)
{
    QList<QRegularExpression> list;
    for (const QString& pattern : patterns) {
        if (CaselessPattern::compiles(pattern))
            list.append(compiled(pattern));
        else
            ++broken;
    }
    return list;
}

// Only asked whether they match: taken as CaselessPattern.
QList<CaselessPattern> patterns(const QStringList& texts, qsizetype& broken)
{
    QList<CaselessPattern> list;
    for (const QString& text : texts) {
        CaselessPattern pattern(text);
        if (pattern.isNull())
            ++broken;
        else
            list.append(pattern);
    }
    return list;
}

bool anyMatches(const QList<CaselessPattern>& list, const QString& text)
{
    return std::any_of(list.begin(), list.end(), [&](const CaselessPattern& p) { return p.matches(text); });
}

// Whether the rules name the parameter of a query segment. Its name as the rules mean it is
// percent-decoded, "+" a space; most names have neither and are asked as they stand.
bool named(const CaselessPattern& names, QStringView segment)
{
    const qsizetype equals = segment.indexOf(u'=');
    const QStringView name = equals < 0 ? segment : segment.left(equals);
    if (!name.contains(u'%') && !name.contains(u'+'))
        return names.matches(name);
    QString decoded = name.toString();
    decoded.replace(u'+', u' ');
    return names.matches(QUrl::fromPercentEncoding(decoded.toUtf8()));
}

// Takes the named parameters out of the query; the rest of the address is kept character for character.
QString withoutParameters(const QString& url, const CaselessPattern& names, int& removed)
{
    const qsizetype hash = url.indexOf(u'#');
    const qsizetype end = hash < 0 ? url.size() : hash;
    const qsizetype question = url.indexOf(u'?');
    if (question < 0 || question > end)
        return url;
    const QStringView query = QStringView(url).mid(question + 1, end - question - 1);
    // Asked once each; a query of the usual length is kept on the stack, so that an address that
    // keeps every parameter costs no allocation.
    QVarLengthArray<QStringView, 16> kept;
    int taken = 0;
    bool anyKeptText = false;
    for (const QStringView segment : query.tokenize(u'&')) {
        if (!segment.isEmpty() && named(names, segment)) {
            ++taken;
            continue;
        }
        anyKeptText = anyKeptText || !segment.isEmpty();
        kept.append(segment);
    }
    if (taken == 0)
        return url;
    removed += taken;
    QString out = url.left(question);
    if (anyKeptText) {
        out += u'?';
        for (qsizetype i = 0; i < kept.size(); ++i) {
            if (i > 0)
                out += u'&';
            out += kept[i];
        }
    }
    out += QStringView(url).mid(end);
    return out;
}

bool matchesEveryAddress(const QString& pattern)
{
    static const QStringList every = {u".*"_s, u"^.*"_s, u".*$"_s, u"^.*$"_s, u"^"_s, QString()};
    return every.contains(pattern);
}

// Whether a pattern keeps its meaning as one branch of a larger expression: no group numbers or names
// that would shift or clash, no recursion, no option that reaches past its own group.
bool joinsAlternation(QStringView pattern)
{
    for (qsizetype i = 0; i + 1 < pattern.size(); ++i) {
        if (pattern[i] == u'\\') {
            const QChar next = pattern[i + 1];
            if (next.isDigit() || next == u'g' || next == u'k')
                return false;
            ++i;
            continue;
        }
        if (pattern[i] != u'(' || pattern[i + 1] != u'?')
            continue;
        const QStringView head = pattern.mid(i + 2, 2);
        if (!(head.startsWith(u':') || head.startsWith(u'=') || head.startsWith(u'!') || head == u"<=" ||
              head == u"<!"))
            return false;
    }
    return true;
}

bool isWebAddress(const QString& url)
{
    return url.startsWith(u"http://"_s, Qt::CaseInsensitive) ||
           url.startsWith(u"https://"_s, Qt::CaseInsensitive);
}

} // namespace

QString TrackerRulesMessage(const TrackerRulesRead& read)
{
    const QString head = kTrackerRulesFileName.toString() + u"読み込みエラー"_s;
    switch (read.problem) {
    case TrackerRulesRead::Problem::Missing:
        return {};
    case TrackerRulesRead::Problem::Unreadable:
        return head + u"(ファイルを読めません。追跡用パラメータは取り除きません)"_s;
    case TrackerRulesRead::Problem::TooLarge:
        return head + u"(ファイルが大きすぎます。上限は"_s +
               QString::number(kMaxTrackerRulesBytes / (1024 * 1024)) +
               u"MBです。追跡用パラメータは取り除きません)"_s;
    case TrackerRulesRead::Problem::NotJson:
        return head + u"(JSONとして読めません: "_s + read.detail + u"。追跡用パラメータは取り除きません)"_s;
    case TrackerRulesRead::Problem::NotRules:
        return head + u"(\"providers\" がありません。追跡用パラメータは取り除きません)"_s;
    case TrackerRulesRead::Problem::None:
        break;
    }
    if (read.brokenPatterns > 0)
        return head + u"(使えない規則が"_s + QString::number(read.brokenPatterns) +
               u"個あり、それらを除いて使います)"_s;
    return {};
}

TrackerRulesRead TrackerRules::loadFile(const QString& path)
{
    m_providers.clear();
    m_anyPattern = CaselessPattern();
    TrackerRulesRead read;
    QByteArray bytes;
    switch (platform::ReadSmallFile(path, kMaxTrackerRulesBytes, bytes)) {
    case platform::ReadOutcome::Read:
        return loadJson(bytes);
    case platform::ReadOutcome::Missing:
        read.problem = TrackerRulesRead::Problem::Missing;
        break;
    case platform::ReadOutcome::Unreadable:
        read.problem = TrackerRulesRead::Problem::Unreadable;
        break;
    case platform::ReadOutcome::TooLarge:
        read.problem = TrackerRulesRead::Problem::TooLarge;
        break;
    }
    return read;
}

TrackerRulesRead TrackerRules::loadJson(QByteArrayView json)
{
    m_providers.clear();
    m_anyPattern = CaselessPattern();
    TrackerRulesRead read;
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(json.toByteArray(), &error);
    if (error.error != QJsonParseError::NoError) {
        read.problem = TrackerRulesRead::Problem::NotJson;
        read.detail = error.errorString() + u" (位置 "_s + QString::number(error.offset) + u")"_s;
        return read;
    }
    const QJsonValue providers = document.object().value("providers"_L1);
    if (!document.isObject() || !providers.isObject()) {
        read.problem = TrackerRulesRead::Problem::NotRules;
        return read;
    }
    const QJsonObject all = providers.toObject();
    for (auto it = all.begin(); it != all.end(); ++it) {
        const QJsonObject object = it.value().toObject();
        const QJsonValue pattern = object.value("urlPattern"_L1);
        Provider provider;
        provider.urlPattern = CaselessPattern(pattern.toString());
        if (!pattern.isString() || provider.urlPattern.isNull()) {
            ++read.brokenPatterns;
            continue;
        }
        const auto joined = [](const QStringList& names) -> QString {
            return u"\\A(?:"_s + names.join(u'|') + u")\\z"_s;
        };
        QStringList names;
        for (const QString& name : strings(object, "rules"_L1, read.brokenPatterns))
            names.append(u"(?:"_s + name + u')');
        // A broken name is looked for only when the names do not compile together, so that it does
        // not take the others with it.
        if (!names.isEmpty() && !CaselessPattern::compiles(joined(names))) {
            const qsizetype before = names.size();
            names.removeIf([](const QString& name) { return !CaselessPattern::compiles(name); });
            read.brokenPatterns += before - names.size();
            // Names that compile alone may still clash together (a stray ")" closing the group).
            if (!names.isEmpty() && !CaselessPattern::compiles(joined(names))) {
                ++read.brokenPatterns;
                names.clear();
            }
        }
        if (!names.isEmpty())
            provider.parameters = CaselessPattern(joined(names));
        provider.rawRules =
            expressions(strings(object, "rawRules"_L1, read.brokenPatterns), read.brokenPatterns);
        provider.exceptions =
            patterns(strings(object, "exceptions"_L1, read.brokenPatterns), read.brokenPatterns);
        provider.redirections =
            expressions(strings(object, "redirections"_L1, read.brokenPatterns), read.brokenPatterns);
        provider.everyAddress = matchesEveryAddress(pattern.toString());
        m_providers.append(std::move(provider));
    }
    read.providers = m_providers.size();

    QStringList branches;
    for (Provider& provider : m_providers) {
        provider.inAnyPattern = !provider.everyAddress && joinsAlternation(provider.urlPattern.pattern());
        if (provider.inAnyPattern)
            branches.append(u"(?:"_s + provider.urlPattern.pattern() + u')');
    }
    const QString any = branches.join(u'|');
    m_anyPattern = any.isEmpty() ? CaselessPattern() : CaselessPattern(any);
    if (m_anyPattern.isNull()) {
        for (Provider& provider : m_providers)
            provider.inAnyPattern = false;
    }
    return read;
}

StrippedUrl TrackerRules::strip(const QString& url) const
{
    StrippedUrl result;
    result.url = url;
    for (int depth = 0; depth <= kMaxUnwraps; ++depth) {
        bool unwrapped = false;
        const bool anyProvider = m_anyPattern.isNull() || m_anyPattern.matches(result.url);
        for (const Provider& provider : m_providers) {
            if (!provider.everyAddress &&
                ((provider.inAnyPattern && !anyProvider) || !provider.urlPattern.matches(result.url)))
                continue;
            // An exception keeps the address as it came; asked only when the provider would change it.
            const QString before = result.url;
            std::optional<bool> excepted;
            const auto isExcepted = [&] {
                if (!excepted)
                    excepted = anyMatches(provider.exceptions, before);
                return *excepted;
            };
            StrippedUrl changed = result;
            if (depth < kMaxUnwraps) {
                for (const QRegularExpression& redirection : provider.redirections) {
                    const QRegularExpressionMatch match = redirection.match(before);
                    if (!match.hasMatch() || match.lastCapturedIndex() < 1)
                        continue;
                    const QString target = QUrl::fromPercentEncoding(match.captured(1).toUtf8());
                    if (!isWebAddress(target) || target == before)
                        continue;
                    if (!isExcepted()) {
                        changed.url = target;
                        changed.unwrapped = unwrapped = true;
                    }
                    break;
                }
                if (excepted.value_or(false))
                    continue;
                if (unwrapped) {
                    result = changed;
                    break;
                }
            }
            for (const QRegularExpression& raw : provider.rawRules) {
                int found = 0;
                for (auto it = raw.globalMatch(changed.url); it.hasNext();) {
                    if (it.next().capturedLength() > 0)
                        ++found;
                }
                if (found > 0) {
                    changed.url.remove(raw);
                    changed.removed += found;
                }
            }
            if (!provider.parameters.isNull())
                changed.url = withoutParameters(changed.url, provider.parameters, changed.removed);
            if (changed.removed > result.removed && !isExcepted())
                result = changed;
        }
        if (!unwrapped)
            break;
    }
    return result;
}

QString TrackerLine(const StrippedUrl& stripped)
{
    if (stripped.removed == 0 && !stripped.unwrapped)
        return {};
    QString line;
    if (stripped.unwrapped)
        line = u"転送用のアドレスから本当の行き先を取り出しました"_s;
    if (stripped.removed > 0) {
        if (!line.isEmpty())
            line += u"。"_s;
        line += u"追跡用パラメータを"_s + QString::number(stripped.removed) + u"個取り除きました"_s;
    }
    return line;
}

} // namespace linvera::verdict
