#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

class QPlainTextEdit;

namespace linvera {

/// Shows a reply in a text box as it arrives, without holding up the window: the box is updated at
/// most once per interval, with what came since but no more than kMostPerUpdate characters at a
/// time (the rest follows at the next updates). A line longer than kLineWidth is shown broken (a
/// single long line costs the box a whole layout at every update), and no more than kShownLimit
/// characters are shown: the replies of these services are a few hundred bytes. Characters outside
/// Latin, common punctuation and the Japanese scripts are shown as U+FFFD.
class ReplyTextFeed : public QObject
{
    Q_OBJECT

public:
    static constexpr int kIntervalMs = 100;
    static constexpr qsizetype kLineWidth = 1024;
    static constexpr qsizetype kShownLimit = 16 * 1024;
    static constexpr qsizetype kMostPerUpdate = 4 * 1024;

    explicit ReplyTextFeed(QPlainTextEdit* box, QObject* parent = nullptr);

    /// Empties the box and forgets what was waiting.
    void clear();
    /// Queues text for the next update.
    void add(const QString& text);
    /// The reply has ended: what waits is shown now, or from now on at every update when it is
    /// more than one update takes.
    void flush();

private:
    void show();

    QPlainTextEdit* m_box;
    QTimer m_timer;
    QString m_pending;
    /// Characters shown so far, line breaks added for display included.
    qsizetype m_shown = 0;
    qsizetype m_column = 0;
    bool m_cut = false;
    bool m_ended = false;
};

} // namespace linvera
