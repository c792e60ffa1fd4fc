#pragma once

#include <QString>

#include <optional>

class QFont;

namespace quillon {

// The platform's message-box font as the station needs it: its face and its
// character height in device pixels.
struct MessageFontMetrics {
    QString faceName;
    int pixelHeight = 0;
};

// Reads the message font of the running application (the theme's QMessageBox font,
// else the general font). Empty when there is no GUI application or the font has no
// usable size.
std::optional<MessageFontMetrics> systemMessageFontMetrics();

// Sets font to the message font at three quarters of its pixel height (12 px -> 9 px,
// halves to even). Without metrics the face becomes "Tahoma" and the pixel size the
// font's current point size (8 for an 11 px font at 96 dpi).
void ApplyMessageFont(QFont &font);

// The same with the metrics given, so the fallback can be exercised.
void ApplyMessageFont(QFont &font, const std::optional<MessageFontMetrics> &metrics);

} // namespace quillon
