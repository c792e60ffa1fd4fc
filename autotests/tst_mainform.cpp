// The main window: start-up state, the test table by name, Details toggles, status
// painting, the overall label and the detection handler, over the simulated board.
#include "app/station/MainForm.h"
#include "app/station/QtTestRow.h"
#include "app/station/StatusDisplay.h"

#include "device/TracingDevice.h"
#include "sim/SimBoard.h"
#include "station/RowRegistry.h"
#include "support/ScriptedOperator.h"
#include "ui/BlurbForm.h"
#include "ui/MessageFont.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>

#include <gtest/gtest.h>

#include <memory>

namespace quillon {
namespace {

using testing::ScriptedOperator;

const char *const RowNames[] = {"DIO Pullup",         "DIO Loopback",    "A/D Clocks",     "Calibration Voltages",
                                "Address/Data Lines", "A/D SE Unipolar", "A/D SE Bipolar", "A/D Differential (Bipolar)",
                                "D/A Cal Set",        "D/A Cal Check",   "D/A Ramp"};

QString digit(int i)
{
    return QString::number(i, 16).toUpper();
}

// The window over the simulated board with a scripted technician; the library
// traffic is kept.
struct Station {
    sim::SimBoard board;
    TracingDevice trace{board};
    ScriptedOperator op;
    BlurbForm blurb{nullptr, QSize(1024, 768)};
    std::unique_ptr<MainForm> form;

    explicit Station(const MainForm::BeforeCreate &hook = {})
    {
        trace.setKeeping(true);
        form = std::make_unique<MainForm>(trace, op, hook);
        form->setBlurbForm(&blurb);
    }
    // Lets the queued start-up detection (and anything else posted) run.
    void settle()
    {
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
    }
    int calls(const QString &function) const
    {
        int n = 0;
        for (const LibraryCall &c : trace.calls())
            n += c.function == function;
        return n;
    }
    template <typename T>
    T *child(const QString &name) const
    {
        return form->findChild<T *>(name);
    }
    QWidget *panel(int i) const { return child<QWidget>(QStringLiteral("TagTest%1Panel").arg(digit(i))); }
    QLabel *label(const QString &name) const { return child<QLabel>(name); }
    QAbstractButton *button(const QString &name) const { return child<QAbstractButton>(name); }
};

QColor background(const QLabel *label)
{
    return label->palette().color(QPalette::Window);
}

QColor foreground(const QLabel *label)
{
    return label->palette().color(QPalette::WindowText);
}

TEST(MainForm, StartsCollapsedUntestedAndDetectsOnceByItself)
{
    Station s;
    MainForm &form = *s.form;
    EXPECT_EQ(form.windowTitle(), QStringLiteral("MainForm"));
    QFont messageFont(QStringLiteral("MS Sans Serif"));
    messageFont.setPixelSize(11);
    ApplyMessageFont(messageFont);
    EXPECT_EQ(form.font(), messageFont);
    EXPECT_EQ(s.button(QStringLiteral("TestAllButton"))->font(), messageFont) << "controls use the window's font";
    ASSERT_EQ(form.rowCount(), 11);
    EXPECT_EQ(form.height(), 615);
    for (int i = 0; i < 11; ++i) {
        SCOPED_TRACE(i);
        const TestRecord &r = form.record(i);
        EXPECT_EQ(r.Panel, s.panel(i));
        EXPECT_EQ(r.Panel->height(), 41);
        EXPECT_EQ(r.Panel->property("tag").toInt(), i == 4 ? 41 : 193);
        EXPECT_EQ(r.ResultLabel->text(), QStringLiteral("untested"));
        EXPECT_EQ(background(r.ResultLabel), QGuiApplication::palette().color(QPalette::Button));
        EXPECT_EQ(r.Status, TestStatus::Untested);
        EXPECT_EQ(r.GoButton->text(), QStringLiteral("Test"));
        EXPECT_EQ(r.Panel->findChild<QLabel *>(QStringLiteral("TagTest%1NameLabel").arg(digit(i)))->text(),
                  QString::fromLatin1(RowNames[i]));
        if (i == 4) {
            EXPECT_EQ(r.DetailButton, nullptr);
            EXPECT_FALSE(form.row(i).hasDetails());
        } else {
            ASSERT_NE(r.DetailButton, nullptr);
            EXPECT_FALSE(r.DetailButton->isChecked());
            EXPECT_EQ(r.DetailButton->property("tag").toInt(), i);
            EXPECT_TRUE(form.row(i).memoLines().isEmpty());
        }
    }
    // The registry that the scenario reader and the records read names the rows as the window shows them.
    ASSERT_EQ(rowRegistry().size(), 11u);
    for (const RowEntry &entry : rowRegistry()) {
        EXPECT_EQ(entry.name, QString::fromLatin1(RowNames[entry.digit]));
        EXPECT_NE(entry.procedure, nullptr) << entry.digit;
    }
    EXPECT_EQ(form.overallLabelText(), QStringLiteral("untested"));
    EXPECT_EQ(form.detectLabelText(), QString());
    QWidget *cyclic = s.child<QWidget>(QStringLiteral("CyclicPanel"));
    EXPECT_EQ(cyclic->height(), 41);
    EXPECT_EQ(cyclic->property("tag").toInt(), 265);
    EXPECT_FALSE(s.button(QStringLiteral("CyclicStopButton"))->isEnabled());
    EXPECT_FALSE(s.button(QStringLiteral("CyclicDetailButton"))->isChecked());
    EXPECT_EQ(s.child<QCheckBox>(QStringLiteral("CorrectionCheck"))->text(), QStringLiteral("30mV Correction"));
    EXPECT_FALSE(s.blurb.isVisible());

    // Nothing has touched the board before the event loop runs.
    EXPECT_TRUE(s.trace.calls().isEmpty());
    form.show();
    s.settle();
    EXPECT_EQ(form.focusWidget(), s.button(QStringLiteral("TestAllButton")));
    EXPECT_EQ(s.calls(QStringLiteral("GetDevices")), 1);
    EXPECT_EQ(form.detectLabelText(), QStringLiteral("Detected"));
    EXPECT_TRUE(s.blurb.isVisible());
    s.settle();
    EXPECT_EQ(s.calls(QStringLiteral("GetDevices")), 1) << "the start-up click runs exactly once";

    s.button(QStringLiteral("DetectButton"))->click();
    EXPECT_EQ(s.calls(QStringLiteral("GetDevices")), 2);
}

TEST(MainForm, DetectionSendsTheInitialConfigurationAndPaintsTheLabel)
{
    Station s;
    s.settle();
    QLabel *label = s.label(QStringLiteral("DetectLabel"));
    EXPECT_EQ(label->text(), QStringLiteral("Detected"));
    EXPECT_EQ(background(label), QColor(0, 255, 0));
    EXPECT_EQ(foreground(label), QColor(0, 0, 0));

    const LibraryCall &last = s.trace.calls().constLast();
    EXPECT_EQ(last.function, QStringLiteral("ADC_SetConfig"));
    QByteArray expected(21, '\0');
    expected[17] = 16;
    EXPECT_EQ(last.dataOut, expected);
    EXPECT_TRUE(last.arguments.startsWith(QStringLiteral("-3, ")));
    EXPECT_TRUE(last.arguments.contains(QStringLiteral("21")));
    EXPECT_EQ(s.form->state().board.ChannelCount, 16);
    EXPECT_EQ(s.form->state().dacRange.DacRange, -1);
    EXPECT_EQ(s.panel(3)->height(), 41);

    // A later detection that finds nothing: FAIL, nothing sent, notes not shown again.
    s.blurb.hide();
    s.board.identity.boardsPresent = 0;
    const int configs = s.calls(QStringLiteral("ADC_SetConfig"));
    s.button(QStringLiteral("DetectButton"))->click();
    EXPECT_EQ(label->text(), QStringLiteral("FAIL"));
    EXPECT_EQ(background(label), QColor(255, 0, 0));
    EXPECT_EQ(foreground(label), QColor(255, 255, 255));
    EXPECT_EQ(s.calls(QStringLiteral("ADC_SetConfig")), configs);
    EXPECT_FALSE(s.blurb.isVisible());
    ASSERT_FALSE(s.op.prompts.isEmpty());
    EXPECT_EQ(s.op.prompts.constLast().caption, QStringLiteral("No-Board Error"));
    EXPECT_EQ(s.form->state().board.ChannelCount, 16) << "a failed detection keeps the configuration";
}

TEST(MainForm, DetectionResetsRowsAndShowsTheNotesAgain)
{
    Station s;
    s.settle();
    ASSERT_TRUE(s.blurb.isVisible());
    s.blurb.close();

    // The label reads "detecting..." on blue, and every row is reset, before the board is asked.
    QStringList seen;
    s.op.onProcessEvents = [&] {
        const QLabel *label = s.label(QStringLiteral("DetectLabel"));
        if (background(label) == QColor(0, 0, 255) && foreground(label) == QColor(255, 255, 255))
            seen << label->text() << s.form->record(2).ResultLabel->text() << s.form->overallLabelText();
    };
    s.form->row(2).setStatus(TestStatus::Fail);
    s.form->row(2).refresh();
    s.button(QStringLiteral("DetectButton"))->click();
    EXPECT_EQ(seen, (QStringList{"detecting...", "untested", "untested"}));
    EXPECT_TRUE(s.blurb.isVisible());
}

TEST(MainForm, BoardWithoutCalibrationHidesTheCalibrationRowHeader)
{
    Station s;
    s.board.identity.calSupported = false;
    s.settle();
    EXPECT_EQ(s.form->detectLabelText(), QStringLiteral("Detected"));
    EXPECT_EQ(s.panel(3)->height(), 4);
    EXPECT_EQ(s.form->rowCount(), 11);
}

TEST(MainForm, DetailsTogglesExpandAndCollapseRows)
{
    Station s;
    s.settle();
    MainForm &form = *s.form;
    form.show();
    auto *scroll = s.child<QScrollArea>(QStringLiteral("ScrollBox"));
    s.settle();
    EXPECT_FALSE(scroll->verticalScrollBar()->isVisible());
    EXPECT_TRUE(scroll->verticalScrollBar()->hasTracking()) << "content follows the thumb while dragged";
    // Anchored controls keep their distance to the panel's right edge as it is laid out.
    for (const char *name : {"TagTest0ResultLabel", "MasterResultLabel"}) {
        const QWidget *label = s.child<QWidget>(QString::fromLatin1(name));
        EXPECT_EQ(label->x() + label->width() + 8, label->parentWidget()->width()) << name;
    }
    const QWidget *memo = s.child<QWidget>(QStringLiteral("Test0Memo"));
    EXPECT_EQ(memo->x() + memo->width() + 8, memo->parentWidget()->width());

    QAbstractButton *toggle = form.record(7).DetailButton;
    toggle->click();
    EXPECT_TRUE(toggle->isChecked());
    EXPECT_EQ(s.panel(7)->height(), 193);
    s.settle();
    EXPECT_TRUE(scroll->verticalScrollBar()->isVisible());
    EXPECT_EQ(s.panel(8)->y(), s.panel(7)->y() + 193) << "rows below restack";

    toggle->click();
    EXPECT_EQ(s.panel(7)->height(), 41);
    toggle->click();
    EXPECT_EQ(s.panel(7)->height(), 193);

    QAbstractButton *cyclic = s.button(QStringLiteral("CyclicDetailButton"));
    cyclic->click();
    EXPECT_EQ(s.child<QWidget>(QStringLiteral("CyclicPanel"))->height(), 265);
    cyclic->click();
    EXPECT_EQ(s.child<QWidget>(QStringLiteral("CyclicPanel"))->height(), 41);

    // pressDetails is what a test uses (the A/D Clocks abort path).
    form.row(2).pressDetails();
    EXPECT_TRUE(form.row(2).detailsDown());
    EXPECT_EQ(s.panel(2)->height(), 193);
    form.row(4).pressDetails(); // no toggle: nothing happens
    EXPECT_EQ(s.panel(4)->height(), 41);
    EXPECT_TRUE(s.op.prompts.isEmpty());
}

TEST(MainForm, ToggleOfARowWithoutDetailsReportsNullDetailButton)
{
    Station s;
    s.settle();
    const int before = s.op.prompts.size();
    // A toggle whose tag names row 4 (which has none), and one that was never tagged.
    QPushButton stray;
    stray.setCheckable(true);
    stray.setChecked(true);
    stray.setProperty("tag", 4);
    s.form->DetailButtonClick(&stray);
    QPushButton untagged;
    s.form->DetailButtonClick(&untagged);
    ASSERT_EQ(s.op.prompts.size(), before + 2);
    const testing::Prompt &p = s.op.prompts[before];
    EXPECT_EQ(p.kind, QStringLiteral("Warning"));
    EXPECT_EQ(p.caption, QStringLiteral("Null DetailButton"));
    EXPECT_EQ(p.text, QStringLiteral("Failed to find detail button 4. Contact Software for details."));
    EXPECT_EQ(s.op.prompts[before + 1].text,
              QStringLiteral("Failed to find detail button -1. Contact Software for details."));
    for (int i = 0; i < 11; ++i)
        EXPECT_EQ(s.panel(i)->height(), 41) << i;
}

TEST(MainForm, TableIsBuiltByNameIgnoringCaseAndEndsAtTheFirstGap)
{
    struct Case {
        const char *what;
        MainForm::BeforeCreate hook;
        int rows;
    };
    const Case cases[] = {
        {"row 5 removed", [](MainForm &f) { delete f.findChild<QWidget *>(QStringLiteral("TagTest5Panel")); }, 5},
        {"row 0 renamed in other case",
         [](MainForm &f) {
             f.findChild<QWidget *>(QStringLiteral("TagTest0Panel"))->setObjectName(QStringLiteral("tagtest0PANEL"));
         },
         11},
        {"row 0 removed", [](MainForm &f) { delete f.findChild<QWidget *>(QStringLiteral("TagTest0Panel")); }, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Station s(c.hook);
        s.settle();
        EXPECT_EQ(s.form->rowCount(), c.rows);
        EXPECT_EQ(s.form->height(), (c.rows + 4) * 41);
        if (c.rows == 5) {
            // Rows after the gap keep their design height; their buttons run nothing.
            EXPECT_EQ(s.panel(6)->height(), 193);
            s.trace.clearCalls();
            s.button(QStringLiteral("TagTest6GoButton"))->click();
            s.button(QStringLiteral("TagTest4GoButton"))->click();
            EXPECT_EQ(s.calls(QStringLiteral("GenericVendorRead")), 1) << "only row 4 ran";
        }
        if (c.rows == 0) {
            s.button(QStringLiteral("TestAllButton"))->click();
            EXPECT_EQ(s.form->overallLabelText(), QStringLiteral("testing...")) << "an empty table never passes";
        }
    }
}

TEST(MainForm, WidthFitGrowsTheClientAreaByTheOverhang)
{
    Station plain;
    Station moved([](MainForm &f) {
        QWidget *label = f.findChild<QWidget *>(QStringLiteral("TagTest0ResultLabel"));
        label->move(label->x() + 10, label->y());
    });
    EXPECT_EQ(plain.form->width(), 457) << "the design values fit";
    EXPECT_EQ(moved.form->width(), plain.form->width() + 10);
    plain.settle();
    moved.settle();
}

TEST(MainForm, ShowStatusPaintsTheFixedTables)
{
    const QPalette app = QGuiApplication::palette();
    struct Case {
        TestStatus status;
        const char *text;
        QColor bg, fg;
    };
    const Case cases[] = {
        {TestStatus::Untested, "untested", app.color(QPalette::Button), app.color(QPalette::ButtonText)},
        {TestStatus::Testing, "testing...", QColor(0, 0, 255), QColor(255, 255, 255)},
        {TestStatus::Pass, "PASS", QColor(0, 255, 0), QColor(0, 0, 0)},
        {TestStatus::Fail, "FAIL", QColor(255, 0, 0), QColor(255, 255, 255)},
    };
    QLabel label;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        ShowStatus(&label, c.status);
        EXPECT_EQ(label.text(), QString::fromLatin1(c.text));
        EXPECT_EQ(background(&label), c.bg);
        EXPECT_EQ(foreground(&label), c.fg);
        EXPECT_TRUE(label.autoFillBackground());
    }
    ShowStatus(nullptr, TestStatus::Pass);
}

TEST(MainForm, OverallLabelShowsTestingOnceAnyRowIsTouched)
{
    Station s;
    s.settle();
    MainForm &form = *s.form;
    for (TestStatus st : {TestStatus::Testing, TestStatus::Pass, TestStatus::Fail}) {
        form.row(9).setStatus(st);
        form.row(9).refresh();
        EXPECT_EQ(form.record(9).ResultLabel->text(), statusText(st));
        EXPECT_EQ(form.overallLabelText(), QStringLiteral("testing..."));
        EXPECT_EQ(background(s.label(QStringLiteral("MasterResultLabel"))), QColor(0, 0, 255));
    }
    form.row(9).setStatus(TestStatus::Untested);
    form.RefreshStatus(9);
    EXPECT_EQ(form.overallLabelText(), QStringLiteral("untested"));
    // Only the row asked for is repainted.
    form.row(1).setStatus(TestStatus::Pass);
    form.RefreshStatus(0);
    EXPECT_EQ(form.record(1).ResultLabel->text(), QStringLiteral("untested"));
    EXPECT_EQ(form.overallLabelText(), QStringLiteral("testing..."));
    form.RefreshStatus(-1);
    EXPECT_EQ(form.record(1).ResultLabel->text(), QStringLiteral("PASS"));
    form.RefreshStatus(99); // out of the table: only the overall label
}

TEST(MainForm, SingleTestThroughItsButtonLeavesOverallTesting)
{
    Station s;
    s.settle();
    s.board.identity.busTestVerdict = 0x01;
    s.button(QStringLiteral("TagTest4GoButton"))->click();
    EXPECT_EQ(s.form->record(4).ResultLabel->text(), QStringLiteral("FAIL"));
    EXPECT_EQ(static_cast<QtTestRow &>(s.form->row(4)).failText(), QStringLiteral("Hardware Failure"));
    EXPECT_EQ(s.form->overallLabelText(), QStringLiteral("testing..."));
}

TEST(MainForm, MemoKeepsLinesExactly)
{
    Station s;
    s.settle();
    TestRow &row = s.form->row(1);
    auto *memo = s.child<QPlainTextEdit>(QStringLiteral("Test1Memo"));
    row.addLine(QStringLiteral("\tfirst"));
    row.addLine(QString());
    row.addLine(QStringLiteral("third"));
    EXPECT_EQ(row.memoLines(), (QStringList{"\tfirst", "", "third"}));
    EXPECT_EQ(memo->toPlainText(), QStringLiteral("\tfirst\n\nthird"));
    row.setMemoText(QStringLiteral("a\r\nb\r\n"));
    EXPECT_EQ(row.memoLines(), (QStringList{"a", "b"}));
    row.setMemoText(QString());
    EXPECT_TRUE(row.memoLines().isEmpty());
    row.addLine(QStringLiteral("x"));
    row.clearMemo();
    EXPECT_TRUE(row.memoLines().isEmpty());
    EXPECT_TRUE(memo->toPlainText().isEmpty());
}

TEST(MainForm, MonitorControlsFollowTheMonitor)
{
    Station s;
    s.settle();
    MainForm &form = *s.form;
    form.show();
    form.setRunning(true);
    EXPECT_TRUE(s.button(QStringLiteral("CyclicStopButton"))->isEnabled());
    EXPECT_FALSE(s.button(QStringLiteral("CyclicGoButton"))->isEnabled());
    form.setColumns(5);
    EXPECT_EQ(form.monitorColumns(), 5);
    form.setLines({"0: +1.00", "1: -2.00"});
    form.setLines({"ADC_BulkPoll returned error 31."});
    EXPECT_EQ(form.monitorLines(), QStringList{"ADC_BulkPoll returned error 31."});
    form.clearList();
    EXPECT_TRUE(form.monitorLines().isEmpty());
    form.setRunning(false);
    EXPECT_FALSE(s.button(QStringLiteral("CyclicStopButton"))->isEnabled());
    EXPECT_TRUE(s.button(QStringLiteral("CyclicGoButton"))->isEnabled());

    form.CyclicStopButtonClick();
    EXPECT_TRUE(form.state().CyclicStopRequested);
    s.child<QCheckBox>(QStringLiteral("CorrectionCheck"))->setChecked(true);
    EXPECT_TRUE(form.correctionChecked());
    form.maximizeMainWindow();
    EXPECT_TRUE(form.wasMaximized());
}

} // namespace
} // namespace quillon
