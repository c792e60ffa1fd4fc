// D/A Ramp (row A): saw teeth on the four DACs for as long as the scope question is
// open. Events are served after every write, so the window stays live: a test started
// from it meanwhile runs to its end inside processEvents(), and the ramp then goes on
// from the code it had reached. Closing the window ends the ramp without a verdict.
#include "procedures/Measure.h"
#include "procedures/ProductionTests.h"
#include "procedures/RowSteps.h"

#include "device/DacRequests.h"
#include "device/DeviceLibrary.h"
#include "station/Operator.h"
#include "station/Station.h"

#include <array>

namespace quillon {

namespace {

constexpr quint16 RampStep = 511; // about 128 writes per period

} // namespace

void runDacRamp(StationContext &ctx, TestRow &row)
{
    if (!ctx.state.board.HasDacs) {
        markNotApplicable(row);
        return;
    }

    if (!beginRow(ctx, row))
        return;
    bool failed = false;

    (void)ctx.lib.DACSetBoardRange(diOnly, 0);

    const std::unique_ptr<AsyncQuestion> question = ctx.op.startQuestion(
        QStringLiteral("Scope Check"),
        QStringLiteral("Look at the DACs on a scope. DACs 0 & 2 should be producing a rising saw tooth and "
                       "DACs 1 & 3 a falling sawtooth, both at a few Hz. Are they both good?"));

    quint16 code = 0;
    quint32 firstError = 0;
    for (;;) {
        code = quint16(code + RampStep);
        const quint16 falling = quint16(~code);
        const std::array<quint16, 4> codes{code, falling, code, falling};
        const quint32 status = DACMultiDirect(ctx.lib, diOnly, codes, false);
        if (firstError == 0)
            firstError = status;
        ctx.op.processEvents();
        if (ctx.shell.closing())
            return;
        if (question->isDone())
            break;
    }

    const bool good = question->answer() == IdYes;
    measure::verdict(row, QStringLiteral("dac.ramp.verdict"), good);
    if (!good) {
        row.addLine(QStringLiteral("\tTester reported at least one DAC bad."));
        failed = true;
    }
    if (firstError != 0) {
        row.addLine(QStringLiteral("\t\"DACMultiDirect\" returned error ") + QString::number(firstError)
                    + QLatin1Char('.'));
        failed = true;
    }

    row.setStatus(failed ? TestStatus::Fail : TestStatus::Pass);
    row.refresh();
}

} // namespace quillon
