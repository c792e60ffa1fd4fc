#include "station/Station.h"

namespace quillon {

AcquisitionBuffers &processAcquisitionBuffers()
{
    // Static storage: valid until the process ends, whatever windows come and go.
    static AcquisitionBuffers buffers;
    return buffers;
}

} // namespace quillon
