#include "sim/VirtualTechnician.h"

#include "sim/JigPrompts.h"

#include "sim/SimBoard.h"

#include <QCoreApplication>
#include <QLocale>

#include <algorithm>
#include <array>
#include <cmath>

namespace quillon::sim {

namespace {

QString styleKind(BoxStyle style)
{
    switch (style) {
    case BoxStyle::Warning: return QStringLiteral("Warning");
    case BoxStyle::RetryCancel: return QStringLiteral("RetryCancel");
    case BoxStyle::JigInfo: return QStringLiteral("JigInfo");
    case BoxStyle::YesNo: return QStringLiteral("YesNo");
    }
    return {};
}

struct Button {
    const char *name;
    int code;
};

constexpr std::array<Button, 5> kButtons{
    {{"OK", IdOk}, {"Cancel", IdCancel}, {"Retry", IdRetry}, {"Yes", IdYes}, {"No", IdNo}}};

QString buttonName(int code)
{
    for (const auto &b : kButtons)
        if (b.code == code)
            return QLatin1String(b.name);
    return QStringLiteral("Close");
}

// The buttons each box style shows, and what its window button answers.
QStringList boxButtons(BoxStyle style)
{
    switch (style) {
    case BoxStyle::RetryCancel: return {QStringLiteral("Retry"), QStringLiteral("Cancel")};
    case BoxStyle::YesNo: return {QStringLiteral("Yes"), QStringLiteral("No")};
    case BoxStyle::Warning:
    case BoxStyle::JigInfo: break;
    }
    return {QStringLiteral("OK")};
}

int closeCode(BoxStyle style)
{
    switch (style) {
    case BoxStyle::RetryCancel: return IdCancel;
    case BoxStyle::YesNo: return IdNo;
    case BoxStyle::Warning:
    case BoxStyle::JigInfo: break;
    }
    return IdOk;
}

int codeOf(const QString &button)
{
    for (const auto &b : kButtons)
        if (button == QLatin1String(b.name))
            return b.code;
    return IdCancel;
}

// D/A Cal Check items: minimum, mid and maximum code.
constexpr std::array<quint16, 3> kScaleCodes{0x0000, 0x8000, 0xFFFF};

PromptRecord makeRecord(const QString &kind, const QString &caption, const QString &text, const QString &answer)
{
    PromptRecord rec;
    rec.kind = kind;
    rec.caption = caption;
    rec.text = text;
    rec.answer = answer;
    return rec;
}

} // namespace

// The D/A Cal Set reading dialog as the technician fills it in.
class VirtualTechnician::ReadingDialog final : public DacReadingDialog {
public:
    explicit ReadingDialog(VirtualTechnician &tech) : m_tech(tech) {}

    void setCaption(const QString &caption) override { m_caption = caption; }
    void setPrompt(const QString &prompt) override { m_prompt = prompt; }
    void setFieldText(int field, const QString &text) override
    {
        if (valid(field))
            m_text[size_t(field)] = text;
    }
    QString fieldText(int field) const override { return valid(field) ? m_text[size_t(field)] : QString(); }
    void hideField(int field) override
    {
        if (valid(field))
            m_visible[size_t(field)] = false;
    }
    bool isFieldVisible(int field) const override { return valid(field) && m_visible[size_t(field)]; }
    void focusField(int) override {}

    bool exec() override
    {
        const QString kind = QStringLiteral("DacReading");
        const int o = m_tech.takeOverride(kind, m_caption);
        m_tech.checkActions(o, kind);
        const TechnicianOverride *ov = o >= 0 ? &m_tech.m_overrides[o] : nullptr;

        for (int i = 0; i < Fields; ++i) {
            if (!m_visible[size_t(i)])
                continue;
            if (ov && ov->fields) {
                // Fields the scenario does not mention stay as the dialog set them.
                if (i < ov->fields->size())
                    m_text[size_t(i)] = (*ov->fields)[i].value_or(typed(m_tech.m_board.meterDac(i)));
            } else if (!ov) {
                m_text[size_t(i)] = typed(m_tech.m_board.meterDac(i));
            }
        }

        QString answer = QStringLiteral("OK");
        if (ov && ov->press) {
            if (*ov->press == QLatin1String("OK") || *ov->press == QLatin1String("Close"))
                answer = *ov->press;
            else
                m_tech.problem(o, QStringLiteral("\"%1\" is not a button of \"%2\" (OK, or Close to close it)")
                                      .arg(*ov->press, m_caption));
        }

        PromptRecord rec = makeRecord(kind, m_caption, m_prompt, answer);
        for (int i = 0; i < Fields; ++i)
            if (m_visible[size_t(i)])
                rec.fields << m_text[size_t(i)];
        rec.overrideIndex = o;
        m_tech.m_prompts.append(rec);
        return answer == QLatin1String("OK");
    }

private:
    static bool valid(int field) { return field >= 0 && field < Fields; }

    VirtualTechnician &m_tech;
    QString m_caption, m_prompt;
    std::array<QString, Fields> m_text;
    std::array<bool, Fields> m_visible{true, true, true, true};
};

// The D/A Ramp's scope question: the technician watches the scope for a while, then
// answers. The record is filled in when the answer is given.
class VirtualTechnician::ScopeQuestion final : public AsyncQuestion {
public:
    ScopeQuestion(VirtualTechnician &tech, qsizetype record, int overrideIndex)
        : m_tech(tech), m_record(record), m_override(overrideIndex)
    {
    }

    bool isDone() override
    {
        if (m_answer != 0)
            return true;
        if (++m_polls < m_tech.scopePolls)
            return false;
        const TechnicianOverride *ov = m_override >= 0 ? &m_tech.m_overrides[m_override] : nullptr;
        if (ov && ov->press) {
            const QString &b = *ov->press;
            if (b == QLatin1String("Yes") || b == QLatin1String("No"))
                m_answer = codeOf(b);
            else if (b == QLatin1String("Close"))
                m_answer = IdCancel;
            else
                m_tech.problem(m_override,
                               QStringLiteral("\"%1\" is not a button of the scope question (Yes, No, Close)").arg(b));
        }
        if (m_answer == 0)
            m_answer = m_tech.scopeLooksRight() ? IdYes : IdNo;
        PromptRecord &rec = m_tech.m_prompts[m_record];
        rec.answer =
            (ov && ov->press && *ov->press == QLatin1String("Close")) ? QStringLiteral("Close") : buttonName(m_answer);
        rec.polls = m_polls;
        return true;
    }

    int answer() const override { return m_answer; }

private:
    VirtualTechnician &m_tech;
    qsizetype m_record;
    int m_override;
    int m_polls = 0;
    int m_answer = 0;
};

VirtualTechnician::VirtualTechnician(SimBoard &board) : m_board(board)
{
}

VirtualTechnician::~VirtualTechnician() = default;

void VirtualTechnician::setOverrides(const QList<TechnicianOverride> &overrides)
{
    m_overrides = overrides;
    m_used = QList<bool>(overrides.size(), false);
}

QList<int> VirtualTechnician::unusedOverrides() const
{
    QList<int> out;
    for (int i = 0; i < m_used.size(); ++i)
        if (!m_used[i])
            out << i;
    return out;
}

int VirtualTechnician::takeOverride(const QString &kind, const QString &caption)
{
    for (int i = 0; i < m_overrides.size(); ++i) {
        if (m_used[i])
            continue;
        const QString &c = m_overrides[i].caption;
        if ((!caption.isEmpty() && c == caption) || c == QLatin1Char('@') + kind) {
            m_used[i] = true;
            return i;
        }
    }
    return -1;
}

void VirtualTechnician::problem(int overrideIndex, const QString &what)
{
    m_problems << QStringLiteral("technician[%1]: %2").arg(overrideIndex).arg(what);
}

void VirtualTechnician::checkActions(int o, const QString &kind)
{
    if (o < 0)
        return;
    const TechnicianOverride &ov = m_overrides[o];
    const auto misplaced = [&](bool present, const char *key, const char *where) {
        if (present)
            problem(o, QStringLiteral("\"%1\" does not apply to a %2 prompt (only to %3); ignored")
                           .arg(QLatin1String(key), kind, QLatin1String(where)));
    };
    if (kind != QLatin1String("Text"))
        misplaced(ov.type.has_value(), "type", "the text prompt");
    if (kind != QLatin1String("DacReading"))
        misplaced(ov.fields.has_value(), "fields", "the DAC reading dialogs");
    if (kind != QLatin1String("DacRange"))
        misplaced(ov.range.has_value(), "range", "the DAC range question");
    if (kind != QLatin1String("DacScale"))
        misplaced(ov.picks.has_value(), "picks", "the D/A Cal Check dialog");
}

QString VirtualTechnician::typed(double volts)
{
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(volts, 'f', 4);
}

double VirtualTechnician::nominalVolts(quint16 code) const
{
    const int range = std::clamp(m_board.identity.dacJumperRange, 0, 3);
    const double span = (range == 0 || range == 1) ? 5.0 : 10.0;
    const bool bipolar = (range == 1 || range == 3);
    double x = double(code) / 65536.0;
    if (bipolar)
        x = 2.0 * x - 1.0;
    return span * x;
}

bool VirtualTechnician::outputsAt(quint16 code) const
{
    const double nominal = nominalVolts(code);
    for (int dac = 0; dac < 4; ++dac)
        if (!(std::abs(m_board.meterDac(dac) - nominal) <= dacToleranceVolts))
            return false;
    return true;
}

bool VirtualTechnician::scopeLooksRight() const
{
    // A saw tooth climbs in many small steps and drops once per period (or the reverse).
    const auto direction = [&](int dac) {
        const auto trace = m_board.scopeTrace(dac);
        int ups = 0, downs = 0;
        for (size_t i = 1; i < trace.size(); ++i) {
            const double d = trace[i].second - trace[i - 1].second;
            if (d > 0.001)
                ++ups;
            else if (d < -0.001)
                ++downs;
        }
        if (ups >= 8 && ups > 4 * downs)
            return +1;
        if (downs >= 8 && downs > 4 * ups)
            return -1;
        return 0;
    };
    return direction(0) == +1 && direction(2) == +1 && direction(1) == -1 && direction(3) == -1;
}

int VirtualTechnician::messageBox(BoxStyle style, const QString &caption, const QString &text)
{
    const QString kind = styleKind(style);
    const int o = takeOverride(kind, caption);
    checkActions(o, kind);
    PromptRecord rec = makeRecord(kind, caption, text, QString());
    rec.overrideIndex = o;

    int code = 0;
    if (o >= 0 && m_overrides[o].press) {
        const QString &b = *m_overrides[o].press;
        const QStringList buttons = boxButtons(style);
        if (b == QLatin1String("Close")) {
            code = closeCode(style);
            rec.answer = b;
        } else if (buttons.contains(b)) {
            code = codeOf(b);
            rec.answer = b;
        } else {
            problem(o, QStringLiteral("\"%1\" is not a button of \"%2\" (%3, Close)")
                           .arg(b, caption, buttons.join(QStringLiteral(", "))));
        }
    }
    if (code == 0 && o < 0) {
        // What the prompt asks of the bench, done before pressing OK.
        followJigPrompt(m_board.jig, caption);
    }
    if (code == 0) {
        // Warnings are acknowledged, a failed detection is given up, questions agreed to.
        code = style == BoxStyle::RetryCancel ? IdCancel : style == BoxStyle::YesNo ? IdYes : IdOk;
        rec.answer = buttonName(code);
    }
    m_prompts.append(rec);
    return code;
}

bool VirtualTechnician::promptForText(const QString &caption, const QString &prompt, QString &value)
{
    const QString kind = QStringLiteral("Text");
    const int o = takeOverride(kind, caption);
    checkActions(o, kind);
    PromptRecord rec = makeRecord(kind, caption, prompt, QStringLiteral("OK"));
    rec.overrideIndex = o;

    QString text;
    bool ok = true;
    if (o >= 0) {
        const TechnicianOverride &ov = m_overrides[o];
        if (ov.type)
            text = *ov.type;
        else if (caption == QLatin1String("ARef Cal"))
            text = typed(m_board.meterReference());
        if (ov.press) {
            if (*ov.press == QLatin1String("Cancel") || *ov.press == QLatin1String("Close")) {
                ok = false;
                rec.answer = *ov.press;
            } else if (*ov.press != QLatin1String("OK")) {
                problem(o,
                        QStringLiteral("\"%1\" is not a button of \"%2\" (OK, Cancel, Close)").arg(*ov.press, caption));
            }
        }
    } else if (caption == QLatin1String("ARef Cal")) {
        text = typed(m_board.meterReference());
    } else {
        // A prompt the technician has no instructions for: it does not guess.
        ok = false;
        rec.answer = QStringLiteral("Cancel");
    }
    if (ok || o >= 0)
        rec.typed = text;
    m_prompts.append(rec);
    if (ok)
        value = text;
    return ok;
}

int VirtualTechnician::askDacRange()
{
    const QString kind = QStringLiteral("DacRange");
    const int o = takeOverride(kind, QString());
    checkActions(o, kind);
    PromptRecord rec = makeRecord(kind, QString(), QStringLiteral("What range are the DACs?"), QStringLiteral("OK"));
    rec.overrideIndex = o;

    int item = std::clamp(m_board.identity.dacJumperRange, 0, 3);
    if (o >= 0) {
        const TechnicianOverride &ov = m_overrides[o];
        item = 3; // preselected
        if (ov.range)
            item = *ov.range;
        else if (!ov.press || *ov.press == QLatin1String("OK"))
            item = std::clamp(m_board.identity.dacJumperRange, 0, 3);
        if (ov.press && *ov.press == QLatin1String("Close"))
            rec.answer = *ov.press;
        else if (ov.press && *ov.press != QLatin1String("OK"))
            problem(o, QStringLiteral("\"%1\" is not a button of the DAC range question (OK, Close)").arg(*ov.press));
    }
    rec.range = item;
    m_prompts.append(rec);
    return item;
}

std::unique_ptr<DacReadingDialog> VirtualTechnician::createDacReadingDialog()
{
    return std::make_unique<ReadingDialog>(*this);
}

bool VirtualTechnician::checkDacScale(const QString &label, const QStringList &items,
                                      const std::function<void(int)> &onScaleClick)
{
    const QString kind = QStringLiteral("DacScale");
    const int o = takeOverride(kind, QString());
    checkActions(o, kind);
    PromptRecord rec = makeRecord(kind, QString(), label + QLatin1Char('\n') + items.join(QLatin1Char('|')), QString());
    rec.overrideIndex = o;

    // The dialog opens with Mid selected; its click handler has set the DACs.
    onScaleClick(1);
    QList<int> picks{0, 1, 2};
    if (o >= 0 && m_overrides[o].picks)
        picks = *m_overrides[o].picks;
    bool allGood = true;
    if (picks.isEmpty())
        allGood = outputsAt(kScaleCodes[1]);
    for (int item : picks) {
        onScaleClick(item);
        if (item >= 0 && item < int(kScaleCodes.size()))
            allGood = outputsAt(kScaleCodes[size_t(item)]) && allGood;
    }
    rec.picks = picks;

    bool yes = allGood;
    rec.answer = yes ? QStringLiteral("Yes") : QStringLiteral("No");
    if (o >= 0 && m_overrides[o].press) {
        const QString &b = *m_overrides[o].press;
        if (b == QLatin1String("Yes") || b == QLatin1String("No") || b == QLatin1String("Close")) {
            yes = b == QLatin1String("Yes");
            rec.answer = b;
        } else {
            problem(o, QStringLiteral("\"%1\" is not a button of the D/A Cal Check dialog (Yes, No, Close)").arg(b));
        }
    }
    m_prompts.append(rec);
    return yes;
}

std::unique_ptr<AsyncQuestion> VirtualTechnician::startQuestion(const QString &caption, const QString &text)
{
    const QString kind = QStringLiteral("ScopeQuestion");
    const int o = takeOverride(kind, caption);
    checkActions(o, kind);
    PromptRecord rec = makeRecord(kind, caption, text, QString());
    rec.overrideIndex = o;
    m_prompts.append(rec);
    return std::make_unique<ScopeQuestion>(*this, m_prompts.size() - 1, o);
}

void VirtualTechnician::processEvents()
{
    if (serveEvents)
        QCoreApplication::processEvents();
    if (onProcessEvents)
        onProcessEvents();
}

} // namespace quillon::sim
