#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QStringList>

#include <array>
#include <memory>
#include <optional>

namespace quillon::testing {

// Writes records stores of the pinned schema for the tests and the benchmark, the way a
// station would leave them, without a station.

// A Test All (or one row's Test) as a station would record it.
struct SyntheticRun {
    int station = 0;    // index into the writer's stations
    QString startedUtc; // "2026-12-08T14:45:31.123Z"
    QString serial;     // empty: none asked
    int productId = 0x8140;
    int channels = 16;
    int rowDigit = -1;                              // >= 0: a single row's Test
    int failingRow = -1;                            // this row fails (with a memo line saying why)
    QString endState = QStringLiteral("completed"); // empty: left open
    quint16 arefWord = 65087;
    std::array<float, 4> gains{1.0f, 1.0f, 1.0f, 1.0f};
    std::array<float, 4> offsets{-0.3571f, -0.3571f, -0.3571f, -0.3571f};
    bool simulated = true;
};

class SyntheticStore {
public:
    // Creates (or replaces) the store at path with the pinned schema, its meta rows
    // saying kind and schemaVersion (0: the version this build writes), and
    // stationNames stations.
    SyntheticStore(const QString &path, const QStringList &stationNames = {QStringLiteral("bench-1")},
                   int schemaVersion = 0);
    ~SyntheticStore();
    SyntheticStore(const SyntheticStore &) = delete;
    SyntheticStore &operator=(const SyntheticStore &) = delete;

    bool isOpen() const;
    QString error() const;

    // From now on, each row added records its measurements too: every ladder channel (up
    // to 16, pairs for the differential row) within expected ± 0.3 V, and a few of each
    // other row's; a failing row's first judged one (a ladder's channel 6) fails. Off by
    // default: the stores of earlier tests stay as they were.
    void setMeasurements(bool on);

    // Adds a run (with its session) and returns its id.
    QString add(const SyntheticRun &run);
    // Adds count runs of two products on the stations, a few per minute from start,
    // about one in eight with a failing row and most with a serial; seeded.
    void addMany(int count, quint32 seed, const QString &startUtc = QStringLiteral("2026-01-05T06:00:00.000Z"));

    // The memo lines add() records for a row (digit) that passes or fails.
    static QStringList memoOf(int digit, bool fails);
    static QString rowName(int digit);

    QSqlDatabase database() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace quillon::testing
