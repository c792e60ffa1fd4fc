#pragma once

#include <QString>

class QTextStream;

namespace quillon::records {

// The line-database commands of quillon-records (their command line is read by
// RecordsCommandLine). Each returns the exit status (0 done, 1 failed).

// db init --db URL [--station NAME]: creates or migrates the server schema and prints
// the grants for the station's role.
int lineDbInit(const QString &url, const QString &station, QTextStream &out, QTextStream &err);

// status [--db FILE] [--line-db URL]: the uploader's state in a station's store, and
// whether the line database takes this station now (url empty: none configured).
int lineStatus(const QString &path, const QString &url, QTextStream &out, QTextStream &err);

} // namespace quillon::records
