#pragma once

#include "station/BoardConfig.h"
#include "station/Measurement.h"
#include "station/TestStatus.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace quillon {

// A row's state once its test has returned, as the window shows it.
struct RowOutcome {
    int digit = 0;
    QString name;
    TestStatus status = TestStatus::Untested;
    QString label;                    // the status label's text
    std::optional<QString> failLabel; // the fail label's text, on the row that has one
    QStringList memo;                 // the memo lines, exactly
};

// What the main window tells a listener (the run records) about detections and runs.
// Called on the GUI thread from inside the handlers; a listener must not change what
// the technician sees, except where it refuses to start a Test All.
class RunListener {
public:
    virtual ~RunListener() = default;

    virtual void detectionStarting() = 0;
    // label: the detection label's text as shown; board: what detection derived.
    virtual void detectionEnded(bool found, const QString &label, const BoardConfig &board) = 0;

    // Before Test All touches a row. False: Test All does not start (the listener has
    // told the technician why, through the Operator).
    virtual bool testAllStarting() = 0;
    // completed: every row ran. overall: the overall label's verdict text when one is
    // shown, else empty.
    virtual void testAllEnded(bool completed, const QString &overall) = 0;

    // Around one row's test (inside Test All or from its own Test button). closing:
    // the window began to close while the test ran.
    virtual void rowStarting(int digit) = 0;
    virtual void rowEnded(const RowOutcome &outcome, bool closing) = 0;

    // One number a row's test judged, in the order the rows report them, between that
    // row's rowStarting() and rowEnded(). order counts from 1 across the run (a Test
    // All, or one row's own Test button).
    virtual void measured(const Measurement &m) { (void)m; }

    // Right after rowStarting(): a memo line when the row must not run (its test is not
    // called and it fails with that line), else nullopt. The listener has told the
    // technician why, through the Operator.
    virtual std::optional<QString> rowRefused(int digit)
    {
        (void)digit;
        return std::nullopt;
    }
};

} // namespace quillon
