#pragma once

#include "records/RecordsQuery.h"

#include <QJsonObject>

class QIODevice;

namespace quillon::records {

enum class ExportFormat { Csv, Json, JUnit };

// "csv", "json", "junit"; nullopt for anything else.
std::optional<ExportFormat> exportFormatFromName(const QString &name);

// Everything recorded about a run as one JSON object (the store's column names).
QJsonObject runToJson(const RunDetail &run);

// Writes runs to out in the format, one run at a time, so a whole store never sits in
// memory. CSV has one line per row result (a run without rows gets one line); JSON is
// an array of runToJson objects, one per line; JUnit XML has a testsuite per run and a
// testcase per row, a failing row carrying its memo lines.
class RunExporter {
public:
    RunExporter(ExportFormat format, QIODevice &out);
    ~RunExporter();
    RunExporter(const RunExporter &) = delete;
    RunExporter &operator=(const RunExporter &) = delete;

    void add(const RunDetail &run);
    // Closes the document; false if the device could not be written.
    bool finish();

private:
    struct Private;
    Private *d;
};

// Exports every run the filter picks (its limit included), newest first.
bool exportRuns(const RecordsQuery &query, const RunFilter &filter, ExportFormat format, QIODevice &out,
                QueryError *error);

} // namespace quillon::records
