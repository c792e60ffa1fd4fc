#pragma once

#include "records/Record.h"

#include <QSqlDatabase>
#include <QString>
#include <QStringList>

#include <array>

namespace quillon::records {

// The uploader's side of a station's local store (its journal): which finished runs
// the line database has, recorded in tables of its own that are only ever appended to.

// What `quillon-records status` shows.
struct LineUploadStatus {
    qint64 pendingRuns = 0; // finished runs not on the line database yet
    qint64 uploadedRuns = 0;
    QString lastUploadUtc; // empty: never
    QString lastErrorUtc;  // empty: no error since the last upload
    QString lastError;
};

// Reads the status from a journal; false with `error` when the store cannot be read or
// has no upload tables (a store older than version 2).
bool readLineUploadStatus(QSqlDatabase &journal, LineUploadStatus *status, QString *error);

// One batch of finished runs in the order they were written, with everything each run
// hangs on, as JSON arrays of rows (column name -> value) per record table (in the order
// of records::Table, parents first); the runs carry `uploaded_by`.
struct LineBatch {
    QStringList runIds;
    std::array<QString, RecordKinds> rows;
    bool isEmpty() const { return runIds.isEmpty(); }
};

// Reads up to `maxRuns` finished runs of the named station that are not uploaded yet,
// in the order they were written. A run still open stops the batch: runs go up in
// order. (Several stations may share one store; each uploads the runs under its name.)
bool readLineBatch(QSqlDatabase &journal, const QString &stationName, int maxRuns, LineBatch *batch, QString *error);

// Notes the runs as uploaded (one local transaction).
bool markLineUploaded(QSqlDatabase &journal, const LineBatch &batch, QString *error);

// Copies the line database's instrument register into the journal (entries it has not
// got yet, by key): the station checks its meter against its own file. added: the new
// entries. A journal or server without the register copies nothing.
bool copyInstrumentRegister(QSqlDatabase &line, QSqlDatabase &journal, int *added, QString *error);

// Notes an upload error unless it is the one noted last.
bool noteLineUploadError(QSqlDatabase &journal, const QString &message, QString *error);

} // namespace quillon::records
