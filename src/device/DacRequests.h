#pragma once

#include <QtGlobal>

#include <array>
#include <cstdint>
#include <span>

namespace quillon {

class DeviceLibrary;

// Vendor requests of the board and the EEPROM layout of its calibration records.
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

// The 17-byte data stage of request 0xB3 for the given codes (1 to 8 of them).
std::array<std::uint8_t, DacFrameSize> DacFrame(std::span<const quint16> codes);

// Sets DACs 0..N-1 with one request 0xB3 (index 0x8000 when raw, else 0); returns the
// library status unchanged.
quint32 DACMultiDirect(DeviceLibrary &lib, qint32 device, std::span<const quint16> codes, bool raw);

quint32 ByteSwap32(quint32 value);

} // namespace quillon
