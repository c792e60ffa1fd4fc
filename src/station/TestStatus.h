#pragma once

#include <cstdint>

namespace quillon {

enum class TestStatus : std::uint8_t { Untested = 0, Testing = 1, Pass = 2, Fail = 3 };

} // namespace quillon
