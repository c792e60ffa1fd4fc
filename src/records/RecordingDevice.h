#pragma once

#include "device/DeviceLibrary.h"

namespace quillon::records {

class Recorder;

// Forwards every call to the library behind it and tells the recorder what the
// records need: the board's identity answers during a detection and every EEPROM
// write (request 0xA2) with its status. Changes no argument and no result.
class RecordingDevice final : public DeviceLibrary {
public:
    // Neither is owned; both must outlive this.
    RecordingDevice(DeviceLibrary &inner, Recorder &recorder);

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
    quint32 tapped(quint32 result);

    DeviceLibrary &m_inner;
    Recorder &m_recorder;
};

} // namespace quillon::records
