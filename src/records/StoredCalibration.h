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
    // The reference calibration word (2 bytes, low byte first, at ArefCalAddress).
    std::optional<quint16> arefWord;
    // The last failed ARef write's status, when the last attempt failed.
    std::optional<quint32> arefFailedStatus;
    // The last complete DAC block written (M0, B0 .. M3, B3, big-endian singles).
    std::optional<std::array<Dac, 4>> dacs;
    std::optional<int> dacRange; // 0 to 3, from the range/count record
    std::optional<int> dacCount;
    // True when every record was marked valid ("DACC") after that block was written.
    bool dacsMarkedValid = false;
    // Bit k: record k's valid marker was written (any value) in this run.
    quint8 markersWritten = 0;
    // Bit k: record k's marker says "DACC" after the run's last marker write to it.
    quint8 markersValid = 0;
    // The last failed marker write: its record and status.
    std::optional<int> markerFailedRecord;
    std::optional<quint32> markerFailedStatus;
};

StoredCalibration decodeStoredCalibration(const std::vector<EepromWrite> &writes);

// The calibration record (0 to 3) whose valid marker starts at address, or -1.
int calRecordOfMarker(int address);
// The calibration record (0 to 3) whose constants block starts at address, or -1.
int calRecordOfBlock(int address);
// The size of a record's block of constants (eight singles) and of its marker.
inline constexpr int CalBlockSize = 32;
inline constexpr int CalMarkerSize = 4;
// The eight constants M0, B0 .. M3, B3 of a block (CalBlockSize bytes).
std::array<float, 8> calBlockValues(const QByteArray &block);
// The ARef word of its 2-byte write.
quint16 arefWordOf(const QByteArray &bytes);

// "0-5 V", "±5 V", "0-10 V", "±10 V" for range codes 0 to 3; the number otherwise.
QString dacRangeText(int range);

} // namespace quillon::records
