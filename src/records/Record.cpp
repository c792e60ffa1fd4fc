#include "records/Record.h"

#include <QJsonValue>

namespace quillon::records {

QString tableName(Table table)
{
    switch (table) {
    case Table::Stations: return QStringLiteral("stations");
    case Table::Sessions: return QStringLiteral("sessions");
    case Table::Runs: return QStringLiteral("runs");
    case Table::RunEnds: return QStringLiteral("run_ends");
    case Table::RowResults: return QStringLiteral("row_results");
    case Table::Prompts: return QStringLiteral("prompts");
    case Table::EepromWrites: return QStringLiteral("eeprom_writes");
    }
    return {};
}

const QStringList &columns(Table table)
{
    static const QStringList stations{QStringLiteral("id"),        QStringLiteral("name"),
                                      QStringLiteral("host"),      QStringLiteral("program"),
                                      QStringLiteral("version"),   QStringLiteral("library"),
                                      QStringLiteral("simulated"), QStringLiteral("created_utc")};
    static const QStringList sessions{QStringLiteral("id"),
                                      QStringLiteral("station_id"),
                                      QStringLiteral("started_utc"),
                                      QStringLiteral("detection_label"),
                                      QStringLiteral("product_id"),
                                      QStringLiteral("variant"),
                                      QStringLiteral("channel_count"),
                                      QStringLiteral("dac_count"),
                                      QStringLiteral("revision"),
                                      QStringLiteral("firmware_reply"),
                                      QStringLiteral("revision_reply"),
                                      QStringLiteral("simulated")};
    static const QStringList runs{QStringLiteral("id"),          QStringLiteral("station_id"),
                                  QStringLiteral("session_id"),  QStringLiteral("seq"),
                                  QStringLiteral("kind"),        QStringLiteral("row_digit"),
                                  QStringLiteral("product_id"),  QStringLiteral("serial"),
                                  QStringLiteral("started_utc"), QStringLiteral("simulated")};
    static const QStringList runEnds{QStringLiteral("run_id"), QStringLiteral("ended_utc"), QStringLiteral("end_state"),
                                     QStringLiteral("overall")};
    static const QStringList rowResults{
        QStringLiteral("id"),   QStringLiteral("run_id"),      QStringLiteral("seq"),      QStringLiteral("digit"),
        QStringLiteral("name"), QStringLiteral("status"),      QStringLiteral("label"),    QStringLiteral("fail_label"),
        QStringLiteral("memo"), QStringLiteral("started_utc"), QStringLiteral("ended_utc")};
    static const QStringList prompts{
        QStringLiteral("id"),    QStringLiteral("run_id"),    QStringLiteral("session_id"),  QStringLiteral("seq"),
        QStringLiteral("kind"),  QStringLiteral("caption"),   QStringLiteral("text"),        QStringLiteral("answer"),
        QStringLiteral("typed"), QStringLiteral("shown_utc"), QStringLiteral("answered_utc")};
    static const QStringList eepromWrites{QStringLiteral("id"),      QStringLiteral("run_id"), QStringLiteral("seq"),
                                          QStringLiteral("address"), QStringLiteral("bytes"),  QStringLiteral("status"),
                                          QStringLiteral("at_utc")};
    switch (table) {
    case Table::Stations: return stations;
    case Table::Sessions: return sessions;
    case Table::Runs: return runs;
    case Table::RunEnds: return runEnds;
    case Table::RowResults: return rowResults;
    case Table::Prompts: return prompts;
    case Table::EepromWrites: return eepromWrites;
    }
    return stations;
}

QJsonObject toJson(const Record &record)
{
    QJsonObject values;
    const QStringList &names = columns(record.table);
    for (int i = 0; i < names.size() && i < record.values.size(); ++i)
        values.insert(names[i], QJsonValue::fromVariant(record.values[i]));
    return QJsonObject{{QStringLiteral("table"), tableName(record.table)}, {QStringLiteral("values"), values}};
}

} // namespace quillon::records
