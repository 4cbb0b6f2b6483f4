#include "app/ui/ReplyTextFeed.h"

#include <QPlainTextEdit>
#include <QTextCursor>

using namespace Qt::StringLiterals;

namespace linvera {
namespace {

/// Latin, the punctuation and the Japanese scripts that the services' replies are written in. Any
/// other character is shown as U+FFFD: a host that sends characters of many scripts (or bytes that
/// decode to them) would otherwise have the window load one fallback font after another, each
/// load holding it up for tens of milliseconds.
bool shownAsItIs(char16_t c)
{
    return (c >= 0x20 && c <= 0x7E) || (c >= 0xA0 && c <= 0x24F) || (c >= 0x2010 && c <= 0x2027) ||
           (c >= 0x2030 && c <= 0x205E) || (c >= 0x3000 && c <= 0x30FF) || (c >= 0x3400 && c <= 0x4DBF) ||
           (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFF00 && c <= 0xFFEF) ||
           c == 0xFFFD || c == u'\t';
}

} // namespace

ReplyTextFeed::ReplyTextFeed(QPlainTextEdit* box, QObject* parent)
    : QObject(parent)
    , m_box(box)
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(kIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &ReplyTextFeed::show);
}

void ReplyTextFeed::clear()
{
    m_timer.stop();
    m_pending.clear();
    m_shown = 0;
    m_column = 0;
    m_cut = false;
    m_ended = false;
    m_box->clear();
}

void ReplyTextFeed::add(const QString& text)
{
    if (m_cut || text.isEmpty())
        return;
    // What could never be shown is not kept either (one more character tells that there was more).
    const qsizetype room = kShownLimit - m_shown - m_pending.size() + 1;
    m_pending += room >= text.size() ? text : text.left(qMax(qsizetype(0), room));
    if (!m_timer.isActive())
        m_timer.start();
}

void ReplyTextFeed::flush()
{
    m_ended = true;
    show();
}

void ReplyTextFeed::show()
{
    m_timer.stop();
    qsizetype take = qMin(m_pending.size(), kMostPerUpdate);
    // A CR at the end may be the first half of a CR LF: it waits for its LF, or the reply's end.
    if (take > 0 && m_pending.at(take - 1) == u'\r' && !(m_ended && take == m_pending.size()))
        --take;
    if (take == 0 || m_cut)
        return;
    QString shown;
    shown.reserve(take + take / kLineWidth + 2);
    for (qsizetype i = 0; i < take; ++i) {
        const QChar c = m_pending.at(i);
        if (m_shown + shown.size() >= kShownLimit) {
            m_cut = true;
            shown += u"\n…"_s;
            break;
        }
        if (c == u'\r' || c == u'\n') {
            m_column = 0;
        } else if (m_column == kLineWidth) {
            shown += u'\n';
            m_column = 0;
        }
        if (c != u'\r' && c != u'\n')
            ++m_column;
        shown += c == u'\r' || c == u'\n' || shownAsItIs(c.unicode()) ? c : QChar(0xFFFD);
    }
    m_pending.remove(0, take);
    m_shown += shown.size();
    QTextCursor cursor(m_box->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(shown);
    if (!m_pending.isEmpty() && !m_cut)
        m_timer.start();
}

} // namespace linvera
