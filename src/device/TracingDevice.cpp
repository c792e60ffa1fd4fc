#include "device/TracingDevice.h"

#include "device/AdcConfigBlock.h"

#include <QDebug>
#include <QLocale>

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <optional>

namespace quillon {

Q_LOGGING_CATEGORY(lcBoard, "quillon.board", QtWarningMsg)

// Calls are recorded only when someone listens (the call log or the logging category),
// so a quiet trace costs one branch per call; argument texts are written when the log
// is read or the category prints. Texts hold values, never
// addresses, so that logs of two runs compare equal. Multi-byte words in dataOut /
// dataIn are little-endian, as they sit in the caller's memory.
namespace {

QString hex(quint32 value, int digits)
{
    return QStringLiteral("0x") + QString::number(value, 16).toUpper().rightJustified(digits, QLatin1Char('0'));
}

// A 32-bit in/out size as it was on entry; nullopt: a null pointer.
std::optional<quint32> entryValue(const quint32 *p)
{
    return p ? std::optional<quint32>(*p) : std::nullopt;
}

QString sizeText(std::optional<quint32> size)
{
    return size ? QStringLiteral("size=%1").arg(*size) : QStringLiteral("size=null");
}

QString pointerText(bool given, const QString &whenSet)
{
    return given ? whenSet : QStringLiteral("null");
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

const QList<LibraryCall> &TracingDevice::calls() const
{
    const qsizetype first = m_calls.size() - m_unwritten.size();
    for (qsizetype i = 0; i < m_unwritten.size(); ++i)
        if (m_unwritten[i])
            m_calls[first + i].arguments = m_unwritten[i]();
    m_unwritten.clear();
    return m_calls;
}

void TracingDevice::record(LibraryCall call, ArgumentText arguments)
{
    if (lcBoard().isDebugEnabled()) {
        if (arguments)
            call.arguments = arguments();
        arguments = nullptr;
        qCDebug(lcBoard).noquote() << call.function + QLatin1Char('(') + call.arguments + QLatin1Char(')')
                                   << (call.hasStatus ? QStringLiteral("status %1").arg(call.status)
                                                      : QStringLiteral("-> %1").arg(hex(call.status, 8)))
                                   << "out" << call.dataOut.toHex(' ') << "in" << call.dataIn.toHex(' ');
    }
    if (!m_keep)
        return;
    ++m_made;
    m_calls.append(std::move(call));
    m_unwritten.append(std::move(arguments));
    if (m_limit > 0) {
        const qsizetype excess = m_calls.size() - m_limit;
        if (excess > 0)
            m_calls.remove(0, excess);
        if (m_unwritten.size() > m_calls.size())
            m_unwritten.remove(0, m_unwritten.size() - m_calls.size());
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
    const std::optional<quint32> nameSizeIn = entryValue(nameSize);
    const std::array<bool, 4> given{productId != nullptr, name != nullptr, dioBytes != nullptr, counters != nullptr};
    const quint32 status = m_inner.QueryDeviceInfo(device, productId, nameSize, name, dioBytes, counters);
    if (listening(m_keep)) {
        // dataIn: the product id handed back, when one was asked for.
        record({QStringLiteral("QueryDeviceInfo"), {}, {}, productId ? le32(*productId) : QByteArray(), status}, [=] {
            return QStringLiteral("%1, %2, %3, %4, %5, %6")
                .arg(device)
                .arg(pointerText(given[0], QStringLiteral("productId")),
                     nameSizeIn ? QStringLiteral("nameSize=%1").arg(*nameSizeIn) : QStringLiteral("null"),
                     pointerText(given[1], QStringLiteral("name")), pointerText(given[2], QStringLiteral("dioBytes")),
                     pointerText(given[3], QStringLiteral("counters")));
        });
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
    const std::optional<quint32> asked = entryValue(dataSize);
    const quint32 status = m_inner.GenericVendorRead(device, request, value, index, dataSize, data);
    if (tracing) {
        // Only what the library says it delivered, and never past what the caller offered.
        QByteArray in;
        if (dataSize && data)
            in = QByteArray(static_cast<const char *>(data),
                            static_cast<qsizetype>(std::min(asked.value_or(0), *dataSize)));
        record({QStringLiteral("GenericVendorRead"), {}, {}, in, status}, [=] {
            return QStringLiteral("%1, %2, %3, %4, %5")
                .arg(device)
                .arg(hex(request, 2), hex(value, 4), hex(index, 4), sizeText(asked));
        });
    }
    return status;
}

quint32 TracingDevice::GenericVendorWrite(qint32 device, quint8 request, quint16 value, quint16 index, quint32 dataSize,
                                          void *data)
{
    const bool tracing = listening(m_keep);
    QByteArray out;
    if (tracing && data)
        out = QByteArray(static_cast<const char *>(data), static_cast<qsizetype>(dataSize));
    const quint32 status = m_inner.GenericVendorWrite(device, request, value, index, dataSize, data);
    if (tracing) {
        record({QStringLiteral("GenericVendorWrite"), {}, out, {}, status}, [=] {
            return QStringLiteral("%1, %2, %3, %4, size=%5")
                .arg(device)
                .arg(hex(request, 2), hex(value, 4), hex(index, 4))
                .arg(dataSize);
        });
    }
    return status;
}

quint32 TracingDevice::ADC_SetConfig(qint32 device, quint8 *configBuf, quint32 *configBufSize)
{
    const bool tracing = listening(m_keep);
    const std::optional<quint32> size = entryValue(configBufSize);
    QByteArray out;
    // The station's block is 21 bytes; a larger size claim is not read past it.
    if (tracing && configBuf && size)
        out = QByteArray(reinterpret_cast<const char *>(configBuf),
                         static_cast<qsizetype>(std::min<quint32>(*size, AdcConfigBlock::Size)));
    const quint32 status = m_inner.ADC_SetConfig(device, configBuf, configBufSize);
    if (tracing) {
        record({QStringLiteral("ADC_SetConfig"), {}, out, {}, status},
               [=] { return QStringLiteral("%1, %2").arg(device).arg(sizeText(size)); });
    }
    return status;
}

quint32 TracingDevice::ADC_GetScanV(qint32 device, double *buffer)
{
    const quint32 status = m_inner.ADC_GetScanV(device, buffer);
    if (listening(m_keep))
        record({QStringLiteral("ADC_GetScanV"), {}, {}, {}, status}, [=] { return QString::number(device); });
    return status;
}

quint32 TracingDevice::ADC_QueryCal(qint32 device)
{
    const quint32 status = m_inner.ADC_QueryCal(device);
    if (listening(m_keep))
        record({QStringLiteral("ADC_QueryCal"), {}, {}, {}, status}, [=] { return QString::number(device); });
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
    if (listening(m_keep)) {
        record({QStringLiteral("ADC_BulkAcquire"), {}, {}, {}, status},
               [=] { return QStringLiteral("%1, size=%2").arg(device).arg(bufSize); });
    }
    return status;
}

quint32 TracingDevice::ADC_BulkPoll(qint32 device, quint32 *bytesLeft)
{
    const quint32 status = m_inner.ADC_BulkPoll(device, bytesLeft);
    if (listening(m_keep)) {
        // dataIn: the bytes-left count handed back (4 bytes).
        const bool given = bytesLeft != nullptr;
        record({QStringLiteral("ADC_BulkPoll"), {}, {}, given ? le32(*bytesLeft) : QByteArray(), status}, [=] {
            return QStringLiteral("%1, %2").arg(device).arg(pointerText(given, QStringLiteral("bytesLeft")));
        });
    }
    return status;
}

quint32 TracingDevice::CTR_StartOutputFreq(qint32 device, quint32 blockIndex, double *hz)
{
    const bool tracing = listening(m_keep);
    const double asked = hz ? *hz : 0.0;
    const quint32 status = m_inner.CTR_StartOutputFreq(device, blockIndex, hz);
    if (tracing) {
        const bool given = hz != nullptr;
        const double set = given ? *hz : 0.0;
        record({QStringLiteral("CTR_StartOutputFreq"), {}, {}, {}, status}, [=] {
            QString args = QStringLiteral("%1, %2, ").arg(device).arg(blockIndex);
            if (!given)
                return args + QStringLiteral("hz=null");
            args += QStringLiteral("hz=") + hzText(asked);
            // The library may hand back the frequency it really set.
            if (std::bit_cast<quint64>(asked) != std::bit_cast<quint64>(set))
                args += QStringLiteral(" -> ") + hzText(set);
            return args;
        });
    }
    return status;
}

quint32 TracingDevice::DIO_Configure(qint32 device, quint8 tristate, void *outMask, void *data)
{
    const bool tracing = listening(m_keep);
    QByteArray out;
    std::optional<quint8> mask;
    std::optional<quint16> word;
    if (tracing) {
        if (outMask)
            mask = *static_cast<const quint8 *>(outMask);
        if (data) {
            quint16 w = 0;
            std::memcpy(&w, data, sizeof w);
            word = w;
        }
        // dataOut: the mask byte, then the initial data word.
        if (mask)
            out.append(static_cast<char>(*mask));
        out.append(wordBytes(data));
    }
    const quint32 status = m_inner.DIO_Configure(device, tristate, outMask, data);
    if (tracing) {
        record({QStringLiteral("DIO_Configure"), {}, out, {}, status}, [=] {
            return QStringLiteral("%1, tristate=%2, mask=%3, data=%4")
                .arg(device)
                .arg(tristate)
                .arg(mask ? hex(*mask, 2) : QStringLiteral("null"), word ? hex(*word, 4) : QStringLiteral("null"));
        });
    }
    return status;
}

quint32 TracingDevice::DIO_WriteAll(qint32 device, void *data)
{
    const bool tracing = listening(m_keep);
    QByteArray out;
    std::optional<quint16> word;
    if (tracing && data) {
        quint16 w = 0;
        std::memcpy(&w, data, sizeof w);
        word = w;
        out = wordBytes(data);
    }
    const quint32 status = m_inner.DIO_WriteAll(device, data);
    if (tracing) {
        record({QStringLiteral("DIO_WriteAll"), {}, out, {}, status},
               [=] { return QStringLiteral("%1, %2").arg(device).arg(word ? hex(*word, 4) : QStringLiteral("null")); });
    }
    return status;
}

quint32 TracingDevice::DIO_ReadAll(qint32 device, void *data)
{
    const quint32 status = m_inner.DIO_ReadAll(device, data);
    if (listening(m_keep)) {
        const bool given = data != nullptr;
        record({QStringLiteral("DIO_ReadAll"), {}, {}, wordBytes(data), status},
               [=] { return QStringLiteral("%1, %2").arg(device).arg(pointerText(given, QStringLiteral("data"))); });
    }
    return status;
}

quint32 TracingDevice::DACSetBoardRange(qint32 device, quint32 rangeCode)
{
    const quint32 status = m_inner.DACSetBoardRange(device, rangeCode);
    if (listening(m_keep)) {
        record({QStringLiteral("DACSetBoardRange"), {}, {}, {}, status},
               [=] { return QStringLiteral("%1, %2").arg(device).arg(rangeCode); });
    }
    return status;
}

} // namespace quillon
