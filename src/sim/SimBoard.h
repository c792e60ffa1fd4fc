#pragma once

#include "device/DeviceLibrary.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <random>
#include <vector>

namespace quillon::sim {

// Time source of the simulated bench, in microseconds. Injectable so the autotests
// can step time; the default follows the steady clock.
using Clock = std::function<std::int64_t()>;
std::int64_t steadyMicros();

// The board on the bench: who it says it is and how its firmware answers.
struct BoardIdentity {
    quint32 productId = 0x8140;                      // 16 channels, DACs: every test applies
    int boardsPresent = 1;                           // 0 -> status 2, 2+ -> status 52
    std::optional<quint32> forcedQueryStatus;        // QueryDeviceInfo(diOnly) answers this instead
    std::array<quint8, 4> firmwareReply{1, 0, 0, 0}; // reply to read request 0xB3
    std::array<quint8, 2> revisionReply{1, 1};       // reply to read request 0xA3: newer than rev D
    bool calSupported = true;                        // ADC_QueryCal answers 0
    quint8 busTestVerdict = 0x00;                    // firmware's reply to read request 0x91
    int dacJumperRange = 3;                          // jumpered D/A output range: 0-5, +/-5, 0-10, +/-10 V
    bool newerThanRevD = true;                       // the board itself (the jig is wired for it)
};

// The test jig and the instruments around the board.
struct JigState {
    bool connected = false; // DIO loopback wiring and ladder on the inputs
    bool sourceOn = true;   // the 10 V source across the analog input leads
    int polarity = +1;      // +1 or -1: the jig's polarity switch
    double sourceVolts = 10.0;
};

// Named fault switches. Each breaks one thing the way a real fault would.
struct Faults {
    // Digital
    quint16 dioStuckHigh = 0; // lines (bit per line, bits 0-7 port A, 8-15 port B) stuck high
    quint16 dioStuckLow = 0;  // lines stuck low
    quint16 dioPullDowns = 0; // lines fitted with pull-downs instead of pull-ups
    int dioBridgeA = -1;      // two lines shorted together (-1: none); a driven low wins
    int dioBridgeB = -1;
    bool jigMissing = false; // the jig is never really connected, whatever is asked
    // Analog in
    int adcOffsetChannel = -1; // this channel reads off by adcOffsetVolts
    double adcOffsetVolts = 0.0;
    int adcBadRangeCode = -1;      // every reading taken in this input range code (0-15; -1: none)
    double adcBadRangeVolts = 0.0; // is off by this voltage: a fault in that range's input stage
    quint32 scanErrorStatus = 0;   // ADC_GetScanV returns this (0: no fault)
    double agndVolts = 0.0118;     // internal ground as the A/D sees it
    double arefVolts = 9.93;       // reference at R11 as a meter measures it
    // Clocking
    bool dataWithoutClock = false;  // an acquisition completes with no counter running
    bool noDataWithClock = false;   // counter ticks never produce a scan
    quint32 acquireErrorStatus = 0; // ADC_BulkAcquire returns this
    quint32 pollErrorStatus = 0;    // ADC_BulkPoll returns this
    // Analog out
    quint32 dacWriteStatus = 0; // status of every DAC write (request 0xB3, index 0/0x8000)
    int dacDriftIndex = -1;     // this DAC drifts by dacDriftVolts after calibration
    double dacDriftVolts = 0.0;
    // EEPROM (request 0xA2)
    int eepromFailWriteAddress = -1; // a write starting at this address fails
    quint32 eepromFailStatus = 31;
    int eepromShortRead = 0;            // reads deliver this many bytes fewer
    bool eepromCorruptReadback = false; // reads flip a bit of the first byte
    int eepromFaultAddress = -1;        // the two read faults above hit only reads starting here (-1: every read)
    // USB
    int failRequest = -1;      // vendor request number that fails (-1: none)
    int failCallNumber = -1;   // 1-based library call number that fails
    quint32 failStatus = 31;   // status of the two faults above
    int unplugAfterCalls = -1; // every call after this many fails with unplugStatus
    quint32 unplugStatus = 2;
};

// The simulated board: an independent model of board, firmware, jig and library,
// behind the same interface as the maker's library. Never calls the station's own
// helpers. Deterministic for a given seed and clock.
class SimBoard final : public DeviceLibrary {
public:
    explicit SimBoard(Clock clock = steadyMicros, std::uint32_t seed = 1);
    ~SimBoard() override;

    BoardIdentity identity;
    JigState jig;
    Faults faults;
    // Simulated time per vendor request and per scan, in microseconds (0: none).
    int requestLatencyUs = 0;
    int scanLatencyUs = 0;
    // Noise on every A/D reading, volts (uniform +/-).
    double noiseVolts = 0.002;

    // Per-DAC physical errors: output = gain * ideal + offset (volts).
    std::array<double, 4> dacGain{1.0012, 1.0009, 1.0015, 1.0006};
    std::array<double, 4> dacOffset{-0.0061, 0.0043, 0.0027, -0.0035};

    // Back to power-on state (EEPROM kept: it is non-volatile) and reseeded.
    void reset(std::uint32_t seed = 1);
    // Clears the EEPROM to 0xFF everywhere.
    void eraseEeprom();

    // Instruments.
    // Voltage a meter reads on DAC i's output now.
    double meterDac(int dac) const;
    // Voltage the meter reads at R11.
    double meterReference() const { return faults.arefVolts; }
    // Output history of DAC i: (time us, volts) pairs over the last few seconds.
    std::vector<std::pair<std::int64_t, double>> scopeTrace(int dac) const;
    // Time of the latest level change on any DAC output (INT64_MIN: none yet).
    std::int64_t scopeLastChange() const;
    // Voltage the jig puts on channel (single-ended, before the board's input stage).
    double channelVolts(int channel) const;

    const std::vector<std::uint8_t> &eeprom() const { return m_eeprom; }
    std::vector<std::uint8_t> &eeprom() { return m_eeprom; }
    quint16 dioOutputLatch() const { return m_dioLatch; }
    quint8 dioOutputMask() const { return m_dioMask; }
    bool counterRunning() const { return m_counterHz > 0.0; }
    double counterHz() const { return m_counterHz; }
    int callCount() const { return m_calls; }
    int clearDevicesCount() const { return m_clearDevices; }
    // Whether the firmware applies the stored calibration (records valid and reloaded).
    bool calibrationLoaded() const { return m_calLoaded; }
    // Gain and offset pairs the firmware applies to calibrated writes (M0,B0,...,M3,B3).
    const std::array<float, 8> &loadedCalibration() const { return m_loadedCal; }
    // Code DAC i's converter holds now (after calibration, if the write was calibrated).
    quint16 dacCode(int dac) const;
    // The A/D configuration block as last accepted by ADC_SetConfig.
    const std::array<std::uint8_t, 21> &adcConfig() const { return m_adcConfig; }
    // An acquisition is outstanding (started and not yet filled).
    bool acquisitionOutstanding() const { return m_bulkBuffer && m_bulkDone < m_bulkBytes; }
    // Input channels the board really has (from the product id's variant bits).
    int channelCount() const;
    // The board multiplexes its inputs in blocks of 32 channels.
    bool hasMux32Blocks() const;
    // The board has an input multiplexer at all.
    bool hasMultiplexer() const;

    QString description() const override;
    quint32 GetDevices() override;
    quint32 QueryDeviceInfo(qint32 device, quint32 *productId, quint32 *nameSize, char *name, quint32 *dioBytes,
                            quint32 *counters) override;
    quint32 ClearDevices() override;
    quint32 GenericVendorRead(qint32 device, quint8 request, quint16 value, quint16 index, quint32 *dataSize,
                              void *data) override;
    quint32 GenericVendorWrite(qint32 device, quint8 request, quint16 value, quint16 index, quint32 dataSize,
                               void *data) override;
    quint32 ADC_SetConfig(qint32 device, quint8 *configBuf, quint32 *configBufSize) override;
    quint32 ADC_GetScanV(qint32 device, double *buffer) override;
    quint32 ADC_QueryCal(qint32 device) override;
    quint32 ADC_SetCal(qint32 device, const char *calFileName) override;
    quint32 ADC_BulkAcquire(qint32 device, quint32 bufSize, void *buffer) override;
    quint32 ADC_BulkPoll(qint32 device, quint32 *bytesLeft) override;
    quint32 CTR_StartOutputFreq(qint32 device, quint32 blockIndex, double *hz) override;
    quint32 DIO_Configure(qint32 device, quint8 tristate, void *outMask, void *data) override;
    quint32 DIO_WriteAll(qint32 device, void *data) override;
    quint32 DIO_ReadAll(qint32 device, void *data) override;
    quint32 DACSetBoardRange(qint32 device, quint32 rangeCode) override;

private:
    using Sample = std::pair<std::int64_t, double>;
    using AdcConfig = std::array<std::uint8_t, 21>;

    // Every library call passes here first: counts it and applies the USB faults and
    // the device index. Returns the status to fail with, or nothing to go on.
    std::optional<quint32> enterCall(qint32 device);
    std::optional<quint32> enterCallWithoutDevice();
    quint32 deviceStatus(qint32 device) const;
    static void sleepMicros(int us);

    // Vendor requests, after the gate.
    quint32 vendorEepromRead(quint16 address, quint32 *dataSize, void *data);
    quint32 vendorEepromWrite(quint16 address, quint32 dataSize, const void *data);
    quint32 vendorDacWrite(quint16 index, quint32 dataSize, const void *data);
    void reloadCalibration();

    // DIO physics: the level every line settles to.
    quint16 dioLevels() const;

    // A/D physics.
    double internalOrInputVolts(int channel, const AdcConfig &config) const;
    double jigVolts(int channel) const;
    // One conversion: range, offset fault, noise, clipping; the 16-bit code and its range.
    struct Conversion {
        quint16 code;
        double spanVolts;
        bool bipolar;
    };
    Conversion convert(int channel, const AdcConfig &config);
    static double codeVolts(const Conversion &c);
    static int firstChannel(const AdcConfig &config);
    static int lastChannel(const AdcConfig &config);

    // Counter and bulk acquisition.
    std::int64_t counterTicks() const;
    void advanceAcquisition();
    void writeScanSamples(std::int64_t scans);

    // D/A physics.
    double dacOutputVolts(int dac, quint16 code) const;
    void setDacCode(int dac, quint16 code);
    void recordScope(int dac, double volts);

    Clock m_clock;
    std::mt19937 m_rng;
    std::vector<std::uint8_t> m_eeprom;
    quint16 m_dioLatch = 0;
    quint8 m_dioMask = 0;
    int m_calls = 0;
    int m_clearDevices = 0;
    AdcConfig m_adcConfig{};
    QByteArray m_calName;

    // Counter 0 of block 0 (the A/D clock). Ticks of earlier runs are kept in
    // m_ticksBefore; the current run counts from m_counterStartUs at m_counterHz.
    double m_counterHz = 0.0;
    std::int64_t m_counterStartUs = 0;
    std::int64_t m_ticksBefore = 0;

    // Outstanding bulk acquisition. The buffer belongs to the caller (who keeps it
    // alive until the acquisition ends or is replaced); samples are written bytewise.
    std::uint8_t *m_bulkBuffer = nullptr;
    quint32 m_bulkBytes = 0;
    quint32 m_bulkDone = 0;
    std::int64_t m_ticksConsumed = 0;
    AdcConfig m_bulkConfig{};
    int m_bulkChannel = 0; // next channel of the scan under way

    // DACs: codes at the converters and the calibration the firmware applies.
    std::array<quint16, 4> m_dacCodes{0x8000, 0x8000, 0x8000, 0x8000};
    bool m_calLoaded = false;
    std::array<float, 8> m_loadedCal{1, 0, 1, 0, 1, 0, 1, 0};
    quint32 m_dacBoardRange = 0;
    std::array<std::deque<Sample>, 4> m_scope;
};

} // namespace quillon::sim
