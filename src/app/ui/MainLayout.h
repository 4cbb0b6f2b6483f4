#pragma once

#include "app/ui/ThumbnailFit.h"
#include "app/ui/Twips.h"

#include <optional>

namespace linvera {

/// Where the main window's controls stand, in twips of its client area.
struct MainGeometry
{
    TwipRect Label1;
    TwipRect txtBeforeUrl;
    TwipRect txtBeforeDecode;
    TwipRect Label2;
    TwipRect txtAfterUrl;
    TwipRect txtAfterDecode;
    TwipRect imgPictThumb;
    TwipRect btnStartConv;
    TwipRect chkClipboard;
    TwipRect btnTwitpic;
    TwipRect btnTwitpicWindow;
    TwipRect btnNotice;
    TwipRect lblMsg;
    TwipRect btnTwitpicFromFile;
    TwipRect btnTwitter;

    friend bool operator==(const MainGeometry&, const MainGeometry&) = default;

    /// The geometry as laid out in the form designer, before any resize.
    static MainGeometry designed();
};

/// The main window's designed client area.
inline constexpr TwipSize kMainClientSize{9780, 3000};
/// The outer size that the layout rule counts includes a frame, caption and menu bar; the window adds
/// this fixed allowance to its client area, so the rule gives the same result under every window manager.
inline constexpr TwipSize kMainFrameAllowance{135, 705};
/// No side of the window's outer size goes below this.
inline constexpr double kMainMinimumOuterSide = 2800;

/// One pass of the layout rule.
struct MainLayoutPass
{
    /// The outer size after the minimum was applied.
    double width = 0;
    double height = 0;
    MainGeometry geometry;
};

/// The layout rule for an outer size of width × height twips. `shownPicture` is the size of the full
/// picture when the thumbnail is visible (then it is fitted again), empty otherwise.
MainLayoutPass ResizeLayout(const MainGeometry& current, double width, double height,
                            std::optional<TwipSize> shownPicture);

} // namespace linvera
