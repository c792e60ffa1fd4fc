#pragma once

#include "records/RecordsQuery.h"
#include "records/RunDigest.h"

#include <QMainWindow>

#include <memory>

class QComboBox;
class QLabel;
class QLineEdit;
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

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void close_store();
    void showProblem(const QString &message);
    void updatePlots();
    void exportRuns();
    void chooseStore();
    RunFilter filterFromFields(QString *problem) const;
    void saveSettings() const;

    QString m_source;
    QString m_connection;
    std::unique_ptr<RecordsQuery> m_query;
    RunDigest m_digest;
    bool m_digestReady = false;
    bool m_plotsStale = true;
    QString m_problem;

    QStackedWidget *m_stack;
    QLabel *m_message;
    QTabWidget *m_tabs;
    QLineEdit *m_since;
    QLineEdit *m_until;
    QComboBox *m_station;
    QLineEdit *m_product;
    QLineEdit *m_serial;
    QComboBox *m_verdict;
    QLabel *m_count;
    QTableView *m_view;
    RunsModel *m_model;
    RunPage *m_page;
    RecordsPlots *m_plots;
    QSplitter *m_split;
    QTimer *m_filterTimer;
};

// quillon-records' window on a store (a file or a line database URL). Needs a
// QApplication; returns the exit status.
int runRecordsWindow(const QString &source);

} // namespace quillon::records
