#pragma once

#include <cstdint>

namespace quillon {

// What detection learned about the board. Zero at start; replaced by each
// successful detection and kept as it was by a failed or cancelled one.
struct BoardConfig {
    std::int32_t DioMask = 0;
    std::int32_t DioSpread = 0;
    std::int32_t ChannelCount = 0;
    bool Mux32 = false;
    bool DiffApplies = false;
    bool NewRevision = false;
    bool HasDacs = false;

    friend bool operator==(const BoardConfig &, const BoardConfig &) = default;
};

// The D/A output range known to the station. DacRange is -1 until asked
// (every detection sets it back to -1), else 0-3: 0-5 V, +/-5 V, 0-10 V, +/-10 V.
struct DacRangeState {
    std::int32_t DacRange = 0;
    std::int32_t DacSpanVolts = 0;
    bool DacBipolar = false;

    // Sets all three fields for a chosen item 0-3.
    void select(int item)
    {
        DacRange = item;
        DacSpanVolts = (item == 0 || item == 1) ? 5 : 10;
        DacBipolar = (item == 1 || item == 3);
    }
};

} // namespace quillon
