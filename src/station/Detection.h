#pragma once

namespace quillon {

class DeviceLibrary;
class Operator;
struct StationState;

struct DetectResult {
    bool found = false;       // a supported board was found (warnings may have been shown)
    bool calSupported = true; // ADC_QueryCal answered 0 (only meaningful when found)
};

// Finds the one board, checks firmware and driver, and derives BoardConfig into
// state.board. Sets state.dacRange.DacRange to -1 first, whatever the outcome.
// Retry/Cancel and warning boxes go through op. Leaves BoardConfig untouched when
// the operator gives up.
DetectResult detectBoard(DeviceLibrary &lib, Operator &op, StationState &state);

} // namespace quillon
