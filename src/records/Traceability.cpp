#include "records/Traceability.h"

#include "station/RowRegistry.h"

namespace quillon::records {

bool readsMeter(int digit)
{
    const auto &rows = rowRegistry();
    if (digit < 0 || std::size_t(digit) >= rows.size())
        return false;
    const QString &name = rows[std::size_t(digit)].name;
    return name == QLatin1String("Calibration Voltages") || name == QLatin1String("D/A Cal Set")
           || name == QLatin1String("D/A Cal Check");
}

namespace {

QString described(const QString &assetId, const std::optional<Instrument> &entry)
{
    QString what = QStringLiteral("Meter %1").arg(assetId);
    if (entry) {
        const QString model = QStringList{entry->make, entry->model}.join(QLatin1Char(' ')).trimmed();
        QStringList parts;
        if (!model.isEmpty())
            parts << model;
        if (!entry->serial.isEmpty())
            parts << QStringLiteral("serial %1").arg(entry->serial);
        if (!parts.isEmpty())
            what += QStringLiteral(" (%1)").arg(parts.join(QStringLiteral(", ")));
    }
    return what;
}

// The reason in a few words, after "meter <id> ".
QString why(const std::optional<Instrument> &entry, InstrumentStatus status)
{
    switch (status) {
    case InstrumentStatus::Unknown: return QStringLiteral("is not in the instrument register");
    case InstrumentStatus::Retired: return QStringLiteral("is retired from the instrument register");
    case InstrumentStatus::Overdue:
        return QStringLiteral("was due for calibration on %1").arg(entry ? entry->dueOn : QString());
    case InstrumentStatus::DueSoon:
    case InstrumentStatus::Ok: break;
    }
    return QStringLiteral("is usable");
}

} // namespace

QString meterProblem(const QString &assetId, const std::optional<Instrument> &entry, InstrumentStatus status)
{
    return QStringLiteral("%1 %2.").arg(described(assetId, entry), why(entry, status));
}

QString meterRefusalLine(const QString &assetId, const std::optional<Instrument> &entry, InstrumentStatus status)
{
    return QStringLiteral("Not run: meter %1 %2.").arg(assetId, why(entry, status));
}

QString meterReminder(const QString &assetId, const Instrument &entry)
{
    return QStringLiteral("%1 is due for calibration on %2.").arg(described(assetId, entry), entry.dueOn);
}

} // namespace quillon::records
