#include "app/station/QtTestRow.h"

#include "app/station/MainForm.h"

#include <QAbstractButton>
#include <QLabel>
#include <QPlainTextEdit>
#include <QRegularExpression>

namespace quillon {

QtTestRow::QtTestRow(MainForm &form, int index, QPlainTextEdit *memo, QLabel *failLabel)
    : m_form(form), m_index(index), m_memo(memo), m_failLabel(failLabel)
{
}

TestStatus QtTestRow::status() const
{
    return m_form.record(m_index).Status;
}

void QtTestRow::setStatus(TestStatus status)
{
    m_form.TestTable[std::size_t(m_index)].Status = status;
}

void QtTestRow::refresh()
{
    m_form.RefreshStatus(m_index);
}

void QtTestRow::clearMemo()
{
    m_lines.clear();
    if (m_memo)
        m_memo->clear();
}

void QtTestRow::addLine(const QString &line)
{
    m_lines.append(line);
    if (m_memo)
        m_memo->appendPlainText(line);
}

void QtTestRow::setMemoText(const QString &text)
{
    // A memo holds lines: a final line break ends the last line, it does not start
    // an empty one.
    static const QRegularExpression lineBreak(QStringLiteral("\r\n|\r|\n"));
    m_lines = text.split(lineBreak);
    if (!m_lines.isEmpty() && m_lines.constLast().isEmpty())
        m_lines.removeLast();
    if (m_memo)
        m_memo->setPlainText(m_lines.join(QLatin1Char('\n')));
}

void QtTestRow::measured(const Measurement &m)
{
    m_form.rowMeasured(m);
}

void QtTestRow::setFailText(const QString &text)
{
    if (m_failLabel)
        m_failLabel->setText(text);
}

QString QtTestRow::failText() const
{
    return m_failLabel ? m_failLabel->text() : QString();
}

bool QtTestRow::hasDetails() const
{
    return m_form.record(m_index).DetailButton != nullptr;
}

bool QtTestRow::detailsDown() const
{
    const QAbstractButton *button = m_form.record(m_index).DetailButton;
    return button && button->isChecked();
}

void QtTestRow::pressDetails()
{
    QAbstractButton *button = m_form.record(m_index).DetailButton;
    if (!button)
        return;
    button->setChecked(true);
    m_form.DetailButtonClick(button);
}

} // namespace quillon
