#include "app/records/InstrumentCommands.h"

#include "records/Instruments.h"
#include "records/RecordStore.h"
#include "records/line/LineDatabase.h"

#include <QDate>
#include <QSqlDatabase>
#include <QTextStream>

#include <functional>

namespace quillon::records {

namespace {

enum Exit { Done = 0, Failed = 1, Usage = 2 };

const QString Connection = QStringLiteral("quillon-records-register");

QString dash(const QString &text)
{
    return text.isEmpty() ? QStringLiteral("-") : text;
}

void printEntries(QTextStream &out, const std::vector<Instrument> &entries, bool history)
{
    const QDate today = QDate::currentDate();
    bool first = true;
    for (const Instrument &i : entries) {
        const QString model = QStringList{i.make, i.model}.join(QLatin1Char(' ')).trimmed();
        out << i.assetId << "  " << i.kind << "  " << dash(model) << "  serial " << dash(i.serial) << "  calibrated "
            << dash(i.calibratedOn) << "  due " << dash(i.dueOn) << "  certificate " << dash(i.certificate) << "  ";
        if (history)
            out << (i.retired ? "retired"
                    : first   ? "added"
                              : "edited")
                << "  " << i.changedUtc << " by " << i.changedBy << '\n';
        else
            out << instrumentStatusName(instrumentStatus(i, today, 0)) << '\n';
        first = false;
    }
}

// A given date must be a day; empty clears it on edit.
bool checkDate(const char *what, const QString &text, QString *problem)
{
    if (text.isEmpty() || isoDay(text).isValid())
        return true;
    *problem = QStringLiteral("malformed --%1 \"%2\" (use 2026-12-09)").arg(QLatin1String(what), text);
    return false;
}

void apply(const InstrumentArguments &a, Instrument &entry)
{
    const auto set = [](const QString &given, QString &field) {
        if (!given.isNull())
            field = given.trimmed();
    };
    set(a.kind, entry.kind);
    set(a.make, entry.make);
    set(a.model, entry.model);
    set(a.serial, entry.serial);
    set(a.calibrated, entry.calibratedOn);
    set(a.due, entry.dueOn);
    set(a.certificate, entry.certificate);
}

// The entry an add, edit or retire appends, or why there is none.
std::optional<Instrument> nextEntry(const InstrumentArguments &a, const std::optional<Instrument> &current,
                                    QString *problem, int *exit)
{
    *exit = Failed;
    Instrument entry = current.value_or(Instrument{});
    if (a.action == QLatin1String("add")) {
        if (current) {
            *problem = QStringLiteral("instrument %1 is in the register already (use edit)").arg(a.asset);
            return std::nullopt;
        }
        if (a.kind.trimmed().isEmpty()) {
            *exit = Usage;
            *problem = QStringLiteral("instruments add needs --kind (meter, scope, ...)");
            return std::nullopt;
        }
        entry.assetId = a.asset;
    } else if (!current || current->retired) {
        *problem =
            (current ? QStringLiteral("instrument %1 is retired") : QStringLiteral("no instrument %1 in the register"))
                .arg(a.asset);
        return std::nullopt;
    }
    apply(a, entry);
    entry.id.clear();
    entry.changedUtc.clear();
    entry.retired = a.action == QLatin1String("retire");
    entry.changedBy = a.by;
    for (const auto &[what, day] : {std::pair{"calibrated", entry.calibratedOn}, {"due", entry.dueOn}})
        if (!checkDate(what, day, problem)) {
            *exit = Usage;
            return std::nullopt;
        }
    return entry;
}

int run(const QSqlDatabase &db, const InstrumentArguments &a, QTextStream &out, QTextStream &err)
{
    QString error;
    const auto failed = [&](const QString &message, int exit = Failed) {
        err << "quillon-records: " << message << '\n';
        return exit;
    };
    if (a.action == QLatin1String("list")) {
        const auto entries = currentInstruments(db, a.all, &error);
        if (!error.isEmpty())
            return failed(error);
        printEntries(out, entries, false);
        return Done;
    }
    if (a.action == QLatin1String("history")) {
        const auto entries = instrumentHistory(db, a.asset, &error);
        if (!error.isEmpty())
            return failed(error);
        if (entries.empty())
            return failed(QStringLiteral("no instrument %1 in the register").arg(a.asset));
        printEntries(out, entries, true);
        return Done;
    }
    const auto current = currentInstrument(db, a.asset, &error);
    if (!error.isEmpty())
        return failed(error);
    int exit = Failed;
    const auto entry = nextEntry(a, current, &error, &exit);
    if (!entry)
        return failed(error, exit);
    if (!addInstrumentEntry(db, *entry, &error))
        return failed(error.contains(QLatin1String("row-level security"))
                          ? QStringLiteral("the line database refused: only its administrator changes the "
                                           "instrument register")
                          : error);
    printEntries(out, {*entry}, false);
    return Done;
}

} // namespace

int instrumentsCommand(const QString &source, const InstrumentArguments &args, QTextStream &out, QTextStream &err)
{
    static const QStringList actions = {QStringLiteral("list"), QStringLiteral("history"), QStringLiteral("add"),
                                        QStringLiteral("edit"), QStringLiteral("retire")};
    if (!actions.contains(args.action) || (args.action == QLatin1String("list")) != args.asset.isEmpty()) {
        err << "quillon-records: instruments list | history ASSET | add ASSET --kind KIND [...] | edit ASSET [...] | "
               "retire ASSET\n";
        return Usage;
    }
    const bool writes = args.action != QLatin1String("list") && args.action != QLatin1String("history");
    int exit = Failed;
    if (isLineDatabaseUrl(source) || !writes) {
        {
            const ReadOnlyStore store = openRecordsStore(source, Connection);
            if (store.isOpen())
                exit = run(store.db, args, out, err);
            else
                err << "quillon-records: " << store.error << '\n';
        }
        closeReadOnlyStore(Connection);
    } else {
        // A station's file (or a new one) is brought up to date first.
        RecordStore store(Connection);
        QString reason;
        if (store.open(source, &reason))
            exit = run(store.database(), args, out, err);
        else
            err << "quillon-records: " << reason << '\n';
    }
    return exit;
}

} // namespace quillon::records
