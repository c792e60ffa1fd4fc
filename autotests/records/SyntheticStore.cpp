#include "SyntheticStore.h"

#include "records/Schema.h"

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

#include <algorithm>
#include <bit>
#include <cmath>
#include <functional>

namespace quillon::testing {

namespace {

const char *const RowNames[] = {"DIO Pullup",         "DIO Loopback",    "A/D Clocks",     "Calibration Voltages",
                                "Address/Data Lines", "A/D SE Unipolar", "A/D SE Bipolar", "A/D Differential (Bipolar)",
                                "D/A Cal Set",        "D/A Cal Check",   "D/A Ramp"};

QString uuid()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

QString stamp(const QDateTime &t)
{
    return t.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")) + QLatin1Char('Z');
}

QByteArray bigEndian(float value)
{
    const quint32 word = std::bit_cast<quint32>(value);
    const char bytes[] = {char(word >> 24), char(word >> 16), char(word >> 8), char(word)};
    return QByteArray(bytes, 4);
}

} // namespace

struct SyntheticStore::Private {
    QString connection = QStringLiteral("synthetic-") + uuid();
    QSqlDatabase db;
    QString error;
    QStringList stationIds;
    qint64 seq = 0;
    std::unique_ptr<QSqlQuery> session, run, end, row, prompt, write, measurement;
    bool measurements = false;

    bool exec(QSqlQuery &q, const QVariantList &values)
    {
        for (int i = 0; i < values.size(); ++i)
            q.bindValue(i, values.at(i));
        if (!q.exec()) {
            error = q.lastError().text();
            return false;
        }
        return true;
    }

    std::unique_ptr<QSqlQuery> prepare(const QString &sql)
    {
        auto q = std::make_unique<QSqlQuery>(db);
        if (!q->prepare(sql))
            error = q->lastError().text();
        return q;
    }
};

SyntheticStore::SyntheticStore(const QString &path, const QStringList &stationNames, int schemaVersion)
    : d(std::make_unique<Private>())
{
    QFile::remove(path);
    QFile::remove(path + QStringLiteral("-wal"));
    QFile::remove(path + QStringLiteral("-shm"));
    if (!records::openStoreFile(path, d->connection, true, d->db, &d->error)
        || !records::ensureSchema(d->db, &d->error))
        return;
    QSqlQuery q(d->db);
    // Built for reading: no need to survive a crash while it is written.
    q.exec(QStringLiteral("PRAGMA synchronous = OFF"));
    if (schemaVersion != 0 && schemaVersion != records::SchemaVersion) {
        q.prepare(QStringLiteral("UPDATE meta SET value = ? WHERE key = 'schema_version'"));
        q.addBindValue(QString::number(schemaVersion));
        q.exec();
    }
    for (const QString &name : stationNames) {
        const QString id = uuid();
        q.prepare(
            QStringLiteral("INSERT INTO stations (id, name, host, program, version, library, simulated, created_utc)"
                           " VALUES (?, ?, ?, 'quillon-sim', '0.1.0', 'simulated board', 1, "
                           "'2026-01-01T00:00:00.000Z')"));
        q.addBindValue(id);
        q.addBindValue(name);
        q.addBindValue(name + QStringLiteral(".line.local"));
        if (!q.exec())
            d->error = q.lastError().text();
        d->stationIds << id;
    }
    d->session = d->prepare(
        QStringLiteral("INSERT INTO sessions (id, station_id, started_utc, detection_label, product_id, variant, "
                       "channel_count, dac_count, revision, firmware_reply, revision_reply, simulated)"
                       " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    d->run = d->prepare(
        QStringLiteral("INSERT INTO runs (id, station_id, session_id, seq, kind, row_digit, product_id, serial, "
                       "started_utc, simulated) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    d->end =
        d->prepare(QStringLiteral("INSERT INTO run_ends (run_id, ended_utc, end_state, overall) VALUES (?, ?, ?, ?)"));
    d->row = d->prepare(
        QStringLiteral("INSERT INTO row_results (id, run_id, seq, digit, name, status, label, fail_label, memo, "
                       "started_utc, ended_utc) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    d->prompt = d->prepare(
        QStringLiteral("INSERT INTO prompts (id, run_id, session_id, seq, kind, caption, text, answer, typed, "
                       "shown_utc, answered_utc) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    d->measurement = d->prepare(
        QStringLiteral("INSERT INTO measurements (id, run_id, seq, digit, name, value, kind, unit, comparison, "
                       "expected, tolerance, low, high, outcome) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    d->write = d->prepare(QStringLiteral("INSERT INTO eeprom_writes (id, run_id, seq, address, bytes, status, at_utc) "
                                         "VALUES (?, ?, ?, ?, ?, ?, ?)"));
}

SyntheticStore::~SyntheticStore()
{
    d->session.reset();
    d->run.reset();
    d->end.reset();
    d->row.reset();
    d->prompt.reset();
    d->write.reset();
    d->measurement.reset();
    d->db.close();
    d->db = QSqlDatabase();
    QSqlDatabase::removeDatabase(d->connection);
}

bool SyntheticStore::isOpen() const
{
    return d->db.isOpen() && d->error.isEmpty();
}

QString SyntheticStore::error() const
{
    return d->error;
}

QSqlDatabase SyntheticStore::database() const
{
    return d->db;
}

void SyntheticStore::setMeasurements(bool on)
{
    d->measurements = on;
}

namespace {

// Writes one run's measurements, numbered across the run, the way the rows report them.
class MeasurementWriter {
public:
    using Insert = std::function<void(const QVariantList &)>;
    MeasurementWriter(QString runId, qint64 runSeq, Insert insert)
        : m_runId(std::move(runId)), m_runSeq(runSeq), m_insert(std::move(insert))
    {
    }

    // A ladder row: every channel (pair) of up to 16 channels, within expected ± 0.3 V;
    // channel 6 reads far off in a failing row, and every 50th run's channel 3 is marginal.
    void ladder(int digit, int channels, bool fails)
    {
        static const char *const Names[] = {"se_unipolar", "se_bipolar", "differential"};
        const int count = std::min(channels, 16) / (digit == 7 ? 2 : 1);
        for (int ch = 0; ch < count; ++ch) {
            const double expected = digit == 5 ? 0.625 * ch : digit == 6 ? -10.0 + 1.25 * ch : -4.667 + 0.625 * ch;
            double value = expected + double((m_runSeq * 31 + qint64(ch) * 17) % 21 - 10) * 0.001;
            if (fails && ch == 6)
                value = 0.512;
            else if (ch == 3 && m_runSeq % 50 == 0)
                value = expected + 0.28;
            // To the µV, as a reading is: each figure survives any text form of it.
            const auto micro = [](double v) { return std::round(v * 1e6) / 1e6; };
            value = micro(value);
            const double off = std::abs(value - expected);
            const char *outcome = off > 0.3 ? "fail" : off > 0.24 ? "marginal" : "pass";
            put(digit,
                QStringLiteral("ladder.%1.ch%2").arg(QLatin1String(Names[digit - 5])).arg(ch, 2, 10, QLatin1Char('0')),
                value, "number", "V", "within", micro(expected), 0.3, micro(expected - 0.3), micro(expected + 0.3),
                outcome);
        }
    }

    // A few of each other row's.
    void others(int digit, bool fails, bool hasDacs)
    {
        if (digit >= 8) {
            if (hasDacs)
                dacs(digit, fails);
            return;
        }
        const char *judged = fails ? "fail" : "pass";
        const QVariant none;
        switch (digit) {
        case 0:
            put(0, "dio.pullup", fails ? 0xFF7F : 0xFFFF, "integer", "word", "equals", 0xFFFF, none, none, none,
                judged);
            break;
        case 1:
            for (const int pattern : {0x01, 0x80})
                put(1,
                    QStringLiteral("dio.loopback.a_to_b.")
                        + QString::number(pattern, 16).toUpper().rightJustified(2, QLatin1Char('0')),
                    fails && pattern == 0x80 ? 0 : pattern, "integer", "byte", "equals", pattern, none, none, none,
                    fails && pattern == 0x80 ? "fail" : "pass");
            break;
        case 2:
            put(2, "adclocks.unclocked.bytes_left", fails ? 0 : 32, "integer", "bytes", "at-least", none, none, 1, none,
                judged);
            put(2, "adclocks.clocked.bytes_left", 0, "integer", "bytes", "equals", 0, none, none, none, "pass");
            break;
        case 3:
            put(3, "agnd", fails ? 0.0301 : 0.0116, "number", "V", "within", 0.01234, 0.00595, 0.00639, 0.01829,
                judged);
            put(3, "aref.typed", 9.93, "number", "V", "none", none, none, none, none, "not-judged");
            put(3, "aref.word", 65077, "integer", "counts", "range", none, none, 1, 65534, "pass");
            break;
        case 4: put(4, "bus.verdict", fails ? 1 : 0, "integer", "byte", "equals", 0, none, none, none, judged); break;
        default: break;
        }
    }

    // The D/A rows' (8-A) of a board with DACs.
    void dacs(int digit, bool fails)
    {
        const QVariant none;
        if (digit != 8) {
            put(digit, digit == 9 ? "dac.check.verdict" : "dac.ramp.verdict", fails ? 0 : 1, "bool", "verdict",
                "equals", 1, none, none, none, fails ? "fail" : "pass");
            return;
        }
        for (int dac = 0; dac < 4; ++dac) {
            put(8, QStringLiteral("dac%1.gain").arg(dac), std::round((0.9988 + 0.0002 * dac) * 1e6) / 1e6, "number",
                "ratio", "finite", none, none, none, none, "pass");
            put(8, QStringLiteral("dac%1.offset").arg(dac), 30.5 + dac, "number", "counts", "finite", none, none, none,
                none, "pass");
        }
    }

private:
    void put(int digit, const QString &name, const QVariant &value, const char *kind, const char *unit,
             const char *comparison, const QVariant &expected, const QVariant &tolerance, const QVariant &low,
             const QVariant &high, const char *outcome)
    {
        ++m_seq;
        m_insert({m_runId + QLatin1Char('.') + QString::number(m_seq), m_runId, m_seq, digit, name, value,
                  QLatin1String(kind), QLatin1String(unit), QLatin1String(comparison), expected, tolerance, low, high,
                  QLatin1String(outcome)});
    }

    QString m_runId;
    qint64 m_runSeq;
    Insert m_insert;
    int m_seq = 0;
};

} // namespace

QString SyntheticStore::rowName(int digit)
{
    return QString::fromLatin1(RowNames[digit]);
}

QStringList SyntheticStore::memoOf(int digit, bool fails)
{
    QStringList memo;
    switch (digit) {
    case 3:
        memo << QStringLiteral("AGnd") << QStringLiteral("AGnd: Passed") << QString() << QStringLiteral("ARef")
             << QStringLiteral("ARef: Skipped") << QString() << QStringLiteral("ARef Cal");
        if (fails)
            memo << QStringLiteral("\tError 31 writing ARef cal to EEPROM.");
        memo << (fails ? QStringLiteral("ARef Cal: Failed") : QStringLiteral("ARef Cal: Passed")) << QString()
             << (fails ? QStringLiteral("Calibration Voltages: Failed")
                       : QStringLiteral("Calibration Voltages: Passed"));
        return memo;
    case 8:
        memo << QStringLiteral("DAC Low Reading");
        for (int i = 0; i < 4; ++i)
            memo << QStringLiteral("0.1 V -> 655d counts");
        memo << QStringLiteral("DAC High Reading");
        for (int i = 0; i < 4; ++i)
            memo << QStringLiteral("9.9 V -> 64880d counts");
        memo << QString() << QStringLiteral("4 DACs.");
        for (int i = 0; i < 4; ++i)
            memo << QStringLiteral("M[%1] = 1.0000").arg(i) << QStringLiteral("B[%1] = -0.3571").arg(i);
        memo << QString();
        if (fails)
            memo << QStringLiteral("Data mismatch reading cal constants back from EEPROM.");
        memo << (fails ? QStringLiteral("D/A Cal Set: FAIL") : QStringLiteral("D/A Cal Set: PASS"));
        return memo;
    default:
        for (int i = 0; i < 6; ++i)
            memo << QStringLiteral("\tChannel %1: %2 V, expected %3 V")
                        .arg(i)
                        .arg(1.25 * i, 0, 'f', 3)
                        .arg(1.25 * i, 0, 'f', 3);
        if (fails)
            memo << QStringLiteral("\tChannel 6: 0.512 V, expected 7.500 V") << QStringLiteral("1 Failures");
        memo << QString() << rowName(digit) + (fails ? QStringLiteral(": FAIL") : QStringLiteral(": PASS"));
        return memo;
    }
}

QString SyntheticStore::add(const SyntheticRun &wanted)
{
    Private &p = *d;
    const QString stationId = p.stationIds.value(wanted.station);
    QDateTime t = QDateTime::fromString(wanted.startedUtc, Qt::ISODateWithMs);
    const QString sessionId = uuid();
    const bool hasDacs = wanted.productId != 0x8240;
    p.exec(*p.session,
           {sessionId, stationId, stamp(t.addMSecs(-5000)),
            QStringLiteral("Detected: product %1").arg(QString::number(wanted.productId, 16).toUpper()),
            wanted.productId, QStringLiteral("KV-%1").arg(wanted.channels), wanted.channels, hasDacs ? 4 : 0,
            QStringLiteral("E"), QStringLiteral("00000104"), QStringLiteral("0100"), int(wanted.simulated)});
    const QString runId = uuid();
    const bool single = wanted.rowDigit >= 0;
    p.exec(*p.run, {runId, stationId, sessionId, ++p.seq, single ? QStringLiteral("row") : QStringLiteral("test-all"),
                    single ? QVariant(wanted.rowDigit) : QVariant(), wanted.productId,
                    wanted.serial.isEmpty() ? QVariant() : QVariant(wanted.serial), stamp(t), int(wanted.simulated)});
    int promptSeq = 0;
    int writeSeq = 0;
    auto prompt = [&](const QString &kind, const QString &caption, const QString &text, const QString &answer,
                      const QVariant &typed) {
        p.exec(*p.prompt, {uuid(), runId, sessionId, ++promptSeq, kind, caption, text, answer, typed, stamp(t),
                           stamp(t.addMSecs(1500))});
        t = t.addMSecs(1600);
    };
    auto write = [&](int address, const QByteArray &bytes, int status) {
        p.exec(*p.write, {uuid(), runId, ++writeSeq, address, QString::fromLatin1(bytes.toHex()), status, stamp(t)});
        t = t.addMSecs(3);
    };
    MeasurementWriter measurements(runId, p.seq, [&p](const QVariantList &values) { p.exec(*p.measurement, values); });
    const int first = single ? wanted.rowDigit : 0;
    const int last = single ? wanted.rowDigit : 10;
    bool failed = false;
    for (int digit = first; digit <= last; ++digit) {
        const bool fails = digit == wanted.failingRow;
        const QString rowStart = stamp(t);
        if (digit == 0)
            prompt(QStringLiteral("message"), QString(), QStringLiteral("Remove the test jig."), QStringLiteral("OK"),
                   QVariant());
        if (digit == 1)
            prompt(QStringLiteral("message"), QString(), QStringLiteral("Connect the test jig."), QStringLiteral("OK"),
                   QVariant());
        if (digit == 3) {
            prompt(QStringLiteral("text"), QStringLiteral("ARef Cal"),
                   QStringLiteral("Measure the ref voltage at R11 with a calibrated meter and type it here."),
                   QStringLiteral("OK"), QString::number(double(wanted.arefWord) / 6553.6, 'f', 4));
            const char word[] = {char(wanted.arefWord & 0xFF), char(wanted.arefWord >> 8)};
            write(7666, QByteArray(word, 2), fails ? 31 : 0);
        }
        if (digit == 8 && hasDacs) {
            prompt(QStringLiteral("dac-range"), QString(), QStringLiteral("What range are the DACs?"),
                   QStringLiteral("0-10 V"), QVariant());
            prompt(QStringLiteral("dac-readings"), QStringLiteral("DAC Low Reading"),
                   QStringLiteral("The DACs should be producing about +0.1V."), QStringLiteral("OK"),
                   QStringLiteral("0.1;0.1;0.1;0.1"));
            prompt(QStringLiteral("dac-readings"), QStringLiteral("DAC High Reading"),
                   QStringLiteral("The DACs should be producing about +9.9V."), QStringLiteral("OK"),
                   QStringLiteral("9.9;9.9;9.9;9.9"));
            for (int i = 0; i < 4; ++i)
                write(7520 + 36 * i, QByteArrayLiteral("XXXX"), 0);
            QByteArray block;
            for (int i = 0; i < 4; ++i)
                block += bigEndian(wanted.gains[i]) + bigEndian(wanted.offsets[i]);
            for (int i = 0; i < 4; ++i) {
                write(7524 + 36 * i, block, 0);
                write(7664, QByteArray("\x02\x04", 2), 0);
            }
            if (!fails)
                for (int i = 0; i < 4; ++i)
                    write(7520 + 36 * i, QByteArrayLiteral("DACC"), 0);
        }
        if (digit == 10 && hasDacs)
            prompt(QStringLiteral("scope"), QStringLiteral("D/A Ramp"),
                   QStringLiteral("Do all four DAC outputs show a clean ramp on the scope?"),
                   fails ? QStringLiteral("No") : QStringLiteral("Yes"), QVariant());
        t = t.addMSecs(400);
        const QStringList memo = memoOf(digit, fails);
        p.exec(*p.row,
               {uuid(), runId, digit - first + 1, digit, rowName(digit),
                fails ? QStringLiteral("fail") : QStringLiteral("pass"),
                fails ? QStringLiteral("FAIL") : QStringLiteral("PASS"),
                digit == 4 ? QVariant(fails ? QStringLiteral("Bus test failed") : QString()) : QVariant(),
                QString::fromUtf8(QJsonDocument(QJsonArray::fromStringList(memo)).toJson(QJsonDocument::Compact)),
                rowStart, stamp(t)});
        if (p.measurements && digit >= 5 && digit <= 7)
            measurements.ladder(digit, wanted.channels, fails);
        else if (p.measurements)
            measurements.others(digit, fails, hasDacs);
        failed = failed || fails;
        if (wanted.endState == QLatin1String("interrupted") && digit == 5)
            break;
    }
    if (!wanted.endState.isEmpty()) {
        QVariant overall;
        if (!single && wanted.endState != QLatin1String("interrupted"))
            overall = failed ? QStringLiteral("FAIL") : QStringLiteral("PASS");
        p.exec(*p.end, {runId, stamp(t.addMSecs(5)), wanted.endState, overall});
    }
    return runId;
}

void SyntheticStore::addMany(int count, quint32 seed, const QString &startUtc)
{
    QRandomGenerator random(seed);
    QDateTime t = QDateTime::fromString(startUtc, Qt::ISODateWithMs);
    QSqlQuery(d->db).exec(QStringLiteral("BEGIN"));
    QHash<QString, int> tries;
    for (int i = 0; i < count; ++i) {
        SyntheticRun run;
        run.station = int(random.bounded(quint32(std::max<qsizetype>(1, d->stationIds.size()))));
        t = t.addMSecs(qint64(random.bounded(30000, 90000)));
        run.startedUtc = stamp(t);
        run.productId = random.bounded(4) == 0 ? 0x8141 : 0x8140;
        run.channels = run.productId == 0x8141 ? 64 : 16;
        // Most units pass first time; a failed unit is retested under the same serial.
        if (random.bounded(10) != 0)
            run.serial = QStringLiteral("QN%1").arg(100000 + i - (random.bounded(12) == 0 ? 1 : 0));
        if (random.bounded(8) == 0)
            run.failingRow = int(random.bounded(11));
        if (random.bounded(20) == 0)
            run.rowDigit = int(random.bounded(11));
        if (random.bounded(200) == 0)
            run.endState = QStringLiteral("interrupted");
        run.arefWord = quint16(65087 + int(random.bounded(-40, 40)) - (random.bounded(500) == 0 ? 900 : 0));
        for (int k = 0; k < 4; ++k) {
            run.gains[k] = 1.0f + float(random.bounded(-200, 200)) * 1e-5f;
            run.offsets[k] = -0.3571f + float(random.bounded(-500, 500)) * 1e-3f;
        }
        add(run);
        if (i % 5000 == 4999) {
            QSqlQuery(d->db).exec(QStringLiteral("COMMIT"));
            QSqlQuery(d->db).exec(QStringLiteral("BEGIN"));
        }
    }
    QSqlQuery(d->db).exec(QStringLiteral("COMMIT"));
}

} // namespace quillon::testing
