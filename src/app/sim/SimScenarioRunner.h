#pragma once

#include "records/RecordsSettings.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>

class QTextStream;

namespace quillon {

namespace sim {
struct Scenario;
}

// Runs a scenario through the real main window in the running QApplication: the
// simulated board set up as the scenario says, the virtual technician at the prompts,
// the automatic first detection, then the steps. Returns the report (deterministic:
// the same scenario gives the same report). The scenario's locale is the default
// locale for the run and the previous default is restored afterwards.
// When the scenario names a records file, the run is recorded into it (the station
// name and serial settings from recordsSettings) and the report gains "records" (the
// file and the run ids) and "timeline" (prompts and library calls with bench-time ms).
QJsonObject runScenario(const sim::Scenario &scenario, const records::RecordsSettings &recordsSettings = {});

// Reads and runs a scenario file. The report goes to `out`, or to reportPath when
// given (then `out` gets a short summary). Returns 0 when the run completed, 2 when
// the file can't be read or is not a valid scenario (one line on `err` naming the key).
int runScenarioFile(const QString &scenarioPath, const QString &reportPath, QTextStream &out, QTextStream &err);

// True when the command line asks for a scripted run (--scenario).
bool isScenarioCommandLine(int argc, char **argv);

// quillon-sim --scenario FILE [--report FILE] [options]: sets up a headless QApplication
// (offscreen when there is no display) and runs the file. Exit codes as runScenarioFile.
int simScenarioMain(int argc, char **argv);

} // namespace quillon
