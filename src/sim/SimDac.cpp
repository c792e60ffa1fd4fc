// D/A physics: the firmware's DAC frames and calibration, the converters with their
// gain and offset errors behind the jumpered range, the meter and the scope.
#include "sim/SimBoard.h"
#include "sim/SimStatus.h"

#include <algorithm>
#include <limits>
#include <cmath>
#include <cstddef>
#include <cstring>

namespace quillon::sim {

namespace {

constexpr quint16 kIndexCalibrated = 0x0000;
constexpr quint16 kIndexRaw = 0x8000;
constexpr quint16 kIndexReload = 0x4000;
constexpr quint32 kFrameBytes = 17;

constexpr int kCalRecordBase = 7520;
constexpr int kCalRecordStride = 36;

// The scope keeps about five seconds of each output, and never more than this many
// changes per DAC however fast they come.
constexpr std::int64_t kScopeWindowUs = 5'000'000;
constexpr size_t kScopeMaxPoints = 20000;

bool validDac(int dac)
{
    return dac >= 0 && dac < 4;
}

} // namespace

quint32 SimBoard::vendorDacWrite(quint16 index, quint32 dataSize, const void *data)
{
    if (index == kIndexReload) {
        reloadCalibration();
        return 0;
    }
    if (index != kIndexCalibrated && index != kIndexRaw)
        return status::GenFailure;
    if (dataSize != kFrameBytes)
        return status::GenFailure;
    if (faults.dacWriteStatus)
        return faults.dacWriteStatus;

    // Byte 0: which DACs take a code; then one little-endian code per DAC.
    std::uint8_t frame[kFrameBytes];
    std::memcpy(frame, data, kFrameBytes);
    for (int dac = 0; dac < 4; ++dac) {
        if (!((frame[0] >> dac) & 1))
            continue;
        const quint16 code = quint16(frame[1 + 2 * dac] | (frame[2 + 2 * dac] << 8));
        quint16 out = code;
        if (index == kIndexCalibrated && m_calLoaded) {
            const double m = m_loadedCal[2 * size_t(dac)];
            const double b = m_loadedCal[2 * size_t(dac) + 1];
            out = quint16(std::clamp(std::nearbyint(m * code + b), 0.0, 65535.0));
        }
        setDacCode(dac, out);
    }
    return 0;
}

// The firmware applies the stored constants only when all four records are marked
// "DACC", carry the same block (the store writes one block four times, so a
// difference means a torn or foreign write) and hold finite numbers; otherwise it
// outputs calibrated codes unchanged. Constants are eight big-endian IEEE singles.
void SimBoard::reloadCalibration()
{
    m_calLoaded = false;
    m_loadedCal = {1, 0, 1, 0, 1, 0, 1, 0};
    const std::uint8_t *record0 = m_eeprom.data() + kCalRecordBase;
    for (int i = 0; i < 4; ++i) {
        const std::uint8_t *record = m_eeprom.data() + kCalRecordBase + std::ptrdiff_t(kCalRecordStride) * i;
        if (std::memcmp(record, "DACC", 4) != 0 || std::memcmp(record + 4, record0 + 4, 32) != 0)
            return;
    }
    std::array<float, 8> constants{};
    for (size_t k = 0; k < constants.size(); ++k) {
        const std::uint8_t *p = record0 + 4 + 4 * k;
        const quint32 bits = (quint32(p[0]) << 24) | (quint32(p[1]) << 16) | (quint32(p[2]) << 8) | p[3];
        std::memcpy(&constants[k], &bits, 4);
        if (!std::isfinite(constants[k]))
            return;
    }
    m_loadedCal = constants;
    m_calLoaded = true;
}

// What the jumpered output stage makes of a code, with this DAC's errors.
double SimBoard::dacOutputVolts(int dac, quint16 code) const
{
    const int range = std::clamp(identity.dacJumperRange, 0, 3);
    const double span = range >= 2 ? 10.0 : 5.0;
    const bool bipolar = range == 1 || range == 3;
    const double ideal = bipolar ? span * (code / 32768.0 - 1.0) : span * code / 65536.0;
    double volts = ideal * dacGain[size_t(dac)] + dacOffset[size_t(dac)];
    if (dac == faults.dacDriftIndex)
        volts += faults.dacDriftVolts;
    return volts;
}

void SimBoard::setDacCode(int dac, quint16 code)
{
    const bool first = m_scope[size_t(dac)].empty();
    const double before = dacOutputVolts(dac, m_dacCodes[size_t(dac)]);
    m_dacCodes[size_t(dac)] = code;
    const double after = dacOutputVolts(dac, code);
    if (first || after != before)
        recordScope(dac, after);
}

void SimBoard::recordScope(int dac, double volts)
{
    auto &trace = m_scope[size_t(dac)];
    const std::int64_t now = m_clock();
    trace.emplace_back(now, volts);
    // Keep the latest point before the window too: it is the level the window starts at.
    while (trace.size() > 2 && trace[1].first < now - kScopeWindowUs)
        trace.pop_front();
    while (trace.size() > kScopeMaxPoints)
        trace.pop_front();
}

double SimBoard::meterDac(int dac) const
{
    if (!validDac(dac))
        return 0.0;
    return dacOutputVolts(dac, m_dacCodes[size_t(dac)]);
}

std::vector<std::pair<std::int64_t, double>> SimBoard::scopeTrace(int dac) const
{
    if (!validDac(dac))
        return {};
    const auto &trace = m_scope[size_t(dac)];
    return {trace.begin(), trace.end()};
}

std::int64_t SimBoard::scopeLastChange() const
{
    std::int64_t latest = std::numeric_limits<std::int64_t>::min();
    for (const auto &trace : m_scope)
        if (!trace.empty())
            latest = std::max(latest, trace.back().first);
    return latest;
}

quint16 SimBoard::dacCode(int dac) const
{
    return validDac(dac) ? m_dacCodes[size_t(dac)] : 0;
}

// The output range is set by jumpers on this board; the call is accepted and
// remembered, but only the jumpers decide the output.
quint32 SimBoard::DACSetBoardRange(qint32 device, quint32 rangeCode)
{
    if (auto failed = enterCall(device))
        return *failed;
    if (rangeCode > 3)
        return status::InvalidParameter;
    m_dacBoardRange = rangeCode;
    return 0;
}

} // namespace quillon::sim
