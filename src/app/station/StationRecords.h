#pragma once

#include "app/station/StationLineUpload.h"
#include "records/Recorder.h"
#include "records/RecordingDevice.h"
#include "records/RecordingOperator.h"
#include "records/RecordsSettings.h"

#include <QPointer>
#include <QString>

#include <memory>

class QWidget;

namespace quillon {

class DeviceLibrary;
class MainForm;
class Operator;

// The records of one station run: the recorder and the decorators the window talks
// through. Built before the main window, finished after it has closed.
class StationRecords {
public:
    // Null when the settings turn records off. program: "quillon" or "quillon-sim";
    // the simulated bench marks every record simulated and has a file of its own.
    static std::unique_ptr<StationRecords> create(const records::RecordsSettings &settings, DeviceLibrary &lib,
                                                  Operator &op, const QString &program, bool simulated);
    ~StationRecords();
    StationRecords(const StationRecords &) = delete;
    StationRecords &operator=(const StationRecords &) = delete;

    DeviceLibrary &device() { return m_device; }
    Operator &op() { return m_op; }
    records::Recorder &recorder() { return *m_recorder; }
    // Gives form's rows records/marginalPercent (attach() does it too).
    void applyMargin(MainForm &form) const;

    // Listens to form's runs and gives its rows the marginal setting; the first failure
    // to write shows one warning box over it, as does a long outage of the line database.
    void attach(MainForm &form);

    // The warning's text: the file, the reason, and where unwritten records will go.
    static QString warningText(const QString &file, const QString &reason, const QString &spillFile);

private:
    StationRecords(std::unique_ptr<records::Recorder> recorder, DeviceLibrary &lib, Operator &op);

    std::unique_ptr<records::Recorder> m_recorder;
    records::RecordingDevice m_device;
    records::RecordingOperator m_op;
    double m_marginPercent = 10.0;
    // Declared last: goes first, after the recorder has finished writing.
    std::unique_ptr<StationLineUpload> m_line;
};

} // namespace quillon
