#include "records/RecordingOperator.h"

#include "records/Recorder.h"
#include "records/Schema.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace quillon::records {

QString answerText(int code)
{
    switch (code) {
    case IdOk: return QStringLiteral("OK");
    case IdCancel: return QStringLiteral("Cancel");
    case IdRetry: return QStringLiteral("Retry");
    case IdYes: return QStringLiteral("Yes");
    case IdNo: return QStringLiteral("No");
    default: return QString::number(code);
    }
}

namespace {

class RecordingReadingDialog final : public DacReadingDialog {
public:
    RecordingReadingDialog(std::unique_ptr<DacReadingDialog> inner, Recorder &recorder)
        : m_inner(std::move(inner)), m_recorder(recorder)
    {
    }
    void setCaption(const QString &caption) override
    {
        m_caption = caption;
        m_inner->setCaption(caption);
    }
    void setPrompt(const QString &prompt) override
    {
        m_prompt = prompt;
        m_inner->setPrompt(prompt);
    }
    void setFieldText(int field, const QString &text) override { m_inner->setFieldText(field, text); }
    QString fieldText(int field) const override { return m_inner->fieldText(field); }
    void hideField(int field) override { m_inner->hideField(field); }
    bool isFieldVisible(int field) const override { return m_inner->isFieldVisible(field); }
    void focusField(int field) override { m_inner->focusField(field); }
    bool exec() override
    {
        const QString shown = utcNow();
        const bool ok = m_inner->exec();
        // What was in the visible fields when the dialog closed, in field order.
        QJsonArray fields;
        for (int i = 0; i < Fields; ++i)
            if (m_inner->isFieldVisible(i))
                fields.append(m_inner->fieldText(i));
        m_recorder.prompt(QStringLiteral("dac-readings"), m_caption, m_prompt,
                          ok ? QStringLiteral("OK") : QStringLiteral("Cancel"),
                          QString::fromUtf8(QJsonDocument(fields).toJson(QJsonDocument::Compact)), shown, utcNow());
        m_recorder.tap(Recorder::Tap::Prompt);
        return ok;
    }

private:
    std::unique_ptr<DacReadingDialog> m_inner;
    Recorder &m_recorder;
    QString m_caption, m_prompt;
};

// Recorded once answered (or, never answered, when the caller lets it go).
class RecordingQuestion final : public AsyncQuestion {
public:
    RecordingQuestion(std::unique_ptr<AsyncQuestion> inner, Recorder &recorder, QString caption, QString text)
        : m_inner(std::move(inner)), m_recorder(recorder), m_caption(std::move(caption)), m_text(std::move(text)),
          m_shown(utcNow())
    {
    }
    ~RecordingQuestion() override
    {
        if (!m_recorded)
            m_recorder.prompt(QStringLiteral("scope"), m_caption, m_text, QString(), std::nullopt, m_shown, QString());
    }
    RecordingQuestion(const RecordingQuestion &) = delete;
    RecordingQuestion &operator=(const RecordingQuestion &) = delete;

    bool isDone() override
    {
        const bool done = m_inner->isDone();
        if (done && !m_recorded) {
            m_recorded = true;
            m_recorder.prompt(QStringLiteral("scope"), m_caption, m_text, answerText(m_inner->answer()), std::nullopt,
                              m_shown, utcNow());
        }
        return done;
    }
    int answer() const override { return m_inner->answer(); }

private:
    std::unique_ptr<AsyncQuestion> m_inner;
    Recorder &m_recorder;
    QString m_caption, m_text, m_shown;
    bool m_recorded = false;
};

} // namespace

RecordingOperator::RecordingOperator(Operator &inner, Recorder &recorder) : m_inner(inner), m_recorder(recorder)
{
    m_recorder.setOperator(&m_inner);
}

int RecordingOperator::messageBox(BoxStyle style, const QString &caption, const QString &text)
{
    const QString shown = utcNow();
    const int code = m_inner.messageBox(style, caption, text);
    m_recorder.prompt(style == BoxStyle::RetryCancel ? QStringLiteral("retry-cancel") : QStringLiteral("message"),
                      caption, text, answerText(code), std::nullopt, shown, utcNow());
    m_recorder.tap(Recorder::Tap::Prompt);
    return code;
}

bool RecordingOperator::promptForText(const QString &caption, const QString &prompt, QString &value)
{
    const QString shown = utcNow();
    const bool ok = m_inner.promptForText(caption, prompt, value);
    m_recorder.prompt(QStringLiteral("text"), caption, prompt, ok ? QStringLiteral("OK") : QStringLiteral("Cancel"),
                      ok ? std::optional<QString>(value) : std::nullopt, shown, utcNow());
    m_recorder.tap(Recorder::Tap::Prompt);
    return ok;
}

int RecordingOperator::askDacRange()
{
    const QString shown = utcNow();
    const int item = m_inner.askDacRange();
    // The range dialog has no window title; its question is the label above the choices.
    m_recorder.prompt(QStringLiteral("dac-range"), QStringLiteral(""), QStringLiteral("What range are the DACs?"),
                      QString::number(item), std::nullopt, shown, utcNow());
    m_recorder.tap(Recorder::Tap::Prompt);
    return item;
}

std::unique_ptr<DacReadingDialog> RecordingOperator::createDacReadingDialog()
{
    return std::make_unique<RecordingReadingDialog>(m_inner.createDacReadingDialog(), m_recorder);
}

bool RecordingOperator::checkDacScale(const QString &label, const QStringList &items,
                                      const std::function<void(int)> &onScaleClick)
{
    const QString shown = utcNow();
    int picked = -1;
    const bool yes = m_inner.checkDacScale(label, items, [&](int item) {
        picked = item;
        onScaleClick(item);
    });
    // typed: the text of the scale item selected when the dialog closed (without its
    // mnemonic); its index should the item be unknown.
    std::optional<QString> pick;
    if (picked >= 0)
        pick = picked < items.size() ? QString(items.at(picked)).remove(QLatin1Char('&')) : QString::number(picked);
    m_recorder.prompt(QStringLiteral("dac-scale"), QString(), label, yes ? QStringLiteral("Yes") : QStringLiteral("No"),
                      pick, shown, utcNow());
    m_recorder.tap(Recorder::Tap::Prompt);
    return yes;
}

std::unique_ptr<AsyncQuestion> RecordingOperator::startQuestion(const QString &caption, const QString &text)
{
    auto question =
        std::make_unique<RecordingQuestion>(m_inner.startQuestion(caption, text), m_recorder, caption, text);
    m_recorder.tap(Recorder::Tap::Prompt);
    return question;
}

void RecordingOperator::processEvents()
{
    m_inner.processEvents();
}

} // namespace quillon::records
