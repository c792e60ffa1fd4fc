#include "BenchPlacement.h"

#include <algorithm>
#include <optional>
#include <tuple>
#include <vector>

namespace quillon::sim {

namespace {

constexpr int Gap = 8;

// A horizontal stretch of the screen, [lo, hi).
struct Span {
    int lo;
    int hi;
};

Span around(const QRect &r)
{
    return {r.left() - Gap, r.right() + 1 + Gap};
}

Span centredOn(int centre, int width)
{
    return {centre - width / 2 - Gap, centre + (width + 1) / 2 + Gap};
}

// What is left of room once every blocked span is taken out.
std::vector<Span> clearSpans(Span room, std::vector<Span> blocked)
{
    std::sort(blocked.begin(), blocked.end(), [](Span a, Span b) { return a.lo < b.lo; });
    std::vector<Span> clear;
    int at = room.lo;
    for (const Span &b : blocked) {
        if (b.lo > at && at < room.hi)
            clear.push_back({at, std::min(b.lo, room.hi)});
        at = std::max(at, b.hi);
    }
    if (at < room.hi)
        clear.push_back({at, room.hi});
    return clear;
}

struct Choice {
    BenchLayout layout;
    bool fits;     // at least the least width
    bool offNotes; // the notes window stays uncovered
    int width;
    int moved; // how far the station moved

    bool operator>(const Choice &o) const
    {
        return std::tuple(fits, offNotes, width, -moved) > std::tuple(o.fits, o.offNotes, o.width, -o.moved);
    }
};

// The station where it stands; if it may move: against the notes window, or at
// either edge of the screen with room for the prompts centred on it.
std::vector<int> stationLefts(const BenchPlacement &in)
{
    const QRect &area = in.screen;
    const int stationWidth = in.station.width();
    const int overhang = std::max(0, (in.promptWidth - stationWidth) / 2) + Gap;
    std::vector<int> lefts{in.station.left()};
    if (in.stationMovable) {
        if (!in.notes.isEmpty())
            lefts.push_back(in.notes.left() - Gap - stationWidth);
        lefts.push_back(area.left() + overhang);
        lefts.push_back(area.right() + 1 - overhang - stationWidth);
    }
    return lefts;
}

// Every bench that fits beside the station at this place, the best kept in best.
void chooseBeside(const BenchPlacement &in, const QRect &station, int benchHeight, std::optional<Choice> &best)
{
    const QRect &area = in.screen;
    const QRect &notes = in.notes;
    std::vector<Span> blocked{around(station)};
    if (in.promptWidth > 0) {
        blocked.push_back(centredOn(area.center().x(), in.promptWidth));
        blocked.push_back(centredOn(station.center().x(), in.promptWidth));
    }
    const int benchTop = std::clamp(station.center().y() - benchHeight / 2, area.top(),
                                    std::max(area.top(), area.bottom() + 1 - benchHeight));
    for (const bool offNotes : {true, false}) {
        std::vector<Span> avoid = blocked;
        if (offNotes && !notes.isEmpty())
            avoid.push_back(around(notes));
        for (const Span &clear : clearSpans({area.left(), area.right() + 1}, avoid)) {
            const int width = std::min(clear.hi - clear.lo, in.wanted.width());
            // Close to the station, on whichever side the room is.
            const QRect bench(clear.hi <= station.left() ? clear.hi - width : clear.lo, benchTop, width, benchHeight);
            const Choice choice{{station, bench},
                                width >= in.least,
                                notes.isEmpty() || !notes.intersects(bench),
                                width,
                                std::abs(station.left() - in.station.left())};
            if (!best || choice > *best)
                best = choice;
        }
    }
}

// No room anywhere: the least bench in the widest clear room, or at the left edge.
BenchLayout leastBench(const BenchPlacement &in, const std::optional<Choice> &best, int benchHeight)
{
    const QRect &area = in.screen;
    const int width = std::max(in.least, best ? best->width : 0);
    const QRect station = best ? best->layout.station : in.station;
    const QRect room = best ? best->layout.bench : QRect(area.left(), area.top(), 0, benchHeight);
    int x = room.right() < station.left() ? room.right() + 1 - width : room.left();
    x = std::clamp(x, area.left(), std::max(area.left(), area.right() + 1 - width));
    return {station, QRect(x, room.top(), width, benchHeight)};
}

} // namespace

BenchLayout layOutBench(const BenchPlacement &in)
{
    const QRect &area = in.screen;
    const int stationWidth = in.station.width();
    const int benchHeight = std::min(in.wanted.height(), area.height());
    std::optional<Choice> best;
    for (int left : stationLefts(in)) {
        left = std::clamp(left, area.left(), std::max(area.left(), area.right() + 1 - stationWidth));
        const QRect station(left, in.station.top(), stationWidth, in.station.height());
        // The notes window would hide the station's results.
        if (in.stationMovable && !in.notes.isEmpty() && station.intersects(in.notes))
            continue;
        chooseBeside(in, station, benchHeight, best);
    }
    if (!best || !best->fits)
        return leastBench(in, best, benchHeight);
    return best->layout;
}

} // namespace quillon::sim
