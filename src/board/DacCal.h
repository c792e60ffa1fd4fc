#pragma once

#include <QString>

#include <array>
#include <cstdint>
#include <span>

namespace quillon {

class DeviceLibrary;
class TestRow;

inline constexpr quint8 DacRequest = 0xB3;
inline constexpr quint8 EepromRequest = 0xA2;
inline constexpr quint16 DacIndexCalibrated = 0x0000;
inline constexpr quint16 DacIndexRaw = 0x8000;
inline constexpr quint16 DacIndexReloadCal = 0x4000;
inline constexpr int DacFrameSize = 17;
inline constexpr quint16 DacCalRecordBase = 7520;
inline constexpr int DacCalRecordSize = 36;
inline constexpr quint16 DacRangeCountAddress = 7664;
inline constexpr quint16 ArefCalAddress = 7666;

// Gains and offsets of the four DACs, in block order M[0], B[0], ... M[3], B[3].
struct DacCalConstants {
    std::array<float, 4> M{1.0f, 1.0f, 1.0f, 1.0f};
    std::array<float, 4> B{0.0f, 0.0f, 0.0f, 0.0f};
};

// The 17-byte data stage of request 0xB3 for the given codes (1 to 8 of them).
std::array<std::uint8_t, DacFrameSize> DacFrame(std::span<const quint16> codes);

// Sets DACs 0..N-1 with one request 0xB3 (index 0x8000 when raw, else 0); returns the
// library status unchanged.
quint32 DACMultiDirect(DeviceLibrary &lib, qint32 device, std::span<const quint16> codes, bool raw);

quint32 ByteSwap32(quint32 value);

// The 32-byte EEPROM block: eight big-endian IEEE singles.
std::array<std::uint8_t, 32> DacCalBlock(const DacCalConstants &constants);

// Writes marker into the four records. With a context, the first failing write adds
// "Error <s> <context>." to memo and returns false at once; without one, failures
// are silent and the loop goes on. Sets failed on any failing write.
bool DacMarkerWrite(DeviceLibrary &lib, const char marker[4], const QString &context, TestRow &memo,
                    bool &failed);

// Invalidate, write, read back, verify, validate. Returns true when any step failed.
bool DacCalStore(DeviceLibrary &lib, const DacCalConstants &constants, int dacRange, quint8 dacCount,
                 TestRow &memo);

} // namespace quillon
