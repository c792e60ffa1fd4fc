#include "station/Detection.h"
#include "station/Station.h"
#include "device/TracingDevice.h"
#include "sim/JigPrompts.h"
#include "sim/SimBoard.h"
#include "support/PlainStation.h"
#include "support/ScriptedOperator.h"
#include "procedures/ProductionTests.h"

#include <gtest/gtest.h>

namespace quillon {
namespace {

using testing::PlainRow;
using testing::PlainShell;
using testing::Prompt;
using testing::ScriptedOperator;

const QString kPullupHint = QStringLiteral("This may indicate pulldowns installed instead.");
const QString kLoopHint = QStringLiteral("This may indicate solder bridges on the DIO pins or DIO dir pins.");

// A board on the bench and a technician who does what the jig prompts say.
struct Bench {
    sim::SimBoard board{[] { return std::int64_t(0); }};
    TracingDevice lib{board};
    ScriptedOperator op;
    PlainShell shell;
    StationState state;
    StationContext ctx{lib, op, shell, state};
    PlainRow row;

    explicit Bench(int rowIndex = 0) : row(rowIndex)
    {
        lib.setKeeping(true);
        shell.realSleep = false;
        board.jig.connected = true; // left on the bench from the last board
        op.onPrompt = [this](const Prompt &p) { sim::followJigPrompt(board.jig, p.caption); };
        row.addLine(QStringLiteral("left over from the last run"));
    }

    void wide()
    {
        state.board.DioMask = 255;
        state.board.DioSpread = 1;
    }
    void narrow()
    {
        // A multiplexer board of revision D: the jig fans port B's low nibble out to port A.
        board.identity.productId = 0x8145;
        board.identity.newerThanRevD = false;
        state.board.DioMask = 15;
        state.board.DioSpread = 17;
    }

    QStringList calls(const QString &function) const
    {
        QStringList out;
        for (const LibraryCall &c : lib.calls())
            if (c.function == function)
                out << c.arguments;
        return out;
    }
    QString lastConfigure() const
    {
        const QStringList all = calls(QStringLiteral("DIO_Configure"));
        return all.isEmpty() ? QString() : all.last();
    }
};

QString hex2(int v)
{
    return QString::number(v, 16).toUpper().rightJustified(2, QLatin1Char('0'));
}

QString word4(int v)
{
    return QStringLiteral("0x") + QString::number(v, 16).toUpper().rightJustified(4, QLatin1Char('0'));
}

QStringList mismatches(const QString &dir, int mask, int spread)
{
    QStringList out;
    for (int p = 0; p <= mask; ++p)
        if (p * spread != 0xFF)
            out << QStringLiteral("\t%1: expected %2, got FF").arg(dir, hex2(p * spread));
    return out;
}

// ---- DIO Pullup ----

TEST(DioPullup, ReportsTheLinesThatAreNotPulledHigh)
{
    struct Case {
        const char *name;
        std::function<void(Bench &)> setUp;
        QStringList memo;
        TestStatus status;
    };
    const Case cases[] = {
        {"all high", [](Bench &) {}, {"", "\tDIO Pullup: Passed"}, TestStatus::Pass},
        {"bit 3 low",
         [](Bench &b) { b.board.faults.dioStuckLow = 0x0008; },
         {"\tExpected FFFF, got FFF7", "", "\tDIO Pullup: 1 Failures", kPullupHint},
         TestStatus::Fail},
        {"pull-downs",
         [](Bench &b) { b.board.faults.dioPullDowns = 0xFFFF; },
         {"\tExpected FFFF, got 0000", "", "\tDIO Pullup: 1 Failures", kPullupHint},
         TestStatus::Fail},
        {"port B pulled down",
         [](Bench &b) { b.board.faults.dioPullDowns = 0xFF00; },
         {"\tExpected FFFF, got 00FF", "", "\tDIO Pullup: 1 Failures", kPullupHint},
         TestStatus::Fail},
        {"jig left on, one pull-down",
         [](Bench &b) {
             b.op.onPrompt = nullptr;
             b.board.faults.dioPullDowns = 0x0001;
         },
         {"\tExpected FFFF, got FEFE", "", "\tDIO Pullup: 1 Failures", kPullupHint},
         TestStatus::Fail},
        {"read delivers nothing",
         [](Bench &b) { b.board.faults.failCallNumber = 2; },
         {"\tExpected FFFF, got 0000", "", "\tDIO Pullup: 1 Failures", kPullupHint},
         TestStatus::Fail},
    };
    for (const Case &c : cases) {
        Bench b;
        c.setUp(b);
        runDioPullup(b.ctx, b.row);
        EXPECT_EQ(b.row.memoLines(), c.memo) << c.name;
        EXPECT_EQ(b.row.status(), c.status) << c.name;
        EXPECT_EQ(b.row.refreshed, QList<TestStatus>({TestStatus::Testing, c.status})) << c.name;
        ASSERT_EQ(b.op.prompts.size(), 1) << c.name;
        EXPECT_EQ(b.op.prompts[0].kind, QStringLiteral("JigInfo"));
        EXPECT_EQ(b.op.prompts[0].caption, QStringLiteral("No Test Jig"));
        EXPECT_EQ(b.op.processEventsCount, 1);
        QStringList traffic;
        for (const LibraryCall &call : b.lib.calls())
            traffic << call.function + QLatin1Char('(') + call.arguments + QLatin1Char(')');
        EXPECT_EQ(traffic,
                  QStringList({"DIO_Configure(-3, tristate=0, mask=0x00, data=0xFFFF)", "DIO_ReadAll(-3, data)"}))
            << c.name;
    }
}

// ---- DIO Loopback ----

TEST(DioLoopback, GoodJigPassesWithTheExpectedMemo)
{
    struct Case {
        bool wide;
        QStringList memo;
        int pairs;
    };
    const Case cases[] = {
        {true, {"\tA to B: Passed", "", "\tB to A: Passed", "", "\tDIO Loopback: Passed"}, 512},
        {false, {"\tB to A: Passed", "", "\tDIO Loopback: Passed"}, 16},
    };
    for (const Case &c : cases) {
        Bench b(1);
        b.board.jig.connected = false;
        c.wide ? b.wide() : b.narrow();
        runDioLoopback(b.ctx, b.row);
        EXPECT_EQ(b.row.memoLines(), c.memo);
        EXPECT_EQ(b.row.status(), TestStatus::Pass);
        EXPECT_EQ(b.row.refreshed, QList<TestStatus>({TestStatus::Testing, TestStatus::Pass}));
        EXPECT_EQ(b.op.captions(), QStringList({"Test Jig Needed"}));
        EXPECT_EQ(b.op.prompts[0].kind, QStringLiteral("JigInfo"));
        EXPECT_EQ(b.calls(QStringLiteral("DIO_WriteAll")).size(), c.pairs);
        EXPECT_EQ(b.calls(QStringLiteral("DIO_ReadAll")).size(), c.pairs);
    }
}

TEST(DioLoopback, DrivesEveryPatternInTheBoardsDirectionsAndLeavesInputs)
{
    Bench b(1);
    b.wide();
    runDioLoopback(b.ctx, b.row);
    QStringList expected{"DIO_Configure(-3, tristate=0, mask=0x01, data=0xFFFF)"};
    for (int p = 0; p < 256; ++p)
        expected << QStringLiteral("DIO_WriteAll(-3, %1)").arg(word4(p)) << QStringLiteral("DIO_ReadAll(-3, data)");
    expected << "DIO_Configure(-3, tristate=0, mask=0x02, data=0xFFFF)";
    for (int p = 0; p < 256; ++p)
        expected << QStringLiteral("DIO_WriteAll(-3, %1)").arg(word4(p << 8))
                 << QStringLiteral("DIO_ReadAll(-3, data)");
    expected << "DIO_Configure(-3, tristate=0, mask=0x00, data=0xFFFF)";
    QStringList traffic;
    for (const LibraryCall &call : b.lib.calls())
        traffic << call.function + QLatin1Char('(') + call.arguments + QLatin1Char(')');
    EXPECT_EQ(traffic, expected);
    EXPECT_EQ(b.board.dioOutputMask(), 0);
}

TEST(DioLoopback, NarrowBoardWritesPortBNibblesAndExpectsThemInBothNibbles)
{
    Bench b(1);
    b.narrow();
    b.board.faults.jigMissing = true; // every read shows FF, so every expected value is printed
    runDioLoopback(b.ctx, b.row);
    QStringList memo = mismatches(QStringLiteral("B to A"), 15, 17);
    ASSERT_EQ(memo.size(), 15);
    EXPECT_EQ(memo.first(), QStringLiteral("\tB to A: expected 00, got FF"));
    EXPECT_EQ(memo.last(), QStringLiteral("\tB to A: expected EE, got FF"));
    memo << "\tB to A: 15 Failures"
         << ""
         << "\tDIO Loopback: 15 Failures" << kLoopHint;
    EXPECT_EQ(b.row.memoLines(), memo);
    EXPECT_EQ(b.row.status(), TestStatus::Fail);

    QStringList writes;
    for (int p = 0; p < 16; ++p)
        writes << QStringLiteral("-3, ") + word4(p << 8);
    EXPECT_EQ(b.calls(QStringLiteral("DIO_WriteAll")), writes);
    EXPECT_EQ(b.lastConfigure(), QStringLiteral("-3, tristate=0, mask=0x00, data=0xFFFF"));
}

TEST(DioLoopback, MissingJigFailsEveryPatternButAllOnes)
{
    Bench b(1);
    b.wide();
    b.board.faults.jigMissing = true;
    runDioLoopback(b.ctx, b.row);
    QStringList memo = mismatches(QStringLiteral("A to B"), 255, 1);
    memo << "\tA to B: 255 Failures"
         << "";
    memo << mismatches(QStringLiteral("B to A"), 255, 1);
    memo << "\tB to A: 255 Failures"
         << ""
         << "\tDIO Loopback: 510 Failures" << kLoopHint;
    EXPECT_EQ(b.row.memoLines(), memo);
    EXPECT_EQ(b.row.status(), TestStatus::Fail);
    EXPECT_EQ(b.lastConfigure(), QStringLiteral("-3, tristate=0, mask=0x00, data=0xFFFF"));
}

TEST(DioLoopback, OneReadThatDeliversNothingFailsOnePattern)
{
    Bench b(1);
    b.wide();
    // Calls: configure, 256 A-to-B pairs, configure, then B-to-A pairs; fail the read of 0x12.
    b.board.faults.failCallNumber = 1 + 512 + 1 + 2 * 0x12 + 2;
    runDioLoopback(b.ctx, b.row);
    EXPECT_EQ(b.row.memoLines(), QStringList({"\tA to B: Passed", "", "\tB to A: expected 12, got FF",
                                              "\tB to A: 1 Failures", "", "\tDIO Loopback: 1 Failures", kLoopHint}));
    EXPECT_EQ(b.row.status(), TestStatus::Fail);
}

TEST(DioLoopback, BridgedLinesShowAsARealBridgeWould)
{
    // A0 bridged to A1: the jig joins them to B0 and B1 too, and a driven low wins.
    Bench b(1);
    b.wide();
    b.board.faults.dioBridgeA = 0;
    b.board.faults.dioBridgeB = 1;
    runDioLoopback(b.ctx, b.row);
    QStringList memo;
    for (const QString &dir : {QStringLiteral("A to B"), QStringLiteral("B to A")}) {
        int n = 0;
        for (int p = 0; p < 256; ++p) {
            const int both = (p & 3) == 3 ? 3 : 0;
            const int got = (p & ~3) | both;
            if (got != p) {
                memo << QStringLiteral("\t%1: expected %2, got %3").arg(dir, hex2(p), hex2(got));
                ++n;
            }
        }
        EXPECT_EQ(n, 128);
        memo << QStringLiteral("\t%1: 128 Failures").arg(dir) << "";
    }
    memo << "\tDIO Loopback: 256 Failures" << kLoopHint;
    EXPECT_EQ(b.row.memoLines(), memo);
    EXPECT_EQ(b.lastConfigure(), QStringLiteral("-3, tristate=0, mask=0x00, data=0xFFFF"));
}

TEST(DioLoopback, MultiplexerBoardWithAnOldDriverFails)
{
    // The board is newer than revision D, but the driver can't say so: detection
    // assumes the old wiring, and the jig (wired for the real board) disagrees.
    Bench b(1);
    b.board.identity.productId = 0x8145;
    b.board.identity.newerThanRevD = true;
    b.board.identity.revisionReply = {0, 1};
    ASSERT_TRUE(detectBoard(b.lib, b.op, b.state).found);
    ASSERT_EQ(b.state.board.DioMask, 15);
    b.lib.clearCalls();

    runDioLoopback(b.ctx, b.row);
    QStringList memo;
    for (int p = 1; p < 16; ++p)
        memo << QStringLiteral("\tB to A: expected %1, got 0%2").arg(hex2(p * 17), QString::number(p, 16).toUpper());
    memo << "\tB to A: 15 Failures"
         << ""
         << "\tDIO Loopback: 15 Failures" << kLoopHint;
    EXPECT_EQ(b.row.memoLines(), memo);
    EXPECT_EQ(b.row.status(), TestStatus::Fail);
}

TEST(DioTests, StopAtOnceWhenTheWindowClosesDuringThePrompt)
{
    for (bool loopback : {false, true}) {
        Bench b(loopback ? 1 : 0);
        b.wide();
        b.op.onPrompt = [&b](const Prompt &) { b.shell.isClosing = true; };
        loopback ? runDioLoopback(b.ctx, b.row) : runDioPullup(b.ctx, b.row);
        EXPECT_TRUE(b.lib.calls().isEmpty()) << loopback;
        EXPECT_TRUE(b.row.memoLines().isEmpty()) << loopback;
        EXPECT_EQ(b.row.status(), TestStatus::Testing) << loopback;
    }
}

} // namespace
} // namespace quillon
