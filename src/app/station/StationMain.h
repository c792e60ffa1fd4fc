#pragma once

#include "records/RecordsSettings.h"

#include <QString>

#include <functional>
#include <memory>

class QWidget;

namespace quillon {

class DeviceLibrary;
class MainForm;

// Whether the environment names a display Qt can open (DISPLAY, WAYLAND_DISPLAY, or
// an explicit QT_QPA_PLATFORM such as offscreen).
bool hasDisplay();

// One line for standard error when there is no display.
QString noDisplayMessage(const QString &program);

// Loads the maker's device library. On failure shows one critical box naming the
// library and the loader's reason and returns null; never substitutes anything.
std::unique_ptr<DeviceLibrary> loadDeviceLibrary(const QString &library, QWidget *parent = nullptr);

// Runs the station over lib in the running QApplication: the main window (which
// queues the first detection), the hidden notes window, the event loop until the
// main window has closed and every handler has returned. started (optional) runs
// once the window is shown. With records settings (null: none) the station records
// what it does. Returns the event loop's exit code.
int runStation(DeviceLibrary &lib, const std::function<void(MainForm &)> &started = {},
               const records::RecordsSettings *records = nullptr);

// The production program after QApplication: the maker's library, then the station.
// Exit code 1 when the library can't be loaded.
int productionMain(const QString &library = QStringLiteral("vexlo"), const records::RecordsSettings *records = nullptr);

} // namespace quillon
