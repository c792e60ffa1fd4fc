// Who tested and with which meter: the operator prompt, the meter check before the rows
// that read the meter, and the recall of the runs made with one instrument.
#include "app/sim/SimScenarioRunner.h"
#include "records/Instruments.h"
#include "records/RecordStore.h"
#include "records/RecordsQuery.h"
#include "records/Schema.h"
#include "sim/Scenario.h"

#include <QDate>
#include <QJsonArray>
#include <QJsonObject>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace quillon;
using records::RecordsSettings;

namespace {

sim::Scenario scenario(const QByteArray &json, const QString &file)
{
    sim::Scenario s;
    const auto error = sim::readScenario(json, s);
    EXPECT_FALSE(error) << qPrintable(error ? error->text() : QString());
    s.records = file;
    return s;
}

QString day(int fromToday)
{
    return QDate::currentDate().addDays(fromToday).toString(Qt::ISODate);
}

class TraceabilityTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        qputenv("XDG_DATA_HOME", m_dir.filePath(QStringLiteral("data")).toLocal8Bit());
        m_file = m_dir.filePath(QStringLiteral("records.sqlite"));
    }
    void TearDown() override { qunsetenv("XDG_DATA_HOME"); }

    // Register entries in the file before any station opens it.
    void enter(const std::vector<records::Instrument> &entries)
    {
        {
            records::RecordStore store(QStringLiteral("register"));
            QString reason;
            ASSERT_TRUE(store.open(m_file, &reason)) << qPrintable(reason);
            for (const records::Instrument &i : entries)
                ASSERT_TRUE(records::addInstrumentEntry(store.database(), i, &reason)) << qPrintable(reason);
        }
        QSqlDatabase::removeDatabase(QStringLiteral("register"));
    }

    template <typename Fn>
    void read(Fn fn)
    {
        {
            QSqlDatabase db;
            QString reason;
            ASSERT_TRUE(records::openStoreFile(m_file, QStringLiteral("reader"), false, db, &reason))
                << qPrintable(reason);
            fn(records::RecordsQuery(db));
        }
        QSqlDatabase::removeDatabase(QStringLiteral("reader"));
    }

    static records::Instrument meter(const QString &asset, const QString &due, bool retired = false)
    {
        records::Instrument i;
        i.assetId = asset;
        i.kind = QStringLiteral("meter");
        i.make = QStringLiteral("Acme");
        i.model = QStringLiteral("DM-5");
        i.serial = QStringLiteral("S-") + asset;
        i.calibratedOn = day(-300);
        i.dueOn = due;
        i.certificate = QStringLiteral("C-") + asset;
        i.retired = retired;
        i.changedBy = QStringLiteral("test");
        return i;
    }

    QTemporaryDir m_dir;
    QString m_file;
};

QJsonObject rowOf(const QJsonObject &report, const char *digit)
{
    for (const auto &row : report.value(QStringLiteral("rows")).toArray())
        if (row[QStringLiteral("row")].toString() == QLatin1String(digit))
            return row.toObject();
    return {};
}

bool wroteEeprom(const QJsonObject &report)
{
    for (const auto &call : report.value(QStringLiteral("calls")).toArray())
        if (call[QStringLiteral("function")].toString() == QLatin1String("GenericVendorWrite")
            && call[QStringLiteral("arguments")].toString().contains(QLatin1String(", 0xA2, ")))
            return true;
    return false;
}

} // namespace

// An overdue, unknown or retired meter: the rows that read it fail with their memo line
// and write nothing; the others run. Not enforced: they run, the run records the warning.
TEST_F(TraceabilityTest, UnusableMeterStopsTheRowsThatReadIt)
{
    struct Case {
        const char *asset;
        bool enforce;
        const char *status;
        QString line; // the refused rows' memo line; empty: they run
    };
    const QString due = day(-10);
    const Case cases[] = {
        {"M-OLD", true, "overdue", QStringLiteral("Not run: meter M-OLD was due for calibration on %1.").arg(due)},
        {"M-GONE", true, "retired", QStringLiteral("Not run: meter M-GONE is retired from the instrument register.")},
        {"M-NONE", true, "unknown", QStringLiteral("Not run: meter M-NONE is not in the instrument register.")},
        {"M-OLD", false, "overdue", QString()},
        {"M-SOON", true, "due-soon", QString()},
    };
    enter({meter(QStringLiteral("M-OLD"), due), meter(QStringLiteral("M-GONE"), day(100)),
           meter(QStringLiteral("M-GONE"), day(100), true), meter(QStringLiteral("M-SOON"), day(5))});
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.asset) + (c.enforce ? " enforced" : " not enforced"));
        RecordsSettings settings;
        settings.trace.meter = QLatin1String(c.asset);
        settings.trace.enforce = c.enforce;
        const QJsonObject report = runScenario(scenario(R"({"steps": ["testAll"]})", m_file), settings);
        for (const char *digit : {"3", "8", "9"}) {
            const QJsonObject row = rowOf(report, digit);
            if (c.line.isEmpty()) {
                EXPECT_EQ(row[QStringLiteral("label")].toString(), QStringLiteral("PASS")) << digit;
            } else {
                EXPECT_EQ(row[QStringLiteral("label")].toString(), QStringLiteral("FAIL")) << digit;
                EXPECT_EQ(row[QStringLiteral("memo")].toArray(), QJsonArray{c.line}) << digit;
            }
        }
        EXPECT_EQ(rowOf(report, "4")[QStringLiteral("label")].toString(), QStringLiteral("PASS"));
        EXPECT_EQ(rowOf(report, "A")[QStringLiteral("label")].toString(), QStringLiteral("PASS"));
        EXPECT_EQ(wroteEeprom(report), c.line.isEmpty());
        const QString runId = report[QStringLiteral("records")][QStringLiteral("runs")][0].toString();
        read([&](const records::RecordsQuery &q) {
            const auto run = q.run(runId);
            ASSERT_TRUE(run);
            ASSERT_EQ(run->instruments.size(), 1u);
            EXPECT_EQ(run->instruments[0].assetId, QLatin1String(c.asset));
            EXPECT_EQ(run->instruments[0].status, QLatin1String(c.status));
            EXPECT_EQ(run->instruments[0].note.isEmpty(), c.enforce);
            // One box per run for an unusable meter, one reminder for a meter due soon.
            int boxes = 0;
            for (const auto &p : run->prompts)
                boxes += p.kind == QLatin1String("message") && p.caption.startsWith(QLatin1String("Meter"));
            EXPECT_EQ(boxes, 1);
        });
    }
}

// The operator: asked once for the session's runs, checked against the pattern, Cancel
// starts nothing; every run carries the id typed.
TEST_F(TraceabilityTest, OperatorIsAskedCheckedAndOnEveryRun)
{
    RecordsSettings settings;
    settings.trace.askOperator = true;
    settings.trace.operatorPattern = QStringLiteral("E\\d{4}");
    const QJsonObject report = runScenario(scenario(R"({"steps": ["testAll", "testAll", {"test": "0"}],
        "technician": [{"caption": "Operator", "type": "bob"}, {"caption": "Operator", "type": "E0042"}]})",
                                                    m_file),
                                           settings);
    const QJsonArray prompts = report.value(QStringLiteral("prompts")).toArray();
    ASSERT_GE(prompts.size(), 2);
    EXPECT_EQ(prompts[1][QStringLiteral("text")].toString(),
              QStringLiteral("\"bob\" does not match the operator id pattern E\\d{4}.\nOperator"));
    EXPECT_TRUE(report.value(QStringLiteral("unusedOverrides")).toArray().isEmpty());
    const QJsonArray runs = report[QStringLiteral("records")][QStringLiteral("runs")].toArray();
    ASSERT_EQ(runs.size(), 3);

    const QJsonObject cancelled = runScenario(
        scenario(R"({"steps": ["testAll"], "technician": [{"caption": "Operator", "press": "Cancel"}]})", m_file),
        settings);
    EXPECT_EQ(cancelled.value(QStringLiteral("overall")).toString(), QStringLiteral("untested"));
    EXPECT_TRUE(cancelled[QStringLiteral("records")][QStringLiteral("runs")].toArray().isEmpty());

    read([&](const records::RecordsQuery &q) {
        records::RunFilter filter;
        filter.operatorId = QStringLiteral("E0042");
        EXPECT_EQ(q.count(filter), 3);
        for (const auto &run : runs)
            EXPECT_EQ(q.run(run.toString())->run.operatorId, QStringLiteral("E0042"));
    });
}

// Recall: three meters, one scanned in mid-day; each meter's runs are exactly those it
// was used in.
TEST_F(TraceabilityTest, RecallFindsExactlyTheRunsOfEachMeter)
{
    enter({meter(QStringLiteral("M-1"), day(200)), meter(QStringLiteral("M-2"), day(200)),
           meter(QStringLiteral("M-3"), day(200))});
    std::map<QString, QStringList> expected;
    const auto runWith = [&](const QString &asset, bool scanned) {
        RecordsSettings settings;
        settings.trace.meter = scanned ? QStringLiteral("M-1") : asset;
        settings.trace.askMeter = scanned;
        const QByteArray json =
            scanned ? QByteArray(R"({"steps": ["testAll"], "technician": [{"caption": "Meter", "type": ")")
                          + asset.toLatin1() + "\"}]}"
                    : QByteArray(R"({"steps": ["testAll"]})");
        const QJsonObject report = runScenario(scenario(json, m_file), settings);
        EXPECT_EQ(report.value(QStringLiteral("overall")).toString(), QStringLiteral("PASS"));
        expected[asset] << report[QStringLiteral("records")][QStringLiteral("runs")][0].toString();
    };
    runWith(QStringLiteral("M-1"), false);
    runWith(QStringLiteral("M-2"), false);
    runWith(QStringLiteral("M-3"), true);
    runWith(QStringLiteral("M-1"), false);
    read([&](const records::RecordsQuery &q) {
        for (const auto &[asset, ids] : expected) {
            records::RunFilter filter;
            filter.instrument = asset;
            QStringList found;
            for (const auto &run : q.list(filter))
                found.prepend(run.id);
            EXPECT_EQ(found, ids) << qPrintable(asset);
        }
    });
}
