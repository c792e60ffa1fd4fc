#include "procedures/Limits.h"

#include <QCryptographicHash>

namespace quillon {

namespace {

Limits &activeLimits()
{
    static Limits table;
    return table;
}

} // namespace

const Limits &limits()
{
    return activeLimits();
}

std::vector<LimitEntry> limitEntries(const Limits &table)
{
    return {
        {"dio.pullup.word", double(table.dioPullupWord), "word"},
        {"adclocks.clock", table.clocksHz, "Hz"},
        {"adclocks.unclocked.wait", double(table.clocksUnclockedWaitMs), "ms"},
        {"adclocks.clocked.wait", double(table.clocksClockedWaitMs), "ms"},
        {"adclocks.clocked.bytes_left", double(table.clocksClockedBytesLeft), "bytes"},
        {"agnd.expected", double(table.agndExpected), "V"},
        {"agnd.tolerance", double(table.agndTolerance), "V"},
        {"aref.word.low", double(table.arefWordLow), "counts"},
        {"aref.word.high", double(table.arefWordHigh), "counts"},
        {"bus.verdict.pass", double(table.busVerdictPass), "byte"},
        {"ladder.tolerance", table.ladderTolerance, "V"},
    };
}

QString limitSetVersion()
{
    return QStringLiteral(QUILLON_VERSION);
}

QString limitTableId()
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(QByteArrayLiteral("quillon ") + limitSetVersion().toUtf8() + '\n');
    for (const LimitEntry &entry : limitEntries()) {
        // 17 significant digits: every double has its own text.
        hash.addData(QByteArray(entry.name) + '=' + QByteArray::number(entry.value, 'g', 17) + ' ' + entry.unit + '\n');
    }
    return QString::fromLatin1(hash.result().toHex());
}

ScopedLimits::ScopedLimits(const Limits &table) : m_saved(activeLimits())
{
    activeLimits() = table;
}

ScopedLimits::~ScopedLimits()
{
    activeLimits() = m_saved;
}

} // namespace quillon
