#pragma once

#include "records/Traceability.h"

#include <QString>

class QSettings;

namespace quillon::records {

// What the programs read from the station's settings (INI file in the standard config
// location), before command-line options override it. Keys in docs/records.md. A value
// written by hand means its text as it stands in the file.
struct RecordsSettings {
    bool enabled = true;        // records/enabled
    QString file;               // records/file; empty: the program's default file
    bool required = false;      // records/required: Test All refuses to start while unwritable
    QString lineDatabase;       // records/lineDatabase: the line database (read by the uploader)
    int lineOutageMinutes = 60; // records/lineOutageMinutes: one warning after uploads failed this long
    QString station;            // station/name; empty: the host name
    bool askSerial = false;     // serial/ask: Test All asks for the unit serial
    QString serialPattern;      // serial/pattern; empty: any non-empty serial
    // records/marginalPercent: a passing value closer than this share of its tolerance
    // band's width to an edge is recorded marginal (0 off; a value that is no number
    // or below 0 reads as the default, one above 50 as 50). Changes no verdict.
    double marginalPercent = 10.0;
    TraceSettings trace; // operator/*, instruments/*, environment/*

    static RecordsSettings read(QSettings &settings);
};

// The station's settings file: <config>/Quillon/quillon.ini.
QString settingsFilePath();

// <application data>/records.sqlite, or records-sim.sqlite for the simulated bench.
QString defaultRecordsFile(bool simulated);

// Where records that could not be written are saved at exit (<application data>/unwritten).
QString defaultSpillDir();

QString hostName();

} // namespace quillon::records
