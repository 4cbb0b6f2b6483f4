#include "app/ui/ThumbnailFit.h"

#include <cmath>

namespace linvera {

std::optional<TwipSize> FitThumbnail(double pictureWidth, double pictureHeight, double boxWidth,
                                     double boxHeight)
{
    // Halves go to the even number, as the original rounding did.
    const double pw = std::nearbyint(pictureWidth);
    const double ph = std::nearbyint(pictureHeight);
    if (!(pw > 0) || !(ph > 0) || !(boxWidth > 0) || !(boxHeight >= 0))
        return std::nullopt;
    if (boxHeight / boxWidth >= ph / pw)
        return TwipSize{boxWidth, boxWidth * ph / pw};
    return TwipSize{boxHeight * pw / ph, boxHeight};
}

} // namespace linvera
