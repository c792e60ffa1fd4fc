// D/A Cal Check (row 9): the technician picks minimum, mid and maximum code, measures
// the calibrated outputs and gives the verdict. The station itself measures nothing.
#include "procedures/DacMath.h"
#include "procedures/Formats.h"
#include "procedures/Measure.h"
#include "procedures/ProductionTests.h"
#include "procedures/RowSteps.h"

#include "station/DacCalStore.h"
#include "device/DeviceLibrary.h"
#include "station/Operator.h"
#include "station/Station.h"

#include <array>

namespace quillon {

namespace {

struct ScaleItem {
    const char *prefix; // with the item's keyboard mnemonic
    const char *measureName;
    quint16 code;
};
constexpr std::array<ScaleItem, 3> ScaleItems{
    {{"M&in (", "dac.check.min", 0}, {"&Mid (", "dac.check.mid", 32768}, {"M&ax (", "dac.check.max", 65535}}};

} // namespace

void DacScaleClick(DeviceLibrary &lib, int item)
{
    if (item < 0 || item >= int(ScaleItems.size()))
        return;
    const quint16 code = ScaleItems[size_t(item)].code;
    const std::array<quint16, 4> codes{code, code, code, code};
    (void)DACMultiDirect(lib, diOnly, codes, false);
}

void runDacCalCheck(StationContext &ctx, TestRow &row)
{
    if (!ctx.state.board.HasDacs) {
        markNotApplicable(row);
        return;
    }

    if (!beginRow(ctx, row))
        return;
    bool failed = false;

    AskDacRange(ctx.op, ctx.state.dacRange);
    if (ctx.shell.closing())
        return;
    const DacRangeState range = ctx.state.dacRange;
    (void)ctx.lib.DACSetBoardRange(diOnly, 0);

    QStringList items;
    for (const ScaleItem &item : ScaleItems) {
        const auto volts = float(DacCountsToVolts(item.code, range));
        items << QLatin1String(item.prefix) + FixedText(4, volts) + QStringLiteral(" V)");
        measure::shown(row, QLatin1String(item.measureName), "V", double(volts));
    }
    DeviceLibrary &lib = ctx.lib;
    const bool good = ctx.op.checkDacScale(
        QStringLiteral("Measure each DAC with a meter, at these three (calibrated) voltages. Are they all good?"),
        items, [&lib](int item) { DacScaleClick(lib, item); });
    if (ctx.shell.closing())
        return;
    measure::verdict(row, QStringLiteral("dac.check.verdict"), good);
    if (!good) {
        row.addLine(QStringLiteral("\tTester reported at least one DAC bad."));
        failed = true;
    }

    row.setStatus(failed ? TestStatus::Fail : TestStatus::Pass);
    row.addLine(QStringLiteral("D/A Cal Check: ") + (failed ? QStringLiteral("FAIL") : QStringLiteral("PASS")));
    row.refresh();
}

} // namespace quillon
