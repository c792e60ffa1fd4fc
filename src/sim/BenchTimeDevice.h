#pragma once

#include "device/DeviceLibrary.h"

#include <cstdint>

namespace quillon::sim {

class SimBoard;

// Bench time of a scripted or automated run: every library call forwarded to the
// simulated board takes a fixed slice of simulated time, so counters, acquisitions and
// the scope see the same timeline on every run (real sleeps and event waits do not move
// it). A poll stands for the station's pause between polls as well.
class BenchTimeDevice final : public DeviceLibrary {
public:
    static constexpr std::int64_t CallUs = 2'000;
    static constexpr std::int64_t PollUs = 20'000;

    // The device keeps the bench's clock itself.
    explicit BenchTimeDevice(SimBoard &board);
    // now: the bench's clock, kept by the caller and advanced here.
    BenchTimeDevice(SimBoard &board, std::int64_t &now);
    BenchTimeDevice(const BenchTimeDevice &) = delete;
    BenchTimeDevice &operator=(const BenchTimeDevice &) = delete;

    std::int64_t now() const { return m_now; }
    // Acquisitions started.
    int acquisitions() const { return m_acquisitions; }
    // Whether the latest call was a poll that found the acquisition complete.
    bool lastPollCompleted() const { return m_lastPollCompleted; }
    // Polls since the latest acquisition started.
    int pollsSinceAcquire() const { return m_pollsSinceAcquire; }

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
    void step(std::int64_t us);

    SimBoard &m_board;
    std::int64_t m_ownNow = 0;
    std::int64_t &m_now;
    int m_acquisitions = 0;
    int m_pollsSinceAcquire = 0;
    bool m_lastPollCompleted = false;
};

} // namespace quillon::sim
