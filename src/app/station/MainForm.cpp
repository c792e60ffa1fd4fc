#include "app/station/MainForm.h"

#include "app/station/QtTestRow.h"
#include "app/station/StatusDisplay.h"
#include "ui_MainForm.h"

#include "device/AdcConfigBlock.h"
#include "station/Detection.h"
#include "device/DeviceLibrary.h"
#include "station/Operator.h"
#include "procedures/ProductionTests.h"
#include "station/RowRegistry.h"
#include "ui/BlurbForm.h"
#include "ui/MessageFont.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDialog>
#include <QEventLoop>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QScreen>
#include <QThread>
#include <QTimer>

#include <algorithm>

namespace quillon {

namespace {

// Dynamic properties the window keeps on its controls.
constexpr char TagProperty[] = "tag";                   // panel: expanded height; toggle: row index
constexpr char AnchorsProperty[] = "anchors";           // "right" or "leftright" (set in the .ui)
constexpr char LaidOutWidthProperty[] = "laidOutWidth"; // panel width the anchors were last applied at

constexpr int DesignPanelWidth = 441;
constexpr int MonitorItemHeight = 13;

// The calibration row, folded away on boards without A/D calibration.
constexpr int CalibrationRow = 3;

char asciiLower(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'A' && u <= u'Z')
        return char(u - u'A' + 'a');
    return u < 0x80 ? char(u) : '\0';
}

bool equalsIgnoringAsciiCase(const QString &a, const QString &b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (a[i] == b[i])
            continue;
        const char x = asciiLower(a[i]);
        if (x == '\0' || x != asciiLower(b[i]))
            return false;
    }
    return true;
}

} // namespace

QWidget *findChildByName(QObject *parent, const QString &name)
{
    if (!parent)
        return nullptr;
    for (QObject *child : parent->children()) {
        auto *widget = qobject_cast<QWidget *>(child);
        if (widget && equalsIgnoringAsciiCase(widget->objectName(), name))
            return widget;
    }
    return nullptr;
}

// Counts the handlers on the stack; the last one out of a closing window signals
// that the program may end.
class HandlerScope {
public:
    explicit HandlerScope(MainForm &form) : m_form(form) { ++m_form.m_depth; }
    ~HandlerScope() { m_form.leaveHandler(); }
    HandlerScope(const HandlerScope &) = delete;
    HandlerScope &operator=(const HandlerScope &) = delete;

private:
    MainForm &m_form;
};

MainForm::MainForm(DeviceLibrary &lib, Operator &op, QWidget *parent) : MainForm(lib, op, BeforeCreate(), parent)
{
}

MainForm::MainForm(DeviceLibrary &lib, Operator &op, const BeforeCreate &beforeCreate, QWidget *parent)
    : QWidget(parent), m_lib(lib), m_op(op), m_context{lib, op, *this, m_state}, m_ui(std::make_unique<Ui::MainForm>())
{
    m_ui->setupUi(this);
    // Layout-managed widgets get no geometry from the .ui; the panels start at their
    // design width so the width fit and the anchors measure from it.
    for (QObject *child : m_ui->ScrollContent->children())
        if (auto *panel = qobject_cast<QWidget *>(child))
            panel->resize(DesignPanelWidth, panel->height());
    QFont designFont(QStringLiteral("MS Sans Serif"));
    designFont.setPixelSize(11);
    setFont(designFont);

    // Row i's Test button runs its registered procedure, m_tests[i].
    registerProductionTests();
    for (const RowEntry &entry : rowRegistry())
        m_tests.emplace_back(entry.procedure);

    if (beforeCreate)
        beforeCreate(*this);
    FormCreate();
}

MainForm::~MainForm() = default;

void MainForm::FormCreate()
{
    QFont windowFont = font();
    ApplyMessageFont(windowFont);
    setFont(windowFont);
    QPalette face = palette();
    face.setColor(QPalette::Window, face.color(QPalette::Button));
    setPalette(face);

    m_content = m_ui->ScrollContent;
    m_detectLabel = findChild<QLabel *>(QStringLiteral("DetectLabel"));
    m_masterResultLabel = findChild<QLabel *>(QStringLiteral("MasterResultLabel"));
    m_detectButton = findChild<QAbstractButton *>(QStringLiteral("DetectButton"));
    m_testAllButton = findChild<QAbstractButton *>(QStringLiteral("TestAllButton"));
    m_cyclicPanel = findChildByName(m_content, QStringLiteral("CyclicPanel"));
    m_cyclicGoButton = findChild<QAbstractButton *>(QStringLiteral("CyclicGoButton"));
    m_cyclicStopButton = findChild<QAbstractButton *>(QStringLiteral("CyclicStopButton"));
    m_cyclicDetailButton = findChild<QAbstractButton *>(QStringLiteral("CyclicDetailButton"));
    m_cyclicList = findChild<QListWidget *>(QStringLiteral("CyclicList"));
    m_correctionCheck = findChild<QCheckBox *>(QStringLiteral("CorrectionCheck"));

    // Panels keep the height they are given; the row layout only stacks them.
    for (QObject *child : m_content->children()) {
        if (auto *panel = qobject_cast<QWidget *>(child)) {
            panel->setFixedHeight(panel->height());
            panel->setProperty(LaidOutWidthProperty, panel->width());
            panel->installEventFilter(this);
        }
    }

    // Width fit: the result label of row 0 ends 8 pixels inside its panel.
    const RowEntry &first = rowRegistry().front();
    if (QWidget *panel0 = findChildByName(m_content, first.panelName())) {
        if (QWidget *label0 = findChildByName(panel0, first.resultLabelName())) {
            const int d = label0->x() + label0->width() + 8 - panel0->width();
            if (d != 0)
                resize(width() + d, height());
        }
    }

    // The table holds the registered rows whose panels the window has, up to the first gap.
    for (const RowEntry &entry : rowRegistry()) {
        const int i = entry.digit;
        QWidget *panel = findChildByName(m_content, entry.panelName());
        if (!panel)
            break;
        TestRecord record;
        record.Panel = panel;
        record.GoButton = qobject_cast<QAbstractButton *>(findChildByName(panel, entry.goButtonName()));
        record.DetailButton = qobject_cast<QAbstractButton *>(findChildByName(panel, entry.detailButtonName()));
        record.ResultLabel = qobject_cast<QLabel *>(findChildByName(panel, entry.resultLabelName()));
        auto *memo = qobject_cast<QPlainTextEdit *>(findChildByName(panel, entry.memoName()));
        auto *failLabel = qobject_cast<QLabel *>(findChildByName(panel, entry.failLabelName()));
        if (memo)
            memo->setTabStopDistance(8 * memo->fontMetrics().averageCharWidth());
        TestTable.push_back(record);
        m_rows.push_back(std::make_unique<QtTestRow>(*this, i, memo, failLabel));

        panel->setProperty(TagProperty, panel->height());
        if (record.DetailButton) {
            record.DetailButton->setProperty(TagProperty, i);
            record.DetailButton->setChecked(false);
        }
        setPanelHeight(panel, CollapsedHeight);
        RefreshStatus(i);
    }

    if (m_cyclicPanel) {
        m_cyclicPanel->setProperty(TagProperty, m_cyclicPanel->height());
        setPanelHeight(m_cyclicPanel, CollapsedHeight);
    }
    if (m_cyclicDetailButton)
        m_cyclicDetailButton->setChecked(false);

    resize(width(), (rowCount() + 4) * CollapsedHeight);
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    connectHandlers();
    if (m_testAllButton)
        m_testAllButton->setFocus();

    // Detection runs from the event loop, as if "Detect" had been clicked once.
    if (m_detectButton)
        QMetaObject::invokeMethod(m_detectButton, "click", Qt::QueuedConnection);
}

void MainForm::connectHandlers()
{
    auto connectClick = [this](const QString &name, void (MainForm::*handler)()) {
        if (auto *button = findChild<QAbstractButton *>(name))
            connect(button, &QAbstractButton::clicked, this, handler);
    };
    connectClick(QStringLiteral("DetectButton"), &MainForm::DetectButtonClick);
    connectClick(QStringLiteral("TestAllButton"), &MainForm::TestAllButtonClick);
    connectClick(QStringLiteral("CyclicGoButton"), &MainForm::CyclicGoButtonClick);
    connectClick(QStringLiteral("CyclicStopButton"), &MainForm::CyclicStopButtonClick);
    connectClick(QStringLiteral("CyclicDetailButton"), &MainForm::CyclicDetailButtonClick);

    for (const RowEntry &entry : rowRegistry()) {
        const int index = entry.digit;
        if (auto *go = findChild<QAbstractButton *>(entry.goButtonName()))
            connect(go, &QAbstractButton::clicked, this, [this, index] { runRow(index); });
        if (auto *toggle = findChild<QAbstractButton *>(entry.detailButtonName()))
            connect(toggle, &QAbstractButton::clicked, this, [this, toggle] { DetailButtonClick(toggle); });
    }
}

void MainForm::setBlurbForm(BlurbForm *blurb)
{
    m_blurb = blurb;
}

BlurbForm *MainForm::blurbForm() const
{
    return m_blurb;
}

void MainForm::setRowTest(int index, RowTest test)
{
    if (index >= 0 && index < int(m_tests.size()))
        m_tests[std::size_t(index)] = std::move(test);
}

TestRow &MainForm::row(int index)
{
    return *m_rows.at(std::size_t(index));
}

QString MainForm::detectLabelText() const
{
    return m_detectLabel ? m_detectLabel->text() : QString();
}

QString MainForm::overallLabelText() const
{
    return m_masterResultLabel ? m_masterResultLabel->text() : QString();
}

QStringList MainForm::monitorLines() const
{
    QStringList lines;
    if (m_cyclicList)
        for (int i = 0; i < m_cyclicList->count(); ++i)
            lines << m_cyclicList->item(i)->text();
    return lines;
}

void MainForm::setPanelHeight(QWidget *panel, int height)
{
    if (panel)
        panel->setFixedHeight(height);
}

void MainForm::RefreshStatus(int index)
{
    if (index == -1) {
        for (const TestRecord &record : TestTable)
            ShowStatus(record.ResultLabel, record.Status);
    } else if (index >= 0 && index < rowCount()) {
        const TestRecord &record = TestTable[std::size_t(index)];
        ShowStatus(record.ResultLabel, record.Status);
    }
    const bool anyTouched = std::any_of(TestTable.begin(), TestTable.end(),
                                        [](const TestRecord &r) { return r.Status != TestStatus::Untested; });
    ShowStatus(m_masterResultLabel, anyTouched ? TestStatus::Testing : TestStatus::Untested);
}

void MainForm::leaveHandler()
{
    if (--m_depth == 0 && m_closing && !m_closedEmitted) {
        m_closedEmitted = true;
        emit closed();
    }
}

void MainForm::DetectButtonClick()
{
    HandlerScope scope(*this);
    if (m_closing)
        return;
    if (m_listener)
        m_listener->detectionStarting();
    ShowStatus(m_detectLabel, TestStatus::Testing);
    if (m_detectLabel)
        m_detectLabel->setText(QStringLiteral("detecting..."));
    for (TestRecord &record : TestTable)
        record.Status = TestStatus::Untested;
    RefreshStatus(-1);
    m_op.processEvents();

    const DetectResult result = detectBoard(m_lib, m_op, m_state);
    if (!result.found) {
        ShowStatus(m_detectLabel, TestStatus::Fail);
        if (m_listener)
            m_listener->detectionEnded(false, detectLabelText(), m_state.board);
        return;
    }
    ShowStatus(m_detectLabel, TestStatus::Pass);
    if (m_detectLabel)
        m_detectLabel->setText(QStringLiteral("Detected"));
    m_state.adc.clear();
    m_state.adc[AdcConfigBlock::TriggerMode] = 16;
    quint32 size = AdcConfigBlock::Size;
    m_lib.ADC_SetConfig(diOnly, m_state.adc.data(), &size);
    if (!result.calSupported)
        setPanelHeight(findChildByName(m_content, rowRegistry().at(CalibrationRow).panelName()), 4);
    if (m_listener)
        m_listener->detectionEnded(true, detectLabelText(), m_state.board);
    if (m_blurb && !m_closing)
        m_blurb->show();
}

void MainForm::TestAllButtonClick()
{
    HandlerScope scope(*this);
    // A second run nested inside a running one would reset rows the outer run has
    // already judged; the click is ignored instead.
    if (m_closing || m_testAllRunning)
        return;
    if (m_listener && !m_listener->testAllStarting())
        return;
    m_testAllRunning = true;
    m_measureOrder = 0;
    struct RunningFlag {
        bool &flag;
        ~RunningFlag() { flag = false; }
    } running{m_testAllRunning};

    for (TestRecord &record : TestTable)
        record.Status = TestStatus::Untested;
    RefreshStatus(-1);
    ShowStatus(m_masterResultLabel, TestStatus::Testing);
    m_state.AbortAll = false;

    const int rows = rowCount(); // the table never changes size after FormCreate
    bool completed = true;
    for (const RowEntry &entry : rowRegistry()) {
        if (entry.digit >= rows)
            break; // registered, but the window has no panel for it
        if (QAbstractButton *go = TestTable[std::size_t(entry.digit)].GoButton)
            go->click();
        if (m_state.AbortAll || m_closing) {
            completed = entry.digit == rows - 1 && !m_closing;
            break;
        }
    }

    int fails = 0;
    int passes = 0;
    for (const TestRecord &record : TestTable) {
        fails += record.Status == TestStatus::Fail;
        passes += record.Status == TestStatus::Pass;
    }
    QString verdict;
    if (fails > 0) {
        ShowStatus(m_masterResultLabel, TestStatus::Fail);
        verdict = overallLabelText();
    } else if (rows > 0 && passes == rows) { // an empty table proves nothing
        ShowStatus(m_masterResultLabel, TestStatus::Pass);
        verdict = overallLabelText();
    }
    if (m_listener)
        m_listener->testAllEnded(completed, verdict);
}

void MainForm::DetailButtonClick(QObject *sender)
{
    HandlerScope scope(*this);
    QObject *toggle = sender ? sender : QObject::sender();
    if (!toggle)
        return;
    bool tagged = false;
    int row = toggle->property(TagProperty).toInt(&tagged);
    if (!tagged)
        row = -1;
    if (row < 0 || row >= rowCount() || !TestTable[std::size_t(row)].DetailButton) {
        m_op.messageBox(BoxStyle::Warning, QStringLiteral("Null DetailButton"),
                        QStringLiteral("Failed to find detail button ") + QString::number(row)
                            + QStringLiteral(". Contact Software for details."));
        return;
    }
    const TestRecord &record = TestTable[std::size_t(row)];
    if (record.DetailButton->isChecked())
        setPanelHeight(record.Panel, record.Panel->property(TagProperty).toInt());
    else
        setPanelHeight(record.Panel, CollapsedHeight);
}

void MainForm::CyclicDetailButtonClick()
{
    HandlerScope scope(*this);
    if (!m_cyclicPanel || !m_cyclicDetailButton)
        return;
    if (m_cyclicDetailButton->isChecked())
        setPanelHeight(m_cyclicPanel, m_cyclicPanel->property(TagProperty).toInt());
    else
        setPanelHeight(m_cyclicPanel, CollapsedHeight);
}

void MainForm::CyclicGoButtonClick()
{
    HandlerScope scope(*this);
    if (m_closing)
        return;
    runCyclicMonitor(m_context, *this);
}

void MainForm::CyclicStopButtonClick()
{
    m_state.CyclicStopRequested = true;
}

void MainForm::runRow(int index)
{
    HandlerScope scope(*this);
    // Rows after a gap in the table have buttons but no record.
    if (m_closing || index >= rowCount())
        return;
    const RowTest &test = m_tests[std::size_t(index)];
    if (!test)
        return;
    if (!m_testAllRunning)
        m_measureOrder = 0; // a row's own Test button starts a run of its own
    if (m_listener)
        m_listener->rowStarting(index);
    QtTestRow &row = *m_rows[std::size_t(index)];
    if (const std::optional<QString> refused = m_listener ? m_listener->rowRefused(index) : std::nullopt) {
        row.clearMemo();
        row.addLine(*refused);
        row.setStatus(TestStatus::Fail);
        row.refresh();
    } else {
        test(m_context, row);
    }
    if (m_listener)
        m_listener->rowEnded(outcomeOf(index), m_closing);
}

void MainForm::rowMeasured(Measurement m)
{
    m.order = ++m_measureOrder;
    if (m_listener)
        m_listener->measured(m);
}

RowOutcome MainForm::outcomeOf(int index) const
{
    const TestRecord &record = TestTable[std::size_t(index)];
    const QtTestRow &row = *m_rows[std::size_t(index)];
    RowOutcome outcome;
    outcome.digit = index;
    // The row's name is the panel's first label that is neither its result nor its fail label.
    if (record.Panel)
        for (QLabel *label : record.Panel->findChildren<QLabel *>(QString(), Qt::FindDirectChildrenOnly))
            if (label != record.ResultLabel && !label->objectName().endsWith(QLatin1String("FailLabel"))) {
                outcome.name = label->text();
                break;
            }
    outcome.status = record.Status;
    outcome.label = record.ResultLabel ? record.ResultLabel->text() : QString();
    if (row.hasFailLabel())
        outcome.failLabel = row.failText();
    outcome.memo = row.memoLines();
    return outcome;
}

void MainForm::maximizeMainWindow()
{
    m_maximized = true;
    if (isVisible())
        showMaximized();
    else
        setWindowState(windowState() | Qt::WindowMaximized);
}

bool MainForm::correctionChecked() const
{
    return m_correctionCheck && m_correctionCheck->isChecked();
}

void MainForm::sleepMs(int ms)
{
    if (ms > 0)
        QThread::msleep(static_cast<unsigned long>(ms));
}

void MainForm::waitForEvents(int maxMs)
{
    if (m_closing)
        return;
    // The timer bounds the wait; any other event ends it sooner. Precise: a coarse
    // timer may wake a long wait a few milliseconds late, past a scan that is due.
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    wake.start(std::max(0, maxMs));
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void MainForm::setRunning(bool running)
{
    if (!m_cyclicGoButton || !m_cyclicStopButton)
        return;
    m_cyclicStopButton->setEnabled(running);
    m_cyclicGoButton->setEnabled(!running);
    (running ? m_cyclicStopButton : m_cyclicGoButton)->setFocus();
}

void MainForm::clearList()
{
    if (m_cyclicList)
        m_cyclicList->clear();
}

void MainForm::setColumns(int columns)
{
    m_columns = std::max(1, columns);
    if (m_cyclicList) {
        // Items run top to bottom and wrap into columns of equal width.
        const int width = std::max(1, m_cyclicList->viewport()->width() / m_columns);
        m_cyclicList->setGridSize(QSize(width, MonitorItemHeight));
    }
}

void MainForm::setLines(const QStringList &lines)
{
    if (!m_cyclicList)
        return;
    m_cyclicList->setUpdatesEnabled(false);
    m_cyclicList->clear();
    m_cyclicList->addItems(lines);
    m_cyclicList->setUpdatesEnabled(true);
}

void MainForm::rejectOpenDialogs()
{
    // Prompts are application-modal top-levels; rejecting them ends their loops.
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget *window : windows)
        if (auto *dialog = qobject_cast<QDialog *>(window); dialog && dialog->isVisible())
            dialog->reject();
}

void MainForm::closeEvent(QCloseEvent *event)
{
    event->accept();
    if (m_closing)
        return;
    m_closing = true;
    m_state.CyclicStopRequested = true;
    emit closingStarted();
    rejectOpenDialogs();
    if (m_blurb)
        m_blurb->hide();
    if (m_depth == 0 && !m_closedEmitted) {
        m_closedEmitted = true;
        emit closed();
    }
}

void MainForm::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!m_shownOnce) {
        m_shownOnce = true;
        if (m_testAllButton)
            m_testAllButton->setFocus();
    }
}

bool MainForm::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Resize) {
        if (auto *panel = qobject_cast<QWidget *>(watched); panel && panel->parent() == m_content)
            followPanelWidth(panel);
    }
    return QWidget::eventFilter(watched, event);
}

// Anchored controls follow the right edge of their panel.
void MainForm::followPanelWidth(QWidget *panel)
{
    const int delta = panel->width() - panel->property(LaidOutWidthProperty).toInt();
    if (delta == 0)
        return;
    panel->setProperty(LaidOutWidthProperty, panel->width());
    for (QObject *child : panel->children()) {
        auto *widget = qobject_cast<QWidget *>(child);
        if (!widget)
            continue;
        const QString anchors = widget->property(AnchorsProperty).toString();
        if (anchors == QLatin1String("right"))
            widget->move(widget->x() + delta, widget->y());
        else if (anchors == QLatin1String("leftright"))
            widget->resize(widget->width() + delta, widget->height());
    }
    if (panel == m_cyclicPanel)
        setColumns(m_columns);
}

} // namespace quillon
