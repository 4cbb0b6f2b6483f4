#include "HttpTestRequest.h"

namespace linvera::test {

QByteArray HttpTestRequest::header(const QByteArray& name) const
{
    for (const auto& [key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

bool HttpTestRequest::hasHeader(const QByteArray& name) const
{
    return headerCount(name) > 0;
}

int HttpTestRequest::headerCount(const QByteArray& name) const
{
    int count = 0;
    for (const auto& header : headers) {
        if (header.first.compare(name, Qt::CaseInsensitive) == 0)
            ++count;
    }
    return count;
}

bool HttpTestRequest::isAbsoluteForm() const
{
    return target.startsWith("http://") || target.startsWith("https://") || target.startsWith("HTTP://");
}

QByteArray HttpTestRequest::path() const
{
    QByteArray rest = target;
    if (isAbsoluteForm()) {
        const qsizetype schemeEnd = rest.indexOf("://") + 3;
        const qsizetype pathStart = rest.indexOf('/', schemeEnd);
        const qsizetype queryStart = rest.indexOf('?', schemeEnd);
        if (pathStart < 0 || (queryStart >= 0 && queryStart < pathStart))
            return QByteArrayLiteral("/");
        rest = rest.mid(pathStart);
    }
    const qsizetype fragment = rest.indexOf('#');
    if (fragment >= 0)
        rest.truncate(fragment);
    const qsizetype queryStart = rest.indexOf('?');
    return queryStart < 0 ? rest : rest.left(queryStart);
}

QByteArray HttpTestRequest::query() const
{
    const qsizetype queryStart = target.indexOf('?');
    if (queryStart < 0)
        return {};
    QByteArray result = target.mid(queryStart + 1);
    const qsizetype fragment = result.indexOf('#');
    if (fragment >= 0)
        result.truncate(fragment);
    return result;
}

QList<std::pair<QString, QString>> HttpTestRequest::queryItems() const
{
    QList<std::pair<QString, QString>> items;
    const QByteArray text = query();
    if (text.isEmpty())
        return items;
    for (const QByteArray& part : text.split('&')) {
        if (part.isEmpty())
            continue;
        const qsizetype equals = part.indexOf('=');
        if (equals < 0)
            items.append({decodeFormComponent(part), QString()});
        else
            items.append({decodeFormComponent(part.left(equals)), decodeFormComponent(part.mid(equals + 1))});
    }
    return items;
}

QString HttpTestRequest::queryValue(const QString& key) const
{
    for (const auto& [name, value] : queryItems()) {
        if (name == key)
            return value.isNull() ? QStringLiteral("") : value;
    }
    return {};
}

bool HttpTestRequest::hasQueryItem(const QString& key) const
{
    for (const auto& item : queryItems()) {
        if (item.first == key)
            return true;
    }
    return false;
}

QUrl HttpTestRequest::url() const
{
    if (isAbsoluteForm())
        return QUrl::fromEncoded(target);
    return QUrl::fromEncoded("http://" + host() + target);
}

QString HttpTestRequest::decodeFormComponent(const QByteArray& encoded)
{
    QByteArray plusAsSpace = encoded;
    plusAsSpace.replace('+', ' ');
    return QString::fromUtf8(QByteArray::fromPercentEncoding(plusAsSpace));
}

} // namespace linvera::test
