#include "ShorteningServices.h"

#include "HttpClient.h"
#include "PercentCoding.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>

using namespace Qt::StringLiterals;

namespace linvera {
namespace {

const QString kNoAnswer = u"サービスから答えがありませんでした。"_s;
const QString kNotJson = u"サービスの答えを読めませんでした(JSONではありません)。"_s;
const QString kNotConfigured = u"短縮サービスのURLが設定されていません。"_s;

QString withoutTrailingSlash(QString base)
{
    base = base.trimmed();
    while (base.endsWith(u'/'))
        base.chop(1);
    return base;
}

/// The answer as a JSON object, or a message why it is none.
bool readObject(const QByteArray& body, QJsonObject& object, ShortenOutcome& outcome)
{
    if (body.isEmpty()) {
        outcome.message = kNoAnswer;
        return false;
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        outcome.message = kNotJson;
        return false;
    }
    object = document.object();
    return true;
}

QString text(const QJsonObject& object, const QString& key)
{
    const QJsonValue value = object.value(key);
    if (value.isString())
        return value.toString();
    if (value.isDouble())
        return QString::number(value.toDouble());
    return {};
}

QString hideSecret(QString message, const QString& secret)
{
    if (!secret.isEmpty())
        message.replace(secret, u"***"_s);
    return message;
}

/// A blocking JSON POST that keeps the window's events running; the body is read also for an
/// error status, since that is where the service explains itself. Empty on a transport failure,
/// a time-out or an answer over the text limit.
QByteArray postJson(const QString& url, const QByteArray& body, const QByteArray& apiKey)
{
    // A key with a line break would write headers of its own.
    if (apiKey.contains('\r') || apiKey.contains('\n'))
        return {};
    HttpFetch fetch;
    QEventLoop loop;
    QObject::connect(&fetch, &HttpFetch::finished, &loop, &QEventLoop::quit);
    fetch.setPostBody(body);
    fetch.setBodyLimit(httpTextBodyLimit());
    fetch.start(url, u"Content-Type: application/json\r\nAccept: application/json\r\nX-Api-Key: "_s +
                         QString::fromUtf8(apiKey));
    loop.exec();
    if (fetch.outcome() == HttpFetch::Outcome::BadUrl)
        qWarning("postJson: %s", qUtf8Printable(fetch.errorText()));
    return fetch.outcome() == HttpFetch::Outcome::Answered ? fetch.body() : QByteArray();
}

} // namespace

bool IsServiceType(int shortUrlType)
{
    return shortUrlType >= ShortUrlIsgd && shortUrlType < ShortUrlTypeCount;
}

QString IsgdRequestUrl(const QString& apiBase, const QString& longUrl)
{
    return withoutTrailingSlash(apiBase) + u"/create.php?format=json&url="_s + PercentEncode(longUrl);
}

QString YourlsRequestUrl(const QString& base, const QString& signature, const QString& longUrl)
{
    return withoutTrailingSlash(base) + u"/yourls-api.php?action=shorturl&format=json&url="_s +
           PercentEncode(longUrl) + u"&signature="_s + PercentEncode(signature);
}

QString ShlinkRequestUrl(const QString& base)
{
    return withoutTrailingSlash(base) + u"/rest/v3/short-urls"_s;
}

QByteArray ShlinkRequestBody(const QString& longUrl)
{
    return QJsonDocument(QJsonObject{{u"longUrl"_s, longUrl}}).toJson(QJsonDocument::Compact);
}

ShortenOutcome ReadIsgdAnswer(const QByteArray& body)
{
    ShortenOutcome outcome;
    QJsonObject object;
    if (!readObject(body, object, outcome))
        return outcome;
    outcome.shortUrl = text(object, u"shorturl"_s);
    if (outcome.shortUrl.isEmpty()) {
        const QString code = text(object, u"errorcode"_s);
        outcome.message = text(object, u"errormessage"_s);
        if (!code.isEmpty())
            outcome.message = u"("_s + code + u") "_s + outcome.message;
        if (outcome.message.isEmpty())
            outcome.message = kNotJson;
    }
    return outcome;
}

ShortenOutcome ReadYourlsAnswer(const QByteArray& body)
{
    ShortenOutcome outcome;
    QJsonObject object;
    if (!readObject(body, object, outcome))
        return outcome;
    // A URL the installation already knows comes back as "fail" with its existing short link.
    outcome.shortUrl = text(object, u"shorturl"_s);
    if (outcome.shortUrl.isEmpty()) {
        outcome.message = text(object, u"message"_s);
        if (outcome.message.isEmpty())
            outcome.message = kNotJson;
    }
    return outcome;
}

ShortenOutcome ReadShlinkAnswer(const QByteArray& body)
{
    ShortenOutcome outcome;
    QJsonObject object;
    if (!readObject(body, object, outcome))
        return outcome;
    outcome.shortUrl = text(object, u"shortUrl"_s);
    if (outcome.shortUrl.isEmpty()) {
        // Errors come as problem details: a title, and usually a detail.
        outcome.message = text(object, u"detail"_s);
        if (outcome.message.isEmpty())
            outcome.message = text(object, u"title"_s);
        if (outcome.message.isEmpty())
            outcome.message = kNotJson;
    }
    return outcome;
}

ShortenOutcome ShortenWithService(const QString& longUrl, int shortUrlType, const ShortenerAccounts& accounts,
                                  const Endpoints& endpoints)
{
    QByteArray body;
    switch (shortUrlType) {
    case ShortUrlIsgd:
    case ShortUrlVgd: {
        const QString base =
            endpoints.value(shortUrlType == ShortUrlIsgd ? Endpoints::IsgdApiBase : Endpoints::VgdApiBase);
        HttpGetBytes(IsgdRequestUrl(base, longUrl), body, {}, {}, httpTextBodyLimit());
        return ReadIsgdAnswer(body);
    }
    case ShortUrlYourls: {
        if (accounts.yourlsUrl.trimmed().isEmpty())
            return {QString(), kNotConfigured};
        HttpGetBytes(YourlsRequestUrl(accounts.yourlsUrl, accounts.yourlsSignature, longUrl), body, {}, {},
                     httpTextBodyLimit());
        ShortenOutcome outcome = ReadYourlsAnswer(body);
        outcome.message = hideSecret(outcome.message, accounts.yourlsSignature);
        return outcome;
    }
    case ShortUrlShlink: {
        if (accounts.shlinkUrl.trimmed().isEmpty())
            return {QString(), kNotConfigured};
        body = postJson(ShlinkRequestUrl(accounts.shlinkUrl), ShlinkRequestBody(longUrl),
                        accounts.shlinkApiKey.toUtf8());
        ShortenOutcome outcome = ReadShlinkAnswer(body);
        outcome.message = hideSecret(outcome.message, accounts.shlinkApiKey);
        return outcome;
    }
    default:
        return {};
    }
}

} // namespace linvera
