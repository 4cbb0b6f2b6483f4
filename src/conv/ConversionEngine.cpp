#include "ConversionEngine.h"

#include "AnsiCodec.h"
#include "AppInfo.h"
#include "ConversionView.h"
#include "FileAppend.h"
#include "HttpClient.h"
#include "MessageBoxes.h"
#include "PercentCoding.h"
#include "RedirectProbe.h"
#include "RuleRegex.h"
#include "ShortenerClient.h"
#include "UrlParts.h"
#include "Utf8Convert.h"

#include <QFile>
#include <QLocale>
#include <QScopeGuard>
#include <QUrl>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace linvera {
namespace {

const QString kShortened = u"URL短縮化を実行しました"_s;
const QString kShorteningFailed = u"URL短縮化に失敗しました"_s;
const QString kPreviewed = u"URLプレビューを実行しました"_s;
const QString kProcessing = u"処理中です..."_s;
const QString kPictureShown = u"画像を表示しました。"_s;
const QString kPictureDownloadFailed = u"画像を取得できませんでした。"_s;
const QString kPictureUnreadable = u"画像を表示できませんでした。"_s;
const QString kChannelPageFailed = u"チャンネルページを取得できませんでした。"_s;
const QString kChainLoop = u"リダイレクトがループしているため、たどるのをやめました。"_s;
const QString kChainTooLong = u"リダイレクトが10回を超えたため、たどるのをやめました。"_s;

} // namespace

ConversionEngine::ConversionEngine(ConversionView& view, platform::MessageBoxes& boxes, QObject* parent)
    : QObject(parent)
    , m_view(view)
    , m_boxes(boxes)
    , m_probe(new RedirectProbe(this))
    , m_picture(new PictureDownload(this))
    , m_shortUrlType([] { return 0; })
    , m_today(&QDate::currentDate)
{
    connect(m_probe, &RedirectProbe::answered, this, &ConversionEngine::onProbeAnswered);
    // The failure's box waits for its user in an event loop of its own. Not inside the probe socket's
    // signal: there the socket, and its descriptor, would be kept until the box is closed. A run
    // started meanwhile has replaced the failed one, whose box is then not shown.
    connect(m_probe, &RedirectProbe::failed, this, [this](const QString& description) {
        QMetaObject::invokeMethod(
            this,
            [this, run = m_run, description] {
                if (run == m_run)
                    onProbeFailed(description);
            },
            Qt::QueuedConnection);
    });
    connect(m_picture, &PictureDownload::finished, this, &ConversionEngine::onPictureFinished);
}

ConversionEngine::~ConversionEngine() = default;

ProbeRoute ConversionEngine::lastProbeRoute() const
{
    return m_probe->lastRoute();
}

void ConversionEngine::loadRules(const QString& shortLinkRulesPath, const QString& pictureRulesPath)
{
    // The lists report what was wrong with them; each list's boxes show before the next is read.
    ShowRuleProblems(m_boxes, m_shortLinkRules.LoadShortLinkRules(shortLinkRulesPath));
    ShowRuleProblems(m_boxes, m_pictureRules.LoadPictureRules(pictureRulesPath));
}

bool ConversionEngine::isWaiting() const
{
    return m_probe->isRunning() || m_picture->isRunning();
}

int ConversionEngine::shortUrlType() const
{
    return m_shortUrlType ? m_shortUrlType() : 0;
}

namespace {

bool splitsRecord(char16_t c)
{
    return c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F) || c == 0x2028 || c == 0x2029;
}

// A field written as it came could end the record and start an invented one: a control character
// is written as a URL writes it, in %XX of its UTF-8 bytes. The record stays one line that reads
// as before, and the URL it shows still means the same address.
QString logField(const QString& text)
{
    const auto first =
        std::find_if(text.cbegin(), text.cend(), [](QChar c) { return splitsRecord(c.unicode()); });
    if (first == text.cend())
        return text;
    QString escaped = text.left(first - text.cbegin());
    for (auto it = first; it != text.cend(); ++it) {
        if (!splitsRecord(it->unicode())) {
            escaped.append(*it);
            continue;
        }
        for (const char byte : QString(*it).toUtf8())
            escaped += u'%' + QString::number(uchar(byte), 16).toUpper().rightJustified(2, u'0');
    }
    return escaped;
}

} // namespace

QString ConversionEngine::processingMessage()
{
    return kProcessing;
}

QString ConversionEngine::LogLine(const QDate& date, const QString& input, const QString& afterUrl)
{
    return logField(QLocale::system().toString(date, QLocale::ShortFormat)) + u", "_s + logField(input) +
           u", "_s + logField(afterUrl);
}

void ConversionEngine::appendLog(const QString& input, const QString& afterUrl)
{
    if (m_logFilePath.isEmpty())
        return;
    const bool written = platform::AppendToFile(
        m_logFilePath, platform::AnsiCodec::encode(QString(LogLine(m_today(), input, afterUrl) + u"\r\n"_s)));
    // Told once a run: a full disk or a read-only folder would otherwise interrupt every conversion.
    if (!written && !m_logFailureShown) {
        m_logFailureShown = true;
        m_boxes.show(platform::MessageBoxes::Icon::Exclamation, AppTitle(),
                     u"ログファイルに書き込めません。変換の記録は残りません。\n"_s + m_logFilePath);
    }
}

void ConversionEngine::StartConv()
{
    ++m_depth;
    const auto leave = qScopeGuard([this] { --m_depth; });

    if (m_view.beforeUrl().isEmpty())
        return;
    const quint64 run = ++m_run;
    m_probe->cancel();
    m_picture->cancel();

    const QString input = TrimSpaces(m_view.beforeUrl());
    m_view.setBeforeUrl(input);
    m_view.setCaption(input);
    m_view.setAfterUrl(QString());
    m_view.setAfterInfo(QString());
    m_view.setBeforeInfoVisible(false);
    m_view.setThumbnail(QImage());
    m_view.setThumbnailVisible(false);
    m_view.setAfterInfoVisible(true);

    QString afterUrl;
    QString fetchedUrl;
    QString pageTitle;
    QString pictureUrl;
    QString expansionMessage;
    int mode = Shorten;
    bool shortened = false;
    // One budget for all the rules a conversion tries, whichever file they come from.
    const QDeadlineTimer matchDeadline(kRuleMatchBudgetMs);
    bool rulesOutOfTime = false;

    if (m_forceFollow) {
        mode = HeaderProbe;
    } else if (IsLiveShortLink(input, m_endpoints.value(Endpoints::LiveShortDomain))) {
        mode = LiveLink;
    } else if (const ServiceLinkRule own =
                   MatchServiceLink(input, m_accounts ? m_accounts() : ShortenerAccounts());
               own.matched()) {
        // The user's own service comes before the file's rules, which cannot know its host.
        const ServiceExpansion expansion = ExpandServiceLink(input, own);
        if (run != m_run) {
            appendLog(input, expansion.longUrl);
            return;
        }
        pageTitle = expansion.pageTitle;
        expansionMessage = expansion.message;
        if (!expansion.longUrl.isEmpty()) {
            mode = Preview;
            afterUrl = expansion.longUrl;
        }
    } else if (const ShortLinkRules::Match rule = m_shortLinkRules.MatchShortLinkRule(input, matchDeadline);
               rule.matched) {
        if (!rule.pattern.isEmpty()) {
            const Expansion expansion = ExpandShortLink(input, rule.templ, rule.answer, m_endpoints);
            if (run != m_run) {
                appendLog(input, expansion.longUrl);
                return;
            }
            fetchedUrl = expansion.fetchedUrl;
            pageTitle = expansion.pageTitle;
            if (!expansion.longUrl.isEmpty()) {
                mode = Preview;
                afterUrl = expansion.longUrl;
            }
        } else if (rule.templ != u"Location:"_s) {
            mode = Preview;
            afterUrl = rule.templ;
        } else {
            mode = HeaderProbe;
        }
    } else if (rule.outOfTime) {
        rulesOutOfTime = true;
    } else {
        const bool isPicture =
            m_pictureRules.MatchPictureRule(input, pictureUrl, matchDeadline, &rulesOutOfTime);
        m_previewPicturePath = PreviewPicturePath(input, m_tempFolder);
        if (isPicture) {
            mode = Picture;
            afterUrl = pictureUrl;
        }
    }
    if (rulesOutOfTime) {
        // Which rule would have matched is not known: neither shortened nor previewed.
        m_mode = Shorten;
        m_view.setAfterUrl(QString());
        m_view.setMessage(u"規則ファイルの照合が"_s +
                          QString::number(double(kRuleMatchBudgetMs) / 1000, 'g', 3) +
                          u"秒で終わらないため、変換をやめました。"_s);
        appendLog(input, QString());
        Q_EMIT conversionFinished(Shorten);
        return;
    }
    QString serviceMessage;
    if (mode == Shorten) {
        if (const int type = shortUrlType(); IsServiceType(type)) {
            const ShortenOutcome outcome =
                ShortenWithService(input, type, m_accounts ? m_accounts() : ShortenerAccounts(), m_endpoints);
            afterUrl = outcome.shortUrl;
            serviceMessage = outcome.message;
        } else if (ShortenerHostUnset(type, m_endpoints)) {
            // The shipped host is a placeholder that never answers: say what to set instead of failing
            // on the name.
            serviceMessage = ShortenerHostUnsetMessage(type);
        } else {
            afterUrl = ShortenUrl(input, type, m_endpoints);
        }
        shortened = !afterUrl.isEmpty();
        if (run != m_run) {
            appendLog(input, afterUrl);
            return;
        }
    }

    m_mode = mode;
    m_view.setAfterUrl(afterUrl);
    switch (mode) {
    case Shorten:
        m_view.setMessage(shortened ? kShortened : kShorteningFailed);
        break;
    case Preview:
        m_view.setMessage(kPreviewed);
        break;
    default:
        m_view.setMessage(kProcessing);
        break;
    }
    appendLog(input, afterUrl);

    switch (mode) {
    case Picture:
        m_picture->start(afterUrl, m_previewPicturePath);
        break;
    case LiveLink:
    case HeaderProbe: {
        m_liveProbe = mode == LiveLink;
        m_upgraded = false;
        m_chain = !m_liveProbe && (m_forceFollow || (m_followChain && m_followChain()));
        m_hops.clear();
        m_probe->setProxy(m_proxy ? m_proxy() : ProxySetting());
        if (!probe(input)) {
            // Neither http nor https: probed as a plain link, as the rule asked.
            const UrlParts parts = SplitUrl(input);
            m_probeUrl = input;
            m_probeSecure = false;
            m_probe->StartRedirectProbe(parts.host, parts.path,
                                        quint16(parts.port > 0 && parts.port <= 65535 ? parts.port : 80));
        }
        break;
    }
    default:
        fillInfo(input, fetchedUrl, pageTitle);
        // The services' own words on why a link was not expanded, and why it gave no short link.
        if (mode == Shorten && !expansionMessage.isEmpty())
            m_view.insertAfterInfo(expansionMessage + u"\r\n"_s);
        if (mode == Shorten && !shortened && !serviceMessage.isEmpty())
            m_view.insertAfterInfo(serviceMessage + u"\r\n"_s);
        Q_EMIT conversionFinished(mode);
        break;
    }
}

void ConversionEngine::StartFollow()
{
    m_forceFollow = true;
    const auto reset = qScopeGuard([this] { m_forceFollow = false; });
    StartConv();
}

void ConversionEngine::fillInfo(const QString& input, const QString& fetchedUrl, const QString& pageTitle)
{
    const QString decodedInput = PercentDecode(input);
    if (decodedInput != input && decodedInput != u"ERROR"_s) {
        m_view.setBeforeInfoVisible(true);
        m_view.setBeforeInfo(decodedInput);
    }
    const QString afterUrl = m_view.afterUrl();
    const QString decodedAfter = PercentDecode(afterUrl);
    if (decodedAfter != afterUrl && decodedAfter != u"ERROR"_s)
        m_view.insertAfterInfo(decodedAfter);
    if (input.contains(u"http://"_s + m_endpoints.value(Endpoints::StoreHostPrefix))) {
        const QString item = ExtractStoreItemId(input);
        if (!item.isEmpty())
            m_view.insertAfterInfo(u"http://"_s + m_endpoints.value(Endpoints::StoreHost) + u"/dp/"_s + item +
                                   u"\r\n"_s);
    }
    const QString title = UnescapeUnicode(pageTitle);
    if (!title.isEmpty())
        m_view.insertAfterInfo(title + u"\r\n"_s);
    if (!fetchedUrl.isEmpty())
        m_view.insertAfterInfo(fetchedUrl + u"\r\n"_s);
    if (m_view.clipboardWanted() && !afterUrl.isEmpty())
        m_view.copyToClipboard(afterUrl);
}

bool ConversionEngine::probe(const QString& url)
{
    const UrlParts parts = SplitUrl(url);
    const bool secure = parts.scheme.compare(u"https"_s, Qt::CaseInsensitive) == 0;
    if (!secure && parts.scheme.compare(u"http"_s, Qt::CaseInsensitive) != 0)
        return false;
    m_probeUrl = url;
    m_probeSecure = secure;
    const quint16 port = quint16(parts.port > 0 && parts.port <= 65535 ? parts.port : secure ? 443 : 80);
    m_probe->StartRedirectProbe(parts.host, parts.path, port, secure);
    return true;
}

void ConversionEngine::chainHop(const QString& location)
{
    if (location.isEmpty()) {
        Q_EMIT conversionFinished(m_mode);
        return;
    }
    // A relative Location is read against the link that answered it; a "://" later in it (in a
    // query) does not make it absolute.
    QString next = location;
    if (!HasUrlScheme(location))
        next = QUrl(m_probeUrl).resolved(QUrl(location)).toString(QUrl::FullyEncoded);
    const bool seen = next == m_view.beforeUrl() || m_hops.contains(next);
    // The hop past the last one allowed is not taken; the box says why the chain stopped there.
    const bool tooLong = !seen && m_hops.size() >= kMaxChainHops;
    if (!seen && !tooLong)
        m_hops.append(next);
    m_view.setAfterUrl(m_hops.isEmpty() ? QString() : m_hops.last());
    QStringList lines = m_hops;
    if (seen)
        lines.append(kChainLoop);
    else if (tooLong)
        lines.append(kChainTooLong);
    m_view.setAfterInfo(lines.join(u"\r\n"_s));
    if (seen || tooLong || !probe(next))
        Q_EMIT conversionFinished(m_mode);
}

void ConversionEngine::onProbeAnswered(const QString& headerBlock)
{
    const quint64 run = m_run;
    const QString location = ProbeLocation(headerBlock);
    // A host that only moves the link to its HTTPS form has not told where the link leads yet.
    if (!m_probeSecure && !m_upgraded) {
        const UrlParts asked = SplitUrl(m_probeUrl);
        if (const quint16 port = HttpsUpgradePort(location, asked.host, asked.path); port != 0) {
            m_upgraded = true;
            m_probeUrl = location;
            m_probeSecure = true;
            m_probe->StartRedirectProbe(asked.host, asked.path, port, true);
            return;
        }
    }
    if (m_chain) {
        chainHop(location);
        return;
    }
    if (!m_liveProbe) {
        m_view.setAfterUrl(location);
        Q_EMIT conversionFinished(m_mode);
        return;
    }
    bool found = false;
    const QString liveLocation = LiveProbeLocation(headerBlock, &found);
    if (!found || !liveLocation.contains(u"/channel/"_s)) {
        m_view.setAfterUrl(liveLocation);
        Q_EMIT conversionFinished(m_mode);
        return;
    }
    QByteArray page;
    const qint64 got = HttpGetBytes(liveLocation, page, {}, {}, httpTextBodyLimit());
    if (run != m_run)
        return;
    if (got == 0) {
        // Without the page only the redirect's own target is known; no preview ran.
        m_view.setAfterUrl(liveLocation);
        m_view.setMessage(kChannelPageFailed);
        Q_EMIT conversionFinished(m_mode);
        return;
    }
    const QString text = PageBytesToText(page);
    m_view.setMessage(kPreviewed);
    static const RuleRegex channelUrl(u"channelUrl=\"(.*?)\""_s);
    static const RuleRegex title(u"<title>(.*?)<\\/title>"_s);
    QStringList groups;
    if (channelUrl.match(text, &groups))
        m_view.setAfterUrl(u"http://"_s + m_endpoints.value(Endpoints::LiveHost) + u"/channel/"_s +
                           TrimSpaces(groups.value(0)));
    if (title.match(text, &groups))
        m_view.setAfterInfo(TrimSpaces(groups.value(0)));
    Q_EMIT conversionFinished(m_mode);
}

void ConversionEngine::onProbeFailed(const QString& description)
{
    const quint64 run = m_run;
    m_boxes.show(platform::MessageBoxes::Icon::Exclamation, u"ERROR"_s, description);
    if (run == m_run)
        Q_EMIT conversionFinished(m_mode);
}

void ConversionEngine::onPictureFinished(PictureDownload::Outcome outcome, const QImage& picture)
{
    switch (outcome) {
    case PictureDownload::Outcome::Shown:
        m_view.setThumbnail(picture);
        m_view.setAfterInfoVisible(false);
        m_view.setThumbnailVisible(true);
        m_view.setMessage(kPictureShown);
        break;
    case PictureDownload::Outcome::DownloadFailed:
        m_view.setMessage(kPictureDownloadFailed);
        break;
    case PictureDownload::Outcome::NotAPicture:
        m_view.setMessage(kPictureUnreadable);
        break;
    }
    Q_EMIT conversionFinished(m_mode);
}

} // namespace linvera
