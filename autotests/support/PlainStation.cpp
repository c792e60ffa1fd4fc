#include "support/PlainStation.h"

#include <QThread>

namespace quillon::testing {

void PlainShell::sleepMs(int ms)
{
    sleeps.append(ms);
    timeMs += ms;
    if (onTime)
        onTime(ms);
    if (realSleep)
        QThread::msleep(static_cast<unsigned long>(ms));
}

void PlainShell::waitForEvents(int maxMs)
{
    ++waits;
    timeMs += maxMs;
    if (onTime)
        onTime(maxMs);
}

} // namespace quillon::testing
