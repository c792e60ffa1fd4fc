#include "device/DacRequests.h"

#include "device/DeviceLibrary.h"

#include <QtEndian>

#include <algorithm>

namespace quillon {

namespace {

constexpr int DacFrameCodes = 8;

} // namespace

std::array<std::uint8_t, DacFrameSize> DacFrame(std::span<const quint16> codes)
{
    // The code area holds eight codes; anything beyond is not sent.
    const size_t n = std::min<size_t>(codes.size(), DacFrameCodes);
    std::array<std::uint8_t, DacFrameSize> frame{};
    frame[0] = std::uint8_t((1u << n) - 1u);
    for (size_t i = 0; i < n; ++i)
        qToLittleEndian<quint16>(codes[i], frame.data() + 1 + 2 * i);
    return frame;
}

quint32 DACMultiDirect(DeviceLibrary &lib, qint32 device, std::span<const quint16> codes, bool raw)
{
    auto frame = DacFrame(codes);
    return lib.GenericVendorWrite(device, DacRequest, 0, raw ? DacIndexRaw : DacIndexCalibrated, quint32(frame.size()),
                                  frame.data());
}

quint32 ByteSwap32(quint32 value)
{
    return (value >> 24) | ((value >> 8) & 0x0000FF00u) | ((value << 8) & 0x00FF0000u) | (value << 24);
}

} // namespace quillon
