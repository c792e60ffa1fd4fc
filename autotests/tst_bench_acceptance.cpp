// Acceptance through the bench: the real station window and the real bench window over
// one simulated board, the virtual technician at the prompts. Every fault switch is
// flipped the way a trainer flips it (the bench's check box and value fields), and the
// test that the fault breaks must fail on its next run with its own failure line;
// another board picked in the bench and Detect must reconfigure the station.
#include "app/station/MainForm.h"

#include "device/TracingDevice.h"
#include "sim/BenchTimeDevice.h"
#include "sim/SimBoard.h"
#include "sim/VirtualTechnician.h"
#include "sim/bench/BenchWindow.h"
#include "sim/FaultTable.h"
#include "ui/BlurbForm.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QSet>
#include <QWindow>

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>
#include "support/CLocale.h"

// Expected texts below spell numbers with a point.
static const auto *const cLocaleEnvironment = ::testing::AddGlobalTestEnvironment(new quillon::testing::CLocale);

namespace quillon {
namespace {

using namespace Qt::StringLiterals;

// The station as quillon-sim builds it, with the virtual technician in the chair: the
// main window, its notes window and the bench (a window of the station's) over one board.
struct Station {
    std::int64_t now = 0;
    sim::SimBoard board{[this] { return now; }};
    sim::BenchTimeDevice stepping{board, now};
    TracingDevice trace{stepping};
    sim::VirtualTechnician tech{board};
    BlurbForm blurb;
    std::unique_ptr<MainForm> form;
    sim::BenchWindow *bench = nullptr; // owned by the form

    Station()
    {
        form = std::make_unique<MainForm>(trace, tech);
        form->setBlurbForm(&blurb);
        sim::BenchHooks hooks;
        hooks.clock = [this] { return now; };
        bench = new sim::BenchWindow(board, trace, hooks, form.get());
        form->show();
        bench->show();
        EXPECT_TRUE(settle()) << "the first detection did not finish";
    }
    ~Station()
    {
        tech.onProcessEvents = nullptr;
        form->close();
        QCoreApplication::processEvents();
    }

    // Serves events until no handler runs and detection has finished (bounded).
    bool settle()
    {
        QDeadlineTimer deadline(60'000);
        while (!deadline.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            const QString detect = form->detectLabelText();
            if (form->handlerDepth() == 0 && !detect.isEmpty() && detect != QLatin1String("detecting..."))
                return true;
        }
        return false;
    }
    template <typename T>
    T *benchControl(const QString &name) const
    {
        T *w = bench->findChild<T *>(name);
        EXPECT_NE(w, nullptr) << name.toStdString();
        return w;
    }
    void click(const QString &name)
    {
        auto *button = form->findChild<QAbstractButton *>(name);
        ASSERT_NE(button, nullptr) << name.toStdString();
        button->click();
        settle();
    }
    void runRow(int row) { click(QStringLiteral("TagTest%1GoButton").arg(QString::number(row, 16).toUpper())); }
    QString resultLabel(int row) const { return form->record(row).ResultLabel->text(); }
    QString failLabel() const
    {
        auto *label = form->findChild<QLabel *>(QStringLiteral("Test4FailLabel"));
        return label ? label->text() : QString();
    }
};

std::string joined(const QStringList &lines)
{
    return lines.join(QLatin1Char('\n')).toStdString();
}

// A fault switch as a trainer sets it on the bench: values typed into its fields
// (by editor index; absent: what the bench offers), then the box ticked.
struct FaultCase {
    QString key;
    std::vector<std::pair<int, QString>> values;
    QList<int> before; // rows run (and passing) before the switch is flipped
    int row;           // the row the fault breaks
    QStringList lines; // memo lines that row must then hold
    // A setting made after the switch is on (call-counted faults count from plug-in).
    std::function<void(Station &)> arm = {};
};

const sim::FaultSwitch *switchNamed(const QString &key)
{
    for (const sim::FaultSwitch &s : sim::faultSwitches())
        if (s.key == key)
            return &s;
    return nullptr;
}

void setField(Station &s, const QString &name, const QString &text)
{
    if (auto *line = s.bench->findChild<QLineEdit *>(name))
        line->setText(text);
    else if (auto *spin = s.bench->findChild<QDoubleSpinBox *>(name))
        spin->setValue(text.toDouble());
    else
        ADD_FAILURE() << "no field " << name.toStdString();
}

void flip(Station &s, const FaultCase &c)
{
    for (const auto &[index, text] : c.values)
        setField(s, QStringLiteral("fault_%1_%2").arg(c.key).arg(index), text);
    auto *check = s.benchControl<QCheckBox>(QStringLiteral("fault_") + c.key);
    ASSERT_NE(check, nullptr);
    ASSERT_FALSE(check->isChecked());
    check->click();
    ASSERT_TRUE(check->isChecked());
}

// The n-th call from now: the fault's first field set to the board's count plus n.
std::function<void(Station &)> callsFromNow(const QString &key, int n)
{
    return [key, n](Station &s) {
        setField(s, QStringLiteral("fault_%1_0").arg(key), QString::number(s.board.callCount() + n));
    };
}

const QString Tab = QStringLiteral("\t");

std::vector<FaultCase> faultCases()
{
    const QString pullupFailed = Tab + u"DIO Pullup: 1 Failures"_s;
    const QString calSetFailed = u"D/A Cal Set: FAIL"_s;
    return {
        // Digital
        {u"dioStuckLow"_s, {{0, u"0x0008"_s}}, {}, 0, {Tab + u"Expected FFFF, got FFF7"_s, pullupFailed}},
        {u"dioPullDowns"_s, {{0, u"0x0080"_s}}, {}, 0, {Tab + u"Expected FFFF, got FF7F"_s, pullupFailed}},
        {u"dioStuckHigh"_s,
         {{0, u"0x0001"_s}},
         {},
         1,
         {Tab + u"A to B: expected 00, got 01"_s, Tab + u"A to B: 128 Failures"_s, Tab + u"B to A: Passed"_s,
          Tab + u"DIO Loopback: 128 Failures"_s}},
        {u"dioBridge"_s,
         {{0, u"2"_s}, {1, u"3"_s}},
         {},
         1,
         {Tab + u"A to B: expected 04, got 00"_s, Tab + u"DIO Loopback: 256 Failures"_s}},
        {u"jigMissing"_s,
         {},
         {},
         1,
         {Tab + u"A to B: expected 00, got FF"_s, Tab + u"DIO Loopback: 510 Failures"_s,
          u"This may indicate solder bridges on the DIO pins or DIO dir pins."_s}},
        // Analog in
        {u"adcOffset"_s,
         {{0, u"5"_s}, {1, u"0.5"_s}},
         {},
         5,
         {Tab + u"Channel 5: expected 3.333V\u00B10.300V, got 3.834V"_s}},
        {u"adcBadRange"_s,
         {{0, u"2"_s}, {1, u"0.5"_s}},
         {},
         5,
         {Tab + u"0-5V: expected 0.667V\u00B10.300V, got 1.166V"_s}},
        {u"scanErrorStatus"_s, {{0, u"31"_s}}, {}, 5, {Tab + u"Error 31 from ADC_GetScanV."_s}},
        {u"agndVolts"_s,
         {{0, u"0.25"_s}},
         {},
         3,
         {Tab + u"Expected 0.012V\u00B10.006V, got 0.252V [0672 counts]"_s, u"AGnd: Failed"_s,
          u"Calibration Voltages: Failed"_s}},
        // The technician types what the meter shows: a dead reference reads 0 V.
        {u"arefVolts"_s, {{0, u"0"_s}}, {}, 3, {Tab + u"0000 counts is out of range."_s, u"ARef Cal: Failed"_s}},
        // Clocking
        {u"dataWithoutClock"_s, {}, {}, 2, {u"CTR 2"_s, Tab + u"Fail: Got data without counter 2 enabled."_s}},
        {u"noDataWithClock"_s,
         {},
         {},
         2,
         {Tab + u"Fail: Did not get data via counter 2."_s, u"Aborting test, PLEASE HOTPLUG."_s}},
        // Nothing started: the first poll finds nothing left to come.
        {u"acquireErrorStatus"_s, {{0, u"31"_s}}, {}, 2, {Tab + u"Fail: Got data without counter 2 enabled."_s}},
        {u"pollErrorStatus"_s,
         {{0, u"31"_s}},
         {},
         2,
         {Tab + u"Fail: Did not get data via counter 2."_s, u"Aborting test, PLEASE HOTPLUG."_s}},
        // Analog out
        {u"dacWriteStatus"_s, {{0, u"5"_s}}, {}, 8, {u"Error 5 from \"DACMultiDirect\"."_s, calSetFailed}},
        {u"dacDrift"_s,
         {{0, u"1"_s}, {1, u"0.05"_s}},
         {8},
         9,
         {Tab + u"Tester reported at least one DAC bad."_s, u"D/A Cal Check: FAIL"_s}},
        // EEPROM: the calibration store
        {u"eepromFailWrite"_s,
         {{0, u"7520"_s}, {1, u"31"_s}},
         {},
         8,
         {u"Error 31 prepping EEPROM for cal constants."_s, calSetFailed}},
        {u"eepromShortRead"_s,
         {{0, u"2"_s}},
         {},
         8,
         {u"Bad length reading cal constants back from EEPROM."_s, calSetFailed}},
        {u"eepromCorruptReadback"_s,
         {},
         {},
         8,
         {u"Data mismatch reading cal constants back from EEPROM."_s, calSetFailed}},
        // USB
        {u"failRequest"_s,
         {{0, u"0xA2"_s}, {1, u"31"_s}},
         {},
         8,
         {u"Error 31 prepping EEPROM for cal constants."_s, calSetFailed}},
        // The Pullup test's second call is its read: the word stays 0.
        {u"failCallNumber"_s,
         {{1, u"31"_s}},
         {},
         0,
         {Tab + u"Expected FFFF, got 0000"_s, pullupFailed},
         callsFromNow(u"failCallNumber"_s, 2)},
        {u"unplugAfterCalls"_s,
         {{1, u"2"_s}},
         {},
         0,
         {Tab + u"Expected FFFF, got 0000"_s, pullupFailed},
         callsFromNow(u"unplugAfterCalls"_s, 1)},
    };
}

// Switches that only narrow another switch down: they break nothing by themselves.
const QSet<QString> Modifiers{QStringLiteral("eepromFaultAddress")};

TEST(BenchAcceptance, EveryFaultSwitchHasAnAcceptanceCase)
{
    QSet<QString> covered(Modifiers);
    for (const FaultCase &c : faultCases())
        covered.insert(c.key);
    for (const sim::FaultSwitch &s : sim::faultSwitches())
        EXPECT_TRUE(covered.contains(s.key)) << s.key.toStdString();
}

TEST(BenchAcceptance, TheHealthyBoardPassesEveryRow)
{
    Station s;
    s.click(QStringLiteral("TestAllButton"));
    for (int row = 0; row < s.form->rowCount(); ++row)
        EXPECT_EQ(s.resultLabel(row), QStringLiteral("PASS")) << row << "\n" << joined(s.form->row(row).memoLines());
    EXPECT_EQ(s.form->overallLabelText(), QStringLiteral("PASS"));
    EXPECT_TRUE(s.tech.problems().isEmpty());
}

TEST(BenchAcceptance, EachFaultSwitchFailsTheTestItBreaks)
{
    for (const FaultCase &c : faultCases()) {
        SCOPED_TRACE(c.key.toStdString());
        if (!switchNamed(c.key))
            continue; // a switch this bench does not have
        Station s;
        for (int row : c.before) {
            s.runRow(row);
            ASSERT_EQ(s.resultLabel(row), QStringLiteral("PASS")) << row << "\n"
                                                                  << joined(s.form->row(row).memoLines());
        }
        // Healthy first: the row passes, so the failure below is the switch's doing.
        s.runRow(c.row);
        ASSERT_EQ(s.resultLabel(c.row), QStringLiteral("PASS")) << joined(s.form->row(c.row).memoLines());

        flip(s, c);
        if (c.arm)
            c.arm(s);
        s.runRow(c.row);
        const QStringList memo = s.form->row(c.row).memoLines();
        EXPECT_EQ(s.resultLabel(c.row), QStringLiteral("FAIL")) << joined(memo);
        for (const QString &line : c.lines)
            EXPECT_TRUE(memo.contains(line)) << "want: " << line.toStdString() << "\nmemo:\n" << joined(memo);

        // Off again: the next run passes.
        s.benchControl<QCheckBox>(QStringLiteral("fault_") + c.key)->click();
        if (c.key == QLatin1String("unplugAfterCalls"))
            s.benchControl<QAbstractButton>(QStringLiteral("plugInButton"))->click();
        if (c.key == QLatin1String("noDataWithClock") || c.key == QLatin1String("pollErrorStatus")
            || c.key == QLatin1String("unplugAfterCalls"))
            continue; // the station asked for a hot-plug: not a test of recovery
        s.runRow(c.row);
        EXPECT_EQ(s.resultLabel(c.row), QStringLiteral("PASS")) << "after switching off\n"
                                                                << joined(s.form->row(c.row).memoLines());
    }
}

// The firmware's answers, set on the bench's Board tab.
TEST(BenchAcceptance, TheBusTestVerdictSetOnTheBenchShowsInTheFailLabel)
{
    struct Case {
        const char *verdict;
        const char *label;
        const char *result;
    };
    const Case cases[] = {
        {"00", "", "PASS"},
        {"01", "Hardware Failure", "FAIL"},
        {"FE", "Test Skipped", "FAIL"},
        {"5a", "Firmware Failure #5A", "FAIL"},
    };
    Station s;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.verdict);
        s.benchControl<QLineEdit>(QStringLiteral("busVerdictEdit"))->setText(QString::fromLatin1(c.verdict));
        s.runRow(4);
        EXPECT_EQ(s.failLabel(), QString::fromLatin1(c.label));
        EXPECT_EQ(s.resultLabel(4), QString::fromLatin1(c.result));
    }
}

TEST(BenchAcceptance, AnotherBoardPickedOnTheBenchReconfiguresTheStationAtDetect)
{
    struct Case {
        quint32 id;
        int channels;
        int columns;
        const char *lastLine;
    };
    const Case cases[] = {
        {0x8145, 64, 5, "3F: "},
        {0x804A, 32, 3, "1F: "},
        {0x805E, 160, 11, "9F: "},
        {0x8140, 16, 2, "F: "},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.id);
        Station s;
        auto *product = s.benchControl<QComboBox>(QStringLiteral("productIdCombo"));
        ASSERT_NE(product, nullptr);
        const int index = product->findData(c.id);
        ASSERT_GE(index, 0);
        product->setCurrentIndex(index);
        EXPECT_EQ(s.board.identity.productId, c.id);

        s.click(QStringLiteral("DetectButton"));
        EXPECT_EQ(s.form->state().board.ChannelCount, c.channels);

        // One monitor cycle: Stop from the technician's event pass once a listing is up.
        auto *stop = s.form->findChild<QAbstractButton *>(QStringLiteral("CyclicStopButton"));
        ASSERT_NE(stop, nullptr);
        const int first = s.stepping.acquisitions();
        s.tech.onProcessEvents = [&] {
            const int cycles = s.stepping.acquisitions() - first;
            if (stop->isEnabled() && (!s.form->monitorLines().isEmpty() || cycles > 3))
                stop->click();
        };
        s.click(QStringLiteral("CyclicGoButton"));
        s.tech.onProcessEvents = nullptr;

        const QStringList lines = s.form->monitorLines();
        ASSERT_EQ(lines.size(), c.channels);
        EXPECT_TRUE(lines.front().startsWith(QStringLiteral("0: "))) << lines.front().toStdString();
        EXPECT_TRUE(lines.back().startsWith(QString::fromLatin1(c.lastLine))) << lines.back().toStdString();
        EXPECT_EQ(s.form->monitorColumns(), c.columns);
        auto *list = s.form->findChild<QListWidget *>(QStringLiteral("CyclicList"));
        ASSERT_NE(list, nullptr);
        EXPECT_EQ(list->gridSize().width(), std::max(1, list->viewport()->width() / c.columns));
        EXPECT_FALSE(stop->isEnabled());
    }
}

// Watches a window for being blocked by a modal one.
class BlockWatch : public QObject {
public:
    bool blocked = false;
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::WindowBlocked)
            blocked = true;
        else if (event->type() == QEvent::WindowUnblocked)
            blocked = false;
        return false;
    }
};

TEST(BenchAcceptance, TheBenchStaysUsableWhileAPromptIsOpen)
{
    // The technician reads the meter and types the reading into the open prompt:
    // the station's prompts are application-modal, the bench must not be blocked.
    Station s;
    BlockWatch station, bench;
    s.form->installEventFilter(&station);
    s.bench->installEventFilter(&bench);
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        QMessageBox box(QMessageBox::Information, QStringLiteral("Test Jig Needed"),
                        QStringLiteral("Connect the test jig."), QMessageBox::Ok, s.form.get());
        box.setWindowModality(Qt::ApplicationModal);
        box.show();
        QCoreApplication::processEvents();
        EXPECT_TRUE(station.blocked) << "the prompt is modal for the station";
        EXPECT_FALSE(bench.blocked) << "the bench is not";
        box.close();
        QCoreApplication::processEvents();
        s.bench->refresh();
        EXPECT_FALSE(station.blocked);
        EXPECT_FALSE(bench.blocked);
        ASSERT_NE(s.bench->windowHandle(), nullptr);
        EXPECT_EQ(s.bench->windowHandle()->transientParent(), s.form->windowHandle()) << "back beside the station";
    }
}

} // namespace
} // namespace quillon
