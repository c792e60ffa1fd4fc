#include "records/RecordsSettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSettings>
#include <QStandardPaths>
#include <QSysInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>

namespace quillon::records {

namespace {

// The keys read(), every one of them a single value.
const char *const Keys[] = {"records/enabled",           "records/file",   "records/required",
                            "records/lineDatabase",      "station/name",   "serial/ask",
                            "records/lineOutageMinutes", "serial/pattern", "records/marginalPercent"};

// "group/key" -> the text after '=' on its line, trimmed, of an INI file as it reads.
QHash<QString, QString> linesOf(const QString &path)
{
    QHash<QString, QString> out;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return out;
    QString text = QString::fromUtf8(file.readAll());
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    QString group;
    for (const QString &raw : text.split(QLatin1Char('\n'))) {
        const QString line = raw.trimmed();
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            group = line.mid(1, line.size() - 2).trimmed();
            if (group == QLatin1String("General"))
                group.clear();
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (line.startsWith(QLatin1Char(';')) || eq <= 0)
            continue;
        const QString key = line.left(eq).trimmed();
        out.insert(group.isEmpty() ? key : group + QLatin1Char('/') + key, line.mid(eq + 1).trimmed());
    }
    return out;
}

// The settings' values, each as the file says it. QSettings reads an INI value through
// its own escapes (a backslash escapes, a comma makes a list, a semicolon starts a
// comment), so "pattern=Q\d{6}" would read "Q{6}". A value is taken as QSettings reads
// it only when it is one value and its line is exactly what QSettings writes for it (a
// value QSettings wrote); otherwise it was written by hand and means its text.
QHash<QString, QVariant> valuesAsWritten(QSettings &settings)
{
    QHash<QString, QVariant> out;
    settings.sync(); // the file holds what the settings hold
    const QString path = settings.fileName();
    if (settings.format() != QSettings::IniFormat || !QFileInfo(path).isFile())
        return out;
    const QHash<QString, QString> lines = linesOf(path);
    QTemporaryDir dir;
    if (!dir.isValid())
        return out;
    const QString echoPath = dir.filePath(QStringLiteral("echo.ini"));
    {
        QSettings echo(echoPath, QSettings::IniFormat);
        for (const char *key : Keys)
            if (lines.contains(QLatin1String(key)))
                echo.setValue(QLatin1String(key), settings.value(QLatin1String(key)));
    }
    const QHash<QString, QString> echoed = linesOf(echoPath);
    for (const char *k : Keys) {
        const QString key = QLatin1String(k);
        if (!lines.contains(key))
            continue;
        const QVariant read = settings.value(key);
        const bool single = read.typeId() != QMetaType::QStringList;
        out.insert(key, single && echoed.value(key) == lines.value(key) ? read : QVariant(lines.value(key)));
    }
    return out;
}

} // namespace

// A count of days or minutes: a value that is no whole number or below 0 reads as the default.
template <typename Value>
int wholeOr(const Value &value, const char *key, int fallback)
{
    bool whole = false;
    const int n = value(key, fallback).toInt(&whole);
    return whole && n >= 0 ? n : fallback;
}

template <typename Value>
void readTrace(const Value &value, TraceSettings &t)
{
    t.askOperator = value("operator/ask", false).toBool();
    t.operatorPattern = value("operator/pattern").toString();
    t.operatorIdleMinutes = wholeOr(value, "operator/idleMinutes", t.operatorIdleMinutes);
    t.meter = value("instruments/meter").toString().trimmed();
    t.askMeter = value("instruments/ask", false).toBool();
    t.graceDays = wholeOr(value, "instruments/graceDays", t.graceDays);
    t.enforce = value("instruments/enforce", true).toBool();
    t.askEnvironment = value("environment/ask", false).toBool();
    t.temperature = value("environment/temperature").toString().trimmed();
    t.humidity = value("environment/humidity").toString().trimmed();
}

RecordsSettings RecordsSettings::read(QSettings &settings)
{
    const QHash<QString, QVariant> written = valuesAsWritten(settings);
    auto value = [&](const char *key, const QVariant &fallback = {}) {
        const QString k = QLatin1String(key);
        return written.contains(k) ? written.value(k) : settings.value(k, fallback);
    };
    RecordsSettings s;
    s.enabled = value("records/enabled", true).toBool();
    s.file = value("records/file").toString();
    s.required = value("records/required", false).toBool();
    s.lineDatabase = value("records/lineDatabase").toString();
    s.lineOutageMinutes = value("records/lineOutageMinutes", 60).toInt();
    s.station = value("station/name").toString();
    s.askSerial = value("serial/ask", false).toBool();
    s.serialPattern = value("serial/pattern").toString();
    bool number = false;
    const double margin = value("records/marginalPercent", s.marginalPercent).toDouble(&number);
    if (number && std::isfinite(margin) && margin >= 0.0)
        s.marginalPercent = std::min(margin, 50.0);
    readTrace(value, s.trace);
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
