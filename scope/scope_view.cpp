// The spectrum and waterfall views: layout, colour map, waterfall lines, grid and trace.
#include "scope/scope_view.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>

#include "bands/bands.h"
#include "core/works.h"
#include "gfx/framebuffer.h"
#include "gfx/text.h"

namespace corvid {

const std::array<Colour, kColourSteps> kWaterfallColours = {{
    {0, 0, 0},
    {0, 18, 96},
    {0, 57, 146},
    {0, 84, 193},
    {2, 111, 222},
    {7, 136, 183},
    {59, 167, 73},
    {139, 196, 16},
    {219, 213, 3},
    {238, 208, 8},
    {253, 175, 19},
    {252, 116, 31},
    {250, 36, 57},
    {243, 28, 80},
    {250, 99, 114},
    {255, 184, 161},
    {255, 255, 255},
}};

namespace {

constexpr int kLabelFont = 6;
constexpr int kTitleFont = 4;
constexpr Colour kLabel{180, 180, 180};  // r_font, g_font, b_font
constexpr Colour kGridLine{120, 120, 120};
constexpr Colour kTrace{255, 255, 255};
constexpr Colour kTitle{250, 150, 0};
constexpr double kThresholdStep = 6.25;  // percent of the range between two colours
// The zoomed grid shows the middle half of the levels: 427 of them from this one.
constexpr int kZoomFirstLevel = 213;

std::unique_ptr<uint8_t[]> defaultAllocator(size_t bytes) {
  return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[bytes]());
}
WaterfallAllocator allocateWaterfall = defaultAllocator;

FrameBuffer* backOf(Works& works) {
  return works.gfx.fb.get();
}

void label(Works& works, int x, int y, const char* text) {
  putString(kLabelFont, x, y, text, kLabel.r, kLabel.g, kLabel.b, backOf(works));
}

// A whole number for a label: settings and table values are not trusted to fit.
long long wholeOf(double v) {
  if (!std::isfinite(v)) return 0;
  constexpr double kLimit = 1e15;
  return static_cast<long long>(std::clamp(v, -kLimit, kLimit));
}

// x of a point on the grid, in floating point as the trace uses it.
float pointX(const SpectrumLayout& l, int i) {
  const int range = l.xRangeEnd - l.xRangeStart;
  if (range <= 0) return static_cast<float>(l.bound_left);
  return static_cast<float>(l.bound_left) + static_cast<float>(i - l.xRangeStart) /
                                                static_cast<float>(range) *
                                                static_cast<float>(l.bound_right - l.borderLeft);
}

// The level of a point plus the band's offset; NaN for a point past the levels.
double levelAt(const Works& works, const SpectrumLayout& l, int i, double offset) {
  const int index = levelIndexOf(l, i);
  if (index < 0 || static_cast<size_t>(index) >= kSpectrumPoints) {
    return std::numeric_limits<double>::quiet_NaN();
  }
  return static_cast<double>(works.spectrum.frameLevels[static_cast<size_t>(index)]) + offset;
}

}  // namespace

DbRange plotRange(const Works& works, int divY) {
  int row = SearchBandaIdx(works);
  if (row < 0 || row >= kPlotterRows) row = kPlotterRows - 1;
  const PlotterRow r = works.spectrum.plotter.row(row);
  const long long bottom =
      static_cast<long long>(r.refLevel) - static_cast<long long>(r.refPosition) * r.dbPerDiv;
  return {bottom, static_cast<long long>(divY) * r.dbPerDiv + bottom, r.dbPerDiv};
}

void setWaterfallAllocator(WaterfallAllocator allocator) {
  allocateWaterfall = allocator != nullptr ? allocator : defaultAllocator;
}

int levelIndexOf(const SpectrumLayout& layout, int pointIndex) {
  return layout.divX == 8 ? pointIndex + kZoomFirstLevel : pointIndex;
}

void InitGrid(Works& works) {
  SpectrumState& sp = works.spectrum;
  SpectrumLayout l;  // the border constants
  l.divX = std::max(1, sp.divX.load());
  l.divY = std::max(1, sp.divY.load());
  l.xRangeStart = sp.xRangeStart.load();
  l.xRangeEnd = sp.xRangeEnd.load();
  l.spanHz = sp.spanHz.load();
  l.r_x = (l.SchermoWidth - l.borderLeft - l.borderRight) / l.divX;
  l.bound_left = l.borderLeft;
  l.bound_right = l.r_x * l.divX + l.bound_left;
  const int flags = works.set.waterfallFlags.load();
  l.waterfallShown = (flags & kWaterfallEnable) != 0;
  l.waterfallOnTop = (flags & kWaterfallOnTop) != 0;
  sp.vectWaterfall.reset();
  l.size_waterfall = 0;
  if (l.waterfallShown) {
    l.borderBottom = 30;
    l.graphH = (l.SchermoHeight - l.borderTop - l.borderBottom) / 2 - 10;
    if (l.waterfallOnTop) {
      l.waterfall_Start = l.borderTop;
      l.graph_Start = l.waterfall_Start + l.graphH + 2;
    } else {
      l.graph_Start = l.borderTop;
      l.waterfall_Start = l.graph_Start + l.graphH + 15;
    }
    l.w_waterfall = l.bound_right - l.borderLeft;
    l.b_top = l.graph_Start;
    l.r_y = l.graphH / l.divY;
    l.b_bottom = l.r_y * l.divY + l.b_top;
    l.h_waterfall = l.waterfallOnTop ? l.b_bottom - l.graph_Start : l.graphH;
    l.size_waterfall = static_cast<size_t>(std::max(0, l.w_waterfall)) *
                       static_cast<size_t>(std::max(0, l.h_waterfall)) * 3;
    sp.vectWaterfall = allocateWaterfall(l.size_waterfall);
    if (sp.vectWaterfall == nullptr) {
      std::fputs(" _____________Waterfall Memora Esaurita!!!!\n", stderr);
      l.size_waterfall = 0;
    }
  } else {
    l.borderBottom = 50;
    l.graphH = l.SchermoHeight - l.borderTop - l.borderBottom;
    l.graph_Start = l.borderTop;
    l.b_top = l.borderTop;
    l.r_y = l.graphH / l.divY;
    l.b_bottom = l.r_y * l.divY + l.b_top;
  }
  for (int j = 0; j < kColourSteps; ++j)
    sp.ThrValColor[static_cast<size_t>(j)] = j * kThresholdStep;
  sp.layout = l;
}

Colour waterfallColour(double minDb, double maxDb, double level) {
  const Colour kBottom = kWaterfallColours.front();
  const Colour kTop = kWaterfallColours.back();
  if (!std::isfinite(minDb) || !std::isfinite(maxDb) || !std::isfinite(level)) return kBottom;
  if (maxDb == minDb) return level < minDb ? kBottom : kTop;
  const double p = (level - minDb) * 100 / (maxDb - minDb);
  if (!std::isfinite(p) || p <= 0) return kBottom;
  if (p >= (kColourSteps - 1) * kThresholdStep) return kTop;
  const auto j =
      static_cast<size_t>(std::clamp(static_cast<int>(p / kThresholdStep), 0, kColourSteps - 2));
  const double t = static_cast<double>(j) * kThresholdStep;
  auto mix = [&](uint8_t from, uint8_t to) {
    const double v =
        (static_cast<int>(to) - static_cast<int>(from)) / kThresholdStep * (p - t) + from;
    return static_cast<uint8_t>(std::clamp(static_cast<int>(v), 0, 255));
  };
  const Colour& a = kWaterfallColours[j];
  const Colour& b = kWaterfallColours[j + 1];
  return {mix(a.r, b.r), mix(a.g, b.g), mix(a.b, b.b)};
}

void CalcColorThrMode(Works& works, int& red, int& green, int& blue, double level) {
  const Colour c = waterfallColour(works.set.WTminVal.load(), works.set.WTmaxVal.load(), level);
  red = c.r;
  green = c.g;
  blue = c.b;
}

void DrawWaterfall(Works& works, double bandOffset) {
  SpectrumState& sp = works.spectrum;
  const SpectrumLayout& l = sp.layout;
  uint8_t* image = sp.vectWaterfall.get();
  if (!l.waterfallShown || image == nullptr || l.w_waterfall <= 0 || l.h_waterfall <= 0) return;
  char text[32];
  std::snprintf(text, sizeof text, "%lld", wholeOf(works.set.WTmaxVal.load()));
  label(works, l.bound_left - 35, l.waterfall_Start + 15, text);
  std::snprintf(text, sizeof text, "%lld", wholeOf(works.set.WTminVal.load()));
  label(works, l.bound_left - 35, l.waterfall_Start + l.graphH - 10, text);

  const auto w = static_cast<size_t>(l.w_waterfall);
  const size_t rowBytes = w * 3;
  // The oldest line goes; every other moves one row down.
  std::memmove(image + rowBytes, image, rowBytes * static_cast<size_t>(l.h_waterfall - 1));

  const double minDb = works.set.WTminVal.load();
  const double maxDb = works.set.WTmaxVal.load();
  auto put = [&](int column, Colour c) {
    uint8_t* p = image + static_cast<size_t>(column) * 3;
    p[0] = c.b;
    p[1] = c.g;
    p[2] = c.r;
  };
  int lastColumn = -1;
  double lastLevel = 0;
  Colour last = kWaterfallColours.front();
  for (int i = 0; i + 1 < l.xRangeEnd; ++i) {
    const int column = static_cast<int>(pointX(l, i) - static_cast<float>(l.borderLeft));
    if (column < 0 || column >= l.w_waterfall) continue;
    const double level = levelAt(works, l, i, bandOffset);
    // Several points on one column: the strongest shows.
    if (column == lastColumn && !(level > lastLevel)) continue;
    const Colour c = waterfallColour(minDb, maxDb, level);
    if (lastColumn >= 0 && column > lastColumn + 1) {
      // Columns no point falls on: each the average of its left neighbour and the new colour.
      for (int x = lastColumn + 1; x < column; ++x) {
        const uint8_t* left = image + static_cast<size_t>(x - 1) * 3;
        put(x,
            {static_cast<uint8_t>((left[2] + c.r) / 2), static_cast<uint8_t>((left[1] + c.g) / 2),
             static_cast<uint8_t>((left[0] + c.b) / 2)});
      }
    }
    put(column, c);
    lastColumn = column;
    lastLevel = level;
    last = c;
  }
  for (int x = lastColumn + 1; x < l.w_waterfall; ++x) put(x, last);

  DrawVect(l.borderLeft, l.waterfall_Start, l.bound_right, l.waterfall_Start + l.h_waterfall,
           backOf(works), {image, l.size_waterfall}, works.set.WTscroll.load() != 0);
}

PlotPoint CalculatePoint(const SpectrumLayout& l, double bottomDb, double topDb, int pointIndex,
                         double level) {
  const auto top = static_cast<double>(l.b_top);
  const auto bottom = static_cast<double>(l.b_bottom);
  double y = bottom;
  // A grid of no height, or a level that is no number, lies on the bottom line.
  if (topDb != bottomDb && std::isfinite(level) && std::isfinite(bottomDb) &&
      std::isfinite(topDb)) {
    y = bottom - (level - bottomDb) / (topDb - bottomDb) * (bottom - top);
    y = std::clamp(y, std::min(top, bottom), std::max(top, bottom));
  }
  return {pointX(l, pointIndex), static_cast<float>(y)};
}

void DrawGrid(Works& works, double bandOffset) {
  if (works.ui.pageFlags.load() != 0) return;
  const SpectrumLayout& l = works.spectrum.layout;
  FrameBuffer* fb = backOf(works);
  const DbRange range = plotRange(works, l.divY);
  label(works, l.bound_left - 35, l.borderTop - 15, "dBm");
  char text[32];
  for (int k = 0; k <= l.divY; ++k) {
    const int y = l.r_y * k + l.b_top;
    DrawHorizontalLine(l.bound_left, y, l.bound_right, kGridLine.r, kGridLine.g, kGridLine.b, fb);
    if (l.waterfallShown && k % 2 != 0) continue;
    std::snprintf(text, sizeof text, "%lld", range.top - k * range.perDiv);
    label(works, l.bound_left - 35, y + 6, text);
  }
  for (int k = 0; k <= l.divX; ++k) {
    const int x = l.r_x * k + l.bound_left;
    DrawLine(x, l.b_top, x, l.b_bottom, kGridLine.r, kGridLine.g, kGridLine.b, fb);
    if (k == 0 || k == l.divX) continue;
    const int t = k * 10 - l.spanHz / 2000;  // kHz from the centre
    if (t == 0) {
      label(works, x, l.b_bottom + 13, "0");
    } else {
      std::snprintf(text, sizeof text, t < 0 ? "%d" : "+%d", t);
      label(works, x - 10, l.b_bottom + 13, text);
    }
  }
  const auto bottomDb = static_cast<double>(range.bottom);
  const auto topDb = static_cast<double>(range.top);
  PlotPoint from = CalculatePoint(l, bottomDb, topDb, 0, levelAt(works, l, 0, bandOffset));
  for (int i = 0; i + 1 < l.xRangeEnd; ++i) {
    const PlotPoint to =
        CalculatePoint(l, bottomDb, topDb, i + 1, levelAt(works, l, i + 1, bandOffset));
    DrawLine(static_cast<int>(from.x), static_cast<int>(from.y), static_cast<int>(to.x),
             static_cast<int>(to.y), kTrace.r, kTrace.g, kTrace.b, fb);
    from = to;
  }
  DrawFreq(works);
}

std::string frequencyTitle(double hz) {
  char text[48];
  if (hz < 1000) {
    std::snprintf(text, sizeof text, "%.00fHz", hz);
  } else if (hz <= 999999) {
    std::snprintf(text, sizeof text, "%.03fkHz", hz / 1000);
  } else {
    std::snprintf(text, sizeof text, "%.03fMHz", hz / 1000000);
  }
  return text;
}

void DrawFreq(Works& works) {
  const uint32_t f = works.ui.trxFreq.load();
  if (f == 0) return;
  const SpectrumLayout& l = works.spectrum.layout;
  const std::string title = frequencyTitle(static_cast<double>(f));
  putString(kTitleFont, (l.bound_right - l.bound_left) / 2 + l.bound_left - 75,
            l.borderTop - l.r_y / 2, title.c_str(), kTitle.r, kTitle.g, kTitle.b, backOf(works));
}

}  // namespace corvid
