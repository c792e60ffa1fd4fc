#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

class QMessageBox;

namespace quillon {

// The D/A Ramp's scope question. Qt widgets live on the GUI thread, so instead of a
// second thread this shows a modeless, ownerless box on the GUI thread; the caller
// keeps working and polls IsDone() after each pass of the event loop. Owned by the
// caller; deleting it closes the box if it is still open.
class TAskThread : public QObject {
    Q_OBJECT
public:
    // Constructed suspended: nothing is shown until Start() or Resume().
    explicit TAskThread(QObject *parent = nullptr);
    ~TAskThread() override;

    QString Text;
    QString Caption;
    int Answer = 0;  // the system's result code: 6 Yes, 7 No
    int Buttons = 4; // Yes and No
    int Icon = 32;   // question mark

    // Shows the box with copies of Text and Caption; later calls do nothing.
    void Start();
    void Resume() { Start(); }

    // True once the box has been answered or closed. Never blocks.
    bool IsDone() const { return m_done; }

    // The open box (null before Start() and after it is answered).
    QMessageBox *box() const;

    // Closes the box as its escape button would (Answer 7 for Yes/No); before Start()
    // it answers the same way without showing anything. IsDone() is true afterwards.
    void Abandon();

    static constexpr const char *BoxObjectName = "AskThreadBox";

private:
    void finish();

    QPointer<QMessageBox> m_box;
    bool m_started = false;
    bool m_done = false;
};

} // namespace quillon
