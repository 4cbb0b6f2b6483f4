#pragma once

#include <QRect>

class QWidget;

namespace linvera {

/// A rectangle in twips (1/1440 inch): left, top, width, height.
struct TwipRect
{
    double left = 0;
    double top = 0;
    double width = 0;
    double height = 0;

    friend bool operator==(const TwipRect&, const TwipRect&) = default;
};

/// Twips per pixel of one screen, horizontally and vertically (15 at 96 logical dots per inch).
struct TwipScale
{
    double x = 15;
    double y = 15;

    /// From logical dots per inch; a non-positive value counts as 96.
    static TwipScale fromDpi(double dpiX, double dpiY);
    /// The scale of the screen the widget is on (the primary screen when it has none).
    static TwipScale of(const QWidget* widget);

    int toPixelsX(double twips) const;
    int toPixelsY(double twips) const;
    QRect toPixels(const TwipRect& rect) const;
    double toTwipsX(int pixels) const { return pixels * x; }
    double toTwipsY(int pixels) const { return pixels * y; }
};

} // namespace linvera
