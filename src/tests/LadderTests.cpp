#include "tests/ProductionTests.h"

#include "board/Station.h"

namespace quillon {

void runAdSeUnipolar(StationContext &, TestRow &row)
{
    Q_UNUSED(row);
}

void runAdSeBipolar(StationContext &, TestRow &row)
{
    Q_UNUSED(row);
}

void runAdDifferential(StationContext &, TestRow &row)
{
    Q_UNUSED(row);
}

} // namespace quillon
