#pragma once

#include "platform/MessageBoxes.h"

#include <QPointer>
#include <QWidget>

namespace linvera {

/// Message boxes shown as modal QMessageBox windows with the requested icon, title, text and buttons.
class WidgetMessageBoxes : public platform::MessageBoxes
{
public:
    explicit WidgetMessageBoxes(QWidget* owner = nullptr);

    /// The window the boxes are centred on and modal to; none makes them application-modal.
    void setOwner(QWidget* owner) { m_owner = owner; }

    Answer show(Icon icon, const QString& title, const QString& text, Buttons buttons = Buttons::Ok) override;

private:
    QPointer<QWidget> m_owner;
};

} // namespace linvera
