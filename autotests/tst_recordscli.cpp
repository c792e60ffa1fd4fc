// quillon-records on the command line: its answers on stores written the way a
// station leaves them, and one-line errors for everything it cannot answer.
#include "SyntheticStore.h"
#include "support/SqlRows.h"
#include "app/records/RecordsCli.h"
#include "app/sim/SimScenarioRunner.h"
#include "records/RecordsQuery.h"
#include "records/RunDigest.h"
#include "records/RecordStore.h"
#include "records/Schema.h"
#include "sim/Scenario.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

#include <bit>

#include <unistd.h>

namespace quillon::testing {
namespace {

struct Result {
    int exit = -1;
    QString out;
    QString err;
};

Result run(const QStringList &arguments)
{
    QByteArray out;
    QBuffer outBuffer(&out);
    outBuffer.open(QIODevice::WriteOnly);
    QString err;
    QTextStream errStream(&err);
    Result result;
    result.exit =
        records::runRecordsCommand(QStringList{QStringLiteral("quillon-records")} + arguments, outBuffer, errStream);
    errStream.flush();
    result.out = QString::fromUtf8(out);
    result.err = err;
    return result;
}

// The program itself, headless as over SSH: no display, no runtime folder.
Result runProgram(const QStringList &arguments, const QStringList &asUser = {})
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_RUNTIME_DIR"})
        env.remove(QString::fromLatin1(name));
    QProcess program;
    program.setProcessEnvironment(env);
    const QString binary = QStringLiteral(QUILLON_RECORDS_BINARY);
    if (asUser.isEmpty())
        program.start(binary, arguments);
    else
        program.start(asUser.first(), asUser.mid(1) + QStringList{binary} + arguments);
    Result result;
    if (!program.waitForFinished(30000)) {
        program.kill();
        program.waitForFinished();
        return result;
    }
    result.exit = program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1;
    result.out = QString::fromUtf8(program.readAllStandardOutput());
    result.err = QString::fromUtf8(program.readAllStandardError());
    return result;
}

QStringList filesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

class RecordsCli : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Digest caches go to a test folder, not the user's.
        QStandardPaths::setTestModeEnabled(true);
        ASSERT_TRUE(dir.isValid());
        path = dir.filePath(QStringLiteral("records.sqlite"));
        SyntheticStore store(path, {QStringLiteral("bench-1"), QStringLiteral("bench-2")});
        ASSERT_TRUE(store.isOpen()) << store.error().toStdString();
        SyntheticRun good;
        good.startedUtc = QStringLiteral("2026-12-07T09:00:00.000Z");
        good.serial = QStringLiteral("QN1001");
        good.gains = {1.00125f, 0.99875f, 1.0f, 1.0005f};
        good.offsets = {-0.3571f, 1.609f, -2.5f, 0.125f};
        good.arefWord = 65087;
        passing = store.add(good);
        SyntheticRun bad = good;
        bad.startedUtc = QStringLiteral("2026-12-08T10:00:00.000Z");
        bad.serial = QStringLiteral("QN1002");
        bad.failingRow = 6;
        bad.station = 1;
        failing = store.add(bad);
        SyntheticRun retest = bad;
        retest.startedUtc = QStringLiteral("2026-12-08T11:00:00.000Z");
        retest.failingRow = -1;
        retested = store.add(retest);
        SyntheticRun row;
        row.startedUtc = QStringLiteral("2026-12-08T12:00:00.000Z");
        row.rowDigit = 3;
        row.failingRow = 3;
        single = store.add(row);
    }

    // The certificate of run `id` in `store` as the real program writes it, as its text
    // (pdftotext), simplified; empty with a failure when either program fails.
    QString certificateText(const QString &store, const QString &id, const QString &pdf) const
    {
        return certificatePages(store, id, pdf).join(QLatin1Char(' '));
    }

    // The certificate's pages as pdftotext reads them, each simplified, the program
    // reading its settings from config (XDG_CONFIG_HOME) when one is given.
    QStringList certificatePages(const QString &store, const QString &id, const QString &pdf,
                                 const QString &config = {}) const
    {
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (!config.isEmpty())
            env.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
        program.setProcessEnvironment(env);
        program.start(
            QStringLiteral(QUILLON_RECORDS_BINARY),
            {QStringLiteral("--db"), store, QStringLiteral("certificate"), id, QStringLiteral("--output"), pdf});
        if (!program.waitForFinished(30000) || program.exitCode() != 0) {
            ADD_FAILURE() << program.readAllStandardError().toStdString();
            return {};
        }
        QProcess text;
        text.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
        if (!text.waitForFinished(30000)) {
            ADD_FAILURE() << "pdftotext (poppler-utils) is needed";
            return {};
        }
        QStringList pages;
        for (const QString &page : QString::fromUtf8(text.readAllStandardOutput()).split(QLatin1Char('\f')))
            if (!page.trimmed().isEmpty())
                pages << page.simplified();
        return pages;
    }

    QStringList ids(const Result &result) const
    {
        QStringList found;
        for (const QString &line : result.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            found << line.section(QLatin1Char(' '), 0, 0);
        return found;
    }

    QTemporaryDir dir;
    QString path;
    QString passing, failing, retested, single;
};

TEST_F(RecordsCli, ListFiltersRunsNewestFirst)
{
    const QString db = QStringLiteral("--db=") + path;
    EXPECT_EQ(ids(run({db, QStringLiteral("list")})), QStringList({single, retested, failing, passing}));
    EXPECT_EQ(ids(run({db, QStringLiteral("list"), QStringLiteral("--limit"), QStringLiteral("2")})),
              QStringList({single, retested}));
    EXPECT_EQ(ids(run({db, QStringLiteral("list"), QStringLiteral("--serial"), QStringLiteral("QN1002")})),
              QStringList({retested, failing}));
    EXPECT_EQ(ids(run({db, QStringLiteral("list"), QStringLiteral("--verdict"), QStringLiteral("fail")})),
              QStringList({single, failing}));
    EXPECT_EQ(ids(run({db, QStringLiteral("list"), QStringLiteral("--station"), QStringLiteral("bench-2")})),
              QStringList({retested, failing}));
    // A bare --until date takes in the whole day.
    EXPECT_EQ(ids(run({db, QStringLiteral("list"), QStringLiteral("--since"), QStringLiteral("2026-12-07"),
                       QStringLiteral("--until"), QStringLiteral("2026-12-07")})),
              QStringList({passing}));
    EXPECT_EQ(ids(run({db, QStringLiteral("list"), QStringLiteral("--since"), QStringLiteral("2026-12-08T10:30"),
                       QStringLiteral("--product"), QStringLiteral("0x8140")})),
              QStringList({single, retested}));
    const Result one = run({db, QStringLiteral("list"), QStringLiteral("--serial"), QStringLiteral("QN1001")});
    EXPECT_EQ(one.exit, 0);
    EXPECT_TRUE(one.out.contains(QStringLiteral("2026-12-07 09:00:00Z  bench-1  serial QN1001  product 0x8140  "
                                                "Test All  completed  PASS")))
        << one.out.toStdString();
}

TEST_F(RecordsCli, ShowPrintsMemoLinesExactlyAndTheStoredConstants)
{
    const Result shown = run({QStringLiteral("--db"), path, QStringLiteral("show"), failing.left(8)});
    ASSERT_EQ(shown.exit, 0) << shown.err.toStdString();
    const QStringList lines = shown.out.split(QLatin1Char('\n'));
    // Each memo line appears whole, tabs and empty lines included, in order.
    const QStringList memo = SyntheticStore::memoOf(6, true);
    const auto at = lines.indexOf(QRegularExpression(QStringLiteral("^  6 A/D SE Bipolar: FAIL  \\[fail, .*\\]$")));
    ASSERT_GE(at, 0) << shown.out.toStdString();
    for (int i = 0; i < memo.size(); ++i)
        EXPECT_EQ(lines.value(at + 1 + i), QStringLiteral("      ") + memo.at(i));
    EXPECT_TRUE(lines.contains(QStringLiteral("  ARef word 65087 (0xFE3F)")));
    EXPECT_TRUE(lines.contains(QStringLiteral("  DAC range 0-10 V, 4 DACs calibrated, marked valid")));
    EXPECT_TRUE(lines.contains(QStringLiteral("  DAC 1 gain 0.998749971 offset 1.60899997")));
    EXPECT_TRUE(shown.out.contains(QStringLiteral("typed \"9.9315\"")));
}

TEST_F(RecordsCli, YieldCountsRowsRunsAndFirstPassPerSerial)
{
    const Result result = run({QStringLiteral("--db"), path, QStringLiteral("yield")});
    ASSERT_EQ(result.exit, 0) << result.err.toStdString();
    const QStringList lines = result.out.split(QLatin1Char('\n'));
    // Row 3 ran in three Test Alls and once alone (failing); row 6 failed once.
    EXPECT_TRUE(lines.contains(QStringLiteral("3 Calibration Voltages                 4        3        1   75.0%")))
        << result.out.toStdString();
    EXPECT_TRUE(lines.contains(QStringLiteral("6 A/D SE Bipolar                       3        2        1   66.7%")));
    EXPECT_TRUE(lines.contains(QStringLiteral("Test All runs with a verdict: 3, 2 PASS, 1 FAIL, yield 66.7%")));
    EXPECT_TRUE(lines.contains(QStringLiteral("First-pass yield: 1 of 2 serials passed their first Test All (50.0%)")));
}

// A unit tested on two stations in the same millisecond: the run numbers, then the ids,
// say which run was its first.
TEST_F(RecordsCli, FirstPassOrdersRunsStartedTogetherByNumberThenId)
{
    const QString file = dir.filePath(QStringLiteral("together.sqlite"));
    SyntheticStore store(file, {QStringLiteral("bench-1"), QStringLiteral("bench-2")});
    SyntheticRun run;
    run.startedUtc = QStringLiteral("2026-12-09T08:00:00.000Z");
    run.serial = QStringLiteral("QN2001");
    const QString passed = store.add(run);
    run.station = 1;
    run.failingRow = 2;
    const QString failed = store.add(run);
    const records::RecordsQuery query(store.database());
    records::YieldReport y = query.yield({});
    EXPECT_EQ(y.runs, 2);
    EXPECT_EQ(y.serials, 1);
    EXPECT_EQ(y.firstPassSerials, 1); // the passing run has the lower number
    QSqlQuery(store.database()).exec(QStringLiteral("UPDATE runs SET seq = 7"));
    y = query.yield({});
    EXPECT_EQ(y.serials, 1);
    EXPECT_EQ(y.firstPassSerials, passed < failed ? 1 : 0);
}

// Two runs as a station leaves them when things go wrong or were recorded by an older
// station: the scale check's pick stored as its index, and a calibration that stopped
// after overwriting two records' valid markers. Both read as what happened, in show and
// on the certificate.
TEST_F(RecordsCli, PicksAndOverwrittenMarkersReadAsWhatHappened)
{
    const QString file = dir.filePath(QStringLiteral("faults.sqlite"));
    SyntheticStore store(file);
    SyntheticRun bad;
    bad.startedUtc = QStringLiteral("2026-12-10T08:00:00.000Z");
    bad.serial = QStringLiteral("QN3001");
    const QString id = store.add(bad);
    QSqlQuery q(store.database());
    // The scale check answered Yes with item 2 picked, as stored before its text was.
    ASSERT_TRUE(q.exec(QStringLiteral("INSERT INTO prompts SELECT id || '-scale', run_id, session_id, 99, 'dac-scale', "
                                      "NULL, 'Are they all good?', 'Yes', '2', shown_utc, answered_utc FROM prompts "
                                      "WHERE run_id = '%1' AND seq = 1")
                           .arg(id)));
    // The markers of records 0 and 1 overwritten, record 2's write failed: no block.
    ASSERT_TRUE(q.exec(QStringLiteral("DELETE FROM eeprom_writes WHERE run_id = '%1' AND (address IN (7524, 7560, "
                                      "7596, 7632, 7664, 7628) OR bytes = '44414343')")
                           .arg(id)));
    ASSERT_TRUE(
        q.exec(QStringLiteral("UPDATE eeprom_writes SET status = 31 WHERE run_id = '%1' AND address = 7592").arg(id)));
    const QString said =
        QStringLiteral("DAC markers overwritten in records 0, 1: earlier constants no longer marked valid");

    const Result shown = run({QStringLiteral("--db"), file, QStringLiteral("show"), id});
    ASSERT_EQ(shown.exit, 0) << shown.err.toStdString();
    EXPECT_TRUE(shown.out.contains(QStringLiteral("dac-scale \"\" -> Yes, picked \"Max\""))) << shown.out.toStdString();
    EXPECT_TRUE(shown.out.contains(QStringLiteral("  ") + said
                                   + QStringLiteral("\n  DAC markers write to record 2 "
                                                    "failed: status 31\n")))
        << shown.out.toStdString();

    const QString page = certificateText(file, id, dir.filePath(QStringLiteral("faults.pdf")));
    EXPECT_TRUE(page.contains(QStringLiteral("\"Max\" Yes"))) << page.toStdString();
    EXPECT_FALSE(page.contains(QStringLiteral("\"2\" Yes")));
    EXPECT_TRUE(page.contains(QStringLiteral("DACs no DAC constants written in this run")));
    EXPECT_TRUE(page.contains(said)) << page.toStdString();
    EXPECT_TRUE(page.contains(QStringLiteral("DAC markers write to record 2 failed: status 31")));
}

// The plots' cached digest holds what the store holds, also after runs were appended
// to a store it had already read, and after the store was replaced by another.
TEST_F(RecordsCli, DigestFollowsTheStoreAsItGrows)
{
    const QString file = dir.filePath(QStringLiteral("grow.sqlite"));
    const QString cache = records::RunDigest::cacheFileFor(file);
    auto same = [&](const records::RunFilter &filter) {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("grow"));
        db.setDatabaseName(file);
        EXPECT_TRUE(db.open());
        {
            const records::RecordsQuery query(db);
            records::RunDigest digest;
            QString reason;
            EXPECT_TRUE(digest.update(db, cache, &reason)) << reason.toStdString();
            const records::YieldReport sql = query.yield(filter);
            const std::vector<qint64> chosen = query.rowids(filter);
            EXPECT_EQ(digest.rowidsOf(query.runIds(filter)), chosen);
            // The chosen runs' verdicts and failed rows, as the digest has them.
            qint64 passes = 0, fails = 0, failedRows = 0;
            for (const qint64 rowid : chosen) {
                const records::RunDigest::Run *run = digest.find(rowid);
                ASSERT_TRUE(run);
                passes += run->testAll && run->overall == 1;
                fails += run->testAll && run->overall == 2;
                for (qsizetype i = 1; i < run->rows.size(); i += 2)
                    failedRows += run->rows.at(i) == char(records::RunDigest::Fail);
            }
            EXPECT_EQ(passes, sql.passes);
            EXPECT_EQ(fails, sql.fails);
            qint64 sqlFailedRows = 0;
            for (const records::RowYield &row : sql.rows) {
                sqlFailedRows += row.fails;
                EXPECT_EQ(digest.rowNames().value(row.digit), row.name);
            }
            EXPECT_EQ(failedRows, sqlFailedRows);
            EXPECT_GT(sql.runs, 0);
        }
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("grow"));
    };
    records::RunFilter station;
    station.station = QStringLiteral("bench-2");
    station.since = QStringLiteral("2026-01-05T07:00:00.000Z");
    {
        SyntheticStore store(file, {QStringLiteral("bench-1"), QStringLiteral("bench-2")});
        store.addMany(150, 1);
        same({});
        store.addMany(150, 2, QStringLiteral("2026-01-06T06:00:00.000Z"));
        same({});
        same(station);
    }
    {
        SyntheticStore other(file, {QStringLiteral("bench-2")});
        other.addMany(120, 3);
        same(station);
    }
    QFile::remove(cache);
}

// A file without the yield indexes (written by an older program) is read as it is,
// and gains them when a station opens it; the yield is the same all three ways.
TEST_F(RecordsCli, AStoreWithoutYieldIndexesYieldsTheSameBeforeAndAfterItGainsThem)
{
    const QString file = dir.filePath(QStringLiteral("older.sqlite"));
    {
        SyntheticStore store(file, {QStringLiteral("bench-1"), QStringLiteral("bench-2")});
        store.addMany(200, 5);
    }
    records::RunFilter station;
    station.station = QStringLiteral("bench-2");
    station.since = QStringLiteral("2026-01-05T07:00:00.000Z");
    auto yields = [&](const QStringList &statements) {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("older"));
        db.setDatabaseName(file);
        EXPECT_TRUE(db.open());
        QStringList seen;
        {
            for (const QString &sql : statements)
                QSqlQuery(db).exec(sql);
            const records::RecordsQuery query(db);
            for (const records::RunFilter &filter : {records::RunFilter(), station}) {
                const records::YieldReport y = query.yield(filter);
                QString text = QStringLiteral("%1 %2 %3 %4 %5")
                                   .arg(y.runs)
                                   .arg(y.passes)
                                   .arg(y.fails)
                                   .arg(y.serials)
                                   .arg(y.firstPassSerials);
                for (const records::RowYield &row : y.rows)
                    text += QStringLiteral(" | %1 %2 %3 %4 %5")
                                .arg(row.digit)
                                .arg(row.name)
                                .arg(row.runs)
                                .arg(row.passes)
                                .arg(row.fails);
                seen << text;
            }
            seen << (records::hasYieldIndexes(db) ? QStringLiteral("indexed") : QStringLiteral("not indexed"));
        }
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("older"));
        return seen;
    };
    const QStringList current = yields({});
    ASSERT_EQ(current.value(2), QStringLiteral("indexed"));
    EXPECT_GT(current.value(1).section(QLatin1Char(' '), 0, 0).toInt(), 0);
    const QStringList older =
        yields({QStringLiteral("DROP INDEX row_results_tally"), QStringLiteral("DROP INDEX row_results_run_tally"),
                QStringLiteral("DROP INDEX runs_tally"), QStringLiteral("DROP INDEX run_ends_overall")});
    EXPECT_EQ(older, QStringList(current.mid(0, 2)) << QStringLiteral("not indexed"));
    {
        records::RecordStore store(QStringLiteral("older-writer"));
        QString reason;
        ASSERT_TRUE(store.open(file, &reason)) << reason.toStdString();
    }
    EXPECT_EQ(yields({}), current);
}

TEST_F(RecordsCli, ExportsJUnitWithASuitePerRunAndFailuresCarryingMemoLines)
{
    const QString file = dir.filePath(QStringLiteral("runs.xml"));
    const Result result = run({QStringLiteral("--db"), path, QStringLiteral("export"), QStringLiteral("--format"),
                               QStringLiteral("junit"), QStringLiteral("--serial"), QStringLiteral("QN1002"),
                               QStringLiteral("--output"), file});
    ASSERT_EQ(result.exit, 0) << result.err.toStdString();
    QFile xmlFile(file);
    ASSERT_TRUE(xmlFile.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&xmlFile);
    ASSERT_TRUE(xml.readNextStartElement());
    EXPECT_EQ(xml.name(), QLatin1String("testsuites"));
    int suites = 0;
    QStringList failureTexts;
    while (xml.readNextStartElement()) {
        ASSERT_EQ(xml.name(), QLatin1String("testsuite"));
        ++suites;
        const auto attributes = xml.attributes();
        const int failures = attributes.value(QLatin1String("failures")).toInt();
        EXPECT_EQ(attributes.value(QLatin1String("tests")).toInt(), 11);
        EXPECT_FALSE(attributes.value(QLatin1String("timestamp")).isEmpty());
        int cases = 0;
        int failed = 0;
        while (xml.readNextStartElement()) {
            if (xml.name() == QLatin1String("properties")) {
                xml.skipCurrentElement();
                continue;
            }
            ASSERT_EQ(xml.name(), QLatin1String("testcase"));
            ++cases;
            while (xml.readNextStartElement()) {
                if (xml.name() == QLatin1String("failure")) {
                    ++failed;
                    EXPECT_EQ(xml.attributes().value(QLatin1String("message")), QLatin1String("FAIL"));
                    failureTexts << xml.readElementText();
                } else {
                    xml.skipCurrentElement();
                }
            }
        }
        EXPECT_EQ(cases, 11);
        EXPECT_EQ(failed, failures);
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    EXPECT_EQ(suites, 2);
    EXPECT_EQ(failureTexts, QStringList({SyntheticStore::memoOf(6, true).join(QLatin1Char('\n'))}));
}

TEST_F(RecordsCli, ExportsJsonAndCsvWithMemoLinesIntact)
{
    const Result json = run({QStringLiteral("--db"), path, QStringLiteral("export"), QStringLiteral("--format=json"),
                             QStringLiteral("--verdict"), QStringLiteral("fail")});
    ASSERT_EQ(json.exit, 0) << json.err.toStdString();
    const QJsonArray runs = QJsonDocument::fromJson(json.out.toUtf8()).array();
    ASSERT_EQ(runs.size(), 2);
    const QJsonObject row6 = runs.at(1).toObject().value(QLatin1String("rows")).toArray().at(6).toObject();
    EXPECT_EQ(row6.value(QLatin1String("memo")).toArray(), QJsonArray::fromStringList(SyntheticStore::memoOf(6, true)));

    const Result csv = run({QStringLiteral("--db"), path, QStringLiteral("export"), QStringLiteral("--format=csv"),
                            QStringLiteral("--serial=QN1001")});
    ASSERT_EQ(csv.exit, 0) << csv.err.toStdString();
    // A header and one line per row; a multi-line memo is one quoted field.
    EXPECT_TRUE(csv.out.startsWith(QStringLiteral("run_id,started_utc,station,serial,")));
    EXPECT_TRUE(csv.out.contains(QStringLiteral(",8,D/A Cal Set,pass,PASS,,\"DAC Low Reading\n0.1 V -> 655d")));
    EXPECT_EQ(csv.out.count(QStringLiteral("\r\n")), 12);
}

// Measurements in the three exports: a failing channel with its limits, a reading that
// could not be converted (NULL) as empty or null, and runs without any exported as before.
TEST_F(RecordsCli, ExportsMeasurementsAsLongCsvJUnitPropertiesAndJsonObjects)
{
    auto exportAs = [&](const QString &format, const QString &serial, const QStringList &more = {}) {
        const Result r = run(QStringList{QStringLiteral("--db"), path, QStringLiteral("export"),
                                         QStringLiteral("--format=") + format, QStringLiteral("--serial=") + serial}
                             + more);
        EXPECT_EQ(r.exit, 0) << r.err.toStdString();
        return r.out;
    };
    const QStringList formats = {QStringLiteral("csv"), QStringLiteral("junit"), QStringLiteral("json")};
    QStringList before;
    for (const QString &format : formats)
        before << exportAs(format, QStringLiteral("QN1001"));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("measured"));
        db.setDatabaseName(path);
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        ASSERT_TRUE(q.prepare(QStringLiteral("INSERT INTO measurements (id, run_id, seq, digit, name, value, kind, "
                                             "unit, comparison, expected, tolerance, low, high, outcome) "
                                             "VALUES (?, ?, ?, ?, ?, ?, 'number', ?, ?, ?, ?, ?, ?, ?)")));
        const QVariant null;
        const std::vector<QVariantList> rows = {
            {1, 0, "dio.pullup", 65535, "word", "equals", 65535, null, null, null, "pass"},
            {2, 6, "ladder.se_bipolar.ch05", 1.2345, "V", "within", 1.25, 0.01, 1.24, 1.26, "fail"},
            {3, 6, "ladder.se_bipolar.ch06", null, "V", "finite", null, null, null, null, "fail"},
        };
        for (const QVariantList &row : rows) {
            q.bindValue(0, QStringLiteral("m%1").arg(row.at(0).toInt()));
            q.bindValue(1, failing);
            for (int i = 0; i < row.size(); ++i)
                q.bindValue(i + 2, row.at(i));
            ASSERT_TRUE(q.exec()) << q.lastError().text().toStdString();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("measured"));

    // Runs without measurements export byte for byte as they did.
    for (qsizetype i = 0; i < formats.size(); ++i)
        EXPECT_EQ(exportAs(formats.at(i), QStringLiteral("QN1001")), before.at(i)) << formats.at(i).toStdString();

    const QString keys = failing + QStringLiteral(",2026-12-08T10:00:00.000Z,bench-2,QN1002,33088,");
    EXPECT_EQ(exportAs(QStringLiteral("csv"), QStringLiteral("QN1002"), {QStringLiteral("--what=measurements")}),
              QStringLiteral("run_id,started_utc,station,serial,product_id,row_digit,name,value,unit,comparison,"
                             "expected,tolerance,low,high,outcome,seq\r\n")
                  + keys + QStringLiteral("0,dio.pullup,65535,word,equals,65535,,,,pass,1\r\n") + keys
                  + QStringLiteral("6,ladder.se_bipolar.ch05,1.2345,V,within,1.25,0.01,1.24,1.26,fail,2\r\n") + keys
                  + QStringLiteral("6,ladder.se_bipolar.ch06,,V,finite,,,,,fail,3\r\n"));

    const QString junit = exportAs(QStringLiteral("junit"), QStringLiteral("QN1002"));
    QXmlStreamReader xml(junit);
    QHash<QString, QString> properties; // "testcase/property" -> value
    QString testcase;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("testsuite"))
            testcase.clear();
        else if (xml.name() == QLatin1String("testcase"))
            testcase = xml.attributes().value(QLatin1String("name")).toString();
        else if (xml.name() == QLatin1String("property") && !testcase.isEmpty())
            properties.insert(testcase + QLatin1Char('/') + xml.attributes().value(QLatin1String("name")).toString(),
                              xml.attributes().value(QLatin1String("value")).toString());
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    const QString row6 = SyntheticStore::rowName(6) + QLatin1Char('/');
    EXPECT_EQ(properties.value(row6 + QStringLiteral("ladder.se_bipolar.ch05")), QStringLiteral("1.2345 V"));
    EXPECT_EQ(properties.value(row6 + QStringLiteral("ladder.se_bipolar.ch05.limits")),
              QStringLiteral("1.24 to 1.26 V (1.25 \u00B1 0.01)"));
    EXPECT_EQ(properties.value(row6 + QStringLiteral("ladder.se_bipolar.ch05.outcome")), QStringLiteral("fail"));
    EXPECT_EQ(properties.value(row6 + QStringLiteral("ladder.se_bipolar.ch06")), QStringLiteral("none"));
    EXPECT_EQ(properties.size(), 9) << "value, limits and outcome of each; no other testcase has any";

    const QJsonArray runs =
        QJsonDocument::fromJson(
            exportAs(QStringLiteral("json"), QStringLiteral("QN1002"), {QStringLiteral("--verdict=fail")}).toUtf8())
            .array();
    ASSERT_EQ(runs.size(), 1);
    const QJsonArray measured = runs.at(0)[QLatin1String("rows")][6][QLatin1String("measurements")].toArray();
    ASSERT_EQ(measured.size(), 2);
    EXPECT_EQ(measured.at(0).toObject(),
              QJsonObject({{QStringLiteral("seq"), 2},
                           {QStringLiteral("digit"), 6},
                           {QStringLiteral("name"), QStringLiteral("ladder.se_bipolar.ch05")},
                           {QStringLiteral("value"), 1.2345},
                           {QStringLiteral("kind"), QStringLiteral("number")},
                           {QStringLiteral("unit"), QStringLiteral("V")},
                           {QStringLiteral("comparison"), QStringLiteral("within")},
                           {QStringLiteral("expected"), 1.25},
                           {QStringLiteral("tolerance"), 0.01},
                           {QStringLiteral("low"), 1.24},
                           {QStringLiteral("high"), 1.26},
                           {QStringLiteral("outcome"), QStringLiteral("fail")}}));
    EXPECT_TRUE(measured.at(1)[QLatin1String("value")].isNull());
}

// measurements: --name as a glob over whole names, with the usual filters; each
// comparison's line. The expected lines name the runs as A (older, passing) and B.
TEST_F(RecordsCli, MeasurementsMatchNamesAndShowEachComparison)
{
    const QString store = dir.filePath(QStringLiteral("measured.sqlite"));
    QString a, b;
    {
        SyntheticStore synthetic(store, {QStringLiteral("bench-1"), QStringLiteral("bench-2")});
        ASSERT_TRUE(synthetic.isOpen()) << synthetic.error().toStdString();
        synthetic.setMeasurements(true);
        SyntheticRun run;
        run.startedUtc = QStringLiteral("2026-12-07T09:00:00.000Z");
        run.serial = QStringLiteral("QN1");
        a = synthetic.add(run);
        run.startedUtc = QStringLiteral("2026-12-08T10:00:00.000Z");
        run.serial = QStringLiteral("QN2");
        run.station = 1;
        run.failingRow = 6;
        b = synthetic.add(run);
    }
    const QString keysA = QStringLiteral("  2026-12-07 09:00:00Z  bench-1  serial QN1  ");
    const QString keysB = QStringLiteral("  2026-12-08 10:00:00Z  bench-2  serial QN2  ");
    struct Case {
        QStringList arguments;
        QStringList lines; // "A..." / "B...": the run's id and keys, then the rest
    };
    const Case cases[] = {
        {{QStringLiteral("--name"), QStringLiteral("ladder.*.ch05")},
         {QStringLiteral("B5  ladder.se_unipolar.ch05  3.115 V within 3.125 \u00b10.300  pass"),
          QStringLiteral("B6  ladder.se_bipolar.ch05  -3.760 V within -3.750 \u00b10.300  pass"),
          QStringLiteral("B7  ladder.differential.ch05  -1.552 V within -1.542 \u00b10.300  pass"),
          QStringLiteral("A5  ladder.se_unipolar.ch05  3.126 V within 3.125 \u00b10.300  pass"),
          QStringLiteral("A6  ladder.se_bipolar.ch05  -3.749 V within -3.750 \u00b10.300  pass"),
          QStringLiteral("A7  ladder.differential.ch05  -1.541 V within -1.542 \u00b10.300  pass")}},
        // The whole name: a prefix matches nothing.
        {{QStringLiteral("--name"), QStringLiteral("ladder.se_unipolar.ch0")}, {}},
        {{QStringLiteral("--name"), QStringLiteral("ladder.*.ch0[6]"), QStringLiteral("--verdict"),
          QStringLiteral("fail")},
         {QStringLiteral("B5  ladder.se_unipolar.ch06  3.757 V within 3.750 \u00b10.300  pass"),
          QStringLiteral("B6  ladder.se_bipolar.ch06  0.512 V within -2.500 \u00b10.300  FAIL"),
          QStringLiteral("B7  ladder.differential.ch06  -0.910 V within -0.917 \u00b10.300  pass")}},
        {{QStringLiteral("--name"), QStringLiteral("[ad][gdi]*"), QStringLiteral("--serial"), QStringLiteral("QN1")},
         {QStringLiteral("A0  dio.pullup  0xFFFF equals 0xFFFF  pass"),
          QStringLiteral("A1  dio.loopback.a_to_b.01  0x01 equals 0x01  pass"),
          QStringLiteral("A1  dio.loopback.a_to_b.80  0x80 equals 0x80  pass"),
          QStringLiteral("A2  adclocks.unclocked.bytes_left  32 bytes >= 1  pass"),
          QStringLiteral("A2  adclocks.clocked.bytes_left  0 bytes equals 0  pass"),
          QStringLiteral("A3  agnd  0.01160 V within 0.01234 \u00b10.00595  pass")}},
        {{QStringLiteral("--name"), QStringLiteral("aref.*"), QStringLiteral("--limit"), QStringLiteral("1")},
         {QStringLiteral("B3  aref.typed  9.930 V  not-judged"),
          QStringLiteral("B3  aref.word  65077 counts in 1 .. 65534  pass")}},
        {{QStringLiteral("--name"), QStringLiteral("dac*.[gv]*"), QStringLiteral("--station"),
          QStringLiteral("bench-1")},
         {QStringLiteral("A8  dac0.gain  0.9988 ratio finite  pass"),
          QStringLiteral("A8  dac1.gain  0.999 ratio finite  pass"),
          QStringLiteral("A8  dac2.gain  0.9992 ratio finite  pass"),
          QStringLiteral("A8  dac3.gain  0.9994 ratio finite  pass"),
          QStringLiteral("A9  dac.check.verdict  yes equals yes  pass"),
          QStringLiteral("AA  dac.ramp.verdict  yes equals yes  pass")}},
    };
    for (const Case &c : cases) {
        const Result result =
            run(QStringList{QStringLiteral("--db"), store, QStringLiteral("measurements")} + c.arguments);
        QString expected;
        for (const QString &line : c.lines)
            expected += (line.startsWith(QLatin1Char('A')) ? a + keysA : b + keysB) + line.mid(1) + QLatin1Char('\n');
        EXPECT_EQ(result.exit, 0) << result.err.toStdString();
        EXPECT_EQ(result.out.toStdString(), expected.toStdString()) << c.arguments.join(QLatin1Char(' ')).toStdString();
    }
    // Every measurement of both runs; a store without measurements lists none.
    EXPECT_EQ(run({QStringLiteral("--db"), store, QStringLiteral("measurements")}).out.count(QLatin1Char('\n')), 118);
    const Result none = run({QStringLiteral("--db"), path, QStringLiteral("measurements")});
    EXPECT_EQ(none.exit, 0);
    EXPECT_EQ(none.out, QString());
}

// Named measurements are read by runs and names apart and matched in memory, one way for
// every run, another for a filter keeping many runs and a third for a few: each must
// print what the plain join prints for those names.
TEST_F(RecordsCli, NamedMeasurementsReadEveryWayAsThePlainJoin)
{
    const QString store = dir.filePath(QStringLiteral("many.sqlite"));
    {
        SyntheticStore synthetic(store,
                                 {QStringLiteral("line-a-1"), QStringLiteral("line-a-2"), QStringLiteral("line-b-1")});
        ASSERT_TRUE(synthetic.isOpen()) << synthetic.error().toStdString();
        synthetic.setMeasurements(true);
        synthetic.addMany(1200, 11);
    }
    const auto lines = [&](const QStringList &arguments) {
        const Result r = run(QStringList{QStringLiteral("--db"), store, QStringLiteral("measurements")} + arguments);
        EXPECT_EQ(r.exit, 0) << r.err.toStdString();
        return r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    };
    const QRegularExpression named(QStringLiteral("  ladder\\.[a-z_]+\\.ch05  "));
    const QStringList joined = lines({}).filter(named);
    ASSERT_GT(joined.size(), 2000);
    const QStringList name{QStringLiteral("--name"), QStringLiteral("ladder.*.ch05")};
    EXPECT_EQ(lines(name), joined);
    EXPECT_EQ(lines(name + QStringList{QStringLiteral("--since"), QStringLiteral("2000-01-01")}), joined);
    const QStringList lineB = lines(name + QStringList{QStringLiteral("--station"), QStringLiteral("line-b-1")});
    EXPECT_FALSE(lineB.isEmpty());
    EXPECT_EQ(lineB, joined.filter(QStringLiteral("  line-b-1  ")));
}

TEST_F(RecordsCli, BadInputGetsOneLineAndNonZeroExit)
{
    // A file of another kind, an SQLite file of another program, and a newer schema.
    const QString text = dir.filePath(QStringLiteral("notes.txt"));
    {
        QFile f(text);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(4096, 'x'));
    }
    const QString other = dir.filePath(QStringLiteral("other.sqlite"));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other"));
        db.setDatabaseName(other);
        ASSERT_TRUE(db.open());
        QSqlQuery(db).exec(QStringLiteral("CREATE TABLE parts (id INTEGER)"));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("other"));
    const QString newer = dir.filePath(QStringLiteral("newer.sqlite"));
    {
        SyntheticStore store(newer, {QStringLiteral("bench-1")}, records::SchemaVersion + 1);
    }
    const QString missing = dir.filePath(QStringLiteral("missing.sqlite"));

    // Two runs sharing a first character make a one-character prefix ambiguous.
    QString ambiguous;
    for (const QString &a : {passing, failing, retested, single})
        for (const QString &b : {passing, failing, retested, single})
            if (a != b && a.at(0) == b.at(0))
                ambiguous = a.left(1);
    {
        SyntheticStore more(dir.filePath(QStringLiteral("many.sqlite")));
        more.addMany(40, 7);
    }

    struct Case {
        QStringList arguments;
        int exit;
        QString says;
    };
    const QString db = QStringLiteral("--db=") + path;
    const QString many = QStringLiteral("--db=") + dir.filePath(QStringLiteral("many.sqlite"));
    const std::vector<Case> cases = {
        {{db, QStringLiteral("show"), QStringLiteral("0000dead")}, 1, QStringLiteral("no run 0000dead")},
        {{db, QStringLiteral("show"), QStringLiteral("%")}, 1, QStringLiteral("no run %")},
        {{many, QStringLiteral("show"), QStringLiteral("")}, 1, QStringLiteral("empty run id")},
        {{db, QStringLiteral("certificate"), QStringLiteral("abc"), QStringLiteral("--output=x.pdf")},
         1,
         QStringLiteral("no run abc")},
        {{db, QStringLiteral("list"), QStringLiteral("--since"), QStringLiteral("2026-13-01")},
         2,
         QStringLiteral("malformed date \"2026-13-01\"")},
        {{db, QStringLiteral("list"), QStringLiteral("--until"), QStringLiteral("yesterday")},
         2,
         QStringLiteral("malformed date \"yesterday\"")},
        {{db, QStringLiteral("list"), QStringLiteral("--limit"), QStringLiteral("-3")},
         2,
         QStringLiteral("malformed limit")},
        {{db, QStringLiteral("list"), QStringLiteral("--verdict"), QStringLiteral("good")},
         2,
         QStringLiteral("unknown verdict")},
        {{db, QStringLiteral("export"), QStringLiteral("--format"), QStringLiteral("xls")},
         2,
         QStringLiteral("unknown export format")},
        {{db, QStringLiteral("export"), QStringLiteral("--format=json"), QStringLiteral("--what=measurements")},
         2,
         QStringLiteral("--what measurements needs --format csv")},
        {{db, QStringLiteral("export"), QStringLiteral("--format=csv"), QStringLiteral("--what=rows")},
         2,
         QStringLiteral("unknown --what \"rows\"")},
        {{db, QStringLiteral("certificate"), passing}, 2, QStringLiteral("needs --output")},
        {{db, QStringLiteral("frobnicate")}, 2, QStringLiteral("unknown command")},
        {{db, QStringLiteral("list"), QStringLiteral("--colour")}, 2, QStringLiteral("colour")},
        {{QStringLiteral("--db"), text, QStringLiteral("list")}, 1, QStringLiteral("file is not a database")},
        {{QStringLiteral("--db"), other, QStringLiteral("yield")}, 1, QStringLiteral("not a records file")},
        {{QStringLiteral("--db"), newer, QStringLiteral("list")},
         1,
         QStringLiteral("has records schema version %1; this program reads up to version %2")
             .arg(records::SchemaVersion + 1)
             .arg(records::SchemaVersion)},
        {{QStringLiteral("--db"), missing, QStringLiteral("list")}, 1, QStringLiteral("no such file")},
        {{QStringLiteral("--db"), dir.path(), QStringLiteral("list")}, 1, QStringLiteral("not a file")},
    };
    for (const Case &c : cases) {
        const Result result = run(c.arguments);
        SCOPED_TRACE(c.arguments.join(QLatin1Char(' ')).toStdString());
        EXPECT_EQ(result.exit, c.exit);
        EXPECT_TRUE(result.err.contains(c.says)) << result.err.toStdString();
        EXPECT_EQ(result.err.count(QLatin1Char('\n')), 1) << result.err.toStdString();
        EXPECT_TRUE(result.out.isEmpty());
    }
    EXPECT_FALSE(QFileInfo::exists(missing));
    if (!ambiguous.isEmpty()) {
        const Result result = run({db, QStringLiteral("show"), ambiguous});
        EXPECT_EQ(result.exit, 1);
        EXPECT_TRUE(result.err.contains(QStringLiteral("is ambiguous"))) << result.err.toStdString();
    }
}

// The program itself: a certificate a person can read, and nothing created by a read.
TEST_F(RecordsCli, CertificateHoldsSerialVerdictsAndConstantsAsText)
{
    const QString page = certificateText(path, failing, dir.filePath(QStringLiteral("cert.pdf")));
    EXPECT_TRUE(page.contains(QStringLiteral("Serial QN1002"))) << page.toStdString();
    EXPECT_TRUE(page.contains(QStringLiteral("Result FAIL")));
    for (int digit = 0; digit <= 10; ++digit)
        EXPECT_TRUE(page.contains(QStringLiteral("%1 %2 %3")
                                      .arg(QString::number(digit, 16).toUpper(), SyntheticStore::rowName(digit),
                                           digit == 6 ? QStringLiteral("FAIL") : QStringLiteral("PASS"))))
            << digit;
    EXPECT_TRUE(page.contains(QStringLiteral("ARef word 65087 (0xFE3F) = 9.9315 V")));
    EXPECT_TRUE(page.contains(QStringLiteral("DAC range 0-10 V, 4 DACs calibrated, marked valid")));
    EXPECT_TRUE(page.contains(QStringLiteral("DAC 0 gain 1.001250 offset -0.357100")));
    EXPECT_TRUE(page.contains(QStringLiteral("DAC 1 gain 0.998750 offset 1.609000")));
    EXPECT_TRUE(page.contains(QStringLiteral("ARef Cal \"9.9315\" OK")));
    EXPECT_TRUE(page.contains(QStringLiteral("DAC High Reading \"9.9;9.9;9.9;9.9\" OK")));

    const QString missing = dir.filePath(QStringLiteral("absent.sqlite"));
    QProcess program;
    program.start(QStringLiteral(QUILLON_RECORDS_BINARY), {QStringLiteral("--db"), missing, QStringLiteral("list")});
    ASSERT_TRUE(program.waitForFinished(30000));
    EXPECT_EQ(program.exitCode(), 1);
    EXPECT_FALSE(QFileInfo::exists(missing));
}

// A run's measurements follow the technician's readings, which read as they did
// without them: each with value, unit, limits and outcome under its row.
TEST_F(RecordsCli, CertificateListsMeasurementsWithUnitsAfterTheFirstPage)
{
    const QString before = certificateText(path, failing, dir.filePath(QStringLiteral("before.pdf")));
    ASSERT_FALSE(before.isEmpty());
    ASSERT_TRUE(quillon::testing::execOnFile(
        path, QStringLiteral(
                  "INSERT INTO measurements VALUES "
                  "('m1', '%1', 1, 6, 'ladder.ch03', 2.49893, 'number', 'V', 'within', 2, 0.3, 1.7, 2.3, 'fail'),"
                  "('m2', '%1', 2, 6, 'ladder.ch04', 2.27, 'number', 'V', 'within', 2, 0.3, 1.7, 2.3, 'marginal'),"
                  "('m3', '%1', 3, 3, 'aref.word', 65077, 'integer', 'counts', 'range', NULL, NULL, 1, 65534, 'pass')")
                  .arg(failing)));
    const QString page = certificateText(path, failing, dir.filePath(QStringLiteral("after.pdf")));
    // From the title to the readings' end (the pages' heads name how many there are).
    const qsizetype title = before.indexOf(QStringLiteral("Test and calibration certificate"));
    const QString unchanged = before.mid(title, before.indexOf(QStringLiteral(" Decision rule")) - title);
    ASSERT_TRUE(title > 0 && unchanged.contains(QStringLiteral("Technician's readings")));
    const qsizetype at = page.indexOf(unchanged + QStringLiteral(" Results with units "));
    ASSERT_GT(at, 0) << page.toStdString();
    const QString results = page.mid(at + unchanged.size());
    EXPECT_TRUE(results.contains(QStringLiteral("6 %1 Measurement Value Unit Limits Outcome ladder.ch03 2.49893 V 2 "
                                                "\u00B1 0.3 (1.7 to 2.3) FAIL ladder.ch04 2.27 V 2 \u00B1 0.3 "
                                                "(1.7 to 2.3) marginal 3 %2")
                                     .arg(SyntheticStore::rowName(6), SyntheticStore::rowName(3))))
        << results.toStdString();
    EXPECT_TRUE(results.contains(QStringLiteral("aref.word 65077 counts 1 to 65534 pass")));
    EXPECT_TRUE(results.endsWith(QStringLiteral("page 2 of 2"))) << results.toStdString();
}

// A unit calibrated twice on the simulated bench, the second time from readings typed
// by hand, with an overdue meter. The second run's certificate states the constants the
// board held before it (the ARef word and the DACs of the first run's two rows, as the
// scenario hands them to the board) and those it holds after it (its EEPROM at the end),
// who calibrated with what, and how values were judged. Its 24 measurements do not fit
// below the rest on the first page: two pages, each with the number and its place.
TEST_F(RecordsCli, CertificateOfARecalibrationStatesConstantsBeforeAndAfterOnEveryPage)
{
    const QString store = dir.filePath(QStringLiteral("recal.sqlite"));
    auto calibrate = [&](const QString &json) {
        sim::Scenario scenario;
        const auto error = sim::readScenario(json.toUtf8(), scenario);
        EXPECT_FALSE(error) << (error ? error->text().toStdString() : std::string());
        scenario.records = store;
        return runScenario(scenario);
    };
    const QString before =
        calibrate(QStringLiteral(R"({"steps": [{"test": "3"}, {"test": "8"}]})"))[QLatin1String("eepromCal")]
            .toString();
    // Typed as the technician would under this locale (the suite also runs with a
    // comma for the decimal point).
    const auto typed = [](std::initializer_list<double> volts) {
        QStringList fields;
        for (const double v : volts)
            fields << QLatin1Char('"') + QLocale().toString(v, 'f', 4) + QLatin1Char('"');
        return fields.join(QStringLiteral(", "));
    };
    const QString recalibration =
        QStringLiteral(R"({"board": {"eeprom": {"7520": "%1"}}, "technician": [
        {"caption": "DAC Low Reading", "fields": [%2]},
        {"caption": "DAC High Reading", "fields": [%3]}],
        "steps": [{"test": "8"}]})")
            .arg(before, typed({-0.01, 0.008, 0.001, -0.002}), typed({9.89, 9.93, 9.9, 9.91}));
    const QJsonObject second = calibrate(recalibration);
    const QString after = second[QLatin1String("eepromCal")].toString();
    ASSERT_NE(before, after) << QJsonDocument(second[QLatin1String("rows")].toArray()).toJson().toStdString();
    const QString id = second[QLatin1String("records")][QLatin1String("runs")][0].toString();
    ASSERT_FALSE(id.isEmpty());
    // Longer than a line: wrapped, never cut.
    const QString note =
        QStringLiteral("due 2026-11-02; used with enforcement off at this station, as the line procedure "
                       "allows for a meter whose recalibration is booked and whose last "
                       "daily check passed");
    // A row's run asks for no serial, and this station records neither operator nor meter.
    ASSERT_TRUE(execOnFile(store, QStringLiteral("UPDATE runs SET serial = 'QN7002'")));
    ASSERT_TRUE(execOnFile(
        store, QStringLiteral("UPDATE runs SET operator = 'op-417', marginal_percent = 7.5 WHERE id = '%1'").arg(id)));
    ASSERT_TRUE(execOnFile(store, QStringLiteral("INSERT INTO run_instruments VALUES ('i1', '%1', 1, 'meter', "
                                                 "'MTR-07', 'dmm', 'Keystone', 'DM-6500', 'KS220931', '2025-11-02', "
                                                 "'2026-11-02', 'CAL-2025-1187', 'overdue', '%2')")
                                      .arg(id, note)));
    const QString config = dir.filePath(QStringLiteral("config"));
    ASSERT_TRUE(QDir().mkpath(config + QStringLiteral("/Quillon")));
    {
        QFile ini(config + QStringLiteral("/Quillon/quillon.ini"));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        // The band the station recorded, not this computer's, goes into the decision rule.
        ini.write("[records]\nmarginalPercent=12\n");
    }
    const QStringList pages = certificatePages(store, id, dir.filePath(QStringLiteral("recal.pdf")), config);
    ASSERT_EQ(pages.size(), 2) << pages.join(QStringLiteral("\n----\n")).toStdString();
    const QRegularExpressionMatch number =
        QRegularExpression(QStringLiteral("Certificate No\\. (\\S+-%1) ").arg(id.left(8))).match(pages[0]);
    ASSERT_TRUE(number.hasMatch()) << pages[0].toStdString();
    for (int p = 0; p < 2; ++p)
        EXPECT_TRUE(
            pages[p].contains(QStringLiteral("Certificate %1, page %2 of 2").arg(number.captured(1)).arg(p + 1)))
            << pages[p].toStdString();

    // The constants in the EEPROM's bytes (7520 on): each record's block after its marker,
    // big-endian singles; the ARef word at 7666, low byte first.
    auto constants = [](const QString &hex) {
        const QByteArray b = QByteArray::fromHex(hex.toLatin1());
        auto single = [&](int at) {
            return double(std::bit_cast<float>(quint32(quint8(b[at])) << 24 | quint32(quint8(b[at + 1])) << 16
                                               | quint32(quint8(b[at + 2])) << 8 | quint8(b[at + 3])));
        };
        QStringList lines{QStringLiteral("ARef word %1 ").arg(quint8(b[146]) | quint8(b[147]) << 8)};
        for (int dac = 0; dac < 4; ++dac)
            lines << QStringLiteral("DAC %1 gain %2 offset %3")
                         .arg(dac)
                         .arg(single(4 + 8 * dac), 0, 'f', 6)
                         .arg(single(8 + 8 * dac), 0, 'f', 6);
        return lines;
    };
    const QString &first = pages[0];
    const qsizetype found = first.indexOf(QStringLiteral("As found, before this run"));
    const qsizetype left = first.indexOf(QStringLiteral("As left, stored in the board by this run"));
    const qsizetype readings = first.indexOf(QStringLiteral("Technician's readings"));
    ASSERT_TRUE(found > 0 && left > found && readings > left) << first.toStdString();
    for (const QString &line : constants(before))
        EXPECT_TRUE(first.mid(found, left - found).contains(line)) << line.toStdString();
    for (const QString &line : constants(after))
        EXPECT_TRUE(first.mid(left, readings - left).contains(line)) << line.toStdString();
    EXPECT_TRUE(first.contains(QStringLiteral("Performed by op-417")));
    // The make's column wraps "(dmm)" below the row.
    EXPECT_TRUE(first.contains(QStringLiteral("MTR-07 (meter) Keystone DM-6500 KS220931 2025-11-02 2026-11-02 "
                                              "CAL-2025-1187 OVERDUE (dmm) Note: ")
                               + note + QStringLiteral(" Tests")))
        << first.toStdString();
    EXPECT_TRUE(first.contains(QStringLiteral("Temperature not recorded Humidity not recorded")));
    const QString &last = pages[1];
    EXPECT_TRUE(last.contains(QStringLiteral("Simple acceptance: a value passes inside its limits, edges included; "
                                             "guard band: none. Marginal: passing within 7.5 % of the band's edge")))
        << last.toStdString();
    EXPECT_TRUE(last.contains(QStringLiteral("The results relate only to the unit tested, serial QN7002.")));
    EXPECT_TRUE(last.contains(QStringLiteral("End of certificate From the records")));
}

// Arguments a person gets wrong, or an attacker chooses: the program answers in one
// line, never opens a window nor waits for one, and no file appears beside a store.
TEST_F(RecordsCli, HostileArgumentsGetOneLineAndCreateNothing)
{
    const QString hundred = dir.filePath(QStringLiteral("hundred.sqlite"));
    const QString cutShort = dir.filePath(QStringLiteral("cut-short.sqlite"));
    {
        QFile a(hundred), b(cutShort);
        ASSERT_TRUE(a.open(QIODevice::WriteOnly) && b.open(QIODevice::WriteOnly));
        a.write(QByteArray(100, 'x'));
        // An SQLite header claiming WAL mode and 4096-byte pages, on a 100-byte file.
        QByteArray header = QByteArrayLiteral("SQLite format 3") + QByteArray(85, '\0');
        header[16] = 0x10;
        header[18] = header[19] = 2;
        b.write(header);
    }
    const QString pdfs = dir.filePath(QStringLiteral("pdf"));
    ASSERT_TRUE(QDir().mkpath(pdfs));
    // A station has the store open, as on a line: a reader uses its -wal and -shm.
    QSqlDatabase station = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("station"));
    station.setDatabaseName(path);
    ASSERT_TRUE(station.open());
    ASSERT_TRUE(QSqlQuery(station).exec(QStringLiteral("SELECT count(*) FROM runs")));
    const QStringList before = filesIn(dir.path());

    const QString huge(10000, QLatin1Char('y'));
    const QString cut = QString(60, QLatin1Char('y')) + QStringLiteral("...");
    const QString noWindow = QStringLiteral("quillon-records: the records window needs a display");
    struct Case {
        QStringList arguments;
        int exit;
        QString firstLine; // the first line of standard error and output, begins so
    };
    const std::vector<Case> cases = {
        {{QStringLiteral("--"), QStringLiteral("-x")}, 2, QStringLiteral("quillon-records: unknown command \"-x\" (")},
        {{QStringLiteral("--db"), path, QStringLiteral("--"), QStringLiteral("--help")},
         2,
         QStringLiteral("quillon-records: unknown command \"--help\" (")},
        {{huge}, 2, QStringLiteral("quillon-records: unknown command \"%1\" (see --help)").arg(cut)},
        {{QStringLiteral("list"), QStringLiteral("--serial=") + huge, QStringLiteral("--since"), huge},
         2,
         QStringLiteral("quillon-records: malformed date \"%1\" (").arg(cut)},
        {{QStringLiteral("--db"), dir.filePath(huge), QStringLiteral("list")}, 1, QStringLiteral("quillon-records: ")},
        {{QStringLiteral("--db"), path, QStringLiteral("show"), QStringLiteral("\x1b[2J\nab")},
         1,
         QStringLiteral("quillon-records: no run \\x1b[2J\\x0aab")},
        {{QStringLiteral("--db"), hundred, QStringLiteral("list")},
         1,
         QStringLiteral("quillon-records: %1: file is not a database").arg(hundred)},
        {{QStringLiteral("--db"), cutShort, QStringLiteral("yield")},
         1,
         QStringLiteral("quillon-records: %1: database disk image is malformed").arg(cutShort)},
        {{QStringLiteral("--db"), path}, 2, noWindow},
        {{QStringLiteral("--db"), path, QStringLiteral("view")}, 2, noWindow},
        {{QStringLiteral("--db"), path, QStringLiteral("--limit"), QStringLiteral("2")},
         2,
         QStringLiteral("quillon-records: --limit goes with a command")},
        {{QStringLiteral("--db"), path, QStringLiteral("list"), QStringLiteral("--format"), QStringLiteral("csv")},
         2,
         QStringLiteral("quillon-records: list takes no --format")},
        // A filter's value is never the command.
        {{QStringLiteral("--db"), path, QStringLiteral("--station"), QStringLiteral("view"), QStringLiteral("list")},
         0,
         QString()},
        // The last day there is is a day like any other.
        {{QStringLiteral("--db"), path, QStringLiteral("list"), QStringLiteral("--until"),
          QStringLiteral("9999-12-31")},
         0,
         single + QStringLiteral("  2026-12-08 12:00:00Z")},
        {{QStringLiteral("--db"), path, QStringLiteral("list"), QStringLiteral("--help")},
         0,
         QStringLiteral("Usage: ")},
        // No platform note beside the certificate.
        {{QStringLiteral("--db"), path, QStringLiteral("certificate"), failing.left(8), QStringLiteral("--output"),
          QDir(pdfs).filePath(QStringLiteral("c.pdf"))},
         0,
         QString()},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.arguments.join(QLatin1Char(' ')).left(200).toStdString());
        const Result result = runProgram(c.arguments);
        EXPECT_EQ(result.exit, c.exit);
        const QString first = (result.err + result.out).section(QLatin1Char('\n'), 0, 0);
        EXPECT_TRUE(first.startsWith(c.firstLine)) << first.left(300).toStdString();
        EXPECT_LE(first.size(), 300);
        EXPECT_LE(result.err.count(QLatin1Char('\n')), 1) << result.err.left(300).toStdString();
        EXPECT_EQ(filesIn(dir.path()), before);
    }
    station.close();
    station = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("station"));
}

// A supervisor reads another user's station folder: read permission only, a store
// whose log is checkpointed and one whose newest runs are still in its -wal.
TEST_F(RecordsCli, ReadsAStoreInAFolderItMayNotWrite)
{
    const QString folder = dir.filePath(QStringLiteral("station"));
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString file = QDir(folder).filePath(QStringLiteral("records.sqlite"));
    ASSERT_TRUE(QFile::copy(path, file));
    // Root may write anywhere: the reader is then nobody; anyone else meets the modes.
    QStringList asUser;
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther
                                          | QFile::ExeOther | QFile::ReadGroup | QFile::ExeGroup);
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner | QFile::WriteOwner | QFile::ReadOther
                                      | QFile::ExeOther | QFile::ReadGroup | QFile::ExeGroup);
    if (::geteuid() == 0)
        asUser = {QStringLiteral("setpriv"), QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
                  QStringLiteral("--clear-groups")};
    auto listed = [&] {
        if (asUser.isEmpty())
            QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther);
        const Result result = runProgram({QStringLiteral("--db"), file, QStringLiteral("list")}, asUser);
        if (asUser.isEmpty())
            QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner | QFile::WriteOwner);
        EXPECT_EQ(result.err, QString());
        return ids(result);
    };
    const QStringList all = {single, retested, failing, passing};
    EXPECT_EQ(listed(), all);
    EXPECT_EQ(filesIn(folder), QStringList{QStringLiteral("records.sqlite")});

    // A station writing: its newest run is in the -wal only.
    const QString added = QStringLiteral("ffffffff-0000-4000-8000-000000000001");
    QSqlDatabase station = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("writer"));
    station.setDatabaseName(file);
    ASSERT_TRUE(station.open());
    {
        QSqlQuery q(station);
        ASSERT_TRUE(q.exec(QStringLiteral("PRAGMA wal_autocheckpoint=0")));
        ASSERT_TRUE(q.exec(
            QStringLiteral("INSERT INTO runs (id, station_id, session_id, seq, kind, row_digit, product_id, serial, "
                           "started_utc, simulated) SELECT '")
            + added
            + QStringLiteral("', "
                             "station_id, session_id, seq + 10, kind, row_digit, product_id, serial, "
                             "'2026-12-09T08:00:00.000Z', simulated FROM runs WHERE id = '")
            + single + QLatin1Char('\'')))
            << q.lastError().text().toStdString();
    }
    ASSERT_GT(QFileInfo(file + QStringLiteral("-wal")).size(), 0);
    EXPECT_EQ(listed(), QStringList{added} + all);
    station.close();
    station = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("writer"));
}

// status names the store once, and does not call a line database that took uploads
// "not configured" as if there were none.
TEST_F(RecordsCli, StatusSaysWhatTheStoreHolds)
{
    const QString missing = dir.filePath(QStringLiteral("missing.sqlite"));
    const Result none = run({QStringLiteral("status"), QStringLiteral("--db"), missing});
    EXPECT_EQ(none.exit, 1);
    EXPECT_EQ(none.err, QStringLiteral("quillon-records: %1: no such file\n").arg(missing));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("uploads"));
        db.setDatabaseName(path);
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        ASSERT_TRUE(
            q.exec(QStringLiteral("INSERT INTO line_uploads VALUES ('%1', '2026-12-08T13:00:00.000Z')").arg(passing)));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("uploads"));
    const Result uploaded = run({QStringLiteral("status"), QStringLiteral("--db"), path});
    ASSERT_EQ(uploaded.exit, 0) << uploaded.err.toStdString();
    EXPECT_TRUE(uploaded.out.contains(QStringLiteral("Line database  not configured here; the store has uploads")))
        << uploaded.out.toStdString();
    EXPECT_TRUE(uploaded.out.contains(QStringLiteral("Uploaded runs  1\n")));
}

} // namespace
} // namespace quillon::testing
