#include "conv/UrlParts.h"

#include <QUrl>

using namespace Qt::StringLiterals;

namespace linvera {
namespace {

bool isAllDigits(QStringView text)
{
    if (text.isEmpty())
        return false;
    for (QChar c : text) {
        if (c < u'0' || c > u'9')
            return false;
    }
    return true;
}

} // namespace

QString TrimSpaces(const QString& text)
{
    qsizetype start = 0;
    qsizetype end = text.size();
    while (start < end && text[start] == u' ')
        ++start;
    while (end > start && text[end - 1] == u' ')
        --end;
    return text.mid(start, end - start);
}

bool HasUrlScheme(QStringView reference)
{
    const auto letter = [](QChar c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); };
    const qsizetype colon = reference.indexOf(u':');
    if (colon <= 0 || !letter(reference[0]))
        return false;
    for (qsizetype i = 1; i < colon; ++i) {
        const QChar c = reference[i];
        if (!letter(c) && !(c >= u'0' && c <= u'9') && c != u'+' && c != u'-' && c != u'.')
            return false;
    }
    return true;
}

bool IsWebAddress(const QString& url)
{
    for (QChar c : url) {
        if (c.isSpace() || c.category() == QChar::Other_Control)
            return false;
    }
    const QUrl parsed(url, QUrl::StrictMode);
    const QString scheme = parsed.scheme();
    return parsed.isValid() && (scheme == u"http"_s || scheme == u"https"_s) && !parsed.host().isEmpty() &&
           url.mid(scheme.size(), 3) == u"://"_s;
}

UrlParts SplitUrl(const QString& url)
{
    UrlParts parts;
    QString rest = url;
    const qsizetype schemeEnd = url.indexOf(u"://"_s);
    if (schemeEnd >= 0) {
        parts.scheme = url.left(schemeEnd);
        rest = url.mid(schemeEnd + 3);
    }

    const qsizetype colon = rest.indexOf(u':');
    const qsizetype slash = rest.indexOf(u'/');
    if (colon >= 0 && slash >= 0 && colon < slash) {
        parts.host = rest.left(colon);
        const QStringView portText = QStringView(rest).mid(colon + 1, slash - colon - 1);
        bool ok = false;
        const qint32 port = isAllDigits(portText) ? portText.toInt(&ok) : 0;
        parts.port = ok ? port : 0;
    } else if (slash >= 0) {
        parts.host = rest.left(slash);
    } else {
        parts.host = rest;
        parts.path = u"/"_s;
        return parts;
    }

    const QString fromSlash = rest.mid(slash);
    const qsizetype question = fromSlash.indexOf(u'?');
    if (question >= 0) {
        parts.path = fromSlash.left(question);
        parts.query = fromSlash.mid(question + 1);
    } else {
        parts.path = fromSlash;
    }
    return parts;
}

QString TextBetween(const QString& text, const QString& startMarker, const QString& endMarker)
{
    const qsizetype start = text.indexOf(startMarker);
    if (start < 0)
        return {};
    const qsizetype from = start + startMarker.size();
    const qsizetype end = text.indexOf(endMarker, from);
    if (end < 0)
        return {};
    return text.mid(from, end - from);
}

} // namespace linvera
