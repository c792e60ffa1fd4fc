// The virtual technician and the prompt follower, over the simulated board without a window.
#include "sim/PromptFollower.h"
#include "sim/SimBoard.h"
#include "sim/VirtualTechnician.h"
#include "support/ScriptedOperator.h"

#include <QLocale>

#include <gtest/gtest.h>

#include <array>
#include <cstdint>

using quillon::BoxStyle;
using quillon::sim::JigState;
using quillon::sim::SimBoard;
using quillon::sim::TechnicianOverride;
using quillon::sim::VirtualTechnician;

namespace {

// The default locale for one test.
class LocaleScope {
public:
    explicit LocaleScope(const QString &name) { QLocale::setDefault(QLocale(name)); }
    ~LocaleScope() { QLocale::setDefault(m_previous); }

private:
    QLocale m_previous;
};

// A bench whose time moves only when the test says so.
struct Bench {
    std::int64_t now = 0;
    SimBoard board{[this] { return now; }, 1};
    VirtualTechnician tech{board};
    Bench() { tech.serveEvents = false; }

    // Request 0xB3 with the four codes as the board's firmware takes them (raw: no calibration).
    void writeDacs(std::array<quint16, 4> codes)
    {
        std::array<quint8, 17> frame{};
        frame[0] = 0x0F;
        for (int i = 0; i < 4; ++i) {
            frame[size_t(1 + 2 * i)] = quint8(codes[size_t(i)] & 0xFF);
            frame[size_t(2 + 2 * i)] = quint8(codes[size_t(i)] >> 8);
        }
        board.GenericVendorWrite(quillon::diOnly, 0xB3, 0, 0x8000, quint32(frame.size()), frame.data());
    }
    void idealDacs()
    {
        board.dacGain = {1.0, 1.0, 1.0, 1.0};
        board.dacOffset = {0.0, 0.0, 0.0, 0.0};
    }
};

QString typedByHand(double volts)
{
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(volts, 'f', 4);
}

TEST(VirtualTechnician, DoesWhatEachJigPromptAsks)
{
    struct Case {
        const char *caption;
        JigState before;
        JigState after;
    };
    const Case cases[] = {
        {"No Test Jig", {true, true, +1, 10.0}, {false, true, +1, 10.0}},
        {"Test Jig Needed", {false, true, -1, 10.0}, {true, true, -1, 10.0}},
        {"A/D Jig Needed", {false, false, -1, 10.0}, {true, true, +1, 10.0}},
        {"10V Switch", {true, false, +1, 10.0}, {true, true, -1, 10.0}},
        {"Old Firmware Warning", {true, false, -1, 10.0}, {true, false, -1, 10.0}},
    };
    for (const Case &c : cases) {
        Bench bench;
        bench.board.jig = c.before;
        EXPECT_EQ(bench.tech.messageBox(BoxStyle::JigInfo, QLatin1String(c.caption), QStringLiteral("text")),
                  quillon::IdOk);
        EXPECT_EQ(bench.board.jig.connected, c.after.connected) << c.caption;
        EXPECT_EQ(bench.board.jig.sourceOn, c.after.sourceOn) << c.caption;
        EXPECT_EQ(bench.board.jig.polarity, c.after.polarity) << c.caption;
        ASSERT_EQ(bench.tech.prompts().size(), 1);
        EXPECT_EQ(bench.tech.prompts()[0].kind, QStringLiteral("JigInfo"));
        EXPECT_EQ(bench.tech.prompts()[0].answer, QStringLiteral("OK"));
    }
}

TEST(VirtualTechnician, DefaultAnswersByBoxStyle)
{
    Bench bench;
    EXPECT_EQ(bench.tech.messageBox(BoxStyle::RetryCancel, QStringLiteral("No-Board Error"), QString()),
              quillon::IdCancel);
    EXPECT_EQ(bench.tech.messageBox(BoxStyle::Warning, QStringLiteral("Old Firmware Warning"), QString()),
              quillon::IdOk);
    EXPECT_EQ(bench.tech.messageBox(BoxStyle::YesNo, QStringLiteral("Question"), QString()), quillon::IdYes);
    // A text prompt it has no instructions for is cancelled, not guessed at.
    QString value = QStringLiteral("kept");
    EXPECT_FALSE(bench.tech.promptForText(QStringLiteral("Serial Number"), QString(), value));
    EXPECT_EQ(value, QStringLiteral("kept"));
}

TEST(VirtualTechnician, TypesTheReferenceAsMetered)
{
    struct Case {
        const char *locale;
        double volts;
        const char *typed;
    };
    const Case cases[] = {
        {"C", 9.93, "9.9300"},          {"de_DE", 9.93, "9,9300"},
        {"en_US", 9.93391, "9.9339"},   {"en_US", 12345.6, "12345.6000"},
        {"fr_FR", -0.00004, "-0,0000"},
    };
    for (const Case &c : cases) {
        LocaleScope locale{QLatin1String(c.locale)};
        Bench bench;
        bench.board.faults.arefVolts = c.volts;
        QString value;
        EXPECT_TRUE(bench.tech.promptForText(QStringLiteral("ARef Cal"), QStringLiteral("Measure..."), value));
        EXPECT_EQ(value, QLatin1String(c.typed)) << c.locale;
        EXPECT_EQ(bench.tech.prompts()[0].typed, QLatin1String(c.typed));
    }
}

TEST(VirtualTechnician, PicksTheJumperedRangeAndMetersEveryVisibleDac)
{
    for (int range = 0; range < 4; ++range) {
        Bench bench;
        bench.board.identity.dacJumperRange = range;
        EXPECT_EQ(bench.tech.askDacRange(), range);
    }
    LocaleScope locale{QStringLiteral("de_DE")};
    Bench bench;
    bench.writeDacs({655, 1000, 30000, 64880});
    auto dialog = bench.tech.createDacReadingDialog();
    dialog->setCaption(QStringLiteral("DAC Low Reading"));
    for (int i = 0; i < 4; ++i)
        dialog->setFieldText(i, QString());
    dialog->hideField(3);
    EXPECT_TRUE(dialog->exec());
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(dialog->fieldText(i), typedByHand(bench.board.meterDac(i))) << i;
    EXPECT_EQ(dialog->fieldText(3), QString());
    EXPECT_EQ(bench.tech.prompts()[0].fields.size(), 3);
}

TEST(VirtualTechnician, JudgesTheCalCheckLevelsByTheMeter)
{
    struct Case {
        int range;
        int dac;       // DAC given an output error
        double offset; // volts
        bool yes;
    };
    const Case cases[] = {
        {3, -1, 0.0, true}, {0, -1, 0.0, true}, {3, 2, 0.004, true}, {3, 3, 0.006, false}, {1, 0, -0.02, false},
    };
    for (const Case &c : cases) {
        Bench bench;
        bench.idealDacs();
        bench.board.identity.dacJumperRange = c.range;
        if (c.dac >= 0)
            bench.board.dacOffset[size_t(c.dac)] = c.offset;
        QList<int> clicks;
        const auto onClick = [&](int item) {
            clicks << item;
            const quint16 code = item == 0 ? 0 : item == 1 ? 0x8000 : 0xFFFF;
            bench.writeDacs({code, code, code, code});
        };
        EXPECT_EQ(bench.tech.checkDacScale(QStringLiteral("Measure"),
                                           {QStringLiteral("M&in"), QStringLiteral("&Mid"), QStringLiteral("M&ax")},
                                           onClick),
                  c.yes)
            << c.range << ' ' << c.dac;
        EXPECT_EQ(clicks, (QList<int>{1, 0, 1, 2}));
        EXPECT_EQ(bench.tech.prompts()[0].answer, c.yes ? QStringLiteral("Yes") : QStringLiteral("No"));
    }
}

TEST(VirtualTechnician, WatchesTheScopeBeforeAnswering)
{
    enum class Ramp { AsAsked, AllRising, Swapped, WritesFail };
    struct Case {
        Ramp ramp;
        int answer;
    };
    const Case cases[] = {{Ramp::AsAsked, quillon::IdYes},
                          {Ramp::AllRising, quillon::IdNo},
                          {Ramp::Swapped, quillon::IdNo},
                          {Ramp::WritesFail, quillon::IdNo}};
    for (const Case &c : cases) {
        Bench bench;
        if (c.ramp == Ramp::WritesFail)
            bench.board.faults.dacWriteStatus = 31;
        auto question = bench.tech.startQuestion(QStringLiteral("Scope Check"), QStringLiteral("Look at the DACs"));
        quint16 code = 0;
        int writes = 0;
        do {
            code = quint16(code + 511);
            const quint16 down = quint16(65535 - code);
            if (c.ramp == Ramp::AllRising)
                bench.writeDacs({code, code, code, code});
            else if (c.ramp == Ramp::Swapped)
                bench.writeDacs({down, code, down, code});
            else
                bench.writeDacs({code, down, code, down});
            bench.now += 2000;
            ASSERT_LT(++writes, 10'000);
        } while (!question->isDone());
        EXPECT_EQ(question->answer(), c.answer) << int(c.ramp);
        EXPECT_EQ(writes, bench.tech.scopePolls);
        EXPECT_EQ(bench.tech.prompts()[0].polls, bench.tech.scopePolls);
        EXPECT_TRUE(question->isDone());
    }
}

TEST(VirtualTechnician, OverridesMatchByCaptionOrKindInOrder)
{
    Bench bench;
    bench.board.jig.connected = true;
    TechnicianOverride retry{QStringLiteral("No-Board Error"), QStringLiteral("Retry"), {}, {}, {}, {}};
    TechnicianOverride close{QStringLiteral("No-Board Error"), QStringLiteral("Close"), {}, {}, {}, {}};
    TechnicianOverride leaveJig{QStringLiteral("No Test Jig"), QStringLiteral("OK"), {}, {}, {}, {}};
    TechnicianOverride typeAbc{QStringLiteral("ARef Cal"), {}, QStringLiteral("abc"), {}, {}, {}};
    TechnicianOverride range{QStringLiteral("@DacRange"), {}, {}, {}, 1, {}};
    TechnicianOverride fields{QStringLiteral("DAC Low Reading"),
                              {},
                              {},
                              QList<std::optional<QString>>{QStringLiteral("0.1"), std::nullopt, QString()},
                              {},
                              {}};
    TechnicianOverride picks{QStringLiteral("@DacScale"), QStringLiteral("No"), {}, {}, {}, QList<int>{2}};
    TechnicianOverride scope{QStringLiteral("@ScopeQuestion"), QStringLiteral("Close"), {}, {}, {}, {}};
    TechnicianOverride unused{QStringLiteral("Never"), QStringLiteral("OK"), {}, {}, {}, {}};
    bench.tech.setOverrides({retry, close, leaveJig, typeAbc, range, fields, picks, scope, unused});

    EXPECT_EQ(bench.tech.messageBox(BoxStyle::RetryCancel, QStringLiteral("No-Board Error"), QString()),
              quillon::IdRetry);
    EXPECT_EQ(bench.tech.messageBox(BoxStyle::RetryCancel, QStringLiteral("No-Board Error"), QString()),
              quillon::IdCancel);
    EXPECT_EQ(bench.tech.messageBox(BoxStyle::RetryCancel, QStringLiteral("No-Board Error"), QString()),
              quillon::IdCancel);
    EXPECT_EQ(bench.tech.messageBox(BoxStyle::JigInfo, QStringLiteral("No Test Jig"), QString()), quillon::IdOk);
    EXPECT_TRUE(bench.board.jig.connected); // pressed OK without removing the jig
    QString value;
    EXPECT_TRUE(bench.tech.promptForText(QStringLiteral("ARef Cal"), QString(), value));
    EXPECT_EQ(value, QStringLiteral("abc"));
    EXPECT_EQ(bench.tech.askDacRange(), 1);

    bench.writeDacs({700, 800, 900, 1000});
    auto dialog = bench.tech.createDacReadingDialog();
    dialog->setCaption(QStringLiteral("DAC Low Reading"));
    dialog->setFieldText(3, QStringLiteral("preset"));
    EXPECT_TRUE(dialog->exec());
    EXPECT_EQ(dialog->fieldText(0), QStringLiteral("0.1"));
    EXPECT_EQ(dialog->fieldText(1), typedByHand(bench.board.meterDac(1)));
    EXPECT_EQ(dialog->fieldText(2), QString());
    EXPECT_EQ(dialog->fieldText(3), QStringLiteral("preset"));

    QList<int> clicks;
    EXPECT_FALSE(bench.tech.checkDacScale(QString(), {}, [&](int item) { clicks << item; }));
    EXPECT_EQ(clicks, (QList<int>{1, 2}));

    auto question = bench.tech.startQuestion(QStringLiteral("Scope Check"), QString());
    while (!question->isDone()) {
    }
    EXPECT_NE(question->answer(), quillon::IdYes);

    const auto &p = bench.tech.prompts();
    QStringList answers;
    for (const auto &r : p)
        answers << r.answer;
    EXPECT_EQ(answers, (QStringList{"Retry", "Close", "Cancel", "OK", "OK", "OK", "OK", "No", "Close"}));
    EXPECT_EQ(p[2].overrideIndex, -1);
    EXPECT_EQ(p[1].overrideIndex, 1);
    EXPECT_EQ(bench.tech.unusedOverrides(), QList<int>{8});
    EXPECT_TRUE(bench.tech.problems().isEmpty()) << qPrintable(bench.tech.problems().join('\n'));
}

TEST(VirtualTechnician, OverridesThatDoNotFitAreReported)
{
    struct Case {
        TechnicianOverride override;
        BoxStyle style;
        int answer;
        const char *problem;
    };
    const Case cases[] = {
        {{QStringLiteral("Old Firmware Warning"), QStringLiteral("Retry"), {}, {}, {}, {}},
         BoxStyle::Warning,
         quillon::IdOk,
         "technician[0]: \"Retry\" is not a button of \"Old Firmware Warning\" (OK, Close)"},
        {{QStringLiteral("Old Firmware Warning"), {}, QStringLiteral("text"), {}, {}, {}},
         BoxStyle::Warning,
         quillon::IdOk,
         "technician[0]: \"type\" does not apply to a Warning prompt (only to the text prompt); ignored"},
        {{QStringLiteral("@RetryCancel"), QStringLiteral("Yes"), {}, {}, {}, {}},
         BoxStyle::RetryCancel,
         quillon::IdCancel,
         "technician[0]: \"Yes\" is not a button of \"Old Firmware Warning\" (Retry, Cancel, Close)"},
    };
    for (const Case &c : cases) {
        Bench bench;
        bench.tech.setOverrides({c.override});
        EXPECT_EQ(bench.tech.messageBox(c.style, QStringLiteral("Old Firmware Warning"), QString()), c.answer);
        EXPECT_EQ(bench.tech.problems(), QStringList{QLatin1String(c.problem)});
        EXPECT_TRUE(bench.tech.unusedOverrides().isEmpty());
    }
}

TEST(PromptFollower, MovesTheJigOnlyWhenThePersonConfirms)
{
    struct Case {
        const char *caption;
        const char *text;
        int answer;
        bool following;
        JigState before;
        JigState after;
    };
    const Case cases[] = {
        {"Test Jig Needed", "Connect the test jig.", quillon::IdOk, true, {false, true, 1, 10}, {true, true, 1, 10}},
        {"No Test Jig",
         "Make sure the test jig is NOT connected.",
         quillon::IdOk,
         true,
         {true, true, 1, 10},
         {false, true, 1, 10}},
        {"A/D Jig Needed",
         "Connect the test jig with 10V",
         quillon::IdOk,
         true,
         {false, false, -1, 10},
         {true, true, 1, 10}},
        {"10V Switch", "Turn off the 10V source", quillon::IdOk, true, {true, false, 1, 10}, {true, true, -1, 10}},
        {"Test Jig Needed", "Connect the test jig.", quillon::IdOk, false, {false, true, 1, 10}, {false, true, 1, 10}},
        {"Test Jig Needed",
         "Connect the test jig.",
         quillon::IdCancel,
         true,
         {false, true, 1, 10},
         {false, true, 1, 10}},
    };
    for (const Case &c : cases) {
        SimBoard board;
        board.jig = c.before;
        quillon::testing::ScriptedOperator person;
        person.boxAnswers = {c.answer};
        quillon::sim::PromptFollower follower(person, board);
        follower.setFollowing(c.following);
        EXPECT_EQ(follower.messageBox(BoxStyle::JigInfo, QLatin1String(c.caption), QLatin1String(c.text)), c.answer);
        ASSERT_EQ(person.prompts.size(), 1);
        EXPECT_EQ(person.prompts[0].caption, QLatin1String(c.caption));
        EXPECT_EQ(board.jig.connected, c.after.connected) << c.caption;
        EXPECT_EQ(board.jig.sourceOn, c.after.sourceOn) << c.caption;
        EXPECT_EQ(board.jig.polarity, c.after.polarity) << c.caption;
    }
}

TEST(PromptFollower, ForwardsEveryOtherPrompt)
{
    SimBoard board;
    quillon::testing::ScriptedOperator person;
    person.textAnswers = {{true, QStringLiteral("9.9")}};
    person.rangeAnswers = {2};
    quillon::sim::PromptFollower follower(person, board);
    QString value;
    EXPECT_TRUE(follower.promptForText(QStringLiteral("ARef Cal"), QString(), value));
    EXPECT_EQ(value, QStringLiteral("9.9"));
    EXPECT_EQ(follower.askDacRange(), 2);
    EXPECT_TRUE(follower.checkDacScale(QString(), {}, [](int) {}));
    EXPECT_TRUE(follower.startQuestion(QStringLiteral("Scope Check"), QString())->isDone());
    follower.processEvents();
    EXPECT_EQ(person.processEventsCount, 1);
    EXPECT_EQ(person.prompts.size(), 4);
}

} // namespace
