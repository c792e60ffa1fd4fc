#pragma once

#include "station/Operator.h"

#include <QPointer>

#include <memory>

class QDialog;
class QWidget;

namespace quillon {

// The technician at the real station: every prompt is a Qt dialog or message box on
// the GUI thread. Modal prompts are application-modal and centred on the main window
// where the dialog asks for it. Not thread-safe: use from the GUI thread only.
class QtOperator : public Operator {
public:
    explicit QtOperator(QWidget *mainWindow = nullptr);
    ~QtOperator() override;

    QtOperator(const QtOperator &) = delete;
    QtOperator &operator=(const QtOperator &) = delete;

    // The window the DAC dialogs centre on (not owned; may be null).
    void setMainWindow(QWidget *mainWindow);
    QWidget *mainWindow() const;

    // Rejects every dialog or box this operator has open and makes every later prompt
    // answer Cancel/No (range: the preselected item) at once. The main window calls it
    // when it closes, so nested loops unwind before it is destroyed.
    void abandonAll();
    bool isAbandoned() const;

    int messageBox(BoxStyle style, const QString &caption, const QString &text) override;
    bool promptForText(const QString &caption, const QString &prompt, QString &value) override;
    int askDacRange() override;
    std::unique_ptr<DacReadingDialog> createDacReadingDialog() override;
    bool checkDacScale(const QString &label, const QStringList &items,
                       const std::function<void(int)> &onScaleClick) override;
    std::unique_ptr<AsyncQuestion> startQuestion(const QString &caption, const QString &text) override;
    void processEvents() override;

    // Shared with the reading dialogs and questions this operator hands out, which may
    // outlive a call; defined in the source.
    class Tracker;

private:
    QPointer<QWidget> m_mainWindow;
    std::shared_ptr<Tracker> m_tracker;
};

} // namespace quillon
