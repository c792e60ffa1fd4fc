#include "procedures/ProductionTests.h"

#include "device/DeviceLibrary.h"
#include "station/Operator.h"
#include "station/Station.h"
#include "procedures/Formats.h"
#include "procedures/Limits.h"
#include "procedures/Measure.h"

namespace quillon {

namespace {

constexpr quint16 AllHigh = 0xFFFF;
// DIO_Configure output-mask bits.
constexpr quint8 BothInputs = 0;
constexpr quint8 PortAOut = 1;
constexpr quint8 PortBOut = 2;

void configurePorts(DeviceLibrary &lib, quint8 outputMask)
{
    quint16 initial = AllHigh;
    lib.DIO_Configure(diOnly, 0, &outputMask, &initial);
}

void begin(StationContext &ctx, TestRow &row)
{
    row.setStatus(TestStatus::Testing);
    row.refresh();
    row.clearMemo();
    ctx.op.processEvents();
}

QString failuresText(int count)
{
    return QString::number(count) + QStringLiteral(" Failures");
}

enum class Direction { AToB, BToA };

// Drives every pattern 0..mask out of one port and reads it back on the other.
// Returns the mismatches of this direction; each one adds a memo line.
int loopDirection(StationContext &ctx, TestRow &row, Direction dir, int mask, int spread)
{
    const QString name = dir == Direction::AToB ? QStringLiteral("A to B") : QStringLiteral("B to A");
    const QString measureName =
        dir == Direction::AToB ? QStringLiteral("dio.loopback.a_to_b.") : QStringLiteral("dio.loopback.b_to_a.");
    configurePorts(ctx.lib, dir == Direction::AToB ? PortAOut : PortBOut);
    int failures = 0;
    for (int p = 0; p <= mask; ++p) {
        quint16 word = dir == Direction::AToB ? quint16(p) : quint16(p << 8);
        ctx.lib.DIO_WriteAll(diOnly, &word);
        // Preset so that a read that delivers nothing shows as all lines high.
        word = AllHigh;
        ctx.lib.DIO_ReadAll(diOnly, &word);
        const quint16 got = dir == Direction::AToB ? quint16(word >> 8) : quint16(word & 0xFF);
        const quint16 expected = quint16(p * spread);
        if (!measure::equals(row, measureName + hexText(quint32(p), 2), "byte", got, expected)) {
            ++failures;
            row.addLine(QStringLiteral("\t") + name + QStringLiteral(": expected ") + hexText(expected, 2)
                        + QStringLiteral(", got ") + hexText(got, 2));
        }
    }
    row.addLine(QStringLiteral("\t") + name + QStringLiteral(": ")
                + (failures == 0 ? QStringLiteral("Passed") : failuresText(failures)));
    row.addLine(QString());
    return failures;
}

} // namespace

void runDioPullup(StationContext &ctx, TestRow &row)
{
    begin(ctx, row);
    if (ctx.shell.closing())
        return;
    int failures = 0;
    ctx.op.messageBox(BoxStyle::JigInfo, QStringLiteral("No Test Jig"),
                      QStringLiteral("Make sure the test jig is NOT connected."));
    if (ctx.shell.closing())
        return;

    configurePorts(ctx.lib, BothInputs);
    // Preset low: a read that delivers nothing fails.
    quint16 word = 0;
    ctx.lib.DIO_ReadAll(diOnly, &word);
    const quint16 pulledUp = limits().dioPullupWord;
    if (!measure::equals(row, QStringLiteral("dio.pullup"), "word", word, pulledUp)) {
        failures = 1;
        row.addLine(QStringLiteral("\tExpected ") + hexText(pulledUp, 4) + QStringLiteral(", got ") + hexText(word, 4));
    }
    row.addLine(QString());
    if (failures == 0) {
        row.addLine(QStringLiteral("\tDIO Pullup: Passed"));
        row.setStatus(TestStatus::Pass);
    } else {
        row.addLine(QStringLiteral("\tDIO Pullup: ") + failuresText(failures));
        row.setStatus(TestStatus::Fail);
        row.addLine(QStringLiteral("This may indicate pulldowns installed instead."));
    }
    row.refresh();
}

void runDioLoopback(StationContext &ctx, TestRow &row)
{
    begin(ctx, row);
    if (ctx.shell.closing())
        return;
    int total = 0;
    ctx.op.messageBox(BoxStyle::JigInfo, QStringLiteral("Test Jig Needed"), QStringLiteral("Connect the test jig."));
    if (ctx.shell.closing())
        return;

    // Taken after the prompt: a detection run while it was open counts. The pattern
    // loops below never yield, so the values hold to the end.
    const int mask = ctx.state.board.DioMask;
    const int spread = ctx.state.board.DioSpread;
    if (mask & 0xF0)
        total += loopDirection(ctx, row, Direction::AToB, mask, spread);
    total += loopDirection(ctx, row, Direction::BToA, mask, spread);
    configurePorts(ctx.lib, BothInputs);

    if (total == 0) {
        row.addLine(QStringLiteral("\tDIO Loopback: Passed"));
        row.setStatus(TestStatus::Pass);
    } else {
        row.addLine(QStringLiteral("\tDIO Loopback: ") + failuresText(total));
        row.setStatus(TestStatus::Fail);
        row.addLine(QStringLiteral("This may indicate solder bridges on the DIO pins or DIO dir pins."));
    }
    row.refresh();
}

} // namespace quillon
