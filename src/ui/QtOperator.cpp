#include "ui/QtOperator.h"

#include "ui/DacDialogs.h"
#include "ui/PromptForText.h"
#include "ui/SystemMessageBox.h"
#include "ui/PolledQuestionBox.h"

#include <QCoreApplication>
#include <QList>
#include <QMessageBox>

namespace quillon {

// Everything the operator has open, so abandonAll() can close it.
class QtOperator::Tracker {
public:
    bool abandoned = false;

    // Runs a dialog modally and returns its result; Rejected at once once abandoned.
    int exec(QDialog *dialog)
    {
        if (abandoned)
            return QDialog::Rejected;
        const QPointer<QDialog> guard(dialog);
        m_open.append(guard);
        const int result = dialog->exec();
        m_open.removeAll(guard);
        return abandoned ? int(QDialog::Rejected) : result;
    }

    void addQuestion(PolledQuestionBox *question)
    {
        m_questions.removeAll(QPointer<PolledQuestionBox>());
        m_questions.append(question);
    }

    void abandonAll()
    {
        abandoned = true;
        // Rejecting ends the dialog's loop; the caller's frame removes it from the list.
        const QList<QPointer<QDialog>> open = m_open;
        for (const QPointer<QDialog> &dialog : open)
            if (dialog)
                dialog->reject();
        for (const QPointer<PolledQuestionBox> &question : std::as_const(m_questions))
            if (question)
                question->abandon();
        m_questions.removeAll(QPointer<PolledQuestionBox>());
    }

private:
    QList<QPointer<QDialog>> m_open;
    QList<QPointer<PolledQuestionBox>> m_questions;
};

namespace {

int flagsFor(BoxStyle style)
{
    using namespace MessageBoxFlags;
    switch (style) {
    case BoxStyle::Warning: return Ok | IconExclamation;
    case BoxStyle::RetryCancel: return RetryCancel | IconExclamation;
    case BoxStyle::JigInfo: return Ok | IconAsterisk;
    case BoxStyle::YesNo: return YesNo | IconQuestion;
    }
    return Ok | IconExclamation;
}

// The answer a box gives when it is closed without a click.
int closedAnswer(BoxStyle style)
{
    switch (style) {
    case BoxStyle::RetryCancel: return IdCancel;
    case BoxStyle::YesNo: return IdNo;
    case BoxStyle::Warning:
    case BoxStyle::JigInfo: break;
    }
    return IdOk;
}

class QtDacReadingDialog : public DacReadingDialog {
public:
    QtDacReadingDialog(QWidget *mainWindow, std::shared_ptr<QtOperator::Tracker> tracker)
        : m_form(mainWindow), m_tracker(std::move(tracker))
    {
    }

    void setCaption(const QString &caption) override { m_form.setWindowTitle(caption); }
    void setPrompt(const QString &prompt) override { m_form.setPrompt(prompt); }
    void setFieldText(int field, const QString &text) override { m_form.setFieldText(field, text); }
    QString fieldText(int field) const override { return m_form.fieldText(field); }
    void hideField(int field) override { m_form.hideField(field); }
    bool isFieldVisible(int field) const override { return m_form.isFieldVisible(field); }
    void focusField(int field) override { m_form.focusField(field); }
    bool exec() override { return m_tracker->exec(&m_form) == QDialog::Accepted; }

private:
    DacReadingForm m_form;
    std::shared_ptr<QtOperator::Tracker> m_tracker;
};

class QtAsyncQuestion : public AsyncQuestion {
public:
    explicit QtAsyncQuestion(std::unique_ptr<PolledQuestionBox> question) : m_question(std::move(question)) {}

    bool isDone() override { return m_question->isDone(); }
    int answer() const override { return m_question->answer; }

private:
    std::unique_ptr<PolledQuestionBox> m_question;
};

} // namespace

QtOperator::QtOperator(QWidget *mainWindow) : m_mainWindow(mainWindow), m_tracker(std::make_shared<Tracker>())
{
}

QtOperator::~QtOperator() = default;

void QtOperator::setMainWindow(QWidget *mainWindow)
{
    m_mainWindow = mainWindow;
}

QWidget *QtOperator::mainWindow() const
{
    return m_mainWindow;
}

void QtOperator::abandonAll()
{
    m_tracker->abandonAll();
}

bool QtOperator::isAbandoned() const
{
    return m_tracker->abandoned;
}

int QtOperator::messageBox(BoxStyle style, const QString &caption, const QString &text)
{
    if (m_tracker->abandoned)
        return closedAnswer(style);
    // Application-owned and application-modal, like every box but the scope question.
    std::unique_ptr<QMessageBox> box(createSystemMessageBox(flagsFor(style), caption, text));
    box->setWindowModality(Qt::ApplicationModal);
    m_tracker->exec(box.get());
    if (m_tracker->abandoned)
        return closedAnswer(style);
    return systemMessageBoxAnswer(box.get());
}

bool QtOperator::promptForText(const QString &caption, const QString &prompt, QString &value)
{
    if (m_tracker->abandoned)
        return false;
    PromptForTextDialog dialog(caption, prompt, value);
    if (m_tracker->exec(&dialog) != QDialog::Accepted)
        return false;
    value = dialog.text();
    return true;
}

int QtOperator::askDacRange()
{
    DacRangeDialog dialog(m_mainWindow);
    m_tracker->exec(&dialog);
    return dialog.selectedItem();
}

std::unique_ptr<DacReadingDialog> QtOperator::createDacReadingDialog()
{
    return std::make_unique<QtDacReadingDialog>(m_mainWindow, m_tracker);
}

bool QtOperator::checkDacScale(const QString &label, const QStringList &items,
                               const std::function<void(int)> &onScaleClick)
{
    // Built even when abandoned: the preselection's DAC write belongs to the run.
    DacScaleDialog dialog(label, items, onScaleClick, m_mainWindow);
    return m_tracker->exec(&dialog) == QDialog::Accepted;
}

std::unique_ptr<AsyncQuestion> QtOperator::startQuestion(const QString &caption, const QString &text)
{
    auto question = std::make_unique<PolledQuestionBox>();
    question->text = text;
    question->caption = caption;
    if (m_tracker->abandoned) {
        question->abandon();
    } else {
        question->start();
        m_tracker->addQuestion(question.get());
    }
    return std::make_unique<QtAsyncQuestion>(std::move(question));
}

void QtOperator::processEvents()
{
    QCoreApplication::processEvents();
}

} // namespace quillon
