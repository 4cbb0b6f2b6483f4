#include "app/ui/MainLayout.h"

#include <algorithm>

namespace linvera {

namespace {
// Heights of what lies below the result box and of the bottom row's buttons.
constexpr double kBelowResultBox = 1400;
constexpr double kBottomRowButtonHeight = 375;
constexpr double kBelowBottomRow = 930;
constexpr double kMessageBelowRowTop = 100;
constexpr double kTextBoxMargin = 1950;
constexpr double kRightMargin = 300;
constexpr double kCaptureButtonWidth = 495;
constexpr double kButtonGap = 60;
} // namespace

MainGeometry MainGeometry::designed()
{
    MainGeometry g;
    g.Label1 = {60, 120, 540, 180};
    g.txtBeforeUrl = {720, 120, 7935, 315};
    g.txtBeforeDecode = {720, 480, 7935, 330};
    g.Label2 = {60, 900, 540, 180};
    g.txtAfterUrl = {720, 900, 7935, 330};
    g.txtAfterDecode = {720, 1320, 7935, 870};
    g.imgPictThumb = {720, 1320, 2415, 1395};
    g.btnStartConv = {8760, 60, 855, 495};
    g.chkClipboard = {8760, 900, 795, 375};
    g.btnTwitpic = {5700, 2400, 495, 375};
    g.btnTwitpicWindow = {6240, 2400, 495, 375};
    g.btnNotice = {6900, 2400, 2715, 375};
    g.lblMsg = {60, 2520, 495, 180};
    // Beyond the right edge of the designed client area; these commands are not offered.
    g.btnTwitpicFromFile = {10020, 2400, 495, 375};
    g.btnTwitter = {10560, 2400, 495, 375};
    return g;
}

MainLayoutPass ResizeLayout(const MainGeometry& current, double width, double height,
                            std::optional<TwipSize> shownPicture)
{
    MainLayoutPass pass{std::max(width, kMainMinimumOuterSide), std::max(height, kMainMinimumOuterSide),
                        current};
    const double w = pass.width;
    const double h = pass.height;
    MainGeometry& g = pass.geometry;

    g.txtAfterDecode.height = h - g.txtAfterDecode.top - kBelowResultBox;
    g.imgPictThumb.height = g.txtAfterDecode.height;

    const double rowTop = h - kBottomRowButtonHeight - kBelowBottomRow;
    g.btnTwitpic.top = rowTop;
    g.btnTwitpicWindow.top = rowTop;
    g.btnNotice.top = rowTop;
    g.lblMsg.top = rowTop + kMessageBelowRowTop;

    g.txtBeforeUrl.width = w - kTextBoxMargin;
    g.txtBeforeDecode.width = g.txtBeforeUrl.width;
    g.txtAfterUrl.width = g.txtBeforeUrl.width;
    g.txtAfterDecode.width = g.txtBeforeUrl.width;

    // A picture that cannot be fitted leaves the thumbnail as it was; the rest of the pass still runs,
    // so the buttons never stay behind at the old size.
    if (shownPicture) {
        if (const auto fit = FitThumbnail(shownPicture->width, shownPicture->height, g.txtAfterDecode.width,
                                          g.txtAfterDecode.height)) {
            g.imgPictThumb.width = fit->width;
            g.imgPictThumb.height = fit->height;
        }
    }

    g.btnStartConv.left = w - g.btnStartConv.width - kRightMargin;
    g.chkClipboard.left = g.btnStartConv.left;
    g.btnNotice.left = w - g.btnNotice.width - kRightMargin;
    g.btnTwitpicWindow.left = g.btnNotice.left - kCaptureButtonWidth - kButtonGap;
    g.btnTwitpic.left = g.btnTwitpicWindow.left - g.btnTwitpic.width - kButtonGap;
    return pass;
}

} // namespace linvera
