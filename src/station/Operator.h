#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace quillon {

// Message-box styles the station uses.
enum class BoxStyle {
    Warning,     // OK, exclamation icon: warnings and internal errors
    RetryCancel, // Retry and Cancel, exclamation icon: detection errors
    JigInfo,     // OK, information icon: jig prompts
    YesNo,       // Yes and No, question icon
};

// Result codes of a message box (the system's values).
enum DialogCode : int { IdOk = 1, IdCancel = 2, IdRetry = 4, IdYes = 6, IdNo = 7 };

// A yes/no question that stays open while the caller keeps working (the D/A Ramp's
// scope question). The caller polls isDone() after each pass of the event loop and
// reads answer() once it is true.
class AsyncQuestion {
public:
    virtual ~AsyncQuestion() = default;
    virtual bool isDone() = 0;
    // IdYes, IdNo or another code for a box closed otherwise; valid once isDone().
    virtual int answer() const = 0;
};

// The D/A Cal Set reading dialog: built once per run, shown up to twice.
class DacReadingDialog {
public:
    static constexpr int Fields = 4;
    virtual ~DacReadingDialog() = default;
    virtual void setCaption(const QString &caption) = 0;
    virtual void setPrompt(const QString &prompt) = 0;
    // Sets a field's text (hidden fields too) and puts its caret after the last character.
    virtual void setFieldText(int field, const QString &text) = 0;
    virtual QString fieldText(int field) const = 0;
    virtual void hideField(int field) = 0;
    virtual bool isFieldVisible(int field) const = 0;
    virtual void focusField(int field) = 0;
    // Shows the dialog modally; true when it closed with OK.
    virtual bool exec() = 0;
};

// Everything the station asks of the technician. board/ and tests/ talk to the
// person only through this interface; ui/ implements it with real dialogs, sim/
// with the virtual technician, the autotests with a scripted operator.
class Operator {
public:
    virtual ~Operator() = default;

    // Modal message box; returns the DialogCode of the button pressed (a box closed
    // with its window button answers as its Cancel/No/OK button would).
    virtual int messageBox(BoxStyle style, const QString &caption, const QString &text) = 0;

    // Modal one-line text prompt. True and the entered text in value on OK; false and
    // value untouched otherwise.
    virtual bool promptForText(const QString &caption, const QString &prompt, QString &value) = 0;

    // The DAC range question: returns the item selected when the dialog closed
    // (0-3; item 3 is preselected), however it was closed.
    virtual int askDacRange() = 0;

    virtual std::unique_ptr<DacReadingDialog> createDacReadingDialog() = 0;

    // The D/A Cal Check dialog. items are the three radio texts (with & mnemonics).
    // onScaleClick is the radio group's click handler: the dialog selects item 1 (and
    // so calls onScaleClick(1)) before it is shown, and calls it again on every pick.
    // Returns true when the dialog closed with Yes.
    virtual bool checkDacScale(const QString &label, const QStringList &items,
                               const std::function<void(int)> &onScaleClick) = 0;

    // Starts the ownerless yes/no question (Yes/No, question icon).
    virtual std::unique_ptr<AsyncQuestion> startQuestion(const QString &caption, const QString &text) = 0;

    // Lets pending window messages run once.
    virtual void processEvents() = 0;
};

} // namespace quillon
