#pragma once

namespace quillon {

struct StationContext;
class TestRow;
class MonitorView;

// Each production test runs to its end on the GUI thread, writing only its own row.
// registerProductionTests() puts each on its row.
void runDioPullup(StationContext &ctx, TestRow &row);
void runDioLoopback(StationContext &ctx, TestRow &row);
void runAdClocks(StationContext &ctx, TestRow &row);
void runCalibrationVoltages(StationContext &ctx, TestRow &row);
void runAddressDataLines(StationContext &ctx, TestRow &row);
void runAdSeUnipolar(StationContext &ctx, TestRow &row);
void runAdSeBipolar(StationContext &ctx, TestRow &row);
void runAdDifferential(StationContext &ctx, TestRow &row);
void runDacCalSet(StationContext &ctx, TestRow &row);
void runDacCalCheck(StationContext &ctx, TestRow &row);
void runDacRamp(StationContext &ctx, TestRow &row);

// Registers every test above with its row of the row registry (station/RowRegistry.h),
// and the limits table's identity as the registry's limitSetId().
// Idempotent; the main window calls it before it builds its table.
void registerProductionTests();

// The cyclic A/D monitor: runs until stopped (state.CyclicStopRequested), an error,
// or the window closing.
void runCyclicMonitor(StationContext &ctx, MonitorView &view);

} // namespace quillon
