#pragma once

#include "records/Instruments.h"

#include <QString>

#include <optional>

namespace quillon::records {

// Who tests and with which instruments (docs/traceability.md). Everything is off by
// default: a station without these settings asks and refuses nothing more.
struct TraceSettings {
    bool askOperator = false;     // operator/ask: Test All asks for the operator's id
    QString operatorId;           // --operator: the id of every run, asked of nobody
    QString operatorPattern;      // operator/pattern: the whole id must match; empty: any
    int operatorIdleMinutes = 30; // operator/idleMinutes: asked again after this long without a run (0: never)
    QString meter;                // instruments/meter: the station's meter, by asset id
    bool askMeter = false;        // instruments/ask: asked before the first row that reads the meter
    int graceDays = 0;            // instruments/graceDays: days past its due date a meter is still used
    bool enforce = true;          // instruments/enforce: an unusable meter stops the rows that read it
    bool askEnvironment = false;  // environment/ask: temperature and humidity typed with the operator
    QString temperature;          // environment/temperature (degrees Celsius, as written)
    QString humidity;             // environment/humidity (% relative humidity, as written)

    bool checksInstruments() const { return !meter.isEmpty() || askMeter; }
};

// The rows that take readings of the technician's meter (and so write or check
// calibration constants by them).
bool readsMeter(int digit);

// What the station says of a meter it will not use, or uses with a warning: the text of
// the box, and the row's memo line when it does not start.
QString meterProblem(const QString &assetId, const std::optional<Instrument> &entry, InstrumentStatus status);
QString meterRefusalLine(const QString &assetId, const std::optional<Instrument> &entry, InstrumentStatus status);
QString meterReminder(const QString &assetId, const Instrument &entry);

} // namespace quillon::records
