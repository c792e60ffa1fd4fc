// The station over the simulated board, for development, training and demonstrations.
#include "app/station/PlatformNoise.h"
#include "app/sim/SimScenarioRunner.h"
#include "app/sim/SimStation.h"
#include "app/station/StationMain.h"
#include "app/station/StationOptions.h"

#include "device/TracingDevice.h"
#include "sim/PromptFollower.h"
#include "sim/SimBoard.h"

#include <QApplication>
#include <QTextStream>

#include <clocale>
#include <cstdio>

int main(int argc, char **argv)
{
    quillon::quietPlatformNoise();
    // quillon-sim --scenario FILE [--report FILE]: a scripted run, headless.
    if (quillon::isScenarioCommandLine(argc, argv))
        return quillon::simScenarioMain(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    quillon::StationOptions options;
    if (quillon::asksHelpOrVersion(argc, argv)) {
        if (const int code = quillon::parseStationOptions(quillon::rawArguments(argc, argv), true, options, out, err);
            code >= 0)
            return code;
    }
    if (!quillon::hasDisplay()) {
        std::fprintf(stderr, "%s\n", qPrintable(quillon::noDisplayMessage(QStringLiteral("quillon-sim"))));
        return 2;
    }
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setApplicationName(QStringLiteral("Quillon"));
    // The window system's own options (-platform, -style ...) are taken by QApplication.
    if (const int code = quillon::parseStationOptions(QApplication::arguments(), true, options, out, err); code >= 0)
        return code;

    quillon::sim::SimBoard board;
    quillon::TracingDevice device(board);
    // A real board takes its time per request and scan: the D/A Ramp then shows on the
    // bench's scope at a few Hz. The bench changes it; scripted runs keep zero.
    board.requestLatencyUs = 2000;
    board.scanLatencyUs = 3000;
    return quillon::runSimStation(
        board, device,
        [&](quillon::sim::PromptFollower &follower, QWidget &station) {
            quillon::openBench(board, device, follower, station);
        },
        &options.records);
}
