#include "device/SharedLibraryDevice.h"

#include "StubVexlo.h"

#include <QFileInfo>
#include <QLibrary>

#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <string>

namespace quillon {
namespace {

const QString kStub = QStringLiteral(QUILLON_STUB_LIBRARY);
const QString kPartial = QStringLiteral(QUILLON_STUB_PARTIAL_LIBRARY);

class Binding : public ::testing::Test {
protected:
    void SetUp() override
    {
        QString error;
        dev = SharedLibraryDevice::load(kStub, &error);
        ASSERT_TRUE(dev) << qPrintable(error);
        EXPECT_TRUE(error.isEmpty());
        inspect = reinterpret_cast<StubCallFn>(QLibrary(kStub).resolve("stub_call"));
        ASSERT_TRUE(inspect);
    }
    // The stub's record of the last call of function, checked to have been called once more.
    const StubCall &seen(const char *function)
    {
        const StubCall *c = inspect(function);
        EXPECT_NE(c, nullptr) << function;
        return *c;
    }
    quint32 statusOf(int position) const { return StubStatusBase + quint32(position); }

    std::unique_ptr<SharedLibraryDevice> dev;
    StubCallFn inspect = nullptr;
};

TEST_F(Binding, NamesTheLibraryItLoaded)
{
    EXPECT_TRUE(dev->description().contains(QFileInfo(kStub).fileName())) << qPrintable(dev->description());
}

TEST_F(Binding, PassesEnumerationArgumentsAndResults)
{
    EXPECT_EQ(dev->GetDevices(), StubDeviceMask);

    quint32 pid = 0;
    EXPECT_EQ(dev->QueryDeviceInfo(-3, &pid, nullptr, nullptr, nullptr, nullptr), statusOf(1));
    EXPECT_EQ(pid, StubProductId);
    const StubCall &q = seen("QueryDeviceInfo");
    EXPECT_EQ(q.args[0], 0xFFFFFFFDu);
    EXPECT_EQ(q.args[1], 1u);
    for (int i = 2; i < 6; ++i)
        EXPECT_EQ(q.args[i], 0u) << i;

    quint32 nameSize = 256, dio = 0, counters = 0;
    char name[256] = {};
    EXPECT_EQ(dev->QueryDeviceInfo(29, nullptr, &nameSize, name, &dio, &counters), statusOf(1));
    EXPECT_EQ(q.args[0], 29u);
    EXPECT_EQ(q.args[1], 0u);
    EXPECT_EQ(q.args[2], 256u);
    EXPECT_EQ(q.args[3], 1u);
    EXPECT_STREQ(name, "STUB");
    EXPECT_EQ(nameSize, 4u);
    EXPECT_EQ(dio, 2u);
    EXPECT_EQ(counters, 1u);

    const quint32 before = seen("ClearDevices").calls;
    EXPECT_EQ(dev->ClearDevices(), statusOf(2));
    EXPECT_EQ(seen("ClearDevices").calls, before + 1);
}

TEST_F(Binding, PassesVendorRequestsWithTheirWidths)
{
    quint32 size = 5;
    quint8 in[5] = {0, 0, 0, 0, 0x77};
    EXPECT_EQ(dev->GenericVendorRead(-3, 0xA3, 0x8001, 0xFFFE, &size, in), statusOf(3));
    const StubCall &r = seen("GenericVendorRead");
    EXPECT_EQ(r.args[0], 0xFFFFFFFDu);
    EXPECT_EQ(r.args[1], 0xA3u);
    EXPECT_EQ(r.args[2], 0x8001u);
    EXPECT_EQ(r.args[3], 0xFFFEu);
    EXPECT_EQ(r.args[4], 5u);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(QByteArray(reinterpret_cast<char *>(in), 5).toHex(), QByteArray("1122334477"));

    quint8 out[17];
    for (int i = 0; i < 17; ++i)
        out[i] = quint8(0xF0 - i);
    EXPECT_EQ(dev->GenericVendorWrite(-3, 0xB3, 0x1234, 0x4000, 17, out), statusOf(4));
    const StubCall &w = seen("GenericVendorWrite");
    EXPECT_EQ(w.args[1], 0xB3u);
    EXPECT_EQ(w.args[2], 0x1234u);
    EXPECT_EQ(w.args[3], 0x4000u);
    EXPECT_EQ(w.args[4], 17u);
    ASSERT_EQ(w.dataLen, 17u);
    EXPECT_EQ(std::memcmp(w.data, out, 17), 0);
}

TEST_F(Binding, PassesAnalogCalls)
{
    quint8 config[21];
    for (int i = 0; i < 21; ++i)
        config[i] = quint8(3 * i + 1);
    quint32 configSize = 21;
    EXPECT_EQ(dev->ADC_SetConfig(-3, config, &configSize), statusOf(5));
    const StubCall &c = seen("ADC_SetConfig");
    EXPECT_EQ(c.args[1], 21u);
    ASSERT_EQ(c.dataLen, 21u);
    EXPECT_EQ(std::memcmp(c.data, config, 21), 0);

    double scan[4] = {};
    EXPECT_EQ(dev->ADC_GetScanV(-3, scan), statusOf(6));
    EXPECT_EQ(scan[0], 1.25);
    EXPECT_EQ(scan[1], -2.5);

    EXPECT_EQ(dev->ADC_QueryCal(7), statusOf(7));
    EXPECT_EQ(seen("ADC_QueryCal").args[0], 7u);

    EXPECT_EQ(dev->ADC_SetCal(-3, ":1TO1:"), statusOf(8));
    EXPECT_STREQ(seen("ADC_SetCal").text, ":1TO1:");

    static quint16 samples[300];
    EXPECT_EQ(dev->ADC_BulkAcquire(-3, 600, samples), statusOf(9));
    EXPECT_EQ(seen("ADC_BulkAcquire").args[1], 600u);
    EXPECT_EQ(seen("ADC_BulkAcquire").args[2], 1u);

    quint32 left = 99;
    EXPECT_EQ(dev->ADC_BulkPoll(-3, &left), statusOf(10));
    EXPECT_EQ(seen("ADC_BulkPoll").args[1], 99u);
    EXPECT_EQ(left, StubBytesLeft);

    double hz = 1000.0;
    EXPECT_EQ(dev->CTR_StartOutputFreq(-3, 2, &hz), statusOf(11));
    EXPECT_EQ(seen("CTR_StartOutputFreq").args[1], 2u);
    EXPECT_EQ(seen("CTR_StartOutputFreq").hz, 1000.0);
    EXPECT_EQ(hz, 500.0);
}

TEST_F(Binding, PassesDigitalAndDacCalls)
{
    quint8 mask = 0x02;
    quint16 initial = 0xFFFF;
    EXPECT_EQ(dev->DIO_Configure(-3, 1, &mask, &initial), statusOf(12));
    const StubCall &cfg = seen("DIO_Configure");
    EXPECT_EQ(cfg.args[1], 1u);
    ASSERT_EQ(cfg.dataLen, 3u);
    EXPECT_EQ(cfg.data[0], 0x02);
    EXPECT_EQ(cfg.data[1], 0xFF);
    EXPECT_EQ(cfg.data[2], 0xFF);

    quint16 word = 0x0A50;
    EXPECT_EQ(dev->DIO_WriteAll(-3, &word), statusOf(13));
    const StubCall &wr = seen("DIO_WriteAll");
    ASSERT_EQ(wr.dataLen, 2u);
    EXPECT_EQ(wr.data[0] | (wr.data[1] << 8), 0x0A50);

    word = 0xFFFF;
    EXPECT_EQ(dev->DIO_ReadAll(-3, &word), statusOf(14));
    EXPECT_EQ(word, StubDioWord);

    EXPECT_EQ(dev->DACSetBoardRange(-3, 3), statusOf(15));
    EXPECT_EQ(seen("DACSetBoardRange").args[0], 0xFFFFFFFDu);
    EXPECT_EQ(seen("DACSetBoardRange").args[1], 3u);
}

TEST(BindingErrors, MissingLibraryNamesItAndTheReason)
{
    QString error;
    const QString name = QStringLiteral("/nonexistent/libquillon-no-such-vexlo.so");
    // The loader's reason is in the language of LC_MESSAGES: English for this check.
    const std::string messages = std::setlocale(LC_MESSAGES, nullptr);
    std::setlocale(LC_MESSAGES, "C");
    EXPECT_EQ(SharedLibraryDevice::load(name, &error), nullptr);
    std::setlocale(LC_MESSAGES, messages.c_str());
    EXPECT_TRUE(error.contains(name)) << qPrintable(error);
    EXPECT_TRUE(error.contains(QStringLiteral("No such file"), Qt::CaseInsensitive)) << qPrintable(error);
    EXPECT_EQ(SharedLibraryDevice::load(name, nullptr), nullptr) << "no error text wanted";
}

TEST(BindingErrors, MissingSymbolNamesIt)
{
    QString error;
    EXPECT_EQ(SharedLibraryDevice::load(kPartial, &error), nullptr);
    EXPECT_TRUE(error.contains(QStringLiteral("DACSetBoardRange"))) << qPrintable(error);
    EXPECT_TRUE(error.contains(QFileInfo(kPartial).fileName())) << qPrintable(error);
    EXPECT_TRUE(error.contains(QStringLiteral("undefined symbol"), Qt::CaseInsensitive)) << qPrintable(error);
}

} // namespace
} // namespace quillon
