// quillon-sim's first placement of its windows on common screens. The screen is fixed
// once the QApplication exists, so the test runs itself again per screen size, in a
// child process on the offscreen platform configured to that size. The child opens
// the station as quillon-sim does, runs a detection that asks (no board, old firmware)
// and a whole Test All, answers every prompt as a technician reading the bench would,
// and checks the frames: the result labels stay in view, covered neither by the bench
// nor by the notes window; every prompt stays on the screen and clear of the bench
// (which rises with an open prompt; the notes window, shown before, stays under it);
// on a large enough screen no window overlaps another. Then the user moves the windows
// and closes the notes, and a detection showing them again moves nothing back.
#include "app/sim/SimStation.h"
#include "app/station/MainForm.h"

#include "device/TracingDevice.h"
#include "sim/PromptFollower.h"
#include "sim/SimBoard.h"
#include "sim/bench/BenchWindow.h"
#include "ui/BlurbForm.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QProcessEnvironment>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

namespace quillon {
namespace {

constexpr char ScreenVariable[] = "QUILLON_PLACEMENT_SCREEN"; // "WxH" in the child

std::string describe(const QRect &r)
{
    return QStringLiteral("%1x%2+%3+%4").arg(r.width()).arg(r.height()).arg(r.x()).arg(r.y()).toStdString();
}

struct Prompt {
    QString name;
    QString caption;
    QRect frame;
    QRect bench; // the bench's frame while the prompt was open
};

// Answers whatever the station asks, as a careful technician with the bench's meter:
// Retry once the board is plugged in, OK and Yes, the meter's readings typed in.
class Technician : public QObject {
public:
    Technician(sim::SimBoard &board, MainForm &form, const sim::BenchWindow &bench)
        : m_board(board), m_form(form), m_bench(bench)
    {
        connect(&m_poll, &QTimer::timeout, this, &Technician::poll);
        m_poll.start(10);
    }

    std::vector<Prompt> prompts;
    bool finished = false;

private:
    QString reading(double volts) const { return QLocale().toString(volts, 'f', 4); }

    void poll()
    {
        if (QWidget *prompt = openPrompt()) {
            prompts.push_back(
                {prompt->objectName(), prompt->windowTitle(), prompt->frameGeometry(), m_bench.frameGeometry()});
            answer(prompt);
            return;
        }
        if (m_form.handlerDepth() != 0)
            return;
        if (!m_testAllClicked && m_form.detectLabelText() == QLatin1String("Detected")) {
            m_testAllClicked = true;
            // Queued: the run must not nest inside this poll.
            QMetaObject::invokeMethod(m_form.findChild<QAbstractButton *>(QStringLiteral("TestAllButton")), "click",
                                      Qt::QueuedConnection);
        } else if (m_testAllClicked && m_form.overallLabelText() != QLatin1String("untested")) {
            m_poll.stop();
            finished = true;
        }
    }

    QWidget *openPrompt() const
    {
        if (QWidget *modal = QApplication::activeModalWidget())
            return modal;
        for (QWidget *w : QApplication::topLevelWidgets())
            if (w->isVisible() && w->objectName() == QLatin1String("PolledQuestionBox"))
                return w;
        return nullptr;
    }

    void answer(QWidget *prompt)
    {
        if (auto *box = qobject_cast<QMessageBox *>(prompt)) {
            if (box->windowTitle() == QLatin1String("No-Board Error"))
                m_board.identity.boardsPresent = 1;
            else if (box->windowTitle() == QLatin1String("Old Firmware Warning"))
                m_board.identity.firmwareReply = {1, 0, 0, 0};
            box->defaultButton()->click();
            return;
        }
        if (auto *edit = prompt->findChild<QLineEdit *>(QStringLiteral("PromptEdit")))
            edit->setText(reading(m_board.meterReference()));
        for (int dac = 0; dac < 4; ++dac)
            if (auto *edit = prompt->findChild<QLineEdit *>(QStringLiteral("DacEdit%1").arg(dac)))
                edit->setText(reading(m_board.meterDac(dac)));
        for (const char *name : {"OkButton", "YesButton"})
            if (auto *button = prompt->findChild<QAbstractButton *>(QLatin1String(name))) {
                button->click();
                return;
            }
        ADD_FAILURE() << "no way to answer " << prompt->objectName().toStdString();
        prompt->close();
    }

    sim::SimBoard &m_board;
    MainForm &m_form;
    const sim::BenchWindow &m_bench;
    QTimer m_poll;
    bool m_testAllClicked = false;
};

void checkScreen()
{
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const bool roomy = screen.width() >= 1366 && screen.height() >= 768;

    sim::SimBoard board;
    board.identity.boardsPresent = 0;            // the first detection asks to Retry
    board.identity.firmwareReply = {2, 0, 0, 0}; // then warns about the firmware
    TracingDevice trace(board);
    std::unique_ptr<Technician> tech;
    QPointer<sim::BenchWindow> bench;
    QPointer<MainForm> form;
    QRect station, notes, benchFrame;
    std::vector<QRect> labels;
    std::vector<QPoint> moved; // where the user put the station, the bench and the notes

    const int code = runSimStation(board, trace, [&](sim::PromptFollower &follower, QWidget &window) {
        form = qobject_cast<MainForm *>(&window);
        ASSERT_TRUE(form);
        bench = openBench(board, trace, follower, window);
        tech = std::make_unique<Technician>(board, *form, *bench);
        auto *watch = new QTimer(form);
        QObject::connect(watch, &QTimer::timeout, form, [&] {
            BlurbForm *blurb = form->blurbForm();
            if (!tech->finished || !blurb || form->handlerDepth() != 0)
                return;
            if (moved.empty()) {
                station = form->frameGeometry();
                benchFrame = bench->frameGeometry();
                EXPECT_TRUE(blurb->isVisible());
                notes = blurb->frameGeometry();
                for (int i = 0; i < form->rowCount(); ++i) {
                    const QLabel *label = form->record(i).ResultLabel;
                    labels.push_back(QRect(label->mapToGlobal(QPoint(0, 0)), label->size()));
                }
                // The user moves every window and closes the notes; Detect shows them again.
                for (QWidget *w : std::initializer_list<QWidget *>{form, bench, blurb}) {
                    w->move(w->pos() + QPoint(12, 10));
                    moved.push_back(w->pos());
                }
                blurb->hide();
                QMetaObject::invokeMethod(form->findChild<QAbstractButton *>(QStringLiteral("DetectButton")), "click",
                                          Qt::QueuedConnection);
            } else if (blurb->isVisible()) {
                EXPECT_EQ(form->pos(), moved[0]) << "the station stays where the user put it";
                EXPECT_EQ(bench->pos(), moved[1]) << "the bench stays where the user put it";
                EXPECT_EQ(blurb->pos(), moved[2]) << "the notes stay where the user put them";
                form->close();
            }
        });
        watch->start(20);
        QTimer::singleShot(60'000, form, [&] {
            ADD_FAILURE() << "the run did not finish";
            QApplication::closeAllWindows();
        });
    });
    ASSERT_EQ(code, 0);
    ASSERT_TRUE(tech && tech->finished);

    SCOPED_TRACE("station " + describe(station) + ", bench " + describe(benchFrame) + ", notes " + describe(notes));
    ASSERT_EQ(labels.size(), 11u);
    for (const QRect &label : labels) {
        EXPECT_TRUE(screen.contains(label)) << "result label at " << describe(label) << " off the screen";
        EXPECT_FALSE(label.intersects(benchFrame)) << "bench covers the result label at " << describe(label);
        EXPECT_FALSE(label.intersects(notes)) << "notes cover the result label at " << describe(label);
    }
    EXPECT_FALSE(station.intersects(benchFrame)) << "the bench covers the station's rows";

    QSet<QString> kinds;
    for (const Prompt &p : tech->prompts) {
        kinds.insert(p.name);
        SCOPED_TRACE(p.caption.toStdString());
        EXPECT_TRUE(screen.contains(p.frame)) << describe(p.frame) << " off the screen";
        EXPECT_FALSE(p.frame.intersects(p.bench)) << "bench " << describe(p.bench) << " covers " << describe(p.frame);
    }
    EXPECT_EQ(kinds, (QSet<QString>{"SystemMessageBox", "PromptForTextDialog", "DacRangeDialog", "DacReadingDialog",
                                    "DacScaleDialog", "PolledQuestionBox"}));

    if (roomy) {
        EXPECT_FALSE(station.intersects(notes));
        EXPECT_FALSE(benchFrame.intersects(notes));
        for (const QRect &w : {station, benchFrame})
            EXPECT_TRUE(screen.contains(w)) << describe(w) << " off the screen";
    }
}

TEST(SimPlacement, ResultLabelsAndPromptsStayInViewOnCommonScreens)
{
    const QByteArray size = qgetenv(ScreenVariable);
    if (!size.isEmpty()) {
        checkScreen();
        return;
    }
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const QSize screen : {QSize(1024, 768), QSize(1280, 800), QSize(1366, 768), QSize(1920, 1080)}) {
        const QString name = QStringLiteral("%1x%2").arg(screen.width()).arg(screen.height());
        SCOPED_TRACE(name.toStdString());
        const QString config = dir.filePath(name + QStringLiteral(".json"));
        QFile file(config);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QStringLiteral(R"({"windowFrameMargins": true, "screens": [{"name": "screen", "x": 0, "y": 0,
            "width": %1, "height": %2, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})")
                       .arg(screen.width())
                       .arg(screen.height())
                       .toUtf8());
        file.close();

        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QString::fromLatin1(ScreenVariable), name);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen:configfile=") + config);
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--gtest_filter=SimPlacement.ResultLabelsAndPromptsStayInViewOnCommonScreens")});
        ASSERT_TRUE(child.waitForStarted());
        // Bounded by the test's own CTest timeout as well.
        ASSERT_TRUE(child.waitForFinished(100'000));
        const QString output = QString::fromLocal8Bit(child.readAll());
        EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
        EXPECT_TRUE(output.contains(QLatin1String("[  PASSED  ] 1 test"))) << output.toStdString();
    }
}

} // namespace
} // namespace quillon
