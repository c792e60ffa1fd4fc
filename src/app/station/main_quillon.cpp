// The production station: the maker's device library and a real board.
#include "app/station/StationMain.h"

#include <QApplication>

#include <clocale>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    // C-library conversions (and the maker's library) never see a comma locale.
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setApplicationName(QStringLiteral("Quillon"));
    return quillon::productionMain();
}
