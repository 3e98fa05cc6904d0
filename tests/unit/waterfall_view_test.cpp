// The spectrum view: its colour map, its layouts, the grid's range and points, the
// waterfall's new line (gap filling, strongest point per column, scroll, orientation),
// the trace over the grid and the frequency title. The pictures as a whole are checked
// by the screenshot tests.
#include "scope/scope_view.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <future>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "bands/bands.h"
#include "core/settings.h"
#include "core/works.h"
#include "gfx/framebuffer.h"
#include "scope/plotter.h"
#include "tests/unit/test_support.h"
#include "ui/display.h"

namespace corvid {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(WaterfallColour, MapsTheRangeOntoSeventeenSteps) {
  struct Case {
    double min, max, level;
    Colour expected;
  };
  const Case cases[] = {
      {-140, -40, -90, {219, 213, 3}},      // 50 %: exactly step 8
      {-140, -40, -140, {0, 0, 0}},         // the bottom of the range
      {-140, -40, -200, {0, 0, 0}},         // below it
      {-140, -40, -40, {255, 255, 255}},    // the top
      {-140, -40, 10, {255, 255, 255}},     // above it
      {-140, -40, -86.875, {228, 210, 5}},  // half way from step 8 to 9, truncated
      {-140, -40, -133.75, {0, 18, 96}},    // step 1
      {-140, -40, -136.875, {0, 9, 48}},    // half way from black to step 1
      {-100, -100, -101, {0, 0, 0}},        // no width: below is black
      {-100, -100, -100, {255, 255, 255}},  // and the rest white
      {kNaN, -40, -90, {0, 0, 0}},          // no number: black
      {-140, kInf, -90, {0, 0, 0}},        {-140, -40, kNaN, {0, 0, 0}},
      {-40, -140, -130, {252, 133, 132}},  // an inverted range is still a range: 90 %
  };
  for (const Case& c : cases) {
    const Colour got = waterfallColour(c.min, c.max, c.level);
    EXPECT_EQ(got, c.expected) << c.min << ".." << c.max << " at " << c.level << ": " << int{got.r}
                               << "," << int{got.g} << "," << int{got.b};
  }
}

class SpectrumView : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::setLogSink([](platform::LogLevel, std::string_view) {});
    initSetup(w());
    w().set.WTminVal = -140;
    w().set.WTmaxVal = -40;
    w().gfx.fb = makeMemoryFrameBuffer(800, 480, 32);
    InitPlotterTab(w(), 0, 10, 10, 0.0);
    BandTable::Snapshot bands;
    bands.rows[5] = {"20m", 14000000, 14350000, 1, 1, 0, 0, 0};
    bands.count = 11;
    w().bands.bands.set(bands);
    w().ui.trxFreq = 14070000;
    view(4, 0);
  }
  void TearDown() override {
    setWaterfallAllocator(nullptr);
    platform::setLogSink(nullptr);
  }
  Works& w() { return *works_; }
  const SpectrumLayout& layout() { return w().spectrum.layout; }

  // The grid of a view and the waterfall flags, built as the display loop builds them.
  void view(int v, int flags, int scroll = 1) {
    const bool wide = v == 4;
    w().spectrum.divX = wide ? 16 : 8;
    w().spectrum.divY = 10;
    w().spectrum.xRangeStart = 0;
    w().spectrum.xRangeEnd = wide ? 854 : 427;
    w().spectrum.spanHz = wide ? 160000 : 80000;
    w().set.waterfallFlags = flags;
    w().set.WTscroll = scroll;
    InitGrid(w());
  }
  void levels(float value) { w().spectrum.frameLevels.fill(value); }
  Colour pixel(int x, int y) {
    const FrameBuffer& fb = *w().gfx.fb;
    const uint8_t* p = fb.back.get() + static_cast<size_t>(y) * fb.lineLength + x * 4;
    return {p[2], p[1], p[0]};
  }
  // A column of the waterfall's newest line.
  Colour newest(int column) {
    const uint8_t* p = w().spectrum.vectWaterfall.get() + static_cast<size_t>(column) * 3;
    return {p[2], p[1], p[0]};
  }

 private:
  std::unique_ptr<Works> works_ = std::make_unique<Works>();
};

TEST_F(SpectrumView, LayoutsOfBothViewsWithAndWithoutTheWaterfall) {
  struct Case {
    const char* name;
    int view, flags;
    int boundRight, bTop, bBottom, rY, waterfallStart, hWaterfall;
  };
  const Case cases[] = {
      {"plot only", 4, 0, 758, 60, 230, 17, 0, 0},
      {"waterfall below", 4, kWaterfallEnable, 758, 60, 140, 8, 160, 85},
      {"waterfall on top", 4, kWaterfallEnable | kWaterfallOnTop, 758, 147, 227, 8, 60, 80},
      {"zoom, waterfall below", 5, kWaterfallEnable, 758, 60, 140, 8, 160, 85},
      {"on top without the waterfall", 5, kWaterfallOnTop, 758, 60, 230, 17, 0, 0},
  };
  for (const Case& c : cases) {
    view(c.view, c.flags);
    const SpectrumLayout& l = layout();
    EXPECT_EQ(l.r_x, c.view == 4 ? 43 : 86) << c.name;
    EXPECT_EQ(l.bound_right, c.boundRight) << c.name;
    EXPECT_EQ(l.b_top, c.bTop) << c.name;
    EXPECT_EQ(l.b_bottom, c.bBottom) << c.name;
    EXPECT_EQ(l.r_y, c.rY) << c.name;
    EXPECT_EQ(l.waterfall_Start, c.waterfallStart) << c.name;
    EXPECT_EQ(l.h_waterfall, c.hWaterfall) << c.name;
    const bool shown = (c.flags & kWaterfallEnable) != 0;
    EXPECT_EQ(l.w_waterfall, shown ? 688 : 0) << c.name;
    EXPECT_EQ(w().spectrum.vectWaterfall != nullptr, shown) << c.name;
    EXPECT_EQ(l.size_waterfall, shown ? size_t{688} * c.hWaterfall * 3 : 0) << c.name;
  }
  EXPECT_DOUBLE_EQ(w().spectrum.ThrValColor[8], 50.0);
  EXPECT_DOUBLE_EQ(w().spectrum.ThrValColor[16], 100.0);
}

TEST_F(SpectrumView, AFailedWaterfallAllocationLeavesNoImageAndDrawsNothing) {
  view(4, kWaterfallEnable);
  ASSERT_NE(w().spectrum.vectWaterfall, nullptr);
  setWaterfallAllocator([](size_t) { return std::unique_ptr<uint8_t[]>(); });
  ::testing::internal::CaptureStderr();
  view(4, kWaterfallEnable);
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("Waterfall Memora Esaurita"),
            std::string::npos);
  EXPECT_EQ(w().spectrum.vectWaterfall, nullptr);
  EXPECT_EQ(layout().size_waterfall, 0u);
  levels(-40);
  fbSetBack(w().gfx.fb.get());
  DrawWaterfall(w(), 0.0);
  EXPECT_EQ(pixel(400, 200), (Colour{0, 0, 0})) << "no waterfall drawn";
  DrawGrid(w(), 0.0);  // the plot still shows
  EXPECT_EQ(pixel(400, 92), (Colour{255, 255, 255})) << "-40 dBm on the -100..0 grid of 60..140";
  setWaterfallAllocator(nullptr);
  view(4, kWaterfallEnable);
  EXPECT_NE(w().spectrum.vectWaterfall, nullptr) << "the next rebuild allocates again";
}

TEST_F(SpectrumView, TheGridRangeComesFromTheBandsPlotterRow) {
  struct Case {
    const char* name;
    uint32_t freq;
    PlotterRow row;  // offset, refLevel, refPosition, dbPerDiv
    long long bottom, top;
  };
  const Case cases[] = {
      {"default row", 14070000, {0, 0, 10, 10}, -100, 0},
      {"reference -20 at 2", 14070000, {0, -20, 2, 10}, -40, 60},
      {"outside all bands: row 11", 27000000, {0, -30, 0, 5}, -30, 20},
      {"a file's extreme numbers",
       14070000,
       {0, INT_MIN, INT_MAX, INT_MAX},
       static_cast<long long>(INT_MIN) - static_cast<long long>(INT_MAX) * INT_MAX,
       static_cast<long long>(INT_MIN) - static_cast<long long>(INT_MAX) * INT_MAX +
           10LL * INT_MAX},
  };
  for (const Case& c : cases) {
    InitPlotterTab(w(), 0, 10, 10, 0.0);
    w().spectrum.plotter.setRow(c.freq == 27000000 ? 11 : 5, c.row);
    w().ui.trxFreq = c.freq;
    const DbRange r = plotRange(w(), 10);
    EXPECT_EQ(r.bottom, c.bottom) << c.name;
    EXPECT_EQ(r.top, c.top) << c.name;
  }
  // The offset of the band: 0 outside all bands.
  w().spectrum.plotter.setRow(5, {2.5, 0, 10, 10});
  w().ui.trxFreq = 14070000;
  EXPECT_DOUBLE_EQ(LoadOffsetBanda(w()), 2.5);
  w().ui.trxFreq = 27000000;
  EXPECT_DOUBLE_EQ(LoadOffsetBanda(w()), 0.0);
}

TEST_F(SpectrumView, PointsStayInsideTheirGrid) {
  view(4, kWaterfallEnable | kWaterfallOnTop);  // the grid from row 147 to row 227
  struct Case {
    double bottom, top, level;
    float y;
  };
  const Case cases[] = {
      {-100, 0, -100, 227}, {-100, 0, 0, 147},     {-100, 0, -50, 187},
      {-100, 0, -140, 227}, {-100, 0, 30, 147},    {-100, -100, -50, 227},
      {-100, 0, kNaN, 227}, {-100, 0, -kInf, 227}, {-100, 0, kInf, 227},
  };
  for (const Case& c : cases) {
    EXPECT_FLOAT_EQ(CalculatePoint(layout(), c.bottom, c.top, 0, c.level).y, c.y)
        << c.bottom << ".." << c.top << " at " << c.level;
  }
  EXPECT_FLOAT_EQ(CalculatePoint(layout(), -100, 0, 0, -50).x, 70.0f);
  EXPECT_FLOAT_EQ(CalculatePoint(layout(), -100, 0, 427, -50).x, 414.0f);
  EXPECT_FLOAT_EQ(CalculatePoint(layout(), -100, 0, 854, -50).x, 758.0f);
  // The zoomed view spreads the middle half of the levels over the same width.
  view(5, 0);
  EXPECT_EQ(levelIndexOf(layout(), 0), 213);
  EXPECT_EQ(levelIndexOf(layout(), 425), 638);
  EXPECT_FLOAT_EQ(CalculatePoint(layout(), -100, 0, 427, -50).x, 758.0f);
  EXPECT_FLOAT_EQ(CalculatePoint(layout(), -100, 0, 1, -50).x, 70.0f + 688.0f / 427.0f);
}

TEST_F(SpectrumView, TheTraceFollowsTheLevelsAndTheBandOffset) {
  levels(-50);
  fbSetBack(w().gfx.fb.get());
  DrawGrid(w(), 0.0);
  // -50 dBm on the -100..0 grid of rows 60..230: half way, row 145.
  EXPECT_EQ(pixel(300, 145), (Colour{255, 255, 255}));
  EXPECT_EQ(pixel(300, 162), (Colour{120, 120, 120})) << "a grid line";
  fbSetBack(w().gfx.fb.get());
  DrawGrid(w(), 10.0);  // -40 dBm: row 128
  EXPECT_EQ(pixel(300, 128), (Colour{255, 255, 255}));
  EXPECT_NE(pixel(300, 145), (Colour{255, 255, 255}));
  // A single strong point: the trace peaks at its x.
  levels(-100);
  w().spectrum.frameLevels[500] = -10;
  fbSetBack(w().gfx.fb.get());
  DrawGrid(w(), 0.0);
  const int peakX = static_cast<int>(70 + 500 / 854.0 * 688);  // 472
  EXPECT_EQ(pixel(peakX, 77), (Colour{255, 255, 255})) << "-10 dBm: row 77";
  for (int x = 75; x < 785; x += 10) {
    if (std::abs(x - peakX) > 3) {
      EXPECT_NE(pixel(x, 100), (Colour{255, 255, 255})) << x;
    }
  }
  // A page on the panel: nothing drawn.
  w().ui.pageFlags = 1;
  fbSetBack(w().gfx.fb.get());
  DrawGrid(w(), 0.0);
  EXPECT_EQ(pixel(300, 60), (Colour{0, 0, 0}));
}

TEST_F(SpectrumView, TheWaterfallLineKeepsTheStrongestPointAndFillsGaps) {
  // The wide view has more points than columns: points 0 and 1 share column 0, points
  // 10 and 11 column 8.
  view(4, kWaterfallEnable);
  levels(-140);
  std::array<float, kSpectrumPoints>& level = w().spectrum.frameLevels;
  level[1] = -40;    // after a weaker point on its column: it shows
  level[10] = -40;   // before a weaker one: it stays
  level[852] = -90;  // the last point drawn (column 686): its colour runs to the end
  DrawWaterfall(w(), 0.0);
  EXPECT_EQ(newest(0), (Colour{255, 255, 255}));
  EXPECT_EQ(newest(1), (Colour{0, 0, 0}));
  EXPECT_EQ(newest(8), (Colour{255, 255, 255}));
  EXPECT_EQ(newest(686), (Colour{219, 213, 3}));
  EXPECT_EQ(newest(687), (Colour{219, 213, 3}));

  // The zoomed view has fewer points than columns: point 1 is on column 1, point 2 on 3;
  // column 2 is the average of column 1 and the new colour.
  view(5, kWaterfallEnable);
  levels(-140);
  level[213 + 2] = -40;
  level[213 + 425] = -40;  // column 684, and the rest of the line after it
  DrawWaterfall(w(), 0.0);
  EXPECT_EQ(newest(1), (Colour{0, 0, 0}));
  EXPECT_EQ(newest(2), (Colour{127, 127, 127}));
  EXPECT_EQ(newest(3), (Colour{255, 255, 255}));
  EXPECT_EQ(newest(4), (Colour{0, 0, 0})) << "point 3";
  for (int c : {684, 685, 686, 687}) EXPECT_EQ(newest(c), (Colour{255, 255, 255})) << c;
}

TEST_F(SpectrumView, TheWaterfallScrollsOneLinePerFrameInEitherDirection) {
  for (int scroll : {1, 0}) {
    view(4, kWaterfallEnable, scroll);
    levels(-40);  // white
    DrawWaterfall(w(), 0.0);
    levels(-90);  // step 8
    fbSetBack(w().gfx.fb.get());
    DrawWaterfall(w(), 0.0);
    // The box is rows 160..244: the newest line at the top (scroll set) or the bottom.
    const int newestRow = scroll != 0 ? 160 : 244;
    const int olderRow = scroll != 0 ? 161 : 243;
    const int oldestRow = scroll != 0 ? 244 : 160;
    EXPECT_EQ(pixel(300, newestRow), (Colour{219, 213, 3})) << scroll;
    EXPECT_EQ(pixel(300, olderRow), (Colour{255, 255, 255})) << scroll;
    EXPECT_EQ(pixel(300, oldestRow), (Colour{0, 0, 0})) << scroll << ": a new layout starts black";
    EXPECT_EQ(pixel(69, newestRow), (Colour{0, 0, 0})) << "left of the box";
    EXPECT_EQ(pixel(757, newestRow), (Colour{219, 213, 3})) << "the box's last column";
    EXPECT_EQ(pixel(758, newestRow), (Colour{0, 0, 0})) << "right of the box";
  }
}

TEST_F(SpectrumView, TheDisplayLoopRebuildsOnRequestAndCopiesTheLevels) {
  w().trx.pexLevels.fill(-70);
  w().set.waterfallFlags = kWaterfallEnable | kWaterfallRebuild;
  w().spectrum.vectWaterfall.reset();
  drawSpectrum(w());
  EXPECT_EQ(w().set.waterfallFlags.load(), kWaterfallEnable) << "the request is taken";
  ASSERT_NE(w().spectrum.vectWaterfall, nullptr);
  EXPECT_FLOAT_EQ(w().spectrum.frameLevels[0], -70.0f);
  // While the link holds the levels, the frame keeps the last copy.
  w().trx.pexLevels.fill(-20);
  {
    std::promise<void> held;
    std::promise<void> done;
    std::thread link([&] {
      std::scoped_lock busy(w().trx.serMut);
      held.set_value();
      done.get_future().wait();
    });
    held.get_future().wait();
    drawSpectrum(w());
    done.set_value();
    link.join();
  }
  EXPECT_FLOAT_EQ(w().spectrum.frameLevels[0], -70.0f);
  drawSpectrum(w());
  EXPECT_FLOAT_EQ(w().spectrum.frameLevels[0], -20.0f);
}

TEST(SpectrumTitle, KiloAndMegaHertz) {
  const std::pair<double, const char*> cases[] = {
      {999, "999Hz"},        {1000, "1.000kHz"},      {999999, "999.999kHz"},
      {1000000, "1.000MHz"}, {14070000, "14.070MHz"}, {54000000, "54.000MHz"},
  };
  for (const auto& [hz, text] : cases) EXPECT_EQ(frequencyTitle(hz), text) << hz;
}

TEST(PlotterFile, AnOffsetThatIsNoNumberLeavesTheRow) {
  testing::TempRoot root;
  auto works = std::make_unique<Works>();
  initSetup(*works);
  InitPlotterTab(*works, -10, 3, 5, 1.5);
  root.write("/opt/set/plotter.txt", "0 10 10 inf\n-20 2 10 nan\n-30 4 6 2.0\n");
  LoadPlotterFile(*works);
  EXPECT_EQ(works->spectrum.plotter.row(0).refLevel, -10);
  EXPECT_DOUBLE_EQ(works->spectrum.plotter.row(0).plotOffset, 1.5);
  EXPECT_EQ(works->spectrum.plotter.row(1).refLevel, -10);
  EXPECT_EQ(works->spectrum.plotter.row(2).refLevel, -30);
  EXPECT_DOUBLE_EQ(works->spectrum.plotter.row(2).plotOffset, 2.0);
}

}  // namespace
}  // namespace corvid
