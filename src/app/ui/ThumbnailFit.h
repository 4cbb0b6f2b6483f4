#pragma once

#include <optional>

namespace linvera {

struct TwipSize
{
    double width = 0;
    double height = 0;

    friend bool operator==(const TwipSize&, const TwipSize&) = default;
};

/// The thumbnail size of `FitThumbnail`: the picture (its sizes rounded to whole numbers first) scaled
/// to the box's width when the box is relatively taller than the picture, else to the box's height.
/// Empty when the picture has no area or the box no width: the thumbnail then stays as it was.
std::optional<TwipSize> FitThumbnail(double pictureWidth, double pictureHeight, double boxWidth,
                                     double boxHeight);

} // namespace linvera
