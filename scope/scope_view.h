// The spectrum views of the panel: the transceiver's receive levels as a trace over a
// dB grid, with an optional scrolling waterfall above or below it, and the operating
// frequency as the title. Everything draws into the back buffer of the frame being
// composed; the display loop calls these once a frame while a spectrum view shows.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "scope/scope_state.h"

namespace corvid {

struct Works;

// The colour map: 17 steps from black through blue, green, yellow and red to white.
struct Colour {
  uint8_t r;
  uint8_t g;
  uint8_t b;
  bool operator==(const Colour&) const = default;
};
extern const std::array<Colour, kColourSteps> kWaterfallColours;

// Computes the layout from the view's grid and the waterfall flags, and allocates the
// waterfall image anew (black) when the waterfall is shown.
void InitGrid(Works& works);

// The colour of a level (dBm) within the waterfall range WTminVal..WTmaxVal. A range of
// zero width shows levels below it black and the others white; a range or a level that
// is not a finite number shows black.
void CalcColorThrMode(Works& works, int& red, int& green, int& blue, double level);
Colour waterfallColour(double minDb, double maxDb, double level);

// One frame of the waterfall (scroll, new line, copy to the panel) and of the grid with
// its labels, the trace and the title. bandOffset is added to every level.
void DrawWaterfall(Works& works, double bandOffset);
void DrawGrid(Works& works, double bandOffset);

// The screen position of a point's level on a grid from bottomDb to topDb, the height
// limited to the grid.
struct PlotPoint {
  float x;
  float y;
};
PlotPoint CalculatePoint(const SpectrumLayout& layout, double bottomDb, double topDb,
                         int pointIndex, double level);

// The grid's bottom and top lines (dBm) and its dB per division, from the plotter row of
// the band of trxFreq (row 11 outside all bands), in a width no row can overflow.
struct DbRange {
  long long bottom;
  long long top;
  long long perDiv;
};
DbRange plotRange(const Works& works, int divY);

// The frequency title: "%.00fHz", "%.03fkHz" up to 999 999 Hz, "%.03fMHz" from 1 MHz.
std::string frequencyTitle(double hz);
void DrawFreq(Works& works);

// The level shown at a point: the middle 427 levels on the zoomed grid (divX 8).
int levelIndexOf(const SpectrumLayout& layout, int pointIndex);

// The waterfall's memory comes from here; a test makes it fail.
using WaterfallAllocator = std::unique_ptr<uint8_t[]> (*)(size_t bytes);
void setWaterfallAllocator(WaterfallAllocator allocator);  // nullptr: the default

}  // namespace corvid
