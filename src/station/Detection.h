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
// state.Board. Sets state.DacRange.DacRange to -1 first, whatever the outcome.
// Retry/Cancel and warning boxes go through op. Leaves BoardConfig untouched when
// the operator gives up.
DetectResult DetectBoard(DeviceLibrary &lib, Operator &op, StationState &state);

} // namespace quillon
