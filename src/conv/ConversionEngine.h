#pragma once

#include "Endpoints.h"
#include "PreviewPicture.h"
#include "RedirectProbe.h"
#include "ServiceRules.h"
#include "ShorteningServices.h"

#include <QDate>
#include <QObject>
#include <QString>

#include <functional>

namespace linvera {
namespace platform {
class MessageBoxes;
}
class ConversionView;
class RedirectProbe;

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
    void setTempFolder(const QString& folder) { m_tempFolder = folder; }
    /// The proxy the header probe goes through, asked at every probe (none by default).
    void setProxySource(std::function<ProxySetting()> source) { m_proxy = std::move(source); }
    /// Where the last header probe connected.
    ProbeRoute lastProbeRoute() const;
    /// The settings' short-link form (`lstShortURLType` index); 0 until the application gives one.
    void setShortUrlTypeSource(std::function<int()> source) { m_shortUrlType = std::move(source); }
    /// The self-hosted services' addresses and secrets, asked at every shortening through them.
    void setShortenerAccountsSource(std::function<ShortenerAccounts()> source)
    {
        m_accounts = std::move(source);
    }
    /// Whether mode 4 follows the redirect chain to its end (false until the application says so).
    void setFollowChainSource(std::function<bool()> source) { m_followChain = std::move(source); }
    /// Most hops a followed chain takes.
    static constexpr int kMaxChainHops = 10;
    /// Today's date for the log line.
    void setClock(std::function<QDate()> today) { m_today = std::move(today); }

    /// Loads both rule lists.
    void loadRules(const QString& shortLinkRulesPath, const QString& pictureRulesPath);
    ShortLinkRules& shortLinkRules() { return m_shortLinkRules; }
    PictureRules& pictureRules() { return m_pictureRules; }

    void StartConv();
    /// Probes the before URL as mode 4 whatever the rules say, following the whole redirect chain.
    void StartFollow();

    int lConvMode() const { return m_mode; }
    /// True while a `StartConv` runs (also one that waits inside a fetch).
    bool isProcessing() const { return m_depth > 0; }
    bool LiveProbe() const { return m_liveProbe; }
    QString previewPicturePath() const { return m_previewPicturePath; }
    /// True while a probe or a picture download of the last run is under way.
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

private:
    void appendLog(const QString& input, const QString& afterUrl);
    void fillInfo(const QString& input, const QString& fetchedUrl, const QString& pageTitle);
    void onProbeAnswered(const QString& headerBlock);
    void onProbeFailed(const QString& description);
    void onPictureFinished(PictureDownload::Outcome outcome);
    int shortUrlType() const;
    /// Probes `url` (http or https); false when it is neither.
    bool probe(const QString& url);
    void chainHop(const QString& location);

    ConversionView& m_view;
    platform::MessageBoxes& m_boxes;
    Endpoints m_endpoints;
    ShortLinkRules m_shortLinkRules;
    PictureRules m_pictureRules;
    RedirectProbe* m_probe;
    PictureDownload* m_picture;
    QString m_logFilePath;
    QString m_tempFolder;
    bool m_logFailureShown = false;
    QString m_previewPicturePath;
    std::function<int()> m_shortUrlType;
    std::function<ProxySetting()> m_proxy;
    std::function<QDate()> m_today;
    std::function<bool()> m_followChain;
    std::function<ShortenerAccounts()> m_accounts;
    /// The link the running probe asked for.
    QString m_probeUrl;
    bool m_probeSecure = false;
    bool m_upgraded = false;
    bool m_chain = false;
    bool m_forceFollow = false;
    QStringList m_hops;
    int m_mode = 0;
    int m_depth = 0;
    bool m_liveProbe = false;
    /// Numbers the runs, so that a run that waited inside a fetch while a later one started leaves
    /// the later run's boxes alone.
    quint64 m_run = 0;
};

} // namespace linvera
