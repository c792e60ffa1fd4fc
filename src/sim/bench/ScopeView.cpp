#include "ScopeView.h"

#include <QLocale>
#include <QPainter>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <limits>

namespace quillon::sim {

namespace {

constexpr int TimeDivisions = 10;
constexpr int VoltDivisions = 4;
constexpr int LabelWidth = 56;
constexpr int ScaleHeight = 18;

const QColor Background(16, 20, 24);
const QColor GridColor(60, 72, 80);
const QColor TextColor(190, 200, 205);

// One screen column of a lane: the lowest and highest level it saw.
struct Column {
    double low = std::numeric_limits<double>::infinity();
    double high = -std::numeric_limits<double>::infinity();
    bool used() const { return low <= high; }
    void add(double v)
    {
        low = std::min(low, v);
        high = std::max(high, v);
    }
};

// Folds a level trace into one min/max column per pixel, so a repaint costs the
// number of samples plus the width, however fast the DACs are written.
std::vector<Column> columns(const ScopeView::Trace &trace, std::int64_t start, std::int64_t now, int width)
{
    std::vector<Column> cols(std::size_t(std::max(width, 0)));
    if (width <= 0 || now <= start)
        return cols;
    const double perColumn = double(now - start) / width;
    auto columnOf = [&](std::int64_t t) {
        const double c = std::floor(double(t - start) / perColumn);
        return int(std::clamp(c, 0.0, double(width - 1)));
    };
    auto cover = [&](std::int64_t from, std::int64_t to, double v) {
        if (!std::isfinite(v) || to < start || from > now)
            return;
        const int a = columnOf(std::max(from, start));
        const int b = columnOf(std::min(to, now));
        for (int c = a; c <= b; ++c)
            cols[std::size_t(c)].add(v);
    };
    std::int64_t previous = std::numeric_limits<std::int64_t>::min();
    for (std::size_t i = 0; i < trace.size(); ++i) {
        // A sample out of order is taken as happening with the one before it.
        const std::int64_t t = std::max(trace[i].first, previous);
        previous = t;
        const std::int64_t next = i + 1 < trace.size() ? std::max(trace[i + 1].first, t) : now;
        cover(t, std::max(next, t), trace[i].second);
    }
    return cols;
}

QString timeDivisionText(std::int64_t spanUs)
{
    const double perDiv = double(spanUs) / TimeDivisions;
    if (perDiv >= 1e6)
        return ScopeView::tr("%1 s/div").arg(QLocale().toString(perDiv / 1e6, 'g', 3));
    if (perDiv >= 1e3)
        return ScopeView::tr("%1 ms/div").arg(QLocale().toString(perDiv / 1e3, 'g', 3));
    return ScopeView::tr("%1 \u00B5s/div").arg(QLocale().toString(perDiv, 'g', 3));
}

} // namespace

ScopeView::ScopeView(TraceSource source, Clock clock, LastChange lastChange, QWidget *parent)
    : QWidget(parent), m_source(std::move(source)), m_clock(std::move(clock)), m_lastChange(std::move(lastChange)),
      m_timer(new QTimer(this))
{
    setObjectName(QStringLiteral("scopeView"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_timer->setInterval(1000 / MovingFps);
    connect(m_timer, &QTimer::timeout, this, qOverload<>(&QWidget::update));
}

void ScopeView::setSpanMicros(std::int64_t span)
{
    span = std::max<std::int64_t>(span, 1000);
    if (span == m_span)
        return;
    m_span = span;
    update();
}

void ScopeView::setVoltRange(double low, double high)
{
    if (!std::isfinite(low) || !std::isfinite(high) || high <= low || (low == m_low && high == m_high))
        return;
    m_low = low;
    m_high = high;
    update();
}

void ScopeView::sync()
{
    if (m_lastChange && isVisible() && m_lastChange() != m_paintedChange)
        update();
}

bool ScopeView::animating() const
{
    return m_timer->isActive();
}

QColor ScopeView::channelColor(int channel)
{
    static const QColor colors[Channels] = {QColor(250, 220, 60), QColor(80, 210, 250), QColor(240, 90, 200),
                                            QColor(110, 230, 110)};
    return colors[std::clamp(channel, 0, Channels - 1)];
}

QSize ScopeView::sizeHint() const
{
    return {640, 320};
}

QSize ScopeView::minimumSizeHint() const
{
    return {180, 140};
}

void ScopeView::showEvent(QShowEvent *event)
{
    // The first picture decides whether the timer runs.
    if (!m_lastChange)
        m_timer->start();
    QWidget::showEvent(event);
}

void ScopeView::hideEvent(QHideEvent *event)
{
    m_timer->stop();
    QWidget::hideEvent(event);
}

void ScopeView::followChanges(std::int64_t start)
{
    if (!m_lastChange)
        return;
    // Moving while a change is on the screen (or still to come, by the clock).
    m_paintedChange = m_lastChange();
    if (m_paintedChange < start)
        m_timer->stop();
    else if (!m_timer->isActive())
        m_timer->start();
}

void ScopeView::paintEvent(QPaintEvent *)
{
    const std::int64_t now = m_clock ? m_clock() : 0;
    const std::int64_t start = now - m_span;
    followChanges(start);

    QPainter p(this);
    p.fillRect(rect(), Background);

    const QRect plot = rect().adjusted(LabelWidth, 4, -LabelWidth - 4, -ScaleHeight);
    if (plot.width() < 10 || plot.height() < 4 * Channels)
        return;
    const double laneHeight = double(plot.height()) / Channels;
    const QLocale locale;

    // Grid: time divisions across all lanes, volt divisions within each.
    p.setPen(QPen(GridColor, 1, Qt::DotLine));
    for (int d = 0; d <= TimeDivisions; ++d) {
        const int x = plot.left() + d * (plot.width() - 1) / TimeDivisions;
        p.drawLine(x, plot.top(), x, plot.bottom());
    }
    for (int c = 0; c < Channels; ++c) {
        const double top = plot.top() + c * laneHeight;
        for (int d = 1; d < VoltDivisions; ++d) {
            const int y = int(top + d * (laneHeight - 4) / VoltDivisions) + 2;
            p.drawLine(plot.left(), y, plot.right(), y);
        }
        p.setPen(QPen(GridColor, 1, Qt::SolidLine));
        p.drawLine(plot.left(), int(top), plot.right(), int(top));
        p.setPen(QPen(GridColor, 1, Qt::DotLine));
    }
    p.setPen(QPen(GridColor, 1));
    p.drawRect(plot.adjusted(0, 0, -1, -1));

    QFont small = font();
    small.setPointSizeF(std::max(7.0, small.pointSizeF() * 0.85));
    p.setFont(small);

    for (int c = 0; c < Channels; ++c) {
        const double top = plot.top() + c * laneHeight + 3;
        const double bottom = plot.top() + (c + 1) * laneHeight - 3;
        auto yOf = [&](double v) {
            const double f = (std::clamp(v, m_low, m_high) - m_low) / (m_high - m_low);
            return bottom - f * (bottom - top);
        };
        const Trace trace = m_source ? m_source(c) : Trace{};
        const std::vector<Column> cols = columns(trace, start, now, plot.width());

        QVector<QLineF> lines;
        lines.reserve(int(cols.size()));
        for (std::size_t x = 0; x < cols.size(); ++x) {
            if (!cols[x].used())
                continue;
            const double px = plot.left() + double(x) + 0.5;
            // Half a pixel each way so a flat level still lights its pixel.
            lines.append(QLineF(px, yOf(cols[x].high) - 0.5, px, yOf(cols[x].low) + 0.5));
        }
        const QColor color = channelColor(c);
        p.setPen(QPen(color, 1.5));
        p.drawLines(lines);

        const QRectF left(0, top, LabelWidth - 4, bottom - top);
        p.drawText(left, Qt::AlignRight | Qt::AlignVCenter, tr("DAC %1").arg(c));
        if (!trace.empty() && std::isfinite(trace.back().second)) {
            const QRectF right(plot.right() + 4, top, LabelWidth, bottom - top);
            // No "-0.00" for an output a few millivolts below zero.
            const double shown = std::round(trace.back().second * 100.0) / 100.0 + 0.0;
            p.drawText(right, Qt::AlignLeft | Qt::AlignVCenter, tr("%1 V").arg(locale.toString(shown, 'f', 2)));
        }
    }

    p.setPen(TextColor);
    const QRect scale(plot.left(), plot.bottom() + 2, plot.width(), ScaleHeight - 2);
    const QString time = timeDivisionText(m_span);
    p.drawText(scale, Qt::AlignLeft | Qt::AlignVCenter, time);
    // On a narrow scope the range goes short, or goes, rather than over the time.
    const QString low = locale.toString(m_low, 'g', 3), high = locale.toString(m_high, 'g', 3);
    const int room = scale.width() - p.fontMetrics().horizontalAdvance(time) - 8;
    for (const QString &range : {tr("%1 to %2 V per lane").arg(low, high), tr("%1 to %2 V").arg(low, high)}) {
        if (p.fontMetrics().horizontalAdvance(range) <= room) {
            p.drawText(scale, Qt::AlignRight | Qt::AlignVCenter, range);
            break;
        }
    }
}

} // namespace quillon::sim
