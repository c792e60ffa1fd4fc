#pragma once

namespace quillon {

// quillon-sim and quillon-records run headless on machines without a desktop
// session (quillon-records draws its certificate offscreen), where Qt's
// platform layers note things that change nothing about a run (no XDG_RUNTIME_DIR,
// so a default is used; the offscreen platform passing on window size hints). This
// installs a message handler that drops exactly those notes and hands every other
// message, warnings included, to the handler installed before it. GUI thread, before
// the QApplication; calling it again changes nothing.
void quietPlatformNoise();

} // namespace quillon
