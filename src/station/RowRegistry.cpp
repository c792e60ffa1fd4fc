#include "station/RowRegistry.h"

namespace quillon {

namespace {

std::vector<RowEntry> &registry()
{
    static std::vector<RowEntry> rows = [] {
        const char *const names[] = {
            "DIO Pullup",         "DIO Loopback",    "A/D Clocks",     "Calibration Voltages",
            "Address/Data Lines", "A/D SE Unipolar", "A/D SE Bipolar", "A/D Differential (Bipolar)",
            "D/A Cal Set",        "D/A Cal Check",   "D/A Ramp",
        };
        std::vector<RowEntry> out;
        for (const char *name : names)
            out.push_back({int(out.size()), QString::fromUtf8(name), nullptr});
        return out;
    }();
    return rows;
}

QString (*&limitSetSource())()
{
    static QString (*source)() = nullptr;
    return source;
}

} // namespace

QString limitSetId()
{
    return limitSetSource() ? limitSetSource()() : QString();
}

void registerLimitSetSource(QString (*source)())
{
    limitSetSource() = source;
}

const std::vector<RowEntry> &rowRegistry()
{
    return registry();
}

void registerRowProcedure(int digit, RowProcedure procedure)
{
    std::vector<RowEntry> &rows = registry();
    if (digit >= 0 && digit < int(rows.size()))
        rows[std::size_t(digit)].procedure = procedure;
}

} // namespace quillon
