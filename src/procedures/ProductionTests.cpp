#include "procedures/ProductionTests.h"

#include "station/RowRegistry.h"
#include "procedures/Limits.h"

namespace quillon {

void registerProductionTests()
{
    static const bool registered = [] {
        registerRowProcedure(0x0, runDioPullup);
        registerRowProcedure(0x1, runDioLoopback);
        registerRowProcedure(0x2, runAdClocks);
        registerRowProcedure(0x3, runCalibrationVoltages);
        registerRowProcedure(0x4, runAddressDataLines);
        registerRowProcedure(0x5, runAdSeUnipolar);
        registerRowProcedure(0x6, runAdSeBipolar);
        registerRowProcedure(0x7, runAdDifferential);
        registerRowProcedure(0x8, runDacCalSet);
        registerRowProcedure(0x9, runDacCalCheck);
        registerRowProcedure(0xA, runDacRamp);
        registerLimitSetSource(limitTableId);
        return true;
    }();
    (void)registered;
}

} // namespace quillon
