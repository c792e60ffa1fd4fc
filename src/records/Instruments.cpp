#include "records/Instruments.h"

#include "records/Columns.h"
#include "records/RecordsQuery.h"
#include "records/Schema.h"

#include <QSqlError>
#include <QDateTime>
#include <QRegularExpression>
#include <QSqlQuery>

#include <map>

namespace quillon::records {

namespace {

constexpr int RegisterVersion = 5;

bool keepsRegister(const QSqlDatabase &db)
{
    return RecordsQuery(db).storeVersion() >= RegisterVersion;
}

const QString Select = QStringLiteral("SELECT id, asset_id, kind, make, model, serial, calibrated_on, due_on, "
                                      "certificate, retired, changed_utc, changed_by FROM instruments");

Instrument entryFrom(const QSqlQuery &q)
{
    Instrument i;
    i.id = q.value(0).toString();
    i.assetId = q.value(1).toString();
    i.kind = q.value(2).toString();
    i.make = q.value(3).toString();
    i.model = q.value(4).toString();
    i.serial = q.value(5).toString();
    i.calibratedOn = q.value(6).toString();
    i.dueOn = q.value(7).toString();
    i.certificate = q.value(8).toString();
    i.retired = q.value(9).toLongLong() != 0;
    i.changedUtc = q.value(10).toString();
    i.changedBy = q.value(11).toString();
    return i;
}

// Entries in the order they were made (ids are time-ordered keys, a tie breaker for
// entries of the same millisecond).
std::vector<Instrument> readEntries(const QSqlDatabase &db, const QString &assetId, QString *error)
{
    std::vector<Instrument> out;
    if (!keepsRegister(db))
        return out;
    QSqlQuery q(db);
    q.setForwardOnly(true);
    q.prepare(Select + (assetId.isNull() ? QString() : QStringLiteral(" WHERE asset_id = ?"))
              + QStringLiteral(" ORDER BY asset_id, changed_utc, id"));
    if (!assetId.isNull())
        q.addBindValue(assetId);
    if (!q.exec()) {
        if (error)
            *error = QStringLiteral("cannot read the instrument register: %1").arg(q.lastError().text());
        return out;
    }
    while (q.next())
        out.push_back(entryFrom(q));
    return out;
}

QVariant orNull(const QString &text)
{
    return text.isEmpty() ? QVariant() : QVariant(text);
}

} // namespace

QString instrumentStatusName(InstrumentStatus status)
{
    switch (status) {
    case InstrumentStatus::Ok: return QStringLiteral("ok");
    case InstrumentStatus::DueSoon: return QStringLiteral("due-soon");
    case InstrumentStatus::Overdue: return QStringLiteral("overdue");
    case InstrumentStatus::Retired: return QStringLiteral("retired");
    case InstrumentStatus::Unknown: break;
    }
    return QStringLiteral("unknown");
}

QDate isoDay(const QString &text)
{
    static const QRegularExpression day(QStringLiteral("^\\d{4}-\\d{2}-\\d{2}$"));
    return day.match(text).hasMatch() ? QDate::fromString(text, Qt::ISODate) : QDate();
}

InstrumentStatus instrumentStatus(const std::optional<Instrument> &entry, const QDate &today, int graceDays)
{
    if (!entry)
        return InstrumentStatus::Unknown;
    if (entry->retired)
        return InstrumentStatus::Retired;
    const QDate due = isoDay(entry->dueOn);
    if (!due.isValid())
        return InstrumentStatus::Ok;
    if (today > due.addDays(graceDays))
        return InstrumentStatus::Overdue;
    if (today.daysTo(due) <= InstrumentReminderDays)
        return InstrumentStatus::DueSoon;
    return InstrumentStatus::Ok;
}

bool instrumentUnusable(InstrumentStatus status)
{
    return status == InstrumentStatus::Unknown || status == InstrumentStatus::Retired
           || status == InstrumentStatus::Overdue;
}

std::optional<Instrument> currentInstrument(const QSqlDatabase &db, const QString &assetId, QString *error)
{
    std::vector<Instrument> entries = readEntries(db, assetId.isNull() ? QStringLiteral("") : assetId, error);
    if (entries.empty())
        return std::nullopt;
    return std::move(entries.back());
}

std::vector<Instrument> currentInstruments(const QSqlDatabase &db, bool withRetired, QString *error)
{
    std::map<QString, Instrument> standing;
    for (Instrument &i : readEntries(db, QString(), error))
        standing[i.assetId] = std::move(i);
    std::vector<Instrument> out;
    for (auto &[asset, entry] : standing)
        if (withRetired || !entry.retired)
            out.push_back(std::move(entry));
    return out;
}

std::vector<Instrument> instrumentHistory(const QSqlDatabase &db, const QString &assetId, QString *error)
{
    return readEntries(db, assetId.isNull() ? QStringLiteral("") : assetId, error);
}

bool addInstrumentEntry(const QSqlDatabase &db, Instrument entry, QString *error)
{
    if (!keepsRegister(db)) {
        if (error)
            *error = QStringLiteral("this store has no instrument register (records schema %1 or later is needed)")
                         .arg(RegisterVersion);
        return false;
    }
    if (entry.id.isEmpty())
        entry.id = newOrderedKey();
    if (entry.changedUtc.isEmpty()) {
        // An asset's entries stand in the order they were made, even within a millisecond.
        entry.changedUtc = utcNow();
        QString ignored;
        if (const auto last = currentInstrument(db, entry.assetId, &ignored);
            last && last->changedUtc >= entry.changedUtc)
            entry.changedUtc = QDateTime::fromString(last->changedUtc, Qt::ISODateWithMs)
                                   .addMSecs(1)
                                   .toUTC()
                                   .toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ"));
    }
    QSqlQuery q(db);
    q.prepare(QStringLiteral("INSERT INTO instruments (id, asset_id, kind, make, model, serial, calibrated_on, "
                             "due_on, certificate, retired, changed_utc, changed_by) VALUES "
                             "(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    for (const QVariant &v :
         {QVariant(entry.id), QVariant(entry.assetId), QVariant(entry.kind), orNull(entry.make), orNull(entry.model),
          orNull(entry.serial), orNull(entry.calibratedOn), orNull(entry.dueOn), orNull(entry.certificate),
          QVariant(int(entry.retired)), QVariant(entry.changedUtc), QVariant(entry.changedBy)})
        q.addBindValue(v);
    if (!q.exec()) {
        if (error)
            *error = QStringLiteral("cannot add to the instrument register: %1").arg(q.lastError().text());
        return false;
    }
    return true;
}

} // namespace quillon::records
