#pragma once

#include "device/DacRequests.h"

#include <QString>

#include <array>
#include <cstdint>

namespace quillon {

class DeviceLibrary;
class TestRow;

// Gains and offsets of the four DACs, in block order M[0], B[0], ... M[3], B[3].
struct DacCalConstants {
    std::array<float, 4> M{1.0f, 1.0f, 1.0f, 1.0f};
    std::array<float, 4> B{0.0f, 0.0f, 0.0f, 0.0f};
};

// The 32-byte EEPROM block: eight big-endian IEEE singles.
std::array<std::uint8_t, 32> DacCalBlock(const DacCalConstants &constants);

// Writes marker into the four records. With a context, the first failing write adds
// "Error <s> <context>." to memo and returns false at once; without one, failures
// are silent and the loop goes on. Sets failed on any failing write.
bool DacMarkerWrite(DeviceLibrary &lib, const char marker[4], const QString &context, TestRow &memo, bool &failed);

// Invalidate, write, read back, verify, validate. Returns true when any step failed.
bool DacCalStore(DeviceLibrary &lib, const DacCalConstants &constants, int dacRange, quint8 dacCount, TestRow &memo);

} // namespace quillon
