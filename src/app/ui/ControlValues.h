#pragma once

class QCheckBox;
class QComboBox;

namespace linvera {

/// A check box's value as stored: 0 unchecked, 1 checked, 2 grayed.
int CheckValue(const QCheckBox& box);
/// Sets a check box to a stored value. Any value but 0, 1 or 2 is refused (false) and changes nothing.
/// A change raises the box's state-change handling; the same value raises nothing.
bool SetCheckValue(QCheckBox& box, int value);

/// Selects a list entry by a stored index; -1 selects none. An index outside the list is refused
/// (false) and changes nothing.
bool SetListIndex(QComboBox& list, int index);

} // namespace linvera
