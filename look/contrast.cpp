#include "look/contrast.h"

#include <QPalette>
#include <algorithm>
#include <cmath>

namespace {

double Linear(double channel)
{
    return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
}

// Lightness from 0 to 1 with hue and saturation kept; the luminance grows with it.
QColor WithLightness(const QColor& c, double lightness)
{
    return QColor::fromHslF(c.hslHueF(), c.hslSaturationF(), float(lightness), c.alphaF());
}

} // namespace

double RelativeLuminance(const QColor& c)
{
    const QColor rgb = c.toRgb();
    return 0.2126 * Linear(rgb.redF()) + 0.7152 * Linear(rgb.greenF()) +
           0.0722 * Linear(rgb.blueF());
}

double ContrastRatio(const QColor& a, const QColor& b)
{
    const double la = RelativeLuminance(a), lb = RelativeLuminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor Readable(const QColor& wanted, const QColor& background, double ratio)
{
    if (ContrastRatio(wanted, background) >= ratio)
        return wanted;
    // Away from the background: towards white on a dark one, towards black on a light one. One
    // of the two always reaches 4.5 (white or black does on any background).
    const double start = wanted.toHsl().lightnessF();
    const bool lighter =
        ContrastRatio(Qt::white, background) >= ContrastRatio(Qt::black, background);
    double near = start, far = lighter ? 1.0 : 0.0;
    // The luminance is monotonic in the lightness: halve the interval until the step is below
    // what an 8-bit channel can show.
    for (int i = 0; i < 16; ++i) {
        const double mid = (near + far) / 2;
        if (ContrastRatio(WithLightness(wanted, mid), background) >= ratio)
            far = mid;
        else
            near = mid;
    }
    // The 8 bits of a channel may round the last step back below the ratio.
    QColor found = WithLightness(wanted, far).toRgb();
    for (int step = 0; step < 255 && ContrastRatio(found, background) < ratio; ++step) {
        far = std::clamp(far + (lighter ? 1.0 : -1.0) / 255, 0.0, 1.0);
        found = WithLightness(wanted, far).toRgb();
    }
    return found;
}

bool IsDarkPalette(const QPalette& palette)
{
    return RelativeLuminance(palette.color(QPalette::WindowText)) >
           RelativeLuminance(palette.color(QPalette::Window));
}
