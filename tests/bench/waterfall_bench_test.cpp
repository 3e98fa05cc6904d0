// The spectrum and waterfall views of the real controller on the bench: the EXT IO
// transceiver simulator on DIR/dev/VORNSER (a bank whose interface is "!Pex") sends its
// FFT with a test carrier ("extio-carrier:HZ"), and the panel, read straight from the
// framebuffer file DIR/dev/fb0, must draw it where the view's geometry puts it.
//
// Two runs of the controller (each start-up costs about 14 s):
//   1. without the waterfall: the view key from view 3 to 4, the white trace's peak at the
//      carrier's place and height, moved with the carrier, the plot box, and a row of the
//      spectrum settings edited from the menu (plotter.txt on ENTER, the trace lower);
//   2. with the waterfall below the plot, then (from the menu) on top and scrolling the
//      other way: the boxes, the waterfall's one row per frame, the carrier in its newest
//      row.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sim/extio_sim.h"
#include "sim/gpio_keys.h"
#include "sim/root_settings.h"
#include "sim/station_feed.h"
#include "tests/bench/bench_harness.h"
#include "tests/bench/panel_driver.h"

namespace corvid::bench::test {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// ---------------------------------------------------------------- the panel's geometry

// The framebuffer file: 800 x 480, blue, green, red, 0.
constexpr int kFbWidth = 800;
constexpr int kFbHeight = 480;
constexpr int kFbStride = kFbWidth * 4;

// View 4: 854 points over the grid. The grid's width is r_x = (800 - 70 - 40) / 16 = 43
// pixels a division, 16 divisions: x 70 to 758.
constexpr int kLeft = 70;
constexpr int kRight = kLeft + (800 - 70 - 40) / 16 * 16;
constexpr int kPoints = 854;
constexpr int kWaterfallWidth = kRight - kLeft;  // columns 0..687 at x 70..757

double pointX(int i) {
  return kLeft + static_cast<double>(i) / kPoints * (kRight - kLeft);
}

// The transceiver puts the shown frequency at bin 512; the panel's level i is bin i + 1
// (bins 1..854), so the trace sits 84 bins off the grid's centre. That is the specified
// mapping: a carrier HZ from the shown frequency is at bin 512 + round(HZ / 187.5), point
// bin - 1.
int carrierPoint(int hz) {
  return 512 + static_cast<int>(std::lround(hz / 187.5)) - 1;
}

struct Box {
  int left, top, right, bottom;  // inclusive
  bool contains(int x, int y) const { return x >= left && x <= right && y >= top && y <= bottom; }
};

struct Layout {
  const char* name;
  Box plot;
  std::optional<Box> waterfall;
  bool newestOnTop = false;  // WTscroll nonzero
};

// The plot 170 pixels high without the waterfall; with it, the plot 80 high and the
// waterfall 85 rows below it (from y 160), or 80 rows on top with the plot 7 below.
const Layout kNoWaterfall{"no waterfall", {kLeft, 60, kRight, 230}, std::nullopt, false};
const Layout kWaterfallBelow{
    "waterfall below", {kLeft, 60, kRight, 140}, Box{kLeft, 160, kRight - 1, 244}, false};
const Layout kWaterfallOnTop{
    "waterfall on top", {kLeft, 147, kRight, 227}, Box{kLeft, 60, kRight - 1, 139}, true};

// A band row of plotter.txt: the grid from B = refLevel - refPosition x dbPerDiv up to
// T = B + 10 x dbPerDiv.
struct PlotRow {
  int refLevel = 0;
  int refPosition = 10;
  int dbPerDiv = 10;
};

double levelY(const Layout& layout, const PlotRow& row, double level) {
  const double bottom = row.refLevel - row.refPosition * row.dbPerDiv;
  const double top = bottom + 10.0 * row.dbPerDiv;
  const double height = layout.plot.bottom - layout.plot.top;
  const double y = layout.plot.bottom - (level - bottom) / (top - bottom) * height;
  return std::clamp<double>(y, layout.plot.top, layout.plot.bottom);
}

// ---------------------------------------------------------------- the framebuffer

struct Pixel {
  int r = 0, g = 0, b = 0;
  bool white() const { return r == 255 && g == 255 && b == 255; }
  int sum() const { return r + g + b; }
};

class Frame {
 public:
  // Rows first..first + rows - 1 of the file as it is now; empty when it is short.
  static Frame read(const fs::path& fb, int first = 0, int rows = kFbHeight) {
    Frame f;
    f.first_ = first;
    f.rows_ = rows;
    std::ifstream in(fb, std::ios::binary);
    f.bytes_.resize(static_cast<size_t>(rows) * kFbStride);
    in.seekg(static_cast<std::streamoff>(first) * kFbStride);
    in.read(reinterpret_cast<char*>(f.bytes_.data()),
            static_cast<std::streamsize>(f.bytes_.size()));
    if (in.gcount() != static_cast<std::streamsize>(f.bytes_.size())) f.bytes_.clear();
    return f;
  }
  bool ok() const { return !bytes_.empty(); }
  Pixel at(int x, int y) const {
    const size_t o = static_cast<size_t>(y - first_) * kFbStride + static_cast<size_t>(x) * 4;
    return {bytes_[o + 2], bytes_[o + 1], bytes_[o]};
  }
  // The bytes of row y from x to x + width - 1.
  std::string_view row(int y, int x, int width) const {
    const size_t o = static_cast<size_t>(y - first_) * kFbStride + static_cast<size_t>(x) * 4;
    return {reinterpret_cast<const char*>(bytes_.data()) + o, static_cast<size_t>(width) * 4};
  }

 private:
  int first_ = 0;
  int rows_ = 0;
  std::vector<uint8_t> bytes_;
};

// The white trace inside the plot box: its highest pixel (the mean x of the white pixels
// of its top row), how far it spans, how much of it lies on the bottom line, and the white
// pixels near the plot that are in neither box.
struct Trace {
  double peakX = -1;
  int peakY = -1;
  int leftmost = kFbWidth;
  int rightmost = -1;
  int onBottomLine = 0;
  int strayWhite = 0;
  std::string describe() const {
    std::ostringstream s;
    s << "peak (" << peakX << ", " << peakY << "), x " << leftmost << ".." << rightmost << ", "
      << onBottomLine << " px on the bottom line, " << strayWhite << " stray white px";
    return s.str();
  }
};

// Rows of the panel checked for stray white: below the clock, above the status boxes.
constexpr int kCheckedTop = 30;
constexpr int kCheckedBottom = 262;

Trace traceOf(const Frame& frame, const Layout& layout) {
  Trace t;
  int sumX = 0;
  int atPeak = 0;
  for (int y = kCheckedTop; y <= kCheckedBottom; ++y) {
    for (int x = 0; x < kFbWidth; ++x) {
      if (!frame.at(x, y).white()) continue;
      if (!layout.plot.contains(x, y)) {
        // The waterfall may be white where a strong carrier is.
        if (!layout.waterfall || !layout.waterfall->contains(x, y)) ++t.strayWhite;
        continue;
      }
      if (t.peakY < 0) t.peakY = y;
      if (y == t.peakY) {
        sumX += x;
        ++atPeak;
      }
      t.leftmost = std::min(t.leftmost, x);
      t.rightmost = std::max(t.rightmost, x);
      if (y == layout.plot.bottom) ++t.onBottomLine;
    }
  }
  if (atPeak > 0) t.peakX = static_cast<double>(sumX) / atPeak;
  return t;
}

// Waits for a frame whose trace peaks within 2 px of x; the last trace seen.
Trace waitForPeakAt(const fs::path& fb, const Layout& layout, double x) {
  Trace last;
  waitUntil(
      [&] {
        const Frame frame = Frame::read(fb);
        if (!frame.ok()) return false;
        last = traceOf(frame, layout);
        return std::abs(last.peakX - x) <= 2.0;
      },
      15s);
  return last;
}

// The grid's lines are (120, 120, 120).
bool grey(const Pixel& p) {
  return p.r == 120 && p.g == 120 && p.b == 120;
}

// The share of the pixels of row y from x0 to x1, or of column x from y0 to y1, that are
// grid.
double greyShareOfRow(const Frame& frame, int y, int x0, int x1) {
  int n = 0;
  for (int x = x0; x <= x1; ++x) n += grey(frame.at(x, y)) ? 1 : 0;
  return static_cast<double>(n) / (x1 - x0 + 1);
}
double greyShareOfColumn(const Frame& frame, int x, int y0, int y1) {
  int n = 0;
  for (int y = y0; y <= y1; ++y) n += grey(frame.at(x, y)) ? 1 : 0;
  return static_cast<double>(n) / (y1 - y0 + 1);
}

// The waterfall sampled as fast as the file can be read. For each pair of successive
// samples whose box differs, the smallest shift k >= 1 of the image (row 0 the newest)
// under which the new box's rows equal the old box's over their overlap; a pair matched
// by no shift is a sample read while the controller copied a frame.
struct Scrolls {
  int changed = 0;
  int byOne = 0;
  int byMore = 0;
  int torn = 0;
  std::string describe() const {
    std::ostringstream s;
    s << changed << " changes: " << byOne << " by one row, " << byMore << " by more, " << torn
      << " matching no shift";
    return s.str();
  }
};

Scrolls sampleScrolls(const fs::path& fb, const Box& box, bool newestOnTop) {
  const int h = box.bottom - box.top + 1;
  const int w = box.right - box.left + 1;
  // Image row j of a sample: screen row top + j when the newest is on top, else from the
  // bottom.
  auto imageRow = [&](const Frame& f, int j) {
    return f.row(newestOnTop ? box.top + j : box.bottom - j, box.left, w);
  };
  Scrolls s;
  std::optional<Frame> previous;
  const auto deadline = Clock::now() + 20s;
  while (s.changed < 60 && Clock::now() < deadline) {
    Frame now = Frame::read(fb, box.top, h);
    if (!now.ok()) continue;
    if (previous) {
      bool same = true;
      for (int j = 0; j < h && same; ++j) same = imageRow(now, j) == imageRow(*previous, j);
      if (!same) {
        ++s.changed;
        int shift = 0;
        for (int k = 1; k < h && shift == 0; ++k) {
          bool match = true;
          for (int j = 0; j + k < h && match; ++j) {
            match = imageRow(now, j + k) == imageRow(*previous, j);
          }
          if (match) shift = k;
        }
        if (shift == 1) {
          ++s.byOne;
        } else if (shift > 1) {
          ++s.byMore;
        } else {
          ++s.torn;
        }
      }
    }
    previous = std::move(now);
    std::this_thread::sleep_for(3ms);
  }
  return s;
}

// The newest row of the waterfall at the carrier's column against the floor around it.
struct NewestRow {
  Pixel carrier;
  // The median (by brightness) of the columns 6 to 12 away on either side: another
  // carrier's few columns among them do not count.
  Pixel floor;
};

NewestRow newestRow(const Frame& frame, const Layout& layout, int point) {
  const Box& box = *layout.waterfall;
  const int y = layout.newestOnTop ? box.top : box.bottom;
  const int column = static_cast<int>(pointX(point) - kLeft);
  NewestRow n;
  n.carrier = frame.at(box.left + column, y);
  std::vector<Pixel> around;
  for (int d = 6; d <= 12; ++d) {
    for (int c : {column - d, column + d}) {
      if (c >= 0 && c < kWaterfallWidth) around.push_back(frame.at(box.left + c, y));
    }
  }
  std::sort(around.begin(), around.end(),
            [](const Pixel& a, const Pixel& b) { return a.sum() < b.sum(); });
  if (!around.empty()) n.floor = around[around.size() / 2];
  return n;
}

std::string describe(const Pixel& p) {
  return "(" + std::to_string(p.r) + ", " + std::to_string(p.g) + ", " + std::to_string(p.b) + ")";
}

// ---------------------------------------------------------------- the bench

constexpr const char* kPlotterDefaultRow = "0 10 10 0.0";

std::string plotterFile() {
  std::string text;
  for (int row = 0; row < 12; ++row) text += std::string(kPlotterDefaultRow) + "\n";
  return text;
}

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The layout's boxes, the trace's peak at the carrier and its floor on the bottom line.
void checkPlot(const fs::path& fb, const Layout& layout, int carrierHz, const PlotRow& row) {
  SCOPED_TRACE(layout.name);
  const int point = carrierPoint(carrierHz);
  const Trace t = waitForPeakAt(fb, layout, pointX(point));
  EXPECT_NEAR(t.peakX, pointX(point), 2.0) << t.describe();
  EXPECT_NEAR(t.peakY, levelY(layout, row, -30), 2.0) << t.describe();
  // All 854 points across the box, the floor (-114 dB) clamped to the bottom line.
  EXPECT_LE(t.leftmost, kLeft + 1) << t.describe();
  EXPECT_GE(t.rightmost, kRight - 2) << t.describe();
  EXPECT_GT(t.onBottomLine, (kRight - kLeft) / 3) << t.describe();
  EXPECT_EQ(t.strayWhite, 0) << t.describe();
  const Frame frame = Frame::read(fb);
  ASSERT_TRUE(frame.ok());
  // The grid's frame: its top line and its left and right lines, nothing beyond them
  // (the bottom line is under the floor's trace). The upper half of the columns is
  // clear of the trace's carriers but for a few pixels.
  const Box& p = layout.plot;
  const int middle = (p.top + p.bottom) / 2;
  EXPECT_GT(greyShareOfRow(frame, p.top, p.left, p.right), 0.9) << "top line y " << p.top;
  EXPECT_LT(greyShareOfRow(frame, p.top - 1, p.left, p.right), 0.1) << "above y " << p.top;
  EXPECT_GT(greyShareOfColumn(frame, p.left, p.top, middle), 0.9) << "left line x " << p.left;
  EXPECT_GT(greyShareOfColumn(frame, p.right, p.top, middle), 0.9) << "right line x " << p.right;
  EXPECT_LT(greyShareOfColumn(frame, p.right + 1, p.top, middle), 0.1) << "beyond x " << p.right;
}

void checkWaterfall(const fs::path& fb, const Layout& layout, int carrierHz) {
  SCOPED_TRACE(layout.name);
  const Scrolls s = sampleScrolls(fb, *layout.waterfall, layout.newestOnTop);
  EXPECT_GE(s.byOne + s.byMore, 20) << s.describe();
  EXPECT_GE(s.byOne + s.byMore, s.changed / 2) << "most samples torn: " << s.describe();
  EXPECT_GE(s.byOne, 0.8 * (s.byOne + s.byMore)) << s.describe();

  const Frame frame = Frame::read(fb);
  ASSERT_TRUE(frame.ok());
  const NewestRow n = newestRow(frame, layout, carrierPoint(carrierHz));
  // -30 dB is above the waterfall's -40 dBm: white; the floor is dark blue.
  EXPECT_GE(n.carrier.sum(), 600) << describe(n.carrier);
  EXPECT_LE(n.floor.sum(), 400) << describe(n.floor);
  EXPECT_GT(n.floor.b, n.floor.r) << describe(n.floor);
}

TEST(SpectrumBench, TraceWaterfallAndSettingsFollowTheTransceiver) {
  MicroRun bench;
  CorvidRun& run = bench.corvid();
  ASSERT_TRUE(run.prepared());
  run.writeFile("/opt/set/setup.txt",
                withValues(goldenSetup(), {{"ViewType", "3"}, {"WTenable", "0"}}));
  writeBandTables(run, factoryBandTable("!Pex"));
  run.writeFile("/opt/set/plotter.txt", plotterFile());
  std::ofstream(run.root().faultsFile()) << "extio-carrier:+40000\n";
  ExtIoSimulator sim({.root = run.root().dir(),
                      .port = "/dev/VORNSER",
                      .watchFaultsFile = true,
                      .cycleMs = 100,
                      .station = {}});
  std::string error;
  ASSERT_TRUE(sim.start(error)) << error;
  StationFeed feed(sim.sharedStation(), bench.micro());
  feed.start();
  ASSERT_TRUE(bench.start());
  const fs::path fb = run.root().under("/dev/fb0");
  Panel keys(run);
  ASSERT_TRUE(keys.ok()) << keys.error();
  ASSERT_TRUE(run.waitForLog("EXT IO freq 14070000")) << run.log();
  ASSERT_TRUE(waitStarted(run)) << run.log();
  ASSERT_EQ(sim.carrier(), 40'000);

  {
    SCOPED_TRACE("the view key: view 3 to the spectrum, remembered in setup.txt");
    ASSERT_TRUE(keys.tap(6)) << run.log();
    EXPECT_TRUE(run.waitForLog("type to 4", 5s)) << run.log();
    EXPECT_TRUE(waitUntil([&] { return rootSetting(run.root(), "ViewType") == "4"; }, 5s))
        << rootSetting(run.root(), "ViewType").value_or("(none)");
  }
  {
    SCOPED_TRACE("the trace follows the carrier: +40 kHz, then -25 kHz");
    checkPlot(fb, kNoWaterfall, 40'000, {});
    sim.setCarrier(-25'000);
    checkPlot(fb, kNoWaterfall, -25'000, {});
  }
  {
    SCOPED_TRACE("the spectrum settings: the 20 m row's reference position, 10 to 5");
    ASSERT_TRUE(keys.tapTo(5, "menu")) << run.log();
    ASSERT_TRUE(keys.taps(4, 17));  // item 17, the spectrum settings
    ASSERT_TRUE(keys.tapTo(6, "menu-edit")) << run.log();
    ASSERT_TRUE(keys.tap(5));  // "Modify"
    ASSERT_TRUE(keys.tapTo(6, "spectrum-settings")) << run.log();
    ASSERT_TRUE(keys.taps(4, 5));  // row 5, 20 m
    ASSERT_TRUE(keys.tap(5));      // this row only, not all twelve
    ASSERT_TRUE(keys.tapTo(6, "spectrum-edit")) << run.log();
    ASSERT_TRUE(keys.taps(2, 2));  // the offset column to the reference position
    ASSERT_TRUE(keys.taps(4, 5));
    EXPECT_EQ(run.readFile("/opt/set/plotter.txt"), plotterFile()) << "written before ENTER";
    ASSERT_TRUE(keys.tap(6));
    std::vector<std::string> lines;
    EXPECT_TRUE(waitUntil(
        [&] {
          lines = linesOf(run.readFile("/opt/set/plotter.txt").value_or(""));
          return lines.size() == 12 && lines[5] == "0 5 10 0.0";
        },
        5s))
        << testing::PrintToString(lines);
    for (size_t i = 0; i < lines.size(); ++i) {
      if (i != 5) {
        EXPECT_EQ(lines[i], kPlotterDefaultRow) << "line " << i + 1;
      }
    }
    ASSERT_TRUE(keys.tapTo(1, "spectrum-settings")) << run.log();
    ASSERT_TRUE(keys.tapTo(1, "menu")) << run.log();
    ASSERT_TRUE(keys.tapTo(1, "main")) << run.log();
    // The grid now runs from -50 to +50 dBm: the carrier 20 % up.
    const PlotRow edited{0, 5, 10};
    const double y = levelY(kNoWaterfall, edited, -30);
    Trace t;
    EXPECT_TRUE(waitUntil(
        [&] {
          t = traceOf(Frame::read(fb), kNoWaterfall);
          return std::abs(t.peakY - y) <= 2.0;
        },
        10s))
        << "expected the peak at y " << y << ": " << t.describe();
    EXPECT_NEAR(t.peakX, pointX(carrierPoint(-25'000)), 2.0) << t.describe();
  }
  if (HasFatalFailure()) return;

  // The restart: the waterfall below the plot, the newest line at its bottom row.
  run.stop();
  run.writeFile(
      "/opt/set/setup.txt",
      withValues(goldenSetup(),
                 {{"ViewType", "4"}, {"WTenable", "1"}, {"WTposition", "0"}, {"WTscroll", "0"}}));
  run.writeFile("/opt/set/plotter.txt", plotterFile());
  const size_t restarted = run.logSize();
  ASSERT_TRUE(run.start());
  ASSERT_TRUE(waitStarted(run, restarted)) << run.logFrom(restarted);
  {
    SCOPED_TRACE("the waterfall below the plot");
    checkPlot(fb, kWaterfallBelow, -25'000, {});
    checkWaterfall(fb, kWaterfallBelow, -25'000);
  }
  {
    SCOPED_TRACE("the menu: the waterfall on top (item 19), scrolling down (item 20)");
    ASSERT_TRUE(keys.tapTo(5, "menu")) << run.logFrom(restarted);
    ASSERT_TRUE(keys.taps(4, 19));
    ASSERT_TRUE(keys.tapTo(6, "menu-edit")) << run.logFrom(restarted);
    ASSERT_TRUE(keys.tap(5));
    ASSERT_TRUE(keys.tapTo(6, "menu")) << run.logFrom(restarted);
    ASSERT_TRUE(keys.tap(4));
    ASSERT_TRUE(keys.tapTo(6, "menu-edit")) << run.logFrom(restarted);
    ASSERT_TRUE(keys.tap(5));
    ASSERT_TRUE(keys.tapTo(6, "menu")) << run.logFrom(restarted);
    ASSERT_TRUE(keys.tapTo(1, "main")) << run.logFrom(restarted);
    EXPECT_TRUE(waitUntil(
        [&] {
          return rootSetting(run.root(), "WTposition") == "1" &&
                 rootSetting(run.root(), "WTscroll") == "1";
        },
        5s))
        << rootSetting(run.root(), "WTposition").value_or("(none)") << " "
        << rootSetting(run.root(), "WTscroll").value_or("(none)");
    sim.setCarrier(+40'000);
    checkPlot(fb, kWaterfallOnTop, 40'000, {});
    checkWaterfall(fb, kWaterfallOnTop, 40'000);
  }
}

}  // namespace
}  // namespace corvid::bench::test
