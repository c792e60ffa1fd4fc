// D/A Ramp through its entry point: the write sequence, the verdicts, and what happens
// when the window is used while the scope question is open.
#include "station/Station.h"
#include "device/TracingDevice.h"
#include "sim/SimBoard.h"
#include "support/PlainStation.h"
#include "support/QtPrinters.h"
#include "support/ScriptedOperator.h"
#include "procedures/ProductionTests.h"

#include <gtest/gtest.h>

namespace quillon {
namespace {

using testing::PlainRow;
using testing::PlainShell;
using testing::ScriptedOperator;

const QString ScopeText =
    QStringLiteral("Look at the DACs on a scope. DACs 0 & 2 should be producing a rising saw tooth and DACs 1 & 3 a "
                   "falling sawtooth, both at a few Hz. Are they both good?");

class DacRampTest : public ::testing::Test {
protected:
    DacRampTest()
    {
        state.board.HasDacs = true;
        trace.setKeeping(true);
    }

    void run() { runDacRamp(ctx, row); }

    QList<LibraryCall> dacWrites() const
    {
        QList<LibraryCall> out;
        for (const LibraryCall &c : trace.calls())
            if (c.arguments.startsWith("-3, 0xB3, 0x0000, 0x0000"))
                out << c;
        return out;
    }

    sim::SimBoard board;
    TracingDevice trace{board};
    ScriptedOperator op;
    PlainShell shell;
    StationState state;
    StationContext ctx{trace, op, shell, state};
    PlainRow row{10};
};

TEST_F(DacRampTest, RampsUntilAnsweredAndPassesOnYes)
{
    op.questionPolls = 128; // answered at the 129th poll
    run();

    EXPECT_TRUE(row.memoLines().isEmpty());
    EXPECT_EQ(row.status(), TestStatus::Pass);
    EXPECT_EQ(row.refreshed, (QList<TestStatus>{TestStatus::Testing, TestStatus::Pass}));
    ASSERT_EQ(op.prompts.size(), 1);
    EXPECT_EQ(op.prompts[0].kind, "Question");
    EXPECT_EQ(op.prompts[0].caption, "Scope Check");
    EXPECT_EQ(op.prompts[0].text, ScopeText);

    EXPECT_EQ(trace.calls().first().function + ' ' + trace.calls().first().arguments, "DACSetBoardRange -3, 0");
    const auto writes = dacWrites();
    ASSERT_EQ(writes.size(), 129);
    EXPECT_EQ(trace.calls().size(), 1 + 129);
    EXPECT_EQ(writes[0].dataOut.toHex(' '), "0f ff 01 00 fe ff 01 00 fe 00 00 00 00 00 00 00 00");
    EXPECT_EQ(writes[128].dataOut.toHex(' '), "0f 7f 01 80 fe 7f 01 80 fe 00 00 00 00 00 00 00 00");
    EXPECT_EQ(op.processEventsCount, 1 + 129); // once after clearing the memo, then after every write
    EXPECT_EQ(board.dacCode(0), 0x017F);
    EXPECT_EQ(board.dacCode(1), 0xFE80);
}

TEST_F(DacRampTest, VerdictFromAnswerAndFirstWriteError)
{
    struct Case {
        const char *name;
        int answer;
        std::function<void(sim::SimBoard &)> fault;
        QStringList memo;
    };
    const QString bad = "\tTester reported at least one DAC bad.";
    const Case cases[] = {
        {"yes", IdYes, [](sim::SimBoard &) {}, {}},
        {"no", IdNo, [](sim::SimBoard &) {}, {bad}},
        {"box closed otherwise", IdCancel, [](sim::SimBoard &) {}, {bad}},
        // Call 3 fails with 5; from call 6 on the board is gone and answers 2.
        {"first error kept",
         IdYes,
         [](sim::SimBoard &b) {
             b.faults.failCallNumber = 3;
             b.faults.failStatus = 5;
             b.faults.unplugAfterCalls = 5;
         },
         {"\t\"DACMultiDirect\" returned error 5."}},
        {"unplugged mid-run",
         IdYes,
         [](sim::SimBoard &b) { b.faults.unplugAfterCalls = 10; },
         {"\t\"DACMultiDirect\" returned error 2."}},
        {"both",
         IdNo,
         [](sim::SimBoard &b) { b.faults.dacWriteStatus = 0xFFFFFFFF; },
         {bad, "\t\"DACMultiDirect\" returned error 4294967295."}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        board.faults = {};
        board.reset();
        c.fault(board);
        op.questionPolls = 40;
        op.questionAnswer = c.answer;
        run();
        EXPECT_EQ(row.memoLines(), c.memo);
        EXPECT_EQ(row.status(), c.memo.isEmpty() ? TestStatus::Pass : TestStatus::Fail);
        EXPECT_EQ(board.callCount(), 1 + 41); // errors never end the ramp early
    }
}

TEST_F(DacRampTest, BoardWithoutDacs)
{
    state.board.HasDacs = false;
    run();
    EXPECT_EQ(row.memoLines(), QStringList{"This test does not apply."});
    EXPECT_EQ(row.status(), TestStatus::Pass);
    EXPECT_TRUE(op.prompts.isEmpty());
    EXPECT_TRUE(trace.calls().isEmpty());
}

TEST_F(DacRampTest, ClosingWindowEndsTheRampWithoutVerdict)
{
    op.questionPolls = 1000000; // never answered
    op.onProcessEvents = [&] {
        if (op.processEventsCount == 20)
            shell.isClosing = true;
    };
    run();
    EXPECT_EQ(row.status(), TestStatus::Testing);
    EXPECT_TRUE(row.memoLines().isEmpty());
    EXPECT_EQ(dacWrites().size(), 19);
}

// A test started from the window while the question is open runs to its end inside
// the event pass; the ramp then goes on from where it was and gives its own verdict.
TEST_F(DacRampTest, AnotherTestRunsToItsEndInsideTheRamp)
{
    PlainRow checkRow{9};
    op.questionPolls = 30;
    op.onProcessEvents = [&] {
        if (op.processEventsCount == 11)
            runDacCalCheck(ctx, checkRow);
    };
    run();

    EXPECT_EQ(checkRow.memoLines(), QStringList{"D/A Cal Check: PASS"});
    EXPECT_EQ(row.status(), TestStatus::Pass);
    EXPECT_TRUE(row.memoLines().isEmpty());

    // Ten ramp writes, the check's range call and mid-scale write, then the ramp resumes
    // with its eleventh code (11 * 511 = 0x15F5).
    const auto &calls = trace.calls();
    ASSERT_EQ(calls.size(), 1 + 10 + 2 + 21);
    EXPECT_EQ(calls[11].function, "DACSetBoardRange");
    EXPECT_EQ(calls[12].dataOut.toHex(' '), "0f 00 80 00 80 00 80 00 80 00 00 00 00 00 00 00 00");
    EXPECT_EQ(calls[13].dataOut.toHex(' '), "0f f5 15 0a ea f5 15 0a ea 00 00 00 00 00 00 00 00");
    EXPECT_EQ(calls.last().dataOut.mid(1, 2).toHex(), "e13d"); // 31 * 511 = 0x3DE1
}

} // namespace
} // namespace quillon
