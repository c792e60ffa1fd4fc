#pragma once

#include "device/DeviceLibrary.h"

#include <QByteArray>
#include <QList>
#include <QLoggingCategory>
#include <QString>

#include <functional>

namespace quillon {

Q_DECLARE_LOGGING_CATEGORY(lcBoard)

// One library call as it crossed the interface.
struct LibraryCall {
    QString function;      // e.g. "GenericVendorRead"
    QString arguments;     // e.g. "-3, 0xB3, 0x0000, 0x0000, size=4"
    QByteArray dataOut;    // bytes handed to the library (writes, configuration)
    QByteArray dataIn;     // bytes the library handed back (reads)
    quint32 status = 0;    // the return value: for GetDevices (hasStatus false) the device mask
    bool hasStatus = true; // GetDevices returns a mask, not a status
};

// Decorator that forwards every call to another DeviceLibrary and records it: to the
// logging category "quillon.board" (off by default) and, when keeping is on, to a
// call log that tests, reports and the bench read. Owns nothing.
//
// A kept call's argument text is written when the log is read, not when the call is
// made: calls that leave a bounded log unread (a fast ramp, a monitor nobody watches)
// cost a copy of their values only.
class TracingDevice final : public DeviceLibrary {
public:
    explicit TracingDevice(DeviceLibrary &inner);

    void setKeeping(bool keep) { m_keep = keep; }
    // At most this many calls are kept; the oldest go first (0: no limit).
    void setLimit(int calls) { m_limit = calls; }
    // The log, every argument text written.
    const QList<LibraryCall> &calls() const;
    // Calls made since the log was created (including those the limit has dropped):
    // a reader that remembers it can tell how many calls are new.
    qint64 callsMade() const { return m_made; }
    void clearCalls()
    {
        m_calls.clear();
        m_unwritten.clear();
    }
    DeviceLibrary &inner() { return m_inner; }

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
    using ArgumentText = std::function<QString()>;
    void record(LibraryCall call, ArgumentText arguments = {});

    DeviceLibrary &m_inner;
    // The argument texts of the newest calls are still to be written: m_unwritten
    // holds their writers, for the last m_unwritten.size() entries of m_calls.
    mutable QList<LibraryCall> m_calls;
    mutable QList<ArgumentText> m_unwritten;
    qint64 m_made = 0;
    bool m_keep = false;
    int m_limit = 0;
};

} // namespace quillon
