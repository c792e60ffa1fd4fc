#pragma once

#include "station/Operator.h"

namespace quillon::sim {

class SimBoard;

// For the interactive simulator: every prompt goes to the real operator (a person at
// the Qt dialogs); when the person confirms a jig prompt with OK, the simulated jig
// does what the prompt asked, as if the person had done it on the bench. Owns nothing.
class PromptFollower final : public Operator {
public:
    PromptFollower(Operator &inner, SimBoard &board);

    // Off: prompts are only forwarded and the jig stays as the bench window sets it.
    void setFollowing(bool on) { m_following = on; }
    bool following() const { return m_following; }

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
    SimBoard &m_board;
    bool m_following = true;
};

} // namespace quillon::sim
