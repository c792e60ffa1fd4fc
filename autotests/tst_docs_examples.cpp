// docs/scenarios.md stays true: every key the reader accepts is documented, every
// example shown is the file in scenarios/, and every example runs to the outcome the
// text describes. docs/records.md's quillon-records examples are what the program prints.
#include "SyntheticStore.h"
#include "app/records/RecordsCli.h"
#include "app/sim/SimScenarioRunner.h"
#include "sim/FaultTable.h"
#include "sim/Scenario.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>

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

// One "$ quillon-records ..." line of docs/records.md and the lines shown under it.
struct ShownCommand {
    QStringList arguments;
    QStringList output; // "..." stands for any lines
    bool redirected = false;
};

QList<ShownCommand> shownCommands()
{
    QList<ShownCommand> commands;
    bool inBlock = false;
    for (const QString &line :
         QString::fromUtf8(readFile(QStringLiteral("docs/records.md"))).split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("    $ quillon-records "))) {
            ShownCommand c;
            QStringList words = line.mid(6).split(QLatin1Char(' '), Qt::SkipEmptyParts).mid(1);
            if (const qsizetype at = words.indexOf(QStringLiteral(">")); at >= 0) {
                words = words.mid(0, at);
                c.redirected = true;
            }
            // A word in single quotes, as a shell takes it.
            for (QString &word : words)
                if (word.size() >= 2 && word.startsWith(QLatin1Char('\'')) && word.endsWith(QLatin1Char('\'')))
                    word = word.mid(1, word.size() - 2);
            c.arguments = words;
            commands << c;
            inBlock = true;
        } else if (inBlock && (line.startsWith(QLatin1String("    ")) || line.isEmpty())) {
            commands.last().output << line.mid(4);
        } else {
            inBlock = false;
        }
    }
    for (ShownCommand &c : commands)
        while (!c.output.isEmpty() && c.output.last().isEmpty())
            c.output.removeLast();
    return commands;
}

// Whether lines are what the docs show: the same lines (trailing spaces aside), "..."
// standing for any.
bool matches(QStringList shown, QStringList printed)
{
    for (QStringList *lines : {&shown, &printed})
        for (QString &line : *lines)
            while (line.endsWith(QLatin1Char(' ')))
                line.chop(1);
    QList<QStringList> parts{{}};
    for (const QString &line : shown) {
        if (line == QLatin1String("..."))
            parts << QStringList();
        else
            parts.last() << line;
    }
    if (parts.size() == 1)
        return shown == printed;
    if (printed.mid(0, parts.first().size()) != parts.first()
        || printed.mid(printed.size() - parts.last().size()) != parts.last())
        return false;
    qsizetype at = parts.first().size();
    for (qsizetype i = 1; i + 1 < parts.size(); ++i) {
        const QStringList &part = parts.at(i);
        while (at + part.size() <= printed.size() && printed.mid(at, part.size()) != part)
            ++at;
        if (at + part.size() > printed.size())
            return false;
        at += part.size();
    }
    return at <= printed.size() - parts.last().size();
}

// Run ids are random: the docs' ids stand for the store's by their place in the
// output, and a prefix in a command names the run the docs showed it for.
TEST(DocsExamples, RecordsExamplesAreWhatTheProgramPrints)
{
    QStandardPaths::setTestModeEnabled(true);
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString file = dir.filePath(QStringLiteral("records.sqlite"));
    {
        quillon::testing::SyntheticStore store(
            file, {QStringLiteral("line-a-1"), QStringLiteral("line-a-2"), QStringLiteral("line-b-1")});
        store.setMeasurements(true);
        store.addMany(2000, 20261208);
        ASSERT_TRUE(store.isOpen()) << qPrintable(store.error());
    }
    static const QRegularExpression uuid(
        QStringLiteral("[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}"));
    auto ids = [](const QString &text) {
        QStringList found;
        for (auto it = uuid.globalMatch(text); it.hasNext();)
            found << it.next().captured();
        return found;
    };
    QHash<QString, QString> storeIdOf; // the docs' id -> the store's
    const QList<ShownCommand> commands = shownCommands();
    ASSERT_GE(commands.size(), 6);
    for (ShownCommand c : commands) {
        SCOPED_TRACE(qPrintable(c.arguments.join(QLatin1Char(' '))));
        for (QString &a : c.arguments)
            for (auto it = storeIdOf.cbegin(); it != storeIdOf.cend(); ++it)
                if (a.size() >= 4 && it.key().startsWith(a))
                    a = it.value();
        if (const qsizetype at = c.arguments.indexOf(QStringLiteral("--output")); at >= 0)
            c.arguments[at + 1] = dir.filePath(c.arguments.at(at + 1));
        QByteArray out;
        QBuffer buffer(&out);
        buffer.open(QIODevice::WriteOnly);
        QString err;
        QTextStream errStream(&err);
        const int exit = quillon::records::runRecordsCommand(
            QStringList{QStringLiteral("quillon-records"), QStringLiteral("--db"), file} + c.arguments, buffer,
            errStream);
        errStream.flush();
        ASSERT_EQ(exit, 0) << qPrintable(err);
        if (c.output.isEmpty())
            continue;
        QString printed = QString::fromUtf8(out);
        const QStringList shownIds = ids(c.output.join(QLatin1Char('\n')));
        const QStringList printedIds = ids(printed);
        for (qsizetype i = 0; i < shownIds.size() && i < printedIds.size(); ++i) {
            storeIdOf.insert(shownIds.at(i), printedIds.at(i));
            printed.replace(printedIds.at(i), shownIds.at(i));
        }
        QStringList lines = printed.split(QLatin1Char('\n'));
        while (!lines.isEmpty() && lines.last().isEmpty())
            lines.removeLast();
        EXPECT_TRUE(matches(c.output, lines)) << "prints:\n" << qPrintable(lines.join(QLatin1Char('\n')));
    }
}

} // namespace
