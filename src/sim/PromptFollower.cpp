#include "sim/PromptFollower.h"

#include "sim/JigPrompts.h"
#include "sim/SimBoard.h"

namespace quillon::sim {

PromptFollower::PromptFollower(Operator &inner, SimBoard &board) : m_inner(inner), m_board(board)
{
}

int PromptFollower::messageBox(BoxStyle style, const QString &caption, const QString &text)
{
    const int answer = m_inner.messageBox(style, caption, text);
    if (!m_following || answer != IdOk)
        return answer;
    followJigPrompt(m_board.jig, caption);
    return answer;
}

bool PromptFollower::promptForText(const QString &caption, const QString &prompt, QString &value)
{
    return m_inner.promptForText(caption, prompt, value);
}

int PromptFollower::askDacRange()
{
    return m_inner.askDacRange();
}

std::unique_ptr<DacReadingDialog> PromptFollower::createDacReadingDialog()
{
    return m_inner.createDacReadingDialog();
}

bool PromptFollower::checkDacScale(const QString &label, const QStringList &items,
                                   const std::function<void(int)> &onScaleClick)
{
    return m_inner.checkDacScale(label, items, onScaleClick);
}

std::unique_ptr<AsyncQuestion> PromptFollower::startQuestion(const QString &caption, const QString &text)
{
    return m_inner.startQuestion(caption, text);
}

void PromptFollower::processEvents()
{
    m_inner.processEvents();
}

} // namespace quillon::sim
