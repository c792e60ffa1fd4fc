#include "tests/ProductionTests.h"

#include "board/Station.h"

namespace quillon {

void runCyclicMonitor(StationContext &, MonitorView &)
{
}

} // namespace quillon
