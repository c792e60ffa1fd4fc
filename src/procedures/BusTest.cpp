#include "procedures/ProductionTests.h"

#include "device/DeviceLibrary.h"
#include "station/Operator.h"
#include "station/Station.h"
#include "procedures/Formats.h"
#include "procedures/Limits.h"
#include "procedures/Measure.h"

namespace quillon {

namespace {

// Asks the controller's firmware to exercise the address/data lines to its SRAM.
constexpr quint8 BusTestRequest = 0x91;

} // namespace

void runAddressDataLines(StationContext &ctx, TestRow &row)
{
    row.setStatus(TestStatus::Testing);
    row.refresh();
    row.setFailText(QString());
    ctx.op.processEvents();
    if (ctx.shell.closing())
        return;

    quint32 size = 1;
    // Preset: a request that fails or delivers nothing reads as verdict FF.
    quint8 verdict = 0xFF;
    ctx.lib.GenericVendorRead(diOnly, BusTestRequest, 0, 0, &size, &verdict);

    if (measure::equals(row, QStringLiteral("bus.verdict"), "byte", verdict, limits().busVerdictPass)) {
        row.setStatus(TestStatus::Pass);
        row.refresh();
        return;
    }
    switch (verdict) {
    case 0x01:
        row.setStatus(TestStatus::Fail);
        row.setFailText(QStringLiteral("Hardware Failure"));
        break;
    case 0xFE:
        row.setStatus(TestStatus::Fail);
        row.setFailText(QStringLiteral("Test Skipped"));
        break;
    default:
        row.setStatus(TestStatus::Fail);
        row.setFailText(QStringLiteral("Firmware Failure #") + hexText(verdict, 2));
        break;
    }
    row.refresh();
}

} // namespace quillon
