#include <algorithm>
// The window's life cycle against the real dialogs (or the virtual technician): closing
// it during every kind of wait, and buttons pressed while a handler runs. Every case
// ends with the window closed once, no handler on the stack, no prompt left open, the
// EEPROM as it was before the half-finished run, the window deletable and the event
// loop free to return.
#include "app/station/MainForm.h"

#include "device/DeviceLibrary.h"
#include "device/TracingDevice.h"
#include "sim/SimBoard.h"
#include "sim/VirtualTechnician.h"
#include "support/ModalDriver.h"
#include "support/QtPrinters.h"
#include "ui/QtOperator.h"

#include <QAbstractButton>
#include <QApplication>
#include <QEventLoop>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

namespace quillon {
namespace {

using testing::ModalDriver;

// A station as the program builds it: the real window and dialogs (or the virtual
// technician), closing the window abandons every prompt.
struct Station {
    sim::SimBoard board;
    TracingDevice trace{board};
    QtOperator dialogs;
    std::unique_ptr<sim::VirtualTechnician> tech;
    QPointer<MainForm> form;
    int closedSignals = 0;

    explicit Station(bool virtualTechnician = false)
    {
        if (virtualTechnician) {
            tech = std::make_unique<sim::VirtualTechnician>(board);
            tech->serveEvents = true;
        }
        form = new MainForm(trace, op());
        dialogs.setMainWindow(form);
        QObject::connect(form, &MainForm::closingStarted, form, [this] { dialogs.abandonAll(); });
        QObject::connect(form, &MainForm::closed, form, [this] { ++closedSignals; });
        form->show();
        for (int i = 0; i < 20 && form->detectLabelText() != QLatin1String("Detected"); ++i)
            QCoreApplication::processEvents();
        EXPECT_EQ(form->detectLabelText(), QStringLiteral("Detected"));
    }
    ~Station() { delete form.data(); }

    Operator &op() { return tech ? static_cast<Operator &>(*tech) : dialogs; }
    QAbstractButton *button(const QString &name) const { return form->findChild<QAbstractButton *>(name); }
    void click(const QString &name) { button(name)->click(); }
    // Clicks from the event loop, outside whatever handler or driver action is running.
    void clickLater(const QString &name)
    {
        QTimer::singleShot(0, form, [this, name] {
            if (form)
                click(name);
        });
    }
    void closeLater()
    {
        QTimer::singleShot(0, form, [this] {
            if (form)
                form->close();
        });
    }

    // What every case ends with.
    void expectClosedAndGone(const std::vector<std::uint8_t> &eeprom)
    {
        ASSERT_TRUE(form);
        EXPECT_TRUE(form->closing());
        EXPECT_EQ(closedSignals, 1);
        EXPECT_EQ(form->handlerDepth(), 0);
        EXPECT_FALSE(form->isVisible());
        EXPECT_EQ(board.eeprom(), eeprom) << "EEPROM written by a run the window's closing cut short";
        for (QWidget *w : QApplication::topLevelWidgets())
            EXPECT_FALSE(w->isVisible()) << "left open: " << w->metaObject()->className() << " "
                                         << w->objectName().toStdString();

        form->deleteLater();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(form.isNull()) << "the window can be deleted once closed";

        // The station's event loop ends.
        QEventLoop loop;
        QTimer::singleShot(0, &loop, &QEventLoop::quit);
        EXPECT_EQ(loop.exec(), 0);
    }
};

// Closing the window while a modal prompt of a row waits for the technician.
TEST(Lifecycle, ClosingDuringEveryModalPrompt)
{
    struct Case {
        const char *what;
        const char *goButton;
        // Steps up to the prompt, ending with closing the window there.
        std::function<void(Station &, ModalDriver &)> steps;
    };
    auto closeIt = [](Station &s) { return [&s](QWidget *) { s.form->close(); }; };
    auto typeMeter = [](Station &s) {
        return [&s](QWidget *dialog) {
            for (int i = 0; i < 4; ++i)
                if (auto *edit = dialog->findChild<QLineEdit *>(QStringLiteral("DacEdit%1").arg(i)))
                    edit->setText(QLocale().toString(s.board.meterDac(i), 'f', 4));
        };
    };
    const Case cases[] = {
        {"jig prompt (DIO Pullup)", "TagTest0GoButton",
         [&](Station &s, ModalDriver &d) { d.expectModal(QStringLiteral("SystemMessageBox")).check(closeIt(s)); }},
        {"jig prompt (A/D ladder)", "TagTest5GoButton",
         [&](Station &s, ModalDriver &d) { d.expectModal(QStringLiteral("SystemMessageBox")).check(closeIt(s)); }},
        {"ARef prompt, a value typed", "TagTest3GoButton",
         [&](Station &s, ModalDriver &d) {
             d.expectModal(QStringLiteral("PromptForTextDialog"))
                 .typeText(QLocale().toString(9.9339, 'f', 4))
                 .check(closeIt(s));
         }},
        {"DAC range dialog", "TagTest8GoButton",
         [&](Station &s, ModalDriver &d) { d.expectModal(QStringLiteral("DacRangeDialog")).check(closeIt(s)); }},
        {"DAC low reading dialog, readings typed", "TagTest8GoButton",
         [&](Station &s, ModalDriver &d) {
             d.expectModal(QStringLiteral("DacRangeDialog")).clickButton(QStringLiteral("OK"));
             d.expectModal(QStringLiteral("DacReadingDialog")).check(typeMeter(s)).check(closeIt(s));
         }},
        {"DAC high reading dialog", "TagTest8GoButton",
         [&](Station &s, ModalDriver &d) {
             d.expectModal(QStringLiteral("DacRangeDialog")).clickButton(QStringLiteral("OK"));
             d.expectModal(QStringLiteral("DacReadingDialog")).check(typeMeter(s)).clickButton(QStringLiteral("OK"));
             d.expectModal(QStringLiteral("DacReadingDialog")).check(typeMeter(s)).check(closeIt(s));
         }},
        {"D/A Cal Check dialog", "TagTest9GoButton",
         [&](Station &s, ModalDriver &d) {
             d.expectModal(QStringLiteral("DacRangeDialog")).clickButton(QStringLiteral("OK"));
             d.expectModal(QStringLiteral("DacScaleDialog"))
                 .clickObject(QStringLiteral("DacScaleGroupItem2"))
                 .check(closeIt(s));
         }},
        {"ramp question", "TagTestAGoButton",
         [&](Station &s, ModalDriver &d) { d.expectTopLevel(QLatin1String("PolledQuestionBox")).check(closeIt(s)); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Station s;
        const std::vector<std::uint8_t> before = s.board.eeprom();
        {
            ModalDriver driver;
            c.steps(s, driver);
            s.click(QLatin1String(c.goButton));
            EXPECT_TRUE(driver.isDone());
            EXPECT_FALSE(driver.hasFailed());
        }
        s.expectClosedAndGone(before);
    }
}

// The monitor: closed while it polls, and a Detect run from inside it first.
TEST(Lifecycle, MonitorClosedWhileRunningAndDetectInsideIt)
{
    for (const bool detectFirst : {false, true}) {
        SCOPED_TRACE(detectFirst ? "Detect pressed inside the monitor, then closed" : "closed");
        Station s;
        const std::vector<std::uint8_t> before = s.board.eeprom();
        int listings = 0;
        int detections = 0;
        QStringList lastListing;
        // Acts on the listings as they appear: Detect at the first (when asked), close
        // at the next. The guard closes the window anyway so nothing can wait forever.
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            const QStringList lines = s.form ? s.form->monitorLines() : QStringList();
            if (lines.isEmpty() || lines == lastListing)
                return;
            lastListing = lines;
            ++listings;
            if (detectFirst && detections == 0) {
                ++detections;
                s.clickLater(QStringLiteral("DetectButton"));
            } else {
                s.closeLater();
            }
        });
        watch.start(5);
        QTimer::singleShot(20000, s.form, [&s] { s.form->close(); });
        s.click(QStringLiteral("CyclicGoButton"));
        watch.stop();
        EXPECT_GE(listings, detectFirst ? 2 : 1);
        EXPECT_FALSE(s.form->state().cyclicRunning);
        if (detectFirst) {
            EXPECT_EQ(s.form->detectLabelText(), QStringLiteral("Detected"));
        }
        s.expectClosedAndGone(before);
    }
}

// A monitor closed while it polls leaves its acquisition outstanding (and the 10 Hz
// clock running). The library keeps delivering scans after the window is deleted, so
// the buffer it writes into must outlive the window (under ASan a write into freed
// memory aborts here).
TEST(Lifecycle, AcquisitionLeftByTheMonitorOutlivesTheWindow)
{
    Station s;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (s.form && !s.form->monitorLines().isEmpty())
            s.closeLater();
    });
    watch.start(5);
    QTimer::singleShot(20000, s.form, [&s] { s.form->close(); });
    s.click(QStringLiteral("CyclicGoButton"));
    watch.stop();
    delete s.form.data();

    const bool outstanding = s.board.acquisitionOutstanding();
    auto &buffer = processAcquisitionBuffers().monitor;
    buffer.fill(0);
    QThread::msleep(250); // a tick of the 10 Hz clock
    quint32 left = 0;
    s.board.ADC_BulkPoll(diOnly, &left);
    if (outstanding && left == 0) {
        EXPECT_TRUE(std::any_of(buffer.begin(), buffer.end(), [](quint16 v) { return v != 0; }))
            << "the scan delivered after the window went must land in the process's buffer";
    }
}

// The ramp with the real question: Detect pressed while it runs, then answered; and a
// row's Test pressed inside it, closed at that row's first prompt.
TEST(Lifecycle, ButtonsPressedInsideTheRamp)
{
    {
        SCOPED_TRACE("Detect inside the ramp");
        Station s;
        const std::vector<std::uint8_t> before = s.board.eeprom();
        {
            ModalDriver driver;
            driver.expectTopLevel(QLatin1String("PolledQuestionBox")).check([&s](QWidget *box) {
                QTimer::singleShot(0, s.form, [&s, box = QPointer<QWidget>(box)] {
                    s.click(QStringLiteral("DetectButton"));
                    // After the nested detection the question is still open and answers the run.
                    ASSERT_TRUE(box);
                    auto *question = qobject_cast<QMessageBox *>(box.data());
                    ASSERT_TRUE(question);
                    question->button(QMessageBox::Yes)->click();
                });
            });
            s.click(QStringLiteral("TagTestAGoButton"));
            EXPECT_TRUE(driver.isDone());
        }
        EXPECT_EQ(s.form->detectLabelText(), QStringLiteral("Detected"));
        EXPECT_EQ(s.form->state().dacRange.DacRange, -1) << "the nested detection ran";
        EXPECT_EQ(s.form->record(10).Status, TestStatus::Pass);
        s.form->close();
        s.expectClosedAndGone(before);
    }
    {
        SCOPED_TRACE("D/A Cal Set pressed inside the ramp, window closed at its range dialog");
        Station s;
        const std::vector<std::uint8_t> before = s.board.eeprom();
        {
            ModalDriver driver;
            driver.expectTopLevel(QLatin1String("PolledQuestionBox")).check([&s](QWidget *) {
                s.clickLater(QStringLiteral("TagTest8GoButton"));
            });
            driver.expectModal(QStringLiteral("DacRangeDialog")).check([&s](QWidget *) { s.form->close(); });
            s.click(QStringLiteral("TagTestAGoButton"));
            EXPECT_TRUE(driver.isDone());
            EXPECT_FALSE(driver.hasFailed());
        }
        s.expectClosedAndGone(before);
    }
}

// The virtual technician answers at once and serves events in every pass: buttons are
// pressed from those passes, as a person clicking during a run would.
TEST(Lifecycle, NestedRunsWithTheVirtualTechnician)
{
    {
        SCOPED_TRACE("Test All pressed while Test All runs, window closed in the ramp");
        Station s(true);
        int testAllClicks = 0;
        bool closedInRamp = false;
        std::vector<std::uint8_t> atClose;
        s.tech->onProcessEvents = [&] {
            if (!s.form || s.form->closing())
                return;
            if (testAllClicks == 0) {
                ++testAllClicks;
                s.click(QStringLiteral("TestAllButton")); // ignored: a run is under way
            } else if (!s.tech->prompts().isEmpty()
                       && s.tech->prompts().last().kind == QLatin1String("ScopeQuestion")) {
                closedInRamp = true;
                atClose = s.board.eeprom();
                s.form->close();
            }
        };
        s.click(QStringLiteral("TestAllButton"));
        EXPECT_TRUE(closedInRamp);
        int jigPrompts = 0;
        for (const sim::PromptRecord &p : s.tech->prompts())
            jigPrompts += p.caption == QLatin1String("No Test Jig");
        EXPECT_EQ(jigPrompts, 1) << "the nested Test All ran nothing";
        for (int i = 0; i < 10; ++i)
            EXPECT_EQ(s.form->record(i).Status, TestStatus::Pass) << i;
        EXPECT_NE(s.form->overallLabelText(), QStringLiteral("PASS")) << "a run cut short cannot pass";
        s.tech->onProcessEvents = nullptr;
        s.expectClosedAndGone(atClose);
    }
    {
        SCOPED_TRACE("Calibration Voltages pressed inside the ramp; both finish");
        Station s(true);
        bool pressed = false;
        s.tech->onProcessEvents = [&] {
            if (!pressed && !s.tech->prompts().isEmpty()
                && s.tech->prompts().last().kind == QLatin1String("ScopeQuestion")) {
                pressed = true;
                s.click(QStringLiteral("TagTest3GoButton"));
            }
        };
        s.click(QStringLiteral("TagTestAGoButton"));
        EXPECT_TRUE(pressed);
        EXPECT_EQ(s.form->record(3).Status, TestStatus::Pass);
        EXPECT_EQ(s.form->record(10).Status, TestStatus::Pass);
        EXPECT_EQ(s.form->handlerDepth(), 0);
        s.tech->onProcessEvents = nullptr;
        const std::vector<std::uint8_t> after = s.board.eeprom();
        s.form->close();
        s.expectClosedAndGone(after);
    }
}

} // namespace
} // namespace quillon
