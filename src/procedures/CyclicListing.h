#pragma once

#include "device/AdcConfigBlock.h"

#include <QStringList>

#include <cstdint>

namespace quillon {

// The cyclic monitor's listing of one scan: for each of the first `channels` samples,
// its volts under the range code the configuration block holds for it, as
// "i: text" lines (channel number in upper-case hex, volts as CyclicVoltsText).
QStringList cyclicListing(const std::uint16_t *samples, int channels, const AdcConfigBlock &block);

} // namespace quillon
