#include "sim/JigPrompts.h"

namespace quillon::sim {

bool followJigPrompt(JigState &jig, const QString &caption)
{
    if (caption == QLatin1String("No Test Jig")) {
        jig.connected = false;
    } else if (caption == QLatin1String("Test Jig Needed")) {
        jig.connected = true;
    } else if (caption == QLatin1String("A/D Jig Needed")) {
        jig.connected = true;
        jig.polarity = +1;
        jig.sourceOn = true;
    } else if (caption == QLatin1String("10V Switch")) {
        jig.polarity = -1;
        jig.sourceOn = true;
    } else {
        return false;
    }
    return true;
}

} // namespace quillon::sim
