#pragma once

#include <QStringList>

class QIODevice;
class QTextStream;

namespace quillon::records {

// The station's records file, where quillon writes by default.
QString defaultRecordsPath();

// quillon-records' commands (list, show, export, yield, certificate) on arguments as
// the program gets them (arguments[0] is the program). Results go to out (an open
// device: standard output in the program), one-line errors to err. Returns the exit
// status: 0 done, 1 a store or run problem, 2 bad usage. "certificate" needs a
// QGuiApplication.
int runRecordsCommand(const QStringList &arguments, QIODevice &out, QTextStream &err);

// True when the arguments ask for the window (no command, or "view").
bool wantsWindow(const QStringList &arguments);

} // namespace quillon::records
