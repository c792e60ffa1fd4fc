// D/A Cal Set through its entry point, with the simulated board and a scripted technician.
#include "station/DacCalStore.h"
#include "station/Station.h"
#include "device/TracingDevice.h"
#include "sim/SimBoard.h"
#include "support/PlainStation.h"
#include "support/QtPrinters.h"
#include "support/ScriptedOperator.h"
#include "procedures/ProductionTests.h"

#include <gtest/gtest.h>

#include <QLocale>

#include <array>
#include <cmath>
#include <cstring>
#include <vector>
#include "support/CLocale.h"

// Expected texts below spell numbers with a point.
static const auto *const cLocaleEnvironment = ::testing::AddGlobalTestEnvironment(new quillon::testing::CLocale);

namespace quillon {
namespace {

using testing::PlainRow;
using testing::PlainShell;
using testing::ScriptedOperator;

QStringList times(const QString &line, int n)
{
    QStringList out;
    for (int i = 0; i < n; ++i)
        out << line;
    return out;
}

// The constants as the EEPROM holds them (record 0), decoded here independently.
std::array<float, 8> storedConstants(const std::vector<std::uint8_t> &eeprom)
{
    std::array<float, 8> out{};
    for (size_t k = 0; k < 8; ++k) {
        const std::uint8_t *p = eeprom.data() + DacCalRecordBase + 4 + 4 * k;
        const quint32 bits = (quint32(p[0]) << 24) | (quint32(p[1]) << 16) | (quint32(p[2]) << 8) | p[3];
        std::memcpy(&out[k], &bits, 4);
    }
    return out;
}

class DacCalSetTest : public ::testing::Test {
protected:
    DacCalSetTest()
    {
        state.board.HasDacs = true;
        state.dacRange.DacRange = -1; // as detection leaves it
        shell.realSleep = false;
        trace.setKeeping(true);
        before = board.eeprom();
    }

    void answer(int rangeItem, const QStringList &low, const QStringList &high)
    {
        op.rangeAnswers.push_back(rangeItem);
        op.readingAnswers.push_back({true, low});
        op.readingAnswers.push_back({true, high});
    }

    void run() { runDacCalSet(ctx, row); }

    QStringList callsTo(const QString &prefix) const
    {
        QStringList out;
        for (const LibraryCall &c : trace.calls())
            if ((c.function + ' ' + c.arguments).startsWith(prefix))
                out << c.arguments;
        return out;
    }
    bool eepromTouched() const { return !callsTo("GenericVendorWrite -3, 0xA2").isEmpty() || board.eeprom() != before; }
    bool reloadSent() const { return !callsTo("GenericVendorWrite -3, 0xB3, 0x0000, 0x4000").isEmpty(); }
    int promptsOf(const QString &kind) const
    {
        int n = 0;
        for (const auto &p : op.prompts)
            n += p.kind == kind;
        return n;
    }
    int readingDialogs() const { return promptsOf("DacReading"); }

    sim::SimBoard board;
    TracingDevice trace{board};
    ScriptedOperator op;
    PlainShell shell;
    StationState state;
    StationContext ctx{trace, op, shell, state};
    PlainRow row{8};
    std::vector<std::uint8_t> before;
};

TEST_F(DacCalSetTest, FitsStoresAndReloads)
{
    answer(2, times("0.1", 4), times("9.9", 4));
    run();

    QStringList expected;
    expected << "DAC Low Reading" << times("0.1 V -> 655d counts", 4) << "DAC High Reading"
             << times("9.9 V -> 64880d counts", 4) << ""
             << "4 DACs.";
    for (int i = 0; i < 4; ++i)
        expected << QStringLiteral("M[%1] = 1.0000").arg(i) << QStringLiteral("B[%1] = -0.3571").arg(i);
    expected << ""
             << "D/A Cal Set: PASS";
    EXPECT_EQ(row.memoLines(), expected);
    EXPECT_EQ(row.status(), TestStatus::Pass);
    EXPECT_EQ(row.refreshed, (QList<TestStatus>{TestStatus::Testing, TestStatus::Pass}));

    ASSERT_EQ(op.prompts.size(), 3);
    EXPECT_EQ(op.prompts[0].kind, "DacRange");
    EXPECT_EQ(op.prompts[1].caption, "DAC Low Reading");
    EXPECT_EQ(op.prompts[1].text,
              "The DACs should be producing about +0.1V. Measure each with a meter, and enter the actual value.");
    EXPECT_EQ(op.prompts[2].caption, "DAC High Reading");
    EXPECT_EQ(op.prompts[2].text,
              "The DACs should be producing about +9.9V. Measure each with a meter, and enter the actual value.");

    // Range, the two raw writes, the store (21 EEPROM requests), the reload.
    const auto &calls = trace.calls();
    ASSERT_EQ(calls.size(), 1 + 2 + 21 + 1);
    EXPECT_EQ(calls[0].function + ' ' + calls[0].arguments, "DACSetBoardRange -3, 0");
    EXPECT_EQ(calls[1].arguments, "-3, 0xB3, 0x0000, 0x8000, size=17");
    EXPECT_EQ(calls[1].dataOut.toHex(' '), "0f 8f 02 8f 02 8f 02 8f 02 00 00 00 00 00 00 00 00");
    EXPECT_EQ(calls[2].dataOut.toHex(' '), "0f 70 fd 70 fd 70 fd 70 fd 00 00 00 00 00 00 00 00");
    EXPECT_EQ(calls.last().arguments, "-3, 0xB3, 0x0000, 0x4000, size=17");
    EXPECT_EQ(calls.last().dataOut, QByteArray(17, '\0'));

    EXPECT_EQ(board.eeprom()[DacRangeCountAddress], 2);
    EXPECT_EQ(board.eeprom()[DacRangeCountAddress + 1], 4);
    const auto c = storedConstants(board.eeprom());
    EXPECT_NEAR(c[0], 64225.0 / 64224.3, 1e-6);
    EXPECT_NEAR(c[1], 655.0 - 655.35 * 64225.0 / 64224.3, 1e-4);
    EXPECT_TRUE(board.calibrationLoaded());
}

TEST_F(DacCalSetTest, CorrectionLowersTheGainInUnipolarRangesOnly)
{
    struct Case {
        int range;
        bool correction;
        QString low, high, m, b;
    };
    const Case cases[] = {
        {2, false, "0.1", "9.9", "1.0000", "-0.3571"},
        {2, true, "0.1", "9.9", "0.9970", "1.6090"},
        {3, false, "0", "9.9", "1.0000", "1.3340"},
        {3, true, "0", "9.9", "1.0000", "1.3340"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(QStringLiteral("range %1, correction %2").arg(c.range).arg(c.correction).toStdString());
        state.dacRange.DacRange = -1;
        shell.correction = c.correction;
        answer(c.range, times(c.low, 4), times(c.high, 4));
        run();
        const QStringList memo = row.memoLines();
        ASSERT_EQ(memo.size(), 22);
        EXPECT_EQ(memo.mid(12, 3), (QStringList{"M[0] = " + c.m, "B[0] = " + c.b, "M[1] = " + c.m}));
        EXPECT_EQ(memo.last(), "D/A Cal Set: PASS");
    }
}

TEST_F(DacCalSetTest, PromptsAndHighDefaultsFollowTheRange)
{
    struct Case {
        int range;
        QString lowVolts, highVolts, highLine;
    };
    const Case cases[] = {
        {0, "+0.05", "+4.95", "+4.95 V -> 64880d counts"},
        {1, "\u00B10", "+4.95", "+4.95 V -> 65207d counts"},
        {2, "+0.1", "+9.9", "+9.9 V -> 64880d counts"},
        {3, "\u00B10", "+9.9", "+9.9 V -> 65207d counts"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.range);
        op.prompts.clear();
        state.dacRange.DacRange = -1;
        op.rangeAnswers.push_back(c.range);
        op.readingAnswers.push_back({true, times("0", 4)});
        op.readingAnswers.push_back({true, {}}); // High: leave the prefilled texts
        run();
        ASSERT_EQ(op.prompts.size(), 3);
        EXPECT_EQ(op.prompts[1].text, "The DACs should be producing about " + c.lowVolts
                                          + "V. Measure each with a meter, and enter the actual value.");
        EXPECT_EQ(op.prompts[2].text, "The DACs should be producing about " + c.highVolts
                                          + "V. Measure each with a meter, and enter the actual value.");
        EXPECT_EQ(row.memoLines().mid(6, 4), times(c.highLine, 4));
        EXPECT_EQ(state.dacRange.DacSpanVolts, c.range < 2 ? 5 : 10);
        EXPECT_EQ(state.dacRange.DacBipolar, c.range % 2 == 1);
        EXPECT_EQ(board.eeprom()[DacRangeCountAddress], c.range);
    }
    // Bipolar: 32767.5 counts is a tie and goes to the even neighbour.
    EXPECT_EQ(row.memoLines()[1], "0 V -> 32768d counts");
}

TEST_F(DacCalSetTest, EmptyFieldDropsThatDacAndTheOnesAbove)
{
    struct Case {
        QStringList low;
        int count;
    };
    const Case cases[] = {
        {{"0.1", "0.1", "", "0.1"}, 2},
        {{"0.1", "", "0.1", "0.1"}, 1},
        {{"0.1", "0.1", "0.1", "x"}, 3},
        {{"0.1"}, 1}, // the Low fields start empty
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.count);
        state.dacRange.DacRange = -1;
        answer(2, c.low, times("9.9", 4));
        run();
        QStringList expected;
        expected << "DAC Low Reading" << times("0.1 V -> 655d counts", c.count) << "DAC High Reading"
                 << times("9.9 V -> 64880d counts", c.count) << "" << QStringLiteral("%1 DACs.").arg(c.count);
        for (int i = 0; i < c.count; ++i)
            expected << QStringLiteral("M[%1] = 1.0000").arg(i) << QStringLiteral("B[%1] = -0.3571").arg(i);
        expected << ""
                 << "D/A Cal Set: PASS";
        EXPECT_EQ(row.memoLines(), expected);
        EXPECT_EQ(board.eeprom()[DacRangeCountAddress + 1], c.count);
        const auto stored = storedConstants(board.eeprom());
        for (int i = c.count; i < 4; ++i) {
            EXPECT_EQ(stored[size_t(2 * i)], 1.0f) << "M" << i;
            EXPECT_EQ(stored[size_t(2 * i + 1)], 0.0f) << "B" << i;
        }
    }
}

TEST_F(DacCalSetTest, CancelEndsWithoutTouchingTheEeprom)
{
    op.readingAnswers.push_back({false, {}});
    run();
    EXPECT_EQ(row.memoLines(), (QStringList{"DAC Low Reading", "Cancelled by tester.", "", "D/A Cal Set: FAIL"}));
    EXPECT_EQ(row.status(), TestStatus::Fail);
    EXPECT_FALSE(eepromTouched());
    EXPECT_FALSE(reloadSent());

    op.readingAnswers.push_back({true, times("0", 4)});
    op.readingAnswers.push_back({false, {}});
    run();
    EXPECT_EQ(row.memoLines(), (QStringList{"DAC Low Reading"} + times("0 V -> 32768d counts", 4)
                                + QStringList{"DAC High Reading", "Cancelled by tester.", "", "D/A Cal Set: FAIL"}));
    EXPECT_FALSE(eepromTouched());
}

TEST_F(DacCalSetTest, RangeIsAskedOncePerDetection)
{
    answer(0, times("0.05", 4), times("4.95", 4));
    run();
    answer(0, times("0.05", 4), times("4.95", 4));
    run();
    EXPECT_EQ(promptsOf("DacRange"), 1);
    EXPECT_EQ(state.dacRange.DacRange, 0);

    state.dacRange.DacRange = -1;
    answer(0, times("0.05", 4), times("4.95", 4));
    run();
    EXPECT_EQ(promptsOf("DacRange"), 2);
}

TEST_F(DacCalSetTest, BoardWithoutDacs)
{
    state.board.HasDacs = false;
    run();
    EXPECT_EQ(row.memoLines(), QStringList{"This test does not apply."});
    EXPECT_EQ(row.status(), TestStatus::Pass);
    EXPECT_TRUE(op.prompts.isEmpty());
    EXPECT_TRUE(trace.calls().isEmpty());
}

// Readings that cannot give finite constants end the run before the EEPROM is touched.
TEST_F(DacCalSetTest, UnusableReadingsFailBeforeTheStore)
{
    struct Case {
        const char *name;
        QStringList low, high;
        QStringList tail; // memo after the range's lines
        int dialogs;
    };
    const Case cases[] = {
        {"equal readings",
         {"5", "0.1", "0.1", "0.1"},
         {"5", "9.9", "9.9", "9.9"},
         {"", "DAC 0: low and high readings are equal.", "", "D/A Cal Set: FAIL"},
         2},
        {"huge reading",
         {"0.1", "1e300", "0.1", "0.1"},
         {},
         {"DAC Low Reading", "0.1 V -> 655d counts", "DAC 1 reading 1e300 V is out of range.", "", "D/A Cal Set: FAIL"},
         1},
        {"nothing for DAC 0",
         {"", "0.1", "0.1", "0.1"},
         {},
         {"DAC Low Reading", "No reading entered for DAC 0.", "", "D/A Cal Set: FAIL"},
         1},
        {"DAC 0 cleared in the High phase",
         times("0.1", 4),
         {"abc", "9.9", "9.9", "9.9"},
         {"DAC High Reading", "No reading entered for DAC 0.", "", "D/A Cal Set: FAIL"},
         2},
        {"gain beyond single precision",
         times("0", 4),
         times("1e-300", 4),
         {"1e-300 V -> 0d counts", "", "DAC 0: readings give a gain or offset out of range.",
          "DAC 1: readings give a gain or offset out of range.", "DAC 2: readings give a gain or offset out of range.",
          "DAC 3: readings give a gain or offset out of range.", "", "D/A Cal Set: FAIL"},
         2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        op.prompts.clear();
        state.dacRange.DacRange = -1;
        answer(2, c.low, c.high);
        run();
        op.readingAnswers.clear();
        EXPECT_EQ(row.memoLines().mid(row.memoLines().size() - c.tail.size()), c.tail);
        EXPECT_EQ(row.status(), TestStatus::Fail);
        EXPECT_EQ(readingDialogs(), c.dialogs);
        EXPECT_FALSE(eepromTouched());
        EXPECT_FALSE(reloadSent());
    }
}

TEST_F(DacCalSetTest, DacWriteErrorSkipsThatPhaseAndTheStore)
{
    board.faults.dacWriteStatus = 5;
    run();
    EXPECT_EQ(row.memoLines(), (QStringList{"DAC Low Reading", "Error 5 from \"DACMultiDirect\".", "DAC High Reading",
                                            "Error 5 from \"DACMultiDirect\".", "", "D/A Cal Set: FAIL"}));
    EXPECT_EQ(readingDialogs(), 0);

    // Only the Low write fails (call 2 after the range call): the High phase still runs.
    board.faults.dacWriteStatus = 0;
    board.reset();
    board.faults.failCallNumber = 2;
    op.readingAnswers.push_back({true, times("9.9", 4)});
    run();
    EXPECT_EQ(row.memoLines(), (QStringList{"DAC Low Reading", "Error 31 from \"DACMultiDirect\".", "DAC High Reading"}
                                + times("9.9 V -> 65207d counts", 4) + QStringList{"", "D/A Cal Set: FAIL"}));
    EXPECT_EQ(readingDialogs(), 1);
    EXPECT_FALSE(eepromTouched());
    EXPECT_FALSE(reloadSent());
}

TEST_F(DacCalSetTest, StoreAndReloadFailures)
{
    board.faults.eepromFailWriteAddress = 7596;
    answer(3, times("0", 4), times("9.9", 4));
    run();
    EXPECT_EQ(row.memoLines().mid(20),
              (QStringList{"", "Error 31 writing cal constants to EEPROM.", "D/A Cal Set: FAIL"}));
    EXPECT_EQ(trace.calls().last().arguments, "-3, 0xB3, 0x0000, 0x4000, size=17");
    EXPECT_FALSE(board.calibrationLoaded());

    // The reload is call 25: range, two DAC writes, 21 EEPROM requests, then it.
    board.faults.eepromFailWriteAddress = -1;
    board.reset();
    board.faults.failCallNumber = 25;
    trace.clearCalls();
    answer(3, times("0", 4), times("9.9", 4));
    run();
    EXPECT_EQ(row.memoLines().mid(20),
              (QStringList{"", "Error 31 loading newly-written calibration.", "D/A Cal Set: FAIL"}));
    EXPECT_EQ(trace.calls().size(), 25);
}

TEST_F(DacCalSetTest, ClosingWindowStopsAtOnce)
{
    for (const QString kind : {"DacRange", "DacReading"}) {
        SCOPED_TRACE(kind.toStdString());
        shell.isClosing = false;
        state.dacRange.DacRange = -1;
        trace.clearCalls();
        op.onPrompt = [&](const testing::Prompt &p) {
            if (p.kind == kind)
                shell.isClosing = true;
        };
        run();
        EXPECT_EQ(row.status(), TestStatus::Testing);
        EXPECT_EQ(row.memoLines(), kind == "DacRange" ? QStringList{} : QStringList{"DAC Low Reading"});
        EXPECT_EQ(trace.calls().size(), kind == "DacRange" ? 0 : 2);
        EXPECT_FALSE(eepromTouched());
    }
}

TEST_F(DacCalSetTest, CommaLocale)
{
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    answer(2, times("0,1", 4), times("9,9", 4));
    run();
    QLocale::setDefault(saved);
    EXPECT_EQ(op.prompts[1].text,
              "The DACs should be producing about +0,1V. Measure each with a meter, and enter the actual value.");
    const QStringList memo = row.memoLines();
    ASSERT_EQ(memo.size(), 22);
    EXPECT_EQ(memo[1], "0,1 V -> 655d counts");
    EXPECT_EQ(memo[12], "M[0] = 1,0000");
    EXPECT_EQ(memo[13], "B[0] = -0,3571");
    EXPECT_EQ(memo.last(), "D/A Cal Set: PASS");
}

// The technician types what the meter shows; the stored calibration then puts every
// output within a millivolt of nominal.
TEST_F(DacCalSetTest, MeterReadingsCalibrateTheOutputs)
{
    for (int range : {1, 3}) {
        SCOPED_TRACE(range);
        board.identity.dacJumperRange = range;
        state.dacRange.DacRange = -1;
        op.rangeAnswers.push_back(range);
        op.onPrompt = [&](const testing::Prompt &p) {
            if (p.kind != "DacReading")
                return;
            QStringList typed;
            for (int i = 0; i < 4; ++i)
                typed << QLocale().toString(board.meterDac(i), 'f', 4);
            op.readingAnswers.push_back({true, typed});
        };
        run();
        ASSERT_EQ(row.status(), TestStatus::Pass) << row.memoLines().join('\n').toStdString();
        ASSERT_TRUE(board.calibrationLoaded());

        const double span = range == 3 ? 20.0 : 10.0;
        for (quint16 code : {quint16(0), quint16(0x8000), quint16(0xFFFF)}) {
            const std::array<quint16, 4> codes{code, code, code, code};
            ASSERT_EQ(DACMultiDirect(board, diOnly, codes, false), 0u);
            const double nominal = span * code / 65536.0 - span / 2;
            for (int i = 0; i < 4; ++i)
                EXPECT_NEAR(board.meterDac(i), nominal, 0.001) << "DAC " << i << " code " << code;
        }
    }
}

} // namespace
} // namespace quillon
