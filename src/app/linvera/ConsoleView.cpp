#include "app/linvera/ConsoleView.h"

#include "conv/ConversionEngine.h"

#include <cstdio>

using namespace Qt::StringLiterals;

namespace linvera {

QStringList ConsoleView::resultLines() const
{
    QStringList lines{afterUrl()};
    if (beforeInfoVisible && !beforeInfo.isEmpty())
        lines.append(beforeInfo);
    const QStringList infoLines =
        QString(afterInfo).replace(u"\r\n"_s, u"\n"_s).split(u'\n', Qt::SkipEmptyParts);
    lines.append(infoLines);
    return lines;
}

QString ConsoleView::finishedMessage() const
{
    return message == ConversionEngine::processingMessage() ? QString() : message;
}

QString ConsoleMessageBoxes::takeErrors()
{
    const QString errors = m_errors.join(u'\n');
    m_errors.clear();
    return errors;
}

ConsoleMessageBoxes::Answer ConsoleMessageBoxes::show(Icon, const QString& title, const QString& text,
                                                      Buttons buttons)
{
    if (title == u"ERROR"_s)
        m_errors.append(text);
    std::fprintf(stderr, "%s: %s\n", title.toLocal8Bit().constData(), text.toLocal8Bit().constData());
    switch (buttons) {
    case Buttons::Ok:
        return Answer::Ok;
    case Buttons::OkCancel:
        return Answer::Cancel;
    case Buttons::YesNo:
        return Answer::No;
    }
    return Answer::Ok;
}

} // namespace linvera
