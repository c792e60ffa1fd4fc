#pragma once

#include "sim/SimBoard.h"
#include "sim/VirtualTechnician.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>
#include <utility>

namespace quillon::sim {

// One thing the scripted run does at the main window.
struct ScenarioStep {
    enum class Kind { Detect, TestAll, Test, Details, Correction, Monitor };
    Kind kind = Kind::Detect;
    int row = -1;         // Test, Details: the row (0-10); Details: -1 for the cyclic row
    bool checked = false; // Correction: the box's new state
    int cycles = 0;       // Monitor: listings before Stop is pressed
};

// A scripted bench run: the board, its faults, the jig, the technician's deviations,
// the locale and the steps. Everything not mentioned keeps the simulator's default.
struct Scenario {
    QString description;
    BoardIdentity board;
    QList<std::pair<int, QByteArray>> eeprom; // (address, bytes) written before the run
    Faults faults;
    JigState jig;
    QList<TechnicianOverride> technician;
    QString locale;               // empty: the system's
    std::optional<int> latencyUs; // request and scan latency (0 when absent)
    QString records;              // records file the run is recorded into; empty: none
    QList<ScenarioStep> steps;
};

// A scenario file that cannot be run as written.
struct ScenarioError {
    QString key;     // the key path at fault, e.g. "board.productId", "steps[2]"
    QString message; // what was expected
    QString text() const;
};

// Strict reader: every key must be known and every value of its expected kind;
// nothing is silently ignored. Returns the first fault found.
std::optional<ScenarioError> readScenario(const QByteArray &json, Scenario &out);

// One documented key of the format.
struct ScenarioKey {
    QString path;     // "board.productId", "technician[].press", "steps[].monitor"
    QString expected; // what the value must be
};

// Every key the reader accepts, in document order: the reader and docs/scenarios.md
// both follow this table.
const QList<ScenarioKey> &scenarioKeys();

} // namespace quillon::sim
