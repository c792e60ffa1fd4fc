#include "app/records/Certificate.h"

#include "records/RecordsQuery.h"
#include "records/RunText.h"
#include "records/StoredCalibration.h"

#include <QFile>
#include <QFontMetrics>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>

#include <algorithm>

namespace quillon::records {

namespace {

// Draws lines top to bottom on the page, in points (72 per inch).
class PageText {
public:
    PageText(QPainter &painter, double width) : m_painter(painter), m_width(width) {}

    void font(double points, bool bold = false)
    {
        QFont f(QStringLiteral("DejaVu Sans"));
        f.setPointSizeF(points);
        f.setBold(bold);
        // No ligatures: the PDF's text reads back ("offset", not a ligature glyph).
        f.setStyleStrategy(QFont::PreferNoShaping);
        m_painter.setFont(f);
    }

    void line(const QString &text, double indent = 0)
    {
        const QFontMetricsF metrics(m_painter.font(), m_painter.device());
        const QString shown = metrics.elidedText(text, Qt::ElideRight, m_width - indent);
        m_y += metrics.ascent();
        m_painter.drawText(QPointF(indent, m_y), shown);
        m_y += metrics.descent() + metrics.leading() + 1;
    }

    // Two columns: a label and its value.
    void pair(const QString &label, const QString &value, double valueAt = 130)
    {
        const QFontMetricsF metrics(m_painter.font(), m_painter.device());
        m_y += metrics.ascent();
        m_painter.drawText(QPointF(0, m_y), metrics.elidedText(label, Qt::ElideRight, valueAt - 8));
        m_painter.drawText(QPointF(valueAt, m_y), metrics.elidedText(value, Qt::ElideRight, m_width - valueAt));
        m_y += metrics.descent() + metrics.leading() + 1;
    }

    void gap(double points) { m_y += points; }

    void rule()
    {
        m_y += 3;
        m_painter.drawLine(QPointF(0, m_y), QPointF(m_width, m_y));
        m_y += 5;
    }

    double y() const { return m_y; }

private:
    QPainter &m_painter;
    double m_width;
    double m_y = 0;
};

// Station, date, serial, board and the overall result.
void drawIdentity(PageText &page, const RunDetail &detail)
{
    const RunSummary &run = detail.run;
    page.font(10);
    page.pair(QStringLiteral("Station"),
              QStringLiteral("%1 (%2, %3 %4)%5")
                  .arg(detail.station.name, detail.station.host, detail.station.program, detail.station.version,
                       run.simulated ? QStringLiteral(", SIMULATED BOARD") : QString()));
    page.pair(QStringLiteral("Date (UTC)"),
              preciseTime(run.startedUtc)
                  + (run.endedUtc.isEmpty() ? QString() : QStringLiteral(" to ") + preciseTime(run.endedUtc).mid(11)));
    page.pair(QStringLiteral("Serial"), run.serial.isEmpty() ? QStringLiteral("not recorded") : run.serial);
    if (const auto &s = detail.session) {
        page.pair(QStringLiteral("Board"), s->detectionLabel);
        QStringList identity;
        identity << QStringLiteral("product %1").arg(productText(s->productId));
        if (!s->variant.isEmpty())
            identity << s->variant;
        if (s->channelCount)
            identity << QStringLiteral("%1 channels").arg(*s->channelCount);
        if (s->dacCount)
            identity << QStringLiteral("%1 DACs").arg(*s->dacCount);
        if (!s->revision.isEmpty())
            identity << QStringLiteral("revision %1").arg(s->revision);
        page.pair(QString(), identity.join(QStringLiteral(", ")));
        page.pair(QString(), QStringLiteral("firmware reply %1, revision reply %2")
                                 .arg(orDash(s->firmwareReply), orDash(s->revisionReply)));
    } else {
        page.pair(QStringLiteral("Board"), QStringLiteral("no detection recorded"));
    }
    page.font(12, true);
    page.gap(4);
    QString verdict = run.overall.isEmpty() ? run.verdict : run.overall;
    if (verdict.isEmpty())
        verdict = QStringLiteral("no verdict");
    // A run that did not complete is no test of the whole board: say so.
    page.pair(QStringLiteral("Result"),
              run.endState == QLatin1String("completed")
                  ? verdict
                  : QStringLiteral("%1 (run %2, not a complete test)").arg(verdict, endText(run)));
}

void drawRows(PageText &page, const RunDetail &detail)
{
    page.font(11, true);
    page.line(QStringLiteral("Tests"));
    page.font(10);
    for (const RowRecord &row : detail.rows)
        page.pair(QStringLiteral("%1  %2").arg(digitText(row.digit), row.name),
                  row.failLabel.isEmpty() ? row.label
                                          : row.label + QStringLiteral("  (") + row.failLabel + QLatin1Char(')'),
                  220);
    if (detail.rows.empty())
        page.line(QStringLiteral("no test results recorded"));
}

void drawConstants(PageText &page, const RunDetail &detail)
{
    page.font(11, true);
    page.line(QStringLiteral("Calibration constants stored in the board"));
    page.font(10);
    const StoredCalibration stored = decodeStoredCalibration(detail.eepromWrites);
    const std::vector<ConstantLine> lines = storedConstantLines(stored, Figures::Readable);
    // The page names both the ARef word and the DACs, written or not.
    const QString aref = QStringLiteral("ARef word");
    if (lines.empty() || lines.front().label != aref)
        page.pair(aref, QStringLiteral("not written in this run"));
    for (const ConstantLine &line : lines)
        if (line.label == aref)
            page.pair(line.label, line.value);
    if (!stored.dacs)
        page.pair(QStringLiteral("DACs"), QStringLiteral("no DAC constants written in this run"));
    for (const ConstantLine &line : lines)
        if (line.label != aref)
            page.pair(line.label, line.value);
}

// Typed text in quotes; the fields of a several-field dialog (a JSON array) each so.
QString quotedTyped(const QString &typed)
{
    const QJsonDocument fields = QJsonDocument::fromJson(typed.toUtf8());
    if (!fields.isArray())
        return QStringLiteral("\"%1\"").arg(typed);
    QStringList quoted;
    for (const auto &field : fields.array())
        quoted << QStringLiteral("\"%1\"").arg(field.toString());
    return quoted.join(QLatin1Char(' '));
}

// What the technician typed and answered, down to the foot of the page.
void drawReadings(PageText &page, const RunDetail &detail, double bottom)
{
    page.font(11, true);
    page.line(QStringLiteral("Technician's readings and answers"));
    page.font(9);
    int shown = 0;
    int left = 0;
    for (const PromptRecord &p : detail.prompts) {
        if (!p.hasTyped && p.kind == QLatin1String("message"))
            continue; // plain instructions acknowledged with OK
        if (page.y() > bottom) {
            ++left;
            continue;
        }
        QString caption = !p.caption.isEmpty() ? p.caption : p.text;
        if (caption.isEmpty())
            caption = p.kind == QLatin1String("dac-range") ? QStringLiteral("DAC range") : p.kind;
        QStringList value;
        if (p.hasTyped)
            value << quotedTyped(typedText(p));
        if (p.kind == QLatin1String("dac-range") && !p.answer.isEmpty())
            value << dacRangeText(p.answer.toInt());
        else if (!p.answer.isEmpty())
            value << p.answer;
        page.pair(caption, value.isEmpty() ? QStringLiteral("-") : value.join(QStringLiteral("  ")), 220);
        ++shown;
    }
    if (left > 0)
        page.line(QStringLiteral("... and %1 more (quillon-records show %2)").arg(left).arg(detail.run.id));
    if (shown == 0 && left == 0)
        page.line(QStringLiteral("none recorded"));
}

// One line of the results pages: a row's heading (with the columns' names) or one of
// its measurements.
struct ResultLine {
    const RowRecord *row = nullptr;       // a heading
    const MeasurementRecord *m = nullptr; // a measurement
    int digit = 0;
    bool continued = false; // a heading repeated at the top of a page
};

// The results as pages of lines: each row's measurements under its heading, a heading
// repeated where a row goes on over a page, none left alone at a page's foot.
std::vector<std::vector<ResultLine>> resultPages(const RunDetail &detail, int linesPerPage)
{
    std::vector<int> digits;
    for (const MeasurementRecord &m : detail.measurements)
        if (std::find(digits.begin(), digits.end(), m.digit) == digits.end())
            digits.push_back(m.digit);
    std::vector<std::vector<ResultLine>> pages(1);
    int used = 0; // lines on the last page
    auto rowOf = [&](int digit) -> const RowRecord * {
        for (const RowRecord &row : detail.rows)
            if (row.digit == digit)
                return &row;
        return nullptr;
    };
    for (const int digit : digits) {
        const RowRecord *row = rowOf(digit);
        bool headed = false;
        for (const MeasurementRecord &m : detail.measurements) {
            if (m.digit != digit)
                continue;
            // A heading takes two lines and wants one measurement after it.
            const int needs = headed ? 1 : 3;
            if (used + needs > linesPerPage && used > 0) {
                pages.emplace_back();
                used = 0;
                headed = false;
            }
            if (!headed) {
                const bool continued = std::any_of(pages.begin(), pages.end(), [&](const auto &lines) {
                    return std::any_of(lines.begin(), lines.end(),
                                       [&](const ResultLine &l) { return l.m && l.digit == digit; });
                });
                pages.back().push_back({row, nullptr, digit, continued});
                used += 2;
                headed = true;
            }
            pages.back().push_back({nullptr, &m, digit, false});
            ++used;
        }
    }
    return pages;
}

// The columns of the results table, in points from the left margin.
struct ResultColumns {
    double value = 160, unit = 222, limits = 258, outcome = 442;
};

void drawResultLine(QPainter &painter, const ResultLine &line, double y, double width, double step)
{
    const ResultColumns at;
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setStyleStrategy(QFont::PreferNoShaping);
    f.setPointSizeF(8);
    const bool heading = line.m == nullptr;
    const bool failed = !heading && line.m->outcome == QLatin1String("fail");
    f.setBold(heading || failed);
    painter.setFont(f);
    const QFontMetricsF metrics(f, painter.device());
    auto text = [&](double x, double right, const QString &s, Qt::Alignment align = Qt::AlignLeft) {
        painter.drawText(QRectF(x, y, right - x - 4, step), align | Qt::AlignVCenter,
                         metrics.elidedText(s, Qt::ElideRight, right - x - 4));
    };
    if (heading) {
        const QString name = line.row ? line.row->name : QString();
        text(0, width,
             QStringLiteral("%1  %2%3")
                 .arg(digitText(line.digit), name, line.continued ? QStringLiteral(" (continued)") : QString()));
        return;
    }
    const MeasurementRecord &m = *line.m;
    // The value without its unit: the unit has its own column.
    MeasurementRecord bare = m;
    bare.unit.clear();
    text(12, at.value, m.name);
    text(at.value, at.unit - 6, measuredValueText(bare), Qt::AlignRight);
    text(at.unit, at.limits, m.unit);
    text(at.limits, at.outcome, limitsText(bare));
    text(at.outcome, width, outcomeText(m));
}

void drawColumnNames(QPainter &painter, double y, double width, double step)
{
    const ResultColumns at;
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setStyleStrategy(QFont::PreferNoShaping);
    f.setPointSizeF(7);
    f.setItalic(true);
    painter.setFont(f);
    const std::pair<double, QString> names[] = {{12, QStringLiteral("Measurement")},
                                                {at.value, QStringLiteral("Value")},
                                                {at.unit, QStringLiteral("Unit")},
                                                {at.limits, QStringLiteral("Limits")},
                                                {at.outcome, QStringLiteral("Outcome")}};
    for (const auto &[x, name] : names)
        painter.drawText(QRectF(x, y, width - x, step), Qt::AlignLeft | Qt::AlignVCenter,
                         x == at.value ? QString() : name);
    painter.drawText(QRectF(at.value, y, at.unit - 6 - at.value - 4, step), Qt::AlignRight | Qt::AlignVCenter,
                     QStringLiteral("Value"));
}

// The pages after the first: every measurement of the run with its unit and limits,
// "page n of N" at the foot.
void drawResultPages(QPdfWriter &pdf, QPainter &painter, const RunDetail &detail)
{
    const double width = pdf.width();
    const double height = pdf.height();
    constexpr double Step = 11;
    constexpr double Top = 36; // the page's title and the table's head
    const int perPage = int((height - Top - 20) / Step);
    const auto pages = resultPages(detail, perPage);
    const int total = int(pages.size()) + 1;
    for (size_t p = 0; p < pages.size(); ++p) {
        pdf.newPage();
        PageText title(painter, width);
        title.font(11, true);
        title.line(p == 0 ? QStringLiteral("Results with units") : QStringLiteral("Results with units (continued)"));
        double y = Top - Step;
        for (const ResultLine &line : pages[p]) {
            drawResultLine(painter, line, y, width, Step);
            y += Step;
            if (!line.m) {
                drawColumnNames(painter, y, width, Step);
                y += Step;
            }
        }
        painter.setFont(QFont(QStringLiteral("DejaVu Sans"), 7));
        painter.drawText(QRectF(0, height - 12, width, 12), Qt::AlignLeft | Qt::AlignVCenter,
                         QStringLiteral("Run %1").arg(detail.run.id));
        painter.drawText(QRectF(0, height - 12, width, 12), Qt::AlignRight | Qt::AlignVCenter,
                         QStringLiteral("page %1 of %2").arg(int(p) + 2).arg(total));
    }
}

} // namespace

bool writeCertificate(const RunDetail &detail, const QString &path, QString *error)
{
    // Written beside the target and renamed at the end: no half certificate is left.
    QSaveFile file(path);
    bool drawn = false;
    if (file.open(QIODevice::WriteOnly)) {
        QPdfWriter pdf(&file);
        pdf.setPageSize(QPageSize(QPageSize::A4));
        pdf.setPageMargins(QMarginsF(18, 18, 18, 18), QPageLayout::Millimeter);
        pdf.setResolution(72); // painter units are points
        pdf.setTitle(QStringLiteral("Test and calibration certificate %1").arg(detail.run.id));
        pdf.setCreator(QStringLiteral("quillon-records"));
        QPainter painter(&pdf);
        const double width = pdf.width();
        const double height = pdf.height();
        PageText page(painter, width);
        page.font(16, true);
        page.line(QStringLiteral("Test and calibration certificate"));
        page.font(9);
        page.line(QStringLiteral("Run %1").arg(detail.run.id));
        page.rule();
        drawIdentity(page, detail);
        page.rule();
        drawRows(page, detail);
        page.rule();
        drawConstants(page, detail);
        page.rule();
        drawReadings(page, detail, height - 40);
        painter.setFont(QFont(QStringLiteral("DejaVu Sans"), 7));
        painter.drawText(QRectF(0, height - 12, width, 12), Qt::AlignLeft | Qt::AlignVCenter,
                         QStringLiteral("From the records of Quillon; times in UTC."));
        if (!detail.measurements.empty())
            drawResultPages(pdf, painter, detail);
        drawn = painter.end();
    }
    if (!drawn || !file.commit()) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(
                path, drawn || !file.isOpen() ? file.errorString() : QStringLiteral("could not draw the certificate"));
        return false;
    }
    return true;
}

} // namespace quillon::records
