// D/A Cal Check (row 9): the technician picks minimum, mid and maximum code, measures
// the calibrated outputs and gives the verdict. The station itself measures nothing.
#include "procedures/DacMath.h"
#include "procedures/Formats.h"
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
    quint16 code;
};
constexpr std::array<ScaleItem, 3> ScaleItems{{{"M&in (", 0}, {"&Mid (", 32768}, {"M&ax (", 65535}}};

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
    for (const ScaleItem &item : ScaleItems)
        items << QLatin1String(item.prefix) + FixedText(4, float(DacCountsToVolts(item.code, range)))
                     + QStringLiteral(" V)");
    DeviceLibrary &lib = ctx.lib;
    const bool good = ctx.op.checkDacScale(
        QStringLiteral("Measure each DAC with a meter, at these three (calibrated) voltages. Are they all good?"),
        items, [&lib](int item) { DacScaleClick(lib, item); });
    if (ctx.shell.closing())
        return;
    if (!good) {
        row.addLine(QStringLiteral("\tTester reported at least one DAC bad."));
        failed = true;
    }

    row.setStatus(failed ? TestStatus::Fail : TestStatus::Pass);
    row.addLine(QStringLiteral("D/A Cal Check: ") + (failed ? QStringLiteral("FAIL") : QStringLiteral("PASS")));
    row.refresh();
}

} // namespace quillon
