#include "conv/ConversionEngine.h"

#include "codec/PercentCoding.h"
#include "codec/Utf8Convert.h"
#include "conv/ConversionView.h"
#include "conv/HttpClient.h"
#include "conv/RedirectProbe.h"
#include "conv/RuleRegex.h"
#include "conv/ServiceCall.h"
#include "conv/ShortenerClient.h"
#include "conv/UrlParts.h"
#include "platform/AnsiCodec.h"
#include "platform/AppInfo.h"
#include "platform/FileAppend.h"
#include "platform/MessageBoxes.h"

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
    , m_today(&QDate::currentDate)
{
    connect(m_probe, &RedirectProbe::answered, this, &ConversionEngine::onProbeAnswered);
    // The failure's box may wait for its user in a modal loop. Not inside the probe socket's signal:
    // there the socket, and its descriptor, would be kept until the box is closed. A run started
    // meanwhile has replaced the failed one, whose box is then not shown.
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

ConversionEngine::~ConversionEngine()
{
    flushLog();
}

void ConversionEngine::setHttpLimits(const HttpLimits& limits)
{
    m_httpLimits = limits;
    m_picture->setLimits(limits);
}

void ConversionEngine::setProbeTimeouts(RedirectProbe::Timeouts timeouts)
{
    m_probe->setTimeouts(timeouts);
}

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
    return m_probe->isRunning() || m_picture->isRunning() || (m_channelPage && m_channelPage->isRunning());
}

bool ConversionEngine::isProcessing() const
{
    return m_call && m_call->isRunning();
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
    const QByteArray line =
        platform::AnsiCodec::encode(QString(LogLine(m_today(), input, afterUrl) + u"\r\n"_s));
    if (!m_logBatched) {
        writeLog(line);
        return;
    }
    if (m_pendingLog.isEmpty())
        m_pendingSince.start();
    m_pendingLog += line;
    if (m_pendingLog.size() >= kLogBatchBytes || m_pendingSince.hasExpired(kLogBatchMs))
        flushLog();
}

void ConversionEngine::setLogBatched(bool batched)
{
    if (!batched)
        flushLog();
    m_logBatched = batched;
}

void ConversionEngine::flushLog()
{
    if (m_pendingLog.isEmpty())
        return;
    const QByteArray lines = std::exchange(m_pendingLog, {});
    // One append for all. Refused (a disk nearly full), the lines go one at a time, as many as fit;
    // the first one refused ends it, so a log held by another program costs one more wait, not one
    // a line. A log line holds no LF of its own (LogLine writes control characters as %XX).
    const bool oneLine = lines.indexOf('\n') == lines.size() - 1;
    if (!oneLine && platform::AppendToFile(m_logFilePath, lines))
        return;
    for (qsizetype start = 0; start < lines.size();) {
        const qsizetype end = lines.indexOf('\n', start) + 1;
        if (!writeLog(QByteArrayView(lines).sliced(start, end - start)))
            return;
        start = end;
    }
}

bool ConversionEngine::writeLog(QByteArrayView lines)
{
    const bool written = platform::AppendToFile(m_logFilePath, lines);
    // Told once a run: a full disk or a read-only folder would otherwise interrupt every conversion.
    if (!written && !m_logFailureShown) {
        m_logFailureShown = true;
        Q_EMIT messageBoxRequested(platform::MessageBoxes::Icon::Exclamation, AppTitle(),
                                   u"ログファイルに書き込めません。変換の記録は残りません。\n"_s +
                                       m_logFilePath);
    }
    return written;
}

ConversionPlan ConversionEngine::PlanConversion(const QString& input, const ConversionSettings& settings,
                                                const Endpoints& endpoints,
                                                const ShortLinkRules& shortLinkRules,
                                                const PictureRules& pictureRules, const QString& tempFolder)
{
    ConversionPlan plan;
    plan.input = input;
    // One budget for all the rules a conversion tries, whichever file they come from.
    const QDeadlineTimer matchDeadline(kRuleMatchBudgetMs);
    if (settings.forceFollow) {
        plan.step = ConversionPlan::Step::Probe;
        plan.mode = HeaderProbe;
    } else if (IsLiveShortLink(input, endpoints.value(Endpoints::LiveShortDomain))) {
        plan.step = ConversionPlan::Step::Probe;
        plan.mode = LiveLink;
    } else if (const ServiceLinkRule own = MatchServiceLink(input, settings.accounts); own.matched()) {
        // The user's own service comes before the file's rules, which cannot know its host.
        plan.step = ConversionPlan::Step::ExpandService;
        plan.serviceLink = own;
    } else if (ShortLinkRules::Match rule = shortLinkRules.MatchShortLinkRule(input, matchDeadline);
               rule.matched) {
        if (!rule.pattern.isEmpty()) {
            plan.step = ConversionPlan::Step::ExpandRule;
            plan.rule = std::move(rule);
        } else if (rule.templ != u"Location:"_s) {
            plan.step = ConversionPlan::Step::Local;
            plan.mode = Preview;
            plan.afterUrl = rule.templ;
        } else {
            plan.step = ConversionPlan::Step::Probe;
            plan.mode = HeaderProbe;
        }
    } else if (rule.outOfTime) {
        plan.step = ConversionPlan::Step::OutOfTime;
    } else {
        bool outOfTime = false;
        QString pictureUrl;
        const bool isPicture = pictureRules.MatchPictureRule(input, pictureUrl, matchDeadline, &outOfTime);
        plan.previewPicturePath = PreviewPicturePath(input, tempFolder);
        if (outOfTime) {
            plan.step = ConversionPlan::Step::OutOfTime;
        } else if (isPicture) {
            plan.step = ConversionPlan::Step::Picture;
            plan.mode = Picture;
            plan.afterUrl = pictureUrl;
        }
    }
    return plan;
}

void ConversionEngine::StartConv(std::function<void()> whenRun)
{
    const auto done = qScopeGuard([&whenRun] {
        if (whenRun)
            whenRun();
    });
    // Whatever this run finds, the last one's verdict is no longer the answer.
    m_review = {};
    if (m_view.beforeUrl().isEmpty())
        return;
    ++m_run;
    // A change of the settings from here on is for the next run.
    m_runSettings = m_settings;
    m_probe->cancel();
    m_picture->cancel();
    if (m_channelPage) {
        m_channelPage->cancel();
        m_channelPage->deleteLater();
    }
    // A replaced run's expansion or shortening still writes its log line when it is answered.
    m_call = nullptr;
    if (const auto replaced = std::exchange(m_whenRun, {}))
        replaced();

    const QString input = TrimSpaces(m_view.beforeUrl());
    m_view.setBeforeUrl(input);
    m_view.setCaption(input);
    m_view.setAfterUrl(QString());
    m_review = {};
    m_view.setAfterInfo(QString());
    m_view.setBeforeInfoVisible(false);
    m_view.setThumbnail(QString());
    m_view.setThumbnailVisible(false);
    m_view.setAfterInfoVisible(true);

    ConversionSettings settings;
    settings.forceFollow = m_forceFollow;
    if (!m_forceFollow && !IsLiveShortLink(input, m_endpoints.value(Endpoints::LiveShortDomain)))
        settings.accounts = m_runSettings.accounts;
    m_plan = PlanConversion(input, settings, m_endpoints, m_shortLinkRules, m_pictureRules, m_tempFolder);
    m_expansionMessage.clear();
    m_fetchedUrl.clear();
    m_pageTitle.clear();
    if (!m_plan.previewPicturePath.isEmpty())
        m_previewPicturePath = m_plan.previewPicturePath;

    switch (m_plan.step) {
    case ConversionPlan::Step::OutOfTime:
        // Which rule would have matched is not known: neither shortened nor previewed.
        m_mode = Shorten;
        m_view.setAfterUrl(QString());
        m_view.setMessage(u"規則ファイルの照合が"_s +
                          QString::number(double(kRuleMatchBudgetMs) / 1000, 'g', 3) +
                          u"秒で終わらないため、変換をやめました。"_s);
        appendLog(input, QString());
        Q_EMIT conversionFinished(Shorten);
        return;
    case ConversionPlan::Step::Local:
        finishLocal(Preview, m_plan.afterUrl, QString(), QString(), QString(), QString());
        return;
    case ConversionPlan::Step::ExpandService: {
        const quint64 run = m_run;
        startService(ExpandServiceLink(
                         input, m_plan.serviceLink,
                         [this, run, input](const ServiceExpansion& e) {
                             if (run != m_run)
                                 appendLog(input, e.longUrl);
                             else
                                 expanded(e.longUrl, QString(), e.pageTitle, e.message);
                         },
                         m_httpLimits)
                         .release());
        break;
    }
    case ConversionPlan::Step::ExpandRule: {
        const quint64 run = m_run;
        startService(ExpandShortLink(
                         input, m_plan.rule.templ, m_plan.rule.answer, m_endpoints,
                         [this, run, input](const Expansion& e) {
                             if (run != m_run)
                                 appendLog(input, e.longUrl);
                             else
                                 expanded(e.longUrl, e.fetchedUrl, e.pageTitle, QString());
                         },
                         m_httpLimits)
                         .release());
        break;
    }
    case ConversionPlan::Step::Shorten:
        shorten();
        break;
    case ConversionPlan::Step::Picture:
    case ConversionPlan::Step::Probe:
        startNetworkStep(m_plan.mode, m_plan.afterUrl);
        return;
    }
    // Called when the expansion or shortening has been answered.
    if (isProcessing()) {
        m_whenRun = std::move(whenRun);
        whenRun = {};
    }
}

void ConversionEngine::startService(ServiceCall* call)
{
    call->setParent(this);
    connect(call, &ServiceCall::ended, call, &QObject::deleteLater);
    m_call = call;
}

void ConversionEngine::expanded(const QString& longUrl, const QString& fetchedUrl, const QString& pageTitle,
                                const QString& message)
{
    if (!longUrl.isEmpty()) {
        finishLocal(Preview, longUrl, fetchedUrl, pageTitle, QString(), QString());
        return;
    }
    // Not expanded: shortened instead, with what the service said.
    m_pageTitle = pageTitle;
    m_fetchedUrl = fetchedUrl;
    m_expansionMessage = message;
    shorten();
}

void ConversionEngine::shorten()
{
    const quint64 run = m_run;
    const QString input = m_plan.input;
    const auto answered = [this, run, input](const QString& afterUrl, const QString& message) {
        if (run != m_run)
            appendLog(input, afterUrl);
        else
            shortened(afterUrl, message);
    };
    if (const int type = m_runSettings.shortUrlType; IsServiceType(type)) {
        startService(ShortenWithService(
                         input, type, m_runSettings.accounts, m_endpoints,
                         [answered](const ShortenOutcome& o) { answered(o.shortUrl, o.message); },
                         m_httpLimits)
                         .release());
    } else if (ShortenerHostUnset(type, m_endpoints)) {
        // The shipped host is a placeholder that never answers: say what to set instead of failing
        // on the name.
        shortened(QString(), ShortenerHostUnsetMessage(type));
    } else {
        startService(ShortenUrl(
                         input, type, m_endpoints,
                         [answered](const QString& shortUrl) { answered(shortUrl, {}); }, m_httpLimits)
                         .release());
    }
}

void ConversionEngine::shortened(const QString& afterUrl, const QString& message)
{
    finishLocal(Shorten, afterUrl, m_fetchedUrl, m_pageTitle, m_expansionMessage, message);
}

void ConversionEngine::finishLocal(int mode, const QString& afterUrl, const QString& fetchedUrl,
                                   const QString& pageTitle, const QString& expansionMessage,
                                   const QString& serviceMessage)
{
    const QString& input = m_plan.input;
    const bool shortened = !afterUrl.isEmpty();
    m_mode = mode;
    // Shown, copied and logged without its trackers when the setting asks.
    m_view.setAfterUrl(review(afterUrl, true));
    if (mode == Shorten)
        m_view.setMessage(shortened ? kShortened : kShorteningFailed);
    else
        m_view.setMessage(kPreviewed);
    appendLog(input, m_view.afterUrl());
    fillInfo(input, fetchedUrl, pageTitle);
    // The services' own words on why a link was not expanded, and why it gave no short link.
    if (mode == Shorten && !expansionMessage.isEmpty())
        m_view.insertAfterInfo(expansionMessage + u"\r\n"_s);
    if (mode == Shorten && !shortened && !serviceMessage.isEmpty())
        m_view.insertAfterInfo(serviceMessage + u"\r\n"_s);
    showReview();
    // Taken first: a receiver of the signal may start the next run.
    const auto whenRun = std::exchange(m_whenRun, {});
    Q_EMIT conversionFinished(mode);
    if (whenRun)
        whenRun();
}

void ConversionEngine::startNetworkStep(int mode, const QString& afterUrl)
{
    const QString& input = m_plan.input;
    m_mode = mode;
    m_view.setAfterUrl(afterUrl);
    m_view.setMessage(kProcessing);
    appendLog(input, afterUrl);
    if (mode == Picture) {
        // The picture is fetched from where the rule says: judged, never changed.
        review(afterUrl, false);
        showReview();
        m_picture->start(afterUrl, m_previewPicturePath);
        return;
    }
    m_liveProbe = mode == LiveLink;
    m_upgraded = false;
    m_chain = !m_liveProbe && (m_forceFollow || m_runSettings.followChain);
    m_hops.clear();
    m_chainLines.clear();
    m_probe->setProxy(m_runSettings.proxy);
    if (!probe(input)) {
        // Neither http nor https: probed as a plain link, as the rule asked.
        const UrlParts parts = SplitUrl(input);
        m_probeUrl = input;
        m_probeSecure = false;
        m_probe->StartRedirectProbe(parts.host, parts.path,
                                    quint16(parts.port > 0 && parts.port <= 65535 ? parts.port : 80));
    }
}

void ConversionEngine::StartFollow(std::function<void()> whenRun)
{
    m_forceFollow = true;
    const auto reset = qScopeGuard([this] { m_forceFollow = false; });
    StartConv(std::move(whenRun));
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
    // The chain's end: its last hop is the after URL, judged as any other. Its verdict is shown once,
    // as the destination's, after the designed lines (and after why the chain stopped).
    const auto finishChain = [this](const QString& stop) {
        QStringList lines = m_chainLines;
        if (!m_hops.isEmpty() && !lines.isEmpty() && lines.constLast() != m_hops.constLast())
            lines.removeLast();
        if (!stop.isEmpty())
            lines.append(stop);
        if (!lines.isEmpty())
            m_view.setAfterInfo(lines.join(u"\r\n"_s));
        if (!m_hops.isEmpty())
            m_view.setAfterUrl(review(m_hops.last(), true));
        showReview();
        Q_EMIT conversionFinished(m_mode);
    };
    if (location.isEmpty()) {
        finishChain(QString());
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
    if (seen || tooLong) {
        finishChain(seen ? kChainLoop : kChainTooLong);
        return;
    }
    m_hops.append(next);
    // Judged once, when the hop is taken.
    m_chainLines.append(next);
    if (const QString verdict = hopVerdictLine(next); !verdict.isEmpty())
        m_chainLines.append(verdict);
    m_view.setAfterUrl(next);
    m_view.setAfterInfo(m_chainLines.join(u"\r\n"_s));
    if (!probe(next))
        finishChain(QString());
}

QString ConversionEngine::hopVerdictLine(const QString& hop) const
{
    if (!m_check)
        return {};
    const verdict::DestinationCheck::Judgement& judged = m_check->judge(hop);
    return judged.verdict.judged && judged.verdict.level != verdict::VerdictLevel::Ok ? judged.line
                                                                                      : QString();
}

QString ConversionEngine::review(const QString& afterUrl, bool mayStrip)
{
    m_review = {};
    m_review.afterUrl = afterUrl;
    if (m_check && !afterUrl.isEmpty())
        m_review = m_check->review(afterUrl, mayStrip && m_runSettings.stripTrackers);
    return m_review.afterUrl;
}

void ConversionEngine::showReview()
{
    for (const QString& line : std::as_const(m_review.infoLines))
        m_view.appendAfterInfoLine(line);
}

void ConversionEngine::onProbeAnswered(const QString& headerBlock)
{
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
        m_view.setAfterUrl(review(location, true));
        showReview();
        Q_EMIT conversionFinished(m_mode);
        return;
    }
    bool found = false;
    const QString liveLocation = LiveProbeLocation(headerBlock, &found);
    if (!found || !liveLocation.contains(u"/channel/"_s)) {
        m_view.setAfterUrl(review(liveLocation, true));
        showReview();
        Q_EMIT conversionFinished(m_mode);
        return;
    }
    auto* call = new ServiceCall(this);
    connect(call, &ServiceCall::ended, call, &QObject::deleteLater);
    m_channelPage = call;
    call->start({liveLocation, QString(), std::nullopt, QString(), ServiceTextLimits(m_httpLimits)},
                [this, liveLocation](const QByteArray& page) { onChannelPage(liveLocation, page); });
}

void ConversionEngine::onChannelPage(const QString& liveLocation, const QByteArray& page)
{
    if (page.isEmpty()) {
        // Without the page only the redirect's own target is known; no preview ran.
        m_view.setAfterUrl(review(liveLocation, true));
        m_view.setMessage(kChannelPageFailed);
        showReview();
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
    review(m_view.afterUrl(), false);
    showReview();
    Q_EMIT conversionFinished(m_mode);
}

void ConversionEngine::onProbeFailed(const QString& description)
{
    const quint64 run = m_run;
    Q_EMIT messageBoxRequested(platform::MessageBoxes::Icon::Exclamation, u"ERROR"_s, description);
    if (run == m_run)
        Q_EMIT conversionFinished(m_mode);
}

void ConversionEngine::onPictureFinished(PictureDownload::Outcome outcome)
{
    // The view decodes the picture it shows; one it cannot show is told as one that is none.
    if (outcome == PictureDownload::Outcome::Saved && !m_view.setThumbnail(m_previewPicturePath))
        outcome = PictureDownload::Outcome::NotAPicture;
    switch (outcome) {
    case PictureDownload::Outcome::Saved:
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
