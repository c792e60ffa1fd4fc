// Station records end to end: scripted runs through the real window into a records
// file, a station killed mid-run, files that cannot be written, the unit serial.
#include "app/sim/SimScenarioRunner.h"
#include "app/station/StationOptions.h"
#include "records/RecordStore.h"
#include "records/RecordsExport.h"
#include "records/RecordsQuery.h"
#include "records/RunDigest.h"
#include "records/Recorder.h"
#include "records/Schema.h"
#include "sim/Scenario.h"
#include "station/RowRegistry.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSettings>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <thread>

using namespace quillon;
using records::RecordsSettings;

namespace {

constexpr char TestAll[] = R"({"steps": ["testAll"], "faults": {"dioStuckHigh": 4}})";

sim::Scenario scenario(const char *json, const QString &recordsFile = {})
{
    sim::Scenario s;
    const auto error = sim::readScenario(QByteArray(json), s);
    EXPECT_FALSE(error) << qPrintable(error ? error->text() : QString());
    s.records = recordsFile;
    return s;
}

// Records that cannot be written at exit go under the data folder: a temporary one.
class RecordsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        qputenv("XDG_DATA_HOME", m_dir.filePath(QStringLiteral("data")).toLocal8Bit());
    }
    void TearDown() override { qunsetenv("XDG_DATA_HOME"); }
    QString path(const QString &name) const { return m_dir.filePath(name); }

    QTemporaryDir m_dir;
};

// A read-only connection to a records file for the duration of fn.
template <typename Fn>
void query(const QString &file, Fn fn)
{
    {
        QSqlDatabase db;
        QString reason;
        ASSERT_TRUE(records::openStoreFile(file, QStringLiteral("reader"), false, db, &reason)) << qPrintable(reason);
        fn(db);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("reader"));
}

QList<QVariantList> rows(QSqlDatabase &db, const QString &sql)
{
    QSqlQuery q(db);
    EXPECT_TRUE(q.exec(sql)) << qPrintable(sql);
    QList<QVariantList> out;
    while (q.next()) {
        QVariantList row;
        for (int i = 0; i < q.record().count(); ++i)
            row << q.value(i);
        out << row;
    }
    return out;
}

// Rows as "a|b|c" texts, NULL for a null value: compares without caring for SQL types.
QStringList texts(QSqlDatabase &db, const QString &sql)
{
    QStringList out;
    for (const QVariantList &row : rows(db, sql)) {
        QStringList fields;
        for (const QVariant &v : row)
            fields << (v.isNull() ? QStringLiteral("NULL") : v.toString());
        out << fields.join(QLatin1Char('|'));
    }
    return out;
}

QJsonArray memoOf(const QVariant &json)
{
    return QJsonDocument::fromJson(json.toString().toUtf8()).array();
}

QJsonObject withoutRecords(QJsonObject report)
{
    report.remove(QStringLiteral("records"));
    report.remove(QStringLiteral("timeline"));
    report.remove(QStringLiteral("measurements"));
    return report;
}

// Rows of the reference report (no records) for comparing memos and labels.
QJsonArray referenceRows(const char *json)
{
    return runScenario(scenario(json)).value(QStringLiteral("rows")).toArray();
}

} // namespace

TEST_F(RecordsTest, ScriptedRunIsRecordedExactlyAsShown)
{
    const QString file = path(QStringLiteral("station.sqlite"));
    const QJsonObject plain = runScenario(scenario(TestAll));
    const QJsonObject report = runScenario(scenario(TestAll, file));
    // Recording changes nothing the report shows; it only adds the records, the timeline
    // and the measurements.
    EXPECT_EQ(withoutRecords(report), plain);
    const QJsonObject rec = report.value(QStringLiteral("records")).toObject();
    EXPECT_FALSE(rec.contains(QStringLiteral("warning")))
        << qPrintable(rec.value(QStringLiteral("warning")).toString());
    const QJsonArray runs = rec.value(QStringLiteral("runs")).toArray();
    ASSERT_EQ(runs.size(), 1);
    const QString run = runs[0].toString();

    query(file, [&](QSqlDatabase &db) {
        const auto end =
            rows(db, QStringLiteral("SELECT r.kind, r.simulated, e.end_state, e.overall, s.channel_count,"
                                    " s.product_id IS NOT NULL FROM runs r JOIN run_ends e ON e.run_id = r.id"
                                    " JOIN sessions s ON s.id = r.session_id WHERE r.id = '%1'")
                         .arg(run));
        ASSERT_EQ(end.size(), 1);
        EXPECT_EQ(end[0],
                  (QVariantList{QStringLiteral("test-all"), 1, QStringLiteral("completed"),
                                report.value(QStringLiteral("overall")).toString(),
                                report[QStringLiteral("boardConfig")][QStringLiteral("ChannelCount")].toInt(), 1}));

        const auto results = rows(db, QStringLiteral("SELECT digit, name, label, fail_label, memo FROM row_results"
                                                     " WHERE run_id = '%1' ORDER BY seq")
                                          .arg(run));
        const QJsonArray shown = report.value(QStringLiteral("rows")).toArray();
        ASSERT_EQ(results.size(), shown.size());
        for (int i = 0; i < shown.size(); ++i) {
            const QJsonObject r = shown[i].toObject();
            EXPECT_EQ(results[i][0].toInt(), i);
            EXPECT_EQ(results[i][1].toString(), r.value(QStringLiteral("name")).toString());
            EXPECT_EQ(results[i][2].toString(), r.value(QStringLiteral("label")).toString());
            EXPECT_EQ(results[i][3].isNull(), !r.contains(QStringLiteral("failLabel")));
            EXPECT_EQ(results[i][3].toString(), r.value(QStringLiteral("failLabel")).toString());
            EXPECT_EQ(memoOf(results[i][4]), r.value(QStringLiteral("memo")).toArray()) << "row " << i;
        }

        QStringList captions;
        for (const auto &p : rows(db, QStringLiteral("SELECT caption FROM prompts ORDER BY shown_utc, seq")))
            captions << p[0].toString();
        QStringList shownCaptions;
        for (const QJsonValue p : report.value(QStringLiteral("prompts")).toArray())
            shownCaptions << p[QStringLiteral("caption")].toString();
        EXPECT_EQ(captions, shownCaptions);
        // The range question as the technician saw it: an untitled box and its question.
        EXPECT_EQ(texts(db, QStringLiteral("SELECT caption, text FROM prompts WHERE kind = 'dac-range'")),
                  QStringList{QStringLiteral("|What range are the DACs?")});

        // The last write to each calibration address is what the EEPROM holds.
        const QByteArray eeprom = QByteArray::fromHex(report.value(QStringLiteral("eepromCal")).toString().toLatin1());
        const auto writes =
            rows(db, QStringLiteral("SELECT address, bytes, status FROM eeprom_writes WHERE run_id = '%1'"
                                    " ORDER BY seq")
                         .arg(run));
        ASSERT_FALSE(writes.isEmpty());
        for (const auto &w : writes) {
            const QByteArray bytes = QByteArray::fromHex(w[1].toByteArray());
            EXPECT_EQ(w[2].toInt(), 0);
            bool last = true;
            for (const auto &later : writes.mid(writes.indexOf(w) + 1))
                last = last && later[0] != w[0];
            if (last) {
                EXPECT_EQ(eeprom.mid(w[0].toInt() - 7520, bytes.size()), bytes) << "address " << w[0].toInt();
            }
        }
    });

    // The timeline holds every call and every prompt once, in bench-time order.
    const QJsonArray timeline = report.value(QStringLiteral("timeline")).toArray();
    int calls = 0, prompts = 0;
    double last = 0;
    for (const QJsonValue t : timeline) {
        calls += t.toObject().contains(QStringLiteral("call"));
        prompts += t.toObject().contains(QStringLiteral("prompt"));
        EXPECT_GE(t[QStringLiteral("ms")].toDouble(), last);
        last = t[QStringLiteral("ms")].toDouble();
    }
    EXPECT_EQ(calls, report.value(QStringLiteral("calls")).toArray().size());
    EXPECT_EQ(prompts, report.value(QStringLiteral("prompts")).toArray().size());
}

TEST_F(RecordsTest, KilledStationLeavesShownRowsAndTheRunEndsInterrupted)
{
    const QString file = path(QStringLiteral("killed.sqlite"));
    const QString slow = path(QStringLiteral("slow.json"));
    QFile f(slow);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QStringLiteral(R"({"steps": ["testAll"], "latencyUs": 4000, "records": "%1"})").arg(file).toUtf8());
    f.close();

    QProcess sim;
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start(QStringLiteral(QUILLON_SIM_BINARY),
              {QStringLiteral("--scenario"), slow, QStringLiteral("--station"), QStringLiteral("bench-7")});
    ASSERT_TRUE(sim.waitForStarted());
    // Killed once a few rows have been judged, well before the run ends.
    int judged = 0;
    for (int i = 0; i < 600 && judged < 3; ++i) {
        QThread::msleep(50);
        if (QFile::exists(file))
            query(file, [&](QSqlDatabase &db) {
                QSqlQuery q(db); // the tables may not be there yet
                judged =
                    q.exec(QStringLiteral("SELECT count(*) FROM row_results")) && q.next() ? q.value(0).toInt() : 0;
            });
    }
    ASSERT_GE(judged, 3);
    ASSERT_EQ(sim.state(), QProcess::Running) << "the run ended before it could be killed";
    sim.kill(); // SIGKILL
    ASSERT_TRUE(sim.waitForFinished());

    const QJsonArray expected = referenceRows(R"({"steps": ["testAll"]})");
    QString run;
    query(file, [&](QSqlDatabase &db) {
        EXPECT_EQ(rows(db, QStringLiteral("PRAGMA integrity_check")).value(0).value(0).toString(),
                  QStringLiteral("ok"));
        const auto results =
            rows(db, QStringLiteral("SELECT run_id, digit, label, memo FROM row_results ORDER BY seq"));
        ASSERT_GE(results.size(), 3);
        ASSERT_LT(results.size(), expected.size());
        for (int i = 0; i < results.size(); ++i) {
            EXPECT_EQ(results[i][1].toInt(), i);
            EXPECT_EQ(results[i][2].toString(), expected[i][QStringLiteral("label")].toString());
            EXPECT_EQ(memoOf(results[i][3]), expected[i][QStringLiteral("memo")].toArray()) << "row " << i;
        }
        run = results[0][0].toString();
        EXPECT_TRUE(rows(db, QStringLiteral("SELECT 1 FROM run_ends WHERE run_id = '%1'").arg(run)).isEmpty());
    });

    // The same station starting again ends the open run as interrupted.
    RecordsSettings settings;
    settings.station = QStringLiteral("bench-7");
    runScenario(scenario(R"({"steps": []})", file), settings);
    query(file, [&](QSqlDatabase &db) {
        EXPECT_EQ(texts(db, QStringLiteral("SELECT end_state, overall FROM run_ends WHERE run_id = '%1'").arg(run)),
                  QStringList{QStringLiteral("interrupted|NULL")});
    });
}

namespace {

// A small tmpfs over dir (root only). False: mounting is not permitted here.
bool mountTmpfs(const QString &dir, const QString &options)
{
    return ::mount("tmpfs", QFile::encodeName(dir).constData(), "tmpfs", 0, options.toLatin1().constData()) == 0;
}

void createStore(const QString &file)
{
    records::RecordStore store(QStringLiteral("create"));
    QString reason;
    ASSERT_TRUE(store.open(file, &reason)) << qPrintable(reason);
}

// One way a records file cannot be written, set up in dir and undone at the end.
class Unwritable {
public:
    enum class Case { Corrupt, ReadOnlyFolder, FullDisk, Locked };

    Unwritable(Case c, QString dir) : m_case(c), m_dir(std::move(dir)) {}
    ~Unwritable()
    {
        if (m_locker.joinable())
            m_locker.join();
        if (m_mounted)
            ::umount2(QFile::encodeName(m_dir).constData(), MNT_DETACH);
        QFile::setPermissions(m_dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    Unwritable(const Unwritable &) = delete;
    Unwritable &operator=(const Unwritable &) = delete;

    // False (with a note) when this machine does not allow it.
    bool setUp(const QString &file)
    {
        switch (m_case) {
        case Case::Corrupt: {
            QFile junk(file);
            EXPECT_TRUE(junk.open(QIODevice::WriteOnly));
            junk.write(QByteArray(8192, '\x42'));
            return true;
        }
        case Case::ReadOnlyFolder: return readOnly();
        case Case::FullDisk: return fullDisk(file);
        case Case::Locked: lock(file); return true;
        }
        return false;
    }
    void finished()
    {
        if (m_locker.joinable())
            m_locker.join();
    }

private:
    bool readOnly()
    {
        if (geteuid() != 0) // root ignores permission bits
            return QFile::setPermissions(m_dir, QFile::ReadOwner | QFile::ExeOwner);
        m_mounted = mountTmpfs(m_dir, QStringLiteral("size=1m"));
        if (m_mounted
            && ::mount(nullptr, QFile::encodeName(m_dir).constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0)
            return true;
        std::printf("[  SKIPPED ] read-only folder: mount is not permitted here\n");
        return false;
    }

    bool fullDisk(const QString &file)
    {
        m_mounted = mountTmpfs(m_dir, QStringLiteral("size=256k"));
        if (!m_mounted) {
            std::printf("[  SKIPPED ] full disk: mounting a small tmpfs is not permitted here\n");
            return false;
        }
        createStore(file);
        QFile filler(QDir(m_dir).filePath(QStringLiteral("filler")));
        EXPECT_TRUE(filler.open(QIODevice::WriteOnly));
        const QByteArray block(4096, '\0');
        while (filler.write(block) == block.size() && filler.flush()) {
        }
        return true;
    }

    // Another program holds the file for longer than the station waits for it.
    void lock(const QString &file)
    {
        createStore(file);
        m_locker = std::thread([file, this] {
            {
                QSqlDatabase db;
                records::openStoreFile(file, QStringLiteral("locker"), true, db, nullptr);
                QSqlQuery(db).exec(QStringLiteral("BEGIN EXCLUSIVE"));
                m_locked = true;
                QThread::msleep(6500);
                QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
            }
            QSqlDatabase::removeDatabase(QStringLiteral("locker"));
        });
        while (!m_locked)
            QThread::msleep(5);
    }

    Case m_case;
    QString m_dir;
    bool m_mounted = false;
    std::atomic<bool> m_locked{false};
    std::thread m_locker;
};

// Everything of the run went to the JSON file the warning names.
void expectSavedAside(const QString &warning, const QString &run, qsizetype rows)
{
    QFile saved(warning.section(QStringLiteral("saved to "), 1).chopped(1));
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly)) << qPrintable(warning);
    int results = 0, runs = 0;
    for (const QJsonValue r : QJsonDocument::fromJson(saved.readAll())[QStringLiteral("records")].toArray()) {
        results += r[QStringLiteral("table")] == QStringLiteral("row_results");
        runs += r[QStringLiteral("table")] == QStringLiteral("runs")
                && r[QStringLiteral("values")][QStringLiteral("id")] == run;
    }
    EXPECT_EQ(results, rows);
    EXPECT_EQ(runs, 1);
    saved.remove();
}

} // namespace

TEST_F(RecordsTest, UnwritableFileNeverStopsTestingAndLosesNothing)
{
    using Case = Unwritable::Case;
    const QJsonArray expected = referenceRows(TestAll);
    for (const Case c : {Case::Corrupt, Case::ReadOnlyFolder, Case::FullDisk, Case::Locked}) {
        SCOPED_TRACE(int(c));
        const QString dir = path(QStringLiteral("case%1").arg(int(c)));
        ASSERT_TRUE(QDir().mkpath(dir));
        const QString file = QDir(dir).filePath(QStringLiteral("records.sqlite"));
        Unwritable unwritable(c, dir);
        if (!unwritable.setUp(file))
            continue;

        const QJsonObject report = runScenario(scenario(TestAll, file));
        unwritable.finished();
        // Testing went on exactly as without records, with one warning naming the file.
        EXPECT_EQ(report.value(QStringLiteral("rows")).toArray(), expected);
        const QJsonObject rec = report.value(QStringLiteral("records")).toObject();
        const QString warning = rec.value(QStringLiteral("warning")).toString();
        EXPECT_TRUE(warning.contains(file)) << qPrintable(warning);
        const QString run = rec.value(QStringLiteral("runs")).toArray().at(0).toString();
        if (c != Case::Locked) {
            expectSavedAside(warning, run, expected.size());
            continue;
        }
        // Written once the other program let go; nothing had to be saved aside.
        query(file, [&](QSqlDatabase &db) {
            EXPECT_EQ(texts(db, QStringLiteral("SELECT count(*) FROM row_results WHERE run_id = '%1'").arg(run)),
                      QStringList{QString::number(expected.size())});
        });
        EXPECT_TRUE(QDir(path(QStringLiteral("data/Quillon/unwritten"))).entryList(QDir::Files).isEmpty());
    }
}

TEST_F(RecordsTest, UnitSerialIsAskedCheckedAndRecorded)
{
    const QString file = path(QStringLiteral("serial.sqlite"));
    RecordsSettings settings;
    settings.askSerial = true;
    settings.serialPattern = QStringLiteral("Q\\d{6}");
    const QJsonObject asked = runScenario(scenario(R"({"steps": ["testAll"], "technician": [
        {"caption": "Unit serial", "type": "12"}, {"caption": "Unit serial", "type": "Q123456"}]})",
                                                   file),
                                          settings);
    const QJsonArray prompts = asked.value(QStringLiteral("prompts")).toArray();
    ASSERT_GE(prompts.size(), 2);
    EXPECT_EQ(prompts[0][QStringLiteral("text")].toString(), QStringLiteral("Unit serial"));
    EXPECT_EQ(prompts[1][QStringLiteral("text")].toString(),
              QStringLiteral("\"12\" does not match the serial pattern Q\\d{6}.\nUnit serial"));
    EXPECT_EQ(asked.value(QStringLiteral("overall")).toString(), QStringLiteral("PASS"));

    // Cancel: Test All does not start.
    const QJsonObject cancelled = runScenario(
        scenario(R"({"steps": ["testAll"], "technician": [{"caption": "Unit serial", "press": "Cancel"}]})", file),
        settings);
    EXPECT_EQ(cancelled.value(QStringLiteral("overall")).toString(), QStringLiteral("untested"));
    EXPECT_TRUE(cancelled[QStringLiteral("records")][QStringLiteral("runs")].toArray().isEmpty());

    query(file, [&](QSqlDatabase &db) {
        EXPECT_EQ(texts(db, QStringLiteral("SELECT serial FROM runs")), QStringList{QStringLiteral("Q123456")});
        EXPECT_EQ(
            texts(db, QStringLiteral("SELECT typed, answer, run_id IS NULL FROM prompts WHERE kind = 'serial'"
                                     " ORDER BY shown_utc, seq")),
            (QStringList{QStringLiteral("12|OK|0"), QStringLiteral("Q123456|OK|0"), QStringLiteral("NULL|Cancel|1")}));
    });
}

TEST_F(RecordsTest, AbortedTestAllExportsEveryRowToJUnitTheUnreachedOnesSkipped)
{
    // Row 2 gets no data through its counter and stops Test All.
    const QString file = path(QStringLiteral("aborted.sqlite"));
    const QJsonObject report =
        runScenario(scenario(R"({"steps": ["testAll"], "faults": {"noDataWithClock": true}})", file));
    ASSERT_TRUE(report.value(QStringLiteral("abortAll")).toBool());
    QByteArray xmlText;
    query(file, [&](QSqlDatabase &db) {
        const auto detail =
            records::RecordsQuery(db).run(report[QStringLiteral("records")][QStringLiteral("runs")][0].toString());
        ASSERT_TRUE(detail);
        ASSERT_EQ(detail->run.endState, QStringLiteral("aborted"));
        QBuffer out(&xmlText);
        out.open(QIODevice::WriteOnly);
        records::RunExporter exporter(records::ExportFormat::JUnit, out);
        exporter.add(*detail);
        ASSERT_TRUE(exporter.finish());
    });
    QXmlStreamReader xml(xmlText);
    QStringList cases;
    QString suite;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("testsuite"))
            suite = QStringLiteral("%1 tests, %2 failed, %3 skipped")
                        .arg(xml.attributes().value(QLatin1String("tests")))
                        .arg(xml.attributes().value(QLatin1String("failures")))
                        .arg(xml.attributes().value(QLatin1String("skipped")));
        else if (xml.name() == QLatin1String("testcase"))
            cases << xml.attributes().value(QLatin1String("name")).toString();
        else if (xml.name() == QLatin1String("skipped"))
            cases.last() += QStringLiteral(" (skipped)");
    }
    QStringList expected;
    for (const RowEntry &entry : rowRegistry())
        expected << entry.name + (entry.digit > 2 ? QStringLiteral(" (skipped)") : QString());
    EXPECT_EQ(cases, expected);
    EXPECT_EQ(suite, QStringLiteral("%1 tests, 1 failed, %2 skipped").arg(expected.size()).arg(expected.size() - 3));
}

TEST_F(RecordsTest, RequiredRecordsStopTestAllWhileTheFileCannotBeWritten)
{
    const QString file = path(QStringLiteral("junk.sqlite"));
    QFile junk(file);
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write(QByteArray(8192, '\x42'));
    junk.close();
    RecordsSettings settings;
    settings.required = true;
    const QJsonObject report = runScenario(scenario(R"({"steps": ["testAll"]})", file), settings);
    EXPECT_EQ(report.value(QStringLiteral("overall")).toString(), QStringLiteral("untested"));
    const QJsonArray prompts = report.value(QStringLiteral("prompts")).toArray();
    ASSERT_EQ(prompts.size(), 1);
    EXPECT_EQ(prompts[0][QStringLiteral("caption")].toString(), QStringLiteral("Records required"));
    EXPECT_TRUE(prompts[0][QStringLiteral("text")].toString().contains(file));
}

TEST_F(RecordsTest, OptionsOverrideTheSettingsFile)
{
    qputenv("XDG_CONFIG_HOME", path(QStringLiteral("config")).toLocal8Bit());
    QDir().mkpath(path(QStringLiteral("config/Quillon")));
    QFile ini(path(QStringLiteral("config/Quillon/quillon.ini")));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write("[records]\nfile=/srv/a.sqlite\nrequired=true\n[station]\nname=line-2\n[serial]\nask=true\n");
    ini.close();
    QString outText, errText;
    QTextStream out(&outText), err(&errText);
    auto parse = [&](QStringList args, StationOptions &o) {
        args.prepend(QStringLiteral("quillon-sim"));
        return parseStationOptions(args, true, o, out, err);
    };
    StationOptions fromFile, overridden, bad;
    EXPECT_EQ(parse({}, fromFile), -1);
    EXPECT_EQ(fromFile.records.file, QStringLiteral("/srv/a.sqlite"));
    EXPECT_TRUE(fromFile.records.required && fromFile.records.askSerial && fromFile.records.enabled);
    EXPECT_EQ(fromFile.records.station, QStringLiteral("line-2"));
    EXPECT_EQ(parse({QStringLiteral("--no-records"), QStringLiteral("--station"), QStringLiteral("s9"),
                     QStringLiteral("--line-db"), QStringLiteral("postgresql://db/line")},
                    overridden),
              -1);
    EXPECT_FALSE(overridden.records.enabled);
    EXPECT_EQ(overridden.records.station, QStringLiteral("s9"));
    EXPECT_EQ(overridden.records.lineDatabase, QStringLiteral("postgresql://db/line"));
    EXPECT_EQ(parse({QStringLiteral("--serial-pattern"), QStringLiteral("([")}, bad), 2);
    EXPECT_TRUE(errText.contains(QLatin1String("not a valid expression"))) << qPrintable(errText);
    qunsetenv("XDG_CONFIG_HOME");
}

TEST_F(RecordsTest, SettingsMeanWhatTheFileSaysWrittenByHandOrByQSettings)
{
    qputenv("XDG_CONFIG_HOME", path(QStringLiteral("config")).toLocal8Bit());
    QDir().mkpath(path(QStringLiteral("config/Quillon")));
    const QString ini = path(QStringLiteral("config/Quillon/quillon.ini"));
    QString outText, errText;
    QTextStream out(&outText), err(&errText);
    auto fromFile = [&] {
        StationOptions o;
        EXPECT_EQ(parseStationOptions({QStringLiteral("quillon-sim")}, true, o, out, err), -1) << qPrintable(errText);
        return o.records;
    };
    const struct {
        const char *group, *key;
        QString RecordsSettings::*field;
        QString text;
    } cases[] = {
        {"serial", "pattern", &RecordsSettings::serialPattern, QStringLiteral(R"(Q\d{6})")},
        {"serial", "pattern", &RecordsSettings::serialPattern, QStringLiteral(R"(Q\d{2,6}(-[A-Z])?)")},
        {"station", "name", &RecordsSettings::station, QStringLiteral("Line 3, bay 2")},
        {"station", "name", &RecordsSettings::station, QStringLiteral("bay;2 #b")},
        {"station", "name", &RecordsSettings::station, QStringLiteral("@bay \"2\"")},
        {"records", "file", &RecordsSettings::file, QStringLiteral(R"(C:\data\rec.sqlite)")},
        {"records", "lineDatabase", &RecordsSettings::lineDatabase,
         QStringLiteral("postgresql://line@db/q?sslmode=require&application_name=a,b")},
    };
    for (const auto &c : cases) {
        // By hand: the text after '=' as it stands.
        QFile file(ini);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(
            QStringLiteral("[%1]\n%2 = %3\n").arg(QLatin1String(c.group), QLatin1String(c.key), c.text).toUtf8());
        file.close();
        EXPECT_EQ(fromFile().*c.field, c.text) << "by hand: " << qPrintable(c.text);
        // By QSettings, with its own escapes.
        QFile::remove(ini);
        QSettings(ini, QSettings::IniFormat)
            .setValue(QLatin1String(c.group) + QLatin1Char('/') + QLatin1String(c.key), c.text);
        EXPECT_EQ(fromFile().*c.field, c.text) << "by QSettings: " << qPrintable(c.text);
    }

    // The example of the station's settings: a serial that matches is taken at once.
    QFile example(ini);
    ASSERT_TRUE(example.open(QIODevice::WriteOnly | QIODevice::Truncate));
    example.write("[records]\nrequired=true\n[station]\nname=station-3\n[serial]\nask=true\npattern=Q\\d{6}\n");
    example.close();
    const RecordsSettings settings = fromFile();
    EXPECT_TRUE(settings.required && settings.askSerial);
    const QJsonObject asked =
        runScenario(scenario(R"({"steps": ["testAll"], "technician": [{"caption": "Unit serial", "type": "Q123456"}]})",
                             path(QStringLiteral("example.sqlite"))),
                    settings);
    EXPECT_EQ(asked.value(QStringLiteral("overall")).toString(), QStringLiteral("PASS"));
    for (const QJsonValue p : asked[QStringLiteral("prompts")].toArray())
        EXPECT_FALSE(p[QStringLiteral("text")].toString().contains(QLatin1String("does not match")))
            << qPrintable(p[QStringLiteral("text")].toString());
    qunsetenv("XDG_CONFIG_HOME");
}

TEST_F(RecordsTest, MarginalSettingChangesWhatIsRecordedNeverWhatIsShown)
{
    qputenv("XDG_CONFIG_HOME", path(QStringLiteral("config")).toLocal8Bit());
    QDir().mkpath(path(QStringLiteral("config/Quillon")));
    QString outText, errText;
    QTextStream out(&outText), err(&errText);
    auto withSetting = [&](const char *text) {
        QFile ini(path(QStringLiteral("config/Quillon/quillon.ini")));
        EXPECT_TRUE(ini.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ini.write(QByteArray("[records]\nmarginalPercent=") + text + '\n');
        ini.close();
        StationOptions o;
        EXPECT_EQ(parseStationOptions({QStringLiteral("quillon-sim")}, true, o, out, err), -1) << qPrintable(errText);
        return o.records;
    };
    // What the file says, and what a value no margin can be reads as.
    for (const auto &[text, percent] :
         {std::pair{"0", 0.0}, {"50", 50.0}, {"2.5", 2.5}, {"ten", 10.0}, {"-5", 10.0}, {"nan", 10.0}, {"80", 50.0}})
        EXPECT_EQ(withSetting(text).marginalPercent, percent) << text;

    struct Outcome {
        QJsonObject report;
        int recorded = 0, marginal = 0;
    };
    auto runWith = [&](const char *text) {
        const QString file = path(QStringLiteral("margin-%1.sqlite").arg(QLatin1String(text)));
        Outcome o;
        o.report = runScenario(scenario(R"({"steps": ["testAll"]})", file), withSetting(text));
        query(file, [&](QSqlDatabase &db) {
            const auto counts = rows(db, QStringLiteral("SELECT count(*), coalesce(sum(outcome = 'marginal'), 0)"
                                                        " FROM measurements"));
            o.recorded = counts.value(0).value(0).toInt();
            o.marginal = counts.value(0).value(1).toInt();
        });
        int listedMarginal = 0;
        const QJsonArray listed = o.report.value(QStringLiteral("measurements")).toArray();
        for (const QJsonValue m : listed)
            listedMarginal += m[QStringLiteral("outcome")].toString() == QLatin1String("marginal");
        // The report lists what the file holds.
        EXPECT_EQ(listed.size(), o.recorded) << text;
        EXPECT_EQ(listedMarginal, o.marginal) << text;
        return o;
    };
    const Outcome off = runWith("0"), wide = runWith("50");
    EXPECT_GT(off.recorded, 100);
    EXPECT_EQ(off.recorded, wide.recorded);
    EXPECT_EQ(off.marginal, 0);
    EXPECT_GT(wide.marginal, off.marginal);
    EXPECT_EQ(off.report.value(QStringLiteral("overall")), wide.report.value(QStringLiteral("overall")));
    EXPECT_EQ(off.report.value(QStringLiteral("rows")), wide.report.value(QStringLiteral("rows")));
    qunsetenv("XDG_CONFIG_HOME");
}

TEST_F(RecordsTest, OneStationStaysOneStationAcrossProductsAndOlderKeys)
{
    const QString file = path(QStringLiteral("products.sqlite"));
    const auto testAll = [&](const char *product) {
        const QString json = QStringLiteral(R"({"steps": ["testAll"], "board": {"productId": "%1"}})").arg(product);
        const QJsonObject report = runScenario(scenario(json.toUtf8().constData(), file));
        ASSERT_EQ(report[QStringLiteral("records")][QStringLiteral("runs")].toArray().size(), 1);
    };
    testAll("0x8140");
    testAll("0x8240");
    // A file an older program left: its key also named the product, so the same station
    // has a second row, whose runs got their own numbers.
    {
        QSqlDatabase db;
        QString reason;
        ASSERT_TRUE(records::openStoreFile(file, QStringLiteral("older"), true, db, &reason)) << qPrintable(reason);
        QSqlQuery q(db);
        for (const char *sql :
             {"INSERT INTO stations SELECT 'older-key', name, host, program, version, 'another product',"
              " simulated, created_utc FROM stations",
              "INSERT INTO runs (id, station_id, seq, kind, started_utc, simulated) VALUES"
              " ('older-run', 'older-key', 7, 'test-all', '2026-01-01T00:00:00.000Z', 1)",
              "INSERT INTO run_ends VALUES ('older-run', '2026-01-01T00:01:00.000Z', 'completed', 'PASS')"})
            ASSERT_TRUE(q.exec(QLatin1String(sql))) << qPrintable(q.lastError().text());
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("older"));
    testAll("0x804A");
    query(file, [&](QSqlDatabase &db) {
        EXPECT_EQ(texts(db, QStringLiteral("SELECT count(*) FROM stations")), QStringList{QStringLiteral("2")});
        // Numbered on after the station's highest number, whichever row it is under.
        EXPECT_EQ(texts(db, QStringLiteral("SELECT seq FROM runs ORDER BY rowid")),
                  (QStringList{QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("7"), QStringLiteral("8")}));
        // The plots draw one station.
        records::RunDigest digest;
        QString reason;
        ASSERT_TRUE(digest.update(db, QString(), &reason)) << qPrintable(reason);
        ASSERT_EQ(digest.runs().size(), 4u);
        for (const auto &run : digest.runs())
            EXPECT_EQ(run.station, digest.runs().front().station) << qPrintable(run.id);
    });
}

TEST_F(RecordsTest, TestAllClickedDuringARowsOwnTestNestsAndBothRunsKeepTheirRows)
{
    const QString file = path(QStringLiteral("nested.sqlite"));
    {
        records::RecordWriter::Options options;
        options.path = file;
        records::Recorder recorder(options, {QStringLiteral("s"), QStringLiteral("h"), QStringLiteral("quillon-sim"),
                                             QStringLiteral("0"), QStringLiteral("sim"), true});
        auto row = [](int digit) {
            RowOutcome o;
            o.digit = digit;
            o.name = QStringLiteral("row %1").arg(digit);
            o.status = TestStatus::Pass;
            o.label = QStringLiteral("PASS");
            return o;
        };
        recorder.rowStarting(3);
        ASSERT_TRUE(recorder.testAllStarting());
        recorder.rowStarting(0);
        recorder.rowEnded(row(0), false);
        recorder.testAllEnded(true, QStringLiteral("PASS"));
        recorder.rowEnded(row(3), false);
        recorder.finish();
    }
    query(file, [&](QSqlDatabase &db) {
        EXPECT_EQ(texts(db, QStringLiteral("SELECT r.kind, group_concat(x.digit), e.end_state, e.overall FROM runs r"
                                           " JOIN run_ends e ON e.run_id = r.id JOIN row_results x ON x.run_id = r.id"
                                           " GROUP BY r.id ORDER BY r.kind")),
                  (QStringList{QStringLiteral("row|3|completed|PASS"), QStringLiteral("test-all|0|completed|PASS")}));
    });
}

TEST_F(RecordsTest, InstancesOfOneStationTakingTurnsNeverEndEachOthersLiveRuns)
{
    // Four instances of one station into one file, each starting while the one before
    // is still testing and the one before that has closed; three rounds into the file.
    const QString file = path(QStringLiteral("turns.sqlite"));
    records::RecordWriter::Options options;
    options.path = file;
    const records::StationIdentity station{QStringLiteral("bay-1"),       QStringLiteral("h"),
                                           QStringLiteral("quillon-sim"), QStringLiteral("0"),
                                           QStringLiteral("sim"),         true};
    auto written = [](records::Recorder &r) {
        for (int i = 0; i < 500 && r.writer().pendingCount() > 0; ++i)
            QThread::msleep(10);
    };
    QStringList expected;
    for (int round = 0; round < 3; ++round) {
        std::unique_ptr<records::Recorder> instances[4];
        for (int i = 0; i < 4; ++i) {
            instances[i] = std::make_unique<records::Recorder>(options, station);
            ASSERT_TRUE(instances[i]->writer().waitOpened(10'000));
            ASSERT_TRUE(instances[i]->testAllStarting());
            written(*instances[i]);
            if (i >= 1) {
                const QString overall = i % 2 ? QStringLiteral("FAIL") : QStringLiteral("PASS");
                instances[i - 1]->testAllEnded(true, overall);
                instances[i - 1]->finish();
                expected << QStringLiteral("completed|") + overall;
            }
        }
        instances[3]->testAllEnded(true, QStringLiteral("FAIL"));
        instances[3]->finish();
        expected << QStringLiteral("completed|FAIL");
    }
    query(file, [&](QSqlDatabase &db) {
        EXPECT_EQ(texts(db, QStringLiteral("SELECT e.end_state, e.overall FROM runs r JOIN run_ends e"
                                           " ON e.run_id = r.id ORDER BY r.started_utc, r.seq"))
                      .join(QLatin1Char(' '))
                      .toStdString(),
                  expected.join(QLatin1Char(' ')).toStdString());
    });
}

TEST_F(RecordsTest, TwoStationsRecordIntoOneFileAtOnce)
{
    const QString file = path(QStringLiteral("line.sqlite"));
    const QString run = path(QStringLiteral("run.json"));
    QFile f(run);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QStringLiteral(R"({"steps": ["testAll", {"test": "0"}, "testAll"], "records": "%1"})").arg(file).toUtf8());
    f.close();
    // Two stations, and a second instance of the first (it must not end the first's runs).
    QProcess a, b, c;
    QList<QProcess *> stations{&a, &b, &c};
    const auto report = [&](int i) { return path(QStringLiteral("report%1.json").arg(i)); };
    for (int i = 0; i < stations.size(); ++i)
        stations[i]->start(QStringLiteral(QUILLON_SIM_BINARY),
                           {QStringLiteral("--scenario"), run, QStringLiteral("--station"),
                            QStringLiteral("line-%1").arg(i % 2), QStringLiteral("--report"), report(i)});
    QStringList reported;
    for (int i = 0; i < stations.size(); ++i) {
        ASSERT_TRUE(stations[i]->waitForFinished(120'000));
        EXPECT_EQ(stations[i]->exitCode(), 0) << stations[i]->readAllStandardError().constData();
        QFile written(report(i));
        ASSERT_TRUE(written.open(QIODevice::ReadOnly));
        const QJsonObject records = QJsonDocument::fromJson(written.readAll())[QStringLiteral("records")].toObject();
        EXPECT_FALSE(records.contains(QStringLiteral("warning")));
        for (const QJsonValue id : records[QStringLiteral("runs")].toArray())
            reported << id.toString();
    }
    ASSERT_EQ(reported.size(), 9);
    query(file, [&](QSqlDatabase &db) {
        EXPECT_EQ(texts(db, QStringLiteral("SELECT e.end_state, count(*) FROM run_ends e GROUP BY e.end_state"))
                      .join(QLatin1Char(' '))
                      .toStdString(),
                  "completed|9");
        QStringList stored = texts(db, QStringLiteral("SELECT r.id FROM runs r JOIN run_ends e ON e.run_id = r.id"));
        stored.sort();
        reported.sort();
        EXPECT_EQ(stored, reported);
        EXPECT_EQ(
            texts(db, QStringLiteral(
                          "SELECT s.name, count(DISTINCT r.seq), min(r.seq), max(r.seq) FROM runs r JOIN stations s"
                          " ON s.id = r.station_id GROUP BY s.name ORDER BY s.name")),
            (QStringList{QStringLiteral("line-0|6|1|6"), QStringLiteral("line-1|3|1|3")}));
    });
}
