// Program start: the display check, the device library error path, and a whole
// station run over the simulated board in this process.
#include "app/station/MainForm.h"
#include "app/station/StationMain.h"

#include "device/TracingDevice.h"
#include "sim/SimBoard.h"
#include "ui/BlurbForm.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

#include <gtest/gtest.h>

#include <optional>

namespace quillon {
namespace {

// Sets or clears environment variables for one test and puts them back after.
class EnvGuard {
public:
    void set(const char *name, const std::optional<QByteArray> &value)
    {
        m_saved.append({name, qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt});
        if (value)
            qputenv(name, *value);
        else
            qunsetenv(name);
    }
    ~EnvGuard()
    {
        for (auto it = m_saved.crbegin(); it != m_saved.crend(); ++it) {
            if (it->second)
                qputenv(it->first, *it->second);
            else
                qunsetenv(it->first);
        }
    }

private:
    QList<std::pair<const char *, std::optional<QByteArray>>> m_saved;
};

TEST(Startup, DisplayIsFoundFromTheEnvironment)
{
    struct Case {
        std::optional<QByteArray> display, wayland, platform;
        bool expected;
    };
    const Case cases[] = {
        {std::nullopt, std::nullopt, std::nullopt, false},
        {QByteArray(), QByteArray(), QByteArray(), false},
        {QByteArray(":0"), std::nullopt, std::nullopt, true},
        {std::nullopt, QByteArray("wayland-0"), std::nullopt, true},
        {std::nullopt, std::nullopt, QByteArray("offscreen"), true},
    };
    for (const Case &c : cases) {
        EnvGuard env;
        env.set("DISPLAY", c.display);
        env.set("WAYLAND_DISPLAY", c.wayland);
        env.set("QT_QPA_PLATFORM", c.platform);
        EXPECT_EQ(hasDisplay(), c.expected);
    }
    const QString message = noDisplayMessage(QStringLiteral("quillon-sim"));
    EXPECT_TRUE(message.startsWith(QStringLiteral("quillon-sim: ")));
    EXPECT_TRUE(message.contains(QStringLiteral("xvfb-run")));
    EXPECT_TRUE(message.contains(QStringLiteral("--scenario")));
    EXPECT_FALSE(message.contains(QLatin1Char('\n')));
}

TEST(Startup, MissingDeviceLibraryShowsOneErrorAndExitsWithOne)
{
    const QString library = QStringLiteral("/nonexistent/quillon-test/libvexlo-missing.so");
    QStringList boxes;
    // Answers every modal box that appears; the station must show exactly one.
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            boxes << box->text();
            EXPECT_EQ(box->icon(), QMessageBox::Critical);
            box->accept();
        }
    });
    answer.start(10);
    QTimer guard; // ends a hung run instead of waiting for the CTest timeout
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] {
        for (QWidget *w : QApplication::topLevelWidgets())
            w->close();
        QCoreApplication::quit();
    });
    guard.start(10000);

    EXPECT_EQ(productionMain(library), 1);
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_TRUE(boxes[0].contains(library)) << qPrintable(boxes[0]);
    EXPECT_TRUE(guard.isActive()) << "the error path must not wait for the guard";
}

TEST(Startup, StationRunsDetectsAndEndsWhenTheWindowCloses)
{
    sim::SimBoard board;
    TracingDevice device(board);
    device.setKeeping(true);
    QString detected;
    bool notesShown = false;
    QPointer<MainForm> window;
    const int code = runStation(device, [&](MainForm &form) {
        window = &form;
        EXPECT_EQ(form.windowTitle(), QStringLiteral("MainForm"));
        EXPECT_TRUE(form.isVisible());
        EXPECT_FALSE(form.blurbForm()->isVisible());
        QTimer::singleShot(100, &form, [&form, &detected, &notesShown] {
            detected = form.detectLabelText();
            notesShown = form.blurbForm() && form.blurbForm()->isVisible();
            form.close();
        });
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(detected, QStringLiteral("Detected"));
    EXPECT_TRUE(notesShown);
    EXPECT_TRUE(window.isNull()) << "the window lives only as long as the run";
    int detections = 0;
    for (const LibraryCall &c : device.calls())
        detections += c.function == QStringLiteral("GetDevices");
    EXPECT_EQ(detections, 1);
    EXPECT_EQ(QCoreApplication::applicationName(), QStringLiteral("Quillon"));
}

TEST(Startup, ClosingTheWindowDuringAPromptEndsTheProgram)
{
    // No board: detection waits in its Retry/Cancel box when the window is closed.
    sim::SimBoard board;
    board.identity.boardsPresent = 0;
    QString boxSeen;
    QString detected;
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] {
        for (QWidget *w : QApplication::topLevelWidgets())
            w->close();
        QCoreApplication::quit();
    });
    guard.start(10000);
    const int code = runStation(board, [&](MainForm &form) {
        auto *poll = new QTimer(&form);
        QObject::connect(poll, &QTimer::timeout, &form, [&form, &boxSeen, &detected, poll] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            poll->stop();
            boxSeen = box->windowTitle();
            detected = form.detectLabelText();
            form.close();
        });
        poll->start(10);
    });
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(guard.isActive()) << "the program ended by itself";
    EXPECT_EQ(boxSeen, QStringLiteral("No-Board Error"));
    EXPECT_EQ(detected, QStringLiteral("detecting..."));
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_LE(board.clearDevicesCount(), 1) << "no Retry after the window closed";
}

} // namespace
} // namespace quillon
