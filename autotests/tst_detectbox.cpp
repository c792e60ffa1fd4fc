// The detection error box with the real dialogs: the station stays live behind it, and
// an answer given late is handled exactly like one given at once (nothing times out).
#include "app/station/MainForm.h"

#include "device/TracingDevice.h"
#include "sim/SimBoard.h"
#include "ui/QtOperator.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QMessageBox>
#include <QTimer>

#include <gtest/gtest.h>

namespace quillon {
namespace {

// Counts paint events of the main window while the box is open.
class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

TEST(DetectionBox, WindowRepaintsWhileTheBoxIsOpenAndALateRetryFindsTheBoard)
{
    sim::SimBoard board;
    board.identity.boardsPresent = 0;
    TracingDevice trace(board);
    trace.setKeeping(true);
    QtOperator op;
    MainForm form(trace, op);
    op.setMainWindow(&form);
    PaintCounter counter;
    QWidget *label = form.findChild<QWidget *>(QStringLiteral("DetectLabel"));
    ASSERT_TRUE(label);
    label->installEventFilter(&counter);

    int boxes = 0;
    int paintsWhileOpen = 0;
    QString caption;
    QTimer poll;
    QElapsedTimer openFor;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        if (!openFor.isValid()) {
            openFor.start();
            counter.paints = 0;
            caption = box->windowTitle();
            ++boxes;
            label->update(); // something asks the station to repaint behind the box
            return;
        }
        if (openFor.elapsed() < 400) {
            label->update();
            return;
        }
        // A late answer: the board has been plugged in meanwhile, and Retry is pressed.
        paintsWhileOpen = counter.paints;
        board.identity.boardsPresent = 1;
        for (QAbstractButton *b : box->buttons())
            if (box->buttonRole(b) == QMessageBox::AcceptRole || b->text().contains(QLatin1String("Retry")))
                b->click();
        poll.stop();
    });
    poll.start(20);
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] {
        if (QWidget *w = QApplication::activeModalWidget())
            w->close();
    });
    guard.start(15000);

    form.show();
    QElapsedTimer wait;
    wait.start();
    while (form.detectLabelText() != QStringLiteral("Detected") && wait.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);

    EXPECT_EQ(boxes, 1);
    EXPECT_EQ(caption, QStringLiteral("No-Board Error"));
    EXPECT_GT(paintsWhileOpen, 0) << "the main window must repaint while the box is open";
    EXPECT_EQ(form.detectLabelText(), QStringLiteral("Detected"));
    EXPECT_EQ(board.clearDevicesCount(), 1);
    EXPECT_EQ(form.state().board.ChannelCount, 16);
    form.close();
}

} // namespace
} // namespace quillon
