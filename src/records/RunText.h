#pragma once

#include "records/RecordsQuery.h"
#include "records/RunDigest.h"
#include "records/StoredCalibration.h"

#include <QHash>
#include <QString>

#include <optional>
#include <vector>

namespace quillon::records {

// The texts and rules every reader of the records shares: quillon-records' commands,
// the records window's table, run page and plots, and the certificate. One place, so
// a run reads the same wherever it is shown.

// A row's digit as the station names it: "0" .. "A".
QString digitText(int digit);
// True for a single row's Test, false for a Test All.
bool isRowRun(const RunSummary &run);
// "Test All", "row 3"; an unknown kind as stored.
QString kindText(const RunSummary &run);
// The end state as stored, "open" while the run has none.
QString endText(const RunSummary &run);
// "0x8140"; "-" for none.
QString productText(const std::optional<int> &product);
// Four upper-case hex digits after "0x": "0x1DE0".
QString hex4(int value);
// A stored time to the second: "2026-12-08 14:45:31Z"; "-" for none.
QString shortTime(const QString &utc);
// A stored time to the millisecond, without the zone: "2026-12-08 14:45:31.123".
QString preciseTime(const QString &utc);
QString orDash(const QString &text);
// The verdicts a run filter takes, in the order they are offered.
const QStringList &verdictNames();

// A measurement's value with its unit and the limits it was judged against, in one
// phrase: "1.234 V within 1.500 ±0.300", "0x00FF equals 0x00FF", "12 bytes >= 1",
// "65087 counts in 1 .. 65534", "1.00002 ratio finite", "yes equals yes"; "-" for a
// value not there.
QString measurementText(const MeasurementRecord &m);
// The outcome as a listing shows it: "pass", "FAIL", "marginal", "not-judged".
QString outcomeText(const QString &outcome);

// True for a prompt whose typed text is an item the technician picked (the D/A Cal
// Check's scale), not text typed.
bool isPick(const PromptRecord &prompt);
// The typed text as a person reads it: for a pick, the item's text (stores written
// before the text was recorded hold the item's index: its name then).
QString typedText(const PromptRecord &prompt);

// The constants a run stored, one line each, label and value: the ARef word, the DAC
// block's range and state, each DAC's gain and offset, and what became of the
// records' valid markers when no block followed. Exact figures round-trip the
// stored singles; readable ones have six decimals and the ARef word in volts.
enum class Figures { Exact, Readable };
struct ConstantLine {
    QString label;
    QString value;
};
std::vector<ConstantLine> storedConstantLines(const StoredCalibration &stored, Figures figures);
// True when the run wrote any calibration constant or marker.
bool wroteCalibration(const StoredCalibration &stored);

// A measurement as readers show it: the value with its unit ("2.49893 V", "7648 word",
// "yes"), "NaN" for a stored NaN; the limits it was judged by ("2 V ± 0.3 (1.7 to 2.3)",
// "0 to 65535 counts", "≥ 3 bytes", "= 42 byte", "finite"; empty when not judged); its
// outcome ("pass", "FAIL", "marginal", "not judged").
QString measuredValueText(const MeasurementRecord &m);
QString limitsText(const MeasurementRecord &m);
QString outcomeText(const MeasurementRecord &m);

// First-pass yield: a serial's first Test All ever (on any station) decides; runs
// started in the same millisecond are ordered by run number, then id. The SQL order
// of the same rule, over runs r:
inline constexpr char FirstPassOrderSql[] = "r.started_utc, r.seq, r.id";
bool firstPassBefore(const RunDigest::Run &a, const RunDigest::Run &b);
// Each serial's first Test All: serial -> index into runs.
QHash<QString, size_t> firstTestAlls(const std::vector<RunDigest::Run> &runs);

} // namespace quillon::records
