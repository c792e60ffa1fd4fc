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
