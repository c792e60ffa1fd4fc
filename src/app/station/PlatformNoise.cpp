#include "app/station/PlatformNoise.h"

#include <QString>
#include <QtGlobal>

#include <cstring>

namespace quillon {

namespace {

QtMessageHandler previous = nullptr;

// Matched by category and whole text: a real problem from the same places (a runtime
// folder with the wrong owner, a platform that cannot start) still shows.
bool isPlatformNoise(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type != QtWarningMsg || !context.category || std::strcmp(context.category, "default") != 0)
        return false;
    return message == QLatin1String("This plugin does not support propagateSizeHints()")
           || message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set, defaulting to '"));
}

void filterNoise(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (isPlatformNoise(type, context, message))
        return;
    if (previous)
        previous(type, context, message);
}

} // namespace

void quietPlatformNoise()
{
    const QtMessageHandler before = qInstallMessageHandler(filterNoise);
    if (before != filterNoise)
        previous = before;
}

} // namespace quillon
