#include "support/ScriptedOperator.h"

namespace quillon::testing {

namespace {

QString styleName(BoxStyle style)
{
    switch (style) {
    case BoxStyle::Warning: return QStringLiteral("Warning");
    case BoxStyle::RetryCancel: return QStringLiteral("RetryCancel");
    case BoxStyle::JigInfo: return QStringLiteral("JigInfo");
    case BoxStyle::YesNo: return QStringLiteral("YesNo");
    }
    return {};
}

template <typename T>
bool takeFront(std::deque<T> &queue, T &out)
{
    if (queue.empty())
        return false;
    out = queue.front();
    queue.pop_front();
    return true;
}

class ScriptedReadingDialog final : public DacReadingDialog {
public:
    explicit ScriptedReadingDialog(ScriptedOperator &op) : m_op(op) {}
    void setCaption(const QString &caption) override { m_caption = caption; }
    void setPrompt(const QString &prompt) override { m_prompt = prompt; }
    void setFieldText(int field, const QString &text) override { m_text[field] = text; }
    QString fieldText(int field) const override { return m_text[field]; }
    void hideField(int field) override { m_visible[field] = false; }
    bool isFieldVisible(int field) const override { return m_visible[field]; }
    void focusField(int) override {}
    bool exec() override
    {
        Prompt p{QStringLiteral("DacReading"), m_caption, m_prompt, IdOk};
        ScriptedOperator::Readings r;
        if (m_op.onPrompt)
            m_op.onPrompt(p);
        if (takeFront(m_op.readingAnswers, r)) {
            for (int i = 0; i < Fields && i < r.fields.size(); ++i)
                if (m_visible[i])
                    m_text[i] = r.fields[i];
        }
        p.answer = r.ok ? IdOk : IdCancel;
        m_op.prompts.append(p);
        return r.ok;
    }

private:
    ScriptedOperator &m_op;
    QString m_caption, m_prompt;
    QString m_text[Fields];
    bool m_visible[Fields] = {true, true, true, true};
};

class ScriptedQuestion final : public AsyncQuestion {
public:
    ScriptedQuestion(int polls, int answer) : m_polls(polls), m_answer(answer) {}
    bool isDone() override { return m_polls-- <= 0; }
    int answer() const override { return m_answer; }

private:
    int m_polls;
    int m_answer;
};

} // namespace

QStringList ScriptedOperator::captions() const
{
    QStringList out;
    for (const auto &p : prompts)
        out << p.caption;
    return out;
}

int ScriptedOperator::messageBox(BoxStyle style, const QString &caption, const QString &text)
{
    Prompt p{styleName(style), caption, text, 0};
    if (onPrompt)
        onPrompt(p);
    int answer = 0;
    if (!takeFront(boxAnswers, answer)) {
        switch (style) {
        case BoxStyle::RetryCancel: answer = IdCancel; break;
        case BoxStyle::YesNo: answer = IdYes; break;
        default: answer = IdOk; break;
        }
    }
    p.answer = answer;
    prompts.append(p);
    return answer;
}

bool ScriptedOperator::promptForText(const QString &caption, const QString &prompt, QString &value)
{
    Prompt p{QStringLiteral("Text"), caption, prompt, IdOk};
    if (onPrompt)
        onPrompt(p);
    std::pair<bool, QString> a{true, QString()};
    takeFront(textAnswers, a);
    p.answer = a.first ? IdOk : IdCancel;
    prompts.append(p);
    if (a.first)
        value = a.second;
    return a.first;
}

int ScriptedOperator::askDacRange()
{
    Prompt p{QStringLiteral("DacRange"), QString(), QStringLiteral("What range are the DACs?"), 3};
    if (onPrompt)
        onPrompt(p);
    int item = 3;
    takeFront(rangeAnswers, item);
    p.answer = item;
    prompts.append(p);
    return item;
}

std::unique_ptr<DacReadingDialog> ScriptedOperator::createDacReadingDialog()
{
    return std::make_unique<ScriptedReadingDialog>(*this);
}

bool ScriptedOperator::checkDacScale(const QString &label, const QStringList &items,
                                     const std::function<void(int)> &onScaleClick)
{
    Prompt p{QStringLiteral("DacScale"), QString(), label + QLatin1Char('\n') + items.join(QLatin1Char('|')), IdYes};
    if (onPrompt)
        onPrompt(p);
    onScaleClick(1);
    ScaleAnswer a;
    takeFront(scaleAnswers, a);
    for (int pick : a.picks)
        onScaleClick(pick);
    p.answer = a.yes ? IdYes : IdNo;
    prompts.append(p);
    return a.yes;
}

std::unique_ptr<AsyncQuestion> ScriptedOperator::startQuestion(const QString &caption, const QString &text)
{
    Prompt p{QStringLiteral("Question"), caption, text, questionAnswer};
    if (onPrompt)
        onPrompt(p);
    prompts.append(p);
    return std::make_unique<ScriptedQuestion>(questionPolls, questionAnswer);
}

void ScriptedOperator::processEvents()
{
    ++processEventsCount;
    if (onProcessEvents)
        onProcessEvents();
}

} // namespace quillon::testing
