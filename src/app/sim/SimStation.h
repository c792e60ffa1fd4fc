#pragma once

#include "records/RecordsSettings.h"

#include <functional>

class QWidget;

namespace quillon {

namespace sim {
class PromptFollower;
class BenchWindow;
class SimBoard;
} // namespace sim
class DeviceLibrary;
class TracingDevice;

// The interactive simulator: the station over lib (which reaches board), with the
// person's answers at the real dialogs and the simulated jig following the prompts
// the person confirms. Runs the event loop until the main window has closed.
// shown (optional) runs once the main window is shown, with the follower and the
// window (windows parented to it close and go with it, before the follower).
using SimStationShown = std::function<void(sim::PromptFollower &follower, QWidget &mainWindow)>;
// With records settings (null: none) every run is recorded, marked simulated.
int runSimStation(sim::SimBoard &board, DeviceLibrary &lib, const SimStationShown &shown = {},
                  const records::RecordsSettings *records = nullptr);

// Opens the bench window of quillon-sim for the shown station: a window of the
// station's (it closes and goes with it, before the follower), first placed with the
// station and its notes window to suit the screen.
sim::BenchWindow *openBench(sim::SimBoard &board, TracingDevice &trace, sim::PromptFollower &follower,
                            QWidget &station);

} // namespace quillon
