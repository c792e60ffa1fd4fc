#pragma once

class QWidget;

namespace quillon {

// Centres a top-level dialog, frame included, on window (on the primary screen when
// window is null). Before the dialog is first shown its frame is not known yet, so
// dialogs call this again from their showEvent.
void centreDialogOn(QWidget *dialog, QWidget *window);

} // namespace quillon
