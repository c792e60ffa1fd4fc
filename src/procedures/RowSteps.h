#pragma once

// Steps that open most test rows.

#include "station/Operator.h"
#include "station/Station.h"

#include <QString>

namespace quillon {

// The row of a test the detected board does not support: it passes with a note.
inline void markNotApplicable(TestRow &row)
{
    row.setMemoText(QStringLiteral("This test does not apply."));
    row.setStatus(TestStatus::Pass);
    row.refresh();
}

// Shows the row as testing with an empty memo and serves one event pass. False: the
// window is closing and the test must return without touching the board.
inline bool beginRow(StationContext &ctx, TestRow &row)
{
    row.setStatus(TestStatus::Testing);
    row.refresh();
    row.clearMemo();
    ctx.op.processEvents();
    return !ctx.shell.closing();
}

} // namespace quillon
