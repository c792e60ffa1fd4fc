#pragma once

#include "records/RecordsExport.h"
#include "records/RecordsQuery.h"
#include "records/RunDigest.h"

#include <QFutureWatcher>
#include <QMainWindow>

#include <memory>

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSplitter;
class QStackedWidget;
class QTabWidget;
class QTableView;
class QTimer;

namespace quillon::records {

class RecordsPlots;
class RunPage;
class RunsModel;

// The records window: the runs of a store (a SQLite file or the line database) in a
// table that fetches as it scrolls, with filters; the selected run's page; plots of
// the runs the filters pick. A store that cannot be read is one clear message in the
// window, with a way to open another.
class RecordsWindow : public QMainWindow {
    Q_OBJECT
public:
    // source: a file path or a postgresql:// URL.
    explicit RecordsWindow(const QString &source, QWidget *parent = nullptr);
    ~RecordsWindow() override;

    // Opens another store (the window shows its message when it cannot be read).
    void openSource(const QString &source);
    bool isOpen() const { return m_query != nullptr; }
    // The message shown instead of the runs, empty while a store is open.
    QString problem() const;

    // Applies the filter fields now (they apply by themselves shortly after an edit).
    void applyFilter();
    void refresh();
    // Shows the run with this id on the run page.
    void openRun(const QString &id);

    // Exports the runs the filters pick to file, on a thread of its own with its own
    // connection; exportFinished follows. The file appears whole or not at all.
    void exportTo(const QString &file, ExportFormat format);
    // True while an export or a plots update runs (the status bar shows it).
    bool isBusy() const;
    // Stops what runs: a cancelled export leaves no file, cancelled plots stay as
    // they were and are brought up to date when next shown.
    void cancelWork();

    RunsModel *model() const { return m_model; }
    QTableView *runsView() const { return m_view; }
    RunPage *runPage() const { return m_page; }
    RecordsPlots *plots() const { return m_plots; }
    QTabWidget *tabs() const { return m_tabs; }
    QLineEdit *sinceField() const { return m_since; }
    QLineEdit *untilField() const { return m_until; }
    QLineEdit *serialField() const { return m_serial; }
    QLineEdit *productField() const { return m_product; }
    QComboBox *stationBox() const { return m_station; }
    QComboBox *verdictBox() const { return m_verdict; }

    // One plots update and one export, handed to their threads (defined in the source).
    struct PlotsWork;
    struct ExportWork;

signals:
    // ok false with a reason; a cancelled export is not ok and says so.
    void exportFinished(bool ok, const QString &message);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void close_store();
    void showProblem(const QString &message);
    void updatePlots();
    void plotsUpdated();
    void exportDone();
    void showWork();
    void exportRuns();
    void chooseStore();
    RunFilter filterFromFields(QString *problem) const;
    void saveSettings() const;

    QString m_source;
    QString m_connection;
    std::unique_ptr<RecordsQuery> m_query;
    // Replaced whole by each update (which works on a copy on its own thread).
    std::shared_ptr<const RunDigest> m_digest;
    bool m_digestReady = false;
    bool m_plotsStale = true;
    bool m_plotsAgain = false; // asked for while an update ran
    bool m_plotsRunning = false;
    bool m_exportRunning = false;
    bool m_exportAsked = false; // from the menu: a failure gets a message box
    quint64 m_generation = 0;   // raised when the store closes: older results are dropped
    QAction *m_exportAction = nullptr;
    QString m_problem;

    QStackedWidget *m_stack;
    QLabel *m_message;
    QTabWidget *m_tabs;
    QLineEdit *m_since;
    QLineEdit *m_until;
    QComboBox *m_station;
    QLineEdit *m_product;
    QLineEdit *m_serial;
    QLineEdit *m_operator;
    QLineEdit *m_instrument;
    QComboBox *m_verdict;
    QLabel *m_count;
    QTableView *m_view;
    RunsModel *m_model;
    RunPage *m_page;
    RecordsPlots *m_plots;
    QSplitter *m_split;
    QTimer *m_filterTimer;
    QFutureWatcher<std::shared_ptr<PlotsWork>> *m_plotsWatcher;
    QFutureWatcher<std::shared_ptr<ExportWork>> *m_exportWatcher;
    QProgressBar *m_progress;
    QPushButton *m_cancel;
};

// quillon-records' window on a store (a file or a line database URL). Needs a
// QApplication; returns the exit status.
int runRecordsWindow(const QString &source);

} // namespace quillon::records
