#pragma once

#include <QDialog>
#include <QLineEdit>
#include <QList>
#include <QPointer>
#include <QStringList>

#include <functional>

class QLabel;
class QPushButton;

namespace quillon {

class RadioGroupBox;

// The common frame of the DAC dialogs: application-owned, fixed single border, the
// given client size, the message font; centred on the main window each time it runs.
class DacDialogBase : public QDialog {
    Q_OBJECT
public:
    DacDialogBase(QWidget *mainWindow, const QString &name, int clientWidth, int clientHeight);
    int exec() override;

protected:
    void showEvent(QShowEvent *event) override;

private:
    QPointer<QWidget> m_mainWindow; // not owned
};

// The DAC range question: which of the four jumpered ranges the DACs are in.
class DacRangeDialog : public DacDialogBase {
    Q_OBJECT
public:
    // Item texts in DacRange order (0-5 V, +-5 V, 0-10 V, +-10 V).
    static QStringList itemTexts();

    explicit DacRangeDialog(QWidget *mainWindow = nullptr);

    // The item selected now; 3 (the preselection) unless the technician picked another.
    int selectedItem() const;

    QLabel *promptLabel() const { return m_label; }
    RadioGroupBox *group() const { return m_group; }
    QPushButton *okButton() const { return m_ok; }

private:
    QLabel *m_label = nullptr;
    RadioGroupBox *m_group = nullptr;
    QPushButton *m_ok = nullptr;
};

// An edit field that keeps its caret where it was when it gains the focus, instead of
// selecting its whole text on Tab.
class NoAutoSelectLineEdit : public QLineEdit {
    Q_OBJECT
public:
    using QLineEdit::QLineEdit;

protected:
    void focusInEvent(QFocusEvent *event) override;
};

// The D/A Cal Set reading dialog: a prompt, four DAC fields, OK only. Closing it any
// other way (window button, Escape) rejects it. Built once per run, shown up to twice.
class DacReadingForm : public DacDialogBase {
    Q_OBJECT
public:
    static constexpr int Fields = 4;

    explicit DacReadingForm(QWidget *mainWindow = nullptr);

    void setPrompt(const QString &prompt);
    // Sets the text (hidden fields too) and puts the caret after its last character.
    void setFieldText(int field, const QString &text);
    QString fieldText(int field) const;
    void hideField(int field);
    // Whether the field is still part of the dialog (not hidden), shown or not.
    bool isFieldVisible(int field) const;
    void focusField(int field);

    QLabel *promptLabel() const { return m_prompt; }
    QLabel *dacLabel(int field) const;
    QLineEdit *field(int field) const;
    QPushButton *okButton() const { return m_ok; }

private:
    QLabel *m_prompt = nullptr;
    QList<QLabel *> m_labels;
    QList<QLineEdit *> m_fields;
    QPushButton *m_ok = nullptr;
};

// The D/A Cal Check dialog: the technician picks output levels in the radio group
// (each pick calls the click handler) and answers Yes or No.
class DacScaleDialog : public DacDialogBase {
    Q_OBJECT
public:
    // Selects item 1 and so calls onScaleClick(1) before returning.
    DacScaleDialog(const QString &label, const QStringList &items, std::function<void(int)> onScaleClick,
                   QWidget *mainWindow = nullptr);

    QLabel *promptLabel() const { return m_label; }
    RadioGroupBox *group() const { return m_group; }
    QPushButton *yesButton() const { return m_yes; }
    QPushButton *noButton() const { return m_no; }

private:
    void scaleClicked(int item);

    std::function<void(int)> m_onScaleClick;
    QLabel *m_label = nullptr;
    RadioGroupBox *m_group = nullptr;
    QPushButton *m_yes = nullptr;
    QPushButton *m_no = nullptr;
};

} // namespace quillon
