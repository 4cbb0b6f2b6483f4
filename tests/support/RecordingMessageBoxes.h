#pragma once

#include "platform/MessageBoxes.h"

#include <QList>
#include <QString>
#include <QStringList>

/// Message boxes for tests: each box is recorded instead of shown, and answered with the next queued
/// answer, or, when none is queued, with its first button (what Enter would choose).
class RecordingMessageBoxes : public linvera::platform::MessageBoxes
{
public:
    struct Shown
    {
        Icon icon = Icon::None;
        QString title;
        QString text;
        Buttons buttons = Buttons::Ok;
    };

    Answer show(Icon icon, const QString& title, const QString& text, Buttons buttons = Buttons::Ok) override;

    /// The answer for the next box shown; several calls queue answers in order.
    void queueAnswer(Answer answer) { m_answers.append(answer); }
    /// Every box shown so far, oldest first.
    const QList<Shown>& shown() const { return m_shown; }
    /// The texts of the boxes shown so far.
    QStringList texts() const;
    /// Answers not used yet.
    qsizetype pendingAnswers() const { return m_answers.size(); }
    void clear();

private:
    QList<Shown> m_shown;
    QList<Answer> m_answers;
};
