#include "app/records/RecordsPlots.h"

#include "records/RunDigest.h"
#include "records/RunText.h"

#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineSeries>
#include <QScatterSeries>
#include <QTabWidget>
#include <QValueAxis>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <map>

namespace quillon::records {

namespace {

constexpr qint64 DayMs = qint64(24) * 3600 * 1000;
// At most this many ordinary points per constants plot; the outliers are always drawn.
constexpr int MaxPoints = 4000;

QChartView *chartView()
{
    auto *view = new QChartView;
    view->setRenderHint(QPainter::Antialiasing);
    view->setChart(new QChart);
    return view;
}

// A fresh chart for the view (the old one and its series go).
QChart *freshChart(QChartView *view, const QString &title)
{
    auto *chart = new QChart;
    chart->setTitle(title);
    chart->legend()->setAlignment(Qt::AlignBottom);
    QChart *old = view->chart();
    view->setChart(chart);
    delete old;
    return chart;
}

// Iterates the digest runs whose rowids are chosen (both sorted).
template <typename F>
void forChosen(const RunDigest &digest, const std::vector<qint64> &rowids, F f)
{
    const auto &runs = digest.runs();
    size_t at = 0;
    for (const qint64 rowid : rowids) {
        while (at < runs.size() && runs[at].rowid < rowid)
            ++at;
        if (at == runs.size())
            return;
        if (runs[at].rowid == rowid)
            f(runs[at], at);
    }
}

struct Point {
    qint64 ms;
    double value;
    qint64 rowid;
};

// The chosen runs of the product that stored the constant: the ARef word (quantity
// -1) or the DAC block's value quantity (M0, B0 .. M3, B3) when marked valid.
std::vector<Point> constantPoints(const RunDigest &digest, const std::vector<qint64> &rowids, int product, int quantity)
{
    std::vector<Point> points;
    forChosen(digest, rowids, [&](const RunDigest::Run &run, size_t) {
        if (run.productId != product)
            return;
        if (quantity < 0 && run.arefWord >= 0)
            points.push_back({run.startedMs, double(run.arefWord), run.rowid});
        else if (quantity >= 0 && run.dacsValid() && std::isfinite(run.dacs[size_t(quantity)]))
            points.push_back({run.startedMs, double(run.dacs[size_t(quantity)]), run.rowid});
    });
    return points;
}

// The usual spread: the median and the median absolute deviation, robust against the
// very outliers being looked for; beyond 5 scaled deviations is unusual.
struct Spread {
    double centre = 0;
    double limit = 0;
    bool unusual(double v) const { return std::abs(v - centre) > limit && (limit > 0 || v != centre); }
};

Spread spreadOf(const std::vector<Point> &points)
{
    std::vector<double> values;
    values.reserve(points.size());
    for (const Point &p : points)
        values.push_back(p.value);
    auto median = [](std::vector<double> &v) {
        const size_t mid = v.size() / 2;
        std::nth_element(v.begin(), v.begin() + std::ptrdiff_t(mid), v.end());
        return v[mid];
    };
    Spread spread;
    if (values.empty())
        return spread;
    spread.centre = median(values);
    for (double &v : values)
        v = std::abs(v - spread.centre);
    spread.limit = 5.0 * 1.4826 * median(values);
    return spread;
}

} // namespace

RecordsPlots::RecordsPlots(QWidget *parent)
    : QWidget(parent), m_tabs(new QTabWidget), m_yield(chartView()), m_pareto(chartView()), m_constants(chartView()),
      m_quantity(new QComboBox), m_product(new QComboBox), m_constantsNote(new QLabel)
{
    setObjectName(QStringLiteral("RecordsPlots"));
    m_quantity->setObjectName(QStringLiteral("QuantityBox"));
    m_product->setObjectName(QStringLiteral("ProductBox"));
    // Filled after the first show: sized to its items each time, not to the empty box.
    m_product->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    m_quantity->addItem(tr("ARef word"), -1);
    for (int i = 0; i < 4; ++i) {
        m_quantity->addItem(tr("DAC %1 gain").arg(i), 2 * i);
        m_quantity->addItem(tr("DAC %1 offset").arg(i), 2 * i + 1);
    }
    auto *constantsPage = new QWidget;
    auto *choices = new QHBoxLayout;
    choices->addWidget(new QLabel(tr("Constant:")));
    choices->addWidget(m_quantity);
    choices->addWidget(new QLabel(tr("Product:")));
    choices->addWidget(m_product);
    choices->addWidget(m_constantsNote, 1);
    auto *constantsLayout = new QVBoxLayout(constantsPage);
    constantsLayout->setContentsMargins(0, 0, 0, 0);
    constantsLayout->addLayout(choices);
    constantsLayout->addWidget(m_constants, 1);
    m_tabs->addTab(m_yield, tr("First-pass yield"));
    m_tabs->addTab(m_pareto, tr("Failing rows"));
    m_tabs->addTab(constantsPage, tr("Calibration constants"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_tabs);
    connect(m_quantity, &QComboBox::currentIndexChanged, this, [this] { drawConstants(); });
    connect(m_product, &QComboBox::currentIndexChanged, this, [this] { drawConstants(); });
}

void RecordsPlots::setRuns(const RunDigest *digest, std::vector<qint64> rowids)
{
    m_digest = digest;
    m_rowids = std::move(rowids);
    drawYield();
    drawPareto();
    fillProducts();
    drawConstants();
}

void RecordsPlots::drawYield()
{
    if (!m_digest) {
        m_yieldTally = {};
        freshChart(m_yield, tr("First-pass yield per day"));
        return;
    }
    const auto &runs = m_digest->runs();
    // Each serial's first Test All anywhere; it counts on its day if chosen.
    const QHash<QString, size_t> first = firstTestAlls(runs);
    std::vector<bool> chosen(runs.size(), false);
    forChosen(*m_digest, m_rowids, [&](const RunDigest::Run &, size_t i) { chosen[i] = true; });
    // station -> day -> (units, passed)
    std::map<int, std::map<qint64, std::pair<int, int>>> perStation;
    bool bySerial = false;
    for (const size_t i : std::as_const(first)) {
        if (!chosen[i] || runs[i].overall == 0)
            continue;
        bySerial = true;
        auto &day = perStation[runs[i].station][runs[i].startedMs / DayMs];
        ++day.first;
        day.second += runs[i].overall == 1;
    }
    if (!bySerial) {
        // No serials recorded: every Test All with a verdict counts.
        forChosen(*m_digest, m_rowids, [&](const RunDigest::Run &run, size_t) {
            if (!run.testAll || (run.overall != 1 && run.overall != 2))
                return;
            auto &day = perStation[run.station][run.startedMs / DayMs];
            ++day.first;
            day.second += run.overall == 1;
        });
    }
    m_yieldTally = {};
    m_yieldTally.bySerial = bySerial;
    for (const auto &[station, days] : perStation)
        for (const auto &[day, counts] : days) {
            m_yieldTally.units += counts.first;
            m_yieldTally.passed += counts.second;
        }
    QChart *chart = freshChart(m_yield, bySerial ? tr("First-pass yield per day (units by serial)")
                                                 : tr("Test All yield per day (no unit serials recorded)"));
    auto *x = new QDateTimeAxis;
    x->setFormat(QStringLiteral("yyyy-MM-dd"));
    x->setTitleText(tr("day (UTC)"));
    auto *y = new QValueAxis;
    y->setRange(0, 100);
    y->setLabelFormat(QStringLiteral("%d %"));
    y->setTitleText(tr("passed first time"));
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    qint64 lo = std::numeric_limits<qint64>::max();
    qint64 hi = std::numeric_limits<qint64>::min();
    const bool several = perStation.size() > 1;
    QList<QLineSeries *> all;
    for (const auto &[station, days] : perStation) {
        auto *series = new QLineSeries;
        series->setName(several ? m_digest->stationNames().value(station, tr("unknown station")) : tr("all stations"));
        series->setPointsVisible(days.size() < 120);
        for (const auto &[day, counts] : days) {
            series->append(double(day * DayMs), 100.0 * counts.second / counts.first);
            lo = std::min(lo, day * DayMs);
            hi = std::max(hi, day * DayMs);
        }
        chart->addSeries(series);
        series->attachAxis(x);
        series->attachAxis(y);
        all << series;
    }
    if (lo <= hi) {
        x->setRange(QDateTime::fromMSecsSinceEpoch(lo - DayMs / 2, Qt::UTC),
                    QDateTime::fromMSecsSinceEpoch(hi + DayMs / 2, Qt::UTC));
        x->setTickCount(std::clamp(int((hi - lo) / DayMs) + 1, 2, 8));
    }
    chart->legend()->setVisible(several);
}

void RecordsPlots::drawPareto()
{
    std::map<int, qint64> fails;
    if (m_digest)
        forChosen(*m_digest, m_rowids, [&](const RunDigest::Run &run, size_t) {
            for (qsizetype i = 0; i + 1 < run.rows.size(); i += 2)
                if (run.rows.at(i + 1) == char(RunDigest::Fail))
                    ++fails[int(quint8(run.rows.at(i)))];
        });
    std::vector<std::pair<qint64, int>> sorted;
    qint64 total = 0;
    for (const auto &[digit, count] : fails) {
        sorted.emplace_back(count, digit);
        total += count;
    }
    std::sort(sorted.begin(), sorted.end(), [](const auto &a, const auto &b) {
        return a.first != b.first ? a.first > b.first : a.second < b.second;
    });
    QChart *chart =
        freshChart(m_pareto, total > 0 ? tr("Failing rows: %1 failures").arg(total) : tr("Failing rows: no failures"));
    auto *set = new QBarSet(tr("failures"));
    QStringList categories;
    auto *cumulative = new QLineSeries;
    cumulative->setName(tr("cumulative share"));
    cumulative->setPointsVisible(true);
    qint64 running = 0;
    qint64 most = 1;
    for (size_t i = 0; i < sorted.size(); ++i) {
        const auto &[count, digit] = sorted[i];
        *set << double(count);
        categories << QStringLiteral("%1 %2").arg(digitText(digit),
                                                  m_digest ? m_digest->rowNames().value(digit) : QString());
        running += count;
        most = std::max(most, count);
        cumulative->append(double(i), 100.0 * double(running) / double(total));
    }
    auto *bars = new QBarSeries;
    bars->append(set);
    chart->addSeries(bars);
    chart->addSeries(cumulative);
    auto *x = new QBarCategoryAxis;
    x->append(categories);
    x->setLabelsAngle(-30);
    auto *count = new QValueAxis;
    count->setRange(0, double(most) * 1.1);
    count->applyNiceNumbers();
    count->setLabelFormat(QStringLiteral("%d"));
    count->setTitleText(tr("failures"));
    auto *share = new QValueAxis;
    share->setRange(0, 100);
    share->setLabelFormat(QStringLiteral("%d %"));
    share->setTitleText(tr("cumulative share"));
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(count, Qt::AlignLeft);
    chart->addAxis(share, Qt::AlignRight);
    bars->attachAxis(x);
    bars->attachAxis(count);
    cumulative->attachAxis(x);
    cumulative->attachAxis(share);
}

void RecordsPlots::fillProducts()
{
    const int previous = m_product->currentData().toInt();
    std::map<int, int> products;
    if (m_digest)
        forChosen(*m_digest, m_rowids, [&](const RunDigest::Run &run, size_t) {
            if (run.productId >= 0 && (run.arefWord >= 0 || run.dacsValid()))
                ++products[run.productId];
        });
    const QSignalBlocker block(m_product);
    m_product->clear();
    for (const auto &[id, count] : products)
        m_product->addItem(tr("%1 (%2 runs)").arg(productText(id)).arg(count), id);
    const int again = m_product->findData(previous);
    m_product->setCurrentIndex(again >= 0 ? again : 0);
}

void RecordsPlots::drawConstants()
{
    m_outliers.clear();
    const int quantity = m_quantity->currentData().toInt();
    const int product = m_product->currentData().isValid() ? m_product->currentData().toInt() : -1;
    const std::vector<Point> points =
        m_digest && product >= 0 ? constantPoints(*m_digest, m_rowids, product, quantity) : std::vector<Point>();
    const QString what = m_quantity->currentText();
    QChart *chart = freshChart(m_constants, product >= 0 ? tr("%1 stored, product %2").arg(what, productText(product))
                                                         : tr("%1 stored").arg(what));
    if (points.empty()) {
        m_constantsNote->setText(tr("No runs stored this constant."));
        return;
    }
    const Spread spread = spreadOf(points);
    const double centre = spread.centre;
    const double limit = spread.limit;
    auto *usual = new QScatterSeries;
    usual->setName(tr("runs"));
    usual->setMarkerSize(5);
    usual->setBorderColor(Qt::transparent);
    auto *unusual = new QScatterSeries;
    unusual->setName(tr("outside the usual spread"));
    unusual->setMarkerSize(9);
    unusual->setColor(QColor(220, 0, 0));
    unusual->setBorderColor(Qt::transparent);
    const size_t step = std::max<size_t>(1, (points.size() + MaxPoints - 1) / MaxPoints);
    qint64 lo = points.front().ms;
    qint64 hi = points.front().ms;
    double vmin = centre;
    double vmax = centre;
    auto *self = this;
    std::vector<std::pair<QPointF, qint64>> clickable;
    for (size_t i = 0; i < points.size(); ++i) {
        const Point &p = points[i];
        lo = std::min(lo, p.ms);
        hi = std::max(hi, p.ms);
        vmin = std::min(vmin, p.value);
        vmax = std::max(vmax, p.value);
        const QPointF at(double(p.ms), p.value);
        if (spread.unusual(p.value)) {
            unusual->append(at);
            m_outliers.push_back(p.rowid);
            clickable.emplace_back(at, p.rowid);
        } else if (i % step == 0) {
            usual->append(at);
            clickable.emplace_back(at, p.rowid);
        }
    }
    m_constantsNote->setText(tr("%1 runs stored it, median %2, %3 outside %2 \u00B1 %4%5")
                                 .arg(points.size())
                                 .arg(centre, 0, 'g', 7)
                                 .arg(m_outliers.size())
                                 .arg(limit, 0, 'g', 3)
                                 .arg(step > 1 ? tr(" (every %1th ordinary run drawn)").arg(step) : QString()));
    auto *band = new QLineSeries;
    band->setName(tr("median"));
    band->append(double(lo), centre);
    band->append(double(hi), centre);
    chart->addSeries(usual);
    chart->addSeries(unusual);
    chart->addSeries(band);
    auto *x = new QDateTimeAxis;
    x->setFormat(QStringLiteral("yyyy-MM-dd"));
    x->setTickCount(5);
    auto *y = new QValueAxis;
    const double pad = std::max((vmax - vmin) * 0.08, std::abs(centre) * 1e-6 + 1e-9);
    y->setRange(vmin - pad, vmax + pad);
    y->setTitleText(what);
    if (quantity < 0)
        y->setLabelFormat(QStringLiteral("%.0f"));
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    for (QAbstractSeries *s : {static_cast<QAbstractSeries *>(usual), static_cast<QAbstractSeries *>(unusual),
                               static_cast<QAbstractSeries *>(band)}) {
        s->attachAxis(x);
        s->attachAxis(y);
    }
    x->setRange(QDateTime::fromMSecsSinceEpoch(lo - 3600000, Qt::UTC),
                QDateTime::fromMSecsSinceEpoch(hi + 3600000, Qt::UTC));
    // A click opens the run of the point clicked.
    auto open = [self, clickable](const QPointF &point) {
        for (const auto &[at, rowid] : clickable)
            if (at == point) {
                emit self->runClicked(rowid);
                return;
            }
    };
    connect(usual, &QScatterSeries::clicked, this, open);
    connect(unusual, &QScatterSeries::clicked, this, open);
}

} // namespace quillon::records
