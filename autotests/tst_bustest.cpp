#include "station/Station.h"
#include "device/TracingDevice.h"
#include "sim/SimBoard.h"
#include "support/PlainStation.h"
#include "support/ScriptedOperator.h"
#include "procedures/ProductionTests.h"

#include <gtest/gtest.h>

namespace quillon {
namespace {

using testing::PlainRow;
using testing::PlainShell;
using testing::ScriptedOperator;

struct Bench {
    sim::SimBoard board{[] { return std::int64_t(0); }};
    TracingDevice lib{board};
    ScriptedOperator op;
    PlainShell shell;
    StationState state;
    StationContext ctx{lib, op, shell, state};
    PlainRow row{4, false};

    Bench() { lib.setKeeping(true); }
};

TEST(AddressDataLines, MapsTheFirmwareVerdict)
{
    struct Case {
        const char *name;
        std::function<void(sim::SimBoard &)> setUp;
        TestStatus status;
        QString failText;
    };
    const Case cases[] = {
        {"pass", [](sim::SimBoard &s) { s.identity.busTestVerdict = 0x00; }, TestStatus::Pass, ""},
        {"hardware", [](sim::SimBoard &s) { s.identity.busTestVerdict = 0x01; }, TestStatus::Fail, "Hardware Failure"},
        {"skipped", [](sim::SimBoard &s) { s.identity.busTestVerdict = 0xFE; }, TestStatus::Fail, "Test Skipped"},
        {"other", [](sim::SimBoard &s) { s.identity.busTestVerdict = 0x02; }, TestStatus::Fail, "Firmware Failure #02"},
        {"ff", [](sim::SimBoard &s) { s.identity.busTestVerdict = 0xFF; }, TestStatus::Fail, "Firmware Failure #FF"},
        {"request fails", [](sim::SimBoard &s) { s.faults.failRequest = 0x91; }, TestStatus::Fail,
         "Firmware Failure #FF"},
        {"unplugged", [](sim::SimBoard &s) { s.faults.unplugAfterCalls = 0; }, TestStatus::Fail,
         "Firmware Failure #FF"},
    };
    for (const Case &c : cases) {
        Bench b;
        c.setUp(b.board);
        b.row.failText = QStringLiteral("Hardware Failure"); // from an earlier run
        runAddressDataLines(b.ctx, b.row);
        EXPECT_EQ(b.row.status(), c.status) << c.name;
        EXPECT_EQ(b.row.failText, c.failText) << c.name;
        EXPECT_EQ(b.row.refreshed, QList<TestStatus>({TestStatus::Testing, c.status})) << c.name;
        EXPECT_TRUE(b.row.memoLines().isEmpty()) << c.name;
        EXPECT_TRUE(b.op.prompts.isEmpty()) << c.name;
        EXPECT_EQ(b.op.processEventsCount, 1) << c.name;
        ASSERT_EQ(b.lib.calls().size(), 1) << c.name;
        const LibraryCall &call = b.lib.calls()[0];
        EXPECT_EQ(call.function, QStringLiteral("GenericVendorRead"));
        EXPECT_EQ(call.arguments, QStringLiteral("-3, 0x91, 0x0000, 0x0000, size=1"));
    }
}

TEST(AddressDataLines, ClearsTheOldReasonBeforeTheRequest)
{
    Bench b;
    b.row.failText = QStringLiteral("Test Skipped");
    QString seenDuringRequest;
    b.op.onProcessEvents = [&] { seenDuringRequest = b.row.failText; };
    runAddressDataLines(b.ctx, b.row);
    EXPECT_EQ(seenDuringRequest, QString());
}

TEST(AddressDataLines, SendsNothingWhenTheWindowIsClosing)
{
    Bench b;
    b.op.onProcessEvents = [&] { b.shell.isClosing = true; };
    runAddressDataLines(b.ctx, b.row);
    EXPECT_TRUE(b.lib.calls().isEmpty());
}

} // namespace
} // namespace quillon
