// Runs the benchmarks inside one QApplication (offscreen unless a platform is set)
// and ends with a summary: each measurement against its reference.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QByteArray>

#include <clocale>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// Keeps every run for the summary and reports to the console as usual.
class SummaryReporter final : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        // With repetitions, the median stands for the benchmark; else its one run.
        bool hasMedian = false;
        for (const Run &run : runs)
            hasMedian = hasMedian || run.aggregate_name == "median";
        for (const Run &run : runs)
            if (hasMedian ? run.aggregate_name == "median" : run.run_type == Run::RT_Iteration)
                m_runs.push_back(run);
    }

    // Prints the summary; false when a benchmark ended in an error (a check failed).
    bool printSummary() const
    {
        bool ok = true;
        std::printf("\n%-52s %12s %10s  %s\n", "benchmark", "time/iter", "ratio", "reference");
        for (const Run &run : m_runs) {
            if (run.error_occurred) {
                std::printf("%-52s %12s %10s  ERROR: %s\n", run.benchmark_name().c_str(), "-", "-",
                            run.error_message.c_str());
                ok = false;
                continue;
            }
            // GetAdjustedRealTime() is in the run's unit; the multiplier is units per second.
            const double seconds = run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
            const auto ratio = run.counters.find("ratio");
            char time[32];
            if (seconds >= 1e-3)
                std::snprintf(time, sizeof time, "%.1f ms", seconds * 1e3);
            else
                std::snprintf(time, sizeof time, "%.2f us", seconds * 1e6);
            char value[32] = "-";
            if (ratio != run.counters.end())
                std::snprintf(value, sizeof value, "%.4g", double(ratio->second));
            std::printf("%-52s %12s %10s  %s\n", run.benchmark_name().c_str(), time, value, run.report_label.c_str());
        }
        return ok;
    }

private:
    std::vector<Run> m_runs;
};

QtMessageHandler defaultHandler = nullptr;

// The offscreen platform warns on every window it shows; nothing to act on here.
void quietOffscreen(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message.contains(QLatin1String("propagateSizeHints")))
        return;
    if (defaultHandler)
        defaultHandler(type, context, message);
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    defaultHandler = qInstallMessageHandler(quietOffscreen);
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setApplicationName(QStringLiteral("Quillon"));

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const bool ok = reporter.printSummary();
    benchmark::Shutdown();
    return ok ? 0 : 1;
}
