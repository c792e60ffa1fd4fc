#include "tests/ProductionTests.h"

#include "board/Station.h"

namespace quillon {

void runDacCalSet(StationContext &, TestRow &row)
{
    Q_UNUSED(row);
}

} // namespace quillon
