#pragma once

#include "station/RunListener.h"
#include "station/Station.h"

#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

class QAbstractButton;
class QCheckBox;
class QLabel;
class QListWidget;
class QScrollArea;

namespace Ui {
class MainForm;
}

namespace quillon {

class BlurbForm;
class QtTestRow;

// One row of the test table. The window owns every control; a row only refers to them.
struct TestRecord {
    QWidget *Panel = nullptr;
    QAbstractButton *GoButton = nullptr;
    QAbstractButton *DetailButton = nullptr; // none on row 4
    QLabel *ResultLabel = nullptr;
    TestStatus Status = TestStatus::Untested;
};

// First direct child widget of parent whose object name equals name, ignoring the
// case of ASCII letters; null when there is none.
QWidget *findChildByName(QObject *parent, const QString &name);

// The station's one working window: the master bar, the test table, the cyclic
// monitor row. It owns the program-wide state and hands the tests a StationContext.
// Lives on the GUI thread. Handlers may nest (they serve events while they work);
// the window is never destroyed by itself while one runs: closing only raises
// closing(), ends the loops, and emits closed() once the last handler has returned.
class MainForm final : public QWidget, public StationShell, public MonitorView {
    Q_OBJECT

public:
    using RowTest = std::function<void(StationContext &, TestRow &)>;
    // Runs between setupUi and FormCreate (test windows remove or rename panels).
    using BeforeCreate = std::function<void(MainForm &)>;

    static constexpr int CollapsedHeight = 41;

    // lib and op are not owned and must outlive the window.
    MainForm(DeviceLibrary &lib, Operator &op, QWidget *parent = nullptr);
    MainForm(DeviceLibrary &lib, Operator &op, const BeforeCreate &beforeCreate, QWidget *parent = nullptr);
    ~MainForm() override;

    // The notes window that each successful detection shows (not owned).
    void setBlurbForm(BlurbForm *blurb);
    BlurbForm *blurbForm() const;

    // Tells listener (not owned; null: nobody) about detections, runs and rows.
    void setRunListener(RunListener *listener) { m_listener = listener; }

    // Replaces the test a row's Test button runs (scenario and test seam).
    void setRowTest(int index, RowTest test);

    int rowCount() const { return int(TestTable.size()); }
    TestRow &row(int index);
    const TestRecord &record(int index) const { return TestTable.at(std::size_t(index)); }
    QString detectLabelText() const;
    QString overallLabelText() const;
    StationState &state() { return m_state; }
    const StationState &state() const { return m_state; }
    StationContext &context() { return m_context; }
    bool wasMaximized() const { return m_maximized; }
    int monitorColumns() const { return m_columns; }
    QStringList monitorLines() const;
    // Handlers currently on the stack.
    int handlerDepth() const { return m_depth; }

    // Paints every row (index -1) or one row, then the overall label.
    void RefreshStatus(int index);

    // StationShell
    void maximizeMainWindow() override;
    bool closing() const override { return m_closing; }
    bool correctionChecked() const override;
    void sleepMs(int ms) override;
    void waitForEvents(int maxMs) override;

    // MonitorView
    void setRunning(bool running) override;
    void clearList() override;
    void setColumns(int columns) override;
    void setLines(const QStringList &lines) override;

public slots:
    void DetectButtonClick();
    void TestAllButtonClick();
    // sender: the toggle (its "tag" property holds the row); null uses QObject::sender().
    void DetailButtonClick(QObject *sender = nullptr);
    void CyclicDetailButtonClick();
    void CyclicGoButtonClick();
    void CyclicStopButtonClick();

signals:
    // The window has been asked to close; open prompts should give up.
    void closingStarted();
    // The window closed and no handler is running any more: the program may end.
    void closed();

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    friend class QtTestRow;
    friend class HandlerScope;

    void FormCreate();
    void connectHandlers();
    void runRow(int index);
    // A row's measurement: numbered within the run and passed to the listener.
    void rowMeasured(Measurement m);
    void setPanelHeight(QWidget *panel, int height);
    void followPanelWidth(QWidget *panel);
    void leaveHandler();
    RowOutcome outcomeOf(int index) const;
    void rejectOpenDialogs();

    DeviceLibrary &m_lib;
    Operator &m_op;
    StationState m_state;
    StationContext m_context;
    std::unique_ptr<Ui::MainForm> m_ui;

    std::vector<TestRecord> TestTable;
    std::vector<std::unique_ptr<QtTestRow>> m_rows;
    std::vector<RowTest> m_tests;

    QPointer<QWidget> m_content;
    QPointer<QLabel> m_detectLabel;
    QPointer<QLabel> m_masterResultLabel;
    QPointer<QAbstractButton> m_detectButton;
    QPointer<QAbstractButton> m_testAllButton;
    QPointer<QWidget> m_cyclicPanel;
    QPointer<QAbstractButton> m_cyclicGoButton;
    QPointer<QAbstractButton> m_cyclicStopButton;
    QPointer<QAbstractButton> m_cyclicDetailButton;
    QPointer<QListWidget> m_cyclicList;
    QPointer<QCheckBox> m_correctionCheck;
    QPointer<BlurbForm> m_blurb;
    RunListener *m_listener = nullptr;
    int m_measureOrder = 0; // measurements reported in the current run

    int m_columns = 1;
    int m_depth = 0;
    bool m_closing = false;
    bool m_closedEmitted = false;
    bool m_testAllRunning = false;
    bool m_maximized = false;
    bool m_shownOnce = false;
};

} // namespace quillon
