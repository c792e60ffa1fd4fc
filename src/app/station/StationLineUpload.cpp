#include "app/station/StationLineUpload.h"

#include "records/RecordWriter.h"

#include <QMessageBox>
#include <QPointer>
#include <QWidget>

namespace quillon {

std::unique_ptr<StationLineUpload> StationLineUpload::create(const Settings &settings, records::RecordWriter &writer,
                                                             const QString &journalPath, const QString &stationName)
{
    if (settings.url.isEmpty())
        return nullptr;
    records::LineUploader::Options options;
    options.url = settings.url;
    options.journalPath = journalPath;
    options.stationName = stationName;
    options.outageWarningSeconds = std::max(1, settings.outageMinutes) * 60;
    std::unique_ptr<StationLineUpload> line(new StationLineUpload(std::move(options)));
    records::LineUploader *uploader = &line->m_uploader;
    // Emitted on the writer's thread; wake() may be called from any.
    QObject::connect(
        &writer, &records::RecordWriter::runFinished, uploader, [uploader] { uploader->wake(); }, Qt::DirectConnection);
    uploader->start();
    return line;
}

StationLineUpload::~StationLineUpload()
{
    m_uploader.drain(ExitWaitMs);
}

void StationLineUpload::attach(QWidget *window)
{
    QPointer<QWidget> parent(window);
    QObject::connect(&m_uploader, &records::LineUploader::longOutage, window, [parent](const QString &text) {
        if (!parent)
            return;
        auto *box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Quillon line database"), text,
                                    QMessageBox::Ok, parent);
        box->setObjectName(QStringLiteral("LineDatabaseWarning"));
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setModal(false);
        box->show();
    });
}

} // namespace quillon
