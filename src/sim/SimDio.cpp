// DIO physics: two 8-bit ports, output latches, pulls, the jig's wires and the faults.
#include "sim/SimBoard.h"
#include "sim/SimStatus.h"

#include <array>
#include <cstring>
#include <numeric>

namespace quillon::sim {

namespace {

constexpr int kLines = 16;

// Lines joined by wires or shorts form one electrical net.
class Nets {
public:
    Nets() { std::iota(m_parent.begin(), m_parent.end(), 0); }
    void join(int a, int b)
    {
        if (a < 0 || b < 0 || a >= kLines || b >= kLines)
            return;
        m_parent[size_t(root(a))] = root(b);
    }
    int root(int line)
    {
        while (m_parent[size_t(line)] != line)
            line = m_parent[size_t(line)] = m_parent[size_t(m_parent[size_t(line)])];
        return line;
    }

private:
    std::array<int, kLines> m_parent{};
};

// Each line's driven level: -1 undriven, else 0 or 1 (steps 1 and 2 below).
std::array<int, kLines> lineDrives(quint8 mask, quint16 latch, const Faults &faults)
{
    std::array<int, kLines> drive{};
    for (int line = 0; line < kLines; ++line) {
        const bool portDrives = (mask >> (line / 8)) & 1;
        drive[size_t(line)] = portDrives ? ((latch >> line) & 1) : -1;
        if ((faults.dioStuckHigh >> line) & 1)
            drive[size_t(line)] = 1;
        if ((faults.dioStuckLow >> line) & 1)
            drive[size_t(line)] = 0;
    }
    return drive;
}

// The jig's wires: port A to port B, or on a fan-out jig port B bits 8-11 to both
// nibbles of port A (bits 12-15 free).
void joinJigWires(Nets &nets, bool fanOut)
{
    if (!fanOut) {
        for (int bit = 0; bit < 8; ++bit)
            nets.join(bit, 8 + bit);
        return;
    }
    for (int k = 0; k < 4; ++k) {
        nets.join(8 + k, k);
        nets.join(8 + k, k + 4);
    }
}

} // namespace

// How a line's level is found, in this order:
// 1. A port whose output-mask bit is set drives its eight lines with the latch.
// 2. A stuck line is shorted to a rail: it drives its level, over its own port
//    (stuck low wins if both are set).
// 3. Jig wires and a solder bridge join lines into nets.
// 4. A net with any line driven low reads low (contention: low wins), else with any
//    line driven high reads high; an undriven net follows its pulls, and one
//    pull-down anywhere on it pulls it low.
quint16 SimBoard::dioLevels() const
{
    const std::array<int, kLines> drive = lineDrives(m_dioMask, m_dioLatch, faults);

    Nets nets;
    if (faults.dioBridgeA != faults.dioBridgeB)
        nets.join(faults.dioBridgeA, faults.dioBridgeB);
    if (jig.connected && !faults.jigMissing)
        joinJigWires(nets, hasMultiplexer() && !identity.newerThanRevD);

    std::array<bool, kLines> anyLow{}, anyHigh{}, anyPullDown{};
    for (int line = 0; line < kLines; ++line) {
        const size_t net = size_t(nets.root(line));
        anyLow[net] = anyLow[net] || drive[size_t(line)] == 0;
        anyHigh[net] = anyHigh[net] || drive[size_t(line)] == 1;
        anyPullDown[net] = anyPullDown[net] || ((faults.dioPullDowns >> line) & 1);
    }
    quint16 levels = 0;
    for (int line = 0; line < kLines; ++line) {
        const size_t net = size_t(nets.root(line));
        const bool high = !anyLow[net] && (anyHigh[net] || !anyPullDown[net]);
        if (high)
            levels |= quint16(1u << line);
    }
    return levels;
}

quint32 SimBoard::DIO_Configure(qint32 device, quint8 tristate, void *outMask, void *data)
{
    if (auto failed = enterCall(device))
        return *failed;
    if (!outMask || !data)
        return status::InvalidParameter;
    quint8 mask = 0;
    std::memcpy(&mask, outMask, 1);
    std::memcpy(&m_dioLatch, data, 2);
    // Tristate floats every output, whatever the mask says.
    m_dioMask = tristate ? 0 : (mask & 0x03);
    return 0;
}

quint32 SimBoard::DIO_WriteAll(qint32 device, void *data)
{
    if (auto failed = enterCall(device))
        return *failed;
    if (!data)
        return status::InvalidParameter;
    std::memcpy(&m_dioLatch, data, 2);
    return 0;
}

quint32 SimBoard::DIO_ReadAll(qint32 device, void *data)
{
    if (auto failed = enterCall(device))
        return *failed;
    if (!data)
        return status::InvalidParameter;
    const quint16 levels = dioLevels();
    std::memcpy(data, &levels, 2);
    return 0;
}

} // namespace quillon::sim
