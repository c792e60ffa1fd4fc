// Physics of the simulated board, checked against the hardware description (jig
// wiring, ladder, converter transfer, firmware records), not against station code.
#include "sim/SimBoard.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace quillon::sim {
namespace {

// A board whose clock only moves when the test says so, noise off.
struct Bench {
    std::int64_t now = 1'000'000;
    SimBoard board{[this] { return now; }, 7};
    Bench() { board.noiseVolts = 0.0; }
};

quint32 vendorRead(SimBoard &b, quint8 request, quint16 value, quint16 index, std::vector<quint8> &out, quint32 size)
{
    out.assign(size, 0xEE);
    quint32 n = size;
    const quint32 status = b.GenericVendorRead(diOnly, request, value, index, &n, out.data());
    out.resize(n);
    return status;
}

quint32 eepromWrite(SimBoard &b, quint16 address, std::vector<quint8> bytes)
{
    return b.GenericVendorWrite(diOnly, 0xA2, address, 0, quint32(bytes.size()), bytes.data());
}

// ---- Identity, enumeration, USB faults -------------------------------------------

TEST(SimIdentity, BoardCountDecidesMaskAndQueryStatus)
{
    struct Case {
        int boards;
        quint32 mask;
        quint32 status;
    };
    for (const Case c : {Case{0, 0x0, 2}, Case{1, 0x1, 0}, Case{2, 0x3, 52}, Case{3, 0x7, 52}}) {
        Bench bench;
        bench.board.identity.boardsPresent = c.boards;
        bench.board.identity.productId = 0x8145;
        EXPECT_EQ(bench.board.GetDevices(), c.mask) << c.boards;
        quint32 pid = 0xDEAD;
        EXPECT_EQ(bench.board.QueryDeviceInfo(diOnly, &pid, nullptr, nullptr, nullptr, nullptr), c.status);
        EXPECT_EQ(pid, c.status == 0 ? 0x8145u : 0xDEADu) << "nothing written on failure";
    }
}

TEST(SimIdentity, ForcedStatusAndEnumerationName)
{
    Bench bench;
    bench.board.identity.forcedQueryStatus = 31;
    quint32 pid = 0;
    EXPECT_EQ(bench.board.QueryDeviceInfo(diOnly, &pid, nullptr, nullptr, nullptr, nullptr), 31u);
    EXPECT_EQ(pid, 0u);

    // Enumeration by index: a zero-terminated name cut to the buffer, length written back.
    char name[6];
    std::memset(name, 'x', sizeof name);
    quint32 size = sizeof name;
    EXPECT_EQ(bench.board.QueryDeviceInfo(0, nullptr, &size, name, nullptr, nullptr), 0u);
    EXPECT_EQ(size, 5u);
    EXPECT_EQ(std::strlen(name), 5u);
    EXPECT_NE(bench.board.QueryDeviceInfo(1, nullptr, &size, name, nullptr, nullptr), 0u) << "no board at index 1";
    EXPECT_TRUE(bench.board.description().contains(QStringLiteral("Simulated")));
}

TEST(SimIdentity, VendorReadsAnswerFromIdentity)
{
    Bench bench;
    auto &id = bench.board.identity;
    id.firmwareReply = {2, 0, 0, 0};
    id.revisionReply = {1, 0};
    id.busTestVerdict = 0xFE;
    std::vector<quint8> out;
    EXPECT_EQ(vendorRead(bench.board, 0xB3, 0, 0, out, 4), 0u);
    EXPECT_EQ(out, (std::vector<quint8>{2, 0, 0, 0}));
    EXPECT_EQ(vendorRead(bench.board, 0xB3, 0, 0, out, 2), 0u);
    EXPECT_EQ(out.size(), 2u) << "never more than asked";
    EXPECT_EQ(vendorRead(bench.board, 0xA3, 0x8000, 1, out, 2), 0u);
    EXPECT_EQ(out, (std::vector<quint8>{1, 0}));
    EXPECT_EQ(vendorRead(bench.board, 0x91, 0, 0, out, 1), 0u);
    EXPECT_EQ(out, (std::vector<quint8>{0xFE}));
    EXPECT_NE(vendorRead(bench.board, 0x42, 0, 0, out, 1), 0u) << "unknown request";
    EXPECT_EQ(bench.board.ADC_QueryCal(diOnly), 0u);
    id.calSupported = false;
    EXPECT_NE(bench.board.ADC_QueryCal(diOnly), 0u);
}

TEST(SimFaults, FailingCallDoesNothingAndUnplugFailsEverythingAfter)
{
    Bench bench;
    auto &b = bench.board;
    b.faults.failCallNumber = 2;
    b.faults.failStatus = 1167;
    quint16 word = 0x1234;
    EXPECT_EQ(b.DIO_WriteAll(diOnly, &word), 0u);
    word = 0x5678;
    EXPECT_EQ(b.DIO_WriteAll(diOnly, &word), 1167u);
    EXPECT_EQ(b.dioOutputLatch(), 0x1234) << "the failed call had no effect";
    EXPECT_EQ(b.ClearDevices(), 0u);
    EXPECT_EQ(b.clearDevicesCount(), 1);
    EXPECT_EQ(b.callCount(), 3);

    b.faults.failRequest = 0x91;
    std::vector<quint8> out;
    EXPECT_EQ(vendorRead(b, 0x91, 0, 0, out, 1), 1167u);
    EXPECT_EQ(vendorRead(b, 0xB3, 0, 0, out, 4), 0u);

    b.faults.unplugAfterCalls = b.callCount();
    EXPECT_EQ(b.GetDevices(), 0u);
    quint32 pid = 7;
    EXPECT_EQ(b.QueryDeviceInfo(diOnly, &pid, nullptr, nullptr, nullptr, nullptr), 2u);
    EXPECT_EQ(pid, 7u);
    EXPECT_EQ(b.ADC_QueryCal(diOnly), 2u);
    EXPECT_EQ(vendorRead(b, 0xB3, 0, 0, out, 4), 2u);
}

// ---- EEPROM ----------------------------------------------------------------------

TEST(SimEeprom, WriteReadAndFaults)
{
    Bench bench;
    auto &b = bench.board;
    std::vector<quint8> out;
    EXPECT_EQ(vendorRead(b, 0xA2, 7520, 0, out, 4), 0u);
    EXPECT_EQ(out, std::vector<quint8>(4, 0xFF)) << "starts erased";

    EXPECT_EQ(eepromWrite(b, 7666, {0x4F, 0xFE}), 0u);
    b.reset(3);
    EXPECT_EQ(vendorRead(b, 0xA2, 7666, 0, out, 2), 0u);
    EXPECT_EQ(out, (std::vector<quint8>{0x4F, 0xFE})) << "survives a power cycle";

    EXPECT_EQ(vendorRead(b, 0xA2, 8190, 0, out, 4), 0u);
    EXPECT_EQ(out.size(), 2u) << "reads stop at the end of the 8 KiB";
    EXPECT_NE(eepromWrite(b, 8190, {1, 2, 3}), 0u);
    EXPECT_EQ(b.eeprom()[8190], 0xFF) << "a write past the end writes nothing";

    b.faults.eepromShortRead = 1;
    EXPECT_EQ(vendorRead(b, 0xA2, 7666, 0, out, 2), 0u);
    EXPECT_EQ(out, (std::vector<quint8>{0x4F}));
    b.faults.eepromShortRead = 0;
    b.faults.eepromCorruptReadback = true;
    EXPECT_EQ(vendorRead(b, 0xA2, 7666, 0, out, 2), 0u);
    EXPECT_NE(out[0], 0x4F);
    EXPECT_EQ(out[1], 0xFE);
    EXPECT_EQ(b.eeprom()[7666], 0x4F) << "only the read-back is corrupted";

    b.faults.eepromFailWriteAddress = 7596;
    b.faults.eepromFailStatus = 1117;
    EXPECT_EQ(eepromWrite(b, 7596, {0, 0}), 1117u);
    EXPECT_EQ(b.eeprom()[7596], 0xFF);
    EXPECT_EQ(eepromWrite(b, 7560, {0, 0}), 0u);
}

TEST(SimEeprom, ReadFaultsCanHitOneAddressOnly)
{
    struct Case {
        const char *name;
        int shortBy;
        bool corrupt;
        int faultAddress;
        quint16 readAt;
        std::vector<quint8> delivered;
    };
    const Case cases[] = {
        {"short at its address", 1, false, 7664, 7664, {0x03}},
        {"short elsewhere", 1, false, 7664, 7600, {0xAA, 0xBB}},
        {"short, read spanning the address", 1, false, 7664, 7663, {0xFF, 0x03, 0x02}},
        {"corrupt at its address", 0, true, 7664, 7664, {0x02, 0x02}},
        {"corrupt elsewhere", 0, true, 7664, 7600, {0xAA, 0xBB}},
        {"both at its address", 1, true, 7664, 7664, {0x02}},
        {"short everywhere", 1, false, -1, 7600, {0xAA}},
        {"corrupt everywhere", 0, true, -1, 7600, {0xAB, 0xBB}},
        {"address alone breaks nothing", 0, false, 7664, 7664, {0x03, 0x02}},
    };
    for (const Case &c : cases) {
        Bench bench;
        auto &b = bench.board;
        ASSERT_EQ(eepromWrite(b, 7664, {0x03, 0x02}), 0u);
        ASSERT_EQ(eepromWrite(b, 7600, {0xAA, 0xBB}), 0u);
        b.faults.eepromShortRead = c.shortBy;
        b.faults.eepromCorruptReadback = c.corrupt;
        b.faults.eepromFaultAddress = c.faultAddress;
        std::vector<quint8> out;
        const quint32 asked = quint32(c.readAt == 7663 ? 3 : 2);
        EXPECT_EQ(vendorRead(b, 0xA2, c.readAt, 0, out, asked), 0u) << c.name;
        EXPECT_EQ(out, c.delivered) << c.name;
        EXPECT_EQ(b.eeprom()[7664], 0x03) << c.name << ": only the read-back is affected";
    }
}

// ---- DIO -------------------------------------------------------------------------

quint16 readAfter(SimBoard &b, quint8 mask, quint16 latch)
{
    quint16 initial = 0xFFFF;
    b.DIO_Configure(diOnly, 0, &mask, &initial);
    b.DIO_WriteAll(diOnly, &latch);
    quint16 word = 0;
    b.DIO_ReadAll(diOnly, &word);
    return word;
}

TEST(SimDio, JigWiringFollowsBoardKindAndRevision)
{
    struct Case {
        quint32 pid;
        bool newer;
        bool jig;
        quint8 mask;
        quint16 latch;
        quint16 read;
    };
    const Case cases[] = {
        {0x8140, false, false, 0, 0x0000, 0xFFFF}, // nothing driven: pull-ups
        {0x8140, false, true, 1, 0x00A5, 0xA5A5},  // no multiplexer: A <-> B whatever the rev
        {0x8140, false, true, 2, 0x3C00, 0x3C3C},  {0x8145, true, true, 1, 0x005A, 0x5A5A}, // mux, newer than rev D
        {0x8145, false, true, 2, 0x0500, 0x0555}, // mux, rev D: B 8-11 drive both A nibbles
        {0x8145, false, true, 2, 0xF000, 0xF000}, // B 12-15 reach nothing
        {0x8145, false, true, 1, 0x000F, 0xF000}, // A nibbles fight on B 8-11: low wins
        {0x805F, false, true, 1, 0x0081, 0x8181}, // variant 31 has no multiplexer
    };
    for (const Case &c : cases) {
        Bench bench;
        bench.board.identity.productId = c.pid;
        bench.board.identity.newerThanRevD = c.newer;
        bench.board.jig.connected = c.jig;
        EXPECT_EQ(readAfter(bench.board, c.mask, c.latch), c.read)
            << std::hex << c.pid << " mask " << int(c.mask) << " latch " << c.latch;
    }
}

TEST(SimDio, LineFaults)
{
    struct Case {
        const char *what;
        bool jig;
        Faults faults;
        quint8 mask;
        quint16 latch;
        quint16 read;
    };
    auto with = [](auto set) {
        Faults f;
        set(f);
        return f;
    };
    const Case cases[] = {
        {"pull-downs everywhere", false, with([](Faults &f) { f.dioPullDowns = 0xFFFF; }), 0, 0, 0x0000},
        {"stuck low under a driver", true, with([](Faults &f) { f.dioStuckLow = 0x0008; }), 1, 0x00FF, 0xF7F7},
        {"stuck high through the jig", true, with([](Faults &f) {
             f.dioStuckHigh = 0x0100;
             f.dioPullDowns = 0xFFFF;
         }),
         0, 0, 0x0101},
        {"bridge, one driven low", true, with([](Faults &f) {
             f.dioBridgeA = 2;
             f.dioBridgeB = 3;
         }),
         1, 0x0004, 0x0000},
        {"bridge, undriven, one pull-down", false, with([](Faults &f) {
             f.dioBridgeA = 8;
             f.dioBridgeB = 9;
             f.dioPullDowns = 0x0200;
         }),
         0, 0, 0xFCFF},
        {"jig missing", true, with([](Faults &f) { f.jigMissing = true; }), 1, 0x0000, 0xFF00},
    };
    for (const Case &c : cases) {
        Bench bench;
        bench.board.jig.connected = c.jig;
        bench.board.faults = c.faults;
        EXPECT_EQ(readAfter(bench.board, c.mask, c.latch), c.read) << c.what;
    }
}

// ---- A/D -------------------------------------------------------------------------

// Configures a scan of first..last in one range code for every channel group.
void configure(SimBoard &b, int first, int last, quint8 range, quint8 source = 0)
{
    quint8 block[21] = {};
    std::memset(block, range, 16);
    block[16] = source;
    block[17] = 0x15;
    block[18] = quint8((first & 0x0F) | ((last & 0x0F) << 4));
    block[20] = quint8(((first >> 4) & 0x0F) | (last & 0xF0));
    quint32 size = 21;
    ASSERT_EQ(b.ADC_SetConfig(diOnly, block, &size), 0u);
}

std::vector<double> scan(SimBoard &b, quint32 *status = nullptr)
{
    std::vector<double> buf(256, -99.0);
    const quint32 s = b.ADC_GetScanV(diOnly, buf.data());
    if (status)
        *status = s;
    return buf;
}

TEST(SimAdc, LadderPerBoardVariant)
{
    struct Case {
        quint32 pid;
        int channel;
        double volts;
    };
    const Case cases[] = {
        {0x8140, 0, 10.0},  {0x8140, 1, 10.0 / 15},  {0x8140, 8, 80.0 / 15}, {0x8140, 15, 10.0},
        {0x8145, 16, 0.0},  {0x8145, 17, 10.0 / 15}, {0x8145, 48, 0.0},      {0x8145, 63, 10.0},
        {0x815E, 16, 10.0}, {0x815E, 144, 10.0},     {0x815E, 159, 10.0},    {0x814A, 31, 10.0},
        {0x814A, 40, 0.0}, // beyond the 32 channels this board has
    };
    for (const Case &c : cases) {
        Bench bench;
        bench.board.identity.productId = c.pid;
        bench.board.jig.connected = true;
        configure(bench.board, 0, 255, 1); // +/-10 V: nothing clips
        const auto r = scan(bench.board);
        EXPECT_NEAR(r[size_t(c.channel)], c.volts, 20.0 / 65536)
            << std::hex << c.pid << std::dec << " ch " << c.channel;
        EXPECT_DOUBLE_EQ(bench.board.channelVolts(c.channel), c.volts);
    }
}

TEST(SimAdc, RangesClipAndQuantise)
{
    struct Case {
        quint8 range;
        int channel;
        int polarity;
        double volts;
        double lsb;
    };
    const double v1 = 10.0 / 15;
    const Case cases[] = {
        {0, 1, +1, v1, 10.0 / 65536},
        {1, 1, +1, v1, 20.0 / 65536},
        {2, 1, +1, v1, 5.0 / 65536},
        {3, 1, +1, v1, 10.0 / 65536},
        {4, 1, +1, v1, 2.0 / 65536},
        {5, 1, +1, v1, 4.0 / 65536},
        {6, 1, +1, v1, 1.0 / 65536},
        {7, 1, +1, v1, 2.0 / 65536},
        {0, 15, +1, 10.0 - 10.0 / 65536, 10.0 / 65536}, // top code
        {3, 15, +1, 5.0 - 10.0 / 65536, 10.0 / 65536},  // clipped at +5
        {7, 15, -1, -1.0, 2.0 / 65536},                 // clipped at -1
        {0, 8, -1, 0.0, 10.0 / 65536},                  // unipolar cannot go negative
    };
    for (const Case &c : cases) {
        Bench bench;
        bench.board.jig.connected = true;
        bench.board.jig.polarity = c.polarity;
        configure(bench.board, c.channel, c.channel, c.range);
        const auto r = scan(bench.board);
        const double got = r[size_t(c.channel)];
        EXPECT_NEAR(got, c.volts, c.lsb / 2 + 1e-12) << "range " << int(c.range) << " ch " << c.channel;
        const double steps = (got + ((c.range & 1) ? c.lsb * 32768 : 0.0)) / c.lsb;
        EXPECT_NEAR(steps, std::round(steps), 1e-6) << "a whole number of steps";
        EXPECT_EQ(r[size_t(c.channel) - 1], -99.0) << "only the scanned channel is written";
    }
}

TEST(SimAdc, DifferentialPairsHalfABoardApart)
{
    struct Case {
        quint32 pid;
        int channel;
        double volts;
    };
    const Case cases[] = {{0x8140, 0, -10.0 + 80.0 / 15},
                          {0x8140, 1, 80.0 / 15},
                          {0x8140, 7, 80.0 / 15},
                          {0x8145, 0, -10.0},
                          {0x8145, 1, 0.0},
                          {0x8145, 31, 0.0}};
    for (const Case &c : cases) {
        Bench bench;
        bench.board.identity.productId = c.pid;
        bench.board.jig.connected = true;
        bench.board.jig.polarity = -1;
        configure(bench.board, 0, bench.board.channelCount() / 2 - 1, 9);
        EXPECT_NEAR(scan(bench.board)[size_t(c.channel)], c.volts, 20.0 / 65536)
            << std::hex << c.pid << std::dec << " ch " << c.channel;
    }
}

TEST(SimAdc, InternalSourcesOffsetNoiseAndErrors)
{
    Bench bench;
    auto &b = bench.board;
    b.jig.connected = true;
    configure(b, 0, 0, 0, 1);
    EXPECT_NEAR(scan(b)[0], 0.0118, 10.0 / 65536);
    configure(b, 0, 0, 0, 3);
    EXPECT_NEAR(scan(b)[0], 9.93, 10.0 / 65536);

    configure(b, 0, 15, 1);
    b.faults.adcOffsetChannel = 5;
    b.faults.adcOffsetVolts = 0.5;
    auto r = scan(b);
    EXPECT_NEAR(r[5], 50.0 / 15 + 0.5, 20.0 / 65536);
    EXPECT_NEAR(r[6], 60.0 / 15, 20.0 / 65536);

    b.faults.scanErrorStatus = 0xFFFFFFFF;
    quint32 status = 0;
    r = scan(b, &status);
    EXPECT_EQ(status, 0xFFFFFFFFu);
    EXPECT_EQ(r[0], -99.0);

    // Noise stays within its bound and repeats for a seed.
    auto noisy = [](std::uint32_t seed) {
        SimBoard n([] { return std::int64_t(0); }, seed);
        n.noiseVolts = 0.01;
        configure(n, 0, 15, 1);
        return scan(n);
    };
    const auto a = noisy(5), again = noisy(5), other = noisy(6);
    EXPECT_EQ(a, again);
    EXPECT_NE(a, other);
    for (int c = 0; c < 16; ++c)
        EXPECT_LE(std::abs(a[size_t(c)]), 0.01 + 20.0 / 65536);
}

// A fault in one input range: every reading taken in that range code is off by the
// voltage (then quantised and clipped as usual), whatever the source; other ranges and
// other channels' ranges are not.
TEST(SimAdc, OneRangeCodeReadsOff)
{
    const double v1 = 10.0 / 15;
    struct Case {
        const char *name;
        int badCode;
        double by;
        quint8 range;
        quint8 source;
        int channel;
        double volts;
        double lsb;
    };
    const Case cases[] = {
        {"0-5 V, in it", 2, 0.5, 2, 0, 1, v1 + 0.5, 5.0 / 65536},
        {"0-5 V, read in 0-10", 2, 0.5, 0, 0, 1, v1, 10.0 / 65536},
        {"+/-2 V, low", 5, -1.334, 5, 0, 1, v1 - 1.334, 4.0 / 65536},
        {"0-1 V clips at the top", 6, 0.5, 6, 0, 1, 1.0 - 1.0 / 65536, 1.0 / 65536},
        {"+/-10 V differential", 9, 1.0, 9, 0, 1, v1 - 90.0 / 15 + 1.0, 20.0 / 65536},
        {"differential, read single-ended", 9, 1.0, 1, 0, 1, v1, 20.0 / 65536},
        {"internal ground in +/-10 V", 1, 0.5, 1, 1, 0, 0.0118 + 0.5, 20.0 / 65536},
        {"none", -1, 0.5, 0, 0, 1, v1, 10.0 / 65536},
    };
    for (const Case &c : cases) {
        Bench bench;
        auto &b = bench.board;
        b.jig.connected = true;
        b.faults.adcBadRangeCode = c.badCode;
        b.faults.adcBadRangeVolts = c.by;
        configure(b, 0, 7, c.range, c.source);
        EXPECT_NEAR(scan(b)[size_t(c.channel)], c.volts, c.lsb / 2 + 1e-12) << c.name;
    }

    // Ranges set per channel: only the channel in the faulty range is off, and bulk
    // acquisitions read through the same converter.
    Bench bench;
    auto &b = bench.board;
    b.jig.connected = true;
    b.faults.adcBadRangeCode = 2;
    b.faults.adcBadRangeVolts = 0.5;
    configure(b, 1, 2, 0);
    quint8 block[21];
    std::memcpy(block, b.adcConfig().data(), 21);
    block[1] = 2;
    quint32 size = 21;
    ASSERT_EQ(b.ADC_SetConfig(diOnly, block, &size), 0u);
    const auto r = scan(b);
    EXPECT_NEAR(r[1], v1 + 0.5, 5.0 / 65536 / 2);
    EXPECT_NEAR(r[2], 20.0 / 15, 10.0 / 65536 / 2);

    b.faults.dataWithoutClock = true;
    std::vector<quint16> samples(2, 0);
    ASSERT_EQ(b.ADC_BulkAcquire(diOnly, 4, samples.data()), 0u);
    EXPECT_EQ(samples[0], quint16(std::nearbyint((v1 + 0.5) / 5.0 * 65536)));
    EXPECT_EQ(samples[1], quint16(std::nearbyint(20.0 / 15 / 10.0 * 65536)));
}

// ---- Counter-clocked acquisition ------------------------------------------------

TEST(SimAcquisition, OneScanPerCounterTick)
{
    Bench bench;
    auto &b = bench.board;
    b.jig.connected = true;
    configure(b, 0, 15, 1);
    std::vector<quint16> buf(48, 0xBEEF); // three scans
    ASSERT_EQ(b.ADC_BulkAcquire(diOnly, 96, buf.data()), 0u);
    quint32 left = 0;
    bench.now += 500'000;
    ASSERT_EQ(b.ADC_BulkPoll(diOnly, &left), 0u);
    EXPECT_EQ(left, 96u) << "no clock, no data";

    double hz = 1000.0;
    b.CTR_StartOutputFreq(diOnly, 0, &hz);
    EXPECT_TRUE(b.counterRunning());
    bench.now += 1000;
    b.ADC_BulkPoll(diOnly, &left);
    EXPECT_EQ(left, 64u);
    EXPECT_EQ(buf[0], 65535) << "10 V clips at the top of +/-10 V";
    EXPECT_EQ(buf[1], 34953) << "0.667 V as a bipolar code: 32768 * (1 + 1/15)";
    EXPECT_EQ(buf[16], 0xBEEF);

    hz = 0.0;
    b.CTR_StartOutputFreq(diOnly, 0, &hz);
    bench.now += 1'000'000;
    b.ADC_BulkPoll(diOnly, &left);
    EXPECT_EQ(left, 64u) << "a stopped counter gives no ticks";

    hz = 10.0;
    b.CTR_StartOutputFreq(diOnly, 0, &hz);
    bench.now += 1'000'000;
    b.ADC_BulkPoll(diOnly, &left);
    EXPECT_EQ(left, 0u);
    EXPECT_EQ(buf[47], 65535);
    EXPECT_FALSE(b.acquisitionOutstanding());
}

TEST(SimAcquisition, TicksBeforeTheStartAreNotItsOwn)
{
    Bench bench;
    auto &b = bench.board;
    configure(b, 0, 15, 1);
    double hz = 1000.0;
    b.CTR_StartOutputFreq(diOnly, 0, &hz);
    bench.now += 50'000;
    std::vector<quint16> buf(16);
    b.ADC_BulkAcquire(diOnly, 32, buf.data());
    quint32 left = 0;
    b.ADC_BulkPoll(diOnly, &left);
    EXPECT_EQ(left, 32u);
    bench.now += 1000;
    b.ADC_BulkPoll(diOnly, &left);
    EXPECT_EQ(left, 0u);
}

TEST(SimAcquisition, ClockFaultsAndErrors)
{
    Bench bench;
    auto &b = bench.board;
    configure(b, 0, 15, 1);
    std::vector<quint16> buf(16);
    quint32 left = 0;

    b.faults.dataWithoutClock = true;
    b.ADC_BulkAcquire(diOnly, 32, buf.data());
    b.ADC_BulkPoll(diOnly, &left);
    EXPECT_EQ(left, 0u);

    b.faults.dataWithoutClock = false;
    b.faults.noDataWithClock = true;
    double hz = 1000.0;
    b.ADC_BulkAcquire(diOnly, 32, buf.data());
    b.CTR_StartOutputFreq(diOnly, 0, &hz);
    bench.now += 100'000;
    b.ADC_BulkPoll(diOnly, &left);
    EXPECT_EQ(left, 32u);

    b.faults.noDataWithClock = false;
    configure(b, 0, 15, 1);
    quint8 block[21];
    std::memcpy(block, b.adcConfig().data(), 21);
    block[17] = 16; // not the counter-clocked mode
    quint32 size = 21;
    b.ADC_SetConfig(diOnly, block, &size);
    b.ADC_BulkAcquire(diOnly, 32, buf.data());
    bench.now += 100'000;
    b.ADC_BulkPoll(diOnly, &left);
    EXPECT_EQ(left, 32u);

    b.faults.acquireErrorStatus = 5;
    EXPECT_EQ(b.ADC_BulkAcquire(diOnly, 32, buf.data()), 5u);
    b.faults.pollErrorStatus = 6;
    left = 99;
    EXPECT_EQ(b.ADC_BulkPoll(diOnly, &left), 6u);
    EXPECT_EQ(left, 99u);
}

TEST(SimAcquisition, NewAcquisitionReplacesTheOutstandingOne)
{
    Bench bench;
    auto &b = bench.board;
    configure(b, 0, 15, 1);
    std::vector<quint16> first(16, 0xBEEF), second(16, 0xBEEF);
    b.ADC_BulkAcquire(diOnly, 32, first.data());
    b.ADC_BulkAcquire(diOnly, 32, second.data());
    double hz = 1000.0;
    b.CTR_StartOutputFreq(diOnly, 0, &hz);
    bench.now += 5000;
    quint32 left = 1;
    b.ADC_BulkPoll(diOnly, &left);
    EXPECT_EQ(left, 0u);
    EXPECT_EQ(first, std::vector<quint16>(16, 0xBEEF));
    EXPECT_NE(second, std::vector<quint16>(16, 0xBEEF));
}

// ---- DACs ------------------------------------------------------------------------

quint32 dacWrite(SimBoard &b, quint16 index, std::array<quint16, 4> codes, quint8 mask = 0x0F)
{
    quint8 frame[17] = {mask};
    for (int i = 0; i < 4; ++i) {
        frame[1 + 2 * i] = quint8(codes[size_t(i)] & 0xFF);
        frame[2 + 2 * i] = quint8(codes[size_t(i)] >> 8);
    }
    return b.GenericVendorWrite(diOnly, 0xB3, 0, index, 17, frame);
}

// Stores (M, B) for every DAC in all four records, as big-endian singles.
void storeCalibration(SimBoard &b, float m, float bOffset, const char *marker = "DACC")
{
    std::vector<quint8> block;
    for (int i = 0; i < 4; ++i) {
        for (float v : {m, bOffset}) {
            quint32 bits;
            std::memcpy(&bits, &v, 4);
            for (int shift = 24; shift >= 0; shift -= 8)
                block.push_back(quint8(bits >> shift));
        }
    }
    for (int r = 0; r < 4; ++r) {
        ASSERT_EQ(eepromWrite(b, quint16(7524 + 36 * r), block), 0u);
        ASSERT_EQ(eepromWrite(b, quint16(7520 + 36 * r),
                              {quint8(marker[0]), quint8(marker[1]), quint8(marker[2]), quint8(marker[3])}),
                  0u);
    }
}

quint32 reload(SimBoard &b)
{
    quint8 zeros[17] = {};
    return b.GenericVendorWrite(diOnly, 0xB3, 0, 0x4000, 17, zeros);
}

TEST(SimDac, RawOutputThroughJumperedRangeAndErrors)
{
    struct Case {
        int jumper;
        quint16 code;
        double ideal;
    };
    const Case cases[] = {{0, 32768, 2.5}, {1, 0, -5.0}, {2, 65535, 10.0 * 65535 / 65536}, {3, 32768, 0.0}};
    for (const Case &c : cases) {
        Bench bench;
        bench.board.identity.dacJumperRange = c.jumper;
        ASSERT_EQ(dacWrite(bench.board, 0x8000, {c.code, c.code, c.code, c.code}), 0u);
        for (int d = 0; d < 4; ++d)
            EXPECT_NEAR(bench.board.meterDac(d),
                        c.ideal * bench.board.dacGain[size_t(d)] + bench.board.dacOffset[size_t(d)], 1e-12);
    }
}

TEST(SimDac, DefaultErrorsLeaveRoomToCalibrateTheNominalRange)
{
    Bench bench;
    auto &b = bench.board;
    dacWrite(b, 0x8000, {0, 0, 0, 0});
    for (int d = 0; d < 4; ++d)
        EXPECT_LT(b.meterDac(d), -10.0) << d;
    dacWrite(b, 0x8000, {65535, 65535, 65535, 65535});
    for (int d = 0; d < 4; ++d)
        EXPECT_GT(b.meterDac(d), 10.0 * 65535 / 32768 - 10.0) << d;
}

TEST(SimDac, CalibratedWritesApplyReloadedRecords)
{
    Bench bench;
    auto &b = bench.board;
    ASSERT_EQ(dacWrite(b, 0x0000, {1000, 1000, 1000, 1000}), 0u);
    EXPECT_EQ(b.dacCode(0), 1000) << "no calibration: codes pass unchanged";

    storeCalibration(b, 0.5f, 100.0f);
    EXPECT_FALSE(b.calibrationLoaded()) << "stored, not yet reloaded";
    ASSERT_EQ(reload(b), 0u);
    EXPECT_TRUE(b.calibrationLoaded());
    dacWrite(b, 0x0000, {1000, 65535, 0, 3});
    EXPECT_EQ(b.dacCode(0), 600);
    EXPECT_EQ(b.dacCode(1), 32868);
    EXPECT_EQ(b.dacCode(2), 100);
    EXPECT_EQ(b.dacCode(3), 102) << "101.5 rounds to even";
    dacWrite(b, 0x8000, {1000, 1000, 1000, 1000});
    EXPECT_EQ(b.dacCode(0), 1000) << "raw ignores calibration";

    storeCalibration(b, 2.0f, 100.0f);
    b.reset(1);
    EXPECT_TRUE(b.calibrationLoaded()) << "loaded at power-on";
    dacWrite(b, 0x0000, {40000, 0, 0, 0});
    EXPECT_EQ(b.dacCode(0), 65535) << "clamped";
}

TEST(SimDac, InvalidRecordsTurnCalibrationOff)
{
    struct Case {
        const char *what;
        float m;
        const char *marker;
        quint16 tamperAddress;
    };
    const Case cases[] = {{"marker XXXX", 0.5f, "XXXX", 0},
                          {"non-finite gain", std::nanf(""), "DACC", 0},
                          {"record 2 marked invalid", 0.5f, "DACC", 7520 + 2 * 36},
                          {"record 3 holds another block", 0.5f, "DACC", 7632 + 31}};
    for (const Case &c : cases) {
        Bench bench;
        storeCalibration(bench.board, c.m, 0.0f, c.marker);
        if (c.tamperAddress)
            eepromWrite(bench.board, c.tamperAddress, {'X'});
        reload(bench.board);
        EXPECT_FALSE(bench.board.calibrationLoaded()) << c.what;
        dacWrite(bench.board, 0x0000, {1000, 1000, 1000, 1000});
        EXPECT_EQ(bench.board.dacCode(0), 1000) << c.what;
    }
}

TEST(SimDac, WriteFaultsBadFramesDriftScopeAndMeter)
{
    Bench bench;
    auto &b = bench.board;
    b.faults.dacWriteStatus = 1784;
    EXPECT_EQ(dacWrite(b, 0x8000, {0, 0, 0, 0}), 1784u);
    EXPECT_EQ(b.dacCode(0), 0x8000) << "a failed write changes nothing";
    b.faults.dacWriteStatus = 0;
    quint8 shortFrame[9] = {0x0F};
    EXPECT_NE(b.GenericVendorWrite(diOnly, 0xB3, 0, 0, 9, shortFrame), 0u);
    EXPECT_NE(b.GenericVendorWrite(diOnly, 0xB3, 0, 0x1234, 17, shortFrame), 0u) << "unknown index";

    b.faults.dacDriftIndex = 2;
    b.faults.dacDriftVolts = 0.25;
    const double at = b.meterDac(1);
    EXPECT_NEAR(b.meterDac(2) - b.dacOffset[2], 0.25, 1e-12);
    EXPECT_DOUBLE_EQ(b.meterReference(), b.faults.arefVolts);

    // The scope sees each change with its time and forgets what is older than ~5 s.
    const auto start = b.scopeTrace(0).size();
    for (int i = 1; i <= 10; ++i) {
        bench.now += 1'000'000;
        dacWrite(b, 0x8000, {quint16(i * 1000), 0, 0, 0}, 0x01);
    }
    const auto trace = b.scopeTrace(0);
    EXPECT_LT(trace.size(), start + 10);
    EXPECT_GE(trace.size(), 5u);
    EXPECT_EQ(trace.back().first, bench.now);
    EXPECT_DOUBLE_EQ(trace.back().second, b.meterDac(0));
    EXPECT_GE(trace[1].first, bench.now - 5'000'000);
    EXPECT_DOUBLE_EQ(b.meterDac(1), at) << "DAC 1 untouched by the frames above";
    for (int i = 0; i < 50000; ++i)
        dacWrite(b, 0x8000, {quint16(i), 0, 0, 0}, 0x01);
    EXPECT_LE(b.scopeTrace(0).size(), 20000u) << "bounded however fast the writes come";
}

} // namespace
} // namespace quillon::sim
