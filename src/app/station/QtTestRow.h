#pragma once

#include "station/Station.h"

#include <QPointer>
#include <QStringList>

class QLabel;
class QPlainTextEdit;

namespace quillon {

class MainForm;

// A test row over the controls of one table row. The memo lines are kept here, so
// empty lines and an empty memo read back exactly; the memo widget shows them.
// The row's Status lives in the window's TestTable.
class QtTestRow final : public TestRow {
public:
    QtTestRow(MainForm &form, int index, QPlainTextEdit *memo, QLabel *failLabel);

    int index() const override { return m_index; }
    TestStatus status() const override;
    void setStatus(TestStatus status) override;
    void refresh() override;
    void clearMemo() override;
    void addLine(const QString &line) override;
    void setMemoText(const QString &text) override;
    QStringList memoLines() const override { return m_lines; }
    void setFailText(const QString &text) override;
    bool hasDetails() const override;
    bool detailsDown() const override;
    void pressDetails() override;

    QString failText() const;
    bool hasFailLabel() const { return !m_failLabel.isNull(); }

protected:
    // Hands the measurement to the window, which tells its run listener.
    void measured(const Measurement &m) override;

private:
    MainForm &m_form;
    int m_index;
    QPointer<QPlainTextEdit> m_memo;
    QPointer<QLabel> m_failLabel;
    QStringList m_lines;
};

} // namespace quillon
