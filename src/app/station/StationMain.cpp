#include "app/station/StationMain.h"

#include "app/station/MainForm.h"
#include "app/station/StationRecords.h"

#include "device/SharedLibraryDevice.h"
#include "ui/BlurbForm.h"
#include "ui/QtOperator.h"

#include <QApplication>
#include <QMessageBox>

namespace quillon {

bool hasDisplay()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
           || !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

QString noDisplayMessage(const QString &program)
{
    return program
           + QStringLiteral(": no display (DISPLAY and WAYLAND_DISPLAY are unset); run it under "
                            "xvfb-run, set QT_QPA_PLATFORM=offscreen, or use --scenario FILE "
                            "for a headless run.");
}

std::unique_ptr<DeviceLibrary> loadDeviceLibrary(const QString &library, QWidget *parent)
{
    QString error;
    std::unique_ptr<SharedLibraryDevice> device = SharedLibraryDevice::load(library, &error);
    if (device)
        return device;
    // The loader's line normally names the library already.
    QString text = error;
    if (error.isEmpty() || !error.contains(library))
        text = QStringLiteral("Cannot load the device library \"%1\": %2")
                   .arg(library, error.isEmpty() ? QStringLiteral("unknown reason") : error);
    QMessageBox::critical(parent, QStringLiteral("Quillon"),
                          text + QStringLiteral("\n\nNo board can be tested without it."));
    return nullptr;
}

int runStation(DeviceLibrary &lib, const std::function<void(MainForm &)> &started,
               const records::RecordsSettings *records)
{
    // The program ends when the main window has closed and its handlers have
    // unwound, not when the last visible window goes.
    const bool quitOnLast = QApplication::quitOnLastWindowClosed();
    QApplication::setQuitOnLastWindowClosed(false);

    QtOperator op;
    // Outlives the window: the last records are written after it has closed.
    const std::unique_ptr<StationRecords> recording =
        records ? StationRecords::create(*records, lib, op, QStringLiteral("quillon"), false) : nullptr;
    MainForm form(recording ? recording->device() : lib, recording ? recording->op() : op);
    if (recording)
        recording->attach(form);
    op.setMainWindow(&form);
    BlurbForm blurb;
    form.setBlurbForm(&blurb);
    QObject::connect(&form, &MainForm::closingStarted, &form, [&op] { op.abandonAll(); });
    QObject::connect(&form, &MainForm::closed, qApp, &QCoreApplication::quit, Qt::QueuedConnection);

    form.show();
    if (started)
        started(form);
    const int code = QApplication::exec();
    QApplication::setQuitOnLastWindowClosed(quitOnLast);
    return code;
}

int productionMain(const QString &library, const records::RecordsSettings *records)
{
    std::unique_ptr<DeviceLibrary> lib = loadDeviceLibrary(library);
    if (!lib)
        return 1;
    return runStation(*lib, {}, records);
}

} // namespace quillon
