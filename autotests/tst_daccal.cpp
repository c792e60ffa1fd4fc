// DAC frames and the EEPROM calibration store, against the simulated board.
#include "station/DacCalStore.h"
#include "device/TracingDevice.h"
#include "sim/SimBoard.h"
#include "support/PlainStation.h"
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

namespace quillon {
namespace {

using sim::SimBoard;
using testing::PlainRow;

QByteArray hexBytes(const char *spaced)
{
    return QByteArray::fromHex(QByteArray(spaced).replace(' ', ""));
}

QByteArray repeat(const QByteArray &bytes, int times)
{
    QByteArray out;
    for (int i = 0; i < times; ++i)
        out += bytes;
    return out;
}

TEST(DacFrame, MaskCodesAndZeroFill)
{
    struct Case {
        std::vector<quint16> codes;
        const char *frame;
    };
    const Case cases[] = {
        {{0x1234, 0x1234, 0x1234, 0x1234}, "0F 34 12 34 12 34 12 34 12 00 00 00 00 00 00 00 00"},
        {{0xFFFF, 0x0000, 0xFFFF, 0x0000}, "0F FF FF 00 00 FF FF 00 00 00 00 00 00 00 00 00 00"},
        {{0xABCD}, "01 CD AB 00 00 00 00 00 00 00 00 00 00 00 00 00 00"},
        {{1, 2, 3, 4, 5, 6, 7, 8}, "FF 01 00 02 00 03 00 04 00 05 00 06 00 07 00 08 00"},
        // More codes than the frame holds: the ninth is not sent.
        {{1, 2, 3, 4, 5, 6, 7, 8, 9}, "FF 01 00 02 00 03 00 04 00 05 00 06 00 07 00 08 00"},
    };
    for (const Case &c : cases) {
        const auto frame = DacFrame(c.codes);
        EXPECT_EQ(QByteArray(reinterpret_cast<const char *>(frame.data()), int(frame.size())), hexBytes(c.frame))
            << c.frame;
    }
}

TEST(DacFrame, DirectWriteSelectsIndexByRawFlag)
{
    SimBoard board;
    TracingDevice trace(board);
    trace.setKeeping(true);
    const std::array<quint16, 4> codes{0x1234, 0x1234, 0x1234, 0x1234};
    EXPECT_EQ(DACMultiDirect(trace, diOnly, codes, false), 0u);
    EXPECT_EQ(DACMultiDirect(trace, diOnly, codes, true), 0u);
    board.faults.dacWriteStatus = 0xFFFFFFFF;
    EXPECT_EQ(DACMultiDirect(trace, diOnly, codes, false), 0xFFFFFFFFu); // unchanged, never retried

    ASSERT_EQ(trace.calls().size(), 3);
    EXPECT_EQ(trace.calls()[0].arguments, "-3, 0xB3, 0x0000, 0x0000, size=17");
    EXPECT_EQ(trace.calls()[1].arguments, "-3, 0xB3, 0x0000, 0x8000, size=17");
    EXPECT_EQ(trace.calls()[0].dataOut, hexBytes("0F 34 12 34 12 34 12 34 12 00 00 00 00 00 00 00 00"));
    EXPECT_EQ(board.dacCode(3), 0x1234);
}

TEST(DacCalBlock, BigEndianSingles)
{
    EXPECT_EQ(ByteSwap32(0x3F800000u), 0x0000803Fu);
    EXPECT_EQ(ByteSwap32(0x12345678u), 0x78563412u);

    const auto block = DacCalBlock(DacCalConstants{});
    EXPECT_EQ(QByteArray(reinterpret_cast<const char *>(block.data()), 32),
              repeat(hexBytes("3F 80 00 00 00 00 00 00"), 4));

    DacCalConstants c;
    c.M = {-2.5f, 1.0f, 1.0f, 0.5f};
    c.B = {0.0f, 0.0f, 0.0f, -0.0f};
    const auto mixed = DacCalBlock(c);
    EXPECT_EQ(QByteArray(reinterpret_cast<const char *>(mixed.data()), 32),
              hexBytes("C0 20 00 00 00 00 00 00 3F 80 00 00 00 00 00 00 "
                       "3F 80 00 00 00 00 00 00 3F 00 00 00 80 00 00 00"));
}

// Passes everything on, except where a test wants one EEPROM write to go wrong in a
// way the board's own fault switches cannot single out (only from its second time on).
class Interposer final : public DeviceLibrary {
public:
    explicit Interposer(DeviceLibrary &inner) : m_inner(inner) {}
    // Status to fail a write with instead of sending it (0: send it).
    std::function<quint32(quint16 value)> failWrite;

    QString description() const override { return m_inner.description(); }
    quint32 GetDevices() override { return m_inner.GetDevices(); }
    quint32 QueryDeviceInfo(qint32 d, quint32 *p, quint32 *ns, char *n, quint32 *db, quint32 *c) override
    {
        return m_inner.QueryDeviceInfo(d, p, ns, n, db, c);
    }
    quint32 ClearDevices() override { return m_inner.ClearDevices(); }
    quint32 GenericVendorRead(qint32 d, quint8 r, quint16 v, quint16 i, quint32 *size, void *data) override
    {
        return m_inner.GenericVendorRead(d, r, v, i, size, data);
    }
    quint32 GenericVendorWrite(qint32 d, quint8 r, quint16 v, quint16 i, quint32 size, void *data) override
    {
        if (failWrite)
            if (const quint32 status = failWrite(v))
                return status;
        return m_inner.GenericVendorWrite(d, r, v, i, size, data);
    }
    quint32 ADC_SetConfig(qint32 d, quint8 *b, quint32 *s) override { return m_inner.ADC_SetConfig(d, b, s); }
    quint32 ADC_GetScanV(qint32 d, double *b) override { return m_inner.ADC_GetScanV(d, b); }
    quint32 ADC_QueryCal(qint32 d) override { return m_inner.ADC_QueryCal(d); }
    quint32 ADC_SetCal(qint32 d, const char *f) override { return m_inner.ADC_SetCal(d, f); }
    quint32 ADC_BulkAcquire(qint32 d, quint32 s, void *b) override { return m_inner.ADC_BulkAcquire(d, s, b); }
    quint32 ADC_BulkPoll(qint32 d, quint32 *l) override { return m_inner.ADC_BulkPoll(d, l); }
    quint32 CTR_StartOutputFreq(qint32 d, quint32 b, double *hz) override
    {
        return m_inner.CTR_StartOutputFreq(d, b, hz);
    }
    quint32 DIO_Configure(qint32 d, quint8 t, void *m, void *x) override { return m_inner.DIO_Configure(d, t, m, x); }
    quint32 DIO_WriteAll(qint32 d, void *x) override { return m_inner.DIO_WriteAll(d, x); }
    quint32 DIO_ReadAll(qint32 d, void *x) override { return m_inner.DIO_ReadAll(d, x); }
    quint32 DACSetBoardRange(qint32 d, quint32 r) override { return m_inner.DACSetBoardRange(d, r); }

private:
    DeviceLibrary &m_inner;
};

class DacCalStoreTest : public ::testing::Test {
protected:
    DacCalStoreTest()
    {
        // A recognisable EEPROM, so that any stray byte shows.
        auto &e = board.eeprom();
        for (size_t i = 0; i < e.size(); ++i)
            e[i] = std::uint8_t(i * 7 + 3);
        before = e;
        constants.M = {1.25f, 0.75f, 1.0f, 1.0f};
        constants.B = {-3.5f, 2.0f, 0.0f, 0.0f};
        trace.setKeeping(true);
    }

    QByteArray eepromBytes(int address, int size) const
    {
        return QByteArray(reinterpret_cast<const char *>(board.eeprom().data()) + address, size);
    }
    QByteArray marker(int record) const { return eepromBytes(DacCalRecordBase + 36 * record, 4); }
    QByteArray blockOf(int record) const { return eepromBytes(DacCalRecordBase + 36 * record + 4, 32); }
    QByteArray expectedBlock() const
    {
        const auto b = DacCalBlock(constants);
        return QByteArray(reinterpret_cast<const char *>(b.data()), 32);
    }

    // "DACC" only ever beside a block and range/count equal to what was stored.
    void expectSoundMarkers(quint8 range, quint8 count) const
    {
        for (int r = 0; r < 4; ++r) {
            if (marker(r) == "DACC") {
                EXPECT_EQ(blockOf(r), expectedBlock()) << "record " << r;
                EXPECT_EQ(eepromBytes(DacRangeCountAddress, 2), QByteArray({char(range), char(count)}));
            }
        }
    }
    // Nothing outside the four records and the range/count byte pair changed.
    void expectOnlyCalAreaWritten() const
    {
        const auto &e = board.eeprom();
        for (size_t i = 0; i < e.size(); ++i) {
            if (i >= DacCalRecordBase && i < ArefCalAddress)
                continue;
            ASSERT_EQ(e[i], before[i]) << "address " << i;
        }
    }

    SimBoard board;
    TracingDevice trace{board};
    PlainRow row{8};
    DacCalConstants constants;
    std::vector<std::uint8_t> before;
};

TEST_F(DacCalStoreTest, StoresVerifiesAndValidatesInOrder)
{
    EXPECT_FALSE(DacCalStore(trace, constants, 3, 2, row));
    EXPECT_TRUE(row.memoLines().isEmpty());

    const QString block = QString::fromLatin1(expectedBlock().toHex());
    const QString markers[] = {"0x1D60", "0x1D84", "0x1DA8", "0x1DCC"};
    const QString blocks[] = {"0x1D64", "0x1D88", "0x1DAC", "0x1DD0"};
    QStringList expected;
    for (const QString &a : markers)
        expected << "W " + a + " size=4 58585858"; // "XXXX"
    for (const QString &a : blocks)
        expected << "W " + a + " size=32 " + block << "W 0x1DF0 size=2 0302";
    for (const QString &a : blocks)
        expected << "R " + a + " size=32 " + block;
    expected << "R 0x1DF0 size=2 0302";
    for (const QString &a : markers)
        expected << "W " + a + " size=4 44414343"; // "DACC"

    QStringList seen;
    for (const LibraryCall &c : trace.calls()) {
        // Every request: the only board, request 0xA2, index 0.
        const QStringList args = c.arguments.split(", ");
        ASSERT_EQ(args.size(), 5) << c.arguments.toStdString();
        EXPECT_EQ(args[0] + args[1] + args[3], "-30xA20x0000");
        const bool write = c.function == "GenericVendorWrite";
        seen << QString(write ? "W " : "R ") + args[2] + ' ' + args[4] + ' '
                    + QString::fromLatin1((write ? c.dataOut : c.dataIn).toHex());
    }
    EXPECT_EQ(seen, expected);

    const QByteArray blockBytes = expectedBlock();
    for (int r = 0; r < 4; ++r) {
        EXPECT_EQ(marker(r), "DACC");
        EXPECT_EQ(blockOf(r), blockBytes);
    }
    EXPECT_EQ(eepromBytes(DacRangeCountAddress, 2), hexBytes("03 02"));
    expectOnlyCalAreaWritten();
}

TEST_F(DacCalStoreTest, StopsWithItsLineAndLeavesMarkersInvalid)
{
    struct Case {
        const char *name;
        std::function<void(SimBoard &)> fault;
        const char *line;
        int calls; // library calls made before the store gave up
    };
    const Case cases[] = {
        {"marker write, all bits set",
         [](SimBoard &b) {
             b.faults.eepromFailWriteAddress = 7520;
             b.faults.eepromFailStatus = 0xFFFFFFFF;
         },
         "Error 4294967295 prepping EEPROM for cal constants.", 1},
        {"record 2 block write", [](SimBoard &b) { b.faults.eepromFailWriteAddress = 7596; },
         "Error 31 writing cal constants to EEPROM.", 9},
        {"range/count write", [](SimBoard &b) { b.faults.eepromFailWriteAddress = 7664; },
         "Error 31 writing DAC range/count to EEPROM.", 6},
        {"short block read", [](SimBoard &b) { b.faults.eepromShortRead = 1; },
         "Bad length reading cal constants back from EEPROM.", 13},
        {"corrupted block read", [](SimBoard &b) { b.faults.eepromCorruptReadback = true; },
         "Data mismatch reading cal constants back from EEPROM.", 13},
        {"short block read of record 3 only",
         [](SimBoard &b) {
             b.faults.eepromShortRead = 1;
             b.faults.eepromFaultAddress = 7632;
         },
         "Bad length reading cal constants back from EEPROM.", 16},
        {"corrupted block read of record 1 only",
         [](SimBoard &b) {
             b.faults.eepromCorruptReadback = true;
             b.faults.eepromFaultAddress = 7560;
         },
         "Data mismatch reading cal constants back from EEPROM.", 14},
        {"short range/count read",
         [](SimBoard &b) {
             b.faults.eepromShortRead = 1;
             b.faults.eepromFaultAddress = DacRangeCountAddress;
         },
         "Bad length reading DAC range/count back from EEPROM.", 17},
        {"range/count read back corrupted",
         [](SimBoard &b) {
             b.faults.eepromCorruptReadback = true;
             b.faults.eepromFaultAddress = DacRangeCountAddress;
         },
         "Data mismatch reading DAC range/count back from EEPROM.", 17},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SimBoard b;
        b.eeprom() = before;
        c.fault(b);
        PlainRow memo;
        EXPECT_TRUE(DacCalStore(b, constants, 1, 4, memo));
        EXPECT_EQ(memo.memoLines(), QStringList{c.line});
        EXPECT_EQ(b.callCount(), c.calls);
        for (int r = 0; r < 4; ++r) {
            const QByteArray m(reinterpret_cast<const char *>(b.eeprom().data()) + DacCalRecordBase + 36 * r, 4);
            if (c.calls == 1)
                EXPECT_EQ(m, QByteArray(reinterpret_cast<const char *>(before.data()) + DacCalRecordBase + 36 * r, 4));
            else
                EXPECT_EQ(m, "XXXX") << "record " << r;
        }
    }
}

TEST_F(DacCalStoreTest, ReadFaultsAtAnAddressItNeverReadsLeaveItPassing)
{
    board.faults.eepromShortRead = 1;
    board.faults.eepromCorruptReadback = true;
    board.faults.eepromFaultAddress = 7520; // a marker: written, never read back
    EXPECT_FALSE(DacCalStore(board, constants, 3, 2, row));
    EXPECT_TRUE(row.memoLines().isEmpty());
    for (int r = 0; r < 4; ++r)
        EXPECT_EQ(marker(r), "DACC") << "record " << r;
}

TEST_F(DacCalStoreTest, BlockWriteFailureKeepsEarlierRecords)
{
    board.faults.eepromFailWriteAddress = 7596;
    EXPECT_TRUE(DacCalStore(trace, constants, 2, 4, row));
    EXPECT_EQ(blockOf(0), expectedBlock());
    EXPECT_EQ(blockOf(1), expectedBlock());
    EXPECT_EQ(blockOf(2), QByteArray(reinterpret_cast<const char *>(before.data()) + 7596, 32));
    EXPECT_EQ(trace.calls().last().arguments, "-3, 0xA2, 0x1DAC, 0x0000, size=32");
}

// Fails each request of the store in turn: the right line, nothing outside the
// calibration area touched, and "DACC" never beside unverified data.
TEST_F(DacCalStoreTest, EveryFailingRequestIsReportedAndLeavesNoFalseMarker)
{
    const auto lineFor = [](int call) -> QString {
        if (call <= 4)
            return "Error 31 prepping EEPROM for cal constants.";
        if (call <= 12)
            return call % 2 ? "Error 31 writing cal constants to EEPROM."
                            : "Error 31 writing DAC range/count to EEPROM.";
        if (call <= 16)
            return "Error 31 reading cal constants back from EEPROM.";
        if (call == 17)
            return "Error 31 reading DAC range/count back from EEPROM.";
        return "Error 31 recording that EEPROM has cal constants.";
    };
    constexpr int StoreCalls = 21;
    for (int call = 1; call <= StoreCalls; ++call) {
        SCOPED_TRACE(call);
        SimBoard b;
        b.eeprom() = before;
        b.faults.failCallNumber = call;
        PlainRow memo;
        EXPECT_TRUE(DacCalStore(b, constants, 2, 3, memo));
        EXPECT_EQ(memo.memoLines(), QStringList{lineFor(call)});

        board.eeprom() = b.eeprom();
        expectSoundMarkers(2, 3);
        expectOnlyCalAreaWritten();
        if (call > 4) {
            // Invalidated first; a failure while validating is withdrawn by the closing attempt.
            for (int r = 0; r < 4; ++r)
                EXPECT_EQ(marker(r), "XXXX") << "record " << r;
        }
        EXPECT_EQ(b.callCount(), call > 17 ? call + 4 : call);
    }
}

TEST_F(DacCalStoreTest, ClosingAttemptGoesOnPastFailures)
{
    // Validation fails at record 1; the quiet "XXXX" pass then also fails at record 1
    // but still reaches records 2 and 3, and adds no line.
    int writesTo7556 = 0;
    Interposer failing(trace);
    failing.failWrite = [&](quint16 address) -> quint32 { return address == 7556 && ++writesTo7556 > 1 ? 5 : 0; };

    EXPECT_TRUE(DacCalStore(failing, constants, 0, 4, row));
    EXPECT_EQ(row.memoLines(), QStringList{"Error 5 recording that EEPROM has cal constants."});
    EXPECT_EQ(writesTo7556, 3);
    EXPECT_EQ(marker(0), "XXXX");
    EXPECT_EQ(marker(1), "XXXX"); // from the first pass; neither later write landed
    EXPECT_EQ(marker(2), "XXXX");
    EXPECT_EQ(marker(3), "XXXX");
    // Validation stopped after record 1; the closing pass wrote all four records.
    int markerWrites = 0;
    for (const LibraryCall &c : trace.calls())
        markerWrites += c.function == "GenericVendorWrite" && c.dataOut.size() == 4;
    EXPECT_EQ(markerWrites, 4 + 1 + 3);
}

} // namespace
} // namespace quillon
