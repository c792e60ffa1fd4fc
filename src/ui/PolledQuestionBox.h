#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

class QMessageBox;

namespace quillon {

// The D/A Ramp's scope question: a modeless, ownerless question box on the GUI thread
// that the ramp polls with isDone() after each write and pass of the event loop, so the
// ramp keeps running while the box is open. Owned by the caller; deleting it closes the
// box if it is still open.
class PolledQuestionBox : public QObject {
    Q_OBJECT
public:
    // Nothing is shown until start().
    explicit PolledQuestionBox(QObject *parent = nullptr);
    ~PolledQuestionBox() override;

    QString text;
    QString caption;
    int answer = 0;  // the system's result code: 6 Yes, 7 No
    int buttons = 4; // Yes and No
    int icon = 32;   // question mark

    // Shows the box with copies of text and caption; later calls do nothing.
    void start();

    // True once the box has been answered or closed. Never blocks.
    bool isDone() const { return m_done; }

    // The open box (null before start() and after it is answered).
    QMessageBox *box() const;

    // Closes the box as its escape button would (answer 7 for Yes/No); before start()
    // it answers the same way without showing anything. isDone() is true afterwards.
    void abandon();

    static constexpr const char *BoxObjectName = "PolledQuestionBox";

private:
    void finish();

    QPointer<QMessageBox> m_box;
    bool m_started = false;
    bool m_done = false;
};

} // namespace quillon
