// Display-loop figures: the cost of one cycle of the loop (everything but the frame
// delay) for each meter view, the transmit view, the switch into and out of it, and the
// screensaver; and the once-a-second work (board temperatures, date) apart, since a
// cycle pays it only once in 25. Not a test: run corvid-display-benchmark and read the
// numbers.
//
// The cycle draws into an in-memory 800 x 480 x 32 frame with the panel fonts and the
// pictures the build makes; frameDelay is 0 and every platform sleep returns at once.
// The board temperatures come from a "my_temp" script in a temporary root, as on the
// bench.
//
// The screens: the overlay of one cycle (the background copied into the back buffer
// and LoadButtons on top) for every screen and page of tests/unit/screen_scenes.h, with
// and without the glyph cache, measured in the same run as one full-frame copy
// (fbSetBack, 800 x 480 x 4 bytes). A table at the end gives each screen's cost in
// frame copies; the program fails when a screen costs more than 20.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/settings.h"
#include "core/works.h"
#include "gfx/framebuffer.h"
#include "gfx/text.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "tests/unit/screen_scenes.h"
#include "tests/unit/test_support.h"
#include "ui/display.h"
#include "ui/screens.h"

namespace {

using namespace corvid;

// Fonts, pictures and the quiet log: once for the whole program.
void prepareOnce() {
  static const bool prepared = [] {
    // The panel's fonts are read from the host, before the temporary root exists.
    loadPanelFonts();
    if (::chdir(CORVID_PICTURES_DIR) != 0) std::perror(CORVID_PICTURES_DIR);
    platform::setLogSink([](platform::LogLevel, std::string_view) {});
    platform::setSleepHook([](std::chrono::milliseconds) {});
    return true;
  }();
  benchmark::DoNotOptimize(prepared);
}

// A controller's record as the display loop sees it after the start-up: default
// settings, a frame, moderate readings, no recent activity that ends a screensaver.
struct Panel {
  Panel() {
    prepareOnce();
    root.addProgram("my_temp", "echo 48.3\necho \"temp=47.2'C\"\n");
    initSetup(w());
    w().gfx.fb = makeMemoryFrameBuffer(800, 480, 32);
    w().ui.frameDelay = 0;
    w().core.lastActivity = static_cast<int64_t>(std::time(nullptr));
    w().amp.pwrFwd = 42.0f;
    w().amp.fwdPeak = 45.0f;
    w().amp.pwrRefl = 1.5f;
    w().amp.swr = 1.45f;
    w().amp.pwrIn = 6.0f;
    w().core.unitName.set("BENCH-UNIT");
  }
  Works& w() { return *works; }

  testing::TempRoot root;
  std::unique_ptr<Works> works = std::make_unique<Works>();
  DisplayLoop loop;
};

// A few cycles before timing: the first one loads the view's picture and runs the
// frequency follow-up once.
void warmUp(Panel& panel) {
  for (int i = 0; i < 5; ++i) displayCycle(panel.w(), panel.loop);
}

void BM_meterView(benchmark::State& state) {
  Panel panel;
  panel.w().set.ViewType = static_cast<int>(state.range(0));
  panel.w().set.ViewTX = 0;
  warmUp(panel);
  for (auto _ : state) {
    displayCycle(panel.w(), panel.loop);
    benchmark::ClobberMemory();
  }
  static constexpr const char* kRight[] = {"reflected", "reflected", "SWR", "input power"};
  state.SetLabel(std::string("forward + ") + kRight[state.range(0)]);
}
BENCHMARK(BM_meterView)->DenseRange(0, 3)->Unit(benchmark::kMicrosecond);

// The spectrum views over the band of the screenshot scenes: view 4 with the waterfall
// below, without it, and view 5 with it. Each cycle scrolls the waterfall and draws the
// 853 segments of the trace.
void BM_spectrumView(benchmark::State& state) {
  Panel panel;
  const int view = static_cast<int>(state.range(0));
  const bool waterfall = state.range(1) != 0;
  panel.w().set.ViewType = view;
  panel.w().set.ViewTX = 0;
  panel.w().set.waterfallFlags = waterfall ? kWaterfallEnable : 0;
  panel.w().set.WTscroll = 1;
  panel.w().spectrum.divY = 10;
  SetWorkImg(panel.w());
  for (size_t i = 0; i < kSpectrumPoints; ++i) {
    panel.w().trx.pexLevels[i] = testing::bandLevel(static_cast<int>(i), 7);
  }
  warmUp(panel);
  if (waterfall && panel.w().spectrum.vectWaterfall == nullptr) {
    state.SkipWithError("no waterfall");
  }
  for (auto _ : state) {
    displayCycle(panel.w(), panel.loop);
    benchmark::ClobberMemory();
  }
  state.SetLabel(std::string(view == 4 ? "160 kHz" : "80 kHz") + (waterfall ? " + waterfall" : ""));
}
BENCHMARK(BM_spectrumView)->Args({4, 1})->Args({4, 0})->Args({5, 1})->Unit(benchmark::kMicrosecond);

// Transmitting with ViewTX 2 from view 1: the SWR view, activity marked every cycle.
void BM_transmitView(benchmark::State& state) {
  Panel panel;
  panel.w().set.ViewType = 1;
  panel.w().set.ViewTX = 2;
  panel.w().amp.statusB = 0x01;
  warmUp(panel);
  if (panel.w().set.ViewType.load() != 2) state.SkipWithError("the transmit view did not show");
  for (auto _ : state) {
    displayCycle(panel.w(), panel.loop);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_transmitView)->Unit(benchmark::kMicrosecond);

// Keyed and unkeyed on alternate cycles: every cycle switches the view and loads its
// picture, the worst a cycle does in normal operation.
void BM_transmitViewSwitch(benchmark::State& state) {
  Panel panel;
  panel.w().set.ViewType = 1;
  panel.w().set.ViewTX = 2;
  warmUp(panel);
  uint8_t keyed = 0;
  for (auto _ : state) {
    keyed ^= 1;
    panel.w().amp.statusB = keyed;
    displayCycle(panel.w(), panel.loop);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_transmitViewSwitch)->Unit(benchmark::kMicrosecond);

void BM_screensaver(benchmark::State& state) {
  Panel panel;
  panel.w().set.SaveScreenIdx = 5;  // one minute, long gone
  panel.w().core.lastActivity = static_cast<int64_t>(std::time(nullptr)) - 3600;
  warmUp(panel);
  // The first cycle's follow-up marked activity; the saver now starts at the next one.
  panel.w().core.lastActivity = static_cast<int64_t>(std::time(nullptr)) - 3600;
  displayCycle(panel.w(), panel.loop);
  if (panel.w().ui.screenSaverOn.load() != 1) state.SkipWithError("the screensaver did not start");
  for (auto _ : state) {
    displayCycle(panel.w(), panel.loop);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_screensaver)->Unit(benchmark::kMicrosecond);

// What a cycle adds once a second while the screensaver is off: the board temperatures
// through "my_temp" and the date line.
void BM_onceASecond(benchmark::State& state) {
  Panel panel;
  for (auto _ : state) {
    ReadCPUTemp(panel.w());
    ReadDataOra(panel.w());
  }
  if (panel.w().amp.cpuTemp.load() != 48.3f) state.SkipWithError("my_temp was not read");
}
BENCHMARK(BM_onceASecond)->Unit(benchmark::kMicrosecond);

// ---- the screens ----

// The budget of one screen's overlay, in full-frame copies.
constexpr double kOverlayBudget = 20;

void BM_frameCopy(benchmark::State& state) {
  prepareOnce();
  auto works = testing::baseWorks();
  for (auto _ : state) {
    fbSetBack(works->gfx.fb.get());
    benchmark::ClobberMemory();
  }
}

void BM_overlay(benchmark::State& state, const testing::Scene& scene, GlyphCache cache) {
  prepareOnce();
  auto works = testing::baseWorks();
  scene.prepare(*works);
  setGlyphCache(cache);
  testing::drawOverlay(*works);  // the glyphs of the screen are rendered once
  for (auto _ : state) {
    testing::drawOverlay(*works);
    benchmark::ClobberMemory();
  }
  setGlyphCache(GlyphCache::On);
}

// Prints the usual lines and keeps the times of the frame copy and the overlays.
class ScreenTable : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred || run.run_type != Run::RT_Iteration) continue;
      times_[run.run_name.function_name] = run.GetAdjustedRealTime();  // µs
      cycles_[run.benchmark_name()] = run.GetAdjustedRealTime();
    }
  }
  // The table; false when a screen is over budget or a figure is missing.
  bool print(const std::vector<testing::Scene>& scenes) const {
    const bool anyScreen = std::any_of(times_.begin(), times_.end(), [](const auto& t) {
      return t.first.rfind("overlay/", 0) == 0;
    });
    if (!anyScreen) return true;  // filtered out: nothing to tell
    const auto copy = times_.find("frame-copy");
    if (copy == times_.end() || copy->second <= 0) return false;
    std::printf("\nOne full-frame copy (fbSetBack, 800x480x4): %.1f us\n", copy->second);
    // Whole display cycles of the meter and spectrum views, in the same unit.
    for (const auto& [name, time] : cycles_) {
      if (name.rfind("BM_meterView", 0) != 0 && name.rfind("BM_spectrumView", 0) != 0) continue;
      std::printf("%-28s %10.1f us/cycle %8.2f copies\n", name.c_str(), time, time / copy->second);
    }
    std::printf("%-20s %12s %8s %16s %8s\n", "screen", "us/cycle", "copies", "us/cycle nocache",
                "copies");
    bool ok = true;
    for (const testing::Scene& scene : scenes) {
      const auto on = times_.find("overlay/" + scene.name);
      const auto off = times_.find("overlay-nocache/" + scene.name);
      if (on == times_.end()) continue;  // filtered out
      const double ratio = on->second / copy->second;
      const double offTime = off == times_.end() ? 0 : off->second;
      std::printf("%-20s %12.1f %8.2f %16.1f %8.2f%s\n", scene.name.c_str(), on->second, ratio,
                  offTime, offTime / copy->second, ratio > kOverlayBudget ? "  OVER BUDGET" : "");
      if (ratio > kOverlayBudget) ok = false;
    }
    return ok;
  }

 private:
  std::map<std::string, double> times_;
  std::map<std::string, double> cycles_;  // by the full name, arguments included
};

}  // namespace

int main(int argc, char** argv) {
  const std::vector<testing::Scene> scenes = testing::screenScenes();
  benchmark::RegisterBenchmark("frame-copy", BM_frameCopy)->Unit(benchmark::kMicrosecond);
  for (const testing::Scene& scene : scenes) {
    benchmark::RegisterBenchmark(("overlay/" + scene.name).c_str(), BM_overlay, scene,
                                 GlyphCache::On)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark(("overlay-nocache/" + scene.name).c_str(), BM_overlay, scene,
                                 GlyphCache::Off)
        ->Unit(benchmark::kMicrosecond);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  ScreenTable table;
  benchmark::RunSpecifiedBenchmarks(&table);
  benchmark::Shutdown();
  const bool ok = table.print(scenes);
  if (!ok) std::printf("a screen is over budget or was not measured\n");
  return ok ? 0 : 1;
}
