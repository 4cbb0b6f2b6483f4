#include "app/ui/WidgetMessageBoxes.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QPushButton>

namespace linvera {

namespace {

QMessageBox::Icon toQt(platform::MessageBoxes::Icon icon)
{
    using Icon = platform::MessageBoxes::Icon;
    switch (icon) {
    case Icon::Information:
        return QMessageBox::Information;
    case Icon::Exclamation:
        return QMessageBox::Warning;
    case Icon::Stop:
        return QMessageBox::Critical;
    case Icon::Question:
        return QMessageBox::Question;
    case Icon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

} // namespace

WidgetMessageBoxes::WidgetMessageBoxes(QWidget* owner)
    : m_owner(owner)
{}

platform::MessageBoxes::Answer WidgetMessageBoxes::show(Icon icon, const QString& title, const QString& text,
                                                        Buttons buttons)
{
    QMessageBox box(toQt(icon), title, text, QMessageBox::NoButton, m_owner);
    box.setTextFormat(Qt::PlainText);
    // The first button is the default, as on the original boxes; closing the box answers with the last.
    switch (buttons) {
    case Buttons::Ok:
        box.setDefaultButton(box.addButton(QMessageBox::Ok));
        box.setEscapeButton(QMessageBox::Ok);
        break;
    case Buttons::OkCancel:
        box.setDefaultButton(box.addButton(QMessageBox::Ok));
        box.setEscapeButton(box.addButton(QMessageBox::Cancel));
        break;
    case Buttons::YesNo:
        box.setDefaultButton(box.addButton(QMessageBox::Yes));
        box.setEscapeButton(box.addButton(QMessageBox::No));
        break;
    }
    box.exec();
    // A box that ended with no button pressed (the program ending while it was up) answers as a
    // close does: with its escape button.
    QAbstractButton* pressed = box.clickedButton();
    if (!pressed)
        pressed = box.escapeButton();
    switch (box.standardButton(pressed)) {
    case QMessageBox::Yes:
        return Answer::Yes;
    case QMessageBox::No:
        return Answer::No;
    case QMessageBox::Cancel:
        return Answer::Cancel;
    default:
        return Answer::Ok;
    }
}

} // namespace linvera
