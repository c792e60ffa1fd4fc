#include "records/RecordsSettings.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>
#include <QSysInfo>

namespace quillon::records {

RecordsSettings RecordsSettings::read(QSettings &settings)
{
    RecordsSettings s;
    s.enabled = settings.value(QStringLiteral("records/enabled"), true).toBool();
    s.file = settings.value(QStringLiteral("records/file")).toString();
    s.required = settings.value(QStringLiteral("records/required"), false).toBool();
    s.lineDatabase = settings.value(QStringLiteral("records/lineDatabase")).toString();
    s.lineOutageMinutes = settings.value(QStringLiteral("records/lineOutageMinutes"), 60).toInt();
    s.station = settings.value(QStringLiteral("station/name")).toString();
    s.askSerial = settings.value(QStringLiteral("serial/ask"), false).toBool();
    s.serialPattern = settings.value(QStringLiteral("serial/pattern")).toString();
    return s;
}

QString settingsFilePath()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
        .filePath(QStringLiteral("Quillon/quillon.ini"));
}

static QString dataDir()
{
    QString dir = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return QDir(dir).filePath(QStringLiteral("Quillon"));
}

QString defaultRecordsFile(bool simulated)
{
    return QDir(dataDir()).filePath(simulated ? QStringLiteral("records-sim.sqlite")
                                              : QStringLiteral("records.sqlite"));
}

QString defaultSpillDir()
{
    return QDir(dataDir()).filePath(QStringLiteral("unwritten"));
}

QString hostName()
{
    const QString host = QSysInfo::machineHostName();
    return host.isEmpty() ? QStringLiteral("localhost") : host;
}

} // namespace quillon::records
