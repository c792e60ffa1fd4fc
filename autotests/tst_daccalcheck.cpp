// D/A Cal Check through its entry point, and together with D/A Cal Set on the simulated bench.
#include "station/Station.h"
#include "device/TracingDevice.h"
#include "sim/SimBoard.h"
#include "support/PlainStation.h"
#include "support/QtPrinters.h"
#include "support/ScriptedOperator.h"
#include "procedures/DacMath.h"
#include "procedures/ProductionTests.h"

#include <gtest/gtest.h>

#include <QLocale>

#include <cmath>
#include "support/CLocale.h"

// Expected texts below spell numbers with a point.
static const auto *const cLocaleEnvironment = ::testing::AddGlobalTestEnvironment(new quillon::testing::CLocale);

namespace quillon {
namespace {

using testing::PlainRow;
using testing::PlainShell;
using testing::ScriptedOperator;

const QString Label =
    QStringLiteral("Measure each DAC with a meter, at these three (calibrated) voltages. Are they all good?");

// A technician with a meter: types what it shows into the reading dialog, and on
// the scale dialog picks every level and says Yes only if all four outputs are
// within 1.5 mV of the volts the item names.
class MeterTechnician final : public ScriptedOperator {
public:
    explicit MeterTechnician(sim::SimBoard &board) : m_board(board)
    {
        onPrompt = [this](const testing::Prompt &p) {
            if (p.kind != "DacReading")
                return;
            QStringList typed;
            for (int i = 0; i < 4; ++i)
                typed << QLocale().toString(m_board.meterDac(i), 'f', 4);
            readingAnswers.push_back({true, typed});
        };
    }

    bool checkDacScale(const QString &, const QStringList &items, const std::function<void(int)> &onScaleClick) override
    {
        onScaleClick(1);
        bool good = true;
        for (int item = 0; item < items.size(); ++item) {
            onScaleClick(item);
            const QString volts = items[item].section('(', 1).section(' ', 0, 0);
            const double expected = QLocale().toDouble(volts);
            for (int i = 0; i < 4; ++i)
                good = good && std::fabs(m_board.meterDac(i) - expected) <= 0.0015;
        }
        scaleVerdicts << good;
        return good;
    }

    QList<bool> scaleVerdicts;

private:
    sim::SimBoard &m_board;
};

class DacCalCheckTest : public ::testing::Test {
protected:
    DacCalCheckTest()
    {
        state.board.HasDacs = true;
        state.dacRange.DacRange = -1;
        trace.setKeeping(true);
    }

    void run() { runDacCalCheck(ctx, row); }

    // Data of the DAC writes, as "index: frame".
    QStringList dacWrites() const
    {
        QStringList out;
        for (const LibraryCall &c : trace.calls())
            if (c.arguments.startsWith("-3, 0xB3, 0x0000, "))
                out << c.arguments.mid(18, 6) + ": " + QString::fromLatin1(c.dataOut.toHex(' '));
        return out;
    }
    static QString frame(const char *code) // four copies of one little-endian code
    {
        const QString c = QString::fromLatin1(code);
        return "0x0000: 0f " + c + ' ' + c + ' ' + c + ' ' + c + " 00 00 00 00 00 00 00 00";
    }

    sim::SimBoard board;
    TracingDevice trace{board};
    ScriptedOperator op;
    PlainShell shell;
    StationState state;
    StationContext ctx{trace, op, shell, state};
    PlainRow row{9};
};

TEST_F(DacCalCheckTest, ItemsNameTheCalibratedVoltsOfTheRange)
{
    struct Case {
        int range;
        const char *items;
    };
    const Case cases[] = {
        {0, "M&in (0.0000 V)|&Mid (2.5000 V)|M&ax (4.9999 V)"},
        {1, "M&in (-5.0000 V)|&Mid (0.0000 V)|M&ax (4.9998 V)"},
        {2, "M&in (0.0000 V)|&Mid (5.0000 V)|M&ax (9.9998 V)"},
        {3, "M&in (-10.0000 V)|&Mid (0.0000 V)|M&ax (9.9997 V)"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.range);
        op.prompts.clear();
        state.dacRange.DacRange = -1;
        op.rangeAnswers.push_back(c.range);
        run();
        ASSERT_EQ(op.prompts.size(), 2);
        EXPECT_EQ(op.prompts[1].kind, "DacScale");
        EXPECT_EQ(op.prompts[1].text, Label + '\n' + c.items);
    }
}

TEST_F(DacCalCheckTest, RangeStateIsAlwaysConsistent)
{
    // The all-zero state of a fresh station means 0-5 V: span and polarity follow it.
    state.dacRange = DacRangeState{};
    run();
    EXPECT_EQ(op.prompts.size(), 1);
    EXPECT_TRUE(op.prompts[0].text.endsWith("M&ax (4.9999 V)"));
    EXPECT_EQ(state.dacRange.DacSpanVolts, 5);

    // An answer outside the four items counts as the preselected one.
    state.dacRange.DacRange = -1;
    op.rangeAnswers.push_back(7);
    run();
    EXPECT_EQ(state.dacRange.DacRange, 3);
    EXPECT_TRUE(state.dacRange.DacBipolar);
}

TEST_F(DacCalCheckTest, YesUntouchedPassesWithDacsAtMidScale)
{
    run();
    EXPECT_EQ(row.memoLines(), QStringList{"D/A Cal Check: PASS"});
    EXPECT_EQ(row.status(), TestStatus::Pass);
    EXPECT_EQ(row.refreshed, (QList<TestStatus>{TestStatus::Testing, TestStatus::Pass}));
    ASSERT_EQ(trace.calls().size(), 2);
    EXPECT_EQ(trace.calls()[0].function + ' ' + trace.calls()[0].arguments, "DACSetBoardRange -3, 0");
    EXPECT_EQ(dacWrites(), QStringList{frame("00 80")});
}

TEST_F(DacCalCheckTest, EachPickRewritesAllFourDacs)
{
    op.scaleAnswers.push_back({{0, 2, 0, 7, -1}, true});
    run();
    EXPECT_EQ(dacWrites(), (QStringList{frame("00 80"), frame("00 00"), frame("ff ff"), frame("00 00")}));
    EXPECT_EQ(row.memoLines(), QStringList{"D/A Cal Check: PASS"});
}

TEST_F(DacCalCheckTest, NoFailsAndWriteErrorsAreLeftToTheTechnician)
{
    op.scaleAnswers.push_back({{}, false});
    run();
    EXPECT_EQ(row.memoLines(), (QStringList{"\tTester reported at least one DAC bad.", "D/A Cal Check: FAIL"}));
    EXPECT_EQ(row.status(), TestStatus::Fail);

    board.faults.dacWriteStatus = 5;
    op.scaleAnswers.push_back({{0, 2}, true});
    run();
    EXPECT_EQ(row.memoLines(), QStringList{"D/A Cal Check: PASS"});
}

TEST_F(DacCalCheckTest, BoardWithoutDacs)
{
    state.board.HasDacs = false;
    run();
    EXPECT_EQ(row.memoLines(), QStringList{"This test does not apply."});
    EXPECT_EQ(row.status(), TestStatus::Pass);
    EXPECT_TRUE(op.prompts.isEmpty());
    EXPECT_TRUE(trace.calls().isEmpty());
}

TEST_F(DacCalCheckTest, ClosingWindowEndsWithoutVerdict)
{
    op.onPrompt = [&](const testing::Prompt &p) {
        if (p.kind == "DacScale")
            shell.isClosing = true;
    };
    op.scaleAnswers.push_back({{}, false});
    run();
    EXPECT_EQ(row.status(), TestStatus::Testing);
    EXPECT_TRUE(row.memoLines().isEmpty());
}

class DacBenchTest : public ::testing::Test {
protected:
    DacBenchTest()
    {
        state.board.HasDacs = true;
        state.dacRange.DacRange = -1;
    }

    sim::SimBoard board;
    MeterTechnician tech{board};
    PlainShell shell;
    StationState state;
    StationContext ctx{board, tech, shell, state};
    PlainRow setRow{8};
    PlainRow checkRow{9};
};

TEST_F(DacBenchTest, CalibratedBoardPassesTheCheck)
{
    runDacCalSet(ctx, setRow);
    ASSERT_EQ(setRow.status(), TestStatus::Pass);
    runDacCalCheck(ctx, checkRow);
    EXPECT_EQ(checkRow.memoLines(), QStringList{"D/A Cal Check: PASS"});
    int rangeQuestions = 0;
    for (const auto &p : tech.prompts)
        rangeQuestions += p.kind == "DacRange";
    EXPECT_EQ(rangeQuestions, 1); // the check reuses the range Cal Set asked for
}

TEST_F(DacBenchTest, UncalibratedOrDriftingDacIsCaught)
{
    // Without calibration the board's own gain and offset errors are several mV.
    runDacCalCheck(ctx, checkRow);
    EXPECT_EQ(tech.scaleVerdicts, QList<bool>{false});

    runDacCalSet(ctx, setRow);
    ASSERT_EQ(setRow.status(), TestStatus::Pass);
    board.faults.dacDriftIndex = 2;
    board.faults.dacDriftVolts = 0.01;
    runDacCalCheck(ctx, checkRow);
    EXPECT_EQ(checkRow.memoLines(), (QStringList{"\tTester reported at least one DAC bad.", "D/A Cal Check: FAIL"}));
}

TEST(DacScaleClick, OnlyTheThreeItemsWrite)
{
    sim::SimBoard board;
    TracingDevice trace(board);
    trace.setKeeping(true);
    for (int item : {-1, 3, 100})
        DacScaleClick(trace, item);
    EXPECT_TRUE(trace.calls().isEmpty());
    DacScaleClick(trace, 2);
    EXPECT_EQ(board.dacCode(0), 0xFFFF);
    EXPECT_EQ(board.dacCode(3), 0xFFFF);
}

} // namespace
} // namespace quillon
