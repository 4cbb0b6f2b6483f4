#include "conv/HttpClient.h"

#include "codec/PercentCoding.h"

#include <QFile>
#include <QtNetwork/qtnetworkglobal.h>
#if QT_CONFIG(ssl)
#include <QSslConfiguration>
#endif

#include <utility>

using namespace Qt::StringLiterals;

namespace linvera {
QString HttpAgentText()
{
    return u"Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1; .NET CLR 1.1.4322; .NET CLR 2.0.50727)"_s;
}

bool TrustExtraAuthorities(const QString& pemFile, QString* problem)
{
    const auto refuse = [problem](const QString& reason) {
        if (problem)
            *problem = reason;
        return false;
    };
#if QT_CONFIG(ssl)
    QFile file(pemFile);
    if (!file.open(QIODevice::ReadOnly))
        return refuse(file.errorString());
    // A bundle of every public authority is about 200 KiB.
    constexpr qint64 kLimit = 4 * 1024 * 1024;
    const QByteArray pem = file.read(kLimit + 1);
    if (pem.size() > kLimit)
        return refuse(u"larger than 4 MiB"_s);
    const QList<QSslCertificate> extra = QSslCertificate::fromData(pem, QSsl::Pem);
    if (extra.isEmpty())
        return refuse(u"no PEM certificate in the file"_s);
    // Added, not set: the sockets still look the system's authorities up in its folders on demand.
    // Reading the whole system store here instead would cost a quarter of a second at every start.
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.addCaCertificates(extra);
    QSslConfiguration::setDefaultConfiguration(configuration);
    return true;
#else
    Q_UNUSED(pemFile);
    return refuse(u"this build has no TLS support"_s);
#endif
}

HttpLimits ServiceTextLimits(HttpLimits limits)
{
    limits.bodyCap = qMin(limits.bodyCap, kServiceTextBodyCap);
    return limits;
}

QString RequestUrlProblem(const QString& url)
{
    if (url.isEmpty())
        return u"the URL is empty"_s;
    for (qsizetype i = 0; i < url.size(); ++i) {
        const char16_t u = url[i].unicode();
        if (u <= 0x20 || u >= 0x7F) {
            return u"character U+%1 at position %2 cannot go into a request as it is"_s
                .arg(int(u), 4, 16, QChar(u'0'))
                .arg(i);
        }
        if (u == u'%' && (i + 2 >= url.size() || HexDigitValue(url[i + 1].unicode()) < 0 ||
                          HexDigitValue(url[i + 2].unicode()) < 0))
            return u"\"%\" at position %1 is not followed by two hexadecimal digits"_s.arg(i);
    }
    const QUrl parsed(url, QUrl::StrictMode);
    if (!parsed.isValid())
        return parsed.errorString();
    const QString scheme = parsed.scheme();
    if (scheme != u"http"_s && scheme != u"https"_s)
        return u"only http and https URLs are fetched"_s;
    if (url.indexOf(u"://"_s) != scheme.size() || parsed.host().isEmpty())
        return u"the URL names no host"_s;
    const qsizetype authorityStart = scheme.size() + 3;
    qsizetype authorityEnd = authorityStart;
    while (authorityEnd < url.size() && url[authorityEnd] != u'/' && url[authorityEnd] != u'?' &&
           url[authorityEnd] != u'#')
        ++authorityEnd;
    if (url.mid(authorityStart, authorityEnd - authorityStart).contains(u'@'))
        return u"user names and passwords in URLs are not sent"_s;
    return {};
}

} // namespace linvera
