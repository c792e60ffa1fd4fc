#pragma once

#include <QString>
#include <QtGlobal>

namespace quillon {

// Device index that addresses the only board present.
inline constexpr qint32 diOnly = -3;

// The sixteen functions of the maker's device library, as the station uses them.
// Statuses are 32-bit unsigned: 0 is success, anything else a system error code.
// Out-values are pointers so that a value preset by the caller survives a call
// that writes nothing. Implementations: the shared-library binding, the simulated
// board and the tracing decorator. Not thread-safe; called on the GUI thread only.
class DeviceLibrary {
public:
    DeviceLibrary() = default;
    DeviceLibrary(const DeviceLibrary &) = delete;
    DeviceLibrary &operator=(const DeviceLibrary &) = delete;
    virtual ~DeviceLibrary() = default;

    // Human-readable name of what is behind the interface (shown in titles and reports).
    virtual QString description() const = 0;

    virtual quint32 GetDevices() = 0;
    virtual quint32 QueryDeviceInfo(qint32 device, quint32 *productId, quint32 *nameSize, char *name, quint32 *dioBytes,
                                    quint32 *counters) = 0;
    virtual quint32 ClearDevices() = 0;
    virtual quint32 GenericVendorRead(qint32 device, quint8 request, quint16 value, quint16 index, quint32 *dataSize,
                                      void *data) = 0;
    virtual quint32 GenericVendorWrite(qint32 device, quint8 request, quint16 value, quint16 index, quint32 dataSize,
                                       void *data) = 0;
    virtual quint32 ADC_SetConfig(qint32 device, quint8 *configBuf, quint32 *configBufSize) = 0;
    // Writes the reading of every scanned channel at the channel's own index.
    virtual quint32 ADC_GetScanV(qint32 device, double *buffer) = 0;
    virtual quint32 ADC_QueryCal(qint32 device) = 0;
    virtual quint32 ADC_SetCal(qint32 device, const char *calFileName) = 0;
    // Starts a background acquisition into buffer (bufSize bytes, 2 per sample) and
    // returns at once; the buffer must stay alive until the acquisition ends.
    virtual quint32 ADC_BulkAcquire(qint32 device, quint32 bufSize, void *buffer) = 0;
    virtual quint32 ADC_BulkPoll(qint32 device, quint32 *bytesLeft) = 0;
    virtual quint32 CTR_StartOutputFreq(qint32 device, quint32 blockIndex, double *hz) = 0;
    virtual quint32 DIO_Configure(qint32 device, quint8 tristate, void *outMask, void *data) = 0;
    virtual quint32 DIO_WriteAll(qint32 device, void *data) = 0;
    virtual quint32 DIO_ReadAll(qint32 device, void *data) = 0;
    virtual quint32 DACSetBoardRange(qint32 device, quint32 rangeCode) = 0;
};

} // namespace quillon
