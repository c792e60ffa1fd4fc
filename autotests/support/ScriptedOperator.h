#pragma once

#include "station/Operator.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <deque>
#include <functional>

namespace quillon::testing {

// One prompt as the station showed it.
struct Prompt {
    QString kind; // "Warning", "RetryCancel", "JigInfo", "YesNo", "Text", "DacRange",
                  // "DacReading", "DacScale", "Question"
    QString caption;
    QString text;
    int answer = 0; // code given back (DialogCode), or the item for DacRange
};

// An Operator for the suite: records every prompt and answers from a script.
// Unscripted prompts get the default answer (OK / Cancel for Retry-Cancel / Yes /
// empty text with OK / item 3 / DAC fields left as set / Yes on the scale dialog /
// Yes to the async question at once).
class ScriptedOperator : public Operator {
public:
    QList<Prompt> prompts;

    // Answers for message boxes, in order of appearance (consumed one by one).
    std::deque<int> boxAnswers;
    // Text prompts: each entry is (ok, text).
    std::deque<std::pair<bool, QString>> textAnswers;
    // DAC range items, in order.
    std::deque<int> rangeAnswers;
    // DAC reading dialogs: each entry fills the visible fields (index = DAC) and says
    // whether OK was pressed.
    struct Readings {
        bool ok = true;
        QStringList fields;
    };
    std::deque<Readings> readingAnswers;
    // Scale dialog: the picks made before answering, then the answer.
    struct ScaleAnswer {
        QList<int> picks;
        bool yes = true;
    };
    std::deque<ScaleAnswer> scaleAnswers;
    // Async question: answered after this many isDone() polls with this code.
    int questionPolls = 0;
    int questionAnswer = IdYes;
    // Called on every prompt before it is answered (e.g. to move the simulated jig).
    std::function<void(const Prompt &)> onPrompt;
    // Called on every processEvents().
    std::function<void()> onProcessEvents;
    int processEventsCount = 0;

    QStringList captions() const;

    int messageBox(BoxStyle style, const QString &caption, const QString &text) override;
    bool promptForText(const QString &caption, const QString &prompt, QString &value) override;
    int askDacRange() override;
    std::unique_ptr<DacReadingDialog> createDacReadingDialog() override;
    bool checkDacScale(const QString &label, const QStringList &items,
                       const std::function<void(int)> &onScaleClick) override;
    std::unique_ptr<AsyncQuestion> startQuestion(const QString &caption, const QString &text) override;
    void processEvents() override;
};

} // namespace quillon::testing
