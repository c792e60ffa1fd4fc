#include "support/ModalDriver.h"
#include "ui/QtOperator.h"
#include "ui/PolledQuestionBox.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

namespace quillon {

using testing::ModalDriver;

namespace {

struct BoxLook {
    BoxStyle style;
    QMessageBox::Icon icon;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton escape;
    QMessageBox::ButtonRole firstRole; // of the button pressed to close it
};

const BoxLook Looks[] = {
    {BoxStyle::Warning, QMessageBox::Warning, QMessageBox::Ok, QMessageBox::Ok, QMessageBox::AcceptRole},
    {BoxStyle::RetryCancel, QMessageBox::Warning, QMessageBox::Retry | QMessageBox::Cancel, QMessageBox::Cancel,
     QMessageBox::AcceptRole},
    {BoxStyle::JigInfo, QMessageBox::Information, QMessageBox::Ok, QMessageBox::Ok, QMessageBox::AcceptRole},
    {BoxStyle::YesNo, QMessageBox::Question, QMessageBox::Yes | QMessageBox::No, QMessageBox::No, QMessageBox::YesRole},
};

// Lets events run until done() or 5 s have passed.
void pollUntil(const std::function<bool()> &done)
{
    QTimer tick;
    tick.start(5);
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

} // namespace

TEST(QtOperator, MessageBoxStyles)
{
    // Tabs, quotes and markup-like text are shown exactly as given.
    const QString text = QStringLiteral("Failed board detection with Windows error 31.\t<b>\"x\"</b>");
    for (const BoxLook &look : Looks) {
        QtOperator op;
        ModalDriver driver;
        driver.expectModal(QStringLiteral("SystemMessageBox"))
            .check([&](QWidget *w) {
                auto *box = qobject_cast<QMessageBox *>(w);
                ASSERT_NE(box, nullptr);
                EXPECT_EQ(box->windowTitle(), QStringLiteral("No-Board Error"));
                EXPECT_EQ(box->text(), text);
                EXPECT_EQ(box->textFormat(), Qt::PlainText);
                EXPECT_EQ(box->icon(), look.icon);
                EXPECT_EQ(box->standardButtons(), look.buttons);
                EXPECT_EQ(box->escapeButton(), box->button(look.escape));
                EXPECT_EQ(box->parentWidget(), nullptr);
                EXPECT_EQ(box->windowModality(), Qt::ApplicationModal);
            })
            .clickRole(look.firstRole);
        op.messageBox(look.style, QStringLiteral("No-Board Error"), text);
    }
}

TEST(QtOperator, MessageBoxAnswers)
{
    struct Case {
        BoxStyle style;
        const char *how;
        std::function<void(ModalDriver &)> answer;
        int expected;
    };
    const auto click = [](const char *text) { return [text](ModalDriver &d) { d.clickButton(QLatin1String(text)); }; };
    const auto close = [](ModalDriver &d) { d.closeWindow(); };
    const auto escape = [](ModalDriver &d) { d.pressKey(Qt::Key_Escape); };
    const auto enter = [](ModalDriver &d) { d.pressKey(Qt::Key_Return); };
    const Case cases[] = {
        {BoxStyle::Warning, "OK", click("OK"), IdOk},
        {BoxStyle::Warning, "close", close, IdOk},
        {BoxStyle::JigInfo, "OK", click("OK"), IdOk},
        {BoxStyle::JigInfo, "close", close, IdOk},
        {BoxStyle::JigInfo, "Enter", enter, IdOk},
        {BoxStyle::RetryCancel, "Retry", click("Retry"), IdRetry},
        {BoxStyle::RetryCancel, "Cancel", click("Cancel"), IdCancel},
        {BoxStyle::RetryCancel, "close", close, IdCancel},
        {BoxStyle::RetryCancel, "Escape", escape, IdCancel},
        {BoxStyle::RetryCancel, "Enter", enter, IdRetry},
        {BoxStyle::YesNo, "Yes", click("Yes"), IdYes},
        {BoxStyle::YesNo, "No", click("No"), IdNo},
        {BoxStyle::YesNo, "close", close, IdNo},
        {BoxStyle::YesNo, "Escape", escape, IdNo},
    };
    for (const Case &c : cases) {
        QtOperator op;
        ModalDriver driver;
        c.answer(driver.expectModal(QStringLiteral("SystemMessageBox")));
        EXPECT_EQ(op.messageBox(c.style, QStringLiteral("Caption"), QStringLiteral("Text")), c.expected)
            << int(c.style) << " " << c.how;
        EXPECT_TRUE(driver.isDone()) << c.how;
    }
}

TEST(QtOperator, PromptForTextThroughTheOperator)
{
    QtOperator op;
    ModalDriver driver;
    driver.expectModal(QStringLiteral("PromptForTextDialog"))
        .check([](QWidget *w) { EXPECT_EQ(w->windowTitle(), QStringLiteral("Reference")); })
        .typeText(QStringLiteral("9.9312"))
        .clickButton(QStringLiteral("OK"));
    driver.expectModal(QStringLiteral("PromptForTextDialog")).typeText(QStringLiteral("x")).closeWindow();
    QString value = QStringLiteral("9.93");
    EXPECT_TRUE(op.promptForText(QStringLiteral("Reference"), QStringLiteral("Type it."), value));
    EXPECT_EQ(value, QStringLiteral("9.9312"));
    EXPECT_FALSE(op.promptForText(QStringLiteral("Reference"), QStringLiteral("Type it."), value));
    EXPECT_EQ(value, QStringLiteral("9.9312"));
}

TEST(QtOperator, QuestionStaysOpenWhileTheCallerWorks)
{
    QtOperator op;
    const auto question = op.startQuestion(QStringLiteral("Scope Check"), QStringLiteral("Are they both good?"));
    int passes = 0;
    ModalDriver driver;
    driver.expectTopLevel(QLatin1String(PolledQuestionBox::BoxObjectName))
        .check([&](QWidget *w) {
            auto *box = qobject_cast<QMessageBox *>(w);
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(box->windowTitle(), QStringLiteral("Scope Check"));
            EXPECT_EQ(box->text(), QStringLiteral("Are they both good?"));
            EXPECT_EQ(box->icon(), QMessageBox::Question);
            EXPECT_FALSE(question->isDone());
        })
        .clickButton(QStringLiteral("Yes"));
    // The ramp's loop: work, let events run, ask.
    pollUntil([&] {
        ++passes;
        op.processEvents();
        return question->isDone();
    });
    EXPECT_TRUE(question->isDone());
    EXPECT_EQ(question->answer(), IdYes);
    EXPECT_GT(passes, 1);
}

TEST(QtOperator, AbandonAllClosesWhatIsOpen)
{
    struct Case {
        const char *name;
        const char *dialog;
        std::function<void(QtOperator &)> run; // runs the prompt and checks its answer
    };
    const Case cases[] = {
        {"Retry/Cancel box", "SystemMessageBox",
         [](QtOperator &op) {
             EXPECT_EQ(op.messageBox(BoxStyle::RetryCancel, QStringLiteral("c"), QStringLiteral("t")), IdCancel);
         }},
        {"Yes/No box", "SystemMessageBox",
         [](QtOperator &op) {
             EXPECT_EQ(op.messageBox(BoxStyle::YesNo, QStringLiteral("c"), QStringLiteral("t")), IdNo);
         }},
        {"text prompt", "PromptForTextDialog",
         [](QtOperator &op) {
             QString value = QStringLiteral("kept");
             EXPECT_FALSE(op.promptForText(QStringLiteral("c"), QStringLiteral("p"), value));
             EXPECT_EQ(value, QStringLiteral("kept"));
         }},
        {"range", "DacRangeDialog", [](QtOperator &op) { EXPECT_EQ(op.askDacRange(), 3); }},
        {"reading", "DacReadingDialog", [](QtOperator &op) { EXPECT_FALSE(op.createDacReadingDialog()->exec()); }},
        {"scale", "DacScaleDialog",
         [](QtOperator &op) {
             EXPECT_FALSE(op.checkDacScale(
                 QStringLiteral("l"), {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}, [](int) {}));
         }},
    };
    for (const Case &c : cases) {
        QtOperator op;
        ModalDriver driver;
        // The main window closing while the prompt is up: the prompt ends as cancelled...
        driver.expectModal(QLatin1String(c.dialog)).check([&op](QWidget *) { op.abandonAll(); });
        c.run(op);
        EXPECT_TRUE(driver.isDone()) << c.name;
        EXPECT_FALSE(driver.hasFailed()) << c.name;
        // ...and later prompts answer at once, without a dialog (the driver fails on one).
        c.run(op);
        EXPECT_TRUE(op.isAbandoned());
    }
}

TEST(QtOperator, AbandonAllEndsTheQuestion)
{
    QtOperator op;
    const auto open = op.startQuestion(QStringLiteral("Scope Check"), QStringLiteral("?"));
    EXPECT_FALSE(open->isDone());
    op.abandonAll();
    EXPECT_TRUE(open->isDone());
    EXPECT_EQ(open->answer(), IdNo);

    const auto late = op.startQuestion(QStringLiteral("Scope Check"), QStringLiteral("?"));
    EXPECT_TRUE(late->isDone());
    EXPECT_EQ(late->answer(), IdNo);
    for (QWidget *w : QApplication::topLevelWidgets())
        EXPECT_FALSE(w->isVisible() && w->objectName() == QLatin1String(PolledQuestionBox::BoxObjectName));
}

TEST(QtOperator, AbandonedScaleCheckStillSetsMidScale)
{
    QtOperator op;
    op.abandonAll();
    QList<int> picks;
    EXPECT_FALSE(op.checkDacScale(QStringLiteral("l"), {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")},
                                  [&picks](int item) { picks.append(item); }));
    EXPECT_EQ(picks, QList<int>{1});
}

} // namespace quillon
