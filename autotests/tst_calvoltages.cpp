#include "AnalogBench.h"

#include "procedures/ProductionTests.h"

#include <QLocale>

#include <gtest/gtest.h>

#include <cmath>
#include "support/CLocale.h"

// Expected texts below spell numbers with a point.
static const auto *const cLocaleEnvironment = ::testing::AddGlobalTestEnvironment(new quillon::testing::CLocale);

namespace quillon::testing {

namespace {

constexpr int ArefAddress = 0x1DF2;

const QString ArefPrompt =
    QStringLiteral("Measure the ref voltage at R11 (pad closest to the \"R\" in the R11 silkscreen) with a calibrated "
                   "meter and type it here. (For example, \"9.9339\".)");

QStringList memoFor(const QStringList &agnd, const QStringList &arefCal)
{
    QStringList out{QStringLiteral("AGnd")};
    out << agnd;
    out << (agnd.isEmpty() ? QStringLiteral("AGnd: Passed") : QStringLiteral("AGnd: Failed"));
    out << QString() << QStringLiteral("ARef") << QStringLiteral("ARef: Skipped") << QString()
        << QStringLiteral("ARef Cal");
    out << arefCal;
    out << (arefCal.isEmpty() ? QStringLiteral("ARef Cal: Passed") : QStringLiteral("ARef Cal: Failed"));
    out << QString();
    out << (agnd.isEmpty() && arefCal.isEmpty() ? QStringLiteral("Calibration Voltages: Passed")
                                                : QStringLiteral("Calibration Voltages: Failed"));
    return out;
}

// Restores the default locale when a case changed it.
struct LocaleGuard {
    QLocale saved;
    ~LocaleGuard() { QLocale::setDefault(saved); }
};

} // namespace

TEST(CalibrationVoltages, BoardWithoutCalibrationSkips)
{
    AnalogBench bench;
    bench.board.identity.calSupported = false;
    PlainRow row(3);
    runCalibrationVoltages(bench.ctx, row);
    EXPECT_EQ(row.memoLines(), (QStringList{QStringLiteral("No Calibration Detected"),
                                            QStringLiteral("Calibration Voltages: Skipped")}));
    EXPECT_EQ(row.refreshed, (QList<TestStatus>{TestStatus::Testing, TestStatus::Pass}));
    EXPECT_EQ(bench.functions(), QStringList{QStringLiteral("ADC_QueryCal")});
    EXPECT_TRUE(bench.op.prompts.isEmpty());
}

TEST(CalibrationVoltages, PassingRunTrafficPromptAndEeprom)
{
    AnalogBench bench;
    bench.state.adc.setAllRanges(7); // channels 1-15 keep their codes
    bench.op.textAnswers.push_back({true, QStringLiteral("9.9339")});
    const std::vector<std::uint8_t> before = bench.board.eeprom();
    PlainRow row(3);
    runCalibrationVoltages(bench.ctx, row);

    EXPECT_EQ(row.memoLines(), memoFor({}, {}));
    EXPECT_EQ(row.refreshed, (QList<TestStatus>{TestStatus::Testing, TestStatus::Pass}));
    ASSERT_EQ(bench.op.prompts.size(), 1);
    EXPECT_EQ(bench.op.prompts[0].kind, QStringLiteral("Text"));
    EXPECT_EQ(bench.op.prompts[0].caption, QStringLiteral("ARef Cal"));
    EXPECT_EQ(bench.op.prompts[0].text, ArefPrompt);

    EXPECT_EQ(bench.functions(), (QStringList{QStringLiteral("ADC_QueryCal"), QStringLiteral("ADC_SetCal"),
                                              QStringLiteral("ADC_SetConfig"), QStringLiteral("ADC_GetScanV"),
                                              QStringLiteral("ADC_SetConfig"), QStringLiteral("GenericVendorWrite")}));
    EXPECT_EQ(bench.callsOf(QStringLiteral("ADC_SetCal")).value(0).arguments, QStringLiteral("-3, \":1TO1:\""));
    QByteArray agndBlock = blockBytes(7, 1, 21, 0, 15, 0);
    agndBlock[0] = 0;
    QByteArray arefBlock = agndBlock;
    arefBlock[16] = 3;
    EXPECT_EQ(bench.configsSent(), (QList<QByteArray>{agndBlock, arefBlock}));

    const LibraryCall write = bench.callsOf(QStringLiteral("GenericVendorWrite")).value(0);
    EXPECT_EQ(write.arguments, QStringLiteral("-3, 0xA2, 0x1DF2, 0x0000, size=2"));
    EXPECT_EQ(write.dataOut, QByteArray::fromHex("4FFE")); // 65103, low byte first
    std::vector<std::uint8_t> expected = before;
    expected[ArefAddress] = 0x4F;
    expected[ArefAddress + 1] = 0xFE;
    EXPECT_EQ(bench.board.eeprom(), expected); // nothing else changes
}

TEST(CalibrationVoltages, AgndReadingsAndCounts)
{
    struct Case {
        double agnd;
        const char *line;
    };
    const Case cases[] = {
        {0.05, "\tExpected 0.012V\u00B10.006V, got 0.050V [0148 counts]"},
        {0.0, "\tExpected 0.012V\u00B10.006V, got 0.000V [0000 counts]"},
        {0.019, "\tExpected 0.012V\u00B10.006V, got 0.019V [007D counts]"},
        {0.0065, nullptr},
        {0.018, nullptr},
        {0.0118, nullptr},
    };
    for (const auto &c : cases) {
        AnalogBench bench;
        bench.board.faults.agndVolts = c.agnd;
        bench.op.textAnswers.push_back({true, QStringLiteral("9.9339")});
        PlainRow row(3);
        runCalibrationVoltages(bench.ctx, row);
        const QStringList agnd = c.line ? QStringList{QString::fromUtf8(c.line)} : QStringList();
        EXPECT_EQ(row.memoLines(), memoFor(agnd, {})) << c.agnd;
        // A failed ground check does not stop the EEPROM write.
        EXPECT_EQ(bench.board.eeprom()[ArefAddress], 0x4F) << c.agnd;
        EXPECT_EQ(row.status(), c.line ? TestStatus::Fail : TestStatus::Pass) << c.agnd;
    }
}

TEST(CalibrationVoltages, CountsWrapAndNonFiniteReadingsFail)
{
    // Readings a library could hand over, placed exactly.
    struct Case {
        double reading;
        const char *line;
    };
    const Case cases[] = {
        {-0.001, "\tExpected 0.012V\u00B10.006V, got -0.001V [FFF9 counts]"},
        {std::nan(""), "\tExpected 0.012V\u00B10.006V, got NaNV [???? counts]"},
        {1e300, "\tExpected 0.012V\u00B10.006V, got InfV [???? counts]"},
    };
    for (const auto &c : cases) {
        AnalogBench bench;
        bench.lib.afterScan = [&](int, double *buffer) { buffer[0] = c.reading; };
        bench.op.textAnswers.push_back({true, QStringLiteral("9.9339")});
        PlainRow row(3);
        runCalibrationVoltages(bench.ctx, row);
        EXPECT_EQ(row.memoLines(), memoFor({QString::fromUtf8(c.line)}, {})) << c.reading;
        EXPECT_EQ(row.status(), TestStatus::Fail);
    }
}

TEST(CalibrationVoltages, ScanErrorGoesOnToTheReference)
{
    AnalogBench bench;
    bench.board.faults.scanErrorStatus = 4294967295u;
    bench.op.textAnswers.push_back({true, QStringLiteral("9.9339")});
    PlainRow row(3);
    runCalibrationVoltages(bench.ctx, row);
    EXPECT_EQ(row.memoLines(), memoFor({QStringLiteral("\tError 4294967295 from ADC_GetScanV.")}, {}));
    EXPECT_EQ(bench.board.eeprom()[ArefAddress + 1], 0xFE);
}

TEST(CalibrationVoltages, TypedReadings)
{
    struct Case {
        const char *typed;
        bool german;
        const char *line; // nullptr: accepted
        int word;         // written word when accepted
    };
    const Case cases[] = {
        {"9.9339", false, nullptr, 0xFE4F},
        {" 9.9339 ", false, nullptr, 0xFE4F},
        {"0.0001", false, nullptr, 0x0001},
        {"9,9339", true, nullptr, 0xFE4F},
        {"10", false, "\tFFFF counts is out of range.", -1},
        {"0", false, "\t0000 counts is out of range.", -1},
        {"-1", false, "\t0000 counts is out of range.", -1},
        {"abc", false, "\tError parsing \"abc\".", -1},
        {"", false, "\tError parsing \"\".", -1},
        {"1e300", false, "\tError parsing \"1e300\".", -1},
        {"9.9339", true, "\tError parsing \"9.9339\".", -1},
        {"1,000", false, "\tError parsing \"1,000\".", -1},
    };
    for (const auto &c : cases) {
        LocaleGuard guard;
        QLocale::setDefault(c.german ? QLocale(QLocale::German, QLocale::Germany) : QLocale::c());
        AnalogBench bench;
        bench.op.textAnswers.push_back({true, QString::fromUtf8(c.typed)});
        const std::vector<std::uint8_t> before = bench.board.eeprom();
        PlainRow row(3);
        runCalibrationVoltages(bench.ctx, row);
        const QStringList arefCal = c.line ? QStringList{QString::fromUtf8(c.line)} : QStringList();
        EXPECT_EQ(row.memoLines(), memoFor({}, arefCal)) << c.typed;
        std::vector<std::uint8_t> expected = before;
        if (c.word >= 0) {
            expected[ArefAddress] = std::uint8_t(c.word & 0xFF);
            expected[ArefAddress + 1] = std::uint8_t(c.word >> 8);
        }
        EXPECT_EQ(bench.board.eeprom(), expected) << c.typed;
        EXPECT_EQ(bench.callsOf(QStringLiteral("GenericVendorWrite")).size(), c.word >= 0 ? 1 : 0) << c.typed;
    }
}

TEST(CalibrationVoltages, CancelAndWriteErrorFailTheRow)
{
    {
        AnalogBench bench;
        bench.op.textAnswers.push_back({false, QString()});
        PlainRow row(3);
        runCalibrationVoltages(bench.ctx, row);
        EXPECT_EQ(row.memoLines(), memoFor({}, {QStringLiteral("\tCancelled.")}));
        EXPECT_TRUE(bench.callsOf(QStringLiteral("GenericVendorWrite")).isEmpty());
        EXPECT_EQ(row.status(), TestStatus::Fail);
    }
    {
        AnalogBench bench;
        bench.board.faults.eepromFailWriteAddress = ArefAddress;
        bench.board.faults.eepromFailStatus = 4294967295u;
        bench.op.textAnswers.push_back({true, QStringLiteral("9.9339")});
        PlainRow row(3);
        runCalibrationVoltages(bench.ctx, row);
        EXPECT_EQ(row.memoLines(), memoFor({}, {QStringLiteral("\tError 4294967295 writing ARef cal to EEPROM.")}));
        EXPECT_EQ(row.status(), TestStatus::Fail);
    }
}

} // namespace quillon::testing
