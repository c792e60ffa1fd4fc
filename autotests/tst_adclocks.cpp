#include "AnalogBench.h"

#include "procedures/ProductionTests.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace quillon::testing {

namespace {

const QStringList GoodLines{QStringLiteral("CTR 2"), QStringLiteral("\tPass."), QString(),
                            QStringLiteral("External(CTR 0)"), QStringLiteral("\tSkipped.")};
const QStringList NoClockLines{QStringLiteral("CTR 2"), QStringLiteral("\tFail: Got data without counter 2 enabled."),
                               QString(), QStringLiteral("External(CTR 0)"), QStringLiteral("\tSkipped.")};
const QStringList AbortLines{QStringLiteral("CTR 2"), QStringLiteral("\tFail: Did not get data via counter 2."),
                             QString(), QStringLiteral("Aborting test, PLEASE HOTPLUG.")};

QStringList callTexts(const AnalogBench &bench)
{
    QStringList out;
    for (const auto &c : bench.tracer.calls())
        out << c.function + QLatin1Char('(') + c.arguments + QLatin1Char(')');
    return out;
}

} // namespace

TEST(AdClocks, ThreeOutcomes)
{
    struct Case {
        const char *name;
        bool dataWithoutClock, noDataWithClock;
        QStringList lines;
        TestStatus status;
        bool abortAll;
        QList<int> sleeps;
        bool counterRun;
    };
    const Case cases[] = {
        {"good", false, false, GoodLines, TestStatus::Pass, false, {1, 100}, true},
        {"data without clock", true, false, NoClockLines, TestStatus::Fail, false, {1}, false},
        {"no data with clock", false, true, AbortLines, TestStatus::Fail, true, {1, 100, 250}, true},
    };
    for (const auto &c : cases) {
        AnalogBench bench;
        bench.board.faults.dataWithoutClock = c.dataWithoutClock;
        bench.board.faults.noDataWithClock = c.noDataWithClock;
        PlainRow row(2);
        runAdClocks(bench.ctx, row);
        EXPECT_EQ(row.memoLines(), c.lines) << c.name;
        EXPECT_EQ(row.refreshed, (QList<TestStatus>{TestStatus::Testing, c.status})) << c.name;
        EXPECT_EQ(bench.state.AbortAll, c.abortAll) << c.name;
        EXPECT_EQ(bench.shell.sleeps, c.sleeps) << c.name;
        EXPECT_EQ(bench.shell.maximized, c.abortAll ? 1 : 0) << c.name;
        EXPECT_EQ(row.detailPresses, c.abortAll ? 1 : 0) << c.name;
        EXPECT_EQ(bench.callsOf(QStringLiteral("CTR_StartOutputFreq")).size(), c.counterRun ? 2 : 0) << c.name;
        EXPECT_FALSE(bench.board.counterRunning()) << c.name;
    }
}

TEST(AdClocks, GoodBoardTrafficAndBlock)
{
    AnalogBench bench;
    bench.state.adc.setAllRanges(7);
    bench.state.adc[16] = 3;
    bench.state.adc[19] = 0x17;
    PlainRow row(2);
    runAdClocks(bench.ctx, row);
    EXPECT_EQ(callTexts(bench),
              (QStringList{
                  QStringLiteral("ADC_SetConfig(-3, size=21)"), QStringLiteral("ADC_BulkAcquire(-3, size=32)"),
                  QStringLiteral("ADC_BulkPoll(-3, bytesLeft)"), QStringLiteral("CTR_StartOutputFreq(-3, 0, hz=1000)"),
                  QStringLiteral("CTR_StartOutputFreq(-3, 0, hz=0)"), QStringLiteral("ADC_BulkPoll(-3, bytesLeft)")}));
    EXPECT_EQ(bench.configsSent(), QList<QByteArray>{blockBytes(0, 0, 0x15, 0xF0, 0, 0x00)});
    // The polls hand back 32 bytes outstanding, then none.
    const auto polls = bench.callsOf(QStringLiteral("ADC_BulkPoll"));
    EXPECT_EQ(polls[0].dataIn, QByteArray::fromHex("20000000"));
    EXPECT_EQ(polls[1].dataIn, QByteArray::fromHex("00000000"));
    // The scan landed in the station's buffer: channel 0 at full scale of 0-10 V.
    EXPECT_EQ(bench.state.clocksSamples[0], 0xFFFF);
}

TEST(AdClocks, SixtyFourChannelsAskForOneHundredTwentyEightBytes)
{
    AnalogBench bench(Board64);
    PlainRow row(2);
    runAdClocks(bench.ctx, row);
    EXPECT_EQ(bench.callsOf(QStringLiteral("ADC_BulkAcquire")).value(0).arguments, QStringLiteral("-3, size=128"));
    EXPECT_EQ(bench.configsSent(), QList<QByteArray>{blockBytes(0, 0, 0x15, 0xF0, 0, 0x30)});
    EXPECT_EQ(row.memoLines(), GoodLines);
}

TEST(AdClocks, AbortLeavesAnExpandedRowAlone)
{
    AnalogBench bench;
    bench.board.faults.noDataWithClock = true;
    PlainRow row(2);
    row.setDetailsDown(true);
    runAdClocks(bench.ctx, row);
    EXPECT_EQ(row.memoLines(), AbortLines);
    EXPECT_EQ(row.detailPresses, 0);
    EXPECT_EQ(bench.shell.sleeps, (QList<int>{1, 100})); // no 250 ms pause
    EXPECT_EQ(bench.shell.maximized, 1);
    EXPECT_TRUE(bench.state.AbortAll);
}

TEST(AdClocks, AbortedAcquisitionWritesIntoTheStationsBuffer)
{
    AnalogBench bench;
    bench.board.faults.noDataWithClock = true;
    bench.state.clocksSamples.fill(0xAAAA);
    PlainRow row(2);
    runAdClocks(bench.ctx, row);
    // Zeroed for the run, and the outstanding acquisition still points at it.
    EXPECT_TRUE(std::all_of(bench.state.clocksSamples.begin(), bench.state.clocksSamples.end(),
                            [](std::uint16_t s) { return s == 0; }));
    EXPECT_TRUE(bench.board.acquisitionOutstanding());
    // The board comes back to life: the late scan lands in live memory.
    bench.board.faults.noDataWithClock = false;
    double hz = 1000.0;
    bench.board.CTR_StartOutputFreq(diOnly, 0, &hz);
    bench.nowUs += 10000;
    quint32 left = 1;
    bench.board.ADC_BulkPoll(diOnly, &left);
    EXPECT_EQ(left, 0u);
    EXPECT_EQ(bench.state.clocksSamples[0], 0xFFFF);
}

TEST(AdClocks, APassingRunLeavesAnEarlierAbortSet)
{
    AnalogBench bench;
    bench.state.AbortAll = true;
    PlainRow row(2);
    runAdClocks(bench.ctx, row);
    EXPECT_EQ(row.status(), TestStatus::Pass);
    EXPECT_TRUE(bench.state.AbortAll);
}

TEST(AdClocks, WithoutChannelsTheBoardIsLeftAlone)
{
    AnalogBench bench;
    bench.state.board = BoardConfig{};
    PlainRow row(2);
    runAdClocks(bench.ctx, row);
    EXPECT_EQ(row.memoLines(), QStringList{QStringLiteral("\tNo channels to test: press Detect first.")});
    EXPECT_EQ(row.status(), TestStatus::Fail);
    EXPECT_TRUE(bench.tracer.calls().isEmpty());
    EXPECT_FALSE(bench.state.AbortAll);
}

TEST(AdClocks, OversizedCountIsClampedToTheBuffer)
{
    AnalogBench bench;
    bench.state.board.ChannelCount = 100000;
    PlainRow row(2);
    runAdClocks(bench.ctx, row);
    EXPECT_EQ(bench.callsOf(QStringLiteral("ADC_BulkAcquire")).value(0).arguments, QStringLiteral("-3, size=512"));
}

} // namespace quillon::testing
