#pragma once

// Shared pieces of the benchmarks: a station without a window for the plain test
// functions, simulated boards with zero latency, and the ratio counters.

#include "station/Operator.h"
#include "station/Station.h"

#include <benchmark/benchmark.h>

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>

namespace quillon::bench {

// Product ids of the simulated boards measured: 16 channels and 160 channels, both
// with DACs, so every test of Test All applies.
inline constexpr quint32 Board16 = 0x8140;
inline constexpr quint32 Board160 = 0x815E;

// Time per iteration as a ratio of `referenceSeconds`: the counter shows
// (seconds / iterations) / referenceSeconds. Use with UseRealTime() where the
// measured code waits.
inline benchmark::Counter ratioTo(double referenceSeconds)
{
    return benchmark::Counter(referenceSeconds,
                              benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// A shell without a window: no sleeps, no waits.
class NullShell final : public StationShell {
public:
    void maximizeMainWindow() override {}
    bool closing() const override { return false; }
    bool correctionChecked() const override { return false; }
    void sleepMs(int) override {}
    void waitForEvents(int) override {}
};

// Monitor controls without a window; runs a hook after every listing.
class ListingView final : public MonitorView {
public:
    void setRunning(bool) override {}
    void clearList() override { lines.clear(); }
    void setColumns(int) override {}
    void setLines(const QStringList &l) override
    {
        lines = l;
        ++listings;
        if (onListing)
            onListing();
    }
    QStringList lines;
    int listings = 0;
    std::function<void()> onListing;
};

// An operator that answers nothing: the monitor and the ramp only serve events.
class SilentOperator final : public Operator {
public:
    int messageBox(BoxStyle, const QString &, const QString &) override { return IdOk; }
    bool promptForText(const QString &, const QString &, QString &) override { return false; }
    int askDacRange() override { return 3; }
    std::unique_ptr<DacReadingDialog> createDacReadingDialog() override { return nullptr; }
    bool checkDacScale(const QString &, const QStringList &, const std::function<void(int)> &) override
    {
        return false;
    }
    std::unique_ptr<AsyncQuestion> startQuestion(const QString &, const QString &) override { return nullptr; }
    void processEvents() override {}
};

// A bench clock that moves on by a fixed step whenever it is read: scans of the
// simulated board arrive without real waiting.
class SteppingClock {
public:
    explicit SteppingClock(std::int64_t stepUs) : m_step(stepUs) {}
    std::int64_t operator()() { return m_now += m_step; }

private:
    std::int64_t m_step;
    std::int64_t m_now = 0;
};

} // namespace quillon::bench

namespace quillon {
class MainForm;
}

namespace quillon::bench {

// Serves events until the window's detection has ended; true when it found the board.
bool waitForDetection(MainForm &form, int timeoutMs = 10'000);

} // namespace quillon::bench
