#include "app/ui/Twips.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <cmath>

namespace linvera {

namespace {
constexpr double kTwipsPerInch = 1440.0;
constexpr double kFallbackDpi = 96.0;
} // namespace

TwipScale TwipScale::fromDpi(double dpiX, double dpiY)
{
    return {kTwipsPerInch / (dpiX > 0 ? dpiX : kFallbackDpi),
            kTwipsPerInch / (dpiY > 0 ? dpiY : kFallbackDpi)};
}

TwipScale TwipScale::of(const QWidget* widget)
{
    QScreen* screen = widget ? widget->screen() : nullptr;
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return fromDpi(kFallbackDpi, kFallbackDpi);
    return fromDpi(screen->logicalDotsPerInchX(), screen->logicalDotsPerInchY());
}

int TwipScale::toPixelsX(double twips) const
{
    return static_cast<int>(std::lround(twips / x));
}

int TwipScale::toPixelsY(double twips) const
{
    return static_cast<int>(std::lround(twips / y));
}

QRect TwipScale::toPixels(const TwipRect& rect) const
{
    return {toPixelsX(rect.left), toPixelsY(rect.top), toPixelsX(rect.width), toPixelsY(rect.height)};
}

} // namespace linvera
