#include "sim/FaultTable.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <type_traits>

namespace quillon::sim {

using namespace Qt::StringLiterals;

namespace {

template <typename T>
T clampTo(double value)
{
    if (std::isnan(value))
        return T{};
    const double lo = double(std::numeric_limits<T>::lowest());
    const double hi = double(std::numeric_limits<T>::max());
    return T(std::llround(std::clamp(value, lo, hi)));
}

constexpr double Status = 4294967295.0; // largest 32-bit status

// An on/off fault: no value to edit.
FaultParam flag(bool Faults::*field)
{
    return {field, QString(), 0, 1, 1, false};
}

FaultSetting flagSetting(const QString &key, bool Faults::*field, const QString &help)
{
    return {key, field, FaultKind::Flag, 0, 1, help};
}

template <typename T>
FaultSetting integerSetting(const QString &key, T Faults::*field, double minimum, double maximum, const QString &help)
{
    return {key, field, FaultKind::Integer, minimum, maximum, help};
}

// A bit mask or a status: any value of the field's unsigned type.
template <typename T>
FaultSetting wordSetting(const QString &key, T Faults::*field, const QString &help)
{
    return {key, field, FaultKind::Integer, 0, double(std::numeric_limits<T>::max()), help};
}

FaultSetting voltsSetting(const QString &key, double Faults::*field, const QString &help)
{
    return {key, field, FaultKind::Volts, -100, 100, help};
}

} // namespace

// The key is the field's own name.
#define FIELD(name) QStringLiteral(#name), &Faults::name

const std::vector<FaultSetting> &faultSettings()
{
    constexpr double NoLimit = std::numeric_limits<int>::max();
    static const std::vector<FaultSetting> table = {
        wordSetting(FIELD(dioStuckHigh), u"DIO lines stuck high (bit per line, bits 0-7 port A, 8-15 port B)"_s),
        wordSetting(FIELD(dioStuckLow), u"DIO lines stuck low"_s),
        wordSetting(FIELD(dioPullDowns), u"DIO lines with pull-downs instead of pull-ups"_s),
        integerSetting(FIELD(dioBridgeA), -1, 15, u"first of two shorted DIO lines, -1 for none"_s),
        integerSetting(FIELD(dioBridgeB), -1, 15, u"second of the two shorted lines"_s),
        flagSetting(FIELD(jigMissing), u"the jig never really connects"_s),
        integerSetting(FIELD(adcOffsetChannel), -1, 255, u"A/D channel that reads off, -1 for none"_s),
        voltsSetting(FIELD(adcOffsetVolts), u"how far it reads off, volts"_s),
        integerSetting(FIELD(adcBadRangeCode), -1, 15,
                       u"A/D input range code (0-15) in which every reading is off, -1 for none"_s),
        voltsSetting(FIELD(adcBadRangeVolts), u"how far readings in that range are off, volts"_s),
        wordSetting(FIELD(scanErrorStatus), u"status every `ADC_GetScanV` returns"_s),
        voltsSetting(FIELD(agndVolts), u"internal ground as the A/D sees it (default 0.0118)"_s),
        voltsSetting(FIELD(arefVolts), u"reference at R11 as the meter reads it (default 9.93)"_s),
        flagSetting(FIELD(dataWithoutClock), u"an acquisition completes without a counter running"_s),
        flagSetting(FIELD(noDataWithClock), u"counter ticks never produce a scan"_s),
        wordSetting(FIELD(acquireErrorStatus), u"status `ADC_BulkAcquire` returns"_s),
        wordSetting(FIELD(pollErrorStatus), u"status `ADC_BulkPoll` returns"_s),
        wordSetting(FIELD(dacWriteStatus), u"status of every DAC write"_s),
        integerSetting(FIELD(dacDriftIndex), -1, 3, u"DAC that drifts after calibration, -1 for none"_s),
        voltsSetting(FIELD(dacDriftVolts), u"how far it drifts, volts"_s),
        integerSetting(FIELD(eepromFailWriteAddress), -1, 8191,
                       u"EEPROM write starting at this address fails, -1 for none"_s),
        wordSetting(FIELD(eepromFailStatus), u"its status (default 31)"_s),
        integerSetting(FIELD(eepromShortRead), 0, 8192, u"EEPROM reads deliver this many bytes fewer"_s),
        flagSetting(FIELD(eepromCorruptReadback), u"EEPROM reads flip a bit of the first byte"_s),
        integerSetting(FIELD(eepromFaultAddress), -1, 8191,
                       u"the two read faults above hit only reads starting at this address, -1 for every read"_s),
        integerSetting(FIELD(failRequest), -1, 255, u"vendor request number that fails, -1 for none"_s),
        integerSetting(FIELD(failCallNumber), -1, NoLimit, u"library call number (from 1) that fails, -1 for none"_s),
        wordSetting(FIELD(failStatus), u"status of the two faults above (default 31)"_s),
        integerSetting(FIELD(unplugAfterCalls), -1, NoLimit, u"every call after this many fails, -1 for never"_s),
        wordSetting(FIELD(unplugStatus), u"their status (default 2)"_s),
    };
    return table;
}

#undef FIELD

const std::vector<FaultSwitch> &faultSwitches()
{
    using F = Faults;
    static const std::vector<FaultSwitch> table = {
        // group, key, name, description, {field, label, min, max, initial, hex}...
        {u"Digital"_s,
         u"dioStuckHigh"_s,
         u"Lines stuck high"_s,
         u"the marked DIO lines read 1 whatever is driven (bit 0-7 port A, 8-15 port B)"_s,
         {{&F::dioStuckHigh, u"lines"_s, 1, 0xFFFF, 0x0001, true}}},
        {u"Digital"_s,
         u"dioStuckLow"_s,
         u"Lines stuck low"_s,
         u"the marked DIO lines read 0 whatever is driven"_s,
         {{&F::dioStuckLow, u"lines"_s, 1, 0xFFFF, 0x0100, true}}},
        {u"Digital"_s,
         u"dioPullDowns"_s,
         u"Pull-downs fitted"_s,
         u"the marked lines float low instead of high: the pull-up test fails"_s,
         {{&F::dioPullDowns, u"lines"_s, 1, 0xFFFF, 0x0080, true}}},
        {u"Digital"_s,
         u"dioBridge"_s,
         u"Solder bridge"_s,
         u"two DIO lines shorted together; a line driven low wins"_s,
         {{&F::dioBridgeA, u"line"_s, 0, 15, 2}, {&F::dioBridgeB, u"and"_s, 0, 15, 3}}},
        {u"Digital"_s,
         u"jigMissing"_s,
         u"Jig missing"_s,
         u"the jig never really connects, whatever the technician does"_s,
         {flag(&F::jigMissing)}},
        {u"Analog in"_s,
         u"adcOffset"_s,
         u"Channel off"_s,
         u"one A/D channel reads off by a voltage: the ladder tests fail on it"_s,
         {{&F::adcOffsetChannel, u"channel"_s, 0, 255, 5}, {&F::adcOffsetVolts, u"by V"_s, -20, 20, 0.5}}},
        {u"Analog in"_s,
         u"adcBadRange"_s,
         u"Range off"_s,
         u"every reading in one input range code reads off by a voltage: the channel 1 sweep fails there"_s,
         {{&F::adcBadRangeCode, u"range code"_s, 0, 15, 2}, {&F::adcBadRangeVolts, u"by V"_s, -20, 20, 0.5}}},
        {u"Analog in"_s,
         u"scanErrorStatus"_s,
         u"Scan error"_s,
         u"every single scan (ADC_GetScanV) fails with this status"_s,
         {{&F::scanErrorStatus, u"status"_s, 1, Status, 31}}},
        {u"Analog in"_s,
         u"agndVolts"_s,
         u"Ground off"_s,
         u"the internal ground reads this voltage instead of about 0.0118 V"_s,
         {{&F::agndVolts, u"V"_s, -10, 10, 0.25}}},
        {u"Analog in"_s,
         u"arefVolts"_s,
         u"Reference off"_s,
         u"the reference at R11 measures this instead of 9.93 V"_s,
         {{&F::arefVolts, u"V"_s, 0, 12, 9.5}}},
        {u"Clocking"_s,
         u"dataWithoutClock"_s,
         u"Data without clock"_s,
         u"an acquisition completes though no counter runs"_s,
         {flag(&F::dataWithoutClock)}},
        {u"Clocking"_s,
         u"noDataWithClock"_s,
         u"No data with clock"_s,
         u"the counter ticks but never produces a scan"_s,
         {flag(&F::noDataWithClock)}},
        {u"Clocking"_s,
         u"acquireErrorStatus"_s,
         u"Acquire error"_s,
         u"starting a bulk acquisition fails with this status"_s,
         {{&F::acquireErrorStatus, u"status"_s, 1, Status, 31}}},
        {u"Clocking"_s,
         u"pollErrorStatus"_s,
         u"Poll error"_s,
         u"polling a bulk acquisition fails with this status"_s,
         {{&F::pollErrorStatus, u"status"_s, 1, Status, 31}}},
        {u"Analog out"_s,
         u"dacWriteStatus"_s,
         u"DAC write error"_s,
         u"every DAC write request fails with this status"_s,
         {{&F::dacWriteStatus, u"status"_s, 1, Status, 5}}},
        {u"Analog out"_s,
         u"dacDrift"_s,
         u"DAC drifts"_s,
         u"one DAC moves off by a voltage after calibration: the check fails"_s,
         {{&F::dacDriftIndex, u"DAC"_s, 0, 3, 1}, {&F::dacDriftVolts, u"by V"_s, -10, 10, 0.05}}},
        {u"EEPROM"_s,
         u"eepromFailWrite"_s,
         u"Write fails"_s,
         u"an EEPROM write starting at this byte address fails"_s,
         {{&F::eepromFailWriteAddress, u"address"_s, 0, 8191, 7520},
          {&F::eepromFailStatus, u"status"_s, 1, Status, 31}}},
        {u"EEPROM"_s,
         u"eepromShortRead"_s,
         u"Short read"_s,
         u"EEPROM reads deliver this many bytes fewer than asked"_s,
         {{&F::eepromShortRead, u"bytes"_s, 1, 64, 2}}},
        {u"EEPROM"_s,
         u"eepromCorruptReadback"_s,
         u"Corrupt read-back"_s,
         u"EEPROM reads flip a bit of the first byte"_s,
         {flag(&F::eepromCorruptReadback)}},
        {u"EEPROM"_s,
         u"eepromFaultAddress"_s,
         u"Read faults at one address"_s,
         u"short and corrupt reads hit only reads starting at this byte address (off: every read)"_s,
         {{&F::eepromFaultAddress, u"address"_s, 0, 8191, 7664}}},
        {u"USB"_s,
         u"failRequest"_s,
         u"Request fails"_s,
         u"this vendor request number always fails (shares its status with the next)"_s,
         {{&F::failRequest, u"request"_s, 0, 255, 0xA2, true}, {&F::failStatus, u"status"_s, 1, Status, 31}}},
        {u"USB"_s,
         u"failCallNumber"_s,
         u"Call fails"_s,
         u"the library call with this number (counted from plug-in) fails"_s,
         {{&F::failCallNumber, u"call"_s, 1, 1e9, 50}, {&F::failStatus, u"status"_s, 1, Status, 31}}},
        {u"USB"_s,
         u"unplugAfterCalls"_s,
         u"Unplugged"_s,
         u"after this many calls every call fails, as if the cable were pulled"_s,
         {{&F::unplugAfterCalls, u"calls"_s, 0, 1e9, 100}, {&F::unplugStatus, u"status"_s, 1, Status, 2}}},
    };
    return table;
}

double faultValue(const Faults &faults, const FaultField &field)
{
    return std::visit([&](auto member) { return double(faults.*member); }, field);
}

void setFaultValue(Faults &faults, const FaultField &field, double value)
{
    std::visit(
        [&](auto member) {
            using T = std::remove_reference_t<decltype(faults.*member)>;
            if constexpr (std::is_same_v<T, bool>)
                faults.*member = value != 0.0;
            else if constexpr (std::is_same_v<T, double>)
                faults.*member = std::isfinite(value) ? value : 0.0;
            else
                faults.*member = clampTo<T>(value);
        },
        field);
}

double faultDefault(const FaultField &field)
{
    static const Faults healthy;
    return faultValue(healthy, field);
}

} // namespace quillon::sim
