#pragma once

#include "station/TestStatus.h"

#include <QColor>
#include <QString>

class QLabel;

namespace quillon {

// The three fixed tables of a status: label text, background and text colour.
// Untested uses the palette's button face and button text, read when painted.
QString statusText(TestStatus status);
QColor statusBackground(TestStatus status);
QColor statusTextColour(TestStatus status);

// Paints label for status: background, then text colour, then text. A null label
// is ignored.
void ShowStatus(QLabel *label, TestStatus status);

} // namespace quillon
