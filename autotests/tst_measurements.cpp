// The measurements the rows report beside their memo lines: which numbers, with which
// limits and outcomes, on the simulated board with the virtual technician.
#include "AnalogBench.h"

#include "station/DacCalStore.h"
#include "station/Detection.h"
#include "station/RowRegistry.h"
#include "sim/VirtualTechnician.h"
#include "procedures/Formats.h"
#include "procedures/Limits.h"
#include "procedures/ProductionTests.h"

#include <QRegularExpression>

#include <gtest/gtest.h>
#include "support/CLocale.h"

#include <memory>

// Expected texts below spell numbers with a point.
static const auto *const cLocaleEnvironment = ::testing::AddGlobalTestEnvironment(new quillon::testing::CLocale);

namespace quillon::testing {

namespace {

// Every row of the registry run in order on a detected board, as Test All runs them.
struct TestAllBench {
    std::int64_t now = 0;
    sim::SimBoard board{[this] { return now; }};
    sim::VirtualTechnician tech{board};
    PlainShell shell;
    StationState state;
    StationContext ctx{board, tech, shell, state};
    std::vector<std::unique_ptr<PlainRow>> rows;

    explicit TestAllBench(quint32 productId = 0x8140)
    {
        board.identity.productId = productId;
        board.noiseVolts = 0.0;
        tech.serveEvents = false;
        tech.onProcessEvents = [this] { now += 1000; };
        shell.realSleep = false;
        shell.onTime = [this](int ms) { now += std::int64_t(ms) * 1000; };
        board.reset();
        EXPECT_TRUE(detectBoard(board, tech, state).found);
    }
    void run(const std::vector<int> &digits)
    {
        registerProductionTests();
        for (int digit : digits) {
            rows.push_back(std::make_unique<PlainRow>(digit, digit != 4));
            rowRegistry().at(std::size_t(digit)).procedure(ctx, *rows.back());
        }
    }
    void runAll()
    {
        std::vector<int> digits;
        for (const RowEntry &entry : rowRegistry())
            digits.push_back(entry.digit);
        run(digits);
    }
};

// The names of the measurements matching pattern, in order.
QStringList namesMatching(const PlainRow &row, const QString &pattern)
{
    const QRegularExpression re(QStringLiteral("^") + pattern + QStringLiteral("$"));
    QStringList out;
    for (const Measurement &m : row.measurements)
        if (re.match(m.name).hasMatch())
            out << m.name;
    return out;
}

QStringList channelNames(const QString &prefix, int count)
{
    QStringList out;
    for (int n = 0; n < count; ++n)
        out << prefix + QString::number(n).rightJustified(2, QLatin1Char('0'));
    return out;
}

} // namespace

TEST(Measurements, HealthySixteenChannelTestAllReportsEveryCheck)
{
    TestAllBench b;
    b.runAll();
    ASSERT_EQ(b.rows.size(), rowRegistry().size());
    for (const auto &row : b.rows) {
        SCOPED_TRACE(row->index());
        EXPECT_EQ(row->status(), TestStatus::Pass);
        EXPECT_FALSE(row->measurements.empty());
        for (const Measurement &m : row->measurements) {
            EXPECT_EQ(m.digit, row->index()) << m.name.toStdString();
            EXPECT_NE(m.outcome, MeasureOutcome::Fail) << m.name.toStdString();
        }
    }
    const PlainRow &uni = *b.rows[5];
    const PlainRow &bi = *b.rows[6];
    const PlainRow &diff = *b.rows[7];
    EXPECT_EQ(namesMatching(uni, QStringLiteral("ladder\\.se_unipolar\\.ch\\d+")),
              channelNames(QStringLiteral("ladder.se_unipolar.ch"), 16));
    EXPECT_EQ(namesMatching(bi, QStringLiteral("ladder\\.se_bipolar\\.ch\\d+")),
              channelNames(QStringLiteral("ladder.se_bipolar.ch"), 16));
    EXPECT_EQ(namesMatching(diff, QStringLiteral("ladder\\.differential\\.ch\\d+")),
              channelNames(QStringLiteral("ladder.differential.ch"), 8));
    EXPECT_EQ(namesMatching(uni, QStringLiteral("ladder\\.se_unipolar\\.ch01\\.range\\d")).size(), 8);
    for (const PlainRow *row : {&uni, &bi, &diff})
        for (const Measurement &m : row->measurements) {
            EXPECT_EQ(m.comparison, Comparison::Within);
            EXPECT_EQ(m.tolerance, 0.3);
            EXPECT_EQ(m.low, std::get<double>(m.expected) - 0.3);
            EXPECT_LE(std::fabs(std::get<double>(m.value) - std::get<double>(m.expected)), 0.3);
        }

    // Spot values, and what the board itself holds afterwards.
    struct Spot {
        int row;
        const char *name;
        MeasuredValue expected;
    };
    const Spot spots[] = {
        {0, "dio.pullup", qint64(0xFFFF)},
        {1, "dio.loopback.b_to_a.A5", qint64(0xA5)},
        {2, "adclocks.clocked.bytes_left", qint64(0)},
        {3, "agnd", double(0.01234f)},
        {4, "bus.verdict", qint64(0)},
        {5, "ladder.se_unipolar.ch03", 2.0},
        {5, "ladder.se_unipolar.ch01.range7", 0.666667},
        {6, "ladder.se_bipolar.ch00", -10.0},
        {7, "ladder.differential.ch00", -4.666667},
        {9, "dac.check.verdict", true},
        {10, "dac.ramp.verdict", true},
    };
    for (const Spot &s : spots) {
        const Measurement *m = b.rows[std::size_t(s.row)]->measurement(QLatin1String(s.name));
        ASSERT_NE(m, nullptr) << s.name;
        ASSERT_EQ(m->expected.index(), s.expected.index()) << s.name;
        EXPECT_NEAR(measuredNumber(m->expected), measuredNumber(s.expected), 1e-6) << s.name;
    }
    const std::vector<std::uint8_t> &eeprom = b.board.eeprom();
    const Measurement *word = b.rows[3]->measurement(QStringLiteral("aref.word"));
    ASSERT_NE(word, nullptr);
    EXPECT_EQ(word->value, MeasuredValue(qint64(eeprom[ArefCalAddress] | eeprom[ArefCalAddress + 1] << 8)));
    EXPECT_EQ(word->low, 1.0);
    EXPECT_EQ(word->high, 65534.0);
    // The fitted constants as the memo lists them.
    const QStringList calSet = b.rows[8]->memoLines();
    for (int i = 0; i < 4; ++i) {
        for (const char *what : {"gain", "offset"}) {
            const QString name = QStringLiteral("dac%1.%2").arg(i).arg(QLatin1String(what));
            const Measurement *m = b.rows[8]->measurement(name);
            ASSERT_NE(m, nullptr) << name.toStdString();
            const QString line = QStringLiteral("%1[%2] = ").arg(QLatin1String(what[0] == 'g' ? "M" : "B")).arg(i)
                                 + FixedText(4, float(std::get<double>(m->value)));
            EXPECT_TRUE(calSet.contains(line)) << line.toStdString();
        }
        EXPECT_NE(b.rows[8]->measurement(QStringLiteral("dac%1.high.counts").arg(i)), nullptr);
    }
}

TEST(Measurements, HundredSixtyChannelLaddersReportEveryComparedChannel)
{
    TestAllBench b(0x815E); // variant 6: 160 channels, no differential mode
    b.run({5, 6, 7});
    EXPECT_EQ(namesMatching(*b.rows[0], QStringLiteral("ladder\\.se_unipolar\\.ch\\d+")),
              channelNames(QStringLiteral("ladder.se_unipolar.ch"), 160));
    EXPECT_EQ(namesMatching(*b.rows[1], QStringLiteral("ladder\\.se_bipolar\\.ch\\d+")),
              channelNames(QStringLiteral("ladder.se_bipolar.ch"), 160));
    EXPECT_TRUE(b.rows[2]->measurements.empty()); // "This test does not apply."
    for (int r = 0; r < 2; ++r)
        EXPECT_EQ(b.rows[std::size_t(r)]->status(), TestStatus::Pass);
}

// A channel shifted by the simulator's offset fault: its measurement fails with the
// reading its memo line shows, and no other channel's does.
TEST(Measurements, FailingChannelCarriesTheMemoReading)
{
    struct Case {
        void (*run)(StationContext &, TestRow &);
        int channel;
        double offset;
        const char *name;
    };
    const Case cases[] = {
        {runAdSeUnipolar, 3, -0.766, "ladder.se_unipolar.ch03"},
        {runAdSeBipolar, 15, 1.0, "ladder.se_bipolar.ch15"},
        {runAdDifferential, 2, 0.5, "ladder.differential.ch02"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        AnalogBench bench;
        bench.board.faults.adcOffsetChannel = c.channel;
        bench.board.faults.adcOffsetVolts = c.offset;
        bench.board.jig.polarity = c.run == runAdSeUnipolar ? 1 : -1;
        PlainRow row;
        c.run(bench.ctx, row);
        EXPECT_EQ(row.status(), TestStatus::Fail);
        const QStringList failing = row.memoLines().filter(QStringLiteral("Channel"));
        ASSERT_EQ(failing.size(), 1);
        const Measurement *m = row.measurement(QLatin1String(c.name));
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(m->outcome, MeasureOutcome::Fail);
        EXPECT_TRUE(failing[0].endsWith(QStringLiteral("got ") + FixedText(3, float(std::get<double>(m->value)))
                                        + QStringLiteral("V")))
            << failing[0].toStdString();
        int fails = 0;
        for (const Measurement &each : row.measurements)
            fails += each.outcome == MeasureOutcome::Fail;
        EXPECT_EQ(fails, 1);
    }
}

// Near the edge of its band a passing reading is marginal; the row and its memo do
// not notice.
TEST(Measurements, MarginalIsAPassNearTheBandEdge)
{
    struct Case {
        double offset;
        double marginPercent;
        MeasureOutcome outcome;
    };
    const Case cases[] = {
        {0.0, 10, MeasureOutcome::Pass},       {0.23, 10, MeasureOutcome::Pass}, {0.25, 10, MeasureOutcome::Marginal},
        {-0.28, 10, MeasureOutcome::Marginal}, {0.25, 0, MeasureOutcome::Pass},  {0.25, 5, MeasureOutcome::Pass},
        {0.35, 10, MeasureOutcome::Fail},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(::testing::Message() << c.offset << " at " << c.marginPercent << "%");
        AnalogBench bench;
        bench.board.jig.polarity = -1;
        bench.board.faults.adcOffsetChannel = 4;
        bench.board.faults.adcOffsetVolts = c.offset;
        PlainRow row(6);
        row.setMarginPercent(c.marginPercent);
        runAdSeBipolar(bench.ctx, row);
        const Measurement *m = row.measurement(QStringLiteral("ladder.se_bipolar.ch04"));
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(m->outcome, c.outcome);
        EXPECT_EQ(row.measurement(QStringLiteral("ladder.se_bipolar.ch05"))->outcome, MeasureOutcome::Pass);
        const bool fails = c.outcome == MeasureOutcome::Fail;
        EXPECT_EQ(row.status(), fails ? TestStatus::Fail : TestStatus::Pass);
        EXPECT_EQ(row.memoLines().isEmpty(), !fails);
    }
}

// The checks and the reported limits read the same table: moving one entry moves the
// verdict, the memo's tolerance and the recorded limit together, and the set's id.
TEST(Measurements, RecordedLimitIsTheAppliedOne)
{
    registerProductionTests();
    const QString defaultId = limitSetId(); // the registry's, as a recorder reads it
    EXPECT_EQ(defaultId.size(), 64);
    EXPECT_EQ(defaultId, limitTableId());
    struct Case {
        double tolerance;
        TestStatus status;
        const char *memo;
    };
    const Case cases[] = {
        {0.3, TestStatus::Pass, nullptr},
        {0.05, TestStatus::Fail, "\tChannel 3: expected -2.000V\u00B10.050V, got -1.900V"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.tolerance);
        Limits table;
        table.ladderTolerance = c.tolerance;
        const ScopedLimits scoped(table);
        EXPECT_EQ(limitSetId() == defaultId, c.tolerance == 0.3);
        AnalogBench bench;
        bench.board.jig.polarity = -1;
        bench.board.faults.adcOffsetChannel = 3;
        bench.board.faults.adcOffsetVolts = 0.1;
        PlainRow row(6);
        runAdSeBipolar(bench.ctx, row);
        EXPECT_EQ(row.status(), c.status);
        EXPECT_EQ(row.memoLines(), c.memo ? QStringList{QString::fromUtf8(c.memo)} : QStringList());
        const Measurement *m = row.measurement(QStringLiteral("ladder.se_bipolar.ch03"));
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(m->tolerance, c.tolerance);
        EXPECT_DOUBLE_EQ(m->high, -2.0 + c.tolerance);
        EXPECT_EQ(m->outcome == MeasureOutcome::Fail, c.status == TestStatus::Fail);
    }
    EXPECT_EQ(limitSetId(), defaultId);
}

} // namespace quillon::testing
