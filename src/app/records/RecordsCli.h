#pragma once

#include <QStringList>

#include <memory>

class QIODevice;
class QTextStream;

namespace quillon::records {

// The station's records file, where quillon writes by default.
QString defaultRecordsPath();

// quillon-records' command line, read once: the command (list, show, export, yield,
// certificate, status, db init; none or "view" for the window) and the options that
// command takes. Needs no application object; run() does.
class RecordsCommandLine {
public:
    explicit RecordsCommandLine(const QStringList &arguments); // arguments[0] is the program
    ~RecordsCommandLine();
    RecordsCommandLine(const RecordsCommandLine &) = delete;
    RecordsCommandLine &operator=(const RecordsCommandLine &) = delete;

    // What the program starts before run(): the records window (no command, or
    // "view"), a QGuiApplication ("certificate" draws with fonts) or a QCoreApplication
    // (every other command, help, and bad usage).
    enum class Needs { Core, Gui, Window };
    Needs needs() const;
    // The store the command or the window reads (--db, else the station's own file).
    QString source() const;

    // Runs the command: results to out (an open device: standard output in the
    // program), one-line errors to err. Returns the exit status: 0 done, 1 a store or
    // run problem, 2 bad usage (the window asked for here is bad usage: it needs a
    // display and the program opens it itself).
    int run(QIODevice &out, QTextStream &err);

    struct Private; // what was read (RecordsCli.cpp)

private:
    std::unique_ptr<Private> d;
};

// Reads the arguments and runs the command (see RecordsCommandLine::run).
int runRecordsCommand(const QStringList &arguments, QIODevice &out, QTextStream &err);

// The line for standard error when the window is asked for and there is no display.
QString noWindowMessage();

// An argument as an error text quotes it: control characters as \xNN, and cut to its
// first 60 characters and "..." when it is longer.
QString shortArgument(const QString &argument);

} // namespace quillon::records
