#include "station/Station.h"

#include <chrono>

namespace quillon {

void TestRow::measure(Measurement m)
{
    m.digit = index();
    m.outcome = judgeMargin(m, m_marginPercent);
    measured(m);
}

qint64 StationShell::clockMs() const
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

AcquisitionBuffers &processAcquisitionBuffers()
{
    // Static storage: valid until the process ends, whatever windows come and go.
    static AcquisitionBuffers buffers;
    return buffers;
}

} // namespace quillon
