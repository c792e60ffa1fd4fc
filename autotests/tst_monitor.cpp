#include "AnalogBench.h"

#include "procedures/ProductionTests.h"

#include <gtest/gtest.h>

namespace quillon::testing {

namespace {

// Stops the monitor once it has shown `listings` listings.
void stopAfterListings(AnalogBench &bench, int listings)
{
    bench.view.onListing = [&bench, listings] {
        if (bench.view.listings >= listings)
            bench.state.CyclicStopRequested = true;
    };
}

} // namespace

TEST(CyclicMonitor, SixteenChannelListingTrafficAndState)
{
    AnalogBench bench;
    bench.state.adc[16] = 3; // as the Calibration Voltages test leaves it
    bench.state.adc[19] = 15;
    stopAfterListings(bench, 1);
    runCyclicMonitor(bench.ctx, bench.view);

    EXPECT_EQ(bench.view.lines, (QStringList{"0: +10.00", "1: +0.67", "2: +1.33", "3: +2.00", "4: +2.67", "5: +3.33",
                                             "6: +4.00", "7: +4.67", "8: +5.33", "9: +6.00", "A: +6.67", "B: +7.33",
                                             "C: +8.00", "D: +8.67", "E: +9.33", "F: +10.00"}));
    EXPECT_EQ(bench.view.columns, 2);
    EXPECT_EQ(bench.view.runningChanges, (QList<bool>{true, false}));
    EXPECT_FALSE(bench.state.cyclicRunning);
    EXPECT_EQ(bench.configsSent(), QList<QByteArray>{blockBytes(1, 0, 0x15, 0xF0, 0, 0x00)});
    const QStringList calls = bench.functions();
    ASSERT_GE(calls.size(), 4);
    EXPECT_EQ(calls.mid(0, 4), (QStringList{QStringLiteral("ADC_SetConfig"), QStringLiteral("CTR_StartOutputFreq"),
                                            QStringLiteral("ADC_BulkAcquire"), QStringLiteral("ADC_BulkPoll")}));
    EXPECT_EQ(bench.callsOf(QStringLiteral("CTR_StartOutputFreq")).value(0).arguments, QStringLiteral("-3, 0, hz=10"));
    EXPECT_EQ(bench.callsOf(QStringLiteral("ADC_BulkAcquire")).value(0).arguments, QStringLiteral("-3, size=32"));
    // The 10 Hz clock is left running; the polls waited for events instead of spinning.
    EXPECT_EQ(bench.board.counterHz(), 10.0);
    EXPECT_GE(bench.shell.waits, 10);
    EXPECT_EQ(bench.callsOf(QStringLiteral("ADC_BulkPoll")).size(), bench.shell.waits + 1);
}

TEST(CyclicMonitor, RawSampleEndsAndMidScale)
{
    struct Case {
        const char *name;
        bool jig;
        int polarity;
        std::uint16_t sample;
        const char *line;
    };
    const Case cases[] = {
        {"mid-scale", false, +1, 32768, "0: \u00B10.00"},
        {"bottom", true, -1, 0, "0: -10.00"},
        {"top", true, +1, 65535, "0: +10.00"},
    };
    for (const auto &c : cases) {
        AnalogBench bench;
        bench.board.jig.connected = c.jig;
        bench.board.jig.polarity = c.polarity;
        stopAfterListings(bench, 1);
        runCyclicMonitor(bench.ctx, bench.view);
        EXPECT_EQ(bench.state.monitorSamples[0], c.sample) << c.name;
        EXPECT_EQ(bench.view.lines.value(0), QString::fromUtf8(c.line)) << c.name;
    }
}

TEST(CyclicMonitor, VoltsFollowTheRangeCodesInTheBlock)
{
    // Channel 1 samples 34953 (0.667 V under +/-10 V). After the first listing the
    // block's codes change (as a nested handler may leave them); the next listing
    // converts the same sample under the new code.
    const char *expected[] = {"1: +5.33", "1: +0.67", "1: +2.67", "1: +0.33",
                              "1: +1.07", "1: +0.13", "1: +0.53", "1: +0.07"};
    for (int code = 0; code < 8; ++code) {
        AnalogBench bench;
        bench.view.onListing = [&] {
            bench.state.adc.setAllRanges(std::uint8_t(code));
            bench.state.CyclicStopRequested = bench.view.listings >= 2;
        };
        runCyclicMonitor(bench.ctx, bench.view);
        EXPECT_EQ(bench.state.monitorSamples[1], 34953) << code;
        EXPECT_EQ(bench.view.lines.value(1), QString::fromLatin1(expected[code])) << code;
    }
}

TEST(CyclicMonitor, SixtyFourChannelsInFiveColumns)
{
    AnalogBench bench(Board64);
    stopAfterListings(bench, 1);
    runCyclicMonitor(bench.ctx, bench.view);
    EXPECT_EQ(bench.view.columns, 5);
    ASSERT_EQ(bench.view.lines.size(), 64);
    for (int i = 0; i < 64; ++i)
        EXPECT_TRUE(bench.view.lines[i].startsWith(QString::number(i, 16).toUpper() + QStringLiteral(": "))) << i;
    EXPECT_EQ(bench.view.lines[63], QStringLiteral("3F: +10.00"));
    EXPECT_EQ(bench.view.lines[16], QStringLiteral("10: \u00B10.00"));
    EXPECT_EQ(bench.configsSent(), QList<QByteArray>{blockBytes(1, 0, 0x15, 0xF0, 0, 0x30)});
}

TEST(CyclicMonitor, StopMidCycleStillShowsThatCycle)
{
    AnalogBench bench;
    // After the first listing the jig flips; Stop is pressed early in the second poll.
    bench.view.onListing = [&] { bench.board.jig.polarity = -1; };
    int passes = 0;
    bench.op.onProcessEvents = [&] {
        if (bench.view.listings == 1 && ++passes == 3)
            bench.state.CyclicStopRequested = true;
    };
    runCyclicMonitor(bench.ctx, bench.view);
    EXPECT_EQ(bench.view.listings, 2);
    EXPECT_EQ(bench.view.lines.value(0), QStringLiteral("0: -10.00"));
    // The second scan is waited for by its due time, not polled for all period long
    // (20 waits for the first scan, whose phase is unknown, then a handful).
    EXPECT_LT(bench.shell.waits, 30);
    EXPECT_EQ(bench.view.runningChanges, (QList<bool>{true, false}));
}

TEST(CyclicMonitor, ErrorsAreTheOnlyContent)
{
    struct Case {
        const char *name;
        quint32 acquire, poll;
        const char *line;
        int polls;
    };
    const Case cases[] = {
        {"acquire", 4294967295u, 0, "ADC_BulkAcquire returned error 4294967295.", 0},
        {"poll", 0, 5, "ADC_BulkPoll returned error 5.", 1},
    };
    for (const auto &c : cases) {
        AnalogBench bench;
        bench.board.faults.acquireErrorStatus = c.acquire;
        bench.board.faults.pollErrorStatus = c.poll;
        runCyclicMonitor(bench.ctx, bench.view);
        EXPECT_EQ(bench.view.lines, QStringList{QString::fromUtf8(c.line)}) << c.name;
        EXPECT_EQ(bench.view.listings, 1) << c.name;
        EXPECT_EQ(bench.view.runningChanges, (QList<bool>{true, false})) << c.name;
        EXPECT_TRUE(bench.state.CyclicStopRequested) << c.name;
        EXPECT_EQ(bench.callsOf(QStringLiteral("ADC_BulkPoll")).size(), c.polls) << c.name;
        EXPECT_EQ(bench.board.counterHz(), 10.0) << c.name;
    }
}

TEST(CyclicMonitor, StopEndsAPollThatNeverCompletes)
{
    AnalogBench bench;
    bench.board.faults.noDataWithClock = true;
    bench.op.onProcessEvents = [&] {
        if (bench.op.processEventsCount == 3)
            bench.state.CyclicStopRequested = true;
    };
    runCyclicMonitor(bench.ctx, bench.view);
    EXPECT_EQ(bench.view.lines, QStringList{QStringLiteral("Stopped: no scan arrived.")});
    EXPECT_EQ(bench.view.runningChanges, (QList<bool>{true, false}));
    EXPECT_FALSE(bench.state.cyclicRunning);
    EXPECT_LT(bench.shell.waits, 100); // a bounded grace, not forever
}

TEST(CyclicMonitor, ClosingTheWindowEndsTheWait)
{
    AnalogBench bench;
    bench.board.faults.noDataWithClock = true;
    bench.op.onProcessEvents = [&] {
        if (bench.op.processEventsCount == 4)
            bench.shell.isClosing = true;
    };
    runCyclicMonitor(bench.ctx, bench.view);
    EXPECT_EQ(bench.op.processEventsCount, 4);
    EXPECT_FALSE(bench.state.cyclicRunning);
    EXPECT_EQ(bench.view.runningChanges, (QList<bool>{true, false}));
}

TEST(CyclicMonitor, NestedGoDoesNotStartASecondMonitor)
{
    AnalogBench bench;
    PlainMonitorView second;
    bench.view.onListing = [&] {
        runCyclicMonitor(bench.ctx, second);
        bench.state.CyclicStopRequested = true;
    };
    runCyclicMonitor(bench.ctx, bench.view);
    EXPECT_TRUE(second.runningChanges.isEmpty());
    EXPECT_EQ(bench.callsOf(QStringLiteral("CTR_StartOutputFreq")).size(), 1);
    EXPECT_EQ(bench.callsOf(QStringLiteral("ADC_BulkAcquire")).size(), 1);
}

TEST(CyclicMonitor, ADetectInsideTheLoopChangesTheCountSafely)
{
    // Each listing stands for a Detect run from inside the loop.
    AnalogBench bench(Board64);
    QList<int> sizes, columns;
    bench.view.onListing = [&] {
        sizes << int(bench.view.lines.size());
        columns << bench.view.columns;
        const int next[] = {16, 100000, -3};
        if (bench.view.listings <= 3)
            bench.state.board.ChannelCount = next[bench.view.listings - 1];
    };
    runCyclicMonitor(bench.ctx, bench.view);
    EXPECT_EQ(sizes, (QList<int>{64, 16, 256, 1}));
    EXPECT_EQ(columns, (QList<int>{5, 2, 17, 17}));
    EXPECT_EQ(bench.view.lines, QStringList{QStringLiteral("No channels to list: press Detect first.")});
    const auto acquires = bench.callsOf(QStringLiteral("ADC_BulkAcquire"));
    ASSERT_EQ(acquires.size(), 3);
    EXPECT_EQ(acquires[2].arguments, QStringLiteral("-3, size=512"));
}

TEST(CyclicMonitor, NeverDetectedLeavesTheBoardAlone)
{
    AnalogBench bench;
    bench.state.board = BoardConfig{};
    runCyclicMonitor(bench.ctx, bench.view);
    EXPECT_EQ(bench.view.lines, QStringList{QStringLiteral("No channels to list: press Detect first.")});
    EXPECT_EQ(bench.view.columns, 1);
    EXPECT_TRUE(bench.tracer.calls().isEmpty());
    EXPECT_EQ(bench.view.runningChanges, (QList<bool>{true, false}));
}

} // namespace quillon::testing
