#include "device/TracingDevice.h"

#include "device/AdcConfigBlock.h"

#include <QDebug>
#include <QLocale>

#include <algorithm>
#include <cstring>

namespace quillon {

Q_LOGGING_CATEGORY(lcBoard, "quillon.board", QtWarningMsg)

// Argument texts are built only when someone listens (the call log or the logging
// category), so a quiet trace costs one branch per call. Texts hold values, never
// addresses, so that logs of two runs compare equal. Multi-byte words in dataOut /
// dataIn are little-endian, as they sit in the caller's memory.
namespace {

QString hex(quint32 value, int digits)
{
    return QStringLiteral("0x") + QString::number(value, 16).toUpper().rightJustified(digits, QLatin1Char('0'));
}

QString sizeText(const quint32 *size)
{
    return size ? QStringLiteral("size=%1").arg(*size) : QStringLiteral("size=null");
}

QString pointerText(const void *p, const QString &whenSet)
{
    return p ? whenSet : QStringLiteral("null");
}

QByteArray wordBytes(const void *p)
{
    return p ? QByteArray(static_cast<const char *>(p), 2) : QByteArray();
}

QByteArray le32(quint32 v)
{
    QByteArray out(4, '\0');
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    return out;
}

QString hzText(double hz)
{
    return QString::number(hz, 'g', QLocale::FloatingPointShortest);
}

bool listening(bool keeping)
{
    return keeping || lcBoard().isDebugEnabled();
}

} // namespace

TracingDevice::TracingDevice(DeviceLibrary &inner) : m_inner(inner)
{
}

QString TracingDevice::description() const
{
    return m_inner.description();
}

void TracingDevice::record(LibraryCall call)
{
    if (lcBoard().isDebugEnabled()) {
        qCDebug(lcBoard).noquote() << call.function + QLatin1Char('(') + call.arguments + QLatin1Char(')')
                                   << (call.hasStatus ? QStringLiteral("status %1").arg(call.status)
                                                      : QStringLiteral("-> %1").arg(hex(call.status, 8)))
                                   << "out" << call.dataOut.toHex(' ') << "in" << call.dataIn.toHex(' ');
    }
    if (!m_keep)
        return;
    m_calls.append(std::move(call));
    if (m_limit > 0) {
        const qsizetype excess = m_calls.size() - m_limit;
        if (excess > 0)
            m_calls.remove(0, excess);
    }
}

quint32 TracingDevice::GetDevices()
{
    const quint32 mask = m_inner.GetDevices();
    if (listening(m_keep)) {
        // The mask is the return value: kept in status, flagged by hasStatus = false.
        LibraryCall c{QStringLiteral("GetDevices"), QString(), {}, {}, mask, false};
        record(std::move(c));
    }
    return mask;
}

quint32 TracingDevice::QueryDeviceInfo(qint32 device, quint32 *productId, quint32 *nameSize, char *name,
                                       quint32 *dioBytes, quint32 *counters)
{
    QString args;
    if (listening(m_keep)) {
        args = QStringLiteral("%1, %2, %3, %4, %5, %6")
                   .arg(device)
                   .arg(pointerText(productId, QStringLiteral("productId")),
                        nameSize ? QStringLiteral("nameSize=%1").arg(*nameSize) : QStringLiteral("null"),
                        pointerText(name, QStringLiteral("name")), pointerText(dioBytes, QStringLiteral("dioBytes")),
                        pointerText(counters, QStringLiteral("counters")));
    }
    const quint32 status = m_inner.QueryDeviceInfo(device, productId, nameSize, name, dioBytes, counters);
    if (listening(m_keep)) {
        // dataIn: the product id handed back, when one was asked for.
        record({QStringLiteral("QueryDeviceInfo"), args, {}, productId ? le32(*productId) : QByteArray(), status});
    }
    return status;
}

quint32 TracingDevice::ClearDevices()
{
    const quint32 status = m_inner.ClearDevices();
    if (listening(m_keep))
        record({QStringLiteral("ClearDevices"), QString(), {}, {}, status});
    return status;
}

quint32 TracingDevice::GenericVendorRead(qint32 device, quint8 request, quint16 value, quint16 index, quint32 *dataSize,
                                         void *data)
{
    const bool tracing = listening(m_keep);
    QString args;
    const quint32 asked = dataSize ? *dataSize : 0;
    if (tracing)
        args = QStringLiteral("%1, %2, %3, %4, %5")
                   .arg(device)
                   .arg(hex(request, 2), hex(value, 4), hex(index, 4), sizeText(dataSize));
    const quint32 status = m_inner.GenericVendorRead(device, request, value, index, dataSize, data);
    if (tracing) {
        // Only what the library says it delivered, and never past what the caller offered.
        QByteArray in;
        if (dataSize && data)
            in = QByteArray(static_cast<const char *>(data), static_cast<qsizetype>(std::min(asked, *dataSize)));
        record({QStringLiteral("GenericVendorRead"), args, {}, in, status});
    }
    return status;
}

quint32 TracingDevice::GenericVendorWrite(qint32 device, quint8 request, quint16 value, quint16 index, quint32 dataSize,
                                          void *data)
{
    const bool tracing = listening(m_keep);
    QString args;
    QByteArray out;
    if (tracing) {
        args = QStringLiteral("%1, %2, %3, %4, size=%5")
                   .arg(device)
                   .arg(hex(request, 2), hex(value, 4), hex(index, 4))
                   .arg(dataSize);
        if (data)
            out = QByteArray(static_cast<const char *>(data), static_cast<qsizetype>(dataSize));
    }
    const quint32 status = m_inner.GenericVendorWrite(device, request, value, index, dataSize, data);
    if (tracing)
        record({QStringLiteral("GenericVendorWrite"), args, out, {}, status});
    return status;
}

quint32 TracingDevice::ADC_SetConfig(qint32 device, quint8 *configBuf, quint32 *configBufSize)
{
    const bool tracing = listening(m_keep);
    QString args;
    QByteArray out;
    if (tracing) {
        args = QStringLiteral("%1, %2").arg(device).arg(sizeText(configBufSize));
        // The station's block is 21 bytes; a larger size claim is not read past it.
        if (configBuf && configBufSize)
            out = QByteArray(reinterpret_cast<const char *>(configBuf),
                             static_cast<qsizetype>(std::min<quint32>(*configBufSize, AdcConfigBlock::Size)));
    }
    const quint32 status = m_inner.ADC_SetConfig(device, configBuf, configBufSize);
    if (tracing)
        record({QStringLiteral("ADC_SetConfig"), args, out, {}, status});
    return status;
}

quint32 TracingDevice::ADC_GetScanV(qint32 device, double *buffer)
{
    const quint32 status = m_inner.ADC_GetScanV(device, buffer);
    if (listening(m_keep))
        record({QStringLiteral("ADC_GetScanV"), QString::number(device), {}, {}, status});
    return status;
}

quint32 TracingDevice::ADC_QueryCal(qint32 device)
{
    const quint32 status = m_inner.ADC_QueryCal(device);
    if (listening(m_keep))
        record({QStringLiteral("ADC_QueryCal"), QString::number(device), {}, {}, status});
    return status;
}

quint32 TracingDevice::ADC_SetCal(qint32 device, const char *calFileName)
{
    const bool tracing = listening(m_keep);
    QString args;
    if (tracing) {
        args = QStringLiteral("%1, %2").arg(device).arg(
            calFileName ? QLatin1Char('"') + QString::fromLatin1(calFileName) + QLatin1Char('"')
                        : QStringLiteral("null"));
    }
    const quint32 status = m_inner.ADC_SetCal(device, calFileName);
    if (tracing)
        record({QStringLiteral("ADC_SetCal"), args, {}, {}, status});
    return status;
}

quint32 TracingDevice::ADC_BulkAcquire(qint32 device, quint32 bufSize, void *buffer)
{
    const quint32 status = m_inner.ADC_BulkAcquire(device, bufSize, buffer);
    if (listening(m_keep))
        record({QStringLiteral("ADC_BulkAcquire"),
                QStringLiteral("%1, size=%2").arg(device).arg(bufSize),
                {},
                {},
                status});
    return status;
}

quint32 TracingDevice::ADC_BulkPoll(qint32 device, quint32 *bytesLeft)
{
    const quint32 status = m_inner.ADC_BulkPoll(device, bytesLeft);
    if (listening(m_keep)) {
        // dataIn: the bytes-left count handed back (4 bytes).
        record({QStringLiteral("ADC_BulkPoll"),
                QStringLiteral("%1, %2").arg(device).arg(pointerText(bytesLeft, QStringLiteral("bytesLeft"))),
                {},
                bytesLeft ? le32(*bytesLeft) : QByteArray(),
                status});
    }
    return status;
}

quint32 TracingDevice::CTR_StartOutputFreq(qint32 device, quint32 blockIndex, double *hz)
{
    const bool tracing = listening(m_keep);
    const double asked = hz ? *hz : 0.0;
    const quint32 status = m_inner.CTR_StartOutputFreq(device, blockIndex, hz);
    if (tracing) {
        QString args = QStringLiteral("%1, %2, ").arg(device).arg(blockIndex);
        if (!hz) {
            args += QStringLiteral("hz=null");
        } else {
            args += QStringLiteral("hz=") + hzText(asked);
            // The library may hand back the frequency it really set.
            if (std::memcmp(&asked, hz, sizeof asked) != 0)
                args += QStringLiteral(" -> ") + hzText(*hz);
        }
        record({QStringLiteral("CTR_StartOutputFreq"), args, {}, {}, status});
    }
    return status;
}

quint32 TracingDevice::DIO_Configure(qint32 device, quint8 tristate, void *outMask, void *data)
{
    const bool tracing = listening(m_keep);
    QString args;
    QByteArray out;
    if (tracing) {
        const auto *mask = static_cast<const quint8 *>(outMask);
        const QByteArray word = wordBytes(data);
        quint16 w = 0;
        if (data)
            std::memcpy(&w, data, sizeof w);
        args = QStringLiteral("%1, tristate=%2, mask=%3, data=%4")
                   .arg(device)
                   .arg(tristate)
                   .arg(mask ? hex(*mask, 2) : QStringLiteral("null"), data ? hex(w, 4) : QStringLiteral("null"));
        // dataOut: the mask byte, then the initial data word.
        if (mask)
            out.append(static_cast<char>(*mask));
        out.append(word);
    }
    const quint32 status = m_inner.DIO_Configure(device, tristate, outMask, data);
    if (tracing)
        record({QStringLiteral("DIO_Configure"), args, out, {}, status});
    return status;
}

quint32 TracingDevice::DIO_WriteAll(qint32 device, void *data)
{
    const bool tracing = listening(m_keep);
    QString args;
    QByteArray out;
    if (tracing) {
        quint16 w = 0;
        if (data)
            std::memcpy(&w, data, sizeof w);
        args = QStringLiteral("%1, %2").arg(device).arg(data ? hex(w, 4) : QStringLiteral("null"));
        out = wordBytes(data);
    }
    const quint32 status = m_inner.DIO_WriteAll(device, data);
    if (tracing)
        record({QStringLiteral("DIO_WriteAll"), args, out, {}, status});
    return status;
}

quint32 TracingDevice::DIO_ReadAll(qint32 device, void *data)
{
    const quint32 status = m_inner.DIO_ReadAll(device, data);
    if (listening(m_keep)) {
        record({QStringLiteral("DIO_ReadAll"),
                QStringLiteral("%1, %2").arg(device).arg(pointerText(data, QStringLiteral("data"))),
                {},
                wordBytes(data),
                status});
    }
    return status;
}

quint32 TracingDevice::DACSetBoardRange(qint32 device, quint32 rangeCode)
{
    const quint32 status = m_inner.DACSetBoardRange(device, rangeCode);
    if (listening(m_keep))
        record(
            {QStringLiteral("DACSetBoardRange"), QStringLiteral("%1, %2").arg(device).arg(rangeCode), {}, {}, status});
    return status;
}

} // namespace quillon
