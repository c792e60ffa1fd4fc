#pragma once

#include "records/RecordsSettings.h"

#include <QString>
#include <QStringList>

class QTextStream;

namespace quillon {

// The command line of quillon and quillon-sim over the station's settings.
struct StationOptions {
    records::RecordsSettings records;
    QString scenario; // quillon-sim only
    QString report;   // quillon-sim only
};

// Reads the settings file, then the options (arguments include the program name).
// Returns -1 to go on; otherwise the program ends with that code (after --help,
// --version, or one line on err for a bad command line).
int parseStationOptions(const QStringList &arguments, bool simulator, StationOptions &options, QTextStream &out,
                        QTextStream &err);

// True when the command line asks only for --help or --version: answered before any
// window system starts (the options are read from the raw arguments then).
bool asksHelpOrVersion(int argc, char **argv);

// Arguments as the programs receive them, for parseStationOptions before an
// application object exists.
QStringList rawArguments(int argc, char **argv);

} // namespace quillon
