// docs/scenarios.md stays true: every key the reader accepts is documented, every
// example shown is the file in scenarios/, and every example runs to the outcome the
// text describes.
#include "app/sim/SimScenarioRunner.h"
#include "sim/FaultTable.h"
#include "sim/Scenario.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <functional>

namespace {

#ifndef QUILLON_SOURCE_DIR
#error "the autotests/scenario CMake sets QUILLON_SOURCE_DIR"
#endif

QString sourcePath(const QString &relative)
{
    return QStringLiteral(QUILLON_SOURCE_DIR "/") + relative;
}

QByteArray readFile(const QString &relative)
{
    QFile f(sourcePath(relative));
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << qPrintable(relative);
    return f.readAll();
}

QString docs()
{
    return QString::fromUtf8(readFile(QStringLiteral("docs/scenarios.md")));
}

// (file, JSON block) for every "Example file: `scenarios/x.json`" followed by a json block.
QList<std::pair<QString, QByteArray>> documentedExamples()
{
    static const QRegularExpression re(QStringLiteral("Example file: `(scenarios/[^`]+)`\\s*```json\\n(.*?)```"),
                                       QRegularExpression::DotMatchesEverythingOption);
    QList<std::pair<QString, QByteArray>> out;
    const QString text = docs();
    for (auto it = re.globalMatch(text); it.hasNext();) {
        const auto m = it.next();
        out.append({m.captured(1), m.captured(2).toUtf8()});
    }
    return out;
}

QJsonObject runFile(const QString &relative)
{
    quillon::sim::Scenario scenario;
    const auto error = quillon::sim::readScenario(readFile(relative), scenario);
    EXPECT_FALSE(error) << qPrintable(relative) << ": " << qPrintable(error ? error->text() : QString());
    return quillon::runScenario(scenario);
}

QStringList memo(const QJsonObject &report, int row)
{
    QStringList out;
    for (const QJsonValue v :
         report[QStringLiteral("rows")].toArray()[row].toObject()[QStringLiteral("memo")].toArray())
        out << v.toString();
    return out;
}

QString label(const QJsonObject &report, int row)
{
    return report[QStringLiteral("rows")].toArray()[row].toObject()[QStringLiteral("label")].toString();
}

QStringList promptCaptions(const QJsonObject &report)
{
    QStringList out;
    for (const QJsonValue p : report[QStringLiteral("prompts")].toArray())
        out << p.toObject()[QStringLiteral("caption")].toString();
    return out;
}

TEST(DocsExamples, EveryKeyIsDocumented)
{
    const QString text = docs();
    for (const auto &key : quillon::sim::scenarioKeys())
        EXPECT_TRUE(text.contains(QLatin1Char('`') + key.path + QLatin1Char('`'))) << qPrintable(key.path);
    // The fault rows of the key table are the fault table's help texts.
    for (const auto &setting : quillon::sim::faultSettings())
        EXPECT_TRUE(text.contains(QStringLiteral("| `faults.%1` | %2 |\n").arg(setting.key, setting.help)))
            << qPrintable(setting.key);
}

TEST(DocsExamples, ShownExamplesAreTheFiles)
{
    const auto examples = documentedExamples();
    QStringList shown;
    for (const auto &[file, block] : examples) {
        shown << file;
        QJsonParseError e;
        const QJsonDocument fromDocs = QJsonDocument::fromJson(block, &e);
        ASSERT_EQ(e.error, QJsonParseError::NoError) << qPrintable(file) << ": " << qPrintable(e.errorString());
        EXPECT_EQ(fromDocs, QJsonDocument::fromJson(readFile(file))) << qPrintable(file);
    }
    const QStringList files =
        QDir(sourcePath(QStringLiteral("scenarios"))).entryList({QStringLiteral("*.json")}, QDir::Files);
    for (const QString &f : files)
        EXPECT_TRUE(shown.contains(QStringLiteral("scenarios/") + f)) << qPrintable(f) << " is not shown in the docs";
    EXPECT_EQ(shown.size(), files.size());
}

TEST(DocsExamples, ExamplesRunAsDescribed)
{
    using Check = std::function<void(const QJsonObject &)>;
    const QList<std::pair<QString, Check>> cases{
        {QStringLiteral("scenarios/demo.json"),
         [](const QJsonObject &r) {
             EXPECT_EQ(r[QStringLiteral("detection")].toString(), QStringLiteral("Detected"));
             for (int row = 0; row < 11; ++row)
                 EXPECT_EQ(label(r, row), QStringLiteral("PASS")) << row;
             EXPECT_EQ(r[QStringLiteral("overall")].toString(), QStringLiteral("PASS"));
             EXPECT_TRUE(r[QStringLiteral("notesShown")].toBool());
         }},
        {QStringLiteral("scenarios/good-board-de.json"),
         [](const QJsonObject &r) {
             EXPECT_EQ(r[QStringLiteral("overall")].toString(), QStringLiteral("PASS"));
             const QJsonObject aref = r[QStringLiteral("prompts")].toArray()[2].toObject();
             EXPECT_EQ(aref[QStringLiteral("caption")].toString(), QStringLiteral("ARef Cal"));
             EXPECT_EQ(aref[QStringLiteral("typed")].toString(), QStringLiteral("9,9300"));
             EXPECT_EQ(memo(r, 5).value(1), QStringLiteral("\t0-10V: 0,665V, OK"));
             EXPECT_TRUE(r[QStringLiteral("eepromCal")].toString().endsWith(QLatin1String("35 FE")));
             const QJsonObject monitor = r[QStringLiteral("monitor")].toObject();
             EXPECT_EQ(monitor[QStringLiteral("columns")].toInt(), 2);
             EXPECT_EQ(monitor[QStringLiteral("lines")].toArray().size(), 16);
         }},
        {QStringLiteral("scenarios/stuck-dio-line.json"),
         [](const QJsonObject &r) {
             EXPECT_EQ(memo(r, 0), (QStringList{QStringLiteral("\tExpected FFFF, got FFF7"), QString(),
                                                QStringLiteral("\tDIO Pullup: 1 Failures"),
                                                QStringLiteral("This may indicate pulldowns installed instead.")}));
             EXPECT_EQ(label(r, 1), QStringLiteral("FAIL"));
             EXPECT_EQ(memo(r, 1).value(0), QStringLiteral("\tA to B: expected 08, got 00"));
             EXPECT_EQ(memo(r, 1).last(),
                       QStringLiteral("This may indicate solder bridges on the DIO pins or DIO dir pins."));
             EXPECT_EQ(r[QStringLiteral("rows")].toArray()[1].toObject()[QStringLiteral("panelHeight")].toInt(), 193);
         }},
        {QStringLiteral("scenarios/wrong-board.json"),
         [](const QJsonObject &r) {
             EXPECT_EQ(r[QStringLiteral("detection")].toString(), QStringLiteral("FAIL"));
             EXPECT_EQ(promptCaptions(r),
                       (QStringList{QStringLiteral("Wrong-Board Error"), QStringLiteral("Wrong-Board Error")}));
             EXPECT_EQ(r[QStringLiteral("prompts")].toArray()[0].toObject()[QStringLiteral("text")].toString(),
                       QStringLiteral("Failed to find a matching board, but found a non-matching board."));
             int clears = 0;
             for (const QJsonValue c : r[QStringLiteral("calls")].toArray())
                 clears += c.toObject()[QStringLiteral("function")].toString() == QLatin1String("ClearDevices");
             EXPECT_EQ(clears, 2);
             EXPECT_FALSE(r[QStringLiteral("notesShown")].toBool());
         }},
        {QStringLiteral("scenarios/old-driver.json"),
         [](const QJsonObject &r) {
             const QJsonObject warning = r[QStringLiteral("prompts")].toArray()[0].toObject();
             EXPECT_EQ(warning[QStringLiteral("caption")].toString(), QStringLiteral("Old Firmware Warning"));
             EXPECT_TRUE(
                 warning[QStringLiteral("text")].toString().contains(QLatin1String("Assuming rev D or earlier")));
             const QJsonObject config = r[QStringLiteral("boardConfig")].toObject();
             EXPECT_EQ(config[QStringLiteral("DioMask")].toInt(), 15);
             EXPECT_EQ(config[QStringLiteral("DioSpread")].toInt(), 17);
             EXPECT_FALSE(config[QStringLiteral("NewRevision")].toBool());
             EXPECT_EQ(memo(r, 1), (QStringList{QStringLiteral("\tB to A: Passed"), QString(),
                                                QStringLiteral("\tDIO Loopback: Passed")}));
         }},
        {QStringLiteral("scenarios/analog-faults.json"),
         [](const QJsonObject &r) {
             EXPECT_EQ(label(r, 3), QStringLiteral("PASS"));
             ASSERT_EQ(memo(r, 5).size(), 1);
             EXPECT_TRUE(memo(r, 5)[0].startsWith(QStringLiteral("\tChannel 3: expected 2,000V\u00B10,300V, got 2,")));
             ASSERT_EQ(memo(r, 6).size(), 1);
             EXPECT_TRUE(
                 memo(r, 6)[0].startsWith(QStringLiteral("\tChannel 3: expected -2,000V\u00B10,300V, got -1,")));
             EXPECT_EQ(memo(r, 8),
                       (QStringList{QStringLiteral("DAC Low Reading"), QStringLiteral("Cancelled by tester."),
                                    QString(), QStringLiteral("D/A Cal Set: FAIL")}));
             EXPECT_TRUE(r[QStringLiteral("eepromCal")].toString().startsWith(QLatin1String("FF FF FF FF")));
             EXPECT_TRUE(r[QStringLiteral("eepromCal")].toString().endsWith(QLatin1String("35 FE")));
             EXPECT_TRUE(r[QStringLiteral("unusedOverrides")].toArray().isEmpty());
         }},
        {QStringLiteral("scenarios/dac-typed-readings.json"),
         [](const QJsonObject &r) {
             const QStringList cal = memo(r, 8);
             EXPECT_EQ(cal.value(1), QStringLiteral("0.1 V -> 655d counts"));
             EXPECT_EQ(cal.value(6), QStringLiteral("9.9 V -> 64880d counts"));
             EXPECT_TRUE(cal.contains(QStringLiteral("4 DACs.")));
             for (int dac = 0; dac < 4; ++dac) {
                 EXPECT_TRUE(cal.contains(QStringLiteral("M[%1] = 0.9970").arg(dac))) << dac;
                 EXPECT_TRUE(cal.contains(QStringLiteral("B[%1] = 1.6090").arg(dac))) << dac;
             }
             EXPECT_EQ(cal.last(), QStringLiteral("D/A Cal Set: PASS"));
             // Range 2 and count 4 at 7664, behind the four 36-byte records.
             EXPECT_EQ(r[QStringLiteral("eepromCal")].toString().mid(3 * 144, 5), QStringLiteral("02 04"));
             EXPECT_EQ(memo(r, 9), (QStringList{QStringLiteral("\tTester reported at least one DAC bad."),
                                                QStringLiteral("D/A Cal Check: FAIL")}));
             const QJsonArray prompts = r[QStringLiteral("prompts")].toArray();
             const QJsonObject scale = prompts.last().toObject();
             EXPECT_EQ(scale[QStringLiteral("kind")].toString(), QStringLiteral("DacScale"));
             EXPECT_EQ(scale[QStringLiteral("answer")].toString(), QStringLiteral("No"));
             EXPECT_EQ(scale[QStringLiteral("picks")].toArray(), (QJsonArray{0, 1, 2}));
         }},
    };
    for (const auto &[file, check] : cases) {
        SCOPED_TRACE(qPrintable(file));
        const QJsonObject report = runFile(file);
        EXPECT_TRUE(report[QStringLiteral("problems")].toArray().isEmpty());
        check(report);
    }
}

} // namespace
