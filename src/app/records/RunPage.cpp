#include "app/records/RunPage.h"

#include "app/records/Certificate.h"
#include "app/station/StatusDisplay.h"
#include "records/RunText.h"
#include "records/StoredCalibration.h"

#include <QAbstractTableModel>
#include <QComboBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QJsonDocument>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QSortFilterProxyModel>
#include <QSplitter>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <limits>

namespace quillon::records {

namespace {

TestStatus statusOf(const QString &status)
{
    if (status == QLatin1String("pass"))
        return TestStatus::Pass;
    if (status == QLatin1String("fail"))
        return TestStatus::Fail;
    if (status == QLatin1String("testing"))
        return TestStatus::Testing;
    return TestStatus::Untested;
}

QTableWidget *table(const QStringList &headers)
{
    auto *t = new QTableWidget(0, int(headers.size()));
    t->setHorizontalHeaderLabels(headers);
    t->setEditTriggers(QAbstractItemView::NoEditTriggers);
    t->setSelectionBehavior(QAbstractItemView::SelectRows);
    t->setSelectionMode(QAbstractItemView::SingleSelection);
    t->verticalHeader()->hide();
    t->horizontalHeader()->setStretchLastSection(true);
    t->setWordWrap(false);
    return t;
}

QTableWidgetItem *item(const QString &text)
{
    return new QTableWidgetItem(text);
}

} // namespace

// The selected row's measurements, texts made once per row: a thousand rows stay
// quick to show, sort and filter.
class MeasurementsModel : public QAbstractTableModel {
public:
    enum Column { Seq, Name, Value, Limits, Outcome, Columns };
    static constexpr int SortRole = Qt::UserRole;
    static constexpr int OutcomeRole = Qt::UserRole + 1;

    using QAbstractTableModel::QAbstractTableModel;

    void show(const std::vector<MeasurementRecord> &all, std::optional<int> digit)
    {
        beginResetModel();
        m_lines.clear();
        for (const MeasurementRecord &m : all)
            if (digit && m.digit == *digit)
                m_lines.push_back(
                    {m, {QString::number(m.seq), m.name, measuredValueText(m), limitsText(m), outcomeText(m)}});
        endResetModel();
    }

    int count(const QString &outcome) const
    {
        return int(
            std::count_if(m_lines.begin(), m_lines.end(), [&](const Line &l) { return l.record.outcome == outcome; }));
    }

    int rowCount(const QModelIndex &parent = {}) const override { return parent.isValid() ? 0 : int(m_lines.size()); }
    int columnCount(const QModelIndex &parent = {}) const override { return parent.isValid() ? 0 : Columns; }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
            return {};
        const QStringList names = {tr("#"), tr("Measurement"), tr("Value"), tr("Limits"), tr("Outcome")};
        return section >= 0 && section < Columns ? names.at(section) : QVariant();
    }

    QVariant data(const QModelIndex &index, int role) const override
    {
        if (!index.isValid() || index.row() >= int(m_lines.size()))
            return {};
        const Line &line = m_lines[size_t(index.row())];
        const QString &outcome = line.record.outcome;
        const bool failed = outcome == QLatin1String("fail");
        const bool marginal = outcome == QLatin1String("marginal");
        switch (role) {
        case Qt::DisplayRole: return line.texts.at(index.column());
        case SortRole: return sortKey(line.record, Column(index.column()), line.texts.at(index.column()));
        case OutcomeRole: return outcome;
        case Qt::TextAlignmentRole:
            return index.column() == Seq || index.column() == Value ? int(Qt::AlignRight | Qt::AlignVCenter)
                                                                    : int(Qt::AlignLeft | Qt::AlignVCenter);
        case Qt::FontRole: return failed ? boldFont() : QVariant();
        case Qt::BackgroundRole:
            if (index.column() == Outcome && (failed || marginal))
                return failed ? statusBackground(TestStatus::Fail) : QColor(0xFF, 0xD8, 0x66);
            return {};
        case Qt::ForegroundRole:
            if (index.column() == Outcome && (failed || marginal))
                return failed ? statusTextColour(TestStatus::Fail) : QColor(Qt::black);
            return {};
        case Qt::ToolTipRole: return marginal ? tr("Passed, but close to an edge of its band") : QVariant();
        default: return {};
        }
    }

private:
    struct Line {
        MeasurementRecord record;
        QStringList texts;
    };

    static QVariant sortKey(const MeasurementRecord &m, Column column, const QString &text)
    {
        if (column == Seq)
            return m.seq;
        if (column == Value) // a NaN (stored as none) before every number: an order a sort can keep
            return m.value.value_or(-std::numeric_limits<double>::infinity());
        if (column == Outcome) // the worst first when sorted down
            return m.outcome == QLatin1String("fail") ? 3 : m.outcome == QLatin1String("marginal") ? 2 : 1;
        return text;
    }

    static QFont boldFont()
    {
        QFont f;
        f.setBold(true);
        return f;
    }

    std::vector<Line> m_lines;
};

bool writeRunFile(const RunDetail &run, ExportFormat format, const QString &path, QString *error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    if (format == ExportFormat::Json) {
        file.write(QJsonDocument(runToJson(run)).toJson(QJsonDocument::Indented));
    } else {
        RunExporter exporter(format, file);
        exporter.add(run);
        exporter.finish();
    }
    if (!file.commit()) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

RunPage::RunPage(QWidget *parent)
    : QWidget(parent), m_title(new QLabel), m_facts(new QLabel),
      m_rows(table({tr("Row"), tr("Test"), tr("Result"), tr("Fail label")})), m_memo(new QPlainTextEdit),
      m_measurePanel(new QWidget), m_measureCount(new QLabel), m_outcomeFilter(new QComboBox),
      m_measureModel(new MeasurementsModel(this)), m_measureSorted(new QSortFilterProxyModel(this)),
      m_measurements(new QTableView), m_tabs(new QTabWidget),
      m_prompts(table({tr("#"), tr("Kind"), tr("Caption"), tr("Answer"), tr("Typed"), tr("Text")})),
      m_writes(table({tr("#"), tr("Address"), tr("Bytes"), tr("Status")})), m_constants(new QLabel),
      m_json(new QPushButton(tr("Export JSON\u2026"))), m_junit(new QPushButton(tr("Export JUnit\u2026"))),
      m_certificate(new QPushButton(tr("Save certificate\u2026")))
{
    setObjectName(QStringLiteral("RunPage"));
    QFont titleFont = m_title->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.2);
    m_title->setFont(titleFont);
    m_title->setObjectName(QStringLiteral("RunTitle"));
    m_facts->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_facts->setWordWrap(true);
    m_memo->setObjectName(QStringLiteral("RunMemo"));
    m_memo->setReadOnly(true);
    m_memo->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_rows->setObjectName(QStringLiteral("RunRows"));
    // The selection marks the row's name only: its result keeps the station's colours.
    m_rows->setSelectionBehavior(QAbstractItemView::SelectItems);
    m_rows->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_constants->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_constants->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    m_constants->setMargin(6);

    m_measureSorted->setSourceModel(m_measureModel);
    m_measureSorted->setSortRole(MeasurementsModel::SortRole);
    m_measureSorted->setFilterRole(MeasurementsModel::OutcomeRole);
    m_measureSorted->setFilterKeyColumn(MeasurementsModel::Outcome);
    m_measurements->setObjectName(QStringLiteral("RunMeasurements"));
    m_measurements->setModel(m_measureSorted);
    m_measurements->setSortingEnabled(true);
    m_measurements->sortByColumn(MeasurementsModel::Seq, Qt::AscendingOrder);
    m_measurements->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_measurements->setWordWrap(false);
    m_measurements->verticalHeader()->hide();
    m_measurements->horizontalHeader()->setResizeContentsPrecision(200); // widths from the first rows
    m_measurements->verticalHeader()->setDefaultSectionSize(m_measurements->fontMetrics().height() + 6);
    m_outcomeFilter->setObjectName(QStringLiteral("RunMeasurementOutcome"));
    m_outcomeFilter->addItem(tr("All outcomes"), QString());
    m_outcomeFilter->addItem(tr("Failed or marginal"), QStringLiteral("^(fail|marginal)$"));
    m_outcomeFilter->addItem(tr("Failed"), QStringLiteral("^fail$"));
    m_outcomeFilter->addItem(tr("Marginal"), QStringLiteral("^marginal$"));
    m_outcomeFilter->addItem(tr("Passed"), QStringLiteral("^pass$"));
    m_outcomeFilter->addItem(tr("Not judged"), QStringLiteral("^not-judged$"));
    connect(m_outcomeFilter, &QComboBox::currentIndexChanged, this,
            [this] { m_measureSorted->setFilterRegularExpression(m_outcomeFilter->currentData().toString()); });
    auto *measureBar = new QHBoxLayout;
    measureBar->setContentsMargins(0, 4, 0, 0);
    measureBar->addWidget(m_measureCount, 1);
    measureBar->addWidget(m_outcomeFilter);
    auto *measureLayout = new QVBoxLayout(m_measurePanel);
    measureLayout->setContentsMargins(0, 0, 0, 0);
    measureLayout->addLayout(measureBar);
    measureLayout->addWidget(m_measurements, 1);
    auto *memoAndMeasurements = new QSplitter(Qt::Vertical);
    memoAndMeasurements->addWidget(m_memo);
    memoAndMeasurements->addWidget(m_measurePanel);
    memoAndMeasurements->setStretchFactor(0, 1);
    memoAndMeasurements->setStretchFactor(1, 2);

    auto *rowsAndMemo = new QSplitter(Qt::Horizontal);
    rowsAndMemo->addWidget(m_rows);
    rowsAndMemo->addWidget(memoAndMeasurements);
    rowsAndMemo->setStretchFactor(0, 2);
    rowsAndMemo->setStretchFactor(1, 3);
    m_tabs->addTab(rowsAndMemo, tr("Rows"));
    m_tabs->addTab(m_prompts, tr("Prompts"));
    m_tabs->addTab(m_writes, tr("EEPROM writes"));
    m_tabs->addTab(m_constants, tr("Stored constants"));

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_title, 1);
    buttons->addWidget(m_json);
    buttons->addWidget(m_junit);
    buttons->addWidget(m_certificate);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(buttons);
    layout->addWidget(m_facts);
    layout->addWidget(m_tabs, 1);

    connect(m_rows, &QTableWidget::currentCellChanged, this, [this](int row) {
        showMemo(row);
        showMeasurements(row);
    });
    connect(m_json, &QPushButton::clicked, this, &RunPage::exportJson);
    connect(m_junit, &QPushButton::clicked, this, &RunPage::exportJUnit);
    connect(m_certificate, &QPushButton::clicked, this, &RunPage::saveCertificate);
    showRun(std::nullopt);
}

void RunPage::showRun(const std::optional<RunDetail> &run)
{
    m_run = run;
    m_rows->setRowCount(0);
    m_prompts->setRowCount(0);
    m_writes->setRowCount(0);
    m_memo->clear();
    m_measureModel->show({}, std::nullopt);
    // Older stores and runs that measured nothing look as they always did.
    m_measurePanel->setVisible(run && !run->measurements.empty());
    for (QPushButton *b : {m_json, m_junit, m_certificate})
        b->setEnabled(run.has_value());
    if (!run) {
        m_title->setText(tr("No run selected"));
        m_facts->clear();
        m_constants->clear();
        return;
    }
    const RunSummary &r = run->run;
    m_title->setText(
        tr("%1 on %2: %3").arg(kindText(r), r.stationName, r.verdict.isEmpty() ? tr("no verdict") : r.verdict));
    QStringList facts;
    facts << tr("Run %1").arg(r.id);
    facts << tr("started %1, %2 %3").arg(r.startedUtc, endText(r), r.endedUtc.isEmpty() ? QString() : r.endedUtc);
    facts << tr("serial %1").arg(r.serial.isEmpty() ? tr("not recorded") : r.serial);
    if (!r.operatorId.isEmpty())
        facts << tr("operator %1").arg(r.operatorId);
    for (const InstrumentUse &u : run->instruments)
        facts
            << tr("%1 %2, due %3 (%4)").arg(u.role, u.assetId, u.dueOn.isEmpty() ? tr("not known") : u.dueOn, u.status);
    if (const auto &s = run->session)
        facts << tr("board \u201C%1\u201D, product %2, %3 channels, %4 DACs, revision %5, firmware reply %6, "
                    "revision reply %7")
                     .arg(s->detectionLabel, productText(s->productId))
                     .arg(s->channelCount.value_or(0))
                     .arg(s->dacCount.value_or(0))
                     .arg(s->revision, s->firmwareReply, s->revisionReply);
    facts << tr("station %1 (%2, %3 %4)%5")
                 .arg(run->station.name, run->station.host, run->station.program, run->station.version,
                      r.simulated ? tr(", simulated") : QString());
    m_facts->setText(facts.join(QStringLiteral(" \u00B7 ")));
    fillRows(*run);
    fillPromptsAndWrites(*run);
    fillConstants(*run);
}

void RunPage::fillRows(const RunDetail &run)
{
    int firstFail = -1;
    m_rows->setRowCount(int(run.rows.size()));
    for (int i = 0; i < int(run.rows.size()); ++i) {
        const RowRecord &row = run.rows[size_t(i)];
        m_rows->setItem(i, 0, item(digitText(row.digit)));
        m_rows->setItem(i, 1, item(row.name));
        // The label as the station painted it.
        auto *label = item(row.label);
        const TestStatus status = statusOf(row.status);
        label->setBackground(statusBackground(status));
        label->setForeground(statusTextColour(status));
        label->setTextAlignment(Qt::AlignCenter);
        m_rows->setItem(i, 2, label);
        m_rows->setItem(i, 3, item(row.failLabel));
        if (firstFail < 0 && row.status == QLatin1String("fail"))
            firstFail = i;
    }
    if (!run.rows.empty())
        m_rows->setCurrentCell(firstFail >= 0 ? firstFail : 0, 1);
}

void RunPage::fillPromptsAndWrites(const RunDetail &run)
{
    m_prompts->setRowCount(int(run.prompts.size()));
    for (int i = 0; i < int(run.prompts.size()); ++i) {
        const PromptRecord &p = run.prompts[size_t(i)];
        const QStringList cells = {QString::number(p.seq),
                                   p.kind,
                                   p.caption,
                                   p.answer,
                                   p.hasTyped ? typedText(p) : QString(),
                                   QString(p.text).replace(QLatin1Char('\n'), QLatin1Char(' '))};
        for (int c = 0; c < int(cells.size()); ++c)
            m_prompts->setItem(i, c, item(cells.at(c)));
        m_prompts->item(i, 5)->setToolTip(p.text);
    }
    m_writes->setRowCount(int(run.eepromWrites.size()));
    for (int i = 0; i < int(run.eepromWrites.size()); ++i) {
        const EepromWrite &w = run.eepromWrites[size_t(i)];
        m_writes->setItem(i, 0, item(QString::number(w.seq)));
        m_writes->setItem(i, 1, item(QStringLiteral("%1 (%2)").arg(w.address).arg(hex4(w.address))));
        m_writes->setItem(i, 2, item(QString::fromLatin1(w.bytes.toHex(' '))));
        m_writes->setItem(i, 3, item(QString::number(w.status)));
    }
    for (QTableWidget *t : {m_prompts, m_writes})
        t->resizeColumnsToContents();
}

void RunPage::fillConstants(const RunDetail &run)
{
    QStringList lines;
    for (const ConstantLine &line : storedConstantLines(decodeStoredCalibration(run.eepromWrites), Figures::Readable))
        lines << line.label + QLatin1Char(' ') + line.value;
    m_constants->setText(lines.isEmpty() ? tr("No calibration constants were written in this run.")
                                         : lines.join(QLatin1Char('\n')));
}

void RunPage::showMemo(int row)
{
    if (!m_run || row < 0 || row >= int(m_run->rows.size())) {
        m_memo->clear();
        return;
    }
    m_memo->setPlainText(m_run->rows[size_t(row)].memo.join(QLatin1Char('\n')));
}

void RunPage::showMeasurements(int row)
{
    const bool shown = m_run && row >= 0 && row < int(m_run->rows.size());
    m_measureModel->show(shown ? m_run->measurements : std::vector<MeasurementRecord>{},
                         shown ? std::optional<int>(m_run->rows[size_t(row)].digit) : std::nullopt);
    const int total = m_measureModel->rowCount();
    QStringList said;
    said << (total == 0   ? tr("No measurements in this row")
             : total == 1 ? tr("1 measurement")
                          : tr("%1 measurements").arg(total));
    if (const int failed = m_measureModel->count(QStringLiteral("fail")))
        said << tr("%1 failed").arg(failed);
    if (const int marginal = m_measureModel->count(QStringLiteral("marginal")))
        said << tr("%1 marginal").arg(marginal);
    m_measureCount->setText(said.join(QStringLiteral(", ")));
    m_measurements->resizeColumnsToContents();
}

QStringList RunPage::memoLines() const
{
    return m_memo->toPlainText().split(QLatin1Char('\n'));
}

void RunPage::selectRow(int digit)
{
    if (!m_run)
        return;
    for (int i = 0; i < int(m_run->rows.size()); ++i)
        if (m_run->rows[size_t(i)].digit == digit)
            m_rows->setCurrentCell(i, 1);
}

QString RunPage::askFile(const QString &title, const QString &suggested, const QString &filter)
{
    return QFileDialog::getSaveFileName(this, title, suggested, filter);
}

void RunPage::report(bool ok, const QString &file, const QString &error)
{
    if (!ok)
        QMessageBox::warning(this, tr("Quillon records"), error);
    else
        window()->setWindowFilePath(file);
}

void RunPage::exportJson()
{
    if (!m_run)
        return;
    const QString file =
        askFile(tr("Export run as JSON"), m_run->run.id.left(8) + QStringLiteral(".json"), tr("JSON (*.json)"));
    QString error;
    if (!file.isEmpty())
        report(writeRunFile(*m_run, ExportFormat::Json, file, &error), file, error);
}

void RunPage::exportJUnit()
{
    if (!m_run)
        return;
    const QString file =
        askFile(tr("Export run as JUnit XML"), m_run->run.id.left(8) + QStringLiteral(".xml"), tr("JUnit XML (*.xml)"));
    QString error;
    if (!file.isEmpty())
        report(writeRunFile(*m_run, ExportFormat::JUnit, file, &error), file, error);
}

void RunPage::saveCertificate()
{
    if (!m_run)
        return;
    const QString name =
        (m_run->run.serial.isEmpty() ? m_run->run.id.left(8) : m_run->run.serial) + QStringLiteral(".pdf");
    const QString file = askFile(tr("Save certificate"), name, tr("PDF (*.pdf)"));
    if (file.isEmpty())
        return;
    QString error;
    std::optional<CertificateInputs> inputs;
    if (m_query)
        inputs = certificateInputs(*m_query, *m_run, &error);
    else
        error = tr("No records store is open.");
    report(inputs && writeCertificate(*m_run, *inputs, file, &error), file, error);
}

} // namespace quillon::records
