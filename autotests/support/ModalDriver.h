#pragma once

#include <QElapsedTimer>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <deque>
#include <functional>
#include <vector>

class QWidget;

namespace quillon::testing {

// Answers dialogs for a test, so code that opens a modal dialog (or the modeless scope
// question) can run to its end without a person.
//
// Describe the dialogs in the order they will appear, then run the code under test:
//
//     ModalDriver driver;
//     driver.expectModal("PromptForTextDialog").typeText("9.9312").clickButton("OK");
//     driver.expectModal().check([](QWidget *box) { ... EXPECT_... ... }).pressKey(Qt::Key_Escape);
//     runTheTest();
//
// Each expect...() starts a step; the actions after it run in order on that dialog as
// soon as it is shown (from a 10 ms poll of QApplication::activeModalWidget(), or of
// the top-level widgets for expectTopLevel). A step never acts twice on one showing of
// a dialog, so a dialog that is shown again (the DAC reading dialog) is a new step.
//
// If the dialog of a step does not show within the timeout, or an action finds no
// target, the test fails (ADD_FAILURE) and the driver from then on closes every modal
// dialog and every expected top-level it sees, so nothing waits for a person. Steps
// still pending when the driver is destroyed fail too. Once every step has run, a modal
// dialog that stays open longer than the timeout is unexpected: it fails the test and
// is closed the same way (so a driver with no steps guards code that must not ask).
// GUI thread only.
class ModalDriver : public QObject {
    Q_OBJECT
public:
    explicit ModalDriver(int timeoutMs = 5000, QObject *parent = nullptr);
    ~ModalDriver() override;

    // A step on the next application-modal dialog; with a name, it must have that
    // object name (e.g. "DacRangeDialog", "SystemMessageBox").
    ModalDriver &expectModal(const QString &objectName = QString());
    // A step on a visible top-level widget with this object name (modeless boxes such
    // as the scope question, "PolledQuestionBox").
    ModalDriver &expectTopLevel(const QString &objectName);

    // Actions of the latest step.
    // Runs checks (EXPECT_...) on the dialog.
    ModalDriver &check(std::function<void(QWidget *dialog)> inspect);
    // Types text into the dialog's focus widget.
    ModalDriver &typeText(const QString &text);
    // Presses and releases a key at the dialog's focus widget (Escape, Return, Tab...).
    ModalDriver &pressKey(Qt::Key key);
    // Clicks the button whose text, '&' mnemonics removed, is text (e.g. "Yes", "OK").
    ModalDriver &clickButton(const QString &text);
    // Clicks the button (push or radio) with this object name, e.g. "DacScaleGroupItem0".
    ModalDriver &clickObject(const QString &objectName);
    // Clicks the message-box button with this role (e.g. QMessageBox::RejectRole).
    ModalDriver &clickRole(QMessageBox::ButtonRole role);
    // Closes the dialog as its window's close button would.
    ModalDriver &closeWindow();

    // True when every step has run.
    bool isDone() const { return m_steps.empty(); }
    // Lets events run until every step has run or timeoutMs passed; for code that does
    // not block in a dialog of its own (a modeless box). Returns isDone().
    bool waitUntilDone(int timeoutMs = 5000);
    // Whether the driver gave up (a step timed out or an action missed).
    bool hasFailed() const { return m_failed; }

private:
    struct Step {
        QString objectName;
        bool topLevel = false;
        std::vector<std::function<bool(QWidget *)>> actions;
        QString description;
    };

    ModalDriver &addAction(const QString &what, std::function<bool(QWidget *)> action);
    void poll();
    QWidget *findTarget(const Step &step) const;
    void perform(QPointer<QWidget> target);
    void watchForUnexpected();
    void fail(const QString &message);
    void giveUp();
    void closeLeftovers();
    bool eventFilter(QObject *watched, QEvent *event) override;

    int m_timeoutMs;
    QTimer m_poll;
    QElapsedTimer m_stepClock;
    std::deque<Step> m_steps;
    QStringList m_names;            // every object name expected, closed when giving up
    QPointer<QWidget> m_handled;    // acted on during its current showing
    QPointer<QWidget> m_unexpected; // open modal no step asked for, since m_unexpectedClock
    QElapsedTimer m_unexpectedClock;
    bool m_acting = false;
    bool m_failed = false;
};

} // namespace quillon::testing
