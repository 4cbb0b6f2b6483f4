#include "verdict/TrackerRules.h"

#include "platform/FileAppend.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace linvera::verdict {
namespace {

QRegularExpression compiled(const QString& pattern)
{
    QRegularExpression regex(pattern, QRegularExpression::CaseInsensitiveOption);
    regex.optimize();
    return regex;
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

QList<QRegularExpression> expressions(const QStringList& patterns, qsizetype& broken)
{
    QList<QRegularExpression> list;
    for (const QString& pattern : patterns) {
        QRegularExpression regex = compiled(pattern);
        if (regex.isValid())
            list.append(std::move(regex));
        else
            ++broken;
    }
    return list;
}

bool anyMatches(const QList<QRegularExpression>& list, const QString& text)
{
    for (const QRegularExpression& regex : list) {
        if (regex.match(text).hasMatch())
            return true;
    }
    return false;
}

// A parameter's name as the rules mean it: percent-decoded, "+" a space.
QString parameterName(QStringView segment)
{
    const qsizetype equals = segment.indexOf(u'=');
    QString name = (equals < 0 ? segment : segment.left(equals)).toString();
    if (!name.contains(u'%') && !name.contains(u'+'))
        return name;
    name.replace(u'+', u' ');
    return QUrl::fromPercentEncoding(name.toUtf8());
}

// Takes the named parameters out of the query; the rest of the address is kept character for character.
QString withoutParameters(const QString& url, const QRegularExpression& names, int& removed)
{
    const qsizetype hash = url.indexOf(u'#');
    const qsizetype end = hash < 0 ? url.size() : hash;
    const qsizetype question = url.indexOf(u'?');
    if (question < 0 || question > end)
        return url;
    const QStringView query = QStringView(url).mid(question + 1, end - question - 1);
    QList<QStringView> kept;
    int taken = 0;
    bool anyKeptText = false;
    for (const QStringView segment : query.split(u'&')) {
        if (!segment.isEmpty() && names.match(parameterName(segment)).hasMatch()) {
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
        provider.urlPattern = compiled(pattern.toString());
        if (!pattern.isString() || !provider.urlPattern.isValid()) {
            ++read.brokenPatterns;
            continue;
        }
        // Each name is checked alone, so that one broken name does not take the others with it.
        QStringList names;
        for (const QString& name : strings(object, "rules"_L1, read.brokenPatterns)) {
            if (QRegularExpression(name).isValid())
                names.append(u"(?:"_s + name + u')');
            else
                ++read.brokenPatterns;
        }
        if (!names.isEmpty()) {
            provider.parameters = compiled(u"\\A(?:"_s + names.join(u'|') + u")\\z"_s);
            if (!provider.parameters.isValid()) {
                // Names that compile alone may still clash together (a stray ")" closing the group).
                ++read.brokenPatterns;
                provider.parameters = QRegularExpression();
            }
        }
        provider.rawRules =
            expressions(strings(object, "rawRules"_L1, read.brokenPatterns), read.brokenPatterns);
        provider.exceptions =
            expressions(strings(object, "exceptions"_L1, read.brokenPatterns), read.brokenPatterns);
        provider.redirections =
            expressions(strings(object, "redirections"_L1, read.brokenPatterns), read.brokenPatterns);
        m_providers.append(std::move(provider));
    }
    read.providers = m_providers.size();
    return read;
}

StrippedUrl TrackerRules::strip(const QString& url) const
{
    StrippedUrl result;
    result.url = url;
    for (int depth = 0; depth <= kMaxUnwraps; ++depth) {
        bool unwrapped = false;
        for (const Provider& provider : m_providers) {
            if (!provider.urlPattern.match(result.url).hasMatch() ||
                anyMatches(provider.exceptions, result.url))
                continue;
            if (depth < kMaxUnwraps) {
                for (const QRegularExpression& redirection : provider.redirections) {
                    const QRegularExpressionMatch match = redirection.match(result.url);
                    if (!match.hasMatch() || match.lastCapturedIndex() < 1)
                        continue;
                    const QString target = QUrl::fromPercentEncoding(match.captured(1).toUtf8());
                    if (!isWebAddress(target) || target == result.url)
                        continue;
                    result.url = target;
                    result.unwrapped = unwrapped = true;
                    break;
                }
                if (unwrapped)
                    break;
            }
            for (const QRegularExpression& raw : provider.rawRules) {
                int found = 0;
                for (auto it = raw.globalMatch(result.url); it.hasNext();) {
                    if (it.next().capturedLength() > 0)
                        ++found;
                }
                if (found > 0) {
                    result.url.remove(raw);
                    result.removed += found;
                }
            }
            if (provider.parameters.isValid())
                result.url = withoutParameters(result.url, provider.parameters, result.removed);
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
