#pragma once

#include <QString>

class QTextStream;

namespace quillon::records {

// What `quillon-records instruments ACTION [ASSET] [options]` was given.
struct InstrumentArguments {
    QString action; // list, history, add, edit, retire
    QString asset;  // the asset id (all but list)
    // The entry's fields as given; a null text was not given (edit keeps the old value).
    QString kind, make, model, serial, calibrated, due, certificate;
    QString by;       // who makes the change (default: the user's login name)
    bool all = false; // list: the retired ones too
};

// The instrument register of a store (a file, or the line database by URL): reads it, or
// appends an entry. Returns the exit status (0 done, 1 failed, 2 bad usage).
int instrumentsCommand(const QString &source, const InstrumentArguments &args, QTextStream &out, QTextStream &err);

} // namespace quillon::records
