#include "device/TracingDevice.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

namespace quillon {
namespace {

// Answers every call with fixed data so the trace can be compared byte for byte.
class CannedLibrary final : public DeviceLibrary {
public:
    quint32 status = 0;
    quint32 mask = 0x80000005;
    quint32 vendorDelivered = 2; // bytes a vendor read claims to have delivered
    int calls = 0;

    QString description() const override { return QStringLiteral("canned"); }
    quint32 GetDevices() override
    {
        ++calls;
        return mask;
    }
    quint32 QueryDeviceInfo(qint32, quint32 *pid, quint32 *, char *, quint32 *, quint32 *) override
    {
        ++calls;
        if (pid)
            *pid = 0x8145;
        return status;
    }
    quint32 ClearDevices() override
    {
        ++calls;
        return status;
    }
    quint32 GenericVendorRead(qint32, quint8, quint16, quint16, quint32 *size, void *data) override
    {
        ++calls;
        auto *b = static_cast<quint8 *>(data);
        for (quint32 i = 0; i < *size; ++i)
            b[i] = static_cast<quint8>(0xA0 + i);
        *size = vendorDelivered;
        return status;
    }
    quint32 GenericVendorWrite(qint32, quint8, quint16, quint16, quint32, void *) override
    {
        ++calls;
        return status;
    }
    quint32 ADC_SetConfig(qint32, quint8 *, quint32 *) override
    {
        ++calls;
        return status;
    }
    quint32 ADC_GetScanV(qint32, double *) override
    {
        ++calls;
        return status;
    }
    quint32 ADC_QueryCal(qint32) override
    {
        ++calls;
        return status;
    }
    quint32 ADC_SetCal(qint32, const char *) override
    {
        ++calls;
        return status;
    }
    quint32 ADC_BulkAcquire(qint32, quint32, void *) override
    {
        ++calls;
        return status;
    }
    quint32 ADC_BulkPoll(qint32, quint32 *left) override
    {
        ++calls;
        *left = 0x1234;
        return status;
    }
    quint32 CTR_StartOutputFreq(qint32, quint32, double *hz) override
    {
        ++calls;
        if (*hz == 3.0)
            *hz = 2.5; // the counter can only approximate some frequencies
        return status;
    }
    quint32 DIO_Configure(qint32, quint8, void *, void *) override
    {
        ++calls;
        return status;
    }
    quint32 DIO_WriteAll(qint32, void *) override
    {
        ++calls;
        return status;
    }
    quint32 DIO_ReadAll(qint32, void *data) override
    {
        ++calls;
        const quint16 w = 0xBEEF;
        std::memcpy(data, &w, 2);
        return status;
    }
    quint32 DACSetBoardRange(qint32, quint32) override
    {
        ++calls;
        return status;
    }
};

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(static_cast<char>(v));
    return out;
}

struct TraceCase {
    const char *name;
    std::function<quint32(DeviceLibrary &)> call;
    QString function;
    QString arguments;
    QByteArray dataOut;
    QByteArray dataIn;
};

TEST(TracingDevice, RecordsEveryFunctionDeterministically)
{
    static quint8 config[21];
    for (int i = 0; i < 21; ++i)
        config[i] = static_cast<quint8>(i);
    const TraceCase cases[] = {
        {"query id",
         [](DeviceLibrary &l) {
             quint32 pid = 0;
             return l.QueryDeviceInfo(-3, &pid, nullptr, nullptr, nullptr, nullptr);
         },
         "QueryDeviceInfo",
         "-3, productId, null, null, null, null",
         {},
         bytes({0x45, 0x81, 0, 0})},
        {"query name",
         [](DeviceLibrary &l) {
             quint32 n = 256;
             char name[256] = {};
             return l.QueryDeviceInfo(7, nullptr, &n, name, nullptr, nullptr);
         },
         "QueryDeviceInfo",
         "7, null, nameSize=256, name, null, null",
         {},
         {}},
        {"clear", [](DeviceLibrary &l) { return l.ClearDevices(); }, "ClearDevices", "", {}, {}},
        {"vendor read",
         [](DeviceLibrary &l) {
             quint32 s = 4;
             quint8 b[4] = {};
             return l.GenericVendorRead(-3, 0xA3, 0x8000, 1, &s, b);
         },
         "GenericVendorRead",
         "-3, 0xA3, 0x8000, 0x0001, size=4",
         {},
         bytes({0xA0, 0xA1})},
        {"vendor write",
         [](DeviceLibrary &l) {
             quint8 b[3] = {1, 2, 0xFF};
             return l.GenericVendorWrite(-3, 0xB3, 0, 0x4000, 3, b);
         },
         "GenericVendorWrite",
         "-3, 0xB3, 0x0000, 0x4000, size=3",
         bytes({1, 2, 0xFF}),
         {}},
        {"set config",
         [](DeviceLibrary &l) {
             quint32 s = 21;
             return l.ADC_SetConfig(-3, config, &s);
         },
         "ADC_SetConfig",
         "-3, size=21",
         QByteArray(reinterpret_cast<const char *>(config), 21),
         {}},
        {"scan",
         [](DeviceLibrary &l) {
             double b[4] = {};
             return l.ADC_GetScanV(-3, b);
         },
         "ADC_GetScanV",
         "-3",
         {},
         {}},
        {"query cal", [](DeviceLibrary &l) { return l.ADC_QueryCal(-3); }, "ADC_QueryCal", "-3", {}, {}},
        {"set cal",
         [](DeviceLibrary &l) { return l.ADC_SetCal(-3, ":1TO1:"); },
         "ADC_SetCal",
         "-3, \":1TO1:\"",
         {},
         {}},
        {"acquire",
         [](DeviceLibrary &l) {
             static quint16 b[8];
             return l.ADC_BulkAcquire(-3, 16, b);
         },
         "ADC_BulkAcquire",
         "-3, size=16",
         {},
         {}},
        {"poll",
         [](DeviceLibrary &l) {
             quint32 left = 0;
             return l.ADC_BulkPoll(-3, &left);
         },
         "ADC_BulkPoll",
         "-3, bytesLeft",
         {},
         bytes({0x34, 0x12, 0, 0})},
        {"counter",
         [](DeviceLibrary &l) {
             double hz = 1000;
             return l.CTR_StartOutputFreq(-3, 0, &hz);
         },
         "CTR_StartOutputFreq",
         "-3, 0, hz=1000",
         {},
         {}},
        {"counter adjusted",
         [](DeviceLibrary &l) {
             double hz = 3;
             return l.CTR_StartOutputFreq(-3, 0, &hz);
         },
         "CTR_StartOutputFreq",
         "-3, 0, hz=3 -> 2.5",
         {},
         {}},
        {"configure",
         [](DeviceLibrary &l) {
             quint8 m = 2;
             quint16 d = 0xFFFF;
             return l.DIO_Configure(-3, 0, &m, &d);
         },
         "DIO_Configure",
         "-3, tristate=0, mask=0x02, data=0xFFFF",
         bytes({2, 0xFF, 0xFF}),
         {}},
        {"write",
         [](DeviceLibrary &l) {
             quint16 d = 0x0A00;
             return l.DIO_WriteAll(-3, &d);
         },
         "DIO_WriteAll",
         "-3, 0x0A00",
         bytes({0x00, 0x0A}),
         {}},
        {"read",
         [](DeviceLibrary &l) {
             quint16 d = 0xFFFF;
             return l.DIO_ReadAll(-3, &d);
         },
         "DIO_ReadAll",
         "-3, data",
         {},
         bytes({0xEF, 0xBE})},
        {"range", [](DeviceLibrary &l) { return l.DACSetBoardRange(-3, 0); }, "DACSetBoardRange", "-3, 0", {}, {}},
    };
    for (const auto &c : cases) {
        CannedLibrary inner;
        inner.status = 1167;
        TracingDevice trace(inner);
        trace.setKeeping(true);
        EXPECT_EQ(c.call(trace), 1167u) << c.name;
        EXPECT_EQ(inner.calls, 1) << c.name;
        ASSERT_EQ(trace.calls().size(), 1) << c.name;
        const LibraryCall &r = trace.calls().front();
        EXPECT_EQ(r.function, c.function) << c.name;
        EXPECT_EQ(r.arguments, c.arguments) << c.name;
        EXPECT_EQ(r.dataOut.toHex(' '), c.dataOut.toHex(' ')) << c.name;
        EXPECT_EQ(r.dataIn.toHex(' '), c.dataIn.toHex(' ')) << c.name;
        EXPECT_EQ(r.status, 1167u) << c.name;
        EXPECT_TRUE(r.hasStatus) << c.name;
    }
}

TEST(TracingDevice, GetDevicesKeepsTheMaskAsItsReturnValue)
{
    CannedLibrary inner;
    TracingDevice trace(inner);
    trace.setKeeping(true);
    EXPECT_EQ(trace.GetDevices(), 0x80000005u);
    ASSERT_EQ(trace.calls().size(), 1);
    EXPECT_FALSE(trace.calls()[0].hasStatus);
    EXPECT_EQ(trace.calls()[0].status, 0x80000005u);
    EXPECT_EQ(trace.description(), QStringLiteral("canned"));
}

TEST(TracingDevice, VendorReadNeverRecordsMoreThanTheCallerOffered)
{
    struct Case {
        quint32 delivered;
        int expected;
    };
    for (const Case c : {Case{0, 0}, Case{3, 3}, Case{4, 4}, Case{4000, 4}}) {
        CannedLibrary inner;
        inner.vendorDelivered = c.delivered;
        TracingDevice trace(inner);
        trace.setKeeping(true);
        quint32 size = 4;
        quint8 buf[4] = {};
        trace.GenericVendorRead(-3, 0x91, 0, 0, &size, buf);
        EXPECT_EQ(size, c.delivered) << "the caller sees the library's answer unchanged";
        EXPECT_EQ(trace.calls()[0].dataIn.size(), c.expected) << c.delivered;
    }
}

TEST(TracingDevice, KeepsNothingUnlessAskedAndHonoursTheLimit)
{
    CannedLibrary inner;
    TracingDevice trace(inner);
    quint16 word = 0;
    trace.DIO_WriteAll(-3, &word);
    EXPECT_TRUE(trace.calls().isEmpty());
    EXPECT_EQ(inner.calls, 1);

    trace.setKeeping(true);
    trace.setLimit(3);
    for (int i = 0; i < 5; ++i) {
        word = static_cast<quint16>(i);
        trace.DIO_WriteAll(-3, &word);
    }
    ASSERT_EQ(trace.calls().size(), 3);
    EXPECT_EQ(trace.calls().front().arguments, QStringLiteral("-3, 0x0002"));
    EXPECT_EQ(trace.calls().back().arguments, QStringLiteral("-3, 0x0004"));
    // Texts written when the log is read still show the values as they were passed.
    for (quint16 w : {quint16(0x0A0A), quint16(0x0B0B)})
        trace.DIO_WriteAll(-3, &(word = w));
    word = 0xFFFF;
    ASSERT_EQ(trace.calls().size(), 3);
    EXPECT_EQ(trace.calls()[0].arguments, QStringLiteral("-3, 0x0004"));
    EXPECT_EQ(trace.calls()[1].arguments, QStringLiteral("-3, 0x0A0A"));
    EXPECT_EQ(trace.calls()[2].arguments, QStringLiteral("-3, 0x0B0B"));
    EXPECT_EQ(trace.callsMade(), 7);
    trace.clearCalls();
    EXPECT_TRUE(trace.calls().isEmpty());
}

} // namespace
} // namespace quillon
