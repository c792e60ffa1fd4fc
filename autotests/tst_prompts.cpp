#include "support/ModalDriver.h"
#include "ui/PromptForText.h"
#include "ui/PolledQuestionBox.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace quillon {

using testing::ModalDriver;

TEST(MulDiv, RoundsHalvesAwayFromZero)
{
    struct Case {
        int a, b, c, expected;
    };
    const Case cases[] = {
        {180, 7, 4, 315}, {80, 13, 8, 130}, {8, 13, 8, 13}, {7, 1, 2, 4},  {5, 1, 4, 1},
        {6, 1, 4, 2},     {-7, 1, 2, -4},   {7, -1, 2, -4}, {1, 1, 0, -1}, {2000000000, 3, 1000000000, 6}};
    for (const Case &c : cases)
        EXPECT_EQ(mulDiv(c.a, c.b, c.c), c.expected) << c.a << "*" << c.b << "/" << c.c;
}

TEST(PromptForText, LaidOutInDialogUnitsOfItsFont)
{
    ModalDriver driver;
    driver.expectModal(QStringLiteral("PromptForTextDialog"))
        .check([](QWidget *w) {
            auto *dialog = qobject_cast<PromptForTextDialog *>(w);
            ASSERT_NE(dialog, nullptr);
            const DialogUnits du = measureDialogUnits(dialog->font());
            ASSERT_GT(du.x, 0);
            ASSERT_GT(du.y, 0);
            const auto dx = [&](int n) { return mulDiv(n, du.x, 4); };
            const auto dy = [&](int n) { return mulDiv(n, du.y, 8); };
            EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Reference Voltage"));
            EXPECT_EQ(dialog->size(), QSize(dx(180), dy(80)));
            EXPECT_EQ(dialog->minimumSize(), dialog->maximumSize()) << "fixed border";
            EXPECT_EQ(dialog->promptLabel()->geometry(), QRect(dx(8), dy(8), dx(164), dy(28)));
            EXPECT_TRUE(dialog->promptLabel()->wordWrap());
            EXPECT_EQ(dialog->promptLabel()->text(), QStringLiteral("Type the meter reading."));
            EXPECT_EQ(dialog->edit()->x(), dx(8));
            EXPECT_EQ(dialog->edit()->y(), dy(36));
            EXPECT_EQ(dialog->edit()->width(), dx(164));
            EXPECT_EQ(dialog->edit()->maxLength(), 255);
            EXPECT_EQ(dialog->okButton()->geometry(), QRect(dx(38), dy(58), dx(50), dy(14)));
            EXPECT_EQ(dialog->cancelButton()->geometry(), QRect(dx(92), dy(58), dx(50), dy(14)));
            EXPECT_TRUE(dialog->okButton()->isDefault());
            EXPECT_EQ(dialog->okButton()->text(), QStringLiteral("OK"));
            EXPECT_EQ(dialog->cancelButton()->text(), QStringLiteral("Cancel"));
            // The current value is all selected and has the focus, ready to be typed over.
            EXPECT_EQ(dialog->focusWidget(), dialog->edit());
            EXPECT_EQ(dialog->edit()->selectedText(), QStringLiteral("9.93"));
            // Centred on the screen, frame included.
            const QRect screen = dialog->screen()->geometry();
            EXPECT_LE(std::abs(dialog->frameGeometry().center().x() - screen.center().x()), 1);
            EXPECT_LE(std::abs(dialog->frameGeometry().center().y() - screen.center().y()), 1);
        })
        .clickButton(QStringLiteral("Cancel"));
    QString value = QStringLiteral("9.93");
    EXPECT_FALSE(PromptForText(QStringLiteral("Reference Voltage"), QStringLiteral("Type the meter reading."), value));
}

TEST(PromptForText, AnythingButOkLeavesTheValue)
{
    struct Case {
        const char *name;
        std::function<void(ModalDriver &)> answer;
    };
    const Case cases[] = {
        {"Cancel", [](ModalDriver &d) { d.typeText(QStringLiteral("1.5")).clickButton(QStringLiteral("Cancel")); }},
        {"Escape", [](ModalDriver &d) { d.typeText(QStringLiteral("1.5")).pressKey(Qt::Key_Escape); }},
        {"close button", [](ModalDriver &d) { d.typeText(QStringLiteral("1.5")).closeWindow(); }},
    };
    for (const Case &c : cases) {
        ModalDriver driver;
        c.answer(driver.expectModal(QStringLiteral("PromptForTextDialog")));
        QString value = QStringLiteral("kept");
        EXPECT_FALSE(PromptForText(QStringLiteral("c"), QStringLiteral("p"), value)) << c.name;
        EXPECT_EQ(value, QStringLiteral("kept")) << c.name;
        EXPECT_TRUE(driver.isDone()) << c.name;
    }
}

TEST(PromptForText, OkReturnsWhatWasTyped)
{
    struct Case {
        const char *name;
        QString initial;
        std::function<void(ModalDriver &)> answer;
        QString expected;
    };
    const Case cases[] = {
        // Typing replaces the selected value.
        {"typed over, OK", QStringLiteral("9.93"),
         [](ModalDriver &d) { d.typeText(QStringLiteral("9,9312")).clickButton(QStringLiteral("OK")); },
         QStringLiteral("9,9312")},
        {"Enter", QString(), [](ModalDriver &d) { d.typeText(QStringLiteral("abc")).pressKey(Qt::Key_Return); },
         QStringLiteral("abc")},
        {"empty", QStringLiteral("9.93"),
         [](ModalDriver &d) { d.pressKey(Qt::Key_Delete).clickButton(QStringLiteral("OK")); }, QString()},
        {"unchanged", QStringLiteral("1.0"), [](ModalDriver &d) { d.clickButton(QStringLiteral("OK")); },
         QStringLiteral("1.0")},
        {"256 typed keep 255", QString(),
         [](ModalDriver &d) { d.typeText(QString(256, QLatin1Char('7'))).clickButton(QStringLiteral("OK")); },
         QString(255, QLatin1Char('7'))},
    };
    for (const Case &c : cases) {
        ModalDriver driver;
        c.answer(driver.expectModal(QStringLiteral("PromptForTextDialog")));
        QString value = c.initial;
        EXPECT_TRUE(PromptForText(QStringLiteral("c"), QStringLiteral("p"), value)) << c.name;
        EXPECT_EQ(value, c.expected) << c.name;
        EXPECT_TRUE(value.isEmpty() == c.expected.isEmpty()) << c.name;
    }
}

// --- PolledQuestionBox ----------------------------------------------------------------------

TEST(PolledQuestionBox, ConstructedSuspendedWithYesNoQuestionFlags)
{
    PolledQuestionBox ask;
    EXPECT_EQ(ask.buttons, 4);
    EXPECT_EQ(ask.icon, 32);
    EXPECT_EQ(ask.box(), nullptr);
    EXPECT_FALSE(ask.isDone());
    QCoreApplication::processEvents();
    for (QWidget *w : QApplication::topLevelWidgets())
        EXPECT_FALSE(w->isVisible() && w->objectName() == QLatin1String(PolledQuestionBox::BoxObjectName));
}

namespace {

std::unique_ptr<PolledQuestionBox> startScopeQuestion()
{
    auto ask = std::make_unique<PolledQuestionBox>();
    ask->text = QStringLiteral("Are they both good?");
    ask->caption = QStringLiteral("Scope Check");
    ask->start();
    return ask;
}

// Lets events run until the question is answered (at most 5 s), as the ramp does
// between writes.
void pollUntilDone(PolledQuestionBox &ask)
{
    QTimer tick; // wakes the wait below
    tick.start(5);
    QElapsedTimer clock;
    clock.start();
    while (!ask.isDone() && clock.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

} // namespace

TEST(PolledQuestionBox, ShowsAModelessOwnerlessQuestionBox)
{
    const auto ask = startScopeQuestion();
    QMessageBox *box = ask->box();
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->isVisible());
    EXPECT_EQ(box->parentWidget(), nullptr);
    EXPECT_EQ(box->windowModality(), Qt::NonModal);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_EQ(box->objectName(), QLatin1String(PolledQuestionBox::BoxObjectName));
    EXPECT_EQ(box->windowTitle(), QStringLiteral("Scope Check"));
    EXPECT_EQ(box->text(), QStringLiteral("Are they both good?"));
    EXPECT_EQ(box->icon(), QMessageBox::Question);
    EXPECT_EQ(box->standardButtons(), QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(box->escapeButton(), box->button(QMessageBox::No));
    // Starting again shows no second box.
    ask->start();
    EXPECT_EQ(ask->box(), box);
}

TEST(PolledQuestionBox, AnswerIsTheSystemCodeOfTheWayTheBoxClosed)
{
    struct Case {
        const char *name;
        std::function<void(ModalDriver &)> answer;
        int expected;
    };
    const Case cases[] = {
        {"Yes", [](ModalDriver &d) { d.clickButton(QStringLiteral("Yes")); }, 6},
        {"No", [](ModalDriver &d) { d.clickButton(QStringLiteral("No")); }, 7},
        {"Escape", [](ModalDriver &d) { d.pressKey(Qt::Key_Escape); }, 7},
        {"close button", [](ModalDriver &d) { d.closeWindow(); }, 7},
    };
    for (const Case &c : cases) {
        const auto ask = startScopeQuestion();
        ModalDriver driver;
        // Open and unanswered: not done, however often it is asked.
        driver.expectTopLevel(QLatin1String(PolledQuestionBox::BoxObjectName)).check([&ask](QWidget *) {
            EXPECT_FALSE(ask->isDone());
            EXPECT_FALSE(ask->isDone());
        });
        c.answer(driver);
        pollUntilDone(*ask);
        ASSERT_TRUE(ask->isDone()) << c.name;
        EXPECT_EQ(ask->answer, c.expected) << c.name;
        EXPECT_EQ(ask->box(), nullptr) << c.name;
    }
}

TEST(PolledQuestionBox, DoneRightAfterTheAnswerWithoutAnotherEventPass)
{
    const auto ask = startScopeQuestion();
    QCoreApplication::processEvents();
    EXPECT_FALSE(ask->isDone());
    ask->box()->button(QMessageBox::Yes)->click();
    EXPECT_TRUE(ask->isDone());
    EXPECT_EQ(ask->answer, 6);
}

TEST(PolledQuestionBox, MainWindowKeepsWorkingWhileTheQuestionIsOpen)
{
    QWidget mainWindow;
    mainWindow.setWindowTitle(QStringLiteral("MainForm"));
    mainWindow.show();
    QPushButton detect(QStringLiteral("Detect"), &mainWindow);
    int clicks = 0;
    QObject::connect(&detect, &QPushButton::clicked, [&clicks] { ++clicks; });

    const auto ask = startScopeQuestion();
    // Clicks queued for the main window run during the poll, with the box still open.
    QTimer::singleShot(0, &detect, &QPushButton::click);
    QTimer::singleShot(20, &detect, &QPushButton::click);
    int clicksWhileOpen = -1;
    QTimer::singleShot(60, [&] {
        clicksWhileOpen = clicks;
        EXPECT_FALSE(ask->isDone());
        EXPECT_TRUE(detect.isEnabled());
        ask->box()->button(QMessageBox::No)->click();
    });
    pollUntilDone(*ask);
    EXPECT_EQ(clicksWhileOpen, 2);
    EXPECT_TRUE(ask->isDone());
    EXPECT_EQ(ask->answer, 7);
}

TEST(PolledQuestionBox, DeletingTheQuestionClosesItsBox)
{
    auto ask = startScopeQuestion();
    const QPointer<QMessageBox> box = ask->box();
    ASSERT_TRUE(box);
    ask.reset();
    EXPECT_TRUE(box.isNull());
}

TEST(PolledQuestionBox, AbandonAnswersNoWithOrWithoutTheBox)
{
    const auto open = startScopeQuestion();
    open->abandon();
    EXPECT_TRUE(open->isDone());
    EXPECT_EQ(open->answer, 7);

    PolledQuestionBox neverStarted;
    neverStarted.abandon();
    EXPECT_TRUE(neverStarted.isDone());
    EXPECT_EQ(neverStarted.answer, 7);
    neverStarted.start(); // too late: nothing is shown
    EXPECT_EQ(neverStarted.box(), nullptr);
}

// --- the driver the dialog tests stand on -------------------------------------------

namespace {

// Runs body with gtest failures captured instead of reported; returns their messages.
QStringList capturedFailures(const std::function<void()> &body)
{
    ::testing::TestPartResultArray results;
    {
        ::testing::ScopedFakeTestPartResultReporter reporter(
            ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &results);
        body();
    }
    QStringList messages;
    for (int i = 0; i < results.size(); ++i)
        messages.append(QString::fromUtf8(results.GetTestPartResult(i).message()));
    return messages;
}

} // namespace

TEST(ModalDriver, GivesUpOnAMissingDialogAndClosesWhatIsOpen)
{
    struct Case {
        const char *name;
        std::function<void(ModalDriver &)> script;
        const char *message;
    };
    const Case cases[] = {
        {"another dialog shows", [](ModalDriver &d) { d.expectModal(QStringLiteral("DacRangeDialog")); },
         "modal dialog DacRangeDialog did not appear"},
        {"no step for it", [](ModalDriver &) {}, "stayed open with no step left for it"},
        {"no such button", [](ModalDriver &d) { d.expectModal().clickButton(QStringLiteral("Retry")); },
         "could not click \"Retry\""},
    };
    for (const Case &c : cases) {
        bool answered = true;
        const QStringList failures = capturedFailures([&] {
            ModalDriver driver(200);
            c.script(driver);
            QString value = QStringLiteral("v");
            answered = PromptForText(QStringLiteral("c"), QStringLiteral("p"), value);
        });
        EXPECT_FALSE(answered) << c.name;
        ASSERT_EQ(failures.size(), 1) << c.name << ": " << qPrintable(failures.join(QLatin1Char('|')));
        EXPECT_TRUE(failures.front().contains(QLatin1String(c.message))) << qPrintable(failures.front());
    }
}

TEST(ModalDriver, StepsNeverReachedFail)
{
    const QStringList failures = capturedFailures([] {
        ModalDriver driver;
        driver.expectModal(QStringLiteral("DacScaleDialog")).clickButton(QStringLiteral("Yes"));
    });
    ASSERT_EQ(failures.size(), 1);
    EXPECT_TRUE(failures.front().contains(QLatin1String("DacScaleDialog never appeared")))
        << qPrintable(failures.front());
}

} // namespace quillon
