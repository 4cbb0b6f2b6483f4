#pragma once

#include "conv/PlainView.h"
#include "platform/MessageBoxes.h"

#include <QString>

namespace linvera::bench {

/// The plain view: the cheapest there is, so the figures are the engine's.
using BenchView = PlainView;

/// Counts the boxes instead of showing them; a box during a measurement means the set-up is wrong.
class CountingMessageBoxes : public platform::MessageBoxes
{
public:
    Answer show(Icon, const QString&, const QString& text, Buttons) override
    {
        ++m_count;
        m_lastText = text;
        return Answer::Ok;
    }

    int count() const { return m_count; }
    QString lastText() const { return m_lastText; }
    void reset() { m_count = 0; }

private:
    int m_count = 0;
    QString m_lastText;
};

} // namespace linvera::bench
