#pragma once

#include "sim/SimBoard.h"

#include <QString>

namespace quillon::sim {

// Does to the simulated jig what a jig prompt asks, as a technician would before
// pressing OK: "No Test Jig" removes it, "Test Jig Needed" connects it, "A/D Jig
// Needed" connects it with the 10 V source on and positive, "10V Switch" turns the
// polarity negative. Prompts are known by their caption. False for any other prompt
// (the jig is left alone). The virtual technician, the bench's "Follow the prompts"
// and the test fixtures all move the jig through this one function.
bool followJigPrompt(JigState &jig, const QString &caption);

} // namespace quillon::sim
