// Fault sweep: detection and every test row on the simulated board, failing one library
// call at a time (each status class) and unplugging the board from a call on. Every run
// must end with a verdict, name each examined status in the memo, keep quiet about the
// ignored ones, and leave the EEPROM outside the row's own bytes alone.
//
// The first run of each case counts the calls and names their sites; the fault runs
// then cover every distinct site (a vendor request with its address, or a function),
// its first two occurrences and its last, so long loops (512 DIO patterns, the ramp)
// cost a handful of runs, not hundreds.
#include "station/DacCalStore.h"
#include "station/Detection.h"
#include "station/Station.h"
#include "device/TracingDevice.h"
#include "sim/SimBoard.h"
#include "sim/VirtualTechnician.h"
#include "support/PlainStation.h"
#include "support/QtPrinters.h"
#include "support/ScriptedOperator.h"
#include "procedures/ProductionTests.h"

#include <QMap>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>
#include <vector>

namespace quillon {
namespace {

using testing::PlainRow;
using testing::PlainShell;

constexpr quint32 StatusClasses[] = {2u, 31u, 52u, 0xFFFFFFFFu};
constexpr int EepromFirst = DacCalRecordBase; // 7520
constexpr int EepromRefWord = ArefCalAddress; // 7666, 7667

// A bench on a stepped clock: sleeps, waits and event passes advance simulated time
// instead of waiting.
struct Bench {
    std::int64_t now = 0;
    sim::SimBoard board{[this] { return now; }};
    TracingDevice trace{board};
    sim::VirtualTechnician tech{board};
    PlainShell shell;
    StationState state;
    StationContext ctx{trace, tech, shell, state};

    Bench()
    {
        tech.serveEvents = false;
        tech.onProcessEvents = [this] { now += 1000; };
        shell.realSleep = false;
        shell.onTime = [this](int ms) { now += std::int64_t(ms) * 1000; };
        // Some non-0xFF content everywhere, so that a stray write anywhere shows.
        for (size_t a = 0; a < board.eeprom().size(); ++a)
            board.eeprom()[a] = std::uint8_t(a * 7 + 3);
        board.eeprom()[EepromRefWord] = 0x4F;
        board.eeprom()[EepromRefWord + 1] = 0xFE;
        board.reset();
        const DetectResult found = detectBoard(board, tech, state);
        EXPECT_TRUE(found.found);
        state.adc.clear();
        state.adc[AdcConfigBlock::TriggerMode] = 16;
    }
};

// The site of a call: vendor requests by request, value (the EEPROM address) and index;
// everything else by function.
QString siteOf(const LibraryCall &c)
{
    if (c.function.startsWith(QLatin1String("GenericVendor")))
        return c.function + QLatin1Char(' ') + c.arguments.section(QLatin1Char(','), 1, 3);
    if (c.function == QLatin1String("QueryDeviceInfo"))
        return c.function + QLatin1Char(' ') + c.arguments.section(QLatin1Char(','), 0, 0);
    return c.function;
}

// 1-based call numbers worth failing: the first two and the last of every site.
QList<int> callsToFail(const QList<LibraryCall> &calls)
{
    QMap<QString, QList<int>> bySite;
    for (int i = 0; i < calls.size(); ++i)
        bySite[siteOf(calls[i])].append(i + 1);
    QList<int> out;
    for (const QList<int> &ks : bySite) {
        for (int j = 0; j < ks.size(); ++j)
            if (j < 2 || j == ks.size() - 1)
                out.append(ks[j]);
    }
    std::sort(out.begin(), out.end());
    return out;
}

bool mentions(const QString &line, quint32 status)
{
    const QRegularExpression number(QStringLiteral("(^|[^0-9])%1([^0-9]|$)").arg(status));
    return line.contains(number);
}

// How a row treats a failing call. Empty: the status is not examined. Otherwise a
// text the memo line naming the status must also contain.
using Examined = std::function<QString(const LibraryCall &)>;

bool isVendor(const LibraryCall &c, const char *fn, const char *request)
{
    return c.function == QLatin1String(fn)
           && c.arguments.section(QLatin1Char(','), 1, 1).trimmed() == QLatin1String(request);
}

QString scanExamined(const LibraryCall &c)
{
    return c.function == QLatin1String("ADC_GetScanV") ? QStringLiteral("ADC_GetScanV") : QString();
}

QString calVoltagesExamined(const LibraryCall &c)
{
    if (c.function == QLatin1String("ADC_QueryCal"))
        return QStringLiteral("@skip"); // a board without calibration support: the test skips
    if (isVendor(c, "GenericVendorWrite", "0xA2"))
        return QStringLiteral("EEPROM");
    return scanExamined(c);
}

QString calSetExamined(const LibraryCall &c)
{
    if (isVendor(c, "GenericVendorWrite", "0xA2") || isVendor(c, "GenericVendorRead", "0xA2"))
        return QStringLiteral("EEPROM");
    if (isVendor(c, "GenericVendorWrite", "0xB3"))
        return c.arguments.contains(QLatin1String("0x4000")) ? QStringLiteral("calibration")
                                                             : QStringLiteral("DACMultiDirect");
    return QString();
}

QString rampExamined(const LibraryCall &c)
{
    return isVendor(c, "GenericVendorWrite", "0xB3") ? QStringLiteral("DACMultiDirect") : QString();
}

QString nothingExamined(const LibraryCall &)
{
    return QString();
}

struct RowCase {
    int index;
    const char *name;
    void (*run)(StationContext &, TestRow &);
    Examined examined;
    int writeFirst; // EEPROM bytes the row may write, inclusive; -1: none
    int writeLast;
    void (*prepare)(Bench &); // the bench as earlier rows of Test All leave it
};

void noPreparation(Bench &)
{
}

void ladderPlus(Bench &b)
{
    b.board.jig.connected = true;
    b.board.jig.polarity = +1;
}

void ladderMinus(Bench &b)
{
    b.board.jig.connected = true;
    b.board.jig.polarity = -1;
}

// A calibration stored by an earlier D/A Cal Set.
void calibrated(Bench &b)
{
    PlainRow setup(8);
    runDacCalSet(b.ctx, setup);
    EXPECT_EQ(setup.status(), TestStatus::Pass) << setup.memoLines().join(QLatin1Char('\n')).toStdString();
}

// Calibrated, and the DACs have drifted since: a new calibration stores other constants.
void calibratedThenDrifted(Bench &b)
{
    calibrated(b);
    for (double &g : b.board.dacGain)
        g += 0.0007;
}

const std::vector<RowCase> &rowCases()
{
    static const std::vector<RowCase> cases{
        {0, "DIO Pullup", runDioPullup, nothingExamined, -1, -1, noPreparation},
        {1, "DIO Loopback", runDioLoopback, nothingExamined, -1, -1, noPreparation},
        {2, "A/D Clocks", runAdClocks, nothingExamined, -1, -1, noPreparation},
        {3, "Calibration Voltages", runCalibrationVoltages, calVoltagesExamined, EepromRefWord, EepromRefWord + 1,
         noPreparation},
        {4, "Address/Data Lines", runAddressDataLines, nothingExamined, -1, -1, noPreparation},
        {5, "A/D SE Unipolar", runAdSeUnipolar, scanExamined, -1, -1, noPreparation},
        {6, "A/D SE Bipolar", runAdSeBipolar, scanExamined, -1, -1, ladderPlus},
        {7, "A/D Differential", runAdDifferential, scanExamined, -1, -1, ladderMinus},
        {8, "D/A Cal Set", runDacCalSet, calSetExamined, EepromFirst, EepromRefWord - 1, calibratedThenDrifted},
        {9, "D/A Cal Check", runDacCalCheck, nothingExamined, -1, -1, calibrated},
        {10, "D/A Ramp", runDacRamp, rampExamined, -1, -1, calibrated},
    };
    return cases;
}

struct Fault {
    enum Kind { None, FailOne, Unplug } kind = None;
    int call = 0; // 1-based within the row's run
    quint32 status = 0;
};

QString describe(const Fault &f)
{
    if (f.kind == Fault::None)
        return QStringLiteral("no fault");
    return QStringLiteral("%1 call %2 with status %3")
        .arg(f.kind == Fault::FailOne ? QStringLiteral("failing") : QStringLiteral("unplugged from"))
        .arg(f.call)
        .arg(f.status);
}

struct Outcome {
    QList<LibraryCall> calls;
    TestStatus status = TestStatus::Untested;
};

// Every DACC record holds either the constants it held before the run or constants
// this run read back equal.
void expectNoMarkerBesideUnverifiedConstants(const std::vector<std::uint8_t> &before, const Bench &b)
{
    const auto &e = b.board.eeprom();
    for (int r = 0; r < 4; ++r) {
        const size_t rec = size_t(DacCalRecordBase + DacCalRecordSize * r);
        if (std::memcmp(&e[rec], "DACC", 4) != 0)
            continue;
        const QByteArray block(reinterpret_cast<const char *>(&e[rec + 4]), 32);
        if (std::equal(e.begin() + long(rec + 4), e.begin() + long(rec + 36), before.begin() + long(rec + 4))
            && std::memcmp(&before[rec], "DACC", 4) == 0)
            continue;
        bool verified = false;
        const QString address = QStringLiteral("0x%1")
                                    .arg(rec + 4, 4, 16, QLatin1Char('0'))
                                    .toUpper()
                                    .replace(QLatin1String("0X"), QLatin1String("0x"));
        for (const LibraryCall &c : b.trace.calls())
            if (c.function == QLatin1String("GenericVendorRead") && c.status == 0
                && c.arguments.section(QLatin1Char(','), 2, 2).trimmed() == address && c.dataIn == block)
                verified = true;
        EXPECT_TRUE(verified) << "record " << r << " marked DACC beside constants never read back equal";
    }
}

Outcome runRow(const RowCase &rc, const Fault &fault)
{
    Bench b;
    rc.prepare(b);
    const std::vector<std::uint8_t> before = b.board.eeprom();
    const int base = b.board.callCount();
    if (fault.kind == Fault::FailOne) {
        b.board.faults.failCallNumber = base + fault.call;
        b.board.faults.failStatus = fault.status;
    } else if (fault.kind == Fault::Unplug) {
        b.board.faults.unplugAfterCalls = base + fault.call - 1;
        b.board.faults.unplugStatus = fault.status;
    }
    b.trace.setKeeping(true);
    PlainRow row(rc.index);
    rc.run(b.ctx, row);

    const QStringList memo = row.memoLines();
    const std::string context = describe(fault).toStdString() + "\nmemo:\n" + memo.join(QLatin1Char('\n')).toStdString()
                                + "\nfail text: " + row.failText.toStdString();
    SCOPED_TRACE(context);

    EXPECT_TRUE(row.status() == TestStatus::Pass || row.status() == TestStatus::Fail);

    // The first failing call the row examines decides what the memo must say.
    std::optional<LibraryCall> examinedFailure;
    bool anyFailure = false;
    for (const LibraryCall &c : b.trace.calls()) {
        if (!c.hasStatus || c.status == 0)
            continue;
        anyFailure = true;
        if (!examinedFailure && !rc.examined(c).isEmpty())
            examinedFailure = c;
    }
    if (fault.kind != Fault::None) {
        EXPECT_TRUE(anyFailure);
    }
    if (examinedFailure) {
        const QString what = rc.examined(*examinedFailure);
        if (what == QLatin1String("@skip")) {
            EXPECT_EQ(row.status(), TestStatus::Pass);
            EXPECT_TRUE(memo.contains(QStringLiteral("No Calibration Detected")));
        } else {
            EXPECT_EQ(row.status(), TestStatus::Fail) << examinedFailure->function.toStdString();
            bool named = false;
            for (const QString &line : memo)
                named = named || (mentions(line, fault.status) && line.contains(what));
            EXPECT_TRUE(named) << "no memo line names " << examinedFailure->function.toStdString() << " ("
                               << what.toStdString() << ") with " << fault.status;
        }
    } else if (anyFailure) {
        // Only ignored statuses failed: nothing in the memo may report one.
        static const QRegularExpression errorWord(QStringLiteral("error"), QRegularExpression::CaseInsensitiveOption);
        for (const QString &line : memo)
            EXPECT_FALSE(line.contains(errorWord) && mentions(line, fault.status)) << line.toStdString();
    }

    // EEPROM: only the row's own bytes may change; the reference word only by its row.
    const auto &after = b.board.eeprom();
    for (size_t a = 0; a < after.size(); ++a) {
        const bool own = int(a) >= rc.writeFirst && int(a) <= rc.writeLast;
        if (!own && after[a] != before[a]) {
            ADD_FAILURE() << "EEPROM byte " << a << " changed";
            break;
        }
    }
    expectNoMarkerBesideUnverifiedConstants(before, b);

    Outcome out;
    out.calls = b.trace.calls();
    out.status = row.status();
    return out;
}

TEST(FaultSweep, EveryRowUnderEveryFailingCall)
{
    for (const RowCase &rc : rowCases()) {
        SCOPED_TRACE(rc.name);
        const Outcome clean = runRow(rc, {});
        EXPECT_EQ(clean.status, TestStatus::Pass) << "the undisturbed run passes";
        ASSERT_FALSE(clean.calls.isEmpty());
        const QList<int> ks = callsToFail(clean.calls);
        std::printf("%-22s %5lld calls, %3lld failed in turn\n", rc.name, static_cast<long long>(clean.calls.size()),
                    static_cast<long long>(ks.size()));
        for (int k : ks) {
            for (quint32 status : StatusClasses) {
                runRow(rc, {Fault::FailOne, k, status});
                runRow(rc, {Fault::Unplug, k, status});
            }
        }
    }
}

// The monitor examines the acquisition's two statuses and shows them as its only line;
// the configuration and the clock are not examined (with no clock, Stop ends the wait).
TEST(FaultSweep, MonitorUnderEveryFailingCall)
{
    auto run = [](const Fault &fault, QList<LibraryCall> *calls) {
        Bench b;
        const std::vector<std::uint8_t> before = b.board.eeprom();
        const int base = b.board.callCount();
        if (fault.kind == Fault::FailOne) {
            b.board.faults.failCallNumber = base + fault.call;
            b.board.faults.failStatus = fault.status;
        } else if (fault.kind == Fault::Unplug) {
            b.board.faults.unplugAfterCalls = base + fault.call - 1;
            b.board.faults.unplugStatus = fault.status;
        }
        b.trace.setKeeping(true);
        testing::PlainMonitorView view;
        QList<QStringList> listings;
        // Stop after three listings, or after a second of simulated waiting without one.
        view.onListing = [&] {
            listings.append(view.lines);
            if (listings.size() >= 3)
                b.state.CyclicStopRequested = true;
        };
        int waits = 0;
        b.shell.onTime = [&](int ms) {
            b.now += std::int64_t(ms) * 1000;
            if (++waits == 200)
                b.state.CyclicStopRequested = true;
        };
        runCyclicMonitor(b.ctx, view);
        SCOPED_TRACE(describe(fault).toStdString()
                     + "\nlast listing: " + view.lines.join(QLatin1Char('|')).toStdString());

        if (fault.kind == Fault::None) {
            EXPECT_EQ(listings.size(), 3);
            EXPECT_EQ(view.lines.size(), 16);
        }
        EXPECT_FALSE(view.running);
        EXPECT_FALSE(b.state.cyclicRunning);
        EXPECT_EQ(b.board.eeprom(), before);
        std::optional<LibraryCall> examined;
        for (const LibraryCall &c : b.trace.calls())
            if (!examined && c.status != 0
                && (c.function == QLatin1String("ADC_BulkAcquire") || c.function == QLatin1String("ADC_BulkPoll")))
                examined = c;
        if (examined) {
            EXPECT_EQ(view.lines, QStringList{examined->function + QStringLiteral(" returned error ")
                                              + QString::number(examined->status) + QLatin1Char('.')});
        } else {
            for (const QString &line : view.lines)
                EXPECT_FALSE(line.contains(QLatin1String("error"))) << line.toStdString();
        }
        if (calls)
            *calls = b.trace.calls();
    };

    QList<LibraryCall> clean;
    run({}, &clean);
    ASSERT_FALSE(clean.isEmpty());
    for (int k : callsToFail(clean)) {
        for (quint32 status : StatusClasses) {
            run({Fault::FailOne, k, status}, nullptr);
            run({Fault::Unplug, k, status}, nullptr);
        }
    }
}

// Detection examines the one QueryDeviceInfo(diOnly) status and shows it in the
// Retry/Cancel box; every other call is judged by what it delivers.
TEST(FaultSweep, DetectionUnderEveryFailingCall)
{
    auto run = [](const Fault &fault, QList<LibraryCall> *calls) {
        std::int64_t now = 0;
        sim::SimBoard board([&now] { return now; });
        const std::vector<std::uint8_t> before = board.eeprom();
        TracingDevice trace(board);
        trace.setKeeping(true);
        testing::ScriptedOperator op;
        op.boxAnswers = {IdRetry}; // one retry, then Cancel
        StationState state;
        if (fault.kind == Fault::FailOne) {
            board.faults.failCallNumber = fault.call;
            board.faults.failStatus = fault.status;
        } else if (fault.kind == Fault::Unplug) {
            board.faults.unplugAfterCalls = fault.call - 1;
            board.faults.unplugStatus = fault.status;
        }
        SCOPED_TRACE(describe(fault).toStdString());
        const DetectResult result = detectBoard(trace, op, state);
        EXPECT_EQ(state.dacRange.DacRange, -1);
        EXPECT_EQ(board.eeprom(), before);

        QList<quint32> examined;
        for (const LibraryCall &c : trace.calls())
            if (c.function == QLatin1String("QueryDeviceInfo") && c.arguments.startsWith(QLatin1String("-3,")))
                examined.append(c.status);
        QList<testing::Prompt> boxes;
        for (const testing::Prompt &p : op.prompts)
            if (p.kind == QLatin1String("RetryCancel"))
                boxes.append(p);
        // One box per failed attempt, and it says why.
        int failedAttempts = 0;
        for (quint32 s : examined) {
            if (s == 0)
                continue;
            ASSERT_LT(failedAttempts, boxes.size());
            const QString text = boxes[failedAttempts].text;
            if (s == 2)
                EXPECT_TRUE(text.contains(QLatin1String("doesn't appear"))) << text.toStdString();
            else if (s == 52)
                EXPECT_TRUE(text.contains(QLatin1String("multiple"))) << text.toStdString();
            else
                EXPECT_TRUE(mentions(text, s)) << text.toStdString();
            ++failedAttempts;
        }
        EXPECT_EQ(boxes.size(), failedAttempts);
        EXPECT_EQ(result.found, !examined.isEmpty() && examined.last() == 0);
        if (!result.found) {
            EXPECT_EQ(state.board, BoardConfig{});
        }
        if (calls)
            *calls = trace.calls();
    };

    QList<LibraryCall> clean;
    run({}, &clean);
    ASSERT_FALSE(clean.isEmpty());
    for (int k = 1; k <= clean.size(); ++k) {
        for (quint32 status : StatusClasses) {
            run({Fault::FailOne, k, status}, nullptr);
            run({Fault::Unplug, k, status}, nullptr);
        }
    }
}

} // namespace
} // namespace quillon
