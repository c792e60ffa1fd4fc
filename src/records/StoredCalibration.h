#pragma once

#include "records/RecordsQuery.h"

#include <array>
#include <optional>

namespace quillon::records {

// The calibration constants a run left in the board's EEPROM, read back from the
// writes it recorded (only writes the library reported as successful count).
struct StoredCalibration {
    struct Dac {
        float gain = 1.0f;
        float offset = 0.0f;
    };
    // The reference calibration word (2 bytes, low byte first, at 7666).
    std::optional<quint16> arefWord;
    // The last failed ARef write's status, when the last attempt failed.
    std::optional<quint32> arefFailedStatus;
    // The last complete DAC block written (M0, B0 .. M3, B3, big-endian singles).
    std::optional<std::array<Dac, 4>> dacs;
    std::optional<int> dacRange; // 0 to 3, from the range/count record
    std::optional<int> dacCount;
    // True when every record was marked valid ("DACC") after that block was written.
    bool dacsMarkedValid = false;
};

StoredCalibration decodeStoredCalibration(const std::vector<EepromWrite> &writes);

// "0-5 V", "±5 V", "0-10 V", "±10 V" for range codes 0 to 3; the number otherwise.
QString dacRangeText(int range);

} // namespace quillon::records
