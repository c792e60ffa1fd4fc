#include "device/AdcConfigBlock.h"

#include <gtest/gtest.h>

namespace quillon {

TEST(AdcConfigBlock, EncodesFirstAndLastChannel)
{
    struct Case {
        int first, last;
        int low, high;
    };
    const Case cases[] = {
        {0, 15, 0xF0, 0x00}, {0, 63, 0xF0, 0x30}, {1, 1, 0x11, 0x00}, {0, 159, 0xF0, 0x90}, {0, -1, 0xF0, 0xF0}};
    for (const auto &c : cases) {
        AdcConfigBlock b;
        b.setChannels(c.first, c.last);
        EXPECT_EQ(b[18], c.low) << c.first << ".." << c.last;
        EXPECT_EQ(b[20], c.high) << c.first << ".." << c.last;
    }
}

} // namespace quillon
