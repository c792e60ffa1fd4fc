#include "BenchTimeDevice.h"

#include "SimBoard.h"

namespace quillon::sim {

BenchTimeDevice::BenchTimeDevice(SimBoard &board) : m_board(board), m_now(m_ownNow)
{
}

BenchTimeDevice::BenchTimeDevice(SimBoard &board, std::int64_t &now) : m_board(board), m_now(now)
{
}

void BenchTimeDevice::step(std::int64_t us)
{
    m_now += us;
    m_lastPollCompleted = false;
}

QString BenchTimeDevice::description() const
{
    return m_board.description();
}

quint32 BenchTimeDevice::GetDevices()
{
    step(CallUs);
    return m_board.GetDevices();
}

quint32 BenchTimeDevice::QueryDeviceInfo(qint32 device, quint32 *productId, quint32 *nameSize, char *name,
                                         quint32 *dioBytes, quint32 *counters)
{
    step(CallUs);
    return m_board.QueryDeviceInfo(device, productId, nameSize, name, dioBytes, counters);
}

quint32 BenchTimeDevice::ClearDevices()
{
    step(CallUs);
    return m_board.ClearDevices();
}

quint32 BenchTimeDevice::GenericVendorRead(qint32 device, quint8 request, quint16 value, quint16 index,
                                           quint32 *dataSize, void *data)
{
    step(CallUs);
    return m_board.GenericVendorRead(device, request, value, index, dataSize, data);
}

quint32 BenchTimeDevice::GenericVendorWrite(qint32 device, quint8 request, quint16 value, quint16 index,
                                            quint32 dataSize, void *data)
{
    step(CallUs);
    return m_board.GenericVendorWrite(device, request, value, index, dataSize, data);
}

quint32 BenchTimeDevice::ADC_SetConfig(qint32 device, quint8 *configBuf, quint32 *configBufSize)
{
    step(CallUs);
    return m_board.ADC_SetConfig(device, configBuf, configBufSize);
}

quint32 BenchTimeDevice::ADC_GetScanV(qint32 device, double *buffer)
{
    step(CallUs);
    return m_board.ADC_GetScanV(device, buffer);
}

quint32 BenchTimeDevice::ADC_QueryCal(qint32 device)
{
    step(CallUs);
    return m_board.ADC_QueryCal(device);
}

quint32 BenchTimeDevice::ADC_SetCal(qint32 device, const char *calFileName)
{
    step(CallUs);
    return m_board.ADC_SetCal(device, calFileName);
}

quint32 BenchTimeDevice::ADC_BulkAcquire(qint32 device, quint32 bufSize, void *buffer)
{
    step(CallUs);
    ++m_acquisitions;
    m_pollsSinceAcquire = 0;
    return m_board.ADC_BulkAcquire(device, bufSize, buffer);
}

quint32 BenchTimeDevice::ADC_BulkPoll(qint32 device, quint32 *bytesLeft)
{
    step(PollUs);
    ++m_pollsSinceAcquire;
    const quint32 status = m_board.ADC_BulkPoll(device, bytesLeft);
    m_lastPollCompleted = status == 0 && bytesLeft && *bytesLeft == 0;
    return status;
}

quint32 BenchTimeDevice::CTR_StartOutputFreq(qint32 device, quint32 blockIndex, double *hz)
{
    step(CallUs);
    return m_board.CTR_StartOutputFreq(device, blockIndex, hz);
}

quint32 BenchTimeDevice::DIO_Configure(qint32 device, quint8 tristate, void *outMask, void *data)
{
    step(CallUs);
    return m_board.DIO_Configure(device, tristate, outMask, data);
}

quint32 BenchTimeDevice::DIO_WriteAll(qint32 device, void *data)
{
    step(CallUs);
    return m_board.DIO_WriteAll(device, data);
}

quint32 BenchTimeDevice::DIO_ReadAll(qint32 device, void *data)
{
    step(CallUs);
    return m_board.DIO_ReadAll(device, data);
}

quint32 BenchTimeDevice::DACSetBoardRange(qint32 device, quint32 rangeCode)
{
    step(CallUs);
    return m_board.DACSetBoardRange(device, rangeCode);
}

} // namespace quillon::sim
