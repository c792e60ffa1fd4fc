#include "ui/MessageFont.h"

#include <QApplication>
#include <QFont>
#include <QScreen>

#include <cmath>
#include <cstdlib>

namespace quillon {

namespace {

// Logical dots per inch of the primary screen; the classic 96 when there is none.
double screenDpi()
{
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        const double dpi = screen->logicalDotsPerInchY();
        if (dpi > 0)
            return dpi;
    }
    return 96.0;
}

// Pixel height of a font: its pixel size, or its point size at the screen's dpi.
int fontPixelHeight(const QFont &font)
{
    if (font.pixelSize() > 0)
        return font.pixelSize();
    if (font.pointSizeF() > 0)
        return int(std::lround(font.pointSizeF() * screenDpi() / 72.0));
    return 0;
}

// Point size of a font, whole points rounded half away from zero as a multiply-divide
// would (an 11 px font at 96 dpi is 8 pt).
int fontPointSize(const QFont &font)
{
    if (font.pointSizeF() > 0)
        return int(std::lround(font.pointSizeF()));
    if (font.pixelSize() > 0)
        return int(std::lround(font.pixelSize() * 72.0 / screenDpi()));
    return 0;
}

int roundHalfEven(double value)
{
    const double lower = std::floor(value);
    const double diff = value - lower;
    double result = lower;
    if (diff > 0.5 || (diff == 0.5 && std::fmod(lower, 2.0) != 0.0))
        result = lower + 1.0;
    return int(result);
}

} // namespace

std::optional<MessageFontMetrics> systemMessageFontMetrics()
{
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        return std::nullopt;
    const QFont messageFont = QApplication::font("QMessageBox");
    const int height = fontPixelHeight(messageFont);
    if (height <= 0)
        return std::nullopt;
    return MessageFontMetrics{messageFont.family(), height};
}

void ApplyMessageFont(QFont &font)
{
    ApplyMessageFont(font, systemMessageFontMetrics());
}

void ApplyMessageFont(QFont &font, const std::optional<MessageFontMetrics> &metrics)
{
    int size = 0;
    if (metrics && metrics->pixelHeight > 0) {
        font.setFamily(metrics->faceName.left(32));
        size = roundHalfEven(std::abs(metrics->pixelHeight) * 0.75);
    } else {
        size = std::abs(fontPointSize(font));
        font.setFamily(QStringLiteral("Tahoma"));
    }
    if (size > 0)
        font.setPixelSize(size);
}

} // namespace quillon
