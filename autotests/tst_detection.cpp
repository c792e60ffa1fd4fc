#include "station/Detection.h"
#include "station/Station.h"
#include "device/TracingDevice.h"
#include "sim/SimBoard.h"
#include "support/ScriptedOperator.h"

#include <gtest/gtest.h>

#include <array>

namespace quillon {
namespace {

using testing::ScriptedOperator;

// A board on the bench, traced, and a technician who cancels unless told otherwise.
struct Bench {
    sim::SimBoard board{[] { return std::int64_t(0); }};
    TracingDevice lib{board};
    ScriptedOperator op;
    StationState state;

    Bench() { lib.setKeeping(true); }
    DetectResult detect() { return detectBoard(lib, op, state); }

    QStringList trace(const QString &function) const
    {
        QStringList out;
        for (const LibraryCall &c : lib.calls())
            if (c.function == function)
                out << c.arguments;
        return out;
    }
};

// A configuration no detection would produce, to see that a failed one keeps it.
BoardConfig marker()
{
    BoardConfig c;
    c.DioMask = 7;
    c.DioSpread = 3;
    c.ChannelCount = 99;
    c.Mux32 = true;
    c.NewRevision = true;
    return c;
}

// The variant table, written out by hand: low five bits of the product id -> layout.
struct Variant {
    int lowFirst, lowLast;
    int channels;
    bool mux32, diff;
    bool dioFixed; // 255/1 whatever the revision
};
constexpr Variant kVariants[] = {
    {0, 4, 16, false, true, true},     {5, 9, 64, false, true, false},   {10, 14, 32, true, false, false},
    {15, 19, 64, true, false, false},  {20, 24, 96, true, false, false}, {25, 29, 128, true, false, false},
    {30, 30, 160, true, false, false}, {31, 31, 16, false, true, true},
};

TEST(detectBoard, ConfiguresEverySupportedBoardForBothRevisionAnswers)
{
    for (quint32 base : {0x8040u, 0x8140u}) {
        for (int low = 0; low < 32; ++low) {
            const Variant *v = nullptr;
            for (const Variant &candidate : kVariants)
                if (low >= candidate.lowFirst && low <= candidate.lowLast)
                    v = &candidate;
            ASSERT_NE(v, nullptr);
            for (bool newer : {false, true}) {
                Bench b;
                b.board.identity.productId = base + quint32(low);
                b.board.identity.revisionReply = {1, quint8(newer ? 1 : 0)};
                b.state.dacRange.select(2);
                const QString what = QStringLiteral("id %1 newer %2").arg(base + quint32(low), 0, 16).arg(newer);

                const DetectResult r = b.detect();
                ASSERT_TRUE(r.found) << qPrintable(what);
                EXPECT_TRUE(r.calSupported);
                EXPECT_TRUE(b.op.prompts.isEmpty()) << qPrintable(what);
                const BoardConfig &c = b.state.board;
                EXPECT_EQ(c.ChannelCount, v->channels) << qPrintable(what);
                EXPECT_EQ(c.Mux32, v->mux32) << qPrintable(what);
                EXPECT_EQ(c.DiffApplies, v->diff) << qPrintable(what);
                EXPECT_EQ(c.NewRevision, newer) << qPrintable(what);
                EXPECT_EQ(c.HasDacs, base == 0x8140u) << qPrintable(what);
                const bool wide = v->dioFixed || newer;
                EXPECT_EQ(c.DioMask, wide ? 255 : 15) << qPrintable(what);
                EXPECT_EQ(c.DioSpread, wide ? 1 : 17) << qPrintable(what);
                EXPECT_EQ(b.state.dacRange.DacRange, -1);
                EXPECT_EQ(b.state.dacRange.DacSpanVolts, 10) << "only the range is forgotten";
            }
        }
    }
}

TEST(detectBoard, SendsExactlyTheDetectionTraffic)
{
    Bench b;
    b.board.identity.firmwareReply = {1, 1, 0, 0};
    b.board.identity.revisionReply = {1, 1};
    ASSERT_TRUE(b.detect().found);
    QStringList calls;
    for (const LibraryCall &c : b.lib.calls())
        calls << c.function + QLatin1Char('(') + c.arguments + QLatin1Char(')');
    EXPECT_EQ(calls, QStringList({
                         "GetDevices()",
                         "QueryDeviceInfo(0, null, nameSize=256, name, null, null)",
                         "QueryDeviceInfo(-3, productId, null, null, null, null)",
                         "ADC_QueryCal(-3)",
                         "GenericVendorRead(-3, 0xB3, 0x0000, 0x0000, size=4)",
                         "GenericVendorRead(-3, 0xA3, 0x8000, 0x0001, size=2)",
                     }));
}

TEST(detectBoard, EnumeratesEveryPresentIndexLowestFirst)
{
    Bench b;
    b.board.identity.boardsPresent = 32; // every mask bit set, bit 31 included
    EXPECT_FALSE(b.detect().found);
    const QStringList queries = b.trace(QStringLiteral("QueryDeviceInfo"));
    ASSERT_EQ(queries.size(), 33);
    for (int i = 0; i < 32; ++i)
        EXPECT_EQ(queries[i], QStringLiteral("%1, null, nameSize=256, name, null, null").arg(i));
    EXPECT_EQ(queries.last(), QStringLiteral("-3, productId, null, null, null, null"));
}

TEST(detectBoard, ShowsTheRetryCancelBoxForEachFailure)
{
    struct Case {
        const char *name;
        std::function<void(sim::SimBoard &)> setUp;
        QString caption;
        QString text;
    };
    const QString generic = QStringLiteral("Failed board detection with Windows error %1. Ask the Software department "
                                           "about this Windows error code for details.");
    const QString wrong = QStringLiteral("Failed to find a matching board, but found a non-matching board.");
    const Case cases[] = {
        {"no board", [](sim::SimBoard &s) { s.identity.boardsPresent = 0; }, "No-Board Error",
         "Failed to use diOnly; there doesn't appear to be an Calder USB board plugged in."},
        {"two boards", [](sim::SimBoard &s) { s.identity.boardsPresent = 2; }, "Multi-Board Error",
         "Failed to use diOnly; there appear to be multiple Calder USB boards plugged in."},
        {"bit 5 set", [](sim::SimBoard &s) { s.identity.productId = 0x8060; }, "Wrong-Board Error", wrong},
        {"bit 9 set", [](sim::SimBoard &s) { s.identity.productId = 0x8240; }, "Wrong-Board Error", wrong},
        {"other status", [](sim::SimBoard &s) { s.identity.forcedQueryStatus = 31; }, "No-Board Error",
         generic.arg(31)},
        {"all bits", [](sim::SimBoard &s) { s.identity.forcedQueryStatus = 0xFFFFFFFFu; }, "No-Board Error",
         generic.arg(QStringLiteral("4294967295"))},
    };
    for (const Case &c : cases) {
        Bench b;
        c.setUp(b.board);
        b.state.board = marker();
        b.state.dacRange.select(1);

        EXPECT_FALSE(b.detect().found) << c.name;
        ASSERT_EQ(b.op.prompts.size(), 1) << c.name;
        EXPECT_EQ(b.op.prompts[0].kind, QStringLiteral("RetryCancel")) << c.name;
        EXPECT_EQ(b.op.prompts[0].caption, c.caption) << c.name;
        EXPECT_EQ(b.op.prompts[0].text, c.text) << c.name;
        EXPECT_EQ(b.board.clearDevicesCount(), 1) << c.name;
        EXPECT_EQ(b.lib.calls().last().function, QStringLiteral("ClearDevices")) << "nothing after giving up";
        EXPECT_EQ(b.state.board, marker()) << c.name;
        EXPECT_EQ(b.state.dacRange.DacRange, -1) << c.name;
    }
}

TEST(detectBoard, RetryFindsABoardPluggedInMeanwhile)
{
    Bench b;
    b.board.identity.boardsPresent = 0;
    b.op.boxAnswers = {IdRetry};
    b.op.onPrompt = [&](const testing::Prompt &) { b.board.identity.boardsPresent = 1; };

    ASSERT_TRUE(b.detect().found);
    EXPECT_EQ(b.op.captions(), QStringList({"No-Board Error"}));
    EXPECT_EQ(b.board.clearDevicesCount(), 1);
    EXPECT_EQ(b.trace(QStringLiteral("GetDevices")).size(), 2);
    EXPECT_EQ(b.trace(QStringLiteral("QueryDeviceInfo")),
              QStringList({"-3, productId, null, null, null, null", "0, null, nameSize=256, name, null, null",
                           "-3, productId, null, null, null, null"}));
    EXPECT_EQ(b.state.board.ChannelCount, 16);
}

TEST(detectBoard, ClearsTheDeviceListAfterEveryBoxWhateverTheAnswer)
{
    Bench b;
    b.board.identity.boardsPresent = 2;
    b.op.boxAnswers = {IdRetry, IdRetry, IdCancel};
    EXPECT_FALSE(b.detect().found);
    EXPECT_EQ(b.op.prompts.size(), 3);
    EXPECT_EQ(b.board.clearDevicesCount(), 3);
}

TEST(detectBoard, WarnsAboutOldFirmwareAndDrivers)
{
    const QString firmware = QStringLiteral(
        "This computer's 8140.spt firmware file is out of date. DAC Calibration won't pass testing; please update "
        "your drivers for a proper test.");
    const QString driver = QStringLiteral(
        "This computer's Vexlo.sys or 8140.spt driver file is out of date. Assuming rev D or earlier; please "
        "update your drivers for a proper test.");
    struct Case {
        std::array<quint8, 4> firmwareReply;
        std::array<quint8, 2> revisionReply;
        QStringList warnings;
        bool newRevision;
    };
    const Case cases[] = {
        {{1, 1, 0, 0}, {1, 1}, {}, true},
        {{0, 0, 0, 0}, {1, 1}, {}, true},
        {{2, 0, 0, 0}, {1, 1}, {firmware}, true},
        {{0, 2, 0, 0}, {1, 1}, {firmware}, true},
        {{1, 0, 1, 0}, {1, 1}, {firmware}, true},
        {{1, 0, 0, 1}, {1, 1}, {firmware}, true},
        {{1, 0, 0, 0}, {0, 0}, {driver}, false},
        {{1, 0, 0, 0}, {0, 1}, {driver}, false},
        {{1, 0, 0, 0}, {1, 0}, {}, false},
        {{1, 0, 0, 0}, {7, 9}, {}, true},
        {{2, 0, 0, 0}, {0, 1}, {firmware, driver}, false},
    };
    for (const Case &c : cases) {
        Bench b;
        b.board.identity.productId = 0x8145; // revision decides the DIO pattern
        b.board.identity.firmwareReply = c.firmwareReply;
        b.board.identity.revisionReply = c.revisionReply;
        const QString what = QByteArray(reinterpret_cast<const char *>(c.firmwareReply.data()), 4).toHex(' ') + " / "
                             + QByteArray(reinterpret_cast<const char *>(c.revisionReply.data()), 2).toHex(' ');

        ASSERT_TRUE(b.detect().found) << qPrintable(what);
        QStringList texts;
        for (const auto &p : b.op.prompts) {
            EXPECT_EQ(p.kind, QStringLiteral("Warning"));
            EXPECT_EQ(p.caption, QStringLiteral("Old Firmware Warning"));
            texts << p.text;
        }
        EXPECT_EQ(texts, c.warnings) << qPrintable(what);
        EXPECT_EQ(b.state.board.NewRevision, c.newRevision) << qPrintable(what);
        EXPECT_EQ(b.state.board.DioMask, c.newRevision ? 255 : 15) << qPrintable(what);
    }
}

TEST(detectBoard, RevisionReadThatDeliversNothingSeesTheFirmwareReply)
{
    struct Case {
        std::array<quint8, 4> firmwareReply;
        bool newRevision;
        int warnings;
    };
    for (const Case c : {Case{{1, 1, 0, 0}, true, 0}, Case{{1, 0, 0, 0}, false, 0}, Case{{0, 1, 0, 0}, false, 1}}) {
        Bench b;
        b.board.identity.firmwareReply = c.firmwareReply;
        b.board.faults.failRequest = 0xA3;
        ASSERT_TRUE(b.detect().found);
        EXPECT_EQ(b.state.board.NewRevision, c.newRevision);
        EXPECT_EQ(b.op.prompts.size(), c.warnings);
        EXPECT_EQ(b.lib.calls().last().status, 31u) << "the failing status is not examined";
    }
}

TEST(detectBoard, ReportsMissingCalibrationSupport)
{
    Bench b;
    b.board.identity.calSupported = false;
    const DetectResult r = b.detect();
    EXPECT_TRUE(r.found);
    EXPECT_FALSE(r.calSupported);
    EXPECT_TRUE(b.op.prompts.isEmpty());
}

TEST(detectBoard, ASuccessfulDetectionReplacesTheWholeConfiguration)
{
    Bench b;
    b.board.identity.productId = 0x815E; // variant 6: 160 channels
    b.board.identity.revisionReply = {1, 0};
    b.state.board = marker();
    ASSERT_TRUE(b.detect().found);
    BoardConfig expected;
    expected.DioMask = 15;
    expected.DioSpread = 17;
    expected.ChannelCount = 160;
    expected.Mux32 = true;
    expected.HasDacs = true;
    EXPECT_EQ(b.state.board, expected);
}

} // namespace
} // namespace quillon
