#pragma once

#include "records/RecordsExport.h"
#include "records/RecordsQuery.h"

#include <QWidget>

#include <optional>

class QComboBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;
class QTabWidget;
class QTableView;
class QSortFilterProxyModel;

namespace quillon::records {

class MeasurementsModel;

// One run as the station showed it: the rows with their labels in the station's
// colours, the selected row's memo lines exactly, the prompts with their answers, the
// EEPROM writes and the constants they stored, the board; buttons to export the run
// and to save its certificate. When the run kept measurements, the selected row's
// are a table under its memo (failed and marginal ones marked, sortable, filtered by
// outcome); a run without any shows none.
class RunPage : public QWidget {
    Q_OBJECT
public:
    explicit RunPage(QWidget *parent = nullptr);

    // Shows run (nullopt: nothing selected).
    void showRun(const std::optional<RunDetail> &run);
    // The store the runs come from, which the certificate asks for the constants a board
    // held before its run (nullptr while none is open).
    void setQuery(const RecordsQuery *query) { m_query = query; }
    const std::optional<RunDetail> &run() const { return m_run; }
    // The memo shown, as lines.
    QStringList memoLines() const;
    // Selects the row of the run with this digit.
    void selectRow(int digit);

    // Asks for a file and writes the run there; the tests call the writers directly.
    void exportJson();
    void exportJUnit();
    void saveCertificate();

private:
    void showMemo(int row);
    void showMeasurements(int row);
    void fillRows(const RunDetail &run);
    void fillPromptsAndWrites(const RunDetail &run);
    void fillConstants(const RunDetail &run);
    QString askFile(const QString &title, const QString &suggested, const QString &filter);
    void report(bool ok, const QString &file, const QString &error);

    std::optional<RunDetail> m_run;
    const RecordsQuery *m_query = nullptr;
    QLabel *m_title;
    QLabel *m_facts;
    QTableWidget *m_rows;
    QPlainTextEdit *m_memo;
    QWidget *m_measurePanel;
    QLabel *m_measureCount;
    QComboBox *m_outcomeFilter;
    MeasurementsModel *m_measureModel;
    QSortFilterProxyModel *m_measureSorted;
    QTableView *m_measurements;
    QTabWidget *m_tabs;
    QTableWidget *m_prompts;
    QTableWidget *m_writes;
    QLabel *m_constants;
    QPushButton *m_json;
    QPushButton *m_junit;
    QPushButton *m_certificate;
};

// Writes one run as a JSON document or JUnit XML file; false with a reason.
bool writeRunFile(const RunDetail &run, ExportFormat format, const QString &path, QString *error);

} // namespace quillon::records
