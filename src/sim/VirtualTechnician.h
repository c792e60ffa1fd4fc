#pragma once

#include "station/Operator.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace quillon::sim {

class SimBoard;

// A scripted deviation from what the technician would do at one prompt. It matches
// the next prompt whose caption equals `caption`, or whose kind equals the part after
// "@" ("@DacRange", "@DacScale", "@ScopeQuestion", ...: needed where the caption is
// empty). Each override is used once, in order of appearance. An override replaces
// the technician's whole response: the bench is left as it is (no jig change).
struct TechnicianOverride {
    QString caption;
    std::optional<QString> press;                        // "OK", "Cancel", "Retry", "Yes", "No", "Close"
    std::optional<QString> type;                         // text prompt: type this, then OK unless press says otherwise
    std::optional<QList<std::optional<QString>>> fields; // DAC readings by DAC; nullopt entry: measure it
    std::optional<int> range;                            // DAC range item 0-3
    std::optional<QList<int>> picks;                     // D/A Cal Check items picked, in order
};

// One prompt as the technician saw and answered it.
struct PromptRecord {
    QString kind; // Warning, RetryCancel, JigInfo, YesNo, Text, DacRange, DacReading, DacScale, ScopeQuestion
    QString caption;
    QString text;
    QString answer;               // the button pressed ("OK", "Cancel", ..., "Close")
    std::optional<QString> typed; // Text: what was typed (also when cancelled)
    QStringList fields;           // DacReading: texts of the visible fields at close
    std::optional<int> range;     // DacRange: the item selected at close
    QList<int> picks;             // DacScale: items picked after the dialog opened
    int polls = 0;                // ScopeQuestion: polls before the answer
    int overrideIndex = -1;       // index of the override used, -1 when the technician chose
};

// The person at the simulated bench: obeys the prompts as a careful technician would.
// Moves the jig and the 10 V source, reads the meter at R11 and at the DAC outputs
// and types what it reads in the current QLocale's format, picks the range the board
// is jumpered for, and answers the D/A Cal Check and the scope question by looking at
// the simulated outputs. Never calls the station's own formatting helpers. GUI thread.
class VirtualTechnician final : public Operator {
public:
    explicit VirtualTechnician(SimBoard &board);
    ~VirtualTechnician() override;

    VirtualTechnician(const VirtualTechnician &) = delete;
    VirtualTechnician &operator=(const VirtualTechnician &) = delete;

    void setOverrides(const QList<TechnicianOverride> &overrides);
    const QList<TechnicianOverride> &overrides() const { return m_overrides; }
    // Indexes of overrides no prompt matched.
    QList<int> unusedOverrides() const;
    // Overrides that could not be carried out as written (a button the box lacks, a
    // text for a box that takes none, ...). Such a prompt gets the technician's default
    // button, without the bench work the override replaced.
    const QStringList &problems() const { return m_problems; }

    const QList<PromptRecord> &prompts() const { return m_prompts; }

    // Polls of the scope question before looking at the scope (two ramp periods of
    // 128 writes, and some).
    int scopePolls = 260;
    // Largest meter error the technician accepts at a D/A Cal Check level, volts.
    double dacToleranceVolts = 0.005;
    // processEvents() also serves the Qt event loop (off for tests without a window).
    bool serveEvents = true;
    // Run on every processEvents(), after the event pass (e.g. to press Stop).
    std::function<void()> onProcessEvents;

    int messageBox(BoxStyle style, const QString &caption, const QString &text) override;
    bool promptForText(const QString &caption, const QString &prompt, QString &value) override;
    int askDacRange() override;
    std::unique_ptr<DacReadingDialog> createDacReadingDialog() override;
    bool checkDacScale(const QString &label, const QStringList &items,
                       const std::function<void(int)> &onScaleClick) override;
    std::unique_ptr<AsyncQuestion> startQuestion(const QString &caption, const QString &text) override;
    void processEvents() override;

private:
    class ReadingDialog;
    class ScopeQuestion;

    // The first unused override for this prompt, marked used; -1 when none.
    int takeOverride(const QString &kind, const QString &caption);
    void problem(int overrideIndex, const QString &what);
    // Flags an override's actions that make no sense for this kind of prompt.
    void checkActions(int overrideIndex, const QString &kind);
    // Meter reading as a person types it: 4 decimals, the locale's separator.
    static QString typed(double volts);
    // Nominal output of a DAC code in the range the board is jumpered for.
    double nominalVolts(quint16 code) const;
    bool outputsAt(quint16 code) const;
    bool scopeLooksRight() const;

    SimBoard &m_board;
    QList<TechnicianOverride> m_overrides;
    QList<bool> m_used;
    QList<PromptRecord> m_prompts;
    QStringList m_problems;
};

} // namespace quillon::sim
