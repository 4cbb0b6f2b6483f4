#pragma once

#include "conv/Endpoints.h"
#include "conv/PreviewPicture.h"
#include "conv/RedirectProbe.h"
#include "conv/ServiceRules.h"
#include "conv/ShorteningServices.h"

#include "platform/MessageBoxes.h"
#include "verdict/DestinationCheck.h"

#include <QDate>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

namespace linvera {
class ConversionView;
class RedirectProbe;
class ServiceCall;

/// What a conversion does, decided from the input, the rules and the settings alone.
struct ConversionPlan
{
    enum class Step {
        OutOfTime,     ///< the rules did not finish matching within their budget
        Local,         ///< the result is known without asking anyone
        ExpandService, ///< the user's own service expands the link
        ExpandRule,    ///< a rule's API (or the service's info API) expands the link
        Shorten,       ///< no rule matched: the link is shortened
        Picture,       ///< a picture rule matched: the picture is downloaded
        Probe,         ///< the Location header answers (modes 3 and 4)
    };

    QString input;
    Step step = Step::Shorten;
    int mode = 0;
    /// A literal rule's target, or the picture's address.
    QString afterUrl;
    ServiceLinkRule serviceLink;
    ShortLinkRules::Match rule;
    /// Where a picture of this input is kept (set when the picture rules were asked).
    QString previewPicturePath;
};

/// What the engine reads of the program's settings. The application makes it from its own settings
/// and hands it over whole; a conversion keeps the value it started with.
struct EngineSettings
{
    /// The `lstShortURLType` index.
    int shortUrlType = 0;
    /// The self-hosted services' addresses and secrets.
    ShortenerAccounts accounts;
    /// The proxy the header probe goes through.
    ProxySetting proxy;
    /// Mode 4 follows the redirect chain to its end.
    bool followChain = false;
    /// Tracking parameters come off the after URL ("追跡用パラメータを取り除く").
    bool stripTrackers = false;
};

/// The settings one conversion reads.
struct ConversionSettings
{
    int shortUrlType = 0;
    ShortenerAccounts accounts;
    bool forceFollow = false;
};

/// The one operation that turns the before URL into a result (`StartConv`), with the state the
/// window and the automation interface read.
class ConversionEngine : public QObject
{
    Q_OBJECT

public:
    enum Mode { Shorten = 0, Preview = 1, Picture = 2, LiveLink = 3, HeaderProbe = 4 };

    ConversionEngine(ConversionView& view, platform::MessageBoxes& boxes, QObject* parent = nullptr);
    ~ConversionEngine() override;

    void setEndpoints(const Endpoints& endpoints) { m_endpoints = endpoints; }
    const Endpoints& endpoints() const { return m_endpoints; }
    void setLogFilePath(const QString& path) { m_logFilePath = path; }
    /// Keeps log lines until `flushLog`, until they make kLogBatchBytes or the first of them is
    /// kLogBatchMs old, and appends them together: a program converting a long list writes the log
    /// where it writes its output, not once a URL. Off by default: each run appends its line.
    void setLogBatched(bool batched);
    /// Appends the lines kept so far. Lines a full disk refuses together are tried one at a time,
    /// so as many are kept as when each was appended alone.
    void flushLog();
    static constexpr qsizetype kLogBatchBytes = 8 * 1024;
    static constexpr int kLogBatchMs = 1000;
    void setTempFolder(const QString& folder) { m_tempFolder = folder; }
    /// The caps and time-outs of this engine's requests: a download takes them as they are, a
    /// service's text answer within its own smaller cap.
    void setHttpLimits(const HttpLimits& limits);
    const HttpLimits& httpLimits() const { return m_httpLimits; }
    /// The bounds of this engine's header probes.
    void setProbeTimeouts(RedirectProbe::Timeouts timeouts);
    /// The settings the next conversion starts with (a running one keeps its own).
    void setSettings(const EngineSettings& settings) { m_settings = settings; }
    const EngineSettings& settings() const { return m_settings; }
    /// Where the last header probe connected.
    ProbeRoute lastProbeRoute() const;
    /// The lists the after URL is judged by (none: no verdict, nothing stripped). Not owned.
    void setDestinationCheck(const verdict::DestinationCheck* check) { m_check = check; }
    /// The verdict on the last run's after URL; not judged while the run has none.
    const verdict::DestinationCheck::Review& lastReview() const { return m_review; }
    /// Most hops a followed chain takes.
    static constexpr int kMaxChainHops = 10;
    /// Today's date for the log line.
    void setClock(std::function<QDate()> today) { m_today = std::move(today); }

    /// Loads both rule lists.
    void loadRules(const QString& shortLinkRulesPath, const QString& pictureRulesPath);
    ShortLinkRules& shortLinkRules() { return m_shortLinkRules; }
    PictureRules& pictureRules() { return m_pictureRules; }

    /// Starts a conversion of the before URL; a running one ends (its late answer is only logged).
    /// `whenRun` is called once the run has done what used to be its synchronous part: its expansion or
    /// shortening has been answered and shown (or a later run replaced it); at once when none was needed.
    void StartConv(std::function<void()> whenRun = {});
    /// Probes the before URL as mode 4 whatever the rules say, following the whole redirect chain.
    void StartFollow(std::function<void()> whenRun = {});

    /// How `input` converts, given the rules and the settings. The picture rules are asked only when
    /// no short-link rule matched.
    static ConversionPlan PlanConversion(const QString& input, const ConversionSettings& settings,
                                         const Endpoints& endpoints, const ShortLinkRules& shortLinkRules,
                                         const PictureRules& pictureRules, const QString& tempFolder);

    int lConvMode() const { return m_mode; }
    /// True while the last run's expansion or shortening is being answered.
    bool isProcessing() const;
    bool LiveProbe() const { return m_liveProbe; }
    QString previewPicturePath() const { return m_previewPicturePath; }
    /// True while a probe, a channel page or a picture download of the last run is under way.
    bool isWaiting() const;

    /// How long one conversion may spend matching the rules of both files together; past it the
    /// conversion ends with a message.
    static constexpr int kRuleMatchBudgetMs = 2000;

    /// The message of a run whose probe or picture download is under way (it stays when it ends).
    static QString processingMessage();
    /// The log line of one run, without its CR LF. A control character in a field is written as
    /// %XX (its UTF-8 bytes), so that no field can end the line.
    static QString LogLine(const QDate& date, const QString& input, const QString& afterUrl);

Q_SIGNALS:
    /// The last run's result is complete: at the end of `StartConv` for modes 0 and 1, when the
    /// probe or the download ends for the others. Not sent for runs that a later run replaced.
    void conversionFinished(int mode);
    /// A box for the user (a probe's failure, the log that cannot be written). The receiver shows it
    /// before returning; a probe failure's `conversionFinished` follows when it returns.
    void messageBoxRequested(linvera::platform::MessageBoxes::Icon icon, const QString& title,
                             const QString& text);

private:
    void appendLog(const QString& input, const QString& afterUrl);
    /// Appends one or more whole lines; tells the user the first time it fails.
    bool writeLog(QByteArrayView lines);
    void startService(ServiceCall* call);
    /// The run's expansion answered.
    void expanded(const QString& longUrl, const QString& fetchedUrl, const QString& pageTitle,
                  const QString& message);
    void shorten();
    void shortened(const QString& afterUrl, const QString& message);
    /// Shows the result of a run of modes 0 and 1 and ends it.
    void finishLocal(int mode, const QString& afterUrl, const QString& fetchedUrl, const QString& pageTitle,
                     const QString& expansionMessage, const QString& serviceMessage);
    void startNetworkStep(int mode, const QString& afterUrl);
    void runDone();
    void onChannelPage(const QString& liveLocation, const QByteArray& page);
    void fillInfo(const QString& input, const QString& fetchedUrl, const QString& pageTitle);
    /// Judges the after URL (without its trackers when the setting asks and `mayStrip`) and returns
    /// the URL to show and log.
    QString review(const QString& afterUrl, bool mayStrip);
    /// The review's lines, after the designed ones.
    void showReview();
    /// The verdict line of one hop of a followed chain, when it is not ok.
    QString hopVerdictLine(const QString& hop) const;
    void onProbeAnswered(const QString& headerBlock);
    void onProbeFailed(const QString& description);
    void onPictureFinished(PictureDownload::Outcome outcome);
    /// Probes `url` (http or https); false when it is neither.
    bool probe(const QString& url);
    void chainHop(const QString& location);

    ConversionView& m_view;
    /// Only for the rule files' own messages while they load.
    platform::MessageBoxes& m_boxes;
    Endpoints m_endpoints;
    ShortLinkRules m_shortLinkRules;
    PictureRules m_pictureRules;
    RedirectProbe* m_probe;
    PictureDownload* m_picture;
    QString m_logFilePath;
    QString m_tempFolder;
    HttpLimits m_httpLimits;
    bool m_logFailureShown = false;
    bool m_logBatched = false;
    /// Log lines not yet appended.
    QByteArray m_pendingLog;
    QElapsedTimer m_pendingSince;
    QString m_previewPicturePath;
    EngineSettings m_settings;
    /// What the last run started with.
    EngineSettings m_runSettings;
    std::function<QDate()> m_today;
    const verdict::DestinationCheck* m_check = nullptr;
    verdict::DestinationCheck::Review m_review;
    /// The link the running probe asked for.
    QString m_probeUrl;
    bool m_probeSecure = false;
    bool m_upgraded = false;
    bool m_chain = false;
    bool m_forceFollow = false;
    QStringList m_hops;
    /// The chain as the information area shows it: each hop, and its verdict when it is not ok.
    QStringList m_chainLines;
    int m_mode = 0;
    bool m_liveProbe = false;
    /// Numbers the runs: a late answer or a queued box of a replaced run leaves the later run alone.
    quint64 m_run = 0;
    /// The plan of the run whose expansion or shortening is under way.
    ConversionPlan m_plan;
    QString m_expansionMessage;
    QString m_fetchedUrl;
    QString m_pageTitle;
    /// The last run's expansion or shortening; a replaced run's keeps going only to write its log line.
    QPointer<ServiceCall> m_call;
    QPointer<ServiceCall> m_channelPage;
    std::function<void()> m_whenRun;
};

} // namespace linvera
