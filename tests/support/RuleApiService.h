#pragma once

#include "HttpTestServer.h"

#include <QHash>

namespace linvera::test {

/// Stand-in for a short-link service's own expansion API, as a short-link rule names it: the
/// short code comes in the path ("<prefix><code>") or in a query item, and the answer is a small
/// JSON text with escaped slashes, e.g. {"long_url": "http:\/\/example.test\/page"}.
class RuleApiService : public HttpTestServer
{
    Q_OBJECT

public:
    explicit RuleApiService(QObject* parent = nullptr);

    /// Code in the path after this prefix ("/expand/" until set).
    void setPathPrefix(const QByteArray& prefix) { m_pathPrefix = prefix; }
    /// Code in this query item instead, on the path "/expand"; an empty key goes back to the path.
    void setQueryKey(const QString& key) { m_queryKey = key; }
    /// Name of the JSON field that carries the long URL ("long_url" until set).
    void setFieldName(const QByteArray& name) { m_fieldName = name; }

    void setLongUrl(const QString& code, const QString& longUrl) { m_longUrls.insert(code, longUrl); }
    void clearLongUrls() { m_longUrls.clear(); }

    /// The rule template for this server, with "($)" where the code goes.
    QString urlTemplate() const;
    /// The rule's response pattern that finds the long URL in this server's answers.
    QString responsePattern() const;
    /// Decoded codes of the requests received so far, in order.
    QStringList codes() const;

    /// The answer body for a long URL.
    QByteArray answerFor(const QString& longUrl) const;

protected:
    HttpTestResponse respond(const HttpTestRequest& request) override;

private:
    std::optional<QString> codeOf(const HttpTestRequest& request) const;

    QByteArray m_pathPrefix = QByteArrayLiteral("/expand/");
    QString m_queryKey;
    QByteArray m_fieldName = QByteArrayLiteral("long_url");
    QHash<QString, QString> m_longUrls;
};

} // namespace linvera::test
