#pragma once

#include "device/DeviceLibrary.h"
#include "station/Station.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace quillon::adc {

// One ADC_GetScanV buffer (volts): the library writes each scanned channel at its own
// index, so it is sized for the largest board whatever the detected channel count.
using ScanBuffer = std::array<double, MaxChannels>;

// BoardConfig.ChannelCount as an index bound: 0..MaxChannels.
inline int channelBound(const StationState &state)
{
    return std::clamp(static_cast<int>(state.board.ChannelCount), 0, MaxChannels);
}

// Sends the whole shared block; no caller looks at the status.
inline void sendConfig(StationContext &ctx)
{
    quint32 size = AdcConfigBlock::Size;
    ctx.lib.ADC_SetConfig(diOnly, ctx.state.adc.data(), &size);
}

// Narrows a reading to 32 bits without undefined behaviour: out-of-range values
// become infinities, NaN stays NaN.
inline float toFloat(double value)
{
    if (value > std::numeric_limits<float>::max())
        return std::numeric_limits<float>::infinity();
    if (value < -std::numeric_limits<float>::max())
        return -std::numeric_limits<float>::infinity();
    return static_cast<float>(value);
}

} // namespace quillon::adc
