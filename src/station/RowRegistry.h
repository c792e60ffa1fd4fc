#pragma once

#include <QString>

#include <vector>

namespace quillon {

struct StationContext;
class TestRow;

// A production test: runs to its end on the GUI thread, writing only its own row.
using RowProcedure = void (*)(StationContext &ctx, TestRow &row);

// One row of the test table. The digit is the row's place in the table and, written
// as one hexadecimal digit, part of every object name of its panel.
struct RowEntry {
    int digit = 0;
    QString name;                     // as the row's name label shows it
    RowProcedure procedure = nullptr; // registered by the procedures layer

    QString digitText() const { return QString::number(digit, 16).toUpper(); }
    QString panelName() const { return tagPrefix() + QStringLiteral("Panel"); }
    QString nameLabelName() const { return tagPrefix() + QStringLiteral("NameLabel"); }
    QString goButtonName() const { return tagPrefix() + QStringLiteral("GoButton"); }
    QString detailButtonName() const { return tagPrefix() + QStringLiteral("DetailButton"); }
    QString resultLabelName() const { return tagPrefix() + QStringLiteral("ResultLabel"); }
    QString memoName() const { return QStringLiteral("Test") + digitText() + QStringLiteral("Memo"); }
    QString failLabelName() const { return QStringLiteral("Test") + digitText() + QStringLiteral("FailLabel"); }

private:
    QString tagPrefix() const { return QStringLiteral("TagTest") + digitText(); }
};

// Every row, in table order (entry i has digit i). The window builds its table, connects
// its buttons and runs Test All from it; the scenario reader and the records read it.
const std::vector<RowEntry> &rowRegistry();

// The identity of the limits the rows judge against (procedures' limits table): SHA-256
// over the program version and every limit, so whoever records a run (below the
// procedures layer) can tell runs under other limits apart. Empty until registered.
QString limitSetId();
// Registers where limitSetId() comes from (procedures: registerProductionTests()).
void registerLimitSetSource(QString (*source)());

// Sets the procedure a registered row runs (the procedures layer registers them all:
// registerProductionTests()). An unknown digit is ignored.
void registerRowProcedure(int digit, RowProcedure procedure);

} // namespace quillon
