#pragma once

// The bench the analog-input suites share: a simulated board on a stepped clock,
// wrapped in a call log, a scripted technician who moves the jig as prompted, and a
// row, shell and monitor without a window.

#include "station/Station.h"
#include "device/TracingDevice.h"
#include "sim/JigPrompts.h"
#include "sim/SimBoard.h"
#include "support/PlainStation.h"
#include "support/ScriptedOperator.h"

#include <QByteArray>
#include <QStringList>

#include <functional>
#include <ostream>

// Readable failure output for Qt values.
inline void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toUtf8().replace('\t', "\\t").toStdString() << '"';
}
inline void PrintTo(const QByteArray &b, std::ostream *os)
{
    *os << b.toHex(' ').toStdString();
}

namespace quillon::testing {

// Forwards every call; lets a test place an exact reading, as a library might hand it
// over, that the converter's 16-bit steps could not produce.
class ScanHookDevice final : public DeviceLibrary {
public:
    explicit ScanHookDevice(DeviceLibrary &inner) : m_inner(inner) {}

    std::function<void(int scan, double *buffer)> afterScan; // scan: 0-based count

    QString description() const override { return m_inner.description(); }
    quint32 GetDevices() override { return m_inner.GetDevices(); }
    quint32 QueryDeviceInfo(qint32 d, quint32 *p, quint32 *ns, char *n, quint32 *db, quint32 *c) override
    {
        return m_inner.QueryDeviceInfo(d, p, ns, n, db, c);
    }
    quint32 ClearDevices() override { return m_inner.ClearDevices(); }
    quint32 GenericVendorRead(qint32 d, quint8 r, quint16 v, quint16 i, quint32 *s, void *data) override
    {
        return m_inner.GenericVendorRead(d, r, v, i, s, data);
    }
    quint32 GenericVendorWrite(qint32 d, quint8 r, quint16 v, quint16 i, quint32 s, void *data) override
    {
        return m_inner.GenericVendorWrite(d, r, v, i, s, data);
    }
    quint32 ADC_SetConfig(qint32 d, quint8 *b, quint32 *s) override { return m_inner.ADC_SetConfig(d, b, s); }
    quint32 ADC_GetScanV(qint32 d, double *buffer) override
    {
        const int scan = m_scans++;
        const quint32 status = m_inner.ADC_GetScanV(d, buffer);
        if (afterScan)
            afterScan(scan, buffer);
        return status;
    }
    quint32 ADC_QueryCal(qint32 d) override { return m_inner.ADC_QueryCal(d); }
    quint32 ADC_SetCal(qint32 d, const char *name) override { return m_inner.ADC_SetCal(d, name); }
    quint32 ADC_BulkAcquire(qint32 d, quint32 s, void *b) override { return m_inner.ADC_BulkAcquire(d, s, b); }
    quint32 ADC_BulkPoll(qint32 d, quint32 *left) override { return m_inner.ADC_BulkPoll(d, left); }
    quint32 CTR_StartOutputFreq(qint32 d, quint32 b, double *hz) override
    {
        return m_inner.CTR_StartOutputFreq(d, b, hz);
    }
    quint32 DIO_Configure(qint32 d, quint8 t, void *m, void *data) override
    {
        return m_inner.DIO_Configure(d, t, m, data);
    }
    quint32 DIO_WriteAll(qint32 d, void *data) override { return m_inner.DIO_WriteAll(d, data); }
    quint32 DIO_ReadAll(qint32 d, void *data) override { return m_inner.DIO_ReadAll(d, data); }
    quint32 DACSetBoardRange(qint32 d, quint32 r) override { return m_inner.DACSetBoardRange(d, r); }

private:
    DeviceLibrary &m_inner;
    int m_scans = 0;
};

// What detection would derive for the boards the suites use.
struct BoardKind {
    quint32 productId;
    int channels;
    bool mux32;
    bool diffApplies;
};
inline constexpr BoardKind Board16{0x8140, 16, false, true};
inline constexpr BoardKind Board64{0x8145, 64, false, true};
inline constexpr BoardKind Board96Mux32{0x8154, 96, true, false};

class AnalogBench {
public:
    explicit AnalogBench(const BoardKind &kind = Board16)
    {
        board.identity.productId = kind.productId;
        board.noiseVolts = 0.0;
        board.jig.connected = true;
        state.board.ChannelCount = kind.channels;
        state.board.Mux32 = kind.mux32;
        state.board.DiffApplies = kind.diffApplies;
        state.board.NewRevision = true;
        shell.realSleep = false;
        shell.onTime = [this](int ms) { nowUs += std::int64_t(ms) * 1000; };
        tracer.setKeeping(true);
        // The technician sets the jig as the prompts ask.
        op.onPrompt = [this](const Prompt &p) { sim::followJigPrompt(board.jig, p.caption); };
    }

    // Function names of the logged calls, in order.
    QStringList functions() const
    {
        QStringList out;
        for (const auto &c : tracer.calls())
            out << c.function;
        return out;
    }
    QList<LibraryCall> callsOf(const QString &function) const
    {
        QList<LibraryCall> out;
        for (const auto &c : tracer.calls())
            if (c.function == function)
                out << c;
        return out;
    }
    // The bytes of every ADC_SetConfig, in order.
    QList<QByteArray> configsSent() const
    {
        QList<QByteArray> out;
        for (const auto &c : callsOf(QStringLiteral("ADC_SetConfig")))
            out << c.dataOut;
        return out;
    }

    std::int64_t nowUs = 0;
    sim::SimBoard board{[this] { return nowUs; }};
    TracingDevice tracer{board};
    ScanHookDevice lib{tracer};
    ScriptedOperator op;
    PlainShell shell;
    PlainMonitorView view;
    StationState state;
    StationContext ctx{lib, op, shell, state};
};

// A 21-byte block: ranges in 0-15, then bytes 16-20.
inline QByteArray blockBytes(int range, int b16, int b17, int b18, int b19, int b20)
{
    QByteArray out(16, char(range));
    for (int b : {b16, b17, b18, b19, b20})
        out.append(char(b));
    return out;
}

} // namespace quillon::testing
