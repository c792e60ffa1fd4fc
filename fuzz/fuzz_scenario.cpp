// The scenario-file reader over arbitrary bytes: it must answer with an error or a
// scenario, never crash, and be deterministic. An accepted scenario holds only values
// inside the documented ranges; an error names what was expected.
#include "FuzzCheck.h"
#include "sim/Scenario.h"

#include <QByteArray>

#include <cstdint>

using quillon::fuzz::check;
using quillon::sim::Scenario;
using quillon::sim::ScenarioStep;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray json(reinterpret_cast<const char *>(data), qsizetype(size));
    Scenario first;
    const auto error = quillon::sim::readScenario(json, first);
    Scenario second;
    const auto again = quillon::sim::readScenario(json, second);

    check(error.has_value() == again.has_value(), "the same answer twice");
    if (error) {
        check(!error->message.isEmpty(), "an error says what was expected", error->text());
        check(error->text() == again->text(), "the same error twice", error->text());
        return 0;
    }
    check(first.steps.size() == second.steps.size(), "the same steps twice");
    for (const ScenarioStep &step : first.steps) {
        switch (step.kind) {
        case ScenarioStep::Kind::Test: check(step.row >= 0 && step.row <= 10, "a test step names a row 0-A"); break;
        case ScenarioStep::Kind::Details:
            check(step.row >= -1 && step.row <= 10, "a details step names a row or the cyclic row");
            break;
        case ScenarioStep::Kind::Monitor:
            check(step.cycles >= 1 && step.cycles <= 1000, "a monitor step runs 1-1000 listings");
            break;
        default: break;
        }
    }
    if (first.latencyUs)
        check(*first.latencyUs >= 0 && *first.latencyUs <= 1000000, "latency within 0-1 s");
    for (const auto &[address, bytes] : first.eeprom)
        check(address >= 0 && !bytes.isEmpty() && address + bytes.size() <= 8192,
              "EEPROM patches inside the 8192-byte EEPROM");
    return 0;
}
