#include "RecordingMessageBoxes.h"

#include <QStringList>

RecordingMessageBoxes::Answer RecordingMessageBoxes::show(Icon icon, const QString& title,
                                                          const QString& text, Buttons buttons)
{
    m_shown.append({icon, title, text, buttons});
    if (!m_answers.isEmpty())
        return m_answers.takeFirst();
    return buttons == Buttons::YesNo ? Answer::Yes : Answer::Ok;
}

QStringList RecordingMessageBoxes::texts() const
{
    QStringList list;
    for (const Shown& box : m_shown)
        list.append(box.text);
    return list;
}

void RecordingMessageBoxes::clear()
{
    m_shown.clear();
    m_answers.clear();
}
