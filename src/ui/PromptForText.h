#pragma once

#include <QDialog>
#include <QString>

class QFont;
class QLabel;
class QLineEdit;
class QPushButton;

namespace quillon {

// Average character width and height of a font, the units the text prompt is laid out in.
struct DialogUnits {
    int x = 0; // width of "A".."Z" "a".."z" / 52, remainder dropped
    int y = 0; // text height
};

DialogUnits measureDialogUnits(const QFont &font);

// a * b / c rounded to the nearest integer, halves away from zero; -1 when c is 0.
int mulDiv(int a, int b, int c);

// The modal one-line text prompt. Application-owned, fixed border, centred on the
// screen; laid out in dialog units of its own font. OK is the default button, Cancel
// (Escape, window button) rejects.
class PromptForTextDialog : public QDialog {
    Q_OBJECT
public:
    PromptForTextDialog(const QString &caption, const QString &prompt, const QString &value, QWidget *parent = nullptr);

    QString text() const;
    QLabel *promptLabel() const { return m_label; }
    QLineEdit *edit() const { return m_edit; }
    QPushButton *okButton() const { return m_ok; }
    QPushButton *cancelButton() const { return m_cancel; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    QLabel *m_label = nullptr;
    QLineEdit *m_edit = nullptr;
    QPushButton *m_ok = nullptr;
    QPushButton *m_cancel = nullptr;
};

// Asks for a line of text. True and the entered text in value on OK; false and value
// untouched otherwise.
bool PromptForText(const QString &caption, const QString &prompt, QString &value);

} // namespace quillon
