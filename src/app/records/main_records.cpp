// quillon-records: reads the station's run records (list, show, export, yield,
// certificate), or shows them in the records window.
#include "app/records/RecordsCli.h"
#include "app/records/RecordsWindow.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFile>
#include <QGuiApplication>
#include <QTextStream>

#include <clocale>
#include <cstdio>
#include <memory>

int main(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    // A certificate is drawn with fonts, which need a GUI application but no display.
    std::unique_ptr<QCoreApplication> app;
    const bool window = quillon::records::wantsWindow(arguments);
    if (window) {
        app = std::make_unique<QApplication>(argc, argv);
    } else if (arguments.contains(QStringLiteral("certificate"))) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        app = std::make_unique<QGuiApplication>(argc, argv);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    std::setlocale(LC_NUMERIC, "C");
    QCoreApplication::setApplicationName(QStringLiteral("Quillon"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUILLON_VERSION));

    if (window)
        return quillon::records::runRecordsWindow(arguments);
    QFile out;
    if (!out.open(stdout, QIODevice::WriteOnly))
        return 1;
    QTextStream err(stderr);
    return quillon::records::runRecordsCommand(arguments, out, err);
}
