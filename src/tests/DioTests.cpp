#include "tests/ProductionTests.h"

#include "board/Station.h"

namespace quillon {

void runDioPullup(StationContext &, TestRow &row)
{
    Q_UNUSED(row);
}

void runDioLoopback(StationContext &, TestRow &row)
{
    Q_UNUSED(row);
}

} // namespace quillon
