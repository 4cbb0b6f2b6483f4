#pragma once

namespace linvera {

class frmMain;
class frmSettings;
class SettingsModel;

/// The position check: an edge below 0 or beyond the screen goes to 0; one equal to the screen stays.
double CheckedEdge(double edge, double screenSize);

/// Applies the model's settings (as read from the store) to the windows' controls in the table order,
/// with the position check after "FormX" and "FormY". A setting that cannot be applied is skipped; the
/// next ones still apply. Afterwards the model holds what the controls show.
/// `screenTwips` is the screen's size in twips.
void ApplySettings(frmMain& main, frmSettings& settings, SettingsModel& model, double screenWidthTwips,
                   double screenHeightTwips);

/// Takes the main window's edges and clipboard box into the model and writes the settings back.
void SaveSettings(const frmMain& main, SettingsModel& model);

} // namespace linvera
