#include "records/RecordingDevice.h"

#include "device/DacRequests.h"
#include "records/Recorder.h"

#include <QByteArray>

#include <algorithm>
#include <cstring>

namespace quillon::records {

RecordingDevice::RecordingDevice(DeviceLibrary &inner, Recorder &recorder) : m_inner(inner), m_recorder(recorder)
{
}

quint32 RecordingDevice::tapped(quint32 result)
{
    m_recorder.tap(Recorder::Tap::Call);
    return result;
}

QString RecordingDevice::description() const
{
    return m_inner.description();
}

quint32 RecordingDevice::GetDevices()
{
    return tapped(m_inner.GetDevices());
}

quint32 RecordingDevice::QueryDeviceInfo(qint32 device, quint32 *productId, quint32 *nameSize, char *name,
                                         quint32 *dioBytes, quint32 *counters)
{
    const quint32 capacity = nameSize ? *nameSize : 0;
    const quint32 status = m_inner.QueryDeviceInfo(device, productId, nameSize, name, dioBytes, counters);
    if (name && nameSize && status == 0) {
        // The name as the library wrote it, up to its terminator, never past the buffer.
        const quint32 size = std::min(*nameSize, capacity);
        m_recorder.deviceQueried(status, 0, QByteArray(name, qsizetype(::strnlen(name, size))));
    } else if (productId && device == diOnly) {
        m_recorder.deviceQueried(status, *productId, QByteArray());
    }
    return tapped(status);
}

quint32 RecordingDevice::ClearDevices()
{
    return tapped(m_inner.ClearDevices());
}

quint32 RecordingDevice::GenericVendorRead(qint32 device, quint8 request, quint16 value, quint16 index,
                                           quint32 *dataSize, void *data)
{
    const quint32 capacity = dataSize ? *dataSize : 0;
    const quint32 status = m_inner.GenericVendorRead(device, request, value, index, dataSize, data);
    if (data && dataSize) {
        const quint32 size = std::min(*dataSize, capacity);
        m_recorder.vendorRead(request, QByteArray(static_cast<const char *>(data), qsizetype(size)));
    }
    return tapped(status);
}

quint32 RecordingDevice::GenericVendorWrite(qint32 device, quint8 request, quint16 value, quint16 index,
                                            quint32 dataSize, void *data)
{
    // Copied first: the library may use the buffer as it likes.
    const QByteArray bytes = request == EepromRequest && data
                                 ? QByteArray(static_cast<const char *>(data), qsizetype(dataSize))
                                 : QByteArray();
    const quint32 status = m_inner.GenericVendorWrite(device, request, value, index, dataSize, data);
    if (request == EepromRequest)
        m_recorder.eepromWrite(value, bytes, status);
    return tapped(status);
}

quint32 RecordingDevice::ADC_SetConfig(qint32 device, quint8 *configBuf, quint32 *configBufSize)
{
    return tapped(m_inner.ADC_SetConfig(device, configBuf, configBufSize));
}

quint32 RecordingDevice::ADC_GetScanV(qint32 device, double *buffer)
{
    return tapped(m_inner.ADC_GetScanV(device, buffer));
}

quint32 RecordingDevice::ADC_QueryCal(qint32 device)
{
    return tapped(m_inner.ADC_QueryCal(device));
}

quint32 RecordingDevice::ADC_SetCal(qint32 device, const char *calFileName)
{
    return tapped(m_inner.ADC_SetCal(device, calFileName));
}

quint32 RecordingDevice::ADC_BulkAcquire(qint32 device, quint32 bufSize, void *buffer)
{
    return tapped(m_inner.ADC_BulkAcquire(device, bufSize, buffer));
}

quint32 RecordingDevice::ADC_BulkPoll(qint32 device, quint32 *bytesLeft)
{
    return tapped(m_inner.ADC_BulkPoll(device, bytesLeft));
}

quint32 RecordingDevice::CTR_StartOutputFreq(qint32 device, quint32 blockIndex, double *hz)
{
    return tapped(m_inner.CTR_StartOutputFreq(device, blockIndex, hz));
}

quint32 RecordingDevice::DIO_Configure(qint32 device, quint8 tristate, void *outMask, void *data)
{
    return tapped(m_inner.DIO_Configure(device, tristate, outMask, data));
}

quint32 RecordingDevice::DIO_WriteAll(qint32 device, void *data)
{
    return tapped(m_inner.DIO_WriteAll(device, data));
}

quint32 RecordingDevice::DIO_ReadAll(qint32 device, void *data)
{
    return tapped(m_inner.DIO_ReadAll(device, data));
}

quint32 RecordingDevice::DACSetBoardRange(qint32 device, quint32 rangeCode)
{
    return tapped(m_inner.DACSetBoardRange(device, rangeCode));
}

} // namespace quillon::records
