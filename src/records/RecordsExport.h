#pragma once

#include "records/RecordsQuery.h"

#include <QJsonObject>

class QIODevice;

namespace quillon::records {

enum class ExportFormat { Csv, Json, JUnit };

// What one CSV line is: a row result of a run (the default), or one measurement with
// its run's keys beside it (the long form a spreadsheet or a data frame reads). JSON and
// JUnit always carry the measurements under their rows, so they take Runs only.
enum class ExportWhat { Runs, Measurements };

// "csv", "json", "junit"; nullopt for anything else.
std::optional<ExportFormat> exportFormatFromName(const QString &name);

// Everything recorded about a run as one JSON object (the store's column names).
QJsonObject runToJson(const RunDetail &run);

// "runs", "measurements"; nullopt for anything else.
std::optional<ExportWhat> exportWhatFromName(const QString &name);
// True where the format can export that: measurements as CSV only.
bool canExport(ExportFormat format, ExportWhat what);

// Writes runs to out in the format, one run at a time, so a whole store never sits in
// memory. CSV has one line per row result (a run without rows gets one line), or with
// Measurements one per measurement (a run without any gets none); JSON is an array of
// runToJson objects, one per line; JUnit XML has a testsuite per run and a testcase per
// row, a failing row carrying its memo lines, a row with measurements them as properties.
class RunExporter {
public:
    // `what` is Runs unless canExport(format, what).
    RunExporter(ExportFormat format, QIODevice &out, ExportWhat what = ExportWhat::Runs);
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

// Exports every run the filter picks (its limit included), newest first; false with
// an error, writing nothing, where the format cannot export `what`.
bool exportRuns(const RecordsQuery &query, const RunFilter &filter, ExportFormat format, QIODevice &out,
                QueryError *error, ExportWhat what = ExportWhat::Runs);

} // namespace quillon::records
