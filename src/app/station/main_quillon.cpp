// The production station: the maker's device library and a real board.
#include "app/station/StationMain.h"
#include "app/station/StationOptions.h"

#include <QApplication>
#include <QTextStream>

#include <clocale>

int main(int argc, char **argv)
{
    QTextStream out(stdout);
    QTextStream err(stderr);
    quillon::StationOptions options;
    if (quillon::asksHelpOrVersion(argc, argv)) {
        if (const int code = quillon::parseStationOptions(quillon::rawArguments(argc, argv), false, options, out, err);
            code >= 0)
            return code;
    }
    QApplication app(argc, argv);
    // C-library conversions (and the maker's library) never see a comma locale.
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setApplicationName(QStringLiteral("Quillon"));
    // The window system's own options (-platform, -style ...) are taken by QApplication.
    if (const int code = quillon::parseStationOptions(QApplication::arguments(), false, options, out, err); code >= 0)
        return code;
    return quillon::productionMain(QStringLiteral("vexlo"), &options.records);
}
