// The Test All run and the window's behaviour when handlers nest or the window
// closes while one runs. Rows run seam tests (setRowTest) where the verdict matters,
// the real tests where the board's answer does.
#include "app/station/MainForm.h"

#include "device/TracingDevice.h"
#include "sim/SimBoard.h"
#include "procedures/ProductionTests.h"
#include "support/ScriptedOperator.h"

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QLabel>
#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

namespace quillon {
namespace {

using testing::ScriptedOperator;

struct Station {
    sim::SimBoard board;
    TracingDevice trace{board};
    ScriptedOperator op;
    std::unique_ptr<MainForm> form;
    QList<int> ran; // rows whose test ran, in order

    Station()
    {
        form = std::make_unique<MainForm>(trace, op);
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents(); // the start-up detection
    }
    // Every row passes unless told otherwise; extra runs inside row's test.
    void script(const QMap<int, TestStatus> &outcome = {}, const QMap<int, std::function<void()>> &extra = {})
    {
        for (int i = 0; i < 11; ++i) {
            form->setRowTest(i, [this, i, outcome, extra](StationContext &, TestRow &row) {
                ran << i;
                row.setStatus(TestStatus::Testing);
                row.refresh();
                if (extra.contains(i))
                    extra[i]();
                row.setStatus(outcome.value(i, TestStatus::Pass));
                row.refresh();
            });
        }
    }
    QAbstractButton *button(const QString &name) const { return form->findChild<QAbstractButton *>(name); }
    void testAll() { button(QStringLiteral("TestAllButton"))->click(); }
    QString label(int i) const { return form->record(i).ResultLabel->text(); }
};

const QList<int> AllRows{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10};

TEST(TestAll, VerdictFollowsTheRows)
{
    struct Case {
        const char *what;
        QMap<int, TestStatus> outcome;
        const char *overall;
    };
    const Case cases[] = {
        {"all pass", {}, "PASS"},
        {"one failing row, later rows pass", {{3, TestStatus::Fail}}, "FAIL"},
        {"last row fails", {{10, TestStatus::Fail}}, "FAIL"},
        {"a row left untested", {{6, TestStatus::Untested}}, "testing..."},
        {"a row left testing", {{0, TestStatus::Testing}}, "testing..."},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Station s;
        s.script(c.outcome);
        s.testAll();
        EXPECT_EQ(s.ran, AllRows);
        EXPECT_EQ(s.form->overallLabelText(), QString::fromLatin1(c.overall));
        for (int i = 0; i < 11; ++i)
            EXPECT_EQ(s.form->record(i).Status, c.outcome.value(i, TestStatus::Pass)) << i;
    }
}

TEST(TestAll, StartsFromAResetTableAndShowsTesting)
{
    Station s;
    s.script({}, {{0, [&s] {
                       // Inside the first test: every other row reset, the overall label "testing...".
                       for (int i = 1; i < 11; ++i)
                           EXPECT_EQ(s.label(i), QStringLiteral("untested")) << i;
                       EXPECT_EQ(s.form->overallLabelText(), QStringLiteral("testing..."));
                   }}});
    s.form->row(5).setStatus(TestStatus::Fail);
    s.form->RefreshStatus(5);
    s.form->state().AbortAll = true; // left over from a single run: cleared by the run
    s.testAll();
    EXPECT_EQ(s.ran, AllRows);
    EXPECT_EQ(s.form->overallLabelText(), QStringLiteral("PASS"));
}

TEST(TestAll, AbortAllStopsTheRunAfterItsRow)
{
    Station s;
    s.script({{2, TestStatus::Fail}}, {{2, [&s] { s.form->state().AbortAll = true; }}});
    s.testAll();
    EXPECT_EQ(s.ran, (QList<int>{0, 1, 2}));
    EXPECT_EQ(s.label(2), QStringLiteral("FAIL"));
    for (int i = 3; i < 11; ++i)
        EXPECT_EQ(s.label(i), QStringLiteral("untested")) << i;
    EXPECT_EQ(s.form->overallLabelText(), QStringLiteral("FAIL"));

    // A single run that raises AbortAll does not stop the next Test All.
    s.ran.clear();
    s.button(QStringLiteral("TagTest2GoButton"))->click();
    EXPECT_TRUE(s.form->state().AbortAll);
    s.script();
    s.ran.clear();
    s.testAll();
    EXPECT_EQ(s.ran, AllRows);
    EXPECT_EQ(s.form->overallLabelText(), QStringLiteral("PASS"));
}

TEST(TestAll, RunsTheRealTestsThroughTheTestButtons)
{
    // Only row 4's real test is scripted out of the way of the seams: its verdict comes
    // from the simulated firmware.
    Station s;
    s.script();
    s.form->setRowTest(4, [&s](StationContext &ctx, TestRow &row) {
        s.ran << 4;
        runAddressDataLines(ctx, row);
    });
    s.board.identity.busTestVerdict = 0x01;
    s.testAll();
    EXPECT_EQ(s.ran, AllRows);
    EXPECT_EQ(s.label(4), QStringLiteral("FAIL"));
    EXPECT_EQ(s.form->overallLabelText(), QStringLiteral("FAIL"));
    s.board.identity.busTestVerdict = 0x00;
    s.ran.clear();
    s.testAll();
    EXPECT_EQ(s.form->overallLabelText(), QStringLiteral("PASS"));
}

// Hears what the window passes on: row starts and ends, and each measurement with the
// row that was running when it came.
struct MeasureListener final : RunListener {
    void detectionStarting() override {}
    void detectionEnded(bool, const QString &, const BoardConfig &) override {}
    bool testAllStarting() override { return true; }
    void testAllEnded(bool, const QString &) override {}
    void rowStarting(int digit) override { running = digit; }
    void rowEnded(const RowOutcome &, bool) override { running = -1; }
    void measured(const Measurement &m) override
    {
        heard << QStringLiteral("%1 %2 %3 %4").arg(running).arg(m.digit).arg(m.order).arg(m.name);
    }
    int running = -1;
    QStringList heard; // "running digit order name"
};

TEST(TestAll, RowMeasurementsReachTheListenerNumberedPerRun)
{
    Station s;
    MeasureListener listener;
    s.form->setRunListener(&listener);
    s.script({}, {{1, [&s] { s.form->row(1).measure({.name = QStringLiteral("one")}); }},
                  {3, [&s] {
                       s.form->row(3).measure({.name = QStringLiteral("three.a")});
                       s.form->row(3).measure({.name = QStringLiteral("three.b")});
                   }}});
    s.form->setRowTest(4, runAddressDataLines);
    s.testAll();
    EXPECT_EQ(listener.heard, (QStringList{QStringLiteral("1 1 1 one"), QStringLiteral("3 3 2 three.a"),
                                           QStringLiteral("3 3 3 three.b"), QStringLiteral("4 4 4 bus.verdict")}));
    // A row's own Test button is a run of its own.
    listener.heard.clear();
    s.button(QStringLiteral("TagTest3GoButton"))->click();
    EXPECT_EQ(listener.heard, (QStringList{QStringLiteral("3 3 1 three.a"), QStringLiteral("3 3 2 three.b")}));
    s.form->setRunListener(nullptr);
}

TEST(TestAll, NestedClicksDuringARun)
{
    // A second Test All inside a running one is ignored; another row's Test runs nested.
    Station s;
    s.script({}, {{1, [&s] { s.testAll(); }}, {3, [&s] { s.button(QStringLiteral("TagTest9GoButton"))->click(); }}});
    s.testAll();
    EXPECT_EQ(s.ran, (QList<int>{0, 1, 2, 3, 9, 4, 5, 6, 7, 8, 9, 10}));
    EXPECT_EQ(s.form->overallLabelText(), QStringLiteral("PASS"));
    EXPECT_EQ(s.form->handlerDepth(), 0);
}

TEST(TestAll, DetectInsideARunResetsTheRowsAndTheRunCannotPass)
{
    Station s;
    s.trace.setKeeping(true);
    s.script({}, {{5, [&s] { s.button(QStringLiteral("DetectButton"))->click(); }}});
    s.testAll();
    EXPECT_EQ(s.ran, AllRows);
    EXPECT_EQ(s.form->detectLabelText(), QStringLiteral("Detected"));
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(s.label(i), QStringLiteral("untested")) << i;
    EXPECT_EQ(s.form->overallLabelText(), QStringLiteral("testing..."));
    int after = 0;
    for (const LibraryCall &c : s.trace.calls())
        after += c.function == QStringLiteral("GetDevices");
    EXPECT_EQ(after, 1) << "one nested detection";
}

TEST(Closing, WindowClosedDuringANestedWaitUnwindsThenSignals)
{
    Station s;
    int closedSignals = 0;
    bool closedWhileRunning = false;
    bool sawClosing = false;
    QObject::connect(s.form.get(), &MainForm::closed, [&] {
        ++closedSignals;
        closedWhileRunning = s.form->handlerDepth() != 0;
    });
    s.script({}, {{1, [&s, &sawClosing] {
                       QTimer::singleShot(20, s.form.get(), [&s] { s.form->close(); });
                       QElapsedTimer clock;
                       clock.start();
                       while (!s.form->closing() && clock.elapsed() < 5000)
                           s.form->waitForEvents(50);
                       sawClosing = s.form->closing();
                       EXPECT_EQ(s.form->state().CyclicStopRequested, true);
                   }}});
    s.form->show();
    s.testAll();
    EXPECT_TRUE(sawClosing);
    EXPECT_EQ(s.ran, (QList<int>{0, 1})) << "the run stops once the window is closing";
    EXPECT_EQ(closedSignals, 1);
    EXPECT_FALSE(closedWhileRunning);
    EXPECT_FALSE(s.form->isVisible());

    // Handlers started after closing do nothing.
    s.ran.clear();
    s.testAll();
    s.button(QStringLiteral("DetectButton"))->click();
    EXPECT_TRUE(s.ran.isEmpty());
    EXPECT_EQ(closedSignals, 1);
}

TEST(Closing, OpenModalDialogIsRejectedWhenTheWindowCloses)
{
    Station s;
    int answer = -1;
    int closedSignals = 0;
    QObject::connect(s.form.get(), &MainForm::closed, [&] { ++closedSignals; });
    s.script({}, {{0, [&] {
                       QPointer<QMessageBox> box = new QMessageBox(QMessageBox::Information, QStringLiteral("Jig"),
                                                                   QStringLiteral("Connect the jig."), QMessageBox::Ok);
                       box->setWindowModality(Qt::ApplicationModal);
                       QTimer::singleShot(50, s.form.get(), [&s] { s.form->close(); });
                       answer = box->exec();
                       delete box;
                       EXPECT_EQ(closedSignals, 0);
                   }}});
    s.form->show();
    s.testAll();
    EXPECT_EQ(answer, int(QDialog::Rejected));
    EXPECT_EQ(s.ran, QList<int>{0});
    EXPECT_EQ(closedSignals, 1);
}

TEST(Closing, IdleWindowSignalsAtOnce)
{
    Station s;
    int closedSignals = 0;
    QObject::connect(s.form.get(), &MainForm::closed, [&] { ++closedSignals; });
    s.form->show();
    s.form->close();
    EXPECT_EQ(closedSignals, 1);
    s.form->close();
    EXPECT_EQ(closedSignals, 1);
}

} // namespace
} // namespace quillon

namespace quillon {
namespace {

// The monitor through its buttons: Go runs it inside the click, Stop (or closing the
// window) ends it after a listing.
TEST(Monitor, GoRunsUntilStopOrClose)
{
    for (const bool closeInstead : {false, true}) {
        SCOPED_TRACE(closeInstead ? "window closed" : "Stop pressed");
        Station s;
        int closedSignals = 0;
        QObject::connect(s.form.get(), &MainForm::closed, [&] { ++closedSignals; });
        s.form->show();
        QStringList firstListing;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (!firstListing.isEmpty() || s.form->monitorLines().size() != 16)
                return;
            firstListing = s.form->monitorLines();
            EXPECT_TRUE(s.button(QStringLiteral("CyclicStopButton"))->isEnabled());
            EXPECT_FALSE(s.button(QStringLiteral("CyclicGoButton"))->isEnabled());
            if (closeInstead)
                s.form->close();
            else
                s.button(QStringLiteral("CyclicStopButton"))->click();
        });
        watch.start(5);
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [&s] { s.form->close(); });
        guard.start(10000);

        s.button(QStringLiteral("CyclicGoButton"))->click();
        EXPECT_TRUE(guard.isActive()) << "the monitor ended without the guard";
        ASSERT_EQ(firstListing.size(), 16);
        EXPECT_TRUE(firstListing[0].startsWith(QStringLiteral("0: ")));
        EXPECT_TRUE(firstListing[15].startsWith(QStringLiteral("F: ")));
        EXPECT_EQ(s.form->monitorColumns(), 2);
        EXPECT_TRUE(s.button(QStringLiteral("CyclicGoButton"))->isEnabled());
        EXPECT_FALSE(s.button(QStringLiteral("CyclicStopButton"))->isEnabled());
        EXPECT_EQ(closedSignals, closeInstead ? 1 : 0);
        EXPECT_EQ(s.form->handlerDepth(), 0);
    }
}

} // namespace
} // namespace quillon
