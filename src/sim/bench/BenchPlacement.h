#pragma once

#include <QRect>
#include <QSize>

namespace quillon::sim {

// Where the bench first opens beside the station, worked out on frame rectangles
// (title bar and borders included) in screen coordinates.
struct BenchPlacement {
    QRect screen;  // the area windows may use (the screen less its panels)
    QRect station; // the station as it stands
    QRect notes;   // the station's notes window where the station puts it; empty: none
    QSize wanted;  // the bench at its preferred size
    int least = 0; // the narrowest bench still worth opening
    // The station's prompts open centred on the screen or on the station; none is
    // wider than this. 0: keep clear of the station only.
    int promptWidth = 0;
    bool stationMovable = false;
};

struct BenchLayout {
    QRect station;
    QRect bench;
};

// The bench keeps clear of the station and of the band every prompt may open in.
// It stays off the notes window when it can; the station moves (keeping its size and
// its height on the screen) only when that makes more room for the bench, and never
// under the notes window. Where nothing is wide enough, the bench takes the widest
// clear room, at least `least` wide.
BenchLayout layOutBench(const BenchPlacement &in);

} // namespace quillon::sim
