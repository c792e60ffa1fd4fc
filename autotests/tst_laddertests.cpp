#include "AnalogBench.h"

#include "procedures/ProductionTests.h"

#include <QLocale>

#include <gtest/gtest.h>
#include "support/CLocale.h"

// Expected texts below spell numbers with a point.
static const auto *const cLocaleEnvironment = ::testing::AddGlobalTestEnvironment(new quillon::testing::CLocale);

namespace quillon::testing {

namespace {

const QString JigText = QStringLiteral("Connect the test jig with 10V across the analog input leads, set to +.");
const QString SwitchText =
    QStringLiteral("Turn off the 10V source, switch the jig to -, and turn the 10V source back on.");

QStringList sweepLines(const QString &result)
{
    QStringList out{QStringLiteral("Channel 1:")};
    for (const char *range : {"0-10", "\u00B110", "0-5", "\u00B15", "0-2", "\u00B12", "0-1", "\u00B11"})
        out << QStringLiteral("\t") + QString::fromUtf8(range) + QStringLiteral("V: ") + result;
    return out;
}

using LadderRun = void (*)(StationContext &, TestRow &);

} // namespace

TEST(LadderTests, GoodSixteenChannelBoardPassesAllThree)
{
    AnalogBench bench;
    PlainRow uni(5), bi(6), diff(7);
    runAdSeUnipolar(bench.ctx, uni);
    runAdSeBipolar(bench.ctx, bi);
    runAdDifferential(bench.ctx, diff);

    EXPECT_EQ(uni.memoLines(), sweepLines(QStringLiteral("0.667V, OK")));
    EXPECT_EQ(bi.memoLines(), QStringList());
    EXPECT_EQ(diff.memoLines(), QStringList());
    for (PlainRow *row : {&uni, &bi, &diff})
        EXPECT_EQ(row->refreshed, (QList<TestStatus>{TestStatus::Testing, TestStatus::Pass})) << row->index();

    ASSERT_EQ(bench.op.prompts.size(), 2);
    EXPECT_EQ(bench.op.prompts[0].kind, QStringLiteral("JigInfo"));
    EXPECT_EQ(bench.op.prompts[0].caption, QStringLiteral("A/D Jig Needed"));
    EXPECT_EQ(bench.op.prompts[0].text, JigText);
    EXPECT_EQ(bench.op.prompts[1].kind, QStringLiteral("JigInfo"));
    EXPECT_EQ(bench.op.prompts[1].caption, QStringLiteral("10V Switch"));
    EXPECT_EQ(bench.op.prompts[1].text, SwitchText);
}

TEST(LadderTests, UnipolarTrafficAndBlockBytes)
{
    AnalogBench bench;
    bench.state.adc[16] = 5; // stale values the test must overwrite
    bench.state.adc[19] = 9;
    PlainRow row(5);
    runAdSeUnipolar(bench.ctx, row);

    QStringList expectedCalls{QStringLiteral("ADC_SetConfig"), QStringLiteral("ADC_GetScanV"),
                              QStringLiteral("ADC_SetConfig")};
    for (int i = 0; i < 8; ++i)
        expectedCalls << QStringLiteral("ADC_SetConfig") << QStringLiteral("ADC_GetScanV");
    EXPECT_EQ(bench.functions(), expectedCalls);

    QList<QByteArray> expectedBlocks{blockBytes(0, 0, 0x15, 0xF0, 0x17, 0x00),
                                     blockBytes(0, 0, 0x15, 0x11, 0x17, 0x00)};
    for (int code = 0; code < 8; ++code)
        expectedBlocks << blockBytes(code, 0, 0x15, 0x11, 0x17, 0x00);
    EXPECT_EQ(bench.configsSent(), expectedBlocks);
    for (const auto &c : bench.callsOf(QStringLiteral("ADC_SetConfig")))
        EXPECT_EQ(c.arguments, QStringLiteral("-3, size=21"));
    // The block keeps the last sweep settings.
    EXPECT_EQ(QByteArray(reinterpret_cast<const char *>(bench.state.adc.data()), 21),
              blockBytes(7, 0, 0x15, 0x11, 0x17, 0x00));
}

TEST(LadderTests, BipolarSendsItsConfigurationBeforeThePrompt)
{
    AnalogBench bench;
    QStringList callsAtPrompt;
    const auto follow = bench.op.onPrompt;
    bench.op.onPrompt = [&](const Prompt &p) {
        callsAtPrompt = bench.functions();
        follow(p);
    };
    PlainRow row(6);
    runAdSeBipolar(bench.ctx, row);
    EXPECT_EQ(callsAtPrompt, QStringList{QStringLiteral("ADC_SetConfig")});
    EXPECT_EQ(bench.functions(), (QStringList{QStringLiteral("ADC_SetConfig"), QStringLiteral("ADC_GetScanV")}));
    EXPECT_EQ(bench.configsSent(), QList<QByteArray>{blockBytes(1, 0, 0x15, 0xF0, 0x17, 0x00)});
    EXPECT_EQ(row.status(), TestStatus::Pass);
}

TEST(LadderTests, BlockBytesFollowTheChannelCount)
{
    struct Case {
        BoardKind kind;
        LadderRun run;
        QByteArray block;
    };
    const Case cases[] = {
        {Board64, runAdSeBipolar, blockBytes(1, 0, 0x15, 0xF0, 0x17, 0x30)},
        {Board64, runAdDifferential, blockBytes(9, 0, 0x15, 0xF0, 0x17, 0x10)},
        {Board16, runAdDifferential, blockBytes(9, 0, 0x15, 0x70, 0x17, 0x00)},
        {Board96Mux32, runAdSeBipolar, blockBytes(1, 0, 0x15, 0xF0, 0x17, 0x50)},
    };
    for (const auto &c : cases) {
        AnalogBench bench(c.kind);
        bench.board.jig.polarity = -1;
        PlainRow row(6);
        c.run(bench.ctx, row);
        EXPECT_EQ(bench.configsSent(), QList<QByteArray>{c.block}) << c.kind.channels;
        EXPECT_EQ(row.status(), TestStatus::Pass) << c.kind.channels << row.memoLines().join(u'|').toStdString();
    }
}

// Each case shifts one channel by a voltage and checks the one line it must cause;
// the expectations exercise the ladder of each board kind.
TEST(LadderTests, FailingChannelLinesShowExpectationAndReading)
{
    struct Case {
        const char *name;
        BoardKind kind;
        LadderRun run;
        int channel;
        double offset;
        const char *line;
    };
    const Case cases[] = {
        {"uni ch3", Board16, runAdSeUnipolar, 3, -0.766, "\tChannel 3: expected 2.000V\u00B10.300V, got 1.234V"},
        {"uni ch0", Board16, runAdSeUnipolar, 0, -1.0, "\tChannel 0: expected 10.000V\u00B10.300V, got 9.000V"},
        {"uni ch15", Board16, runAdSeUnipolar, 15, -1.0, "\tChannel 15: expected 10.000V\u00B10.300V, got 9.000V"},
        {"bi ch0", Board16, runAdSeBipolar, 0, 1.0, "\tChannel 0: expected -10.000V\u00B10.300V, got -9.000V"},
        {"bi ch15", Board16, runAdSeBipolar, 15, 1.0, "\tChannel 15: expected -10.000V\u00B10.300V, got -9.000V"},
        {"diff16 ch0", Board16, runAdDifferential, 0, 1.0, "\tChannel 0: expected -4.667V\u00B10.300V, got -3.667V"},
        {"diff16 ch7", Board16, runAdDifferential, 7, 1.0, "\tChannel 7: expected 5.333V\u00B10.300V, got 6.333V"},
        // 64 channels without blocks of 32: 16, 32 and 48 sit at 0 V, shown unsigned.
        {"uni64 ch16", Board64, runAdSeUnipolar, 16, 1.0, "\tChannel 16: expected 0.000V\u00B10.300V, got 1.000V"},
        {"bi64 ch48", Board64, runAdSeBipolar, 48, 1.0, "\tChannel 48: expected 0.000V\u00B10.300V, got 1.000V"},
        {"diff64 ch0", Board64, runAdDifferential, 0, 1.0, "\tChannel 0: expected -10.000V\u00B10.300V, got -9.000V"},
        {"diff64 ch1", Board64, runAdDifferential, 1, 0.5, "\tChannel 1: expected 0.000V\u00B10.300V, got 0.500V"},
        {"diff64 ch31", Board64, runAdDifferential, 31, 0.5, "\tChannel 31: expected 0.000V\u00B10.300V, got 0.500V"},
        // Blocks of 32: the first channel of every block of 16 is raised.
        {"mux32 ch32", Board96Mux32, runAdSeUnipolar, 32, -1.0,
         "\tChannel 32: expected 10.000V\u00B10.300V, got 9.000V"},
        {"mux32 ch16", Board96Mux32, runAdSeBipolar, 16, 1.0,
         "\tChannel 16: expected -10.000V\u00B10.300V, got -9.000V"},
        {"mux32 ch33", Board96Mux32, runAdSeUnipolar, 33, 1.0, "\tChannel 33: expected 0.667V\u00B10.300V, got 1.667V"},
    };
    for (const auto &c : cases) {
        AnalogBench bench(c.kind);
        bench.board.jig.polarity = -1; // as the bipolar test leaves it, for the differential
        bench.board.faults.adcOffsetChannel = c.channel;
        bench.board.faults.adcOffsetVolts = c.offset;
        PlainRow row(5);
        c.run(bench.ctx, row);
        // A failing full scan suppresses the channel 1 sweep.
        EXPECT_EQ(row.memoLines(), QStringList{QString::fromUtf8(c.line)}) << c.name;
        EXPECT_EQ(row.status(), TestStatus::Fail) << c.name;
        EXPECT_EQ(bench.callsOf(QStringLiteral("ADC_GetScanV")).size(), 1) << c.name;
    }
}

TEST(LadderTests, ToleranceIsInclusiveOnTheThirtyTwoBitValues)
{
    // Channel 3 expects 2.000 V; the reading is placed exactly, as a library might
    // hand it over (the converter's steps could not land on these values).
    struct Case {
        double reading;
        bool pass;
    };
    const Case cases[] = {{1.7, true}, {2.3, true}, {2.31, false}, {1.69, false}, {2.0, true}};
    for (const auto &c : cases) {
        AnalogBench bench;
        bench.lib.afterScan = [&](int scan, double *buffer) {
            if (scan == 0)
                buffer[3] = c.reading;
        };
        PlainRow row(5);
        runAdSeUnipolar(bench.ctx, row);
        EXPECT_EQ(row.status(), c.pass ? TestStatus::Pass : TestStatus::Fail) << c.reading;
        if (!c.pass) {
            EXPECT_EQ(row.memoLines(), QStringList{QStringLiteral("\tChannel 3: expected 2.000V\u00B10.300V, got ")
                                                   + QString::number(c.reading, 'f', 3) + QStringLiteral("V")});
        }
    }
}

TEST(LadderTests, ToleranceThroughTheConverter)
{
    // The same boundary placed with the offset fault: 16-bit steps of the 0-10 V range.
    struct Case {
        double offset;
        bool pass;
    };
    const Case cases[] = {{0.2999, true}, {-0.2999, true}, {0.31, false}, {-0.31, false}};
    for (const auto &c : cases) {
        AnalogBench bench;
        bench.board.faults.adcOffsetChannel = 3;
        bench.board.faults.adcOffsetVolts = c.offset;
        PlainRow row(5);
        runAdSeUnipolar(bench.ctx, row);
        EXPECT_EQ(row.status(), c.pass ? TestStatus::Pass : TestStatus::Fail) << c.offset;
    }
}

TEST(LadderTests, AFailingSweepRangeKeepsItsLineAndTheOthersAreTried)
{
    AnalogBench bench;
    // Full scan is call 1-2, the sweep's channel set-up call 3, range i calls 4+2i, 5+2i.
    bench.board.faults.failCallNumber = 9; // the scan of range 2 (0-5)
    bench.board.faults.failStatus = 4294967295u;
    // The +/-2 V range (code 5) reads 1.334 V low.
    bench.board.faults.adcBadRangeCode = 5;
    bench.board.faults.adcBadRangeVolts = -1.334;
    PlainRow row(5);
    runAdSeUnipolar(bench.ctx, row);

    QStringList expected = sweepLines(QStringLiteral("0.667V, OK"));
    expected[3] = QStringLiteral("\t0-5V: Error 4294967295 from ADC_GetScanV.");
    expected[6] = QStringLiteral("\t\u00B12V: expected 0.667V\u00B10.300V, got -0.667V");
    EXPECT_EQ(row.memoLines(), expected);
    EXPECT_EQ(row.status(), TestStatus::Fail);
}

// One input range other than 0-10 V reads off: the full scan (0-10 V) passes and only
// that range's sweep line fails, with the reading the converter gives in that range.
TEST(LadderTests, ABadRangeFailsOnlyItsSweepLine)
{
    struct Case {
        int code;
        double volts;
        const char *line;
    };
    const Case cases[] = {
        {1, -1.0, "\t\u00B110V: expected 0.667V\u00B10.300V, got -0.333V"},
        {2, 0.5, "\t0-5V: expected 0.667V\u00B10.300V, got 1.167V"},
        {3, -1.0, "\t\u00B15V: expected 0.667V\u00B10.300V, got -0.333V"},
        {4, 1.0, "\t0-2V: expected 0.667V\u00B10.300V, got 1.667V"},
        {5, -1.334, "\t\u00B12V: expected 0.667V\u00B10.300V, got -0.667V"},
        {6, 0.5, "\t0-1V: expected 0.667V\u00B10.300V, got 1.000V"}, // clipped at the top
        {7, -0.4, "\t\u00B11V: expected 0.667V\u00B10.300V, got 0.267V"},
    };
    for (const auto &c : cases) {
        AnalogBench bench;
        bench.board.faults.adcBadRangeCode = c.code;
        bench.board.faults.adcBadRangeVolts = c.volts;
        PlainRow row(5);
        runAdSeUnipolar(bench.ctx, row);
        QStringList expected = sweepLines(QStringLiteral("0.667V, OK"));
        expected[c.code + 1] = QString::fromUtf8(c.line);
        EXPECT_EQ(row.memoLines(), expected) << c.code;
        EXPECT_EQ(row.status(), TestStatus::Fail) << c.code;
    }
}

// A test whose full scan is taken in the faulty range fails on every channel (and the
// unipolar test then skips its sweep); a test in another range passes.
TEST(LadderTests, ABadRangeFailsEveryChannelOfTheTestUsingIt)
{
    struct Case {
        const char *name;
        LadderRun run;
        int code;
        double volts;
        int lines;
    };
    const Case cases[] = {
        {"unipolar in 0-10", runAdSeUnipolar, 0, -1.0, 16},
        {"bipolar in +/-10", runAdSeBipolar, 1, 1.0, 16},
        {"differential in +/-10 diff", runAdDifferential, 9, 1.0, 8},
        {"bipolar, other range", runAdSeBipolar, 9, 1.0, 0},
        {"differential, other range", runAdDifferential, 1, 1.0, 0},
    };
    for (const auto &c : cases) {
        AnalogBench bench;
        bench.board.jig.polarity = -1; // as the bipolar test leaves it; the unipolar prompt sets +
        bench.board.faults.adcBadRangeCode = c.code;
        bench.board.faults.adcBadRangeVolts = c.volts;
        PlainRow row(6);
        c.run(bench.ctx, row);
        EXPECT_EQ(row.memoLines().size(), c.lines) << c.name;
        for (const QString &line : row.memoLines())
            EXPECT_TRUE(line.startsWith(QStringLiteral("\tChannel "))) << c.name << ' ' << line.toStdString();
        EXPECT_EQ(row.status(), c.lines ? TestStatus::Fail : TestStatus::Pass) << c.name;
    }
}

TEST(LadderTests, ScanErrorIsTheOnlyLine)
{
    for (LadderRun run : {runAdSeUnipolar, runAdSeBipolar, runAdDifferential}) {
        AnalogBench bench;
        bench.board.faults.scanErrorStatus = 4294967295u;
        PlainRow row(5);
        run(bench.ctx, row);
        EXPECT_EQ(row.memoLines(), QStringList{QStringLiteral("\tError 4294967295 from ADC_GetScanV.")});
        EXPECT_EQ(row.status(), TestStatus::Fail);
        EXPECT_EQ(bench.callsOf(QStringLiteral("ADC_GetScanV")).size(), 1); // no sweep
    }
}

TEST(LadderTests, DifferentialDoesNotApplyToBlocksOfThirtyTwo)
{
    AnalogBench bench(Board96Mux32);
    PlainRow row(7);
    row.addLine(QStringLiteral("old line"));
    runAdDifferential(bench.ctx, row);
    EXPECT_EQ(row.memoLines(), QStringList{QStringLiteral("This test does not apply.")});
    EXPECT_EQ(row.refreshed, QList<TestStatus>{TestStatus::Pass}); // never Testing
    EXPECT_TRUE(bench.tracer.calls().isEmpty());
    EXPECT_EQ(bench.op.processEventsCount, 0);
}

TEST(LadderTests, WithoutChannelsNothingPassesAndTheBoardIsLeftAlone)
{
    for (LadderRun run : {runAdSeUnipolar, runAdSeBipolar, runAdDifferential}) {
        AnalogBench bench;
        bench.state.board = BoardConfig{};
        bench.state.board.DiffApplies = true;
        PlainRow row(5);
        run(bench.ctx, row);
        EXPECT_EQ(row.memoLines(), QStringList{QStringLiteral("\tNo channels to test: press Detect first.")});
        EXPECT_EQ(row.refreshed, (QList<TestStatus>{TestStatus::Testing, TestStatus::Fail}));
        EXPECT_TRUE(bench.tracer.calls().isEmpty());
        EXPECT_TRUE(bench.op.prompts.isEmpty());
    }
}

TEST(LadderTests, StaleOrWildChannelCountsStayInsideTheBuffers)
{
    // A count left from a bigger board, or nonsense: the scans write at most 256
    // channels and the checks read no further. Channels the board lacks read 0 V.
    for (int count : {64, 255, 256, 257, 100000, -5}) {
        AnalogBench bench;
        bench.state.board.ChannelCount = count;
        bench.state.board.DiffApplies = true;
        for (LadderRun run : {runAdSeUnipolar, runAdSeBipolar, runAdDifferential}) {
            PlainRow row(5);
            run(bench.ctx, row);
            const bool anyChannels = count > 0;
            EXPECT_EQ(row.status(), TestStatus::Fail) << count; // missing channels fail
            if (!anyChannels) {
                EXPECT_EQ(row.memoLines().size(), 1);
            }
        }
    }
}

TEST(LadderTests, NumbersUseTheLocaleSeparator)
{
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    AnalogBench bench;
    bench.board.faults.adcOffsetChannel = 3;
    bench.board.faults.adcOffsetVolts = -0.766;
    PlainRow row(5);
    runAdSeUnipolar(bench.ctx, row);
    QLocale::setDefault(saved);
    EXPECT_EQ(row.memoLines(), QStringList{QStringLiteral("\tChannel 3: expected 2,000V\u00B10,300V, got 1,234V")});
}

TEST(LadderTests, ClosingTheWindowAtAPromptEndsTheRun)
{
    AnalogBench bench;
    bench.op.onPrompt = [&](const Prompt &) { bench.shell.isClosing = true; };
    PlainRow row(5);
    runAdSeUnipolar(bench.ctx, row);
    EXPECT_TRUE(bench.tracer.calls().isEmpty());
    EXPECT_TRUE(row.memoLines().isEmpty());
}

} // namespace quillon::testing
