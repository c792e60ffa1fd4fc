#pragma once

#include <functional>

class QWidget;

namespace quillon {

namespace sim {
class PromptFollower;
class SimBoard;
} // namespace sim
class DeviceLibrary;

// The interactive simulator: the station over lib (which reaches board), with the
// person's answers at the real dialogs and the simulated jig following the prompts
// the person confirms. Runs the event loop until the main window has closed.
// shown (optional) runs once the main window is shown, with the follower and the
// window (windows parented to it close and go with it, before the follower).
using SimStationShown = std::function<void(sim::PromptFollower &follower, QWidget &mainWindow)>;
int runSimStation(sim::SimBoard &board, DeviceLibrary &lib, const SimStationShown &shown = {});

} // namespace quillon
