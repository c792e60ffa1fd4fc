#pragma once

#include "sim/FaultTable.h"

#include <QValidator>
#include <QWidget>

#include <functional>
#include <optional>
#include <vector>

class QCheckBox;
class QDoubleSpinBox;
class QGridLayout;
class QHBoxLayout;
class QLineEdit;

namespace quillon::sim {

// Accepts an integer in [minimum, maximum], decimal or hexadecimal (with or without
// 0x when hex is set, with 0x otherwise).
class IntegerValidator final : public QValidator {
public:
    IntegerValidator(double minimum, double maximum, bool hex, QObject *parent = nullptr);
    State validate(QString &input, int &pos) const override;
    // The value of an acceptable text, or nothing.
    std::optional<double> value(const QString &text) const;
    static QString text(double value, bool hex);

private:
    double m_minimum;
    double m_maximum;
    bool m_hex;
};

// The fault switches of faultSwitches() as check boxes with their values, under a
// header per group. Writes straight into the board's Faults.
class FaultPanel : public QWidget {
    Q_OBJECT
public:
    explicit FaultPanel(Faults &faults, QWidget *parent = nullptr);
    // Shows the board's current faults (a switch is on when its first field is not
    // at its default).
    void syncFromBoard();

private:
    struct Editor {
        QLineEdit *line = nullptr;      // integers
        QDoubleSpinBox *spin = nullptr; // volts
        const IntegerValidator *validator = nullptr;
    };
    struct Row {
        const FaultSwitch *fault = nullptr;
        QCheckBox *check = nullptr;
        std::vector<Editor> editors; // one per param, null for bool params
    };

    void addSwitch(QGridLayout *grid, const FaultSwitch &fault, const QFont &smallFont);
    static Editor makeEditor(const FaultParam &param, const QString &name, QHBoxLayout *values);
    void connectRow(const Row *row);
    void apply(const Row &row);
    static std::optional<double> editorValue(const Editor &editor);

    Faults &m_faults;
    std::vector<Row> m_rows;
};

} // namespace quillon::sim
