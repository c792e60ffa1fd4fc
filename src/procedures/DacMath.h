#pragma once

#include <QtGlobal>

namespace quillon {

class DeviceLibrary;
class Operator;
struct DacRangeState;

// Asks the technician for the D/A range unless it is already known since the last
// detection (DacRange 0 to 3).
void AskDacRange(Operator &op, DacRangeState &state);

// Volts the DACs put out for a code in the given range (2^16 codes per span).
double DacCountsToVolts(double code, const DacRangeState &state);

// Ideal code of a measured voltage in the given range (65535 codes per span, so not
// the exact inverse of DacCountsToVolts).
double DacVoltsToCounts(double volts, const DacRangeState &state);

// The D/A Cal Check scale dialog's click handler: items 0-2 set all four DACs, through
// the stored calibration, to the item's code; anything else does nothing. The
// write's status is not looked at: the technician judges the outputs on the meter.
void DacScaleClick(DeviceLibrary &lib, int item);

} // namespace quillon
