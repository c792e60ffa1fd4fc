#pragma once

#include "station/Station.h"

#include <QList>
#include <QStringList>

#include <functional>
#include <vector>

namespace quillon::testing {

// A test row without a window: keeps status, memo lines and fail text.
class PlainRow final : public TestRow {
public:
    explicit PlainRow(int index = 0, bool hasDetails = true) : m_index(index), m_hasDetails(hasDetails) {}
    int index() const override { return m_index; }
    TestStatus status() const override { return m_status; }
    void setStatus(TestStatus status) override { m_status = status; }
    void refresh() override { refreshed.append(m_status); }
    void clearMemo() override { m_lines.clear(); }
    void addLine(const QString &line) override { m_lines.append(line); }
    void setMemoText(const QString &text) override { m_lines = text.split(QLatin1Char('\n')); }
    QStringList memoLines() const override { return m_lines; }
    void setFailText(const QString &text) override { failText = text; }
    bool hasDetails() const override { return m_hasDetails; }
    bool detailsDown() const override { return m_down; }
    void pressDetails() override
    {
        m_down = true;
        ++detailPresses;
    }

    QString failText;
    QList<TestStatus> refreshed;           // status at every refresh(), in order
    std::vector<Measurement> measurements; // as measure() stamped them, numbered from 1
    int detailPresses = 0;
    void setDetailsDown(bool down) { m_down = down; }

    // The measurement named `name`, or null.
    const Measurement *measurement(const QString &name) const
    {
        for (const Measurement &m : measurements)
            if (m.name == name)
                return &m;
        return nullptr;
    }

protected:
    void measured(const Measurement &m) override
    {
        measurements.push_back(m);
        measurements.back().order = int(measurements.size());
    }

private:
    int m_index;
    bool m_hasDetails;
    TestStatus m_status = TestStatus::Untested;
    QStringList m_lines;
    bool m_down = false;
};

// A shell without a window: records what the tests asked of it. Sleeps are skipped
// unless realSleep is set; waitForEvents only counts. Its clock is the time slept
// and waited.
class PlainShell final : public StationShell {
public:
    void maximizeMainWindow() override { ++maximized; }
    bool closing() const override { return isClosing; }
    bool correctionChecked() const override { return correction; }
    void sleepMs(int ms) override;
    void waitForEvents(int maxMs) override;
    qint64 clockMs() const override { return timeMs; }

    int maximized = 0;
    bool isClosing = false;
    bool correction = false;
    bool realSleep = true;
    QList<int> sleeps;
    int waits = 0;
    qint64 timeMs = 0;
    // Hook run on every sleep or wait (e.g. to advance a simulated clock).
    std::function<void(int ms)> onTime;
};

// Monitor controls without a window.
class PlainMonitorView final : public MonitorView {
public:
    void setRunning(bool r) override
    {
        running = r;
        runningChanges.append(r);
    }
    void clearList() override { lines.clear(); }
    void setColumns(int c) override { columns = c; }
    void setLines(const QStringList &l) override
    {
        lines = l;
        ++listings;
        if (onListing)
            onListing();
    }

    bool running = false;
    QList<bool> runningChanges;
    int columns = 0;
    QStringList lines;
    int listings = 0;
    std::function<void()> onListing;
};

} // namespace quillon::testing
