#pragma once

#include "records/Record.h"
#include "records/RecordWriter.h"
#include "records/Traceability.h"
#include "station/Operator.h"
#include "station/RunListener.h"

#include <QByteArray>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace quillon::records {

// Who writes the records: one station row per combination.
struct StationIdentity {
    QString name;
    QString host;
    QString program; // "quillon", "quillon-sim"
    QString version;
    QString library; // the device library (path or description)
    bool simulated = false;
};

// Turns what the station does into records and hands them to the writer. Hears the
// window through RunListener, the prompts through RecordingOperator and the library
// through RecordingDevice. Lives on the GUI thread; each event costs an enqueue.
class Recorder final : public RunListener {
public:
    Recorder(const RecordWriter::Options &options, StationIdentity station);
    ~Recorder() override;
    Recorder(const Recorder &) = delete;
    Recorder &operator=(const Recorder &) = delete;

    RecordWriter &writer() { return *m_writer; }
    const StationIdentity &station() const { return m_station; }
    QString stationId() const { return m_stationId; }

    // The operator the recorder itself asks through (the unit serial, the refusal of
    // an unrecordable Test All): the one behind the RecordingOperator, so its own
    // prompts are recorded by kind rather than twice.
    void setOperator(Operator *op) { m_op = op; }
    // Test All first asks for the unit serial, which must match pattern (whole).
    void setSerialPrompt(bool ask, const QString &pattern = {});
    // Who tests and with what: the operator and environment prompts before Test All, the
    // meter check before the rows that read the meter.
    void setTrace(const TraceSettings &trace);
    // The marginal band (percent) the rows apply, recorded on every run.
    void setMarginPercent(double percent) { m_marginPercent = percent; }
    // Test All refuses to start while the file cannot be written.
    void setRequired(bool required) { m_required = required; }

    // Called after each prompt and each library call (the scripted runs' timeline).
    enum class Tap { Prompt, Call };
    void setTap(std::function<void(Tap)> tap) { m_tap = std::move(tap); }
    void tap(Tap what)
    {
        if (m_tap)
            m_tap(what);
    }

    // Runs begun in this process, in order.
    const QStringList &runIds() const { return m_runIds; }

    // Stops the writer: everything written, or saved to its JSON file. Returns the
    // number of records saved there.
    int finish();

    // RunListener
    void detectionStarting() override;
    void detectionEnded(bool found, const QString &label, const BoardConfig &board) override;
    bool testAllStarting() override;
    void testAllEnded(bool completed, const QString &overall) override;
    void rowStarting(int digit) override;
    void rowEnded(const RowOutcome &outcome, bool closing) override;
    void measured(const Measurement &m) override;
    std::optional<QString> rowRefused(int digit) override;

    // From the decorators. shown/answered are utcNow() stamps; answered empty: none.
    void prompt(const QString &kind, const QString &caption, const QString &text, const QString &answer,
                const std::optional<QString> &typed, const QString &shown, const QString &answered);
    void eepromWrite(quint16 address, const QByteArray &bytes, quint32 status);
    void deviceQueried(quint32 status, quint32 productId, const QByteArray &name);
    void vendorRead(quint8 request, const QByteArray &reply);

private:
    struct OpenRun {
        QString id;
        int rowDigit = -1;        // the row that began a single-row run, else -1
        std::size_t rowDepth = 0; // rows on the stack when it began
        int rows = 0;
        int prompts = 0;
        int writes = 0;
        int instruments = 0;
        QStringList assets;       // instruments recorded on the run
        bool meterWarned = false; // the unusable meter's box was shown in this run
    };
    // One text prompt, recorded once its run is known.
    struct Asked {
        QString kind, caption, text, answer, shown, answered;
        std::optional<QString> typed;
    };
    struct OpenRow {
        int digit = 0;
        QString started;
    };

    std::uint64_t put(Record record);
    void beginRun(const QString &kind, int digit, const QString &serial, const QString &id = {});
    void endRun(const QString &state, const QString &overall);
    void waitDurable(std::uint64_t ticket);
    // Asks caption until what is typed matches pattern (whole) or Cancel; noun names the
    // value in the reason of a repeated prompt.
    std::optional<QString> askText(const QString &kind, const QString &caption, const QRegularExpression &pattern,
                                   const QString &patternText, const QString &noun, std::vector<Asked> &asked);
    void recordAsked(const std::vector<Asked> &asked);
    bool operatorDue() const;
    // The operator and environment prompts due before a Test All; false on Cancel.
    bool askWhoAndWhere(std::vector<Asked> &asked);
    int tell(BoxStyle style, const QString &caption, const QString &text);
    std::optional<Instrument> lookUpInstrument(const QString &assetId);
    void recordInstrument(OpenRun &run, const QString &assetId, const std::optional<Instrument> &entry,
                          InstrumentStatus status, const QString &note);
    bool refuseUnwritable();

    std::unique_ptr<RecordWriter> m_writer;
    StationIdentity m_station;
    QString m_stationId;
    Operator *m_op = nullptr;
    bool m_askSerial = false;
    QRegularExpression m_serialPattern; // anchored: the whole serial must match
    QString m_serialPatternText;
    bool m_required = false;
    TraceSettings m_trace;
    double m_marginPercent = 10.0;
    QRegularExpression m_operatorPattern;
    QString m_operatorId; // as given or typed
    QString m_temperature, m_humidity;
    bool m_environmentAsked = false;
    std::optional<std::chrono::steady_clock::time_point> m_lastRunEnd;
    QString m_askedMeter;    // the meter scanned in this program session
    bool m_reminded = false; // the due-soon reminder was shown
    QString m_registerConnection;
    std::function<void(Tap)> m_tap;

    // The current session (detection) and what the library said during it.
    QString m_sessionId;
    QVariant m_productId;
    int m_sessionPrompts = 0;
    QString m_detectStarted;
    quint32 m_queriedProduct = 0;
    bool m_queried = false;
    QByteArray m_boardName, m_firmwareReply, m_revisionReply;
    bool m_detecting = false;

    // Open runs, innermost last (a Test All clicked while a row's own test runs nests).
    std::vector<OpenRun> m_runs;
    std::vector<OpenRow> m_rows; // rows whose tests are on the stack
    int m_looseWrites = 0;       // EEPROM writes outside any run
    QStringList m_runIds;
};

} // namespace quillon::records
