#include "app/records/Certificate.h"

#include "records/RecordsQuery.h"
#include "records/RecordsSettings.h"
#include "records/RunText.h"
#include "records/StoredCalibration.h"

#include <QFontMetricsF>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QSettings>

#include <algorithm>
#include <functional>
#include <memory>

namespace quillon::records {

namespace {

QFont certificateFont(double points, bool bold = false, bool italic = false)
{
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPointSizeF(points);
    f.setBold(bold);
    f.setItalic(italic);
    // No ligatures: the PDF's text reads back ("offset", not a ligature glyph).
    f.setStyleStrategy(QFont::PreferNoShaping);
    return f;
}

// A word no line holds, as many characters as fit (at least one) per line into lines;
// returns what is left of it, which fits.
QString brokenWord(QString word, const QFontMetricsF &metrics, double width, QStringList &lines)
{
    while (metrics.horizontalAdvance(word) > width && word.size() > 1) {
        qsizetype fit = 1;
        while (fit < word.size() && metrics.horizontalAdvance(word.left(fit + 1)) <= width)
            ++fit;
        if (fit < word.size() && word.at(fit - 1).isHighSurrogate())
            ++fit; // a character in two halves stays whole
        lines << word.left(fit);
        word = word.mid(fit);
    }
    return word;
}

// text in lines no wider than width, broken at spaces; a word wider than a line is
// broken where it must. Nothing is left out.
QStringList wrapped(const QString &text, const QFontMetricsF &metrics, double width)
{
    QStringList lines;
    QString plain = text;
    plain.replace(QLatin1Char('\t'), QLatin1Char(' '));
    for (const QString &paragraph : plain.split(QLatin1Char('\n'))) {
        QString line;
        for (const QString &word : paragraph.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            const QString joined = line.isEmpty() ? word : line + QLatin1Char(' ') + word;
            if (metrics.horizontalAdvance(joined) <= width) {
                line = joined;
                continue;
            }
            if (!line.isEmpty())
                lines << line;
            line = brokenWord(word, metrics, width, lines);
        }
        lines << line;
    }
    return lines;
}

// One piece of the certificate, measured before anything is painted: its height and
// how to paint it at a given top.
struct Block {
    double height = 0;
    std::function<void(QPainter &, double top)> paint;
    bool keepWithNext = false; // a heading, or a line of a row that goes on
    bool spacer = false;       // space between blocks, dropped at the top of a page
    // Painted first when this block opens a page (a table's heading, continued).
    std::shared_ptr<const std::vector<Block>> resume;
};

// A cell of a row of columns: its text from x to right, in its font.
struct Cell {
    double x = 0;
    double right = 0;
    QString text;
    QFont font;
    Qt::Alignment align = Qt::AlignLeft;
};

// Lays the certificate out top to bottom as blocks, in points (72 per inch).
class Flow {
public:
    Flow(const QPaintDevice *device, double width) : m_device(device), m_width(width) {}

    double width() const { return m_width; }

    // Text across the page, a block per line.
    void text(const QString &text, const QFont &font, double indent = 0) { row({Cell{indent, m_width, text, font}}); }

    void heading(const QString &title, double points = 11)
    {
        gap(4);
        text(title, certificateFont(points, true));
        m_blocks.back().keepWithNext = true;
    }

    // A label and its value, each wrapped in its column.
    void pair(const QString &label, const QString &value, double valueAt = 130, const QFont &font = certificateFont(10))
    {
        row({Cell{0, valueAt - 8, label, font}, Cell{valueAt, m_width, value, font}});
    }

    // Cells side by side, each wrapped in its column: a block per line, kept together.
    void row(const std::vector<Cell> &cells, std::shared_ptr<const std::vector<Block>> resume = nullptr)
    {
        std::vector<Block> lines = rowBlocks(cells);
        lines.front().resume = std::move(resume);
        for (Block &b : lines)
            m_blocks.push_back(std::move(b));
    }

    std::vector<Block> rowBlocks(const std::vector<Cell> &cells) const
    {
        std::vector<QStringList> texts;
        double step = 0;
        double ascent = 0;
        for (const Cell &c : cells) {
            const QFontMetricsF metrics(c.font, m_device);
            texts.push_back(wrapped(c.text, metrics, std::max(1.0, c.right - c.x - 4)));
            step = std::max(step, metrics.height() + 1);
            ascent = std::max(ascent, metrics.ascent());
        }
        qsizetype count = 1;
        for (const QStringList &t : texts)
            count = std::max(count, t.size());
        std::vector<Block> lines;
        for (qsizetype i = 0; i < count; ++i) {
            Block b;
            b.height = step;
            b.keepWithNext = i + 1 < count;
            std::vector<Cell> shown;
            for (size_t c = 0; c < cells.size(); ++c)
                if (i < texts[c].size() && !texts[c].at(i).isEmpty())
                    shown.push_back({cells[c].x, cells[c].right, texts[c].at(i), cells[c].font, cells[c].align});
            b.paint = [shown, ascent](QPainter &painter, double top) {
                for (const Cell &c : shown) {
                    painter.setFont(c.font);
                    double x = c.x;
                    if (c.align & Qt::AlignRight)
                        x = c.right - 4 - QFontMetricsF(c.font, painter.device()).horizontalAdvance(c.text);
                    painter.drawText(QPointF(x, top + ascent), c.text);
                }
            };
            lines.push_back(std::move(b));
        }
        return lines;
    }

    void gap(double points)
    {
        Block b;
        b.height = points;
        b.spacer = true;
        b.paint = [](QPainter &, double) {};
        m_blocks.push_back(std::move(b));
    }

    // A line across the page.
    void rule()
    {
        custom(8, [width = m_width](QPainter &painter, double top) {
            painter.drawLine(QPointF(0, top + 3), QPointF(width, top + 3));
        });
    }

    // A block painted by paint, of height.
    void custom(double height, std::function<void(QPainter &, double top)> paint)
    {
        Block b;
        b.height = height;
        b.paint = std::move(paint);
        m_blocks.push_back(std::move(b));
    }

    void keepWithNext() { m_blocks.back().keepWithNext = true; }

    const std::vector<Block> &blocks() const { return m_blocks; }

private:
    const QPaintDevice *m_device;
    double m_width;
    std::vector<Block> m_blocks;
};

// Where each block goes: pages of (block, top) in the content area of height.
struct Placed {
    const Block *block;
    double top;
};
using Pages = std::vector<std::vector<Placed>>;

// The height of the blocks from i that must stay together (a heading with what
// follows it, the lines of one row); no more than a page.
double togetherHeight(const std::vector<Block> &blocks, size_t i, double height)
{
    double need = 0;
    for (size_t j = i; j < blocks.size(); ++j) {
        need += blocks[j].height;
        if (!blocks[j].keepWithNext)
            break;
    }
    return need > height ? blocks[i].height : need;
}

Pages paginate(const std::vector<Block> &blocks, double height)
{
    Pages pages(1);
    double y = 0;
    for (size_t i = 0; i < blocks.size(); ++i) {
        const Block &b = blocks[i];
        if (y > 0 && y + togetherHeight(blocks, i, height) > height) {
            pages.emplace_back();
            y = 0;
            if (b.resume) {
                for (const Block &r : *b.resume) {
                    pages.back().push_back({&r, y});
                    y += r.height;
                }
            }
        }
        if (b.spacer && y == 0)
            continue;
        pages.back().push_back({&b, y});
        y += b.height;
    }
    return pages;
}

// Station, date, unit, board, who tested, and the overall result.
void identity(Flow &flow, const RunDetail &detail)
{
    const RunSummary &run = detail.run;
    flow.pair(QStringLiteral("Station"),
              QStringLiteral("%1 (%2, %3 %4)%5")
                  .arg(detail.station.name, detail.station.host, detail.station.program, detail.station.version,
                       run.simulated ? QStringLiteral(", SIMULATED BOARD") : QString()));
    flow.pair(QStringLiteral("Date (UTC)"),
              preciseTime(run.startedUtc)
                  + (run.endedUtc.isEmpty() ? QString() : QStringLiteral(" to ") + preciseTime(run.endedUtc).mid(11)));
    flow.pair(QStringLiteral("Serial"), run.serial.isEmpty() ? QStringLiteral("not recorded") : run.serial);
    if (const auto &s = detail.session) {
        flow.pair(QStringLiteral("Board"), s->detectionLabel);
        QStringList facts;
        facts << QStringLiteral("product %1").arg(productText(s->productId));
        if (!s->variant.isEmpty())
            facts << s->variant;
        if (s->channelCount)
            facts << QStringLiteral("%1 channels").arg(*s->channelCount);
        if (s->dacCount)
            facts << QStringLiteral("%1 DACs").arg(*s->dacCount);
        if (!s->revision.isEmpty())
            facts << QStringLiteral("revision %1").arg(s->revision);
        flow.pair(QString(), facts.join(QStringLiteral(", ")));
        flow.pair(QString(), QStringLiteral("firmware reply %1, revision reply %2")
                                 .arg(orDash(s->firmwareReply), orDash(s->revisionReply)));
    } else {
        flow.pair(QStringLiteral("Board"), QStringLiteral("no detection recorded"));
    }
    flow.pair(QStringLiteral("Performed by"),
              run.operatorId.isEmpty() ? QStringLiteral("not recorded") : run.operatorId);
    flow.gap(4);
    QString verdict = run.overall.isEmpty() ? run.verdict : run.overall;
    if (verdict.isEmpty())
        verdict = QStringLiteral("no verdict");
    // A run that did not complete is no test of the whole board: say so.
    flow.pair(QStringLiteral("Result"),
              run.endState == QLatin1String("completed")
                  ? verdict
                  : QStringLiteral("%1 (run %2, not a complete test)").arg(verdict, endText(run)),
              130, certificateFont(12, true));
}

QString recordedText(const QVariant &value)
{
    const QString text = value.toString().trimmed();
    return value.isNull() || text.isEmpty() ? QStringLiteral("not recorded") : text;
}

void environment(Flow &flow, const RunDetail &detail)
{
    flow.heading(QStringLiteral("Environment"));
    flow.pair(QStringLiteral("Temperature"), recordedText(detail.run.fields.value(QStringLiteral("temperature"))));
    flow.pair(QStringLiteral("Humidity"), recordedText(detail.run.fields.value(QStringLiteral("humidity"))));
}

// The columns of the instruments table, in points from the left margin.
struct InstrumentColumns {
    double make = 76, serial = 180, calibrated = 238, due = 292, certificate = 350, status = 430;
};

QString statusText(const QString &status)
{
    if (status == QLatin1String("ok"))
        return QStringLiteral("ok");
    if (status == QLatin1String("due-soon"))
        return QStringLiteral("due soon");
    return status.isEmpty() ? QStringLiteral("not recorded") : status.toUpper();
}

void instruments(Flow &flow, const RunDetail &detail)
{
    flow.heading(QStringLiteral("Reference instruments"));
    if (detail.instruments.empty()) {
        flow.text(QStringLiteral("none recorded"), certificateFont(10));
        return;
    }
    const InstrumentColumns at;
    const double w = flow.width();
    const QFont names = certificateFont(7, false, true);
    const QFont plain = certificateFont(8);
    flow.row({{0, at.make, QStringLiteral("Asset (role)"), names},
              {at.make, at.serial, QStringLiteral("Make, model"), names},
              {at.serial, at.calibrated, QStringLiteral("Serial"), names},
              {at.calibrated, at.due, QStringLiteral("Calibrated"), names},
              {at.due, at.certificate, QStringLiteral("Due"), names},
              {at.certificate, at.status, QStringLiteral("Certificate"), names},
              {at.status, w, QStringLiteral("Status"), names}});
    flow.keepWithNext();
    for (const InstrumentUse &u : detail.instruments) {
        const bool ok = u.status == QLatin1String("ok");
        QStringList make;
        for (const QString &part : {u.make, u.model})
            if (!part.isEmpty())
                make << part;
        QString made = make.isEmpty() ? QStringLiteral("-") : make.join(QLatin1Char(' '));
        if (!u.kind.isEmpty())
            made += QStringLiteral(" (%1)").arg(u.kind);
        flow.row({{0, at.make, QStringLiteral("%1 (%2)").arg(u.assetId, u.role), plain},
                  {at.make, at.serial, made, plain},
                  {at.serial, at.calibrated, orDash(u.serial), plain},
                  {at.calibrated, at.due, orDash(u.calibratedOn), plain},
                  {at.due, at.certificate, orDash(u.dueOn), certificateFont(8, !ok)},
                  {at.certificate, at.status, orDash(u.certificate), plain},
                  {at.status, w, statusText(u.status), certificateFont(8, !ok)}});
        if (!u.note.isEmpty())
            flow.text(QStringLiteral("Note: ") + u.note, certificateFont(8, false, true), 12);
    }
}

void rows(Flow &flow, const RunDetail &detail)
{
    flow.heading(QStringLiteral("Tests"));
    for (const RowRecord &row : detail.rows)
        flow.pair(QStringLiteral("%1  %2").arg(digitText(row.digit), row.name),
                  row.failLabel.isEmpty() ? row.label
                                          : row.label + QStringLiteral("  (") + row.failLabel + QLatin1Char(')'),
                  220);
    if (detail.rows.empty())
        flow.text(QStringLiteral("no test results recorded"), certificateFont(10));
}

const QString &arefLabel()
{
    static const QString label = QStringLiteral("ARef word");
    return label;
}

// Which runs the as-found constants come from.
QStringList foundSources(const BoardConstants &found)
{
    auto from = [](const ConstantsSource &s) {
        return QStringLiteral("run %1 of %2").arg(s.runId.left(8), shortTime(s.startedUtc));
    };
    if (found.arefFrom && found.dacsFrom && found.arefFrom->runId == found.dacsFrom->runId)
        return {QStringLiteral("as found: from %1").arg(from(*found.arefFrom))};
    QStringList said;
    if (found.arefFrom)
        said << QStringLiteral("ARef word as found: from %1").arg(from(*found.arefFrom));
    if (found.dacsFrom)
        said << QStringLiteral("DAC constants as found: from %1").arg(from(*found.dacsFrom));
    return said;
}

void asFoundConstants(Flow &flow, const RunDetail &detail, const BoardConstants &found)
{
    flow.heading(QStringLiteral("As found, before this run"), 10);
    const QFont note = certificateFont(9, false, true);
    if (!found.known()) {
        flow.text(detail.run.serial.isEmpty()
                      ? QStringLiteral("not known: the run has no serial")
                      : QStringLiteral("not known: no earlier run of serial %1 in the records stored constants")
                            .arg(detail.run.serial),
                  note);
        return;
    }
    for (const QString &source : foundSources(found))
        flow.text(source, note);
    // The station never reads the EEPROM: what it held is what the records last show written.
    flow.text(QStringLiteral("The newest constants the records show stored in this unit before the run; the station "
                             "does not read them back."),
              certificateFont(7, false, true));
    const std::vector<ConstantLine> lines = storedConstantLines(found.stored, Figures::Readable);
    if (!found.stored.arefWord)
        flow.pair(arefLabel(), QStringLiteral("not known"));
    for (const ConstantLine &line : lines)
        flow.pair(line.label, line.value);
    if (!found.stored.dacs)
        flow.pair(QStringLiteral("DACs"), QStringLiteral("not known"));
}

// The constants the board holds at the end: those this run stored, the others as
// found (unchanged), and what became of the records' markers.
void asLeftConstants(Flow &flow, const RunDetail &detail, const BoardConstants &found)
{
    flow.heading(QStringLiteral("As left, stored in the board by this run"), 10);
    const StoredCalibration written = decodeStoredCalibration(detail.eepromWrites);
    const std::vector<ConstantLine> lines = storedConstantLines(written, Figures::Readable);
    const BoardConstants left = afterWrites(found, written, {detail.run.id, detail.run.startedUtc});
    const std::vector<ConstantLine> kept = storedConstantLines(left.stored, Figures::Readable);
    const QString unchanged = QStringLiteral(", unchanged (not written in this run)");
    // The page names both the ARef word and the DACs, written or not.
    if (lines.empty() || lines.front().label != arefLabel()) {
        if (found.stored.arefWord)
            flow.pair(arefLabel(), kept.front().value + unchanged);
        else
            flow.pair(arefLabel(), QStringLiteral("not written in this run"));
    }
    for (const ConstantLine &line : lines)
        if (line.label == arefLabel())
            flow.pair(line.label, line.value);
    if (!written.dacs && left.stored.dacs) {
        for (const ConstantLine &line : kept)
            if (line.label != arefLabel())
                flow.pair(line.label, line.label == QLatin1String("DAC range") ? line.value + unchanged : line.value);
    } else if (!written.dacs) {
        flow.pair(QStringLiteral("DACs"), QStringLiteral("no DAC constants written in this run"));
    }
    for (const ConstantLine &line : lines)
        if (line.label != arefLabel())
            flow.pair(line.label, line.value);
}

void constants(Flow &flow, const RunDetail &detail, const BoardConstants &found)
{
    flow.heading(QStringLiteral("Calibration constants"));
    asFoundConstants(flow, detail, found);
    asLeftConstants(flow, detail, found);
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

// What the technician typed and answered.
void readings(Flow &flow, const RunDetail &detail)
{
    flow.heading(QStringLiteral("Technician's readings and answers"));
    const QFont font = certificateFont(9);
    int shown = 0;
    for (const PromptRecord &p : detail.prompts) {
        if (!p.hasTyped && p.kind == QLatin1String("message"))
            continue; // plain instructions acknowledged with OK
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
        flow.pair(caption, value.isEmpty() ? QStringLiteral("-") : value.join(QStringLiteral("  ")), 220, font);
        ++shown;
    }
    if (shown == 0)
        flow.text(QStringLiteral("none recorded"), font);
}

// The columns of the results table, in points from the left margin.
struct ResultColumns {
    double value = 160, unit = 222, limits = 258, outcome = 442;
};

std::vector<Cell> resultNames(double width)
{
    const ResultColumns at;
    const QFont f = certificateFont(7, false, true);
    return {{12, at.value, QStringLiteral("Measurement"), f},
            {at.value, at.unit - 6, QStringLiteral("Value"), f, Qt::AlignRight},
            {at.unit, at.limits, QStringLiteral("Unit"), f},
            {at.limits, at.outcome, QStringLiteral("Limits"), f},
            {at.outcome, width, QStringLiteral("Outcome"), f}};
}

std::vector<Cell> resultCells(const MeasurementRecord &m, double width)
{
    const ResultColumns at;
    const bool failed = m.outcome == QLatin1String("fail");
    const bool marginal = m.outcome == QLatin1String("marginal");
    const QFont f = certificateFont(8, failed);
    // The value without its unit: the unit has its own column.
    MeasurementRecord bare = m;
    bare.unit.clear();
    return {{12, at.value, m.name, f},
            {at.value, at.unit - 6, measuredValueText(bare), f, Qt::AlignRight},
            {at.unit, at.limits, m.unit, f},
            {at.limits, at.outcome, limitsText(bare), f},
            {at.outcome, width, outcomeText(m), certificateFont(8, failed || marginal, marginal)}};
}

QString percentText(double percent)
{
    return QString::number(percent, 'g', 4) + QStringLiteral(" %");
}

// Every measurement under its row, the row's heading and the columns' names again
// where a row goes on over a page.
void results(Flow &flow, const RunDetail &detail, double marginalPercent)
{
    if (detail.measurements.empty())
        return;
    flow.heading(QStringLiteral("Results with units"));
    if (marginalPercent > 0)
        flow.text(QStringLiteral("Marginal: passed within %1 of its band's width of an edge.")
                      .arg(percentText(marginalPercent)),
                  certificateFont(7, false, true));
    std::vector<int> digits;
    for (const MeasurementRecord &m : detail.measurements)
        if (std::find(digits.begin(), digits.end(), m.digit) == digits.end())
            digits.push_back(m.digit);
    const double w = flow.width();
    for (const int digit : digits) {
        QString name;
        for (const RowRecord &row : detail.rows)
            if (row.digit == digit)
                name = row.name;
        const QString title = QStringLiteral("%1  %2").arg(digitText(digit), name);
        const QFont bold = certificateFont(8, true);
        auto resume = std::make_shared<std::vector<Block>>(
            flow.rowBlocks({{0, w, title + QStringLiteral(" (continued)"), bold}}));
        for (Block &b : flow.rowBlocks(resultNames(w)))
            resume->push_back(std::move(b));
        flow.gap(3);
        flow.row({{0, w, title, bold}});
        flow.keepWithNext();
        flow.row(resultNames(w));
        flow.keepWithNext();
        for (const MeasurementRecord &m : detail.measurements)
            if (m.digit == digit)
                flow.row(resultCells(m, w), resume);
    }
}

// How a value was judged, what the results stand for, and who signs.
void statements(Flow &flow, const RunDetail &detail, double marginalPercent)
{
    flow.heading(QStringLiteral("Decision rule"));
    const QFont font = certificateFont(9);
    flow.text(QStringLiteral("Simple acceptance: a value passes inside its limits, edges included; guard band: none. "
                             "Marginal: %1, marked; marginal never changes a verdict.")
                  .arg(marginalPercent > 0 ? QStringLiteral("passing within %1 of the band's edge (of its width)")
                                                 .arg(percentText(marginalPercent))
                                           : QStringLiteral("not marked (margin 0 %)")),
              font);
    flow.gap(4);
    flow.text(QStringLiteral("The results relate only to the unit tested%1.")
                  .arg(detail.run.serial.isEmpty() ? QString() : QStringLiteral(", serial ") + detail.run.serial),
              font);
    flow.heading(QStringLiteral("Authorization"));
    // Lines to sign and date by hand.
    flow.custom(28, [width = flow.width()](QPainter &painter, double top) {
        painter.drawLine(QPointF(0, top + 26), QPointF(280, top + 26));
        painter.drawLine(QPointF(320, top + 26), QPointF(width, top + 26));
    });
    flow.keepWithNext();
    const QFont small = certificateFont(8, false, true);
    flow.row({{0, 280, QStringLiteral("Authorized by (name and signature)"), small},
              {320, flow.width(), QStringLiteral("Date"), small}});
    flow.gap(10);
    flow.text(QStringLiteral("End of certificate"), certificateFont(9, true));
}

// The number and the page at the head of every page; the source at its foot.
void paintFrame(QPainter &painter, const QString &number, int page, int pages, double width, double height)
{
    const QFont f = certificateFont(7);
    painter.setFont(f);
    painter.drawText(QRectF(0, 0, width, 10), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("Certificate %1").arg(number));
    painter.drawText(QRectF(0, 0, width, 10), Qt::AlignRight | Qt::AlignVCenter,
                     QStringLiteral("page %1 of %2").arg(page).arg(pages));
    painter.drawLine(QPointF(0, 12), QPointF(width, 12));
    painter.drawText(QRectF(0, height - 10, width, 10), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("From the records of Quillon; times in UTC."));
    painter.drawText(QRectF(0, height - 10, width, 10), Qt::AlignRight | Qt::AlignVCenter,
                     QStringLiteral("Certificate %1, page %2 of %3").arg(number).arg(page).arg(pages));
}

void layOut(Flow &flow, const RunDetail &detail, const CertificateInputs &inputs)
{
    flow.text(QStringLiteral("Test and calibration certificate"), certificateFont(16, true));
    flow.text(QStringLiteral("Certificate No. %1").arg(certificateNumber(detail)), certificateFont(10, true));
    flow.text(QStringLiteral("Run %1").arg(detail.run.id), certificateFont(9));
    flow.rule();
    identity(flow, detail);
    environment(flow, detail);
    instruments(flow, detail);
    rows(flow, detail);
    constants(flow, detail, inputs.asFound);
    readings(flow, detail);
    results(flow, detail, inputs.marginalPercent);
    statements(flow, detail, inputs.marginalPercent);
}

} // namespace

std::optional<CertificateInputs> certificateInputs(const RecordsQuery &query, const RunDetail &run, QString *error)
{
    CertificateInputs inputs;
    QueryError failed;
    const auto found = asFoundConstants(query, run, &failed);
    if (!found) {
        if (error)
            *error = QStringLiteral("the constants before run %1 could not be read: %2")
                         .arg(run.run.id.left(8), failed.message);
        return std::nullopt;
    }
    inputs.asFound = *found;
    // The band the station applied; a run recorded before it was kept: this computer's setting.
    const QVariant recorded = run.run.fields.value(QStringLiteral("marginal_percent"));
    if (!recorded.isNull()) {
        inputs.marginalPercent = recorded.toDouble();
    } else {
        QSettings settings(settingsFilePath(), QSettings::IniFormat);
        inputs.marginalPercent = RecordsSettings::read(settings).marginalPercent;
    }
    return inputs;
}

QString certificateNumber(const RunDetail &run)
{
    QString station = run.station.name.isEmpty() ? run.run.stationName : run.station.name;
    // Only what reads the same everywhere: letters, digits, '-', '_' and '.'.
    for (QChar &c : station)
        if (!(c.isLetterOrNumber() && c.unicode() < 128) && c != QLatin1Char('-') && c != QLatin1Char('.'))
            c = QLatin1Char('_');
    if (station.isEmpty())
        station = QStringLiteral("station");
    return QStringLiteral("%1-%2-%3").arg(station).arg(run.run.seq, 6, 10, QLatin1Char('0')).arg(run.run.id.left(8));
}

bool writeCertificate(const RunDetail &detail, const CertificateInputs &inputs, const QString &path, QString *error)
{
    // Written beside the target and renamed at the end: no half certificate is left.
    QSaveFile file(path);
    bool drawn = false;
    if (file.open(QIODevice::WriteOnly)) {
        QPdfWriter pdf(&file);
        const bool letter = inputs.locale.measurementSystem() == QLocale::ImperialUSSystem;
        pdf.setPageSize(QPageSize(letter ? QPageSize::Letter : QPageSize::A4));
        pdf.setPageMargins(QMarginsF(18, 15, 18, 15), QPageLayout::Millimeter);
        pdf.setResolution(72); // painter units are points
        const QString number = certificateNumber(detail);
        pdf.setTitle(QStringLiteral("Test and calibration certificate %1").arg(number));
        pdf.setCreator(QStringLiteral("quillon-records"));
        QPainter painter(&pdf);
        const double width = pdf.width();
        const double height = pdf.height();
        constexpr double Top = 20;    // below the head of the page
        constexpr double Bottom = 18; // above its foot
        Flow flow(&pdf, width);
        layOut(flow, detail, inputs);
        const Pages pages = paginate(flow.blocks(), height - Top - Bottom);
        for (size_t p = 0; p < pages.size(); ++p) {
            if (p > 0)
                pdf.newPage();
            paintFrame(painter, number, int(p) + 1, int(pages.size()), width, height);
            for (const Placed &placed : pages[p])
                placed.block->paint(painter, Top + placed.top);
        }
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
