#pragma once

namespace quillon {

namespace sim {
class SimBoard;
}
class DeviceLibrary;

// The interactive simulator: the station over lib (which reaches board), with the
// person's answers at the real dialogs and the simulated jig following the prompts
// the person confirms. Runs the event loop until the main window has closed.
int runSimStation(sim::SimBoard &board, DeviceLibrary &lib);

} // namespace quillon
