#pragma once

#include "records/line/LineUploader.h"

#include <QString>

#include <memory>

class QWidget;

namespace quillon {

namespace records {
class RecordWriter;
}

// A station's uploads to the line database: the uploader over the station's records
// file, woken by every run end the writer commits. Built when a line database is
// configured; gives the last runs a few seconds to go up when the program closes.
class StationLineUpload {
public:
    struct Settings {
        QString url;            // records/lineDatabase or --line-db
        int outageMinutes = 60; // records/lineOutageMinutes: one warning box after this long
    };

    // Null when no line database is configured.
    static std::unique_ptr<StationLineUpload> create(const Settings &settings, records::RecordWriter &writer,
                                                     const QString &journalPath, const QString &stationName);
    ~StationLineUpload();
    StationLineUpload(const StationLineUpload &) = delete;
    StationLineUpload &operator=(const StationLineUpload &) = delete;

    // After a long outage, one warning box over window (not modal: testing goes on).
    void attach(QWidget *window);

    records::LineUploader &uploader() { return m_uploader; }

    // How long the program waits at exit for the last runs to go up (the rest wait in
    // the file for the next start).
    static constexpr int ExitWaitMs = 5000;

private:
    explicit StationLineUpload(records::LineUploader::Options options) : m_uploader(std::move(options)) {}
    records::LineUploader m_uploader;
};

} // namespace quillon
