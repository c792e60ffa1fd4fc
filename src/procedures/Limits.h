#pragma once

#include <QString>
#include <QtGlobal>

#include <vector>

namespace quillon {

// Every constant a production test judges a number against, in one place: the checks
// read them from limits() and report them with each measurement, so a recorded limit
// is always the one applied. The defaults are the station's limits.
struct Limits {
    // DIO Pullup: the word every line reads with nothing connected.
    quint16 dioPullupWord = 0xFFFF;
    // A/D Clocks: the clock the counter gives, how long each phase waits, and how many
    // bytes may still be outstanding once the clock ran.
    double clocksHz = 1000.0;
    int clocksUnclockedWaitMs = 1;
    int clocksClockedWaitMs = 100;
    quint32 clocksClockedBytesLeft = 0;
    // Calibration Voltages: the internal ground (32-bit values, as the memo shows them)
    // and the ARef words the EEPROM may hold.
    float agndExpected = 0.01234f;
    float agndTolerance = 0.00595f;
    quint16 arefWordLow = 0x0001;
    quint16 arefWordHigh = 0xFFFE;
    // Address/Data Lines: the firmware's verdict byte of a good bus.
    quint8 busVerdictPass = 0x00;
    // The ladder tests: every compared channel, volts either side of its expected value.
    double ladderTolerance = 0.3;
};

// The table the checks read.
const Limits &limits();

// One entry of the table, for its identity and for whoever lists it.
struct LimitEntry {
    const char *name; // stable, e.g. "ladder.tolerance"
    double value;
    const char *unit;
};
std::vector<LimitEntry> limitEntries(const Limits &table = limits());

// The limit set's identity: SHA-256 (hex) over the program version and every entry of
// the table in force, so a run recorded under other limits shows a different id.
// registerProductionTests() makes it station/RowRegistry.h's limitSetId(), which the
// layers below the procedures can reach.
QString limitTableId();
// The program version that goes into it.
QString limitSetVersion();

// Test seam: the checks read `table` until this ends, then the table before it.
class ScopedLimits {
public:
    explicit ScopedLimits(const Limits &table);
    ~ScopedLimits();
    ScopedLimits(const ScopedLimits &) = delete;
    ScopedLimits &operator=(const ScopedLimits &) = delete;

private:
    Limits m_saved;
};

} // namespace quillon
