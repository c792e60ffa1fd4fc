#pragma once

#include "records/RecordsQuery.h"

#include <QString>

#include <optional>
#include <vector>

namespace quillon::records {

// A run filter as a person types it, on the command line or in the records window's
// fields: one set of rules for both. Empty (or blank) texts do not filter.
struct RunFilterText {
    QString since;      // "2026-12-08", "2026-12-08T14:45", "2026-12-08T14:45:31.123Z"
    QString until;      // the same; a bare day takes in the whole day
    QString serial;     // exact
    QString product;    // "0x8140" or "33088"
    QString station;    // exact
    QString verdict;    // pass, fail, aborted, interrupted, open (any case)
    QString limit;      // a count, newest first
    QString operatorId; // exact
    QString instrument; // an asset id, exact
};

// One text a filter could not take: which field, and the text as typed.
struct RunFilterProblem {
    enum class Field { Since, Until, Product, Verdict, Limit };
    Field field;
    QString text;

    // One line for the command line: `malformed date "x" (use ...)`.
    QString describe() const;
};

// Reads texts into filter (its order, limit and offset kept where no text sets them).
// Returns what could not be read, in field order; the filter holds everything else.
std::vector<RunFilterProblem> readRunFilter(const RunFilterText &text, RunFilter &filter);

// The verdicts a filter takes.
const QStringList &runFilterVerdicts();

// A person's date or time as a filter bound in stored form, or nullopt if malformed.
// Accepts "2026-12-08", "2026-12-08T14:45", "2026-12-08T14:45:31[.123][Z]" (UTC).
// A bare date as an upper bound means the end of that day (endOfDay); the end of the
// last day there is is no bound (an empty text).
std::optional<QString> parseTimeBound(const QString &text, bool endOfDay);

} // namespace quillon::records
