#include "records/AsFound.h"

#include <vector>

namespace quillon::records {

namespace {

constexpr quint8 AllRecords = 0x0F;

// Whether each of the four records reads as valid, as far as the constants say.
quint8 validRecords(const StoredCalibration &stored)
{
    return stored.dacsMarkedValid ? AllRecords : quint8(stored.markersValid & AllRecords);
}

// The earlier runs of a unit that stored anything, newest first, back to the one that
// completes both parts.
struct Writers {
    struct Written {
        StoredCalibration stored;
        ConstantsSource by;
    };
    std::vector<Written> found;
    bool aref = false;
    bool dacs = false;

    bool complete() const { return aref && dacs; }

    // Adds the writers among page (a listing, newest first); false when a run could not
    // be read.
    bool add(const RecordsQuery &query, const RunDetail &run, const std::vector<RunSummary> &page, QueryError *error)
    {
        for (const RunSummary &candidate : page) {
            if (complete())
                break;
            // A simulated board is not the unit, nor the unit a simulated board.
            if (candidate.simulated != run.run.simulated || candidate.id == run.run.id)
                continue;
            const auto detail = query.run(candidate.id, error);
            if (!detail)
                return false;
            const StoredCalibration stored = decodeStoredCalibration(detail->eepromWrites);
            if (!stored.arefWord && !stored.dacs && !stored.markersWritten)
                continue;
            found.push_back({stored, {candidate.id, candidate.startedUtc}});
            aref = aref || stored.arefWord;
            dacs = dacs || stored.dacs;
        }
        return true;
    }
};

} // namespace

BoardConstants afterWrites(BoardConstants before, const StoredCalibration &written, const ConstantsSource &by)
{
    StoredCalibration &s = before.stored;
    if (written.arefWord) {
        s.arefWord = written.arefWord;
        before.arefFrom = by;
    }
    if (written.dacs) {
        s.dacs = written.dacs;
        s.dacRange = written.dacRange;
        s.dacCount = written.dacCount;
        s.dacsMarkedValid = written.dacsMarkedValid;
        s.markersWritten = written.markersWritten;
        s.markersValid = validRecords(written);
        before.dacsFrom = by;
    } else if (written.markersWritten && s.dacs) {
        const quint8 rewritten = written.markersWritten & AllRecords;
        s.markersValid = quint8((validRecords(s) & ~rewritten) | (written.markersValid & rewritten));
        s.markersWritten |= rewritten;
        s.dacsMarkedValid = s.markersValid == AllRecords;
    }
    return before;
}

std::optional<BoardConstants> asFoundConstants(const RecordsQuery &query, const RunDetail &run, QueryError *error)
{
    BoardConstants found;
    if (run.run.serial.isEmpty())
        return found;
    RunFilter earlier;
    earlier.serial = run.run.serial;
    earlier.until = run.run.startedUtc; // started before this run (newest first)
    earlier.limit = 20;
    Writers writers;
    for (;;) {
        QueryError failed;
        const std::vector<RunSummary> page = query.list(earlier, &failed);
        if (!failed.message.isEmpty() || !writers.add(query, run, page, &failed)) {
            if (error)
                *error = failed;
            return std::nullopt;
        }
        if (writers.complete() || int(page.size()) < earlier.limit)
            break;
        earlier.offset += earlier.limit;
    }
    // Replayed oldest first, each run's writes onto what the ones before it left.
    for (auto w = writers.found.rbegin(); w != writers.found.rend(); ++w)
        found = afterWrites(found, w->stored, w->by);
    return found;
}

} // namespace quillon::records
