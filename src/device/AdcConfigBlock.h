#pragma once

#include <array>
#include <cstdint>

namespace quillon {

// The 21-byte A/D configuration the station keeps for the board and sends whole
// with ADC_SetConfig. Bytes 0-15: range code per channel (channel AND 15);
// 16: calibration source; 17: trigger/clock mode; 18, 20: first and last scanned
// channel (low nibbles in 18, high nibbles in 20); 19: sample-count setting.
struct AdcConfigBlock {
    static constexpr int Size = 21;
    static constexpr int CalSource = 16;
    static constexpr int TriggerMode = 17;
    static constexpr int ChannelsLow = 18;
    static constexpr int SampleCount = 19;
    static constexpr int ChannelsHigh = 20;

    std::array<std::uint8_t, Size> bytes{};

    std::uint8_t &operator[](int i) { return bytes[static_cast<std::size_t>(i)]; }
    std::uint8_t operator[](int i) const { return bytes[static_cast<std::size_t>(i)]; }
    std::uint8_t *data() { return bytes.data(); }

    void clear() { bytes.fill(0); }
    // Writes one range code into bytes 0-15.
    void setAllRanges(std::uint8_t code);
    // Encodes the scanned channels first..last (0-255) into bytes 18 and 20.
    void setChannels(int first, int last);
};

} // namespace quillon
