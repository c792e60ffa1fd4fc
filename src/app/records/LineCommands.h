#pragma once

#include <QStringList>

class QTextStream;

namespace quillon::records {

// The line-database commands of quillon-records:
//   db init --db URL [--station NAME]   create or migrate the server schema, print the grants
//   status [--db FILE] [--line-db URL]  the uploader's state in a station's store, and
//                                       whether the line database takes this station now
// Returns the exit status (0 done, 1 failed, 2 bad usage).
int runLineCommand(const QStringList &arguments, QTextStream &out, QTextStream &err);

// True when the arguments (arguments[0] is the program) name one of these commands.
bool isLineCommand(const QStringList &arguments);

} // namespace quillon::records
