#pragma once

#include <QWidget>

#include <vector>

class QComboBox;
class QLabel;
class QTabWidget;
class QChartView;

namespace quillon::records {

class RunDigest;

// The plots of the runs a filter picks (Qt Charts): first-pass yield per day (per
// station when there are several), a Pareto of the failing rows, and the calibration
// constants stored (ARef word, each DAC's gain and offset) per product over time with
// the runs outside the usual spread marked; a click on a point opens its run.
class RecordsPlots : public QWidget {
    Q_OBJECT
public:
    explicit RecordsPlots(QWidget *parent = nullptr);

    // Draws the plots for the runs with these rowids (sorted) from digest (which must
    // outlive the next call).
    void setRuns(const RunDigest *digest, std::vector<qint64> rowids);

    // What the yield plot counts, over all its days and stations: units (serials by
    // their first Test All, else Test Alls) and how many of them passed.
    struct YieldTally {
        qint64 units = 0;
        qint64 passed = 0;
        bool bySerial = false;
    };
    const YieldTally &yieldTally() const { return m_yieldTally; }
    // What the constants plot shows, for tests: the outliers' rowids.
    const std::vector<qint64> &outliers() const { return m_outliers; }
    QTabWidget *tabs() const { return m_tabs; }
    QComboBox *quantityBox() const { return m_quantity; }
    QComboBox *productBox() const { return m_product; }

signals:
    // A point of a run was clicked.
    void runClicked(qint64 rowid);

private:
    void drawYield();
    void drawPareto();
    void drawConstants();
    void fillProducts();

    const RunDigest *m_digest = nullptr;
    std::vector<qint64> m_rowids;
    std::vector<qint64> m_outliers;
    YieldTally m_yieldTally;
    QTabWidget *m_tabs;
    QChartView *m_yield;
    QChartView *m_pareto;
    QChartView *m_constants;
    QComboBox *m_quantity;
    QComboBox *m_product;
    QLabel *m_constantsNote;
};

} // namespace quillon::records
