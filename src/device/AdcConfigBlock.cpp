#include "device/AdcConfigBlock.h"

namespace quillon {

void AdcConfigBlock::setAllRanges(std::uint8_t code)
{
    for (int i = 0; i < 16; ++i)
        (*this)[i] = code;
}

void AdcConfigBlock::setChannels(int first, int last)
{
    const unsigned f = static_cast<unsigned>(first) & 0xFFu;
    const unsigned l = static_cast<unsigned>(last) & 0xFFu;
    (*this)[ChannelsLow] = static_cast<std::uint8_t>((f & 0x0Fu) | ((l & 0x0Fu) << 4));
    (*this)[ChannelsHigh] = static_cast<std::uint8_t>(((f & 0xF0u) >> 4) | (l & 0xF0u));
}

} // namespace quillon
