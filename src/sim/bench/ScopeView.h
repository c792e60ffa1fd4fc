#pragma once

#include <QColor>
#include <QWidget>

#include <array>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

class QTimer;

namespace quillon::sim {

// A four-channel scope on the DAC outputs: one lane per DAC, the last span of time
// with "now" at the right edge. Samples are (time us, volts) level changes; the
// output holds its level until the next one.
//
// With a LastChange probe the scope repaints only when its picture changes: while a
// level change lies within the span shown (the traces scroll) it redraws on a timer;
// once every lane is flat it keeps still until sync() finds a newer change. Without
// one it redraws on the timer whenever it is shown.
class ScopeView : public QWidget {
    Q_OBJECT
public:
    using Trace = std::vector<std::pair<std::int64_t, double>>;
    using TraceSource = std::function<Trace(int channel)>;
    using Clock = std::function<std::int64_t()>;
    // Time (us) of the latest level change on any lane.
    using LastChange = std::function<std::int64_t()>;
    static constexpr int Channels = 4;
    // Redraws a second while the traces scroll.
    static constexpr int MovingFps = 20;

    // source and clock are called on every repaint, lastChange on every sync() and
    // repaint, all on the GUI thread.
    ScopeView(TraceSource source, Clock clock, LastChange lastChange = {}, QWidget *parent = nullptr);

    // Repaints if a trace changed since the last picture (cheap when none did).
    void sync();
    // Whether the scope redraws on its timer: the picture is moving.
    bool animating() const;

    // Time shown across the screen, microseconds.
    void setSpanMicros(std::int64_t span);
    std::int64_t spanMicros() const { return m_span; }
    // Vertical range of every lane, volts (the DACs' output range).
    void setVoltRange(double low, double high);
    double voltLow() const { return m_low; }
    double voltHigh() const { return m_high; }
    static QColor channelColor(int channel);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    // Notes the change a picture from start (us) on shows; runs the timer while it moves.
    void followChanges(std::int64_t start);

    TraceSource m_source;
    Clock m_clock;
    LastChange m_lastChange;
    QTimer *m_timer;
    // The latest change the last picture showed.
    std::int64_t m_paintedChange = 0;
    std::int64_t m_span = 2'000'000;
    double m_low = -10.0;
    double m_high = 10.0;
};

} // namespace quillon::sim
