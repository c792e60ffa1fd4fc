#include "FaultPanel.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QScrollArea>
#include <QVBoxLayout>

#include <cmath>

namespace quillon::sim {

IntegerValidator::IntegerValidator(double minimum, double maximum, bool hex, QObject *parent)
    : QValidator(parent), m_minimum(minimum), m_maximum(maximum), m_hex(hex)
{
}

std::optional<double> IntegerValidator::value(const QString &text) const
{
    QString t = text.trimmed();
    int base = 10;
    if (t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
        t = t.mid(2);
        base = 16;
    } else if (m_hex) {
        base = 16;
    }
    if (t.isEmpty() || t.startsWith(QLatin1Char('+')))
        return std::nullopt;
    bool ok = false;
    const qlonglong v = t.toLongLong(&ok, base);
    if (!ok || double(v) < m_minimum || double(v) > m_maximum)
        return std::nullopt;
    return double(v);
}

QValidator::State IntegerValidator::validate(QString &input, int &) const
{
    if (value(input))
        return Acceptable;
    const QString t = input.trimmed();
    if (t.isEmpty() || t == QLatin1String("-") || t.compare(QLatin1String("0x"), Qt::CaseInsensitive) == 0)
        return Intermediate;
    // Digits that are only out of range may still be on their way to a valid number.
    static const QRegularExpression digits(QStringLiteral("^-?(0[xX])?[0-9A-Fa-f]{1,16}$"));
    return digits.match(t).hasMatch() ? Intermediate : Invalid;
}

QString IntegerValidator::text(double value, bool hex)
{
    const qlonglong v = std::llround(value);
    if (hex)
        return QStringLiteral("0x") + QString::number(v, 16).toUpper();
    return QString::number(v);
}

FaultPanel::FaultPanel(Faults &faults, QWidget *parent) : QWidget(parent), m_faults(faults)
{
    setObjectName(QStringLiteral("faultPanel"));
    // One scrolling list, a header per group, each switch with its values on one line
    // and what it breaks on the next.
    auto *page = new QWidget;
    auto *grid = new QGridLayout(page);
    grid->setColumnStretch(1, 1);
    grid->setVerticalSpacing(2);
    auto *scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("faultScroll"));
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidget(page);
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(scroll);

    QFont headerFont = font();
    headerFont.setBold(true);
    QFont smallFont = font();
    smallFont.setPointSizeF(smallFont.pointSizeF() * 0.9);

    QString group;
    const auto &table = faultSwitches();
    m_rows.reserve(table.size());
    for (const FaultSwitch &fault : table) {
        if (fault.group != group) {
            group = fault.group;
            auto *header = new QLabel(group);
            header->setObjectName(QStringLiteral("faultGroup_") + group);
            header->setFont(headerFont);
            header->setContentsMargins(0, grid->rowCount() > 0 ? 8 : 0, 0, 2);
            grid->addWidget(header, grid->rowCount(), 0, 1, 2);
        }
        addSwitch(grid, fault, smallFont);
    }
    grid->setRowStretch(grid->rowCount(), 1);

    // Connected after the rows are complete: the vector no longer moves.
    for (const Row &row : m_rows)
        connectRow(&row);
    syncFromBoard();
}

// One switch: its check box and value editors on one line, what it breaks on the next.
void FaultPanel::addSwitch(QGridLayout *grid, const FaultSwitch &fault, const QFont &smallFont)
{
    const int line = grid->rowCount();
    Row row;
    row.fault = &fault;
    row.check = new QCheckBox(fault.name);
    row.check->setObjectName(QStringLiteral("fault_") + fault.key);
    row.check->setToolTip(fault.description);
    grid->addWidget(row.check, line, 0);

    auto *values = new QHBoxLayout;
    values->setSpacing(4);
    for (const FaultParam &param : fault.params) {
        const QString editorName = row.check->objectName() + QLatin1Char('_') + QString::number(row.editors.size());
        row.editors.push_back(makeEditor(param, editorName, values));
    }
    values->addStretch();
    grid->addLayout(values, line, 1);

    auto *what = new QLabel(fault.description);
    what->setWordWrap(true);
    what->setFont(smallFont);
    what->setForegroundRole(QPalette::PlaceholderText);
    what->setContentsMargins(24, 0, 0, 4);
    grid->addWidget(what, line + 1, 0, 1, 2);
    m_rows.push_back(row);
}

// The editor of one value, after its label; none for an on/off param.
FaultPanel::Editor FaultPanel::makeEditor(const FaultParam &param, const QString &name, QHBoxLayout *values)
{
    Editor editor;
    if (std::holds_alternative<bool Faults::*>(param.field))
        return editor;
    values->addWidget(new QLabel(param.label));
    if (std::holds_alternative<double Faults::*>(param.field)) {
        editor.spin = new QDoubleSpinBox;
        editor.spin->setObjectName(name);
        editor.spin->setDecimals(4);
        editor.spin->setRange(param.minimum, param.maximum);
        editor.spin->setSingleStep(0.01);
        editor.spin->setValue(param.initial);
        editor.spin->setKeyboardTracking(false);
        values->addWidget(editor.spin);
        return editor;
    }
    editor.line = new QLineEdit(IntegerValidator::text(param.initial, param.hex));
    editor.line->setObjectName(name);
    auto *validator = new IntegerValidator(param.minimum, param.maximum, param.hex, editor.line);
    editor.line->setValidator(validator);
    editor.validator = validator;
    editor.line->setMaximumWidth(param.maximum > 1e6 ? 96 : 64);
    values->addWidget(editor.line);
    return editor;
}

// A switch applies when it is toggled, and when a value is edited while it is on.
void FaultPanel::connectRow(const Row *r)
{
    connect(r->check, &QCheckBox::toggled, this, [this, r] { apply(*r); });
    for (const Editor &editor : r->editors) {
        if (editor.line)
            connect(editor.line, &QLineEdit::textChanged, this, [this, r] {
                if (r->check->isChecked())
                    apply(*r);
            });
        if (editor.spin)
            connect(editor.spin, &QDoubleSpinBox::valueChanged, this, [this, r] {
                if (r->check->isChecked())
                    apply(*r);
            });
    }
}

std::optional<double> FaultPanel::editorValue(const Editor &editor)
{
    if (editor.spin)
        return editor.spin->value();
    if (editor.line && editor.validator)
        return editor.validator->value(editor.line->text());
    return std::nullopt;
}

void FaultPanel::apply(const Row &row)
{
    const auto &params = row.fault->params;
    if (!row.check->isChecked()) {
        if (!params.empty())
            setFaultValue(m_faults, params.front().field, faultDefault(params.front().field));
        return;
    }
    // Secondary values first, so the fault never runs with a stale status or voltage.
    for (std::size_t i = params.size(); i-- > 0;) {
        if (std::holds_alternative<bool Faults::*>(params[i].field)) {
            setFaultValue(m_faults, params[i].field, 1.0);
            continue;
        }
        // A half-typed number leaves the field as it was.
        if (const auto v = editorValue(row.editors[i]))
            setFaultValue(m_faults, params[i].field, *v);
    }
}

void FaultPanel::syncFromBoard()
{
    for (Row &row : m_rows) {
        const auto &params = row.fault->params;
        if (params.empty())
            continue;
        const bool on = faultValue(m_faults, params.front().field) != faultDefault(params.front().field);
        if (on) {
            for (std::size_t i = 0; i < params.size(); ++i) {
                const Editor &e = row.editors[i];
                const double v = faultValue(m_faults, params[i].field);
                const QSignalBlocker blockLine(e.line);
                const QSignalBlocker blockSpin(e.spin);
                if (e.line)
                    e.line->setText(IntegerValidator::text(v, params[i].hex));
                if (e.spin)
                    e.spin->setValue(v);
            }
        }
        const QSignalBlocker block(row.check);
        row.check->setChecked(on);
    }
}

} // namespace quillon::sim
