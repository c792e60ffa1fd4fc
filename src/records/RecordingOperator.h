#pragma once

#include "station/Operator.h"

namespace quillon::records {

class Recorder;

// Passes every prompt to the operator behind it and records what was asked and
// answered. Shows nothing of its own: the technician sees exactly the inner prompts.
class RecordingOperator final : public Operator {
public:
    // Neither is owned; both must outlive this. Makes inner the recorder's operator.
    RecordingOperator(Operator &inner, Recorder &recorder);

    int messageBox(BoxStyle style, const QString &caption, const QString &text) override;
    bool promptForText(const QString &caption, const QString &prompt, QString &value) override;
    int askDacRange() override;
    std::unique_ptr<DacReadingDialog> createDacReadingDialog() override;
    bool checkDacScale(const QString &label, const QStringList &items,
                       const std::function<void(int)> &onScaleClick) override;
    std::unique_ptr<AsyncQuestion> startQuestion(const QString &caption, const QString &text) override;
    void processEvents() override;

private:
    Operator &m_inner;
    Recorder &m_recorder;
};

// The text of a dialog result code ("OK", "Cancel", "Retry", "Yes", "No", else the number).
QString answerText(int code);

} // namespace quillon::records
