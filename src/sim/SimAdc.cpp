// A/D physics: the jig's ladder, the internal calibration sources, the input ranges,
// software scans, and the counter-clocked bulk acquisition.
#include "sim/SimBoard.h"
#include "sim/SimStatus.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace quillon::sim {

namespace {

constexpr int kConfigBytes = 21;
constexpr int kMaxChannel = 255;
// Byte 17 value that makes every scan wait for a tick of counter 2.
constexpr std::uint8_t kCounterClockedMode = 0x15;
constexpr double kFullSpanVolts = 10.0;

} // namespace

int SimBoard::firstChannel(const AdcConfig &config)
{
    return (config[18] & 0x0F) | ((config[20] & 0x0F) << 4);
}

int SimBoard::lastChannel(const AdcConfig &config)
{
    return (config[18] >> 4) | (config[20] & 0xF0);
}

// Single-ended volts the jig puts on a board input. The ladder has 16 taps, tap k at
// k/15 of the source; channel c is wired to tap c mod 16, except the raised channels.
double SimBoard::jigVolts(int channel) const
{
    if (!jig.connected || faults.jigMissing || !jig.sourceOn)
        return 0.0;
    if (channel < 0 || channel >= channelCount())
        return 0.0;
    int tap = channel % 16;
    if (hasMux32Blocks()) {
        if (tap == 0)
            tap = 15; // the first channel of every block of 16 sees the full source
    } else if (channel == 0) {
        tap = 15; // only channel 0 is raised; 16, 32 and 48 stay on tap 0
    }
    const double sign = jig.polarity < 0 ? -1.0 : 1.0;
    return sign * jig.sourceVolts * tap / 15.0;
}

// Byte 16 selects the source: bit 0 switches every channel to an internal source,
// bit 1 picks the reference over the ground (1 = AGND, 3 = AREF).
double SimBoard::internalOrInputVolts(int channel, const AdcConfig &config) const
{
    const std::uint8_t source = config[16];
    if (source & 0x01)
        return (source & 0x02) ? faults.arefVolts : faults.agndVolts;
    const std::uint8_t range = config[size_t(channel & 15)];
    if (range & 0x08) {
        // Differential: measured against the partner half a board away.
        return jigVolts(channel) - jigVolts(channel + channelCount() / 2);
    }
    return jigVolts(channel);
}

// Range code bits: 0 bipolar, 1 halves the 10 V span, 2 divides it by 5; bit 3
// (differential) is handled by the input stage above.
SimBoard::Conversion SimBoard::convert(int channel, const AdcConfig &config)
{
    const std::uint8_t range = config[size_t(channel & 15)];
    double span = kFullSpanVolts;
    if (range & 0x02)
        span /= 2.0;
    if (range & 0x04)
        span /= 5.0;
    const bool bipolar = range & 0x01;

    double volts = internalOrInputVolts(channel, config);
    if (channel == faults.adcOffsetChannel)
        volts += faults.adcOffsetVolts;
    if (int(range) == faults.adcBadRangeCode)
        volts += faults.adcBadRangeVolts;
    if (noiseVolts > 0.0)
        volts += std::uniform_real_distribution<double>(-noiseVolts, noiseVolts)(m_rng);

    // The converter's transfer: 65536 steps over the range, clipped at both ends.
    const double steps = bipolar ? (volts / span + 1.0) * 32768.0 : volts / span * 65536.0;
    double code = std::isfinite(steps) ? std::nearbyint(steps) : 0.0;
    code = std::clamp(code, 0.0, 65535.0);
    return {quint16(code), span, bipolar};
}

double SimBoard::codeVolts(const Conversion &c)
{
    if (c.bipolar)
        return c.spanVolts * (c.code / 32768.0 - 1.0);
    return c.spanVolts * c.code / 65536.0;
}

double SimBoard::channelVolts(int channel) const
{
    return jigVolts(channel);
}

quint32 SimBoard::ADC_SetConfig(qint32 device, quint8 *configBuf, quint32 *configBufSize)
{
    if (auto failed = enterCall(device))
        return *failed;
    if (!configBuf || !configBufSize)
        return status::InvalidParameter;
    if (*configBufSize != kConfigBytes)
        return status::BadLength;
    std::memcpy(m_adcConfig.data(), configBuf, kConfigBytes);
    return 0;
}

quint32 SimBoard::ADC_GetScanV(qint32 device, double *buffer)
{
    if (auto failed = enterCall(device))
        return *failed;
    if (faults.scanErrorStatus)
        return faults.scanErrorStatus;
    if (!buffer)
        return status::InvalidParameter;
    sleepMicros(scanLatencyUs);
    const int last = std::min(lastChannel(m_adcConfig), kMaxChannel);
    for (int c = firstChannel(m_adcConfig); c <= last; ++c)
        buffer[c] = codeVolts(convert(c, m_adcConfig));
    return 0;
}

// Ticks of counter 2 since power-on, counted only while it runs.
std::int64_t SimBoard::counterTicks() const
{
    std::int64_t ticks = m_ticksBefore;
    if (m_counterHz > 0.0) {
        const std::int64_t elapsed = std::max<std::int64_t>(0, m_clock() - m_counterStartUs);
        ticks += std::int64_t(std::floor(double(elapsed) * m_counterHz / 1e6));
    }
    return ticks;
}

quint32 SimBoard::CTR_StartOutputFreq(qint32 device, quint32 blockIndex, double *hz)
{
    if (auto failed = enterCall(device))
        return *failed;
    if (!hz || blockIndex != 0)
        return status::InvalidParameter;
    // Ticks at the old rate belong to the acquisition under way.
    advanceAcquisition();
    m_ticksBefore = counterTicks();
    const double requested = *hz;
    m_counterHz = (std::isfinite(requested) && requested > 0.0) ? requested : 0.0;
    m_counterStartUs = m_clock();
    return 0;
}

quint32 SimBoard::ADC_BulkAcquire(qint32 device, quint32 bufSize, void *buffer)
{
    if (auto failed = enterCall(device))
        return *failed;
    if (faults.acquireErrorStatus)
        return faults.acquireErrorStatus;
    if (!buffer && bufSize > 0)
        return status::InvalidParameter;
    // A new acquisition replaces any outstanding one; ticks before it are not its own.
    m_bulkBuffer = static_cast<std::uint8_t *>(buffer);
    m_bulkBytes = bufSize;
    m_bulkDone = 0;
    m_bulkConfig = m_adcConfig;
    m_bulkChannel = firstChannel(m_bulkConfig);
    m_ticksConsumed = counterTicks();
    if (faults.dataWithoutClock)
        writeScanSamples(std::int64_t(bufSize) + 1);
    return 0;
}

quint32 SimBoard::ADC_BulkPoll(qint32 device, quint32 *bytesLeft)
{
    if (auto failed = enterCall(device))
        return *failed;
    if (faults.pollErrorStatus)
        return faults.pollErrorStatus;
    if (!bytesLeft)
        return status::InvalidParameter;
    advanceAcquisition();
    *bytesLeft = m_bulkBuffer ? m_bulkBytes - m_bulkDone : 0;
    return 0;
}

// Turns the counter ticks since the last look into scans.
void SimBoard::advanceAcquisition()
{
    if (!acquisitionOutstanding())
        return;
    const std::int64_t ticks = counterTicks();
    const std::int64_t fresh = ticks - m_ticksConsumed;
    m_ticksConsumed = ticks;
    if (fresh <= 0 || faults.noDataWithClock || m_bulkConfig[17] != kCounterClockedMode)
        return;
    writeScanSamples(fresh);
}

// One scan per tick, channel by channel, as 16-bit samples until the buffer is full.
void SimBoard::writeScanSamples(std::int64_t scans)
{
    const int first = firstChannel(m_bulkConfig);
    const int last = std::min(lastChannel(m_bulkConfig), kMaxChannel);
    if (last < first)
        return;
    const std::int64_t perScan = last - first + 1;
    const std::int64_t bytesLeft = std::int64_t(m_bulkBytes) - m_bulkDone;
    std::int64_t samples = std::min(std::min(scans, bytesLeft) * perScan, (bytesLeft + 1) / 2);
    while (samples-- > 0 && m_bulkDone < m_bulkBytes) {
        const quint16 code = convert(m_bulkChannel, m_bulkConfig).code;
        const std::uint8_t bytes[2] = {std::uint8_t(code & 0xFF), std::uint8_t(code >> 8)};
        const quint32 n = std::min<quint32>(2, m_bulkBytes - m_bulkDone);
        std::memcpy(m_bulkBuffer + m_bulkDone, bytes, n);
        m_bulkDone += n;
        m_bulkChannel = m_bulkChannel >= last ? first : m_bulkChannel + 1;
    }
}

} // namespace quillon::sim
