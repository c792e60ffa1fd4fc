// Numbers under a German default locale: what the technician reads and types uses the
// locale's comma; the monitor's fixed two-decimal volts keep their point. Also: the
// station's default QLocale comes from the environment (LC_ALL / LANG).
#include "AnalogBench.h"

#include "station/DacCalStore.h"
#include "procedures/Formats.h"
#include "procedures/ProductionTests.h"

#include <QLocale>

#include <gtest/gtest.h>

namespace quillon::testing {
namespace {

// Sets the default locale for one test and puts the previous one back.
struct DefaultLocale {
    QLocale saved;
    explicit DefaultLocale(const QLocale &locale) { QLocale::setDefault(locale); }
    ~DefaultLocale() { QLocale::setDefault(saved); }
};

const QLocale German(QLocale::German, QLocale::Germany);

TEST(Locale, DefaultFollowsTheEnvironment)
{
    // Only meaningful when the suite runs under a German environment (tools/locale-run.sh).
    const QByteArray all = qgetenv("LC_ALL");
    const QByteArray lang = qgetenv("LANG");
    const QByteArray chosen = !all.isEmpty() ? all : lang;
    if (!chosen.startsWith("de_DE"))
        GTEST_SKIP() << "LC_ALL/LANG is not German";
    EXPECT_EQ(QLocale().name(), QStringLiteral("de_DE"));
    EXPECT_EQ(QLocale().decimalPoint(), QStringLiteral(","));
    EXPECT_EQ(FixedText(3, 0.6667f), QStringLiteral("0,667"));
}

TEST(Locale, TextsUnderAGermanDefault)
{
    DefaultLocale german(German);
    struct Case {
        const char *what;
        QString got;
        QString want;
    };
    const Case cases[] = {
        {"FixedText, 3 decimals", FixedText(3, 0.6667f), QStringLiteral("0,667")},
        {"FixedText, 4 decimals, negative", FixedText(4, -10.0f), QStringLiteral("-10,0000")},
        {"FixedText, rounds to zero: no sign", FixedText(3, -0.0004f), QStringLiteral("0,000")},
        {"SignedVoltsText", SignedVoltsText(9.8999), QStringLiteral("+9,9")},
        {"SignedVoltsText, negative", SignedVoltsText(-4.99997), QStringLiteral("-5")},
        {"SignedVoltsText, zero", SignedVoltsText(0.0), QStringLiteral("\u00B10")},
        // The monitor's volts are fixed-format, whatever the locale.
        {"CyclicVoltsText", CyclicVoltsText(1.234), QStringLiteral("+1.23")},
        {"CyclicVoltsText, negative", CyclicVoltsText(-12.346), QStringLiteral("-12.35")},
        {"CyclicVoltsText, zero", CyclicVoltsText(0.001), QStringLiteral("\u00B10.00")},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.got, c.want) << c.what;

    struct Typed {
        const char *text;
        std::optional<double> value;
    };
    const Typed typed[] = {
        {"9,9339", 9.9339},       {" -0,5 ", -0.5},          {"1,5E1", 15.0},
        {"9.9339", std::nullopt}, {"1.000,5", std::nullopt}, {"9,9,3", std::nullopt},
    };
    for (const Typed &t : typed)
        EXPECT_EQ(parseTypedNumber(QString::fromLatin1(t.text)), t.value) << t.text;
}

TEST(Locale, ArefPromptTakesTheLocaleSeparatorOnly)
{
    DefaultLocale german(German);
    constexpr int ArefAddress = ArefCalAddress;
    struct Case {
        const char *typed;
        bool written;
        const char *line; // the ARef Cal section's error line, if any
    };
    const Case cases[] = {
        {"9,9339", true, nullptr},
        {"9.9339", false, "\tError parsing \"9.9339\"."},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.typed);
        AnalogBench bench;
        bench.op.textAnswers.push_back({true, QString::fromLatin1(c.typed)});
        const std::vector<std::uint8_t> before = bench.board.eeprom();
        PlainRow row(3);
        runCalibrationVoltages(bench.ctx, row);
        EXPECT_EQ(row.status(), c.written ? TestStatus::Pass : TestStatus::Fail);
        if (c.written) {
            EXPECT_EQ(bench.board.eeprom()[ArefAddress], 0x4F); // 65103 = 0xFE4F, low byte first
            EXPECT_EQ(bench.board.eeprom()[ArefAddress + 1], 0xFE);
        } else {
            EXPECT_EQ(bench.board.eeprom(), before);
            EXPECT_TRUE(row.memoLines().contains(QString::fromLatin1(c.line)))
                << row.memoLines().join('|').toStdString();
        }
    }
}

TEST(Locale, MemoLinesShowCommas)
{
    DefaultLocale german(German);
    AnalogBench bench;
    bench.board.faults.agndVolts = 0.05;
    bench.op.textAnswers.push_back({true, QStringLiteral("9,9339")});
    PlainRow row(3);
    runCalibrationVoltages(bench.ctx, row);
    EXPECT_TRUE(row.memoLines().contains(QStringLiteral("\tExpected 0,012V\u00B10,006V, got 0,050V [0148 counts]")))
        << row.memoLines().join('|').toStdString();
}

// D/A Cal Set: the prompt's expected volts, the high phase's prefilled fields, the
// typed readings and the constants all use the comma; the Cal Check items too.
TEST(Locale, DacTextsShowCommas)
{
    DefaultLocale german(German);
    AnalogBench bench;
    bench.state.board.HasDacs = true;
    bench.state.dacRange.DacRange = -1;
    bench.op.rangeAnswers = {3};
    QStringList low;
    for (int i = 0; i < 4; ++i)
        low << QStringLiteral("0,00%1").arg(i + 1);
    // High phase: the fields keep what the station prefilled, which must read back.
    bench.op.readingAnswers = {{true, low}, {true, {}}};
    PlainRow row(8);
    runDacCalSet(bench.ctx, row);
    const std::string memo = row.memoLines().join('|').toStdString();
    EXPECT_EQ(row.status(), TestStatus::Pass) << memo;

    QStringList readingTexts;
    for (const Prompt &p : bench.op.prompts)
        if (p.kind == QLatin1String("DacReading"))
            readingTexts << p.text;
    ASSERT_EQ(readingTexts.size(), 2);
    EXPECT_TRUE(readingTexts[1].contains(QStringLiteral("about +9,9V."))) << readingTexts[1].toStdString();
    EXPECT_TRUE(row.memoLines().contains(QStringLiteral("0,001 V -> 32771d counts"))) << memo;
    EXPECT_TRUE(row.memoLines().contains(QStringLiteral("+9,9 V -> 65207d counts"))) << memo;
    bool constantWithComma = false;
    for (const QString &line : row.memoLines())
        constantWithComma = constantWithComma
                            || (line.startsWith(QLatin1String("M[0] = ")) && line.contains(QLatin1Char(','))
                                && !line.contains(QLatin1Char('.')));
    EXPECT_TRUE(constantWithComma) << memo;

    PlainRow check(9);
    runDacCalCheck(bench.ctx, check);
    QStringList scale;
    for (const Prompt &p : bench.op.prompts)
        if (p.kind == QLatin1String("DacScale"))
            scale << p.text.section(QLatin1Char('\n'), 1);
    EXPECT_EQ(scale, QStringList{QStringLiteral("M&in (-10,0000 V)|&Mid (0,0000 V)|M&ax (9,9997 V)")});
}

} // namespace
} // namespace quillon::testing
