#include "app/station/StationRecords.h"

#include "app/station/MainForm.h"

#include "device/DeviceLibrary.h"

#include <QDir>
#include <QFileInfo>
#include <QMessageBox>

#include <memory>

namespace quillon {

std::unique_ptr<StationRecords> StationRecords::create(const records::RecordsSettings &settings, DeviceLibrary &lib,
                                                       Operator &op, const QString &program, bool simulated)
{
    if (!settings.enabled)
        return nullptr;
    records::RecordWriter::Options options;
    options.path =
        QFileInfo(settings.file.isEmpty() ? records::defaultRecordsFile(simulated) : settings.file).absoluteFilePath();
    options.spillDir = records::defaultSpillDir();
    // The default file's folder may not exist yet; a named file's folder is the user's.
    if (settings.file.isEmpty())
        QDir().mkpath(QFileInfo(options.path).absolutePath());
    records::StationIdentity station;
    station.name = settings.station.isEmpty() ? records::hostName() : settings.station;
    station.host = records::hostName();
    station.program = program;
    station.version = QStringLiteral(QUILLON_VERSION);
    station.library = lib.description();
    station.simulated = simulated;
    auto recorder = std::make_unique<records::Recorder>(options, station);
    recorder->setRequired(settings.required);
    recorder->setSerialPrompt(settings.askSerial, settings.serialPattern);
    recorder->setTrace(settings.trace);
    recorder->setMarginPercent(settings.marginalPercent);
    std::unique_ptr<StationRecords> records(new StationRecords(std::move(recorder), lib, op));
    records->m_marginPercent = settings.marginalPercent;
    records->m_line = StationLineUpload::create({settings.lineDatabase, settings.lineOutageMinutes},
                                                records->m_recorder->writer(), options.path, station.name);
    return records;
}

StationRecords::StationRecords(std::unique_ptr<records::Recorder> recorder, DeviceLibrary &lib, Operator &op)
    : m_recorder(std::move(recorder)), m_device(lib, *m_recorder), m_op(op, *m_recorder)
{
}

StationRecords::~StationRecords()
{
    m_recorder->finish();
}

QString StationRecords::warningText(const QString &file, const QString &reason, const QString &spillFile)
{
    return QStringLiteral("The records of this station cannot be written to %1 (%2).\n\n"
                          "Testing goes on. The records are kept and written as soon as the file can be written "
                          "again; whatever is still unwritten when the program closes is saved to %3.")
        .arg(file, reason, spillFile);
}

void StationRecords::applyMargin(MainForm &form) const
{
    for (int i = 0; i < form.rowCount(); ++i)
        form.row(i).setMarginPercent(m_marginPercent);
}

void StationRecords::attach(MainForm &form)
{
    form.setRunListener(m_recorder.get());
    applyMargin(form);
    if (m_line)
        m_line->attach(&form);
    QPointer<MainForm> window(&form);
    auto shown = std::make_shared<bool>(false);
    auto warn = [window, shown](const QString &file, const QString &reason, const QString &spill) {
        if (*shown || !window || window->closing())
            return;
        *shown = true;
        // Not modal: the test under way goes on behind it.
        auto *box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Quillon records"),
                                    warningText(file, reason, spill), QMessageBox::Ok, window);
        box->setObjectName(QStringLiteral("RecordsWarning"));
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setModal(false);
        box->show();
    };
    records::RecordWriter &writer = m_recorder->writer();
    QObject::connect(&writer, &records::RecordWriter::storeFailed, &form, warn);
    // A failure before the window existed was signalled to nobody.
    if (const auto failure = writer.firstFailure())
        QMetaObject::invokeMethod(
            &form, [warn, &writer, failure] { warn(writer.path(), failure->reason, failure->spillFile); },
            Qt::QueuedConnection);
}

} // namespace quillon
