// The station over the simulated board, for development, training and demonstrations.
#include "SimScenarioRunner.h"
#include "SimStation.h"
#include "StationMain.h"

#include "board/TracingDevice.h"
#include "sim/SimBoard.h"

#include <QApplication>

#include <clocale>
#include <cstdio>

int main(int argc, char **argv)
{
    // quillon-sim --scenario FILE [--report FILE]: a scripted run, headless.
    if (quillon::isScenarioCommandLine(argc, argv))
        return quillon::simScenarioMain(argc, argv);
    if (!quillon::hasDisplay()) {
        std::fprintf(stderr, "%s\n", qPrintable(quillon::noDisplayMessage(QStringLiteral("quillon-sim"))));
        return 2;
    }
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setApplicationName(QStringLiteral("Quillon"));

    quillon::sim::SimBoard board;
    quillon::TracingDevice device(board);
    return quillon::runSimStation(board, device);
}
