#include "BenchStation.h"

#include "app/station/MainForm.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

namespace quillon::bench {

bool waitForDetection(MainForm &form, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        const QString text = form.detectLabelText();
        if (form.handlerDepth() == 0 && !text.isEmpty() && text != QLatin1String("detecting..."))
            return text == QLatin1String("Detected");
    }
    return false;
}

} // namespace quillon::bench
