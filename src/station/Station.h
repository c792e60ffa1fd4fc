#pragma once

#include "device/AdcConfigBlock.h"
#include "station/BoardConfig.h"
#include "station/Measurement.h"
#include "station/TestStatus.h"

#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>

namespace quillon {

class DeviceLibrary;
class Operator;

// Largest channel count any supported board (or a stale configuration) can make the
// library write: channel numbers are 8 bits wide in the A/D configuration block.
inline constexpr int MaxChannels = 256;

// One row of the test table as a test sees it. A test writes only its own row.
class TestRow {
public:
    virtual ~TestRow() = default;
    virtual int index() const = 0;
    virtual TestStatus status() const = 0;
    // Sets the row's Status only; call refresh() to repaint (RefreshStatus(index)).
    virtual void setStatus(TestStatus status) = 0;
    virtual void refresh() = 0;
    virtual void clearMemo() = 0;
    virtual void addLine(const QString &line) = 0;
    // Replaces the whole memo text.
    virtual void setMemoText(const QString &text) = 0;
    virtual QStringList memoLines() const = 0;
    // Row 4's Test4FailLabel; other rows ignore it.
    virtual void setFailText(const QString &text) = 0;
    virtual bool hasDetails() const = 0;
    virtual bool detailsDown() const = 0;
    // Puts the Details toggle down and runs its click handler.
    virtual void pressDetails() = 0;

    // One number the test judged, reported beside the memo line it writes: stamps the
    // row's digit and, for a passing value near its band's edge, Marginal, then hands
    // it to measured(). Changes nothing the row shows.
    void measure(Measurement m);
    // Closer than this share of its band's width to an edge, a passing value is
    // marginal (percent; 0 turns it off).
    void setMarginPercent(double percent) { m_marginPercent = percent; }
    double marginPercent() const { return m_marginPercent; }

protected:
    // Where the row's owner hears its measurements; the default drops them.
    virtual void measured(const Measurement &m) { (void)m; }

private:
    double m_marginPercent = 10.0;
};

// The cyclic monitor's controls.
class MonitorView {
public:
    virtual ~MonitorView() = default;
    // Running: Stop enabled and focused, Go disabled. Idle: the reverse.
    virtual void setRunning(bool running) = 0;
    virtual void clearList() = 0;
    virtual void setColumns(int columns) = 0;
    // Replaces the whole content of the list.
    virtual void setLines(const QStringList &lines) = 0;
};

// The window around the tests, as far as the tests need it.
class StationShell {
public:
    virtual ~StationShell() = default;
    virtual void maximizeMainWindow() = 0;
    // True once the main window is closing: loops that serve events return at once.
    virtual bool closing() const = 0;
    // CorrectionCheck ("30mV Correction") of the D/A Cal Set row.
    virtual bool correctionChecked() const = 0;
    // Blocks the GUI thread for ms milliseconds without serving events.
    virtual void sleepMs(int ms) = 0;
    // Serves events, waiting at most maxMs for one to arrive (a poll loop's pause).
    virtual void waitForEvents(int maxMs) = 0;
    // Milliseconds on a steady clock, the one the waits above take their time on:
    // where poll loops take their deadlines from.
    virtual qint64 clockMs() const;
};

// Buffers handed to the library for background acquisitions. One set per process,
// never freed: the library may still be writing into them after the window that
// started the acquisition is gone.
struct AcquisitionBuffers {
    std::array<std::uint16_t, MaxChannels> clocks{};
    std::array<std::uint16_t, MaxChannels> monitor{};
};
AcquisitionBuffers &processAcquisitionBuffers();

// Program-wide state, owned by the main window and reached through the context.
struct StationState {
    BoardConfig board;
    AdcConfigBlock adc;
    DacRangeState dacRange;
    bool AbortAll = false;
    bool CyclicStopRequested = false;
    bool cyclicRunning = false;
    // Acquisition buffers: an acquisition left outstanding (the A/D Clocks abort
    // path, a stopped monitor, a window closed mid-poll) keeps writing into them, so
    // they outlive every run and every window: they live as long as the process.
    // Sized for the largest board.
    std::array<std::uint16_t, MaxChannels> &clocksSamples = processAcquisitionBuffers().clocks;
    std::array<std::uint16_t, MaxChannels> &monitorSamples = processAcquisitionBuffers().monitor;
};

// What a test reads and drives. References only; the main window owns them all.
struct StationContext {
    DeviceLibrary &lib;
    Operator &op;
    StationShell &shell;
    StationState &state;
};

} // namespace quillon
