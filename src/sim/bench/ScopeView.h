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
// output holds its level until the next one. Redraws itself on a timer while shown.
class ScopeView : public QWidget {
    Q_OBJECT
public:
    using Trace = std::vector<std::pair<std::int64_t, double>>;
    using TraceSource = std::function<Trace(int channel)>;
    using Clock = std::function<std::int64_t()>;
    static constexpr int Channels = 4;

    // source and clock are called on every repaint, on the GUI thread.
    ScopeView(TraceSource source, Clock clock, QWidget *parent = nullptr);

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
    TraceSource m_source;
    Clock m_clock;
    QTimer *m_timer;
    std::int64_t m_span = 2'000'000;
    double m_low = -10.0;
    double m_high = 10.0;
};

} // namespace quillon::sim
