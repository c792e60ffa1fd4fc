#pragma once

#include "sim/SimBoard.h"

#include <QString>

#include <variant>
#include <vector>

namespace quillon::sim {

// The simulator's fault table: every field of Faults once as a setting (what scenario
// files and the docs know), and the bench's switches over those fields. Adding a fault
// takes a field in Faults, its setting and switch here, and the physics that obey it.

// One field of Faults, whatever its type.
using FaultField = std::variant<bool Faults::*, int Faults::*, quint16 Faults::*, quint32 Faults::*, double Faults::*>;

enum class FaultKind {
    Flag,    // true or false
    Integer, // a whole number in [minimum, maximum]
    Volts,   // a finite number of volts in [minimum, maximum]
};

// One field of Faults as a setting.
struct FaultSetting {
    QString key; // the field's name: the key under "faults." in a scenario file
    FaultField field;
    FaultKind kind = FaultKind::Flag;
    double minimum = 0; // range a scenario file may set (Integer, Volts)
    double maximum = 1;
    QString help; // the key's line in the key table of docs/scenarios.md
};

// Every field of Faults, in the order the docs list them.
const std::vector<FaultSetting> &faultSettings();

// A value that goes with a switch: the field, how to edit it and what to start with.
struct FaultParam {
    FaultField field;
    QString label; // shown before the editor ("lines", "volts", ...)
    double minimum = 0;
    double maximum = 0;
    double initial = 0; // value the editor offers until changed
    bool hex = false;   // integer shown as hexadecimal
};

// A fault switch of the bench. On, it writes every param from its editor; off, it
// puts the first param back to its power-on default (the others then do nothing).
// A bool first param has no editor: on is true.
struct FaultSwitch {
    QString group;
    QString key; // object name suffix, stable for tests and scripts
    QString name;
    QString description; // what it breaks, in one line
    std::vector<FaultParam> params;
};

// Every switch, in display order; groups appear in the order of their first switch.
const std::vector<FaultSwitch> &faultSwitches();

// Reads or writes a field as a number (bools as 0/1; values out of the field's range
// are clamped).
double faultValue(const Faults &faults, const FaultField &field);
void setFaultValue(Faults &faults, const FaultField &field, double value);
// The field's value on a healthy board.
double faultDefault(const FaultField &field);

} // namespace quillon::sim
