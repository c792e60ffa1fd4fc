#pragma once

#include <QStringView>

namespace quillon {

// The production notes shown in the notes window, character for character: lines
// separated by CR LF, no line break after the last line. Tabs and runs of spaces
// are part of the text.
QStringView notesText();

} // namespace quillon
