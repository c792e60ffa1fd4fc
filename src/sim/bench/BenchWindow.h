#pragma once

#include "sim/SimBoard.h"

#include <QPointer>
#include <QWidget>

#include <functional>

class QBoxLayout;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QRadioButton;
class QSpinBox;
class QTimer;

namespace quillon {
class TracingDevice;
}

namespace quillon::sim {

class FaultPanel;
class ScopeView;
class TrafficView;

// What the bench may touch beyond the board and its call log. Everything optional.
struct BenchHooks {
    // Switches the jig's prompt follower on or off (null: there is none, the box is
    // disabled).
    std::function<void(bool)> setFollowPrompts;
    bool followPrompts = true;
    // The board's clock, so the scope's right edge is the board's "now".
    Clock clock = steadyMicros;
};

// The "Simulated bench" window of quillon-sim: the board on the bench, the jig, a
// meter, a scope on the DACs, the fault switches and the library traffic. Reads and
// drives the SimBoard through its public settings only; the station does not know
// it exists. Both references must outlive the window.
class BenchWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int RefreshMs = 100;
    // The narrowest bench placed beside the station (its contents scroll), and the
    // widths under which the jig and the meter, and the meter's source and reading,
    // stack.
    static constexpr int LeastWidth = 220;
    static constexpr int HandsStackBelow = 480;
    static constexpr int MeterStackBelow = 320;
    // The widest prompt of the station (its DAC dialogs are 512 wide; message boxes
    // wrap before that), frame not included.
    static constexpr int PromptWidth = 520;

    BenchWindow(SimBoard &board, TracingDevice &trace, BenchHooks hooks = {}, QWidget *parent = nullptr);

    // One pass of what the timer does: jig controls follow the board, the meter is
    // read, the traffic list re-read.
    void refresh();
    // Moves the window next to other, clear of it where the screen has room, so the
    // station and the bench are both in view.
    void placeBeside(const QWidget &other);
    // quillon-sim's first placement, once the station is shown: the bench clear of the
    // station, of every prompt the station may open and, where the screen has room, of
    // the notes window (which stays where the station put it). The station may move
    // to make room; it keeps its size. Call it once: afterwards the windows stay where
    // the user puts them.
    void placeWithStation(QWidget &station, QWidget *notes);

    // Product ids the bench offers: every supported variant, then a few wrong ones.
    static QList<quint32> offeredProductIds();
    // "0x8140 — 16 channels, DACs" and the like.
    static QString describeProductId(quint32 id);

protected:
    // The station's prompts are application-modal, yet the technician must work the
    // meter, jig and switches while one is open: a blocked bench hangs itself under
    // the open prompt (a transient window of it) and so stays usable.
    bool event(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *buildBoard();
    QWidget *buildJig();
    QWidget *buildMeter();
    QWidget *buildTiming();
    void applyIdentity();
    void plugIn();
    void syncJig();
    void readMeter();
    void updateScopeRange();
    void applyFrame(const QRect &frame, const QMargins &margins);

    SimBoard &m_board;
    TracingDevice &m_trace;
    BenchHooks m_hooks;
    QTimer *m_timer;
    QBoxLayout *m_hands = nullptr;
    QBoxLayout *m_meter = nullptr;
    QPointer<QWidget> m_notes; // the notes window the bench opened over, if it did

    QComboBox *m_productId = nullptr;
    QLineEdit *m_firmware = nullptr;
    QLineEdit *m_revision = nullptr;
    QCheckBox *m_newerThanRevD = nullptr;
    QSpinBox *m_boards = nullptr;
    QLineEdit *m_queryStatus = nullptr;
    QCheckBox *m_calSupported = nullptr;
    QLineEdit *m_busVerdict = nullptr;
    QComboBox *m_dacRange = nullptr;

    QCheckBox *m_jigConnected = nullptr;
    QCheckBox *m_sourceOn = nullptr;
    QRadioButton *m_polarityPlus = nullptr;
    QRadioButton *m_polarityMinus = nullptr;
    QCheckBox *m_follow = nullptr;

    QComboBox *m_meterSource = nullptr;
    QLabel *m_meterValue = nullptr;

    ScopeView *m_scope = nullptr;
    FaultPanel *m_faults = nullptr;
    TrafficView *m_traffic = nullptr;
};

} // namespace quillon::sim
