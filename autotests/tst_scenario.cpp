// Scripted bench runs: the strict scenario reader, and whole sessions through the real
// main window with the virtual technician (in-process, and once through quillon-sim).
#include "app/station/PlatformNoise.h"
#include "app/sim/SimScenarioRunner.h"
#include "sim/Scenario.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QLoggingCategory>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

#include <gtest/gtest.h>

using quillon::runScenario;
using quillon::sim::readScenario;
using quillon::sim::Scenario;
using quillon::sim::ScenarioStep;

namespace {

Scenario parse(const char *json)
{
    Scenario s;
    const auto error = readScenario(QByteArray(json), s);
    EXPECT_FALSE(error) << qPrintable(error ? error->text() : QString());
    return s;
}

QJsonObject run(const char *json)
{
    return runScenario(parse(json));
}

QStringList strings(const QJsonValue &v)
{
    QStringList out;
    for (const QJsonValue x : v.toArray())
        out << x.toString();
    return out;
}

QJsonObject rowOf(const QJsonObject &report, int row)
{
    return report.value(QStringLiteral("rows")).toArray().at(row).toObject();
}

QStringList functions(const QJsonObject &report)
{
    QStringList out;
    for (const QJsonValue c : report.value(QStringLiteral("calls")).toArray())
        out << c.toObject().value(QStringLiteral("function")).toString();
    return out;
}

QList<QJsonObject> prompts(const QJsonObject &report)
{
    QList<QJsonObject> out;
    for (const QJsonValue p : report.value(QStringLiteral("prompts")).toArray())
        out << p.toObject();
    return out;
}

// ---- reader ---------------------------------------------------------------------

TEST(ScenarioReader, ReadsEveryKindOfKey)
{
    const Scenario s = parse(R"({
        "description": "all of it",
        "board": {"productId": "0x8145", "boardsPresent": 1, "queryStatus": 31,
                  "firmwareReply": [2, 0, 0, "0x00"], "revisionReply": [0, 1],
                  "calSupported": false, "busTestVerdict": 254, "dacRange": 2,
                  "newerThanRevD": false, "eeprom": {"7520": "44 41 43 43", "0x1DF2": "4FFE"}},
        "faults": {"dioStuckLow": 8, "dioBridgeA": 3, "adcOffsetVolts": -0.5, "unplugAfterCalls": 40},
        "jig": {"connected": true, "sourceOn": false, "polarity": -1},
        "technician": [{"caption": "No-Board Error", "press": "Retry"},
                       {"caption": "ARef Cal", "type": "abc"},
                       {"caption": "DAC Low Reading", "fields": ["0.1", null, ""], "press": "Close"},
                       {"caption": "@DacRange", "range": 0},
                       {"caption": "@DacScale", "picks": [0, 2], "press": "No"}],
        "locale": "de_DE", "latencyUs": 1500,
        "steps": ["detect", "testAll", {"test": "A"}, {"details": "3"}, {"details": "cyclic"},
                  {"correction": true}, {"monitor": 3}]
    })");
    EXPECT_EQ(s.board.productId, 0x8145u);
    EXPECT_EQ(s.board.forcedQueryStatus, 31u);
    EXPECT_EQ(s.board.firmwareReply[0], 2);
    EXPECT_FALSE(s.board.calSupported);
    EXPECT_EQ(s.board.busTestVerdict, 0xFE);
    EXPECT_EQ(s.board.dacJumperRange, 2);
    ASSERT_EQ(s.eeprom.size(), 2);
    EXPECT_EQ(s.faults.dioStuckLow, 8);
    EXPECT_EQ(s.faults.dioBridgeA, 3);
    EXPECT_EQ(s.faults.unplugAfterCalls, 40);
    EXPECT_TRUE(s.jig.connected);
    EXPECT_EQ(s.jig.polarity, -1);
    ASSERT_EQ(s.technician.size(), 5);
    EXPECT_EQ(s.technician[1].type, QStringLiteral("abc"));
    ASSERT_TRUE(s.technician[2].fields);
    EXPECT_EQ(s.technician[2].fields->size(), 3);
    EXPECT_FALSE(s.technician[2].fields->at(1).has_value());
    EXPECT_EQ(s.technician[3].range, 0);
    EXPECT_EQ(s.technician[4].picks, (QList<int>{0, 2}));
    EXPECT_EQ(s.locale, QStringLiteral("de_DE"));
    EXPECT_EQ(s.latencyUs, 1500);
    ASSERT_EQ(s.steps.size(), 7);
    EXPECT_EQ(s.steps[2].kind, ScenarioStep::Kind::Test);
    EXPECT_EQ(s.steps[2].row, 10);
    EXPECT_EQ(s.steps[4].row, -1);
    EXPECT_EQ(s.steps[6].cycles, 3);
}

TEST(ScenarioReader, NamesTheKeyAtFault)
{
    struct Case {
        const char *json;
        const char *key;
    };
    const Case cases[] = {
        {R"({"bord": {}})", "bord"},
        {R"({"board": {"productID": 1}})", "board.productID"},
        {R"({"board": {"productId": "abc"}})", "board.productId"},
        {R"({"board": {"productId": 1.5}})", "board.productId"},
        {R"({"board": {"productId": "0x1FFFFFFFF"}})", "board.productId"},
        {R"({"board": {"firmwareReply": [1, 0, 0]}})", "board.firmwareReply"},
        {R"({"board": {"revisionReply": [1, 256]}})", "board.revisionReply[1]"},
        {R"({"board": {"dacRange": 4}})", "board.dacRange"},
        {R"({"board": {"eeprom": {"9000": "00"}}})", "board.eeprom.9000"},
        {R"({"board": {"eeprom": {"8191": "00 11"}}})", "board.eeprom.8191"},
        {R"({"board": {"eeprom": {"10": "0G"}}})", "board.eeprom.10"},
        {R"({"board": 3})", "board"},
        {R"({"faults": {"dioStuckHigh": 65536}})", "faults.dioStuckHigh"},
        {R"({"faults": {"jigMissing": 1}})", "faults.jigMissing"},
        {R"({"faults": {"arefVolts": "9.9"}})", "faults.arefVolts"},
        {R"({"jig": {"polarity": 0}})", "jig.polarity"},
        {R"({"technician": [{"caption": "X", "press": "Ok"}]})", "technician[0].press"},
        {R"({"technician": [{"press": "OK"}]})", "technician[0].caption"},
        {R"({"technician": [{"caption": "X"}]})", "technician[0]"},
        {R"({"technician": [{"caption": "X", "type": "a", "range": 1}]})", "technician[0]"},
        {R"({"technician": [{"caption": "X", "clicks": 1}]})", "technician[0].clicks"},
        {R"({"technician": [{"caption": "X", "picks": [3]}]})", "technician[0].picks[0]"},
        {R"({"locale": "xx_YY"})", "locale"},
        {R"({"latencyUs": -1})", "latencyUs"},
        {R"({"steps": ["testall"]})", "steps[0]"},
        {R"({"steps": ["detect", {"test": "B"}]})", "steps[1].test"},
        {R"({"steps": [{"details": "cyc"}]})", "steps[0].details"},
        {R"({"steps": [{"monitor": 0}]})", "steps[0].monitor"},
        {R"({"steps": [{"run": 1}]})", "steps[0].run"},
        {R"({"steps": [{"test": "1", "details": "1"}]})", "steps[0]"},
        {R"({"locale": "C", "locale": "de_DE"})", "locale"},
        {R"({"board": {"productId": 1, "calSupported": true, "productId": 2}})", "board.productId"},
        {R"({"technician": [{"caption": "A", "press": "OK"}, {"caption": "B\"", "press": "OK", "caption": "C"}]})",
         "technician[1].caption"},
    };
    for (const Case &c : cases) {
        Scenario s;
        const auto error = readScenario(QByteArray(c.json), s);
        ASSERT_TRUE(error) << c.json;
        EXPECT_EQ(error->key, QLatin1String(c.key)) << c.json << " -> " << qPrintable(error->text());
        EXPECT_TRUE(error->text().startsWith(QLatin1String(c.key))) << qPrintable(error->text());
    }
}

TEST(ScenarioReader, RejectsBrokenJsonWithoutAKey)
{
    Scenario s;
    const auto error = readScenario("{\"steps\": [", s);
    ASSERT_TRUE(error);
    EXPECT_TRUE(error->key.isEmpty());
    EXPECT_TRUE(error->message.contains(QLatin1String("not valid JSON")));
    EXPECT_TRUE(readScenario("[1]", s));
}

// ---- runs ----------------------------------------------------------------------

TEST(ScenarioRun, DefaultBoardThroughDetectAndTestAll)
{
    const QJsonObject report = run(R"({"locale": "C", "steps": ["detect", "testAll"]})");
    EXPECT_EQ(report.value(QStringLiteral("detection")).toString(), QStringLiteral("Detected"));
    EXPECT_TRUE(report.value(QStringLiteral("notesShown")).toBool());
    ASSERT_EQ(report.value(QStringLiteral("rows")).toArray().size(), 11);

    const QJsonObject row0 = rowOf(report, 0);
    EXPECT_EQ(row0.value(QStringLiteral("name")).toString(), QStringLiteral("DIO Pullup"));
    EXPECT_EQ(row0.value(QStringLiteral("label")).toString(), QStringLiteral("PASS"));
    EXPECT_EQ(strings(row0.value(QStringLiteral("memo"))),
              (QStringList{QString(), QStringLiteral("\tDIO Pullup: Passed")}));
    EXPECT_EQ(row0.value(QStringLiteral("panelHeight")).toInt(), 41);
    const QJsonObject row1 = rowOf(report, 1);
    EXPECT_EQ(row1.value(QStringLiteral("label")).toString(), QStringLiteral("PASS"));
    EXPECT_EQ(strings(row1.value(QStringLiteral("memo"))),
              (QStringList{QStringLiteral("\tA to B: Passed"), QString(), QStringLiteral("\tB to A: Passed"), QString(),
                           QStringLiteral("\tDIO Loopback: Passed")}));
    const QJsonObject row4 = rowOf(report, 4);
    EXPECT_EQ(row4.value(QStringLiteral("label")).toString(), QStringLiteral("PASS"));
    EXPECT_EQ(row4.value(QStringLiteral("failLabel")).toString(), QString());

    const QJsonObject config = report.value(QStringLiteral("boardConfig")).toObject();
    EXPECT_EQ(config.value(QStringLiteral("DioMask")).toInt(), 255);
    EXPECT_EQ(config.value(QStringLiteral("ChannelCount")).toInt(), 16);
    EXPECT_TRUE(config.value(QStringLiteral("HasDacs")).toBool());

    // The jig prompts come first and in row order, each with its exact text.
    const auto shown = prompts(report);
    ASSERT_GE(shown.size(), 2);
    EXPECT_EQ(shown[0].value(QStringLiteral("caption")).toString(), QStringLiteral("No Test Jig"));
    EXPECT_EQ(shown[0].value(QStringLiteral("text")).toString(),
              QStringLiteral("Make sure the test jig is NOT connected."));
    EXPECT_EQ(shown[0].value(QStringLiteral("kind")).toString(), QStringLiteral("JigInfo"));
    EXPECT_EQ(shown[0].value(QStringLiteral("answer")).toString(), QStringLiteral("OK"));
    EXPECT_EQ(shown[1].value(QStringLiteral("caption")).toString(), QStringLiteral("Test Jig Needed"));
    EXPECT_EQ(shown[1].value(QStringLiteral("text")).toString(), QStringLiteral("Connect the test jig."));
    QStringList sequence;
    for (const QJsonObject &p : shown)
        sequence << p.value(QStringLiteral("kind")).toString() + QLatin1Char(' ')
                        + p.value(QStringLiteral("caption")).toString() + QLatin1Char(' ')
                        + p.value(QStringLiteral("answer")).toString();
    EXPECT_EQ(sequence, (QStringList{"JigInfo No Test Jig OK", "JigInfo Test Jig Needed OK", "Text ARef Cal OK",
                                     "JigInfo A/D Jig Needed OK", "JigInfo 10V Switch OK", "DacRange  OK",
                                     "DacReading DAC Low Reading OK", "DacReading DAC High Reading OK", "DacScale  Yes",
                                     "ScopeQuestion Scope Check Yes"}));
    EXPECT_EQ(shown[2].value(QStringLiteral("typed")).toString(), QStringLiteral("9.9300"));
    EXPECT_EQ(shown[5].value(QStringLiteral("range")).toInt(), 3);
    EXPECT_EQ(report.value(QStringLiteral("overall")).toString(), QStringLiteral("PASS"));

    // Library traffic of the loopback: 256 write/read pairs each way between the configures.
    const QStringList fn = functions(report);
    const QJsonArray calls = report.value(QStringLiteral("calls")).toArray();
    const qsizetype first = fn.indexOf(QStringLiteral("DIO_Configure"));
    ASSERT_GE(first, 0);
    ASSERT_LT(first + 2 + 2 * 256 + 1 + 2 * 256, fn.size());
    EXPECT_EQ(fn[first + 1], QStringLiteral("DIO_ReadAll"));
    const qsizetype loop = first + 2;
    EXPECT_EQ(fn[loop], QStringLiteral("DIO_Configure"));
    for (int p = 0; p < 256; ++p) {
        const QJsonObject write = calls[loop + 1 + 2 * p].toObject();
        ASSERT_EQ(write.value(QStringLiteral("function")).toString(), QStringLiteral("DIO_WriteAll")) << p;
        EXPECT_EQ(write.value(QStringLiteral("dataOut")).toString(),
                  QStringLiteral("%1 00").arg(p, 2, 16, QLatin1Char('0')).toUpper())
            << p;
        ASSERT_EQ(fn[loop + 2 + 2 * p], QStringLiteral("DIO_ReadAll")) << p;
    }
    const qsizetype back = loop + 1 + 2 * 256;
    EXPECT_EQ(fn[back], QStringLiteral("DIO_Configure"));
    for (int p = 0; p < 256; ++p) {
        const QJsonObject write = calls[back + 1 + 2 * p].toObject();
        ASSERT_EQ(write.value(QStringLiteral("function")).toString(), QStringLiteral("DIO_WriteAll")) << p;
        EXPECT_EQ(write.value(QStringLiteral("dataOut")).toString(),
                  QStringLiteral("00 %1").arg(p, 2, 16, QLatin1Char('0')).toUpper())
            << p;
    }
    EXPECT_EQ(fn[back + 1 + 2 * 256], QStringLiteral("DIO_Configure"));
    EXPECT_TRUE(report.value(QStringLiteral("problems")).toArray().isEmpty());
}

TEST(ScenarioRun, GivingUpAtDetectionErrors)
{
    struct Case {
        const char *json;
        int boxes;
    };
    const Case cases[] = {
        {R"({"board": {"boardsPresent": 0}})", 1},
        {R"({"board": {"boardsPresent": 0},
             "technician": [{"caption": "No-Board Error", "press": "Retry"},
                            {"caption": "No-Board Error", "press": "Retry"},
                            {"caption": "No-Board Error", "press": "Cancel"}]})",
         3},
    };
    for (const Case &c : cases) {
        const QJsonObject report = run(c.json);
        EXPECT_EQ(report.value(QStringLiteral("detection")).toString(), QStringLiteral("FAIL"));
        EXPECT_FALSE(report.value(QStringLiteral("notesShown")).toBool());
        const auto shown = prompts(report);
        ASSERT_EQ(shown.size(), c.boxes);
        for (const QJsonObject &p : shown) {
            EXPECT_EQ(p.value(QStringLiteral("kind")).toString(), QStringLiteral("RetryCancel"));
            EXPECT_EQ(p.value(QStringLiteral("caption")).toString(), QStringLiteral("No-Board Error"));
            EXPECT_EQ(
                p.value(QStringLiteral("text")).toString(),
                QStringLiteral("Failed to use diOnly; there doesn't appear to be an Calder USB board plugged in."));
        }
        EXPECT_EQ(shown.last().value(QStringLiteral("answer")).toString(), QStringLiteral("Cancel"));
        EXPECT_EQ(functions(report).count(QStringLiteral("ClearDevices")), c.boxes);
        EXPECT_TRUE(report.value(QStringLiteral("unusedOverrides")).toArray().isEmpty());
        EXPECT_EQ(report.value(QStringLiteral("boardConfig")).toObject().value(QStringLiteral("ChannelCount")).toInt(),
                  0);
    }
}

TEST(ScenarioRun, FaultReachesTheReport)
{
    const QJsonObject report = run(R"({"faults": {"dioStuckLow": 8}, "steps": [{"test": "0"}]})");
    const QJsonObject row0 = rowOf(report, 0);
    EXPECT_EQ(row0.value(QStringLiteral("label")).toString(), QStringLiteral("FAIL"));
    EXPECT_EQ(
        strings(row0.value(QStringLiteral("memo"))),
        (QStringList{QStringLiteral("\tExpected FFFF, got FFF7"), QString(), QStringLiteral("\tDIO Pullup: 1 Failures"),
                     QStringLiteral("This may indicate pulldowns installed instead.")}));
    EXPECT_EQ(report.value(QStringLiteral("overall")).toString(), QStringLiteral("testing..."));
}

TEST(ScenarioRun, OverrideLeavesTheBenchAlone)
{
    // The technician presses OK at "Test Jig Needed" without connecting the jig: every
    // pattern but 0xFF reads back as the pull-ups leave it.
    const QJsonObject report = run(R"({"technician": [{"caption": "Test Jig Needed", "press": "OK"}],
        "steps": [{"test": "1"}]})");
    const QJsonObject row1 = rowOf(report, 1);
    EXPECT_EQ(row1.value(QStringLiteral("label")).toString(), QStringLiteral("FAIL"));
    const QStringList memo = strings(row1.value(QStringLiteral("memo")));
    ASSERT_GE(memo.size(), 2);
    EXPECT_EQ(memo[0], QStringLiteral("\tA to B: expected 00, got FF"));
    EXPECT_EQ(memo.mid(memo.size() - 2),
              (QStringList{QStringLiteral("\tDIO Loopback: 510 Failures"),
                           QStringLiteral("This may indicate solder bridges on the DIO pins or DIO dir pins.")}));
    const auto shown = prompts(report);
    ASSERT_EQ(shown.size(), 1);
    EXPECT_EQ(shown[0].value(QStringLiteral("override")).toInt(), 0);
}

TEST(ScenarioRun, UnfitOverridesAreReportedNotIgnored)
{
    const QJsonObject report = run(R"({"technician": [
        {"caption": "No Test Jig", "press": "Retry"},
        {"caption": "Never Shown", "press": "OK"}], "steps": [{"test": "0"}]})");
    const QStringList problems = strings(report.value(QStringLiteral("problems")));
    ASSERT_EQ(problems.size(), 1);
    EXPECT_TRUE(problems[0].startsWith(QLatin1String("technician[0]: \"Retry\" is not a button")))
        << qPrintable(problems[0]);
    EXPECT_EQ(report.value(QStringLiteral("unusedOverrides")).toArray(), QJsonArray{1});
    EXPECT_EQ(prompts(report)[0].value(QStringLiteral("answer")).toString(), QStringLiteral("OK"));
}

TEST(ScenarioRun, SameScenarioGivesTheSameReport)
{
    const char *json = R"({"steps": ["testAll", {"details": "1"}, {"monitor": 2}]})";
    const QByteArray a = QJsonDocument(run(json)).toJson();
    const QByteArray b = QJsonDocument(run(json)).toJson();
    EXPECT_EQ(a, b);
    const QJsonObject report = QJsonDocument::fromJson(a).object();
    const QJsonObject monitor = report.value(QStringLiteral("monitor")).toObject();
    EXPECT_EQ(monitor.value(QStringLiteral("columns")).toInt(), 2);
    EXPECT_EQ(monitor.value(QStringLiteral("lines")).toArray().size(), 16);
    EXPECT_EQ(functions(report).count(QStringLiteral("ADC_BulkAcquire")), 2 + 1); // A/D Clocks + 2 listings
}

TEST(ScenarioRun, DetailsToggleExpandsAndCollapses)
{
    const QJsonObject report =
        run(R"({"steps": [{"details": "1"}, {"details": "2"}, {"details": "2"}, {"details": "cyclic"}]})");
    EXPECT_EQ(rowOf(report, 1).value(QStringLiteral("panelHeight")).toInt(), 193);
    EXPECT_EQ(rowOf(report, 2).value(QStringLiteral("panelHeight")).toInt(), 41);
    EXPECT_EQ(rowOf(report, 0).value(QStringLiteral("panelHeight")).toInt(), 41);
}

TEST(ScenarioRun, ClocksAbortStopsTestAllAndTheStalledMonitorIsStopped)
{
    const QJsonObject report = run(R"({"faults": {"noDataWithClock": true}, "steps": ["testAll", {"monitor": 2}]})");
    EXPECT_EQ(rowOf(report, 2).value(QStringLiteral("label")).toString(), QStringLiteral("FAIL"));
    EXPECT_EQ(strings(rowOf(report, 2).value(QStringLiteral("memo"))),
              (QStringList{QStringLiteral("CTR 2"), QStringLiteral("\tFail: Did not get data via counter 2."),
                           QString(), QStringLiteral("Aborting test, PLEASE HOTPLUG.")}));
    EXPECT_EQ(rowOf(report, 2).value(QStringLiteral("panelHeight")).toInt(), 193);
    for (int row = 3; row < 11; ++row)
        EXPECT_EQ(rowOf(report, row).value(QStringLiteral("label")).toString(), QStringLiteral("untested")) << row;
    EXPECT_EQ(report.value(QStringLiteral("overall")).toString(), QStringLiteral("FAIL"));
    EXPECT_TRUE(report.value(QStringLiteral("abortAll")).toBool());
    EXPECT_TRUE(report.value(QStringLiteral("maximized")).toBool());
    // The monitor's scan never arrives: Stop after 2 s of bench time, no channel listed.
    const QStringList problems = strings(report.value(QStringLiteral("problems")));
    ASSERT_EQ(problems.size(), 1);
    EXPECT_TRUE(problems[0].startsWith(QLatin1String("steps[1]: the monitor's acquisition did not complete")))
        << qPrintable(problems[0]);
    EXPECT_LE(report.value(QStringLiteral("monitor")).toObject().value(QStringLiteral("lines")).toArray().size(), 1);
}

TEST(ScenarioRun, LocaleHoldsForTheRunOnly)
{
    const QString before = QLocale().name();
    const QJsonObject report = run(R"({"locale": "de_DE", "steps": [{"test": "3"}]})");
    EXPECT_EQ(QLocale().name(), before);
    const auto shown = prompts(report);
    ASSERT_EQ(shown.size(), 1);
    EXPECT_EQ(shown[0].value(QStringLiteral("typed")).toString(), QStringLiteral("9,9300"));
    EXPECT_EQ(strings(rowOf(report, 3).value(QStringLiteral("memo"))).value(7), QStringLiteral("ARef Cal: Passed"));
}

TEST(ScenarioRun, LargeBoardRunsTestAllThreeTimes)
{
    const QJsonObject report = run(R"({"board": {"productId": "0x805E"},
        "steps": ["detect", "testAll", "testAll", "testAll"]})");
    EXPECT_EQ(report.value(QStringLiteral("boardConfig")).toObject().value(QStringLiteral("ChannelCount")).toInt(),
              160);
    EXPECT_EQ(functions(report).count(QStringLiteral("ADC_BulkAcquire")), 3);
    for (int row = 0; row < 11; ++row) {
        const QString label = rowOf(report, row).value(QStringLiteral("label")).toString();
        EXPECT_TRUE(label == QLatin1String("PASS") || label == QLatin1String("FAIL")) << row << qPrintable(label);
    }
}

// ---- the program ------------------------------------------------------------------

#if defined(QUILLON_SIM_BINARY) && defined(QUILLON_SOURCE_DIR)
TEST(ScenarioProgram, ExitCodesAndReportFile)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString bad = dir.filePath(QStringLiteral("bad.json"));
    {
        QFile f(bad);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(R"({"board": {"productId": "8145"}})");
    }
    QProcess sim;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    env.remove(QStringLiteral("XDG_RUNTIME_DIR")); // as on a machine without a desktop session
    sim.setProcessEnvironment(env);
    sim.start(QStringLiteral(QUILLON_SIM_BINARY), {QStringLiteral("--scenario"), bad});
    ASSERT_TRUE(sim.waitForFinished(60'000));
    EXPECT_EQ(sim.exitCode(), 2);
    const QString err = QString::fromUtf8(sim.readAllStandardError()).trimmed();
    EXPECT_EQ(err.count(QLatin1Char('\n')), 0) << qPrintable(err);
    EXPECT_TRUE(err.contains(QLatin1String("board.productId"))) << qPrintable(err);

    const QString report = dir.filePath(QStringLiteral("report.json"));
    sim.start(QStringLiteral(QUILLON_SIM_BINARY),
              {QStringLiteral("--scenario"), QStringLiteral(QUILLON_SOURCE_DIR "/scenarios/demo.json"),
               QStringLiteral("--report"), report});
    ASSERT_TRUE(sim.waitForFinished(120'000));
    EXPECT_EQ(sim.exitCode(), 0);
    EXPECT_EQ(QString::fromUtf8(sim.readAllStandardError()), QString()) << "only the summary, no platform notes";
    const QString summary = QString::fromUtf8(sim.readAllStandardOutput());
    EXPECT_TRUE(summary.contains(QLatin1String("0 DIO Pullup: PASS"))) << qPrintable(summary);
    EXPECT_TRUE(summary.contains(QLatin1String("Overall: "))) << qPrintable(summary);
    EXPECT_TRUE(summary.contains(report)) << qPrintable(summary);
    QFile written(report);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    const QJsonObject json = QJsonDocument::fromJson(written.readAll()).object();
    EXPECT_EQ(json.value(QStringLiteral("detection")).toString(), QStringLiteral("Detected"));
}
#endif

Q_LOGGING_CATEGORY(lcPlatformPlugin, "qt.qpa.plugin")

TEST(ScenarioProgram, PlatformNoiseIsDroppedAndRealWarningsStillShow)
{
    static QStringList shown;
    const QtMessageHandler before =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &text) { shown.append(text); });
    quillon::quietPlatformNoise();
    quillon::quietPlatformNoise(); // twice: still one filter, no loop
    qWarning("This plugin does not support propagateSizeHints()");
    qWarning("QStandardPaths: XDG_RUNTIME_DIR not set, defaulting to '/tmp/runtime-tester'");
    qWarning("QStandardPaths: wrong permissions on runtime directory /tmp/runtime-tester, 0755 instead of 0700");
    qCWarning(lcPlatformPlugin) << "Could not load the Qt platform plugin \"xcb\"";
    qInstallMessageHandler(before);
    EXPECT_EQ(
        shown,
        (QStringList{"QStandardPaths: wrong permissions on runtime directory /tmp/runtime-tester, 0755 instead of 0700",
                     "Could not load the Qt platform plugin \"xcb\""}));
}

TEST(ScenarioProgram, UnreadableFileIsABadScenario)
{
    QString outText, errText;
    QTextStream out(&outText), err(&errText);
    EXPECT_EQ(quillon::runScenarioFile(QStringLiteral("/nonexistent/scenario.json"), QString(), out, err), 2);
    EXPECT_TRUE(errText.contains(QLatin1String("/nonexistent/scenario.json")));
    EXPECT_TRUE(outText.isEmpty());
}

} // namespace
