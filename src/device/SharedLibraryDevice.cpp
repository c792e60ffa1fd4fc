#include "device/SharedLibraryDevice.h"

#include <QLibrary>

#include <cstdint>
#include <type_traits>

#ifdef Q_OS_UNIX
#include <dlfcn.h>
#endif

namespace quillon {

// The library's C prototypes: 32-bit unsigned statuses, device indexes and sizes,
// 8-bit request, 16-bit value and index. diOnly (-3) travels as 0xFFFFFFFD.
namespace proto {
extern "C" {
using GetDevices = std::uint32_t (*)();
using QueryDeviceInfo = std::uint32_t (*)(std::uint32_t device, std::uint32_t *productId, std::uint32_t *nameSize,
                                          char *name, std::uint32_t *dioBytes, std::uint32_t *counters);
using ClearDevices = std::uint32_t (*)();
using GenericVendorRead = std::uint32_t (*)(std::uint32_t device, std::uint8_t request, std::uint16_t value,
                                            std::uint16_t index, std::uint32_t *dataSize, void *data);
using GenericVendorWrite = std::uint32_t (*)(std::uint32_t device, std::uint8_t request, std::uint16_t value,
                                             std::uint16_t index, std::uint32_t dataSize, void *data);
using ADC_SetConfig = std::uint32_t (*)(std::uint32_t device, std::uint8_t *configBuf, std::uint32_t *configBufSize);
using ADC_GetScanV = std::uint32_t (*)(std::uint32_t device, double *buffer);
using ADC_QueryCal = std::uint32_t (*)(std::uint32_t device);
using ADC_SetCal = std::uint32_t (*)(std::uint32_t device, const char *calFileName);
using ADC_BulkAcquire = std::uint32_t (*)(std::uint32_t device, std::uint32_t bufSize, void *buffer);
using ADC_BulkPoll = std::uint32_t (*)(std::uint32_t device, std::uint32_t *bytesLeft);
using CTR_StartOutputFreq = std::uint32_t (*)(std::uint32_t device, std::uint32_t blockIndex, double *hz);
using DIO_Configure = std::uint32_t (*)(std::uint32_t device, std::uint8_t tristate, void *outMask, void *data);
using DIO_WriteAll = std::uint32_t (*)(std::uint32_t device, void *data);
using DIO_ReadAll = std::uint32_t (*)(std::uint32_t device, void *data);
using DACSetBoardRange = std::uint32_t (*)(std::uint32_t device, std::uint32_t rangeCode);
}
} // namespace proto

struct SharedLibraryDevice::Functions {
    proto::GetDevices GetDevices = nullptr;
    proto::QueryDeviceInfo QueryDeviceInfo = nullptr;
    proto::ClearDevices ClearDevices = nullptr;
    proto::GenericVendorRead GenericVendorRead = nullptr;
    proto::GenericVendorWrite GenericVendorWrite = nullptr;
    proto::ADC_SetConfig ADC_SetConfig = nullptr;
    proto::ADC_GetScanV ADC_GetScanV = nullptr;
    proto::ADC_QueryCal ADC_QueryCal = nullptr;
    proto::ADC_SetCal ADC_SetCal = nullptr;
    proto::ADC_BulkAcquire ADC_BulkAcquire = nullptr;
    proto::ADC_BulkPoll ADC_BulkPoll = nullptr;
    proto::CTR_StartOutputFreq CTR_StartOutputFreq = nullptr;
    proto::DIO_Configure DIO_Configure = nullptr;
    proto::DIO_WriteAll DIO_WriteAll = nullptr;
    proto::DIO_ReadAll DIO_ReadAll = nullptr;
    proto::DACSetBoardRange DACSetBoardRange = nullptr;
};

namespace {

std::uint32_t dev(qint32 device)
{
    return static_cast<std::uint32_t>(device);
}

// Why the last resolve failed. QLibrary does not keep the reason for a missing
// symbol on every platform; the dynamic loader still has it right after the lookup.
QString resolveFailure(const QLibrary &lib)
{
#ifdef Q_OS_UNIX
    if (const char *reason = dlerror())
        return QString::fromLocal8Bit(reason);
#endif
    return lib.errorString();
}

} // namespace

std::unique_ptr<SharedLibraryDevice> SharedLibraryDevice::load(const QString &library, QString *error)
{
    // The QLibrary object only holds a reference; letting it go does not unload, and
    // nothing here ever calls unload(): the library's threads and buffers may outlive us.
    QLibrary lib(library);
    if (!lib.load()) {
        if (error)
            *error = QStringLiteral("Cannot load the device library \"%1\": %2").arg(library, lib.errorString());
        return nullptr;
    }
    const QString path = lib.fileName();

    auto fns = std::make_unique<Functions>();
    QString missing;
    auto bind = [&](auto &slot, const char *name) {
        if (!missing.isEmpty())
            return;
        QFunctionPointer f = lib.resolve(name);
        if (!f) {
            missing = QStringLiteral("The device library \"%1\" has no function %2: %3")
                          .arg(path, QLatin1String(name), resolveFailure(lib));
            return;
        }
        slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(f);
    };
#define QUILLON_BIND(name) bind(fns->name, #name)
    QUILLON_BIND(GetDevices);
    QUILLON_BIND(QueryDeviceInfo);
    QUILLON_BIND(ClearDevices);
    QUILLON_BIND(GenericVendorRead);
    QUILLON_BIND(GenericVendorWrite);
    QUILLON_BIND(ADC_SetConfig);
    QUILLON_BIND(ADC_GetScanV);
    QUILLON_BIND(ADC_QueryCal);
    QUILLON_BIND(ADC_SetCal);
    QUILLON_BIND(ADC_BulkAcquire);
    QUILLON_BIND(ADC_BulkPoll);
    QUILLON_BIND(CTR_StartOutputFreq);
    QUILLON_BIND(DIO_Configure);
    QUILLON_BIND(DIO_WriteAll);
    QUILLON_BIND(DIO_ReadAll);
    QUILLON_BIND(DACSetBoardRange);
#undef QUILLON_BIND
    if (!missing.isEmpty()) {
        if (error)
            *error = missing;
        return nullptr;
    }
    return std::unique_ptr<SharedLibraryDevice>(new SharedLibraryDevice(path, std::move(fns)));
}

SharedLibraryDevice::SharedLibraryDevice(QString path, std::unique_ptr<Functions> fns)
    : m_path(std::move(path)), m_fns(std::move(fns))
{
}

SharedLibraryDevice::~SharedLibraryDevice() = default;

QString SharedLibraryDevice::description() const
{
    return QStringLiteral("Device library %1").arg(m_path);
}

quint32 SharedLibraryDevice::GetDevices()
{
    return m_fns->GetDevices();
}

quint32 SharedLibraryDevice::QueryDeviceInfo(qint32 device, quint32 *productId, quint32 *nameSize, char *name,
                                             quint32 *dioBytes, quint32 *counters)
{
    return m_fns->QueryDeviceInfo(dev(device), productId, nameSize, name, dioBytes, counters);
}

quint32 SharedLibraryDevice::ClearDevices()
{
    return m_fns->ClearDevices();
}

quint32 SharedLibraryDevice::GenericVendorRead(qint32 device, quint8 request, quint16 value, quint16 index,
                                               quint32 *dataSize, void *data)
{
    return m_fns->GenericVendorRead(dev(device), request, value, index, dataSize, data);
}

quint32 SharedLibraryDevice::GenericVendorWrite(qint32 device, quint8 request, quint16 value, quint16 index,
                                                quint32 dataSize, void *data)
{
    return m_fns->GenericVendorWrite(dev(device), request, value, index, dataSize, data);
}

quint32 SharedLibraryDevice::ADC_SetConfig(qint32 device, quint8 *configBuf, quint32 *configBufSize)
{
    return m_fns->ADC_SetConfig(dev(device), configBuf, configBufSize);
}

quint32 SharedLibraryDevice::ADC_GetScanV(qint32 device, double *buffer)
{
    return m_fns->ADC_GetScanV(dev(device), buffer);
}

quint32 SharedLibraryDevice::ADC_QueryCal(qint32 device)
{
    return m_fns->ADC_QueryCal(dev(device));
}

quint32 SharedLibraryDevice::ADC_SetCal(qint32 device, const char *calFileName)
{
    return m_fns->ADC_SetCal(dev(device), calFileName);
}

quint32 SharedLibraryDevice::ADC_BulkAcquire(qint32 device, quint32 bufSize, void *buffer)
{
    return m_fns->ADC_BulkAcquire(dev(device), bufSize, buffer);
}

quint32 SharedLibraryDevice::ADC_BulkPoll(qint32 device, quint32 *bytesLeft)
{
    return m_fns->ADC_BulkPoll(dev(device), bytesLeft);
}

quint32 SharedLibraryDevice::CTR_StartOutputFreq(qint32 device, quint32 blockIndex, double *hz)
{
    return m_fns->CTR_StartOutputFreq(dev(device), blockIndex, hz);
}

quint32 SharedLibraryDevice::DIO_Configure(qint32 device, quint8 tristate, void *outMask, void *data)
{
    return m_fns->DIO_Configure(dev(device), tristate, outMask, data);
}

quint32 SharedLibraryDevice::DIO_WriteAll(qint32 device, void *data)
{
    return m_fns->DIO_WriteAll(dev(device), data);
}

quint32 SharedLibraryDevice::DIO_ReadAll(qint32 device, void *data)
{
    return m_fns->DIO_ReadAll(dev(device), data);
}

quint32 SharedLibraryDevice::DACSetBoardRange(qint32 device, quint32 rangeCode)
{
    return m_fns->DACSetBoardRange(dev(device), rangeCode);
}

} // namespace quillon
