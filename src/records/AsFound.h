#pragma once

#include "records/RecordsQuery.h"
#include "records/StoredCalibration.h"

#include <optional>

namespace quillon::records {

// The run that last wrote a part of the board's calibration.
struct ConstantsSource {
    QString runId;
    QString startedUtc;
};

// The calibration constants a board's EEPROM holds, part by part (the ARef word; the
// DAC block with its range, count and valid markers), each with the run that wrote it.
// A part no recorded run wrote is not known. Failed writes are not state and are left
// out of `stored`.
struct BoardConstants {
    StoredCalibration stored;
    std::optional<ConstantsSource> arefFrom, dacsFrom;

    bool known() const { return arefFrom || dacsFrom; }
};

// What the EEPROM holds after a run that wrote `written` onto `before`: the parts the
// run stored are its own, the others carried over; markers rewritten without a new
// block change whether the block they guard reads as valid.
BoardConstants afterWrites(BoardConstants before, const StoredCalibration &written, const ConstantsSource &by);

// The constants the board of `run` held when the run started, as the records know
// them: the station never reads the EEPROM back, so each part comes from the newest
// earlier run of the same serial (simulated runs only from simulated ones, real from
// real) that stored it. Nothing is known for a run without a serial or without such
// a run. Nullopt (with error) when the store could not be read.
std::optional<BoardConstants> asFoundConstants(const RecordsQuery &query, const RunDetail &run,
                                               QueryError *error = nullptr);

} // namespace quillon::records
