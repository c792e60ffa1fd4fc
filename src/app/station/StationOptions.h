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

} // namespace quillon
