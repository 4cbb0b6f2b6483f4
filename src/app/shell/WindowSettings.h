#pragma once

namespace linvera {

class frmMain;
class frmSettings;

/// The position check: an edge below 0 or beyond the screen goes to 0; one equal to the screen stays.
double CheckedEdge(double edge, double screenSize);

/// Applies the stored settings to the windows' controls in the table order, with the position check
/// after "FormX" and "FormY". A setting that cannot be applied is skipped; the next ones still apply.
/// `screenTwips` is the screen's size in twips.
void ApplySettings(frmMain& main, frmSettings& settings, double screenWidthTwips, double screenHeightTwips);

/// Writes the settings back in the shutdown order, with the login rule.
void SaveSettings(const frmMain& main, const frmSettings& settings);

} // namespace linvera
