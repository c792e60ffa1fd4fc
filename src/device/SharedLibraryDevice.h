#pragma once

#include "device/DeviceLibrary.h"

#include <QString>

#include <memory>

namespace quillon {

// The maker's device library, bound at run time with QLibrary ("vexlo":
// libvexlo.so here). Every symbol is resolved at load; the library is never unloaded.
class SharedLibraryDevice final : public DeviceLibrary {
public:
    // Loads the library named (a name or a path) and resolves all sixteen functions.
    // On failure returns null and sets error to one line naming the library or the
    // missing symbol and the loader's reason.
    static std::unique_ptr<SharedLibraryDevice> load(const QString &library, QString *error);

    ~SharedLibraryDevice() override;

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
    struct Functions;
    SharedLibraryDevice(QString path, std::unique_ptr<Functions> fns);
    QString m_path;
    std::unique_ptr<Functions> m_fns;
};

} // namespace quillon
