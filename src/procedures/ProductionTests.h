#pragma once

namespace quillon {

struct StationContext;
class TestRow;
class MonitorView;

// Each production test runs to its end on the GUI thread, writing only its own row.
void runDioPullup(StationContext &ctx, TestRow &row);           // row 0
void runDioLoopback(StationContext &ctx, TestRow &row);         // row 1
void runAdClocks(StationContext &ctx, TestRow &row);            // row 2
void runCalibrationVoltages(StationContext &ctx, TestRow &row); // row 3
void runAddressDataLines(StationContext &ctx, TestRow &row);    // row 4
void runAdSeUnipolar(StationContext &ctx, TestRow &row);        // row 5
void runAdSeBipolar(StationContext &ctx, TestRow &row);         // row 6
void runAdDifferential(StationContext &ctx, TestRow &row);      // row 7
void runDacCalSet(StationContext &ctx, TestRow &row);           // row 8
void runDacCalCheck(StationContext &ctx, TestRow &row);         // row 9
void runDacRamp(StationContext &ctx, TestRow &row);             // row A

// The cyclic A/D monitor: runs until stopped (state.CyclicStopRequested), an error,
// or the window closing.
void runCyclicMonitor(StationContext &ctx, MonitorView &view);

} // namespace quillon
