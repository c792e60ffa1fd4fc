#include "sim/bench/BenchWindow.h"
#include "sim/bench/FaultPanel.h"
#include "sim/FaultTable.h"
#include "sim/bench/ScopeView.h"
#include "sim/bench/TrafficView.h"

#include "device/TracingDevice.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QImage>
#include <QLabel>
#include <QLocale>
#include <QLineEdit>
#include <QRadioButton>
#include <QScreen>
#include <QSpinBox>
#include <QTimer>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace quillon::sim {
namespace {

// A board on a clock the test moves, its call log, and the bench over both.
struct Bench {
    std::int64_t now = 10'000'000;
    SimBoard board{[this] { return now; }};
    TracingDevice trace{board};
    std::unique_ptr<BenchWindow> window;

    explicit Bench(BenchHooks hooks = {})
    {
        hooks.clock = [this] { return now; };
        window = std::make_unique<BenchWindow>(board, trace, std::move(hooks));
    }
    template <typename T>
    T *find(const QString &name) const
    {
        T *w = window->findChild<T *>(name);
        EXPECT_NE(w, nullptr) << name.toStdString();
        return w;
    }
    // Sets DAC codes through the firmware's raw write request, as the station does.
    void writeDacs(quint16 code0, quint16 code1, quint16 code2, quint16 code3)
    {
        quint8 frame[17]{0x0F};
        const quint16 codes[4]{code0, code1, code2, code3};
        for (int i = 0; i < 4; ++i) {
            frame[1 + 2 * i] = quint8(codes[i] & 0xFF);
            frame[2 + 2 * i] = quint8(codes[i] >> 8);
        }
        ASSERT_EQ(trace.GenericVendorWrite(diOnly, 0xB3, 0, 0x8000, sizeof frame, frame), 0u);
    }
};

int selectProduct(QComboBox *combo, quint32 id)
{
    const int index = combo->findData(id);
    combo->setCurrentIndex(index);
    return index;
}

TEST(BenchWindow, SaysItIsTheSimulatorAndNeverKeepsTheProgramAlive)
{
    Bench bench;
    EXPECT_EQ(bench.window->windowTitle(), QStringLiteral("Simulated bench"));

    // Closing the station ends the event loop although the bench is still open.
    QWidget station;
    station.show();
    bench.window->show();
    QTimer::singleShot(0, &station, &QWidget::close);
    QTimer::singleShot(5000, qApp, [] { QCoreApplication::exit(1); });
    EXPECT_EQ(QApplication::exec(), 0) << "the bench kept the program running";
}

TEST(BenchWindow, OpensBesideTheStationWithinTheScreen)
{
    Bench bench;
    QWidget station;
    const QRect screen = station.screen()->availableGeometry();
    // Room on the left only, then on the right only.
    for (int x : {screen.right() - 160, screen.left() + 10}) {
        station.setGeometry(x, screen.top() + 50, 150, 300);
        bench.window->resize(560, 940);
        bench.window->placeBeside(station);
        const QRect placed(bench.window->pos(), bench.window->size());
        EXPECT_TRUE(screen.contains(placed)) << x;
        if (placed.width() + 170 <= screen.width()) {
            EXPECT_FALSE(placed.intersects(station.geometry())) << x;
        }
    }
}

TEST(BenchWindow, NamesEveryProductIdByItsVariant)
{
    struct Case {
        quint32 id;
        const char *text;
    };
    const Case cases[] = {
        {0x8140, "0x8140 \u2014 16 channels, DACs"},
        {0x8040, "0x8040 \u2014 16 channels, no DACs"},
        {0x8145, "0x8145 \u2014 64 channels (64-channel multiplexer), DACs"},
        {0x804A, "0x804A \u2014 32 channels (32-channel blocks), no DACs"},
        {0x8153, "0x8153 \u2014 64 channels (32-channel blocks), DACs"},
        {0x8058, "0x8058 \u2014 96 channels (32-channel blocks), no DACs"},
        {0x805D, "0x805D \u2014 128 channels (32-channel blocks), no DACs"},
        {0x805E, "0x805E \u2014 160 channels (32-channel blocks), no DACs"},
        {0x805F, "0x805F \u2014 16 channels, no DACs"},
        {0x8060, "0x8060 \u2014 another kind of board (refused)"},
        {0x8240, "0x8240 \u2014 another kind of board (refused)"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(BenchWindow::describeProductId(c.id), QString::fromUtf8(c.text));
}

TEST(BenchWindow, OffersEverySupportedBoardAndSomeWrongOnes)
{
    const QList<quint32> ids = BenchWindow::offeredProductIds();
    int supported = 0, wrong = 0;
    SimBoard board;
    for (quint32 id : ids) {
        if ((id & 0xFEE0) != 0x8040) {
            ++wrong;
            continue;
        }
        ++supported;
        // The bench's label and the simulated board must agree on what was plugged in.
        board.identity.productId = id;
        const QString text = BenchWindow::describeProductId(id);
        EXPECT_TRUE(text.contains(QStringLiteral(" %1 channels").arg(board.channelCount()))) << text.toStdString();
        EXPECT_EQ(text.contains(QStringLiteral("multiplexer")) || text.contains(QStringLiteral("blocks")),
                  board.hasMultiplexer())
            << text.toStdString();
    }
    EXPECT_EQ(supported, 64);
    EXPECT_GE(wrong, 2);
    EXPECT_EQ(QSet<quint32>(ids.begin(), ids.end()).size(), ids.size());
}

TEST(BenchWindow, PickingAnotherProductPlugsInThatBoard)
{
    Bench bench;
    auto *combo = bench.find<QComboBox>(QStringLiteral("productIdCombo"));
    EXPECT_EQ(combo->currentData().toUInt(), 0x8140u);
    bench.writeDacs(0x1234, 0x1234, 0x1234, 0x1234);
    ASSERT_GT(bench.board.callCount(), 0);

    for (quint32 id : {0x804Au, 0x815Eu, 0x8060u}) {
        ASSERT_GE(selectProduct(combo, id), 0);
        EXPECT_EQ(bench.board.identity.productId, id);
        EXPECT_EQ(bench.board.callCount(), 0) << "a newly plugged board starts from power-on";
        EXPECT_EQ(bench.board.dacCode(0), 0x8000);
    }
}

TEST(BenchWindow, ShowsABoardIdNotInItsList)
{
    SimBoard board;
    board.identity.productId = 0x8340;
    TracingDevice trace(board);
    BenchWindow window(board, trace);
    auto *combo = window.findChild<QComboBox *>(QStringLiteral("productIdCombo"));
    EXPECT_EQ(combo->currentData().toUInt(), 0x8340u);
}

TEST(BenchWindow, IdentityControlsSetTheBoardsAnswers)
{
    Bench bench;
    BoardIdentity &id = bench.board.identity;

    bench.find<QLineEdit>(QStringLiteral("firmwareReplyEdit"))->setText(QStringLiteral("02 00 00 00"));
    EXPECT_EQ(id.firmwareReply, (std::array<quint8, 4>{2, 0, 0, 0}));
    bench.find<QLineEdit>(QStringLiteral("firmwareReplyEdit"))->setText(QStringLiteral("01 0"));
    EXPECT_EQ(id.firmwareReply, (std::array<quint8, 4>{2, 0, 0, 0})) << "a half-typed reply keeps the last one";

    bench.find<QLineEdit>(QStringLiteral("revisionReplyEdit"))->setText(QStringLiteral("00 01"));
    EXPECT_EQ(id.revisionReply, (std::array<quint8, 2>{0, 1}));
    bench.find<QLineEdit>(QStringLiteral("busVerdictEdit"))->setText(QStringLiteral("5a"));
    EXPECT_EQ(id.busTestVerdict, 0x5A);

    bench.find<QCheckBox>(QStringLiteral("newerThanRevDCheck"))->setChecked(false);
    EXPECT_FALSE(id.newerThanRevD);
    bench.find<QCheckBox>(QStringLiteral("calSupportedCheck"))->setChecked(false);
    EXPECT_FALSE(id.calSupported);
    bench.find<QSpinBox>(QStringLiteral("boardsPresentSpin"))->setValue(2);
    EXPECT_EQ(id.boardsPresent, 2);

    auto *status = bench.find<QLineEdit>(QStringLiteral("queryStatusEdit"));
    status->setText(QStringLiteral("4294967295"));
    EXPECT_EQ(id.forcedQueryStatus, std::optional<quint32>(4294967295u));
    status->setText(QStringLiteral("4294967296"));
    EXPECT_EQ(id.forcedQueryStatus, std::optional<quint32>(4294967295u)) << "out of range is ignored";
    status->setText(QString());
    EXPECT_FALSE(id.forcedQueryStatus.has_value());

    auto *scope = bench.find<ScopeView>(QStringLiteral("scopeView"));
    bench.find<QComboBox>(QStringLiteral("dacRangeCombo"))->setCurrentIndex(1);
    EXPECT_EQ(id.dacJumperRange, 1);
    EXPECT_LT(scope->voltLow(), -5.0);
    EXPECT_GT(scope->voltHigh(), 5.0);
    EXPECT_LT(scope->voltHigh(), 6.0);
}

TEST(BenchWindow, JigControlsAndTheJigFollowEachOther)
{
    Bench bench;
    JigState &jig = bench.board.jig;
    auto *connected = bench.find<QCheckBox>(QStringLiteral("jigConnectedCheck"));
    auto *source = bench.find<QCheckBox>(QStringLiteral("sourceOnCheck"));
    auto *minus = bench.find<QRadioButton>(QStringLiteral("polarityMinusRadio"));
    auto *plus = bench.find<QRadioButton>(QStringLiteral("polarityPlusRadio"));

    connected->setChecked(!jig.connected);
    EXPECT_EQ(jig.connected, connected->isChecked());
    source->setChecked(!jig.sourceOn);
    EXPECT_EQ(jig.sourceOn, source->isChecked());
    minus->setChecked(true);
    EXPECT_EQ(jig.polarity, -1);
    plus->setChecked(true);
    EXPECT_EQ(jig.polarity, +1);

    // The prompt follower moves the jig: the bench shows it on its next refresh.
    jig = JigState{};
    jig.connected = true;
    jig.sourceOn = false;
    jig.polarity = -1;
    bench.window->refresh();
    EXPECT_TRUE(connected->isChecked());
    EXPECT_FALSE(source->isChecked());
    EXPECT_TRUE(minus->isChecked());
}

TEST(BenchWindow, FollowThePromptsDrivesTheFollowersSwitch)
{
    QList<bool> calls;
    BenchHooks hooks;
    hooks.setFollowPrompts = [&](bool on) { calls.append(on); };
    Bench bench(hooks);
    auto *follow = bench.find<QCheckBox>(QStringLiteral("followPromptsCheck"));
    EXPECT_TRUE(follow->isChecked());
    EXPECT_EQ(calls, QList<bool>{true}) << "the follower starts as the box shows";
    follow->setChecked(false);
    follow->setChecked(true);
    EXPECT_EQ(calls, (QList<bool>{true, false, true}));

    Bench without;
    EXPECT_FALSE(without.find<QCheckBox>(QStringLiteral("followPromptsCheck"))->isEnabled());
}

TEST(BenchWindow, LatencySettingsGoToTheBoard)
{
    Bench bench;
    bench.find<QSpinBox>(QStringLiteral("requestLatencySpin"))->setValue(2000);
    bench.find<QSpinBox>(QStringLiteral("scanLatencySpin"))->setValue(3000);
    EXPECT_EQ(bench.board.requestLatencyUs, 2000);
    EXPECT_EQ(bench.board.scanLatencyUs, 3000);
}

TEST(BenchWindow, MeterReadsTheReferenceAndEveryDacInTheLocalesFormat)
{
    Bench bench;
    auto *source = bench.find<QComboBox>(QStringLiteral("meterSourceCombo"));
    auto *value = bench.find<QLabel>(QStringLiteral("meterValueLabel"));

    bench.board.faults.arefVolts = 9.87654;
    bench.window->refresh();
    EXPECT_EQ(value->text(), QLocale().toString(9.8765, 'f', 4));

    bench.writeDacs(0x0000, 0x4000, 0xC000, 0xFFFF);
    for (int dac = 0; dac < 4; ++dac) {
        source->setCurrentIndex(1 + dac);
        EXPECT_EQ(value->text(), QLocale().toString(bench.board.meterDac(dac), 'f', 4)) << dac;
    }
    // A later write shows on the next refresh, as a live meter does.
    bench.writeDacs(0x0000, 0x4000, 0xC000, 0x8000);
    bench.window->refresh();
    EXPECT_EQ(value->text(), QLocale().toString(bench.board.meterDac(3), 'f', 4));

    // A German technician types commas: the meter shows what they type.
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    source->setCurrentIndex(0);
    EXPECT_EQ(value->text(), QStringLiteral("9,8765"));
    QLocale::setDefault(QLocale::c());
}

TEST(BenchFaults, TheTableReachesEveryFaultFieldAndNamesEachSwitchOnce)
{
    std::vector<FaultField> fields;
    QSet<QString> keys;
    for (const FaultSwitch &s : faultSwitches()) {
        EXPECT_FALSE(s.description.isEmpty()) << s.key.toStdString();
        EXPECT_FALSE(keys.contains(s.key)) << s.key.toStdString();
        keys.insert(s.key);
        ASSERT_FALSE(s.params.empty()) << s.key.toStdString();
        for (const FaultParam &p : s.params) {
            if (std::find(fields.begin(), fields.end(), p.field) == fields.end())
                fields.push_back(p.field);
            // The value offered must switch the fault on.
            if (&p == &s.params.front() && !std::holds_alternative<bool Faults::*>(p.field)) {
                EXPECT_NE(p.initial, faultDefault(p.field)) << s.key.toStdString();
            }
            EXPECT_TRUE(std::holds_alternative<bool Faults::*>(p.field)
                        || (p.minimum <= p.initial && p.initial <= p.maximum))
                << s.key.toStdString();
        }
    }
    // The switches and the settings cover the same fields of Faults.
    EXPECT_EQ(fields.size(), faultSettings().size()) << "every setting has a switch";
    for (const FaultSetting &setting : faultSettings())
        EXPECT_NE(std::find(fields.begin(), fields.end(), setting.field), fields.end()) << setting.key.toStdString();
    const std::vector<QString> groups{QStringLiteral("Digital"),  QStringLiteral("Analog in"),
                                      QStringLiteral("Clocking"), QStringLiteral("Analog out"),
                                      QStringLiteral("EEPROM"),   QStringLiteral("USB")};
    for (const FaultSwitch &s : faultSwitches())
        EXPECT_NE(std::find(groups.begin(), groups.end(), s.group), groups.end()) << s.group.toStdString();
}

TEST(BenchFaults, EachCheckBoxSetsItsOwnFieldsAndOnlyThose)
{
    for (const FaultSwitch &s : faultSwitches()) {
        SCOPED_TRACE(s.key.toStdString());
        Bench bench;
        auto *check = bench.find<QCheckBox>(QStringLiteral("fault_") + s.key);
        ASSERT_NE(check, nullptr);
        EXPECT_FALSE(check->isChecked());

        check->setChecked(true);
        const FaultField &primary = s.params.front().field;
        EXPECT_NE(faultValue(bench.board.faults, primary), faultDefault(primary));
        for (const FaultParam &p : s.params) {
            const double expected = std::holds_alternative<bool Faults::*>(p.field) ? 1.0 : p.initial;
            EXPECT_DOUBLE_EQ(faultValue(bench.board.faults, p.field), expected);
        }
        // Nothing else moved.
        for (const FaultSwitch &other : faultSwitches())
            for (const FaultParam &p : other.params) {
                const bool mine = std::any_of(s.params.begin(), s.params.end(),
                                              [&](const FaultParam &q) { return q.field == p.field; });
                if (!mine) {
                    EXPECT_EQ(faultValue(bench.board.faults, p.field), faultDefault(p.field))
                        << other.key.toStdString();
                }
            }

        check->setChecked(false);
        EXPECT_EQ(faultValue(bench.board.faults, primary), faultDefault(primary));
    }
}

TEST(BenchFaults, ValuesEditedWhileOnApplyAndHalfTypedOnesDoNot)
{
    Bench bench;
    Faults &f = bench.board.faults;
    auto *check = bench.find<QCheckBox>(QStringLiteral("fault_dioStuckHigh"));
    auto *lines = bench.find<QLineEdit>(QStringLiteral("fault_dioStuckHigh_0"));
    lines->setText(QStringLiteral("0x00F0"));
    EXPECT_EQ(f.dioStuckHigh, 0) << "an edit while off switches nothing on";
    check->setChecked(true);
    EXPECT_EQ(f.dioStuckHigh, 0x00F0);
    lines->setText(QStringLiteral("0x1FFFF"));
    EXPECT_EQ(f.dioStuckHigh, 0x00F0) << "out of range keeps the last value";
    lines->setText(QStringLiteral("0x"));
    EXPECT_EQ(f.dioStuckHigh, 0x00F0);

    bench.find<QCheckBox>(QStringLiteral("fault_adcOffset"))->setChecked(true);
    bench.find<QLineEdit>(QStringLiteral("fault_adcOffset_0"))->setText(QStringLiteral("159"));
    bench.find<QDoubleSpinBox>(QStringLiteral("fault_adcOffset_1"))->setValue(-1.25);
    EXPECT_EQ(f.adcOffsetChannel, 159);
    EXPECT_DOUBLE_EQ(f.adcOffsetVolts, -1.25);

    bench.find<QCheckBox>(QStringLiteral("fault_failRequest"))->setChecked(true);
    bench.find<QLineEdit>(QStringLiteral("fault_failRequest_1"))->setText(QStringLiteral("4294967295"));
    EXPECT_EQ(f.failRequest, 0xA2);
    EXPECT_EQ(f.failStatus, 4294967295u);
}

TEST(BenchFaults, IntegerEntryTakesDecimalOrHexWithinRange)
{
    struct Case {
        double min, max;
        bool hex;
        const char *text;
        std::optional<double> value;
    };
    const Case cases[] = {
        {0, 255, false, "12", 12},
        {0, 255, false, "0x1F", 31},
        {0, 255, false, "256", std::nullopt},
        {0, 255, false, "1F", std::nullopt},
        {0, 0xFFFF, true, "1F", 31},
        {-1, 10, false, "-1", -1},
        {0, 4294967295.0, false, "4294967295", 4294967295.0},
        {0, 10, false, "", std::nullopt},
        {0, 10, false, "+3", std::nullopt},
        {0, 10, false, "3x", std::nullopt},
    };
    for (const Case &c : cases) {
        IntegerValidator v(c.min, c.max, c.hex);
        EXPECT_EQ(v.value(QString::fromLatin1(c.text)), c.value) << c.text;
    }
}

TEST(BenchFaults, FaultsAlreadySetShowAsOn)
{
    SimBoard board;
    board.faults.unplugAfterCalls = 7;
    board.faults.unplugStatus = 5;
    board.faults.jigMissing = true;
    TracingDevice trace(board);
    BenchWindow window(board, trace);
    EXPECT_TRUE(window.findChild<QCheckBox *>(QStringLiteral("fault_unplugAfterCalls"))->isChecked());
    EXPECT_EQ(window.findChild<QLineEdit *>(QStringLiteral("fault_unplugAfterCalls_0"))->text(), QStringLiteral("7"));
    EXPECT_EQ(window.findChild<QLineEdit *>(QStringLiteral("fault_unplugAfterCalls_1"))->text(), QStringLiteral("5"));
    EXPECT_TRUE(window.findChild<QCheckBox *>(QStringLiteral("fault_jigMissing"))->isChecked());
    EXPECT_FALSE(window.findChild<QCheckBox *>(QStringLiteral("fault_dioBridge"))->isChecked());
    EXPECT_EQ(board.faults.unplugAfterCalls, 7) << "showing the faults changes none";
}

TEST(BenchTraffic, ListsTheLatestCallsBoundedAndCopiesThem)
{
    Bench bench;
    auto *traffic = bench.find<TrafficView>(QStringLiteral("trafficView"));
    quint8 reply[4]{};
    quint32 size = sizeof reply;
    bench.trace.GetDevices();
    bench.trace.GenericVendorRead(diOnly, 0xB3, 0, 0, &size, reply);
    bench.window->refresh();
    ASSERT_EQ(traffic->lines().size(), 2);
    EXPECT_TRUE(traffic->lines()[0].startsWith(QStringLiteral("GetDevices() \u2192 mask 0x00000001")))
        << traffic->lines()[0].toStdString();
    EXPECT_TRUE(traffic->lines()[1].startsWith(QStringLiteral("GenericVendorRead(-3, 0xB3")));
    EXPECT_TRUE(traffic->lines()[1].contains(QStringLiteral("\u2192 0   in 01 00 00 00")))
        << traffic->lines()[1].toStdString();

    for (int i = 0; i < 600; ++i)
        bench.writeDacs(quint16(i), 0, 0, 0);
    bench.window->refresh();
    EXPECT_EQ(traffic->lines().size(), TrafficView::MaxRows);
    EXPECT_TRUE(traffic->lines().back().contains(QStringLiteral("out 0F 57 02")))
        << "newest last: " << traffic->lines().back().toStdString();
    // A few more: appended, the oldest dropped.
    const QStringList full = traffic->lines();
    bench.writeDacs(7, 0, 0, 0);
    bench.writeDacs(8, 0, 0, 0);
    bench.window->refresh();
    EXPECT_EQ(traffic->lines().mid(0, TrafficView::MaxRows - 2), full.mid(2));
    EXPECT_TRUE(traffic->lines().back().contains(QStringLiteral("out 0F 08 00")))
        << traffic->lines().back().toStdString();

    traffic->copyToClipboard();
    EXPECT_EQ(QApplication::clipboard()->text().count(QLatin1Char('\n')), TrafficView::MaxRows);

    bench.find<QCheckBox>(QStringLiteral("trafficPause"))->setChecked(true);
    const QStringList held = traffic->lines();
    bench.writeDacs(1, 2, 3, 4);
    bench.window->refresh();
    EXPECT_EQ(traffic->lines(), held);
    bench.find<QCheckBox>(QStringLiteral("trafficPause"))->setChecked(false);
    EXPECT_NE(traffic->lines(), held);
}

TEST(BenchTraffic, LongDataIsCutShort)
{
    LibraryCall call{
        QStringLiteral("ADC_SetConfig"), QStringLiteral("-3, size=21"), QByteArray(21, '\x10'), {}, 0, true};
    const QString line = TrafficView::format(call);
    EXPECT_TRUE(line.contains(QStringLiteral("\u2026 (21 bytes)"))) << line.toStdString();
    EXPECT_LT(line.size(), 120);
}

// Pixels close to a channel's colour, per quarter of the height.
std::array<int, 4> colorPixelsPerLane(const QImage &image, int channel)
{
    const QColor want = ScopeView::channelColor(channel);
    std::array<int, 4> lanes{};
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (std::abs(c.red() - want.red()) + std::abs(c.green() - want.green()) + std::abs(c.blue() - want.blue())
                < 40)
                ++lanes[std::size_t(std::min(3, 4 * y / image.height()))];
        }
    return lanes;
}

TEST(BenchScope, DrawsEachDacInItsOwnLane)
{
    const std::int64_t now = 50'000'000;
    // A saw tooth on DAC 0 only: 4 Hz, 128 steps a period, over the last three seconds.
    ScopeView::Trace saw;
    for (std::int64_t t = now - 3'000'000; t <= now; t += 250'000 / 128)
        saw.emplace_back(t, 10.0 * double((t / (250'000 / 128)) % 128) / 128.0);
    ScopeView scope([&](int c) { return c == 0 ? saw : ScopeView::Trace{}; }, [&] { return now; });
    scope.setVoltRange(-10.5, 10.5);
    scope.resize(600, 400);
    const QImage image = scope.grab().toImage();
    const auto lanes = colorPixelsPerLane(image, 0);
    EXPECT_GT(lanes[0], 500) << "the saw tooth shows in DAC 0's lane";
    EXPECT_EQ(lanes[1] + lanes[2] + lanes[3], 0);
    for (int c = 1; c < 4; ++c) {
        const auto other = colorPixelsPerLane(image, c);
        EXPECT_LT(other[0] + other[1] + other[2] + other[3], 40) << "only a label for DAC " << c;
    }
}

TEST(BenchScope, SurvivesOddTraces)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::vector<ScopeView::Trace> traces = {
        {},
        {{0, 1.0}},                                                // long before the window
        {{60'000'000, 2.0}},                                       // in the future
        {{49'000'000, nan}, {49'500'000, 3.0}, {49'400'000, 4.0}}, // NaN and out of order
        {{49'000'000, 1e300}, {49'100'000, -1e300}, {49'200'000, std::numeric_limits<double>::infinity()}},
    };
    ScopeView::Trace many;
    for (int i = 0; i < 200'000; ++i)
        many.emplace_back(48'000'000 + i * 10, double(i % 100) / 10.0);
    std::size_t which = 0;
    std::int64_t now = 50'000'000;
    ScopeView scope([&](int) { return which < traces.size() ? traces[which] : many; }, [&] { return now; });
    for (QSize size : {QSize(600, 300), QSize(5, 5), QSize(0, 0)}) {
        scope.resize(size);
        for (which = 0; which <= traces.size(); ++which)
            EXPECT_FALSE(scope.grab().isNull() && !size.isEmpty());
    }
    now = std::numeric_limits<std::int64_t>::min() / 2;
    scope.resize(300, 200);
    which = traces.size();
    scope.grab();
}

TEST(BenchScope, RedrawsOnItsTimerOnlyWhileATraceMoves)
{
    std::int64_t now = 50'000'000;
    std::int64_t lastChange = 1'000'000;
    ScopeView scope([](int) { return ScopeView::Trace{}; }, [&] { return now; }, [&] { return lastChange; });
    scope.resize(400, 300);
    scope.show();
    scope.grab();
    EXPECT_FALSE(scope.animating()) << "every lane flat for longer than the span";
    lastChange = now - 100'000;
    scope.grab();
    EXPECT_TRUE(scope.animating()) << "a change on the screen scrolls";
    now += scope.spanMicros();
    scope.grab();
    EXPECT_FALSE(scope.animating()) << "the change has left the screen";
}

TEST(BenchScope, ShowsTheBoardsDacWrites)
{
    Bench bench;
    for (int i = 0; i < 300; ++i) {
        bench.now += 2'000;
        const quint16 code = quint16(511 * (i + 1));
        bench.writeDacs(code, quint16(65535 - code), code, quint16(65535 - code));
    }
    auto *scope = bench.find<ScopeView>(QStringLiteral("scopeView"));
    scope->resize(600, 400);
    const QImage image = scope->grab().toImage();
    for (int c = 0; c < 4; ++c) {
        const auto lanes = colorPixelsPerLane(image, c);
        EXPECT_GT(lanes[std::size_t(c)], 200) << "DAC " << c;
    }
}

} // namespace
} // namespace quillon::sim
