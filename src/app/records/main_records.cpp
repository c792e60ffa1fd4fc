// quillon-records: reads the station's run records (list, show, export, yield,
// certificate, status, db init), or shows them in the records window.
#include "app/records/RecordsCli.h"
#include "app/records/RecordsWindow.h"
#include "app/station/PlatformNoise.h"
#include "app/station/StationMain.h"

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
    quillon::quietPlatformNoise();
    using Line = quillon::records::RecordsCommandLine;
    Line line(arguments);
    const Line::Needs needs = line.needs();
    if (needs == Line::Needs::Window && !quillon::hasDisplay()) {
        std::fprintf(stderr, "%s\n", qPrintable(quillon::records::noWindowMessage()));
        return 2;
    }
    std::unique_ptr<QCoreApplication> app;
    if (needs == Line::Needs::Window) {
        app = std::make_unique<QApplication>(argc, argv);
    } else if (needs == Line::Needs::Gui) {
        // A certificate is drawn with fonts, which need a GUI application but no display.
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        app = std::make_unique<QGuiApplication>(argc, argv);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    std::setlocale(LC_NUMERIC, "C");
    QCoreApplication::setApplicationName(QStringLiteral("Quillon"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUILLON_VERSION));

    if (needs == Line::Needs::Window)
        return quillon::records::runRecordsWindow(line.source());
    QFile out;
    if (!out.open(stdout, QIODevice::WriteOnly))
        return 1;
    QTextStream err(stderr);
    return line.run(out, err);
}
