#include "app/sim/SimStation.h"

#include "app/station/MainForm.h"
#include "app/station/StationRecords.h"

#include "sim/PromptFollower.h"
#include "sim/bench/BenchWindow.h"
#include "ui/BlurbForm.h"
#include "ui/QtOperator.h"

#include <QApplication>

namespace quillon {

// The same start as the production station, with the prompt follower between the
// window and the dialogs.
int runSimStation(sim::SimBoard &board, DeviceLibrary &lib, const SimStationShown &shown,
                  const records::RecordsSettings *records)
{
    const bool quitOnLast = QApplication::quitOnLastWindowClosed();
    QApplication::setQuitOnLastWindowClosed(false);

    QtOperator dialogs;
    sim::PromptFollower op(dialogs, board);
    const std::unique_ptr<StationRecords> recording =
        records ? StationRecords::create(*records, lib, op, QStringLiteral("quillon-sim"), true) : nullptr;
    MainForm form(recording ? recording->device() : lib, recording ? recording->op() : op);
    if (recording)
        recording->attach(form);
    dialogs.setMainWindow(&form);
    BlurbForm blurb;
    form.setBlurbForm(&blurb);
    QObject::connect(&form, &MainForm::closingStarted, &form, [&dialogs] { dialogs.abandonAll(); });
    QObject::connect(&form, &MainForm::closed, qApp, &QCoreApplication::quit, Qt::QueuedConnection);

    form.show();
    if (shown)
        shown(op, form);
    const int code = QApplication::exec();
    QApplication::setQuitOnLastWindowClosed(quitOnLast);
    return code;
}

sim::BenchWindow *openBench(sim::SimBoard &board, TracingDevice &trace, sim::PromptFollower &follower, QWidget &station)
{
    sim::BenchHooks hooks;
    hooks.setFollowPrompts = [&follower](bool on) { follower.setFollowing(on); };
    auto *bench = new sim::BenchWindow(board, trace, hooks, &station);
    const auto *form = qobject_cast<MainForm *>(&station);
    bench->placeWithStation(station, form ? form->blurbForm() : nullptr);
    bench->show();
    return bench;
}

} // namespace quillon
