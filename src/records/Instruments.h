#pragma once

#include <QDate>
#include <QSqlDatabase>
#include <QString>

#include <optional>
#include <vector>

namespace quillon::records {

// One entry of the reference-instrument register (records/Columns.cpp: instruments).
// The register is append-only: an edit or a retirement is a new entry for the asset id,
// and the newest entry of an asset is what stands.
struct Instrument {
    QString id; // the entry's key
    QString assetId;
    QString kind; // "meter", "scope", ...
    QString make, model, serial;
    QString calibratedOn, dueOn; // ISO days, empty when not known
    QString certificate;         // the number of its own calibration certificate
    bool retired = false;
    QString changedUtc, changedBy;
};

// What a station makes of an instrument on a day.
enum class InstrumentStatus { Ok, DueSoon, Overdue, Retired, Unknown };

// A due date this close (days) brings a reminder.
inline constexpr int InstrumentReminderDays = 14;

// "ok", "due-soon", "overdue", "retired", "unknown": the word the records keep.
QString instrumentStatusName(InstrumentStatus status);
// Unknown when there is no entry; overdue once today is more than graceDays past the due
// date (an entry without a due date never is); due soon within InstrumentReminderDays.
InstrumentStatus instrumentStatus(const std::optional<Instrument> &entry, const QDate &today, int graceDays);
// Refused by an enforcing station: unknown, retired or overdue.
bool instrumentUnusable(InstrumentStatus status);

// Reading and adding register entries over any open records store (a file of schema 5
// or later, or the line database). False / nullopt with error on a failed query; a
// store without the register reads as an empty one.
std::optional<Instrument> currentInstrument(const QSqlDatabase &db, const QString &assetId, QString *error);
// The standing entry of every asset, by asset id; retired ones only when asked.
std::vector<Instrument> currentInstruments(const QSqlDatabase &db, bool withRetired, QString *error);
// Every entry of one asset, oldest first.
std::vector<Instrument> instrumentHistory(const QSqlDatabase &db, const QString &assetId, QString *error);
// Appends entry (its id and changedUtc filled in when empty).
bool addInstrumentEntry(const QSqlDatabase &db, Instrument entry, QString *error);

// An ISO day ("2026-12-09"), or an invalid date for anything else.
QDate isoDay(const QString &text);

} // namespace quillon::records
