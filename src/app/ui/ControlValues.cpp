#include "app/ui/ControlValues.h"

#include <QCheckBox>
#include <QComboBox>

namespace linvera {

int CheckValue(const QCheckBox& box)
{
    switch (box.checkState()) {
    case Qt::Checked:
        return 1;
    case Qt::PartiallyChecked:
        return 2;
    default:
        return 0;
    }
}

bool SetCheckValue(QCheckBox& box, int value)
{
    switch (value) {
    case 0:
        box.setCheckState(Qt::Unchecked);
        return true;
    case 1:
        box.setCheckState(Qt::Checked);
        return true;
    case 2:
        // setCheckState makes the box tristate; a click must not lead into the grayed state again.
        if (box.checkState() != Qt::PartiallyChecked) {
            box.setCheckState(Qt::PartiallyChecked);
            QObject::connect(
                &box, &QCheckBox::stateChanged, &box,
                [&box](int state) {
                    if (state != Qt::PartiallyChecked)
                        box.setTristate(false);
                },
                Qt::SingleShotConnection);
        }
        return true;
    default:
        return false;
    }
}

bool SetListIndex(QComboBox& list, int index)
{
    if (index < -1 || index >= list.count())
        return false;
    list.setCurrentIndex(index);
    return true;
}

} // namespace linvera
