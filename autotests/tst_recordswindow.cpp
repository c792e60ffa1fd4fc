// The records window: the lazily fetched runs model, the run page against what the
// station recorded, the plots' outliers opening their run, the message for a store it
// cannot read; and once as a real window under Xvfb at QT_SCALE_FACTOR=2.
#include "SyntheticStore.h"
#include "support/SqlRows.h"
#include "app/records/Certificate.h"
#include "app/records/RecordsPlots.h"
#include "app/records/RecordsWindow.h"
#include "app/records/RunPage.h"
#include "app/records/RunsModel.h"
#include "app/station/StatusDisplay.h"
#include "app/records/RecordsCli.h"
#include "records/RecordsQuery.h"
#include "records/RunDigest.h"
#include "records/line/LineUploader.h"
#include "support/PgServer.h"
#include "records/Schema.h"

#include <QBuffer>
#include <QComboBox>
#include <QTextStream>
#include <QUuid>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QDir>
#include <QFileInfo>
#include <QThreadPool>
#include <QGuiApplication>
#include <QLineEdit>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTableView>
#include <QTableWidget>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QElapsedTimer>
#include <QWindow>

#include <gtest/gtest.h>

#include <bit>

namespace quillon::testing {
namespace {

constexpr char ChildVariable[] = "QUILLON_RECORDS_XVFB_CHILD";

// Serves events until the window's background work is done (false after 30 s).
bool waitIdle(const records::RecordsWindow &window)
{
    QElapsedTimer waited;
    waited.start();
    while (window.isBusy() && waited.elapsed() < 30000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return !window.isBusy();
}

class RecordsWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QStandardPaths::setTestModeEnabled(true); // settings and caches of a test
        ASSERT_TRUE(dir.isValid());
        path = dir.filePath(QStringLiteral("records.sqlite"));
        SyntheticStore store(path, {QStringLiteral("bench-1"), QStringLiteral("bench-2")});
        ASSERT_TRUE(store.isOpen()) << store.error().toStdString();
        store.addMany(450, 11);
        SyntheticRun bad;
        bad.startedUtc = QStringLiteral("2026-06-01T10:00:00.000Z");
        bad.serial = QStringLiteral("QN-BAD");
        bad.failingRow = 6;
        bad.arefWord = 61000; // far outside the usual spread
        failing = store.add(bad);
    }

    QTemporaryDir dir;
    QString path;
    QString failing;
};

TEST_F(RecordsWindowTest, ModelFetchesPagesSortsAndFilters)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("model"));
    db.setDatabaseName(path);
    ASSERT_TRUE(db.open());
    {
        records::RecordsQuery query(db);
        records::RunsModel model;
        model.setQuery(&query);
        EXPECT_EQ(model.rowCount(), records::RunsModel::PageSize);
        EXPECT_EQ(model.data(model.index(0, records::RunsModel::Serial)).toString(), QStringLiteral("QN-BAD"));
        while (model.canFetchMore({}))
            model.fetchMore({});
        EXPECT_EQ(model.rowCount(), 451);
        // Pages joined in order: newest first, no run twice.
        QSet<QString> ids;
        for (int i = 0; i < model.rowCount(); ++i) {
            ids.insert(model.runAt(i)->id);
            if (i > 0) {
                EXPECT_GE(model.runAt(i - 1)->startedUtc, model.runAt(i)->startedUtc);
            }
        }
        EXPECT_EQ(ids.size(), 451);

        model.sort(records::RunsModel::Serial, Qt::AscendingOrder);
        while (model.canFetchMore({}))
            model.fetchMore({});
        for (int i = 1; i < model.rowCount(); ++i) {
            EXPECT_LE(model.runAt(i - 1)->serial, model.runAt(i)->serial);
        }

        records::RunFilter fails;
        fails.verdict = QStringLiteral("fail");
        model.setFilter(fails);
        EXPECT_GT(model.rowCount(), 0);
        EXPECT_EQ(model.rowCount(), query.count(fails));
        for (int i = 0; i < model.rowCount(); ++i) {
            EXPECT_EQ(model.runAt(i)->verdict, QStringLiteral("FAIL"));
        }
    }
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("model"));
}

TEST_F(RecordsWindowTest, RunPageAndPlotsShowWhatTheStationRecorded)
{
    records::RecordsWindow window(path);
    ASSERT_TRUE(window.isOpen()) << window.problem().toStdString();
    window.serialField()->setText(QStringLiteral("QN-BAD"));
    window.applyFilter();
    ASSERT_EQ(window.model()->rowCount(), 1);
    // The first run is opened, its failing row selected: the memo lines exactly.
    records::RunPage *page = window.runPage();
    ASSERT_TRUE(page->run());
    EXPECT_EQ(page->run()->run.id, failing);
    EXPECT_EQ(page->memoLines(), SyntheticStore::memoOf(6, true));
    auto *rows = page->findChild<QTableWidget *>(QStringLiteral("RunRows"));
    ASSERT_TRUE(rows);
    EXPECT_EQ(rows->item(6, 2)->text(), QStringLiteral("FAIL"));
    EXPECT_EQ(rows->item(6, 2)->background().color(), statusBackground(TestStatus::Fail));
    EXPECT_EQ(rows->item(0, 2)->background().color(), statusBackground(TestStatus::Pass));

    // The plots follow the filters; the ARef outlier is marked and a click opens it.
    window.serialField()->clear();
    window.applyFilter();
    window.tabs()->setCurrentIndex(1);
    ASSERT_TRUE(waitIdle(window));
    records::RecordsPlots *plots = window.plots();
    ASSERT_EQ(plots->quantityBox()->currentIndex(), 0);
    QStringList opened;
    for (const qint64 rowid : plots->outliers()) {
        window.tabs()->setCurrentIndex(1);
        window.runPage()->showRun(std::nullopt);
        emit plots->runClicked(rowid);
        EXPECT_EQ(window.tabs()->currentIndex(), 0);
        ASSERT_TRUE(page->run());
        opened << page->run()->run.id;
    }
    EXPECT_TRUE(opened.contains(failing));
    EXPECT_LE(opened.size(), 4); // a few of 451 runs, not the spread itself
}

// The failing row's measurements under its memo, as the station judged them: each
// comparison's limits read as such, failed ones bold with the station's FAIL colours,
// a marginal one with its word on amber; the outcome filter picks them; a row that
// measured nothing and a run without measurements show none.
TEST_F(RecordsWindowTest, RunPageTablesARowsMeasurementsWithTheirMarks)
{
    ASSERT_TRUE(quillon::testing::execOnFile(
        path, QStringLiteral(
                  "INSERT INTO measurements VALUES "
                  "('m1', '%1', 1, 6, 'ladder.ch03', 2.49893, 'number', 'V', 'within', 2, 0.3, 1.7, 2.3, 'fail'),"
                  "('m2', '%1', 2, 6, 'ladder.ch04', 2.27, 'number', 'V', 'within', 2, 0.3, 1.7, 2.3, 'marginal'),"
                  "('m3', '%1', 3, 6, 'aref.word', 65077, 'integer', 'counts', 'range', NULL, NULL, 1, 65534, 'pass'),"
                  "('m4', '%1', 4, 6, 'dio.pullup', 0, 'bool', 'verdict', 'equals', 1, NULL, NULL, NULL, 'fail'),"
                  "('m5', '%1', 5, 6, 'left', 32, 'integer', 'bytes', 'at-least', NULL, NULL, 1, NULL, 'pass'),"
                  "('m6', '%1', 6, 6, 'dac0.gain', NULL, 'number', '', 'finite', NULL, NULL, NULL, NULL, 'fail'),"
                  "('m7', '%1', 7, 6, 'aref.typed', 9.93, 'number', 'V', 'none', NULL, NULL, NULL, NULL, 'not-judged')")
                  .arg(failing)));
    records::RecordsWindow window(path);
    ASSERT_TRUE(window.isOpen()) << window.problem().toStdString();
    window.serialField()->setText(QStringLiteral("QN-BAD"));
    window.applyFilter();
    records::RunPage *page = window.runPage();
    ASSERT_TRUE(page->run());
    auto *table = page->findChild<QTableView *>(QStringLiteral("RunMeasurements"));
    auto *outcome = page->findChild<QComboBox *>(QStringLiteral("RunMeasurementOutcome"));
    ASSERT_TRUE(table && outcome);
    EXPECT_TRUE(table->isVisibleTo(page));
    const QAbstractItemModel *shown = table->model();
    const QStringList expected[] = {
        {QStringLiteral("1"), QStringLiteral("ladder.ch03"), QStringLiteral("2.49893 V"),
         QStringLiteral("2 V \u00B1 0.3 (1.7 to 2.3)"), QStringLiteral("FAIL")},
        {QStringLiteral("2"), QStringLiteral("ladder.ch04"), QStringLiteral("2.27 V"),
         QStringLiteral("2 V \u00B1 0.3 (1.7 to 2.3)"), QStringLiteral("marginal")},
        {QStringLiteral("3"), QStringLiteral("aref.word"), QStringLiteral("65077 counts"),
         QStringLiteral("1 to 65534 counts"), QStringLiteral("pass")},
        {QStringLiteral("4"), QStringLiteral("dio.pullup"), QStringLiteral("no"), QStringLiteral("= yes"),
         QStringLiteral("FAIL")},
        {QStringLiteral("5"), QStringLiteral("left"), QStringLiteral("32 bytes"), QStringLiteral("\u2265 1 bytes"),
         QStringLiteral("pass")},
        {QStringLiteral("6"), QStringLiteral("dac0.gain"), QStringLiteral("NaN"), QStringLiteral("finite"),
         QStringLiteral("FAIL")},
        {QStringLiteral("7"), QStringLiteral("aref.typed"), QStringLiteral("9.93 V"), QString(),
         QStringLiteral("not judged")},
    };
    ASSERT_EQ(shown->rowCount(), 7);
    for (int r = 0; r < 7; ++r) {
        QStringList cells;
        for (int c = 0; c < shown->columnCount(); ++c)
            cells << shown->index(r, c).data().toString();
        EXPECT_EQ(cells, expected[r]) << r;
        const bool failed = expected[r].last() == QLatin1String("FAIL");
        EXPECT_EQ(shown->index(r, 1).data(Qt::FontRole).value<QFont>().bold(), failed) << r;
        const QVariant mark = shown->index(r, 4).data(Qt::BackgroundRole);
        EXPECT_EQ(mark.isValid(), failed || r == 1) << r;
        if (failed) {
            EXPECT_EQ(mark.value<QColor>(), statusBackground(TestStatus::Fail));
        }
    }
    EXPECT_NE(shown->index(1, 4).data(Qt::BackgroundRole).value<QColor>(), statusBackground(TestStatus::Pass));
    outcome->setCurrentIndex(outcome->findText(QStringLiteral("Failed or marginal")));
    ASSERT_EQ(shown->rowCount(), 4);
    EXPECT_EQ(shown->index(3, 1).data().toString(), QStringLiteral("dac0.gain"));
    outcome->setCurrentIndex(0);

    page->selectRow(0);
    EXPECT_EQ(shown->rowCount(), 0);
    records::RunDetail older = *page->run();
    older.measurements.clear();
    page->showRun(older);
    EXPECT_FALSE(table->isVisibleTo(page));
}

TEST_F(RecordsWindowTest, StoresItCannotReadGetAMessageInTheWindow)
{
    const QString missing = dir.filePath(QStringLiteral("missing.sqlite"));
    const QString newer = dir.filePath(QStringLiteral("newer.sqlite"));
    {
        SyntheticStore store(newer, {QStringLiteral("bench-1")}, records::SchemaVersion + 1);
    }
    const QString text = dir.filePath(QStringLiteral("notes.sqlite"));
    {
        QFile f(text);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(2048, 'q'));
    }
    const struct {
        QString source;
        QString says;
    } cases[] = {
        {missing, QStringLiteral("There is no records store at")},
        {newer, QStringLiteral("has records schema version %1").arg(records::SchemaVersion + 1)},
        {text, QStringLiteral("cannot be read as a records store")},
        // Nothing listens on port 9 of this machine: the server does not answer.
        {QStringLiteral("postgresql://nobody@127.0.0.1:9/records?connect_timeout=2"),
         QStringLiteral("The line database cannot be read")},
    };
    records::RecordsWindow window(path);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.source.toStdString());
        window.openSource(c.source);
        EXPECT_FALSE(window.isOpen());
        EXPECT_TRUE(window.problem().contains(c.says)) << window.problem().toStdString();
        EXPECT_EQ(window.model()->rowCount(), 0);
        window.refresh(); // tries again, still no crash
    }
    EXPECT_FALSE(QFileInfo::exists(missing));
    window.openSource(path);
    EXPECT_TRUE(window.isOpen());
    EXPECT_TRUE(window.problem().isEmpty());
}

// A scripted Test All with a fault, recorded by quillon-sim, read back: every row's
// memo lines on the run page exactly as the report says the station showed them, and
// the certificate holding the verdicts and the constants the board's EEPROM received.
TEST_F(RecordsWindowTest, ScriptedTestAllWithAFaultReadsBackAsShown)
{
    const QString store = dir.filePath(QStringLiteral("station.sqlite"));
    const QString scenario = dir.filePath(QStringLiteral("fault.json"));
    const QString reportFile = dir.filePath(QStringLiteral("report.json"));
    {
        QFile f(scenario);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(
            QJsonDocument(QJsonObject{{QStringLiteral("faults"), QJsonObject{{QStringLiteral("adcOffsetChannel"), 3},
                                                                             {QStringLiteral("adcOffsetVolts"), 0.5}}},
                                      {QStringLiteral("records"), store},
                                      {QStringLiteral("steps"), QJsonArray{QStringLiteral("testAll")}}})
                .toJson());
    }
    QProcess sim;
    sim.start(QStringLiteral(QUILLON_SIM_BINARY),
              {QStringLiteral("--scenario"), scenario, QStringLiteral("--report"), reportFile});
    ASSERT_TRUE(sim.waitForFinished(60000));
    ASSERT_EQ(sim.exitCode(), 0) << sim.readAllStandardError().toStdString();
    QFile reportIn(reportFile);
    ASSERT_TRUE(reportIn.open(QIODevice::ReadOnly));
    const QJsonObject report = QJsonDocument::fromJson(reportIn.readAll()).object();
    const QJsonArray runs = report.value(QLatin1String("records")).toObject().value(QLatin1String("runs")).toArray();
    ASSERT_EQ(runs.size(), 1);
    const QString id = runs.at(0).toString();

    records::RecordsWindow window(store);
    ASSERT_TRUE(window.isOpen()) << window.problem().toStdString();
    window.openRun(id);
    records::RunPage *page = window.runPage();
    ASSERT_TRUE(page->run());
    EXPECT_EQ(page->run()->run.overall, report.value(QLatin1String("overall")).toString());
    const QJsonArray rows = report.value(QLatin1String("rows")).toArray();
    ASSERT_EQ(page->run()->rows.size(), size_t(rows.size()));
    QStringList verdicts;
    for (const auto &value : rows) {
        const QJsonObject row = value.toObject();
        const int digit = row.value(QLatin1String("row")).toString().toInt(nullptr, 16);
        page->selectRow(digit);
        QStringList shown;
        for (const auto &line : row.value(QLatin1String("memo")).toArray())
            shown << line.toString();
        EXPECT_EQ(page->memoLines(), shown.isEmpty() ? QStringList{QString()} : shown) << digit;
        verdicts << row.value(QLatin1String("label")).toString();
    }
    EXPECT_TRUE(verdicts.contains(QStringLiteral("FAIL")));

    // The calibration area as the board holds it at the end: DAC 0's gain (big-endian
    // at 7524) and the ARef word (little-endian at 7666).
    const QByteArray eeprom = QByteArray::fromHex(report.value(QLatin1String("eepromCal")).toString().toLatin1());
    ASSERT_EQ(eeprom.size(), 148);
    const auto *b = reinterpret_cast<const unsigned char *>(eeprom.constData());
    const quint32 gainBits = (quint32(b[4]) << 24) | (quint32(b[5]) << 16) | (quint32(b[6]) << 8) | b[7];
    const float gain = std::bit_cast<float>(gainBits);
    const int aref = b[146] | (b[147] << 8);
    const QString pdf = dir.filePath(QStringLiteral("certificate.pdf"));
    QString error;
    ASSERT_TRUE(records::writeCertificate(*page->run(), {}, pdf, &error)) << error.toStdString();
    QProcess text;
    text.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
    ASSERT_TRUE(text.waitForFinished(30000)) << "pdftotext (poppler-utils) is needed";
    const QString certificate = QString::fromUtf8(text.readAllStandardOutput()).simplified();
    for (int i = 0; i < rows.size(); ++i) {
        const QJsonObject row = rows.at(i).toObject();
        EXPECT_TRUE(certificate.contains(QStringLiteral("%1 %2 %3")
                                             .arg(row.value(QLatin1String("row")).toString(),
                                                  row.value(QLatin1String("name")).toString(),
                                                  row.value(QLatin1String("label")).toString())))
            << i;
    }
    EXPECT_TRUE(certificate.contains(QStringLiteral("ARef word %1").arg(aref))) << certificate.toStdString();
    EXPECT_TRUE(certificate.contains(QStringLiteral("DAC 0 gain %1").arg(double(gain), 0, 'f', 6)));
    EXPECT_TRUE(certificate.contains(QStringLiteral("Result FAIL")));
}

// The same store uploaded to the line database: the window lists the same runs and
// shows the same pages from the server as from the file.
TEST_F(RecordsWindowTest, LineDatabaseShowsWhatTheFileShows)
{
    QUILLON_REQUIRE_PG(pg);
    const QString name = QStringLiteral("window_") + QUuid::createUuid().toString(QUuid::Id128).left(8);
    ASSERT_TRUE(pg->createDatabase(name));
    const QString url = pg->socketUrl(name);
    {
        QByteArray out;
        QBuffer buffer(&out);
        buffer.open(QIODevice::WriteOnly);
        QString err;
        QTextStream errStream(&err);
        ASSERT_EQ(records::runRecordsCommand({QStringLiteral("quillon-records"), QStringLiteral("db"),
                                              QStringLiteral("init"), QStringLiteral("--db"), url},
                                             buffer, errStream),
                  0)
            << err.toStdString();
    }
    for (const QString &station : {QStringLiteral("bench-1"), QStringLiteral("bench-2")}) {
        records::LineUploader::Options o;
        o.url = url;
        o.journalPath = path;
        o.stationName = station;
        records::LineUploader uploader(o);
        uploader.start();
        ASSERT_TRUE(uploader.drain(60000));
    }
    records::RecordsWindow fromFile(path);
    records::RecordsWindow fromLine(url);
    ASSERT_TRUE(fromLine.isOpen()) << fromLine.problem().toStdString();
    ASSERT_EQ(fromLine.model()->rowCount(), fromFile.model()->rowCount());
    for (int i = 0; i < fromFile.model()->rowCount(); ++i)
        ASSERT_EQ(fromLine.model()->runAt(i)->id, fromFile.model()->runAt(i)->id) << i;
    fromLine.openRun(failing);
    ASSERT_TRUE(fromLine.runPage()->run());
    EXPECT_EQ(fromLine.runPage()->memoLines(), SyntheticStore::memoOf(6, true));
    // The plots mark the same outliers, and a click opens the same run.
    fromFile.tabs()->setCurrentIndex(1);
    fromLine.tabs()->setCurrentIndex(1);
    ASSERT_TRUE(waitIdle(fromFile) && waitIdle(fromLine));
    const std::vector<qint64> outliers = fromLine.plots()->outliers();
    ASSERT_EQ(outliers.size(), fromFile.plots()->outliers().size());
    ASSERT_FALSE(outliers.empty());
    QStringList lineOpened, fileOpened;
    for (size_t i = 0; i < outliers.size(); ++i) {
        emit fromLine.plots()->runClicked(outliers[i]);
        emit fromFile.plots()->runClicked(fromFile.plots()->outliers()[i]);
        ASSERT_TRUE(fromLine.runPage()->run() && fromFile.runPage()->run());
        lineOpened << fromLine.runPage()->run()->run.id;
        fileOpened << fromFile.runPage()->run()->run.id;
    }
    lineOpened.sort();
    fileOpened.sort();
    EXPECT_EQ(lineOpened, fileOpened);
    EXPECT_TRUE(lineOpened.contains(failing));
}

// An export runs beside the window: it returns at once, the window says it is busy,
// and the file appears whole at the end; cancelled or with the window gone, no file
// (nor a half one) is left.
TEST_F(RecordsWindowTest, ExportsRunOffTheGuiThreadAndCancelWithoutAFile)
{
    enum class Then { Finish, Cancel, CloseWindow };
    for (const Then then : {Then::Finish, Then::Cancel, Then::CloseWindow}) {
        SCOPED_TRACE(int(then));
        QTemporaryDir out;
        const QString file = out.filePath(QStringLiteral("runs.json"));
        auto window = std::make_unique<records::RecordsWindow>(path);
        ASSERT_TRUE(window->isOpen());
        std::vector<std::pair<bool, QString>> finished;
        QObject::connect(window.get(), &records::RecordsWindow::exportFinished,
                         [&finished](bool ok, const QString &message) { finished.emplace_back(ok, message); });
        window->exportTo(file, records::ExportFormat::Json);
        EXPECT_TRUE(window->isBusy());
        EXPECT_TRUE(finished.empty());
        if (then == Then::Cancel)
            window->cancelWork();
        if (then == Then::CloseWindow) {
            window->close();
            window.reset();
            QThreadPool::globalInstance()->waitForDone(30000);
        } else {
            ASSERT_TRUE(waitIdle(*window));
            ASSERT_EQ(finished.size(), 1);
            EXPECT_EQ(finished[0].first, then == Then::Finish) << finished[0].second.toStdString();
        }
        if (then != Then::Finish) {
            EXPECT_TRUE(QDir(out.path()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
            continue;
        }
        QFile written(file);
        ASSERT_TRUE(written.open(QIODevice::ReadOnly));
        EXPECT_EQ(QJsonDocument::fromJson(written.readAll()).array().size(), 451);
    }
}

// Two Test Alls of one serial started in the same millisecond: the plots' first-pass
// count and the yield's pick the same run, by run number and then by id.
TEST_F(RecordsWindowTest, FirstPassTieIsSettledAlikeInPlotsAndYield)
{
    const QString file = dir.filePath(QStringLiteral("tie.sqlite"));
    SyntheticStore store(file, {QStringLiteral("bench-1"), QStringLiteral("bench-2")});
    SyntheticRun run;
    run.startedUtc = QStringLiteral("2026-12-09T08:00:00.000Z");
    run.serial = QStringLiteral("QN2001");
    const QString passed = store.add(run);
    run.station = 1;
    run.failingRow = 2;
    const QString failed = store.add(run);
    // Equal run numbers, and the failing run (written second) given the lower id.
    const QStringList sameNumber = {QStringLiteral("UPDATE runs SET seq = 7")};
    QStringList lowerId = sameNumber;
    for (const char *table : {"runs", "run_ends", "row_results", "prompts", "eeprom_writes"})
        lowerId << QStringLiteral("UPDATE %1 SET %2 = '!' || %2 WHERE %2 = '%3'")
                       .arg(QLatin1String(table), QLatin1String(qstrcmp(table, "runs") == 0 ? "id" : "run_id"), failed);
    const struct {
        QStringList sql;
        qint64 firstPasses;
    } cases[] = {{{}, 1}, {sameNumber, passed < failed ? 1 : 0}, {lowerId, 0}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.sql.join(QLatin1String("; ")).toStdString());
        for (const QString &sql : c.sql)
            ASSERT_TRUE(QSqlQuery(store.database()).exec(sql)) << sql.toStdString();
        const records::YieldReport yield = records::RecordsQuery(store.database()).yield({});
        EXPECT_EQ(yield.serials, 1);
        EXPECT_EQ(yield.firstPassSerials, c.firstPasses);
        records::RunDigest digest;
        QString reason;
        ASSERT_TRUE(digest.update(store.database(), QString(), &reason)) << reason.toStdString();
        records::RecordsPlots plots;
        plots.setRuns(&digest, digest.rowids());
        EXPECT_TRUE(plots.yieldTally().bySerial);
        EXPECT_EQ(plots.yieldTally().units, yield.serials);
        EXPECT_EQ(plots.yieldTally().passed, yield.firstPassSerials);
    }
}

// A real window on the X server of xvfb-run, at twice the scale: the child process
// opens the store, shows the window and checks what a person would read.
TEST_F(RecordsWindowTest, RealWindowUnderXvfbAtScaleTwo)
{
    if (qEnvironmentVariableIsSet(ChildVariable)) {
        ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
        records::RecordsWindow window(qEnvironmentVariable(ChildVariable));
        window.show();
        QElapsedTimer waited;
        waited.start();
        while (!(window.windowHandle() && window.windowHandle()->isExposed()) && waited.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        ASSERT_TRUE(window.windowHandle()->isExposed());
        EXPECT_DOUBLE_EQ(window.devicePixelRatioF(), 2.0);
        QTableView *view = window.runsView();
        ASSERT_GT(view->model()->rowCount(), 0);
        // Rows tall enough for their text; the time column shows its whole text.
        EXPECT_GE(view->rowHeight(0), view->fontMetrics().height());
        const QString time = view->model()->index(0, 0).data().toString();
        EXPECT_GE(view->columnWidth(0), view->fontMetrics().horizontalAdvance(time));
        const QImage shot = window.grab().toImage();
        EXPECT_EQ(shot.width(), 2 * window.width());
        window.close();
        return;
    }
    const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("xvfb-run"));
    if (xvfb.isEmpty())
        GTEST_SKIP() << "xvfb-run (Debian xvfb) is needed";
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(ChildVariable), path);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("QT_SCALE_FACTOR"), QStringLiteral("2"));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(xvfb, {QStringLiteral("-a"), QStringLiteral("-s"), QStringLiteral("-screen 0 2600x1800x24"),
                       QCoreApplication::applicationFilePath(),
                       QStringLiteral("--gtest_filter=RecordsWindowTest.RealWindowUnderXvfbAtScaleTwo")});
    ASSERT_TRUE(child.waitForFinished(90000));
    const QString output = QString::fromUtf8(child.readAll());
    EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains(QStringLiteral("[  PASSED  ] 1 test"))) << output.toStdString();
}

} // namespace
} // namespace quillon::testing
